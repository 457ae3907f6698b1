#pragma once

#include <QImage>

namespace qmt {

// The pictures the explorer shows of its own, painted by the program: the folder picture
// (150 x 125), the loading picture of items not filled yet (125 x 125) and the broken picture
// of a file that could not be thumbnailed (140 x 140).
QImage folderPicture();
QImage loadingPicture();
QImage brokenPicture();

} // namespace qmt
