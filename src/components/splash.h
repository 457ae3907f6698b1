#pragma once

#include <QPixmap>
#include <QString>

namespace qmt {

// The start-up picture: any image file the platform reads, whatever its extension
// ("viewer.spl"). A missing, damaged or absurdly large file gives a null pixmap: no splash.
QPixmap loadSplashPicture(const QString &path);

} // namespace qmt
