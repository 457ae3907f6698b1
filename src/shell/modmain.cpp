#include "shell/modmain.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace qmt {
namespace {

constexpr auto kImageTypes =
    "JPG GIF BMP PNG PSD TIF PCX TGA WBMP PCD WMF EMF ICO CUR DIB WEBP AVIF HEIC HEIF JXL";

struct SaveFormat {
    const char *extension;
    int code;
};

// Position in the Save As filter -> extension and engine format code.
constexpr SaveFormat kSaveFormats[] = {
    {"jpg", 1}, {"png", 2},   {"psd", 9}, {"tif", 3}, {"pcx", 4},
    {"tga", 5}, {"wbmp", 10}, {"bmp", 6}, {"wmf", 7}, {"emf", 8},
};

QString withSlash(QString folder)
{
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

} // namespace

QString GetSpecialFolder(int id)
{
    QStandardPaths::StandardLocation location;
    switch (id) {
    case CsidlDesktop:
        location = QStandardPaths::DesktopLocation;
        break;
    case CsidlPersonal:
        location = QStandardPaths::DocumentsLocation;
        break;
    case CsidlMyPictures:
        location = QStandardPaths::PicturesLocation;
        break;
    default:
        return QString();
    }
    const QString folder = QStandardPaths::writableLocation(location);
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return QString();
    return withSlash(QDir::cleanPath(folder));
}

QString GetWindowsFolder()
{
    // One fixed folder name, whatever title the application carries at the moment.
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    const QString folder = QDir::cleanPath(base + QStringLiteral("/pictavo"));
    QDir().mkpath(folder);
    return withSlash(folder);
}

QString GetSaveFormat(int position, int &formatCode)
{
    if (position < 1 || position > int(std::size(kSaveFormats)))
        return QString();
    const SaveFormat &format = kSaveFormats[position - 1];
    formatCode = format.code;
    return QString::fromLatin1(format.extension);
}

bool IsImageFile(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    const QString extension = name.mid(dot + 1).toLower();
    if (extension.isEmpty())
        return false;
    return QString::fromLatin1(kImageTypes).toLower().contains(extension);
}

int fileAttributes(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return -1;
    int attributes = 0;
    if (!info.isWritable())
        attributes |= 1;
    if (info.fileName().startsWith(QLatin1Char('.')))
        attributes |= 2;
    if (info.isDir())
        attributes |= 16;
    else if (info.isFile())
        attributes |= 32;
    return attributes;
}

} // namespace qmt
