#pragma once

#include "components/codecs/codechandler.h"

#include <QSize>
#include <QVariant>

namespace qmt {

// Adobe Photoshop documents (PSD, and PSB for large documents): reads the merged image in
// bitmap, grey, indexed, RGB, CMYK, duotone and multichannel modes, 1, 8 and 16 bit, raw or
// run-length; layers are skipped. Rows are decoded one at a time straight into the picture, and
// a reduced picture (the ScaledSize option: a box it must still cover) is made while decoding.
// Writes 8-bit RGB, with alpha when the image has it, run-length.
class PsdHandler : public CodecHandler
{
public:
    bool read(QImage *image) override;
    bool write(const QImage &image) override;
    // Size: the document's own size, once decoded.
    bool supportsOption(ImageOption option) const override
    {
        return option == ScaledSize || option == Size;
    }
    void setOption(ImageOption option, const QVariant &value) override
    {
        if (option == ScaledSize)
            m_scaledSize = value.toSize();
    }
    QVariant option(ImageOption option) const override
    {
        return option == Size ? QVariant(m_documentSize) : QVariant();
    }

    static bool canRead(QIODevice *device);
    static Status writePages(const QList<QImage> &pages, QIODevice *device);

    bool decode(const QByteArray &data, QImage *image);

private:
    QSize m_scaledSize;
    QSize m_documentSize;
};

} // namespace qmt
