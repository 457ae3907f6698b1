#pragma once

#include "components/engine/imageio.h"

#include <QByteArray>

class QIODevice;

namespace qmt {

// Kodak Photo CD image packs. The three uncompressed resolutions are read: Base (768 x 512),
// Base/4 (384 x 256) and Base/16 (192 x 128); the larger ones (4Base, 16Base) are Huffman-coded
// residuals and are not read. Pages: Base first, then Base/4 and Base/16, each turned by the
// orientation the pack records. A file cut short keeps the resolutions it still holds whole.
// For the first page at a reduced size (thumbnails), the smallest stored resolution that still
// covers the requested box is returned instead of Base.
//
// Layout (2048-byte sectors): sector 1 starts "PCD_IPI"; byte 0x0E02 holds the orientation in
// its two low bits (0 upright, 1 turned a quarter counter-clockwise, 2 upside down, 3 a quarter
// clockwise). Base/16 starts at sector 4, Base/4 at sector 23, Base at sector 96. Each image is
// stored by pairs of rows: two rows of luma, then one row each of the two chroma channels at half
// the width (chroma is shared by each 2 x 2 block). Colours are Kodak PhotoYCC.
class PcdHandler
{
public:
    static bool canRead(QIODevice *device);
    static Result<DecodedImage> read(QIODevice *device, const ReadOptions &options);

    static bool canRead(const QByteArray &head);
    static Result<DecodedImage> decode(const QByteArray &data, const ReadOptions &options);

    // Where each resolution starts, and the bytes a file needs to hold it whole.
    static constexpr qint64 kSector = 2048;
    static constexpr qint64 kBase16Offset = 4 * kSector;
    static constexpr qint64 kBase4Offset = 23 * kSector;
    static constexpr qint64 kBaseOffset = 96 * kSector;
    static constexpr qint64 kOrientationOffset = 0x0E02;
    static constexpr qint64 kBaseEnd = kBaseOffset + 768 * 512 * 3 / 2;
};

} // namespace qmt
