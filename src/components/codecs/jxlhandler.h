#pragma once

#include "components/engine/imageio.h"

#include <QByteArray>

class QIODevice;

namespace qmt {

// JPEG XL through libjxl: lossy and lossless, 8 to 16 bits and float shown at 8, grey, with
// alpha, still or animated (frames composed by the decoder, each a page with its duration),
// the codestream's orientation applied, colour converted to sRGB. The header's size is checked
// against the engine's limits before any pixel is decoded. A thumbnail of a lossy picture stops
// at its 1:8 preview pass when that is still large enough.
class JxlHandler
{
public:
    static Result<DecodedImage> read(QIODevice *device, const ReadOptions &options);
    static Result<DecodedImage> decode(const QByteArray &data, const ReadOptions &options);
};

} // namespace qmt
