#pragma once

#include <QRectF>
#include <QSizeF>

namespace qmt::viewer {

// Where an image of `imageSize` (in the printer's device pixels at its natural size) lies on a
// page whose printable area is `printable`: at its top-left corner, centred, or (fit) scaled
// with its aspect ratio kept to the largest size the printable area holds, centred.
QRectF printPlacement(const QSizeF &imageSize, const QRectF &printable, bool centre, bool fit);

} // namespace qmt::viewer
