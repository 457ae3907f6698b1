#pragma once

#include <QImage>

namespace qmt {

// The EXIF orientation (1..8) of a TIFF-structured EXIF block, or 1 when it has none or the block
// is damaged. The block may start with the TIFF header itself, with the "Exif\0\0" marker that
// JPEG and WebP files put before it, or with the four-byte header offset of HEIF and AVIF files.
// Every offset is checked against the block.
int exifOrientation(const uchar *data, qsizetype length);

// The picture turned upright according to an EXIF orientation (1..8; others leave it as it is).
QImage orientImage(const QImage &image, int orientation);

// Whether an orientation swaps width and height (5 to 8).
inline bool orientationTransposes(int orientation)
{
    return orientation >= 5 && orientation <= 8;
}

} // namespace qmt
