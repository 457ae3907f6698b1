#include "components/splash.h"

#include <QImageReader>

namespace qmt {
namespace {

constexpr int kMaxSplashSide = 4096;

} // namespace

QPixmap loadSplashPicture(const QString &path)
{
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > kMaxSplashSide || size.height() > kMaxSplashSide)
        return QPixmap();
    const QImage image = reader.read();
    if (image.isNull())
        return QPixmap();
    return QPixmap::fromImage(image);
}

} // namespace qmt
