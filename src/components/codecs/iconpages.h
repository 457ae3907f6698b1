#pragma once

#include "components/engine/imageio.h"

#include <QByteArray>

class QIODevice;

namespace qmt {

// Icon and cursor files hold one picture per size. Each becomes a page, the largest first (the
// one a viewer shows); pictures of the same size keep the file's order. Qt's ico plugin decodes
// them; every page is read even when only the first is asked for, since the largest may come
// last in the file.
Result<DecodedImage> readIconPages(QIODevice *device, const QByteArray &format,
                                   const ReadOptions &options);

// Sorts pages by area, largest first, keeping the order of equal sizes, and sets the document's
// full size to that of the new first page.
void orderIconPages(DecodedImage &decoded);

} // namespace qmt
