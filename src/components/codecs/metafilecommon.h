#pragma once

#include "components/engine/imageio.h"

#include <QByteArray>
#include <QSize>

class QIODevice;

namespace qmt {

// Limits shared by the WMF and EMF readers. A metafile is a list of drawing calls: its picture
// can be drawn at any size, so the size is capped instead of refused, and playback stops after
// a fixed number of records so that a file of millions of tiny records cannot hang the viewer.
constexpr qint64 kMaxMetafileBytes = qint64(256) << 20;
constexpr int kMaxMetafileRecords = 2'000'000;
// Points one drawing record may give (64 MB once read); a record with more is drawn with its
// first ones.
constexpr qint64 kMaxRecordPoints = qint64(1) << 22;
constexpr int kMaxMetafileSide = 8192;
constexpr qint64 kMaxMetafilePixels = 40'000'000;
// A metafile without a size of its own (no placeable header, no window extent) that would be
// larger than this is shown at this size.
constexpr int kMaxUnsizedMetafileSide = 2048;

// The whole file, or an empty array and a reason.
QByteArray readMetafileBytes(QIODevice *device, QString *error);

// Takes from the decode's budget what playing the metafile on `device` may hold, before it is
// read: the file (twice while it is read in), the canvas for the size asked for, and the work
// the record limits allow: an open path at its cap (while it grows, twice over), the points
// a fill flattens it into, and one record's points at their cap, as points and as a path.
void reserveMetafilePlayback(QIODevice *device, const ReadOptions &options);

// The pixel size a picture of `natural` pixels is drawn at: fitted into `options.targetSize`
// when one is asked for (never enlarged), then kept inside the caps above with its aspect ratio.
QSize metafileRenderSize(QSizeF natural, const ReadOptions &options);

} // namespace qmt
