#pragma once

#include <QByteArray>
#include <QImage>

namespace qmt {

// A bitmap found inside a metafile record, ready to draw. GDI counts the source rectangle of a
// bottom-up bitmap from its lower-left corner, so the drawing code needs to know the row order.
struct MetafileBitmap {
    QImage image;
    bool bottomUp = true;
};

// Decodes the device-independent bitmaps that metafiles embed. `info` is the BITMAPINFO (header,
// masks and colour table), `bits` the rows; `usage` 1 means the colour table holds palette
// indexes, which have no meaning outside the device that recorded them and become a grey ramp.
// Every field is checked against the bytes given; a null image means the bitmap is unusable.
// `keepAlpha` keeps the fourth byte of 32-bit rows as alpha (alpha-blended records only).
MetafileBitmap decodeMetafileDib(const uchar *info, qint64 infoSize, const uchar *bits,
                                 qint64 bitsSize, quint32 usage, bool keepAlpha = false);

// The same for a packed bitmap (header, colour table and rows in one block), as WMF records
// carry them.
MetafileBitmap decodePackedMetafileDib(const uchar *data, qint64 size, quint32 usage);

// The largest bitmap a metafile record may unpack to. Records are small; a header that claims
// more than this from a few bytes of run-length data is refused instead of allocated.
constexpr qint64 kMaxMetafileBitmapPixels = 64'000'000;

} // namespace qmt
