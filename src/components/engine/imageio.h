#pragma once

#include "components/engine/formatcodes.h"
#include "components/result.h"

#include <QImage>
#include <QList>
#include <QSize>

#include <functional>

class QIODevice;

namespace qmt {

// The largest image the engine accepts, for every reader (Qt's and our own). 2^28 pixels
// (268 megapixels: a 100-megapixel camera photo or a 30000 x 8000 stitched panorama) take 1 GiB
// at 4 bytes a pixel, which a desktop can still hold together with a scaled copy for display.
// A header that claims more, such as 100000 x 100000, is refused before anything is allocated.
constexpr qint64 kMaxImagePixels = qint64(1) << 28;
// No side may exceed this, whatever the other side: the longest panoramas stay well below it.
constexpr int kMaxImageSide = 131'072;
// Qt's readers refuse allocations above this many megabytes: the largest image above decoded at
// 8 bytes a pixel (16 bits per channel with alpha), so the pixel cap is the one that decides.
constexpr int kAllocationLimitMb = int((kMaxImagePixels * 8) >> 20);

struct ReadOptions {
    // When valid, the reader may decode at a reduced size that still fills this box when fitted
    // into it: at least as wide as the box or as high, the aspect kept (the JPEG decoder scales
    // by 1/2, 1/4 or 1/8 while decoding). The result is not scaled further.
    QSize targetSize;
    // The page count is not needed (thumbnails, previews): readers may leave it uncounted.
    bool firstPageOnly = false;
    // Asked for the box once the reader knows the picture's full (upright) size, when targetSize
    // is not set: a valid answer acts as targetSize. Lets a caller reduce only pictures much
    // larger than where they will be shown. Readers that cannot scale while decoding ignore it.
    std::function<QSize(const QSize &fullSize)> targetForFullSize = nullptr;
    // The page to decode, from 0. One page is decoded at a time, whatever the file holds: a
    // multi-page file is read page by page as its pages are shown.
    int page = 0;
};

struct DecodedImage {
    // The page asked for (ReadOptions::page). Readers may hand back more; the engine keeps the
    // one asked for, or every frame of an animation the reader composed (frameDelays) when its
    // first is asked for without firstPageOnly: those frames are composed one from the other,
    // and the reader holds all of them within kMaxImagePixels.
    QList<QImage> pages;
    int formatCode = FormatUnknown;
    int bitsPerPixel = 0; // of the file's first page as stored
    QSize fullSize;       // of the page decoded, before any reduction
    // The pages the file holds; 0 when they were not counted: then `pages` are all of them.
    int pageCount = 0;
    // For animations the reader composes itself (WebP, AVIF, JPEG XL): how long each page is
    // shown, in milliseconds, one entry a page. Empty for still pictures and multi-page files.
    QList<int> frameDelays;
};

// Reads one page of an image file (ReadOptions::page) and counts the others. Failures carry a
// description fit for the status bar.
Result<DecodedImage> readImageFile(const QString &path, const ReadOptions &options = {});
Result<DecodedImage> readImageDevice(QIODevice *device, const QString &nameHint,
                                     const ReadOptions &options = {});

// Writes the pages (one for most formats) with one of the ten save format codes.
Status writeImageFile(const QList<QImage> &pages, const QString &path, int formatCode);
Status writeImageDevice(const QList<QImage> &pages, QIODevice *device, int formatCode);

// Sets Qt's reader limits once for the process; called by every read.
void applyReaderLimits();

} // namespace qmt
