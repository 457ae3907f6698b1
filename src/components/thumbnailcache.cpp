#include "components/thumbnailcache.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>
#include <QUrl>

namespace qmt {
namespace {

const char *const kUriKey = "Thumb::URI";
const char *const kMTimeKey = "Thumb::MTime";
const char *const kSizeKey = "Thumb::Size";
const char *const kWidthKey = "Thumb::Image::Width";
const char *const kHeightKey = "Thumb::Image::Height";
const char *const kReasonKey = "Pictavo::Reason";

QString failureFolderName()
{
    // One folder per program and version, as the standard asks, so that a newer version
    // that reads more files tries them again.
    const QStringList parts = QStringLiteral(QMT_VERSION).split(QLatin1Char('.'));
    return QStringLiteral("fail/pictavo-%1.%2")
        .arg(parts.value(0, QStringLiteral("1")), parts.value(1, QStringLiteral("0")));
}

// The sizes other programs keep; a moved or deleted file takes all of them along.
const QStringList &allFolders()
{
    static const QStringList folders = {QStringLiteral("normal"), QStringLiteral("large"),
                                        QStringLiteral("x-large"), QStringLiteral("xx-large"),
                                        failureFolderName()};
    return folders;
}

bool makePrivateDir(const QString &dir)
{
    if (QFileInfo(dir).isDir())
        return true;
    if (!QDir().mkpath(dir))
        return false;
    // The thumbnails show what the user's files contain: only the user may read them.
    QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return true;
}

Status writePng(const QString &target, const QImage &image)
{
    if (!makePrivateDir(QFileInfo(target).absolutePath()))
        return Status::fail(QStringLiteral("The thumbnail folder cannot be made."));
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        return Status::fail(
            QStringLiteral("The thumbnail cannot be written: %1").arg(file.errorString()));
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    QImageWriter writer(&file, "png");
    // Light compression: thumbnails are written while a folder is listed.
    writer.setQuality(70);
    if (!writer.write(image)) {
        file.cancelWriting();
        return Status::fail(
            QStringLiteral("The thumbnail cannot be written: %1").arg(writer.errorString()));
    }
    if (!file.commit())
        return Status::fail(
            QStringLiteral("The thumbnail cannot be written: %1").arg(file.errorString()));
    return {};
}

// Whether the text keys of a stored thumbnail describe `path` in the state `stamp`. The keys
// are read with the picture: Qt's PNG reader gives them reliably only after decoding.
bool describes(const QImage &stored, const QString &uri, const ThumbnailCache::FileStamp &stamp)
{
    if (stored.isNull() || stored.text(QString::fromLatin1(kUriKey)) != uri)
        return false;
    bool ok = false;
    const qint64 mtime = stored.text(QString::fromLatin1(kMTimeKey)).toLongLong(&ok);
    if (!ok || mtime != stamp.mtime)
        return false;
    const QString size = stored.text(QString::fromLatin1(kSizeKey));
    if (!size.isEmpty() && size.toLongLong() != stamp.size)
        return false;
    return true;
}

QImage readStored(const QString &file)
{
    QImageReader reader(file, "png");
    // A thumbnail is small; anything claiming to be large is not one of them.
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > 4 * ThumbnailCache::kLargeSize ||
        size.height() > 4 * ThumbnailCache::kLargeSize)
        return QImage();
    return reader.read();
}

} // namespace

ThumbnailCache::ThumbnailCache(const QString &root) : m_root(root.isEmpty() ? defaultRoot() : root)
{
    m_root = QDir::cleanPath(QFileInfo(m_root).absoluteFilePath());
}

QString ThumbnailCache::defaultRoot()
{
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.cache");
    return base + QStringLiteral("/thumbnails");
}

QString ThumbnailCache::uriFor(const QString &path)
{
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    return QString::fromLatin1(QUrl::fromLocalFile(absolute).toEncoded());
}

QString ThumbnailCache::fileNameFor(const QString &path)
{
    const QByteArray md5 = QCryptographicHash::hash(uriFor(path).toUtf8(), QCryptographicHash::Md5);
    return QString::fromLatin1(md5.toHex()) + QStringLiteral(".png");
}

QString ThumbnailCache::largePath(const QString &path) const
{
    return m_root + QStringLiteral("/large/") + fileNameFor(path);
}

QString ThumbnailCache::failurePath(const QString &path) const
{
    return m_root + QLatin1Char('/') + failureFolderName() + QLatin1Char('/') + fileNameFor(path);
}

std::optional<ThumbnailCache::FileStamp> ThumbnailCache::stampOf(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return std::nullopt;
    return FileStamp{info.lastModified().toSecsSinceEpoch(), info.size()};
}

std::optional<ThumbnailCache::Entry> ThumbnailCache::lookup(const QString &path) const
{
    const auto stamp = stampOf(path);
    if (!stamp)
        return std::nullopt;
    Entry entry;
    entry.image = readStored(largePath(path));
    if (!describes(entry.image, uriFor(path), *stamp))
        return std::nullopt;
    const int width = entry.image.text(QString::fromLatin1(kWidthKey)).toInt();
    const int height = entry.image.text(QString::fromLatin1(kHeightKey)).toInt();
    if (width > 0 && height > 0)
        entry.originalSize = QSize(width, height);
    if (entry.image.width() > kLargeSize || entry.image.height() > kLargeSize)
        return std::nullopt; // not one of the standard's large thumbnails
    return entry;
}

std::optional<QString> ThumbnailCache::failure(const QString &path) const
{
    const auto stamp = stampOf(path);
    if (!stamp)
        return std::nullopt;
    const QImage marker = readStored(failurePath(path));
    if (!describes(marker, uriFor(path), *stamp))
        return std::nullopt;
    const QString reason = marker.text(QString::fromLatin1(kReasonKey));
    return reason.isEmpty() ? QStringLiteral("The file cannot be read as an image.") : reason;
}

Status ThumbnailCache::store(const QString &path, const FileStamp &stamp, const QImage &large,
                             const QSize &originalSize) const
{
    if (large.isNull() || large.width() > kLargeSize || large.height() > kLargeSize)
        return Status::fail(QStringLiteral("The thumbnail is not of the large size."));
    if (isInsideCache(path))
        return Status::fail(
            QStringLiteral("Thumbnails are not made of the thumbnails themselves."));
    QImage tagged = large;
    tagged.setText(QString::fromLatin1(kUriKey), uriFor(path));
    tagged.setText(QString::fromLatin1(kMTimeKey), QString::number(stamp.mtime));
    tagged.setText(QString::fromLatin1(kSizeKey), QString::number(stamp.size));
    if (originalSize.isValid() && !originalSize.isEmpty()) {
        tagged.setText(QString::fromLatin1(kWidthKey), QString::number(originalSize.width()));
        tagged.setText(QString::fromLatin1(kHeightKey), QString::number(originalSize.height()));
    }
    tagged.setText(QStringLiteral("Software"), QStringLiteral("Pictavo " QMT_VERSION));
    return writePng(largePath(path), tagged);
}

Status ThumbnailCache::storeFailure(const QString &path, const FileStamp &stamp,
                                    const QString &reason) const
{
    if (isInsideCache(path))
        return Status::fail(
            QStringLiteral("Thumbnails are not made of the thumbnails themselves."));
    QImage marker(1, 1, QImage::Format_ARGB32);
    marker.fill(Qt::transparent);
    marker.setText(QString::fromLatin1(kUriKey), uriFor(path));
    marker.setText(QString::fromLatin1(kMTimeKey), QString::number(stamp.mtime));
    marker.setText(QString::fromLatin1(kSizeKey), QString::number(stamp.size));
    marker.setText(QString::fromLatin1(kReasonKey), reason);
    marker.setText(QStringLiteral("Software"), QStringLiteral("Pictavo " QMT_VERSION));
    return writePng(failurePath(path), marker);
}

Status ThumbnailCache::move(const QString &from, const QString &to) const
{
    const QString oldName = fileNameFor(from);
    const QString newName = fileNameFor(to);
    if (oldName == newName)
        return {};
    Status result;
    for (const QString &folder : allFolders()) {
        const QString dir = m_root + QLatin1Char('/') + folder + QLatin1Char('/');
        const QString oldPath = dir + oldName;
        if (!QFileInfo::exists(oldPath))
            continue;
        QImage image = readStored(oldPath);
        if (!image.isNull()) {
            image.setText(QString::fromLatin1(kUriKey), uriFor(to));
            const Status written = writePng(dir + newName, image);
            if (!written && result)
                result = written;
        }
        QFile::remove(oldPath);
    }
    return result;
}

void ThumbnailCache::remove(const QString &path) const
{
    const QString name = fileNameFor(path);
    for (const QString &folder : allFolders())
        QFile::remove(m_root + QLatin1Char('/') + folder + QLatin1Char('/') + name);
}

bool ThumbnailCache::isInsideCache(const QString &path) const
{
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    return absolute.startsWith(m_root + QLatin1Char('/'));
}

QImage ThumbnailCache::makeLarge(const QImage &image)
{
    if (image.width() <= kLargeSize && image.height() <= kLargeSize)
        return image;
    return image.scaled(kLargeSize, kLargeSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

} // namespace qmt
