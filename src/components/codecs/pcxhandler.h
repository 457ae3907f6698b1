#pragma once

#include "components/codecs/codechandler.h"

namespace qmt {

// ZSoft PCX: reads 1, 2, 4 and 8 bit files with their palettes, planar EGA (1 bit in 2-4
// planes) and 24/32 bit in planes, run-length or raw; writes run-length 1 bit (mono images),
// 8 bit with a palette (indexed and grey images) or 24 bit in three planes.
class PcxHandler : public CodecHandler
{
public:
    bool read(QImage *image) override;
    bool write(const QImage &image) override;

    static bool canRead(QIODevice *device);
    static Status writePages(const QList<QImage> &pages, QIODevice *device);

    bool decode(const QByteArray &data, QImage *image);
};

} // namespace qmt
