#pragma once

#include "components/engine/imageio.h"

class QIODevice;

namespace qmt {

// GIF files are decoded by Qt's reader, every frame a page, transparency kept. Before that the
// block structure is walked here, which also counts the frames: a frame whose LZW code size is
// above 11 (codes would need more than the format's 12 bits) is refused, as Qt's reader accepts
// it and decodes garbage. Only the frame asked for is kept; the ones before it are decoded one
// at a time (each frame is drawn over the one before) and dropped.
class GifGuard
{
public:
    static bool canRead(QIODevice *device);
    static Result<DecodedImage> read(QIODevice *device, const ReadOptions &options);

    // The reason the data cannot be a sound GIF, or empty; `frames` receives the number of
    // frames. A file cut short is not refused here: the frames before the cut are still shown.
    static QString check(const QByteArray &data, int *frames = nullptr);
};

} // namespace qmt
