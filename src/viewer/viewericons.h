#pragma once

#include <QIcon>
#include <QString>

namespace qmt::viewer {

// The toolbar's pictures, drawn for the program at any size. Keys: "open32", "browsed32",
// "previous32", "next32", "slidshow32", "zoomin32", "zoomiout32", "fullscreen32". Each icon has
// a brighter hover picture (QIcon::Active). An unknown key gives a null icon.
QIcon toolbarIcon(const QString &key);

} // namespace qmt::viewer
