#pragma once

#include "components/engine/imageio.h"

#include <QByteArray>

class QIODevice;

namespace qmt {

// HEIF and HEIC (HEVC-coded pictures in the HEIF container) through libheif: the primary
// picture of the file, 8 to 12 bits shown at 8, grey, with alpha, cropped, rotated and mirrored
// as its properties say (the EXIF orientation only when it has none of these), its ICC or nclx
// colour converted to sRGB. For a thumbnail the file's own thumbnail picture is taken when it
// is large enough. Sizes are checked against the engine's limits before decoding.
class HeifHandler
{
public:
    static Result<DecodedImage> read(QIODevice *device, const ReadOptions &options);
    static Result<DecodedImage> decode(const QByteArray &data, const ReadOptions &options);
};

} // namespace qmt
