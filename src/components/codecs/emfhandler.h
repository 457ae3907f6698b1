#pragma once

#include "components/engine/imageio.h"

#include <QByteArray>
#include <QImage>

class QIODevice;

namespace qmt {

// Enhanced metafiles (EMF). Reading plays the records onto an image with MetafilePainter at the
// size of the header's frame (hundredths of a millimetre, shown at 96 dots per inch). Writing
// stores the image as one 24-bit EMR_STRETCHDIBITS record between the header and the end record.
// Record layouts: Microsoft's [MS-EMF] document. EMF+ records in comments are skipped; the
// plain records that such files carry as well are drawn instead.
class EmfHandler
{
public:
    static bool canRead(QIODevice *device);
    static Result<DecodedImage> read(QIODevice *device, const ReadOptions &options);
    static Status writePages(const QList<QImage> &pages, QIODevice *device);

    static bool canRead(const QByteArray &head);
    // `fullSize` receives the size without any reduction asked for in `options`.
    static Result<QImage> render(const QByteArray &data, const ReadOptions &options = {},
                                 QSize *fullSize = nullptr);
    static Result<QByteArray> encode(const QImage &image);
};

} // namespace qmt
