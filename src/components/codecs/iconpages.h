#pragma once

#include "components/engine/imageio.h"

#include <QByteArray>
#include <QList>
#include <QSize>

class QIODevice;

namespace qmt {

// Icon and cursor files hold one picture per size. Each becomes a page, the largest first (the
// one a viewer shows); pictures of the same size keep the file's order. The sizes come from the
// directory and the headers its entries point at (a PNG's IHDR, a bitmap's info header), so a
// page is decoded only when it is asked for: a thumbnail decodes the largest entry alone. Qt's
// ico plugin decodes the entry.
Result<DecodedImage> readIconPages(QIODevice *device, const QByteArray &format,
                                   const ReadOptions &options);

// One entry of an icon directory as the pages see it.
struct IconEntry {
    int index = 0;    // in the directory
    QSize size;       // of the picture the entry points at
    qint64 bytes = 0; // the entry's data, as far as the file holds it
};

// The entries whose pictures can be pages, largest first, equal sizes in the file's order.
// Entries that point outside the file or claim a size beyond the engine's limits are left out.
QList<IconEntry> iconPageOrder(QIODevice *device);

} // namespace qmt
