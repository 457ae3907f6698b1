#pragma once

#include "components/codecs/codechandler.h"

#include <QSize>

#include <functional>

namespace qmt {

// JPEG decoding straight through libjpeg-turbo: baseline and progressive, grey, RGB and CMYK
// (Adobe's inverted CMYK too), scaled by 1/2, 1/4 or 1/8 inside the decoder when a smaller
// size is enough, the EXIF orientation applied and an embedded ICC profile converted to sRGB.
// Writing goes through Qt's writer.
class JpegHandler : public CodecHandler
{
public:
    bool read(QImage *image) override;
    bool write(const QImage &) override { return false; }

    static bool canRead(QIODevice *device);
    static Result<DecodedImage> readFile(QIODevice *device, const ReadOptions &options);

    // The box to decode to: when valid, the largest libjpeg scale whose result still covers it.
    void setTargetSize(const QSize &size) { m_target = size; }
    // Without a target size: asked for the box once the full (upright) size is known.
    void setTargetRule(std::function<QSize(const QSize &)> rule) { m_targetRule = std::move(rule); }
    // Whether the EXIF orientation of the data turns the result (the default). A preview kept
    // inside another JPEG follows the orientation of the photo that holds it instead.
    void setApplyOrientation(bool apply) { m_applyOrientation = apply; }
    // The full size of the last decoded file, upright (before any scaling).
    QSize fullSize() const { return m_fullSize; }

    bool decode(const QByteArray &data, QImage *image);

private:
    bool decodeDevice(QIODevice *device, QImage *image);

    QSize m_target;
    std::function<QSize(const QSize &)> m_targetRule;
    QSize m_fullSize;
    bool m_applyOrientation = true;
};

} // namespace qmt
