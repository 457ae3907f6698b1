#pragma once

#include "components/engine/imageio.h"

#include <QThread>

namespace qmt {

// The frames of one animation together may hold no more decoded pixels than the largest
// picture the engine accepts, and no more than kMaxFrames of them: a file that claims more
// shows the frames that fit.
class PageBudget
{
public:
    static constexpr int kMaxFrames = 10'000;

    // Takes room for one more page; false when it would go over either limit.
    bool take(qint64 width, qint64 height)
    {
        if (m_frames >= kMaxFrames || width <= 0 || height <= 0 ||
            width * height > kMaxImagePixels - m_pixels)
            return false;
        m_pixels += width * height;
        ++m_frames;
        return true;
    }

private:
    qint64 m_pixels = 0;
    int m_frames = 0;
};

// Decoder threads for one picture: a picture for the viewer gets every core; thumbnails, which
// decode side by side on every core already, get one each.
inline int decoderThreads(const ReadOptions &options)
{
    return options.targetSize.isValid() ? 1 : qBound(1, QThread::idealThreadCount(), 8);
}

// The size a picture of `full` needs to be decoded at to fill `target` when fitted into it (at
// least as wide or as high as the box, the aspect kept); `full` itself when the target is
// invalid or not smaller.
inline QSize reducedSize(const QSize &full, const QSize &target)
{
    if (!target.isValid() || target.isEmpty() || full.isEmpty())
        return full;
    const double scale =
        qMin(double(target.width()) / full.width(), double(target.height()) / full.height());
    if (scale >= 1.0)
        return full;
    return QSize(qMax(1, int(full.width() * scale + 0.999)),
                 qMax(1, int(full.height() * scale + 0.999)));
}

} // namespace qmt
