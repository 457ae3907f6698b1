#pragma once

#include "components/engine/formatcodes.h"
#include "components/result.h"

#include <QImage>
#include <QList>
#include <QSize>

class QIODevice;

namespace qmt {

// The largest image the engine accepts. Camera photos and panoramas of a few hundred megapixels
// open; a header that claims more is refused before anything is allocated.
constexpr qint64 kMaxImagePixels = 400'000'000;
constexpr int kMaxImageSide = 200'000;
// Qt's own readers refuse allocations above this many megabytes.
constexpr int kAllocationLimitMb = 2048;

struct ReadOptions {
    // When valid, the reader may decode at a reduced size no smaller than this box (the JPEG
    // decoder scales by 1/2, 1/4 or 1/8 while decoding). The result is not scaled further.
    QSize targetSize;
    // Only the first page (thumbnails, previews that need one page).
    bool firstPageOnly = false;
};

struct DecodedImage {
    QList<QImage> pages;
    int formatCode = FormatUnknown;
    int bitsPerPixel = 0;    // of the file's first page as stored
    QSize fullSize;          // of the first page before any reduction
};

// Reads every page of an image file. Failures carry a description fit for the status bar.
Result<DecodedImage> readImageFile(const QString &path, const ReadOptions &options = {});
Result<DecodedImage> readImageDevice(QIODevice *device, const QString &nameHint,
                                     const ReadOptions &options = {});

// Writes the pages (one for most formats) with one of the ten save format codes.
Status writeImageFile(const QList<QImage> &pages, const QString &path, int formatCode);
Status writeImageDevice(const QList<QImage> &pages, QIODevice *device, int formatCode);

// Sets Qt's reader limits once for the process; called by every read.
void applyReaderLimits();

} // namespace qmt
