#pragma once

#include "components/codecs/codechandler.h"

namespace qmt {

// Windows and OS/2 bitmaps, with the 14-byte file header (.bmp, most .dib) or without it
// (.dib straight from the clipboard): 1, 4, 8, 16, 24 and 32 bit, bit fields, RLE4 and RLE8,
// bottom-up and top-down. 16-bit and bit-field colours are scaled to the full 0..255 range.
class BmpHandler : public CodecHandler
{
public:
    bool read(QImage *image) override;
    bool write(const QImage &) override { return false; }

    // A file that starts with "BM" and a plausible header.
    static bool canRead(QIODevice *device);
    // A bare bitmap header (no "BM" file header) with plausible fields.
    static bool canReadHeaderless(QIODevice *device);

    bool decode(const QByteArray &data, QImage *image);
};

} // namespace qmt
