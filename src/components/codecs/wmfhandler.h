#pragma once

#include "components/engine/imageio.h"

#include <QByteArray>
#include <QImage>

class QIODevice;

namespace qmt {

// Windows metafiles (WMF), with or without the placeable header. Reading plays the records onto
// an image with MetafilePainter at the picture's own size: the placeable header's box at its
// units per inch, shown at 96 dots per inch; a file without that header is sized by its window
// extent (at most kMaxUnsizedMetafileSide pixels a side). Writing stores the image as one
// 24-bit bitmap record inside a placeable metafile sized at 96 dots per inch.
// Record layouts: Microsoft's [MS-WMF] document.
class WmfHandler
{
public:
    static bool canRead(QIODevice *device);
    static Result<DecodedImage> read(QIODevice *device, const ReadOptions &options);
    static Status writePages(const QList<QImage> &pages, QIODevice *device);

    // The same steps on bytes in memory.
    static bool canRead(const QByteArray &head);
    // `fullSize` receives the size without any reduction asked for in `options`.
    static Result<QImage> render(const QByteArray &data, const ReadOptions &options = {},
                                 QSize *fullSize = nullptr);
    static Result<QByteArray> encode(const QImage &image);
};

} // namespace qmt
