#pragma once

#include "components/engine/imageio.h"

#include <QByteArray>

class QIODevice;

namespace qmt {

// WebP through libwebp: lossy and lossless, with or without alpha, still or animated (every
// frame composed on the canvas as it is shown, each a page with its delay). The size is
// checked against the engine's limits from the header before anything is decoded; thumbnails
// are scaled inside the decoder. An embedded ICC profile is converted to sRGB and the EXIF
// orientation applied. A still picture cut short shows the rows that arrived.
class WebpHandler
{
public:
    static Result<DecodedImage> read(QIODevice *device, const ReadOptions &options);
    static Result<DecodedImage> decode(const QByteArray &data, const ReadOptions &options);
};

} // namespace qmt
