#pragma once

#include "components/codecs/codechandler.h"

namespace qmt {

// Adobe Photoshop documents (PSD, and PSB for large documents): reads the merged image in
// bitmap, grey, indexed, RGB, CMYK, duotone and multichannel modes, 1, 8 and 16 bit, raw or
// run-length; layers are skipped. Writes 8-bit RGB, with alpha when the image has it, run-length.
class PsdHandler : public CodecHandler
{
public:
    bool read(QImage *image) override;
    bool write(const QImage &image) override;

    static bool canRead(QIODevice *device);
    static Status writePages(const QList<QImage> &pages, QIODevice *device);

    bool decode(const QByteArray &data, QImage *image);
};

} // namespace qmt
