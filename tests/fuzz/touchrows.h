#pragma once

// Shared by the decoder fuzzers: reading the last byte of every row of a decoded picture makes a
// wrong row length or a short pixel buffer show up under the address sanitizer at once, in the
// target that decoded it.

#include <QImage>

namespace qmt::fuzz {

inline void touchEveryRow(const QImage &image)
{
    volatile uint sum = 0;
    for (int y = 0; y < image.height(); ++y)
        sum = sum + image.constScanLine(y)[image.bytesPerLine() - 1];
}

} // namespace qmt::fuzz
