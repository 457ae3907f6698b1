#include "components/splash.h"

#include <QFile>
#include <QImageReader>

namespace qmt {
namespace {

constexpr int kMaxSplashSide = 4096;

// The format named by the file's first bytes, for the formats whose reader is found without
// looking through every image plugin (PNG and BMP are built in; JPEG and GIF have one plugin
// each); "" otherwise. Probing all plugins loads every one of them with its libraries, which
// costs the start more than showing the splash does.
QByteArray formatBySignature(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray head = file.read(8);
    if (head.startsWith("\x89PNG\r\n\x1a\n"))
        return "png";
    if (head.startsWith("BM"))
        return "bmp";
    if (head.startsWith("\xff\xd8\xff"))
        return "jpeg";
    if (head.startsWith("GIF8"))
        return "gif";
    return {};
}

} // namespace

QPixmap loadSplashPicture(const QString &path)
{
    const QByteArray format = formatBySignature(path);
    QImageReader reader(path, format);
    // With a format known, no plugin is asked whether it recognises the content.
    reader.setAutoDetectImageFormat(format.isEmpty());
    reader.setDecideFormatFromContent(format.isEmpty());
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > kMaxSplashSide || size.height() > kMaxSplashSide)
        return QPixmap();
    const QImage image = reader.read();
    if (image.isNull())
        return QPixmap();
    return QPixmap::fromImage(image);
}

} // namespace qmt
