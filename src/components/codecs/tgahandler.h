#pragma once

#include "components/codecs/codechandler.h"

namespace qmt {

// Truevision TGA: reads uncompressed and run-length files, colour-mapped, grey, 15/16, 24 and
// 32 bit, with either origin; writes uncompressed 24 bit, or 32 bit when the image has alpha.
class TgaHandler : public CodecHandler
{
public:
    bool read(QImage *image) override;
    bool write(const QImage &image) override;

    // TGA has no magic number: the whole header is checked for plausibility.
    static bool canRead(QIODevice *device);
    static Status writePages(const QList<QImage> &pages, QIODevice *device);

    // Decodes a whole file held in memory (the fuzz target's entry too).
    bool decode(const QByteArray &data, QImage *image);
};

} // namespace qmt
