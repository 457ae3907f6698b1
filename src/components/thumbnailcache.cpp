#include "components/thumbnailcache.h"

#include "components/nativefile.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QUrl>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// A folder of the cache: a real folder of ours, made 0700 when missing. A link or a folder of
// someone else planted there is not written into.
bool makePrivateDir(const QString &dir)
{
    const QByteArray native = nativePath(dir);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st {
    };
    return ::lstat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

// The cache's root may itself be a link (a cache kept on another disk); its sub-folders, where
// the files go, may not.
bool makeCacheFolders(const QString &root, const QString &relative)
{
    if (!QFileInfo(root).isDir()) {
        if (!QDir().mkpath(root))
            return false;
        ::chmod(nativePath(root).constData(), 0700);
    }
    QString dir = root;
    for (const QString &part : relative.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        dir += QLatin1Char('/') + part;
        if (!makePrivateDir(dir))
            return false;
    }
    return true;
}

QByteArray encodePng(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    // Light compression: thumbnails are written while a folder is listed.
    writer.setQuality(70);
    if (!writer.write(image))
        return QByteArray();
    return bytes;
}

Status writePng(const QString &root, const QString &folder, const QString &name,
                const QImage &image)
{
    if (!makeCacheFolders(root, folder))
        return Status::fail(QStringLiteral("The thumbnail folder cannot be made."));
    const QByteArray png = encodePng(image);
    if (png.isEmpty())
        return Status::fail(QStringLiteral("The thumbnail cannot be encoded."));
    const Status written =
        replaceFileQuickly(root + QLatin1Char('/') + folder + QLatin1Char('/') + name, png);
    if (!written)
        return Status::fail(
            QStringLiteral("The thumbnail cannot be written: %1").arg(written.error()));
    return written;
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

// A thumbnail is small; anything claiming to be large is not one of them.
constexpr qint64 kMaxStoredBytes = 4 << 20;

// Whether the bytes are a PNG whose chunks all lie inside it. The PNG reader trusts a chunk's
// length and would allocate gigabytes for a lying one in a file of a few hundred bytes.
bool chunksFit(const QByteArray &png)
{
    static const QByteArray signature("\x89PNG\r\n\x1a\n", 8);
    if (!png.startsWith(signature))
        return false;
    const auto byte = [&png](qsizetype i) { return quint32(uchar(png.at(i))); };
    qsizetype at = signature.size();
    while (at + 12 <= png.size()) {
        const quint32 length =
            byte(at) << 24 | byte(at + 1) << 16 | byte(at + 2) << 8 | byte(at + 3);
        if (qint64(length) > png.size() - at - 12)
            return false;
        if (png.mid(at + 4, 4) == "IEND")
            return true;
        at += 12 + qsizetype(length);
    }
    return false;
}

QImage readStored(QIODevice *device)
{
    QByteArray bytes = device->read(kMaxStoredBytes + 1);
    if (bytes.size() > kMaxStoredBytes || !chunksFit(bytes))
        return QImage();
    return ThumbnailCache::decodeStored(std::move(bytes), "png");
}

// Reads `path` as a stored thumbnail and hands it to `parse`, or gives nothing.
template <class Parse>
auto readEntryFile(const QString &path, Parse parse) -> decltype(parse(nullptr))
{
    // Only a regular file, not through a link: a FIFO planted in the cache would stop the
    // listing, a link would show another file's contents.
    QFile file;
    if (!openRegularFile(file, path, false))
        return std::nullopt;
    return parse(&file);
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
    if (hasUndecodableBytes(absolute)) {
        // The URI carries the name's own bytes, percent-encoded, as other programs write it.
        return QStringLiteral("file://") +
               QString::fromLatin1(nativePath(absolute).toPercentEncoding("/!$&'()*+,;=:@"));
    }
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

QString ThumbnailCache::normalPath(const QString &path) const
{
    return m_root + QStringLiteral("/normal/") + fileNameFor(path);
}

QString ThumbnailCache::failurePath(const QString &path) const
{
    return m_root + QLatin1Char('/') + failureFolderName() + QLatin1Char('/') + fileNameFor(path);
}

std::optional<ThumbnailCache::FileStamp> ThumbnailCache::stampOf(const QString &path)
{
    const PathStatus status = statPath(path);
    if (!status.isRegular())
        return std::nullopt; // only regular files have thumbnails
    return FileStamp{status.mtime, status.size};
}

std::optional<ThumbnailCache::Entry> ThumbnailCache::lookup(const QString &path) const
{
    const auto stamp = stampOf(path);
    if (!stamp)
        return std::nullopt;
    const QString uri = uriFor(path);
    return readEntryFile(largePath(path),
                         [&](QIODevice *device) { return readEntry(device, uri, *stamp); });
}

std::optional<QString> ThumbnailCache::failure(const QString &path) const
{
    const auto stamp = stampOf(path);
    if (!stamp)
        return std::nullopt;
    const QString uri = uriFor(path);
    return readEntryFile(failurePath(path),
                         [&](QIODevice *device) { return readFailure(device, uri, *stamp); });
}

std::optional<ThumbnailCache::Entry>
ThumbnailCache::readEntry(QIODevice *device, const QString &uri, const FileStamp &stamp)
{
    Entry entry;
    entry.image = readStored(device);
    if (!describes(entry.image, uri, stamp))
        return std::nullopt;
    const int width = entry.image.text(QString::fromLatin1(kWidthKey)).toInt();
    const int height = entry.image.text(QString::fromLatin1(kHeightKey)).toInt();
    if (width > 0 && height > 0)
        entry.originalSize = QSize(width, height);
    if (entry.image.width() > kLargeSize || entry.image.height() > kLargeSize)
        return std::nullopt; // not one of the standard's large thumbnails
    return entry;
}

std::optional<QString> ThumbnailCache::readFailure(QIODevice *device, const QString &uri,
                                                   const FileStamp &stamp)
{
    const QImage marker = readStored(device);
    if (!describes(marker, uri, stamp))
        return std::nullopt;
    const QString reason = marker.text(QString::fromLatin1(kReasonKey));
    return reason.isEmpty() ? QStringLiteral("The file cannot be read as an image.") : reason;
}

Status ThumbnailCache::store(const QString &path, const FileStamp &stamp, const QImage &large,
                             const QSize &originalSize) const
{
    if (large.isNull() || large.width() > kLargeSize || large.height() > kLargeSize)
        return Status::fail(QStringLiteral("The thumbnail is not of the large size."));
    return storeTagged(QStringLiteral("large"), path, stamp, large, originalSize);
}

Status ThumbnailCache::storeNormal(const QString &path, const FileStamp &stamp, const QImage &image,
                                   const QSize &originalSize) const
{
    if (image.isNull())
        return Status::fail(QStringLiteral("There is no thumbnail to store."));
    // A normal thumbnail is 128 pixels on its long side, or the picture's own size when that is
    // smaller; a copy that cannot fill it is not stored.
    const QSize full = originalSize.isValid() ? originalSize : image.size();
    const QSize wanted = full.width() <= kNormalSize && full.height() <= kNormalSize
                             ? full
                             : full.scaled(kNormalSize, kNormalSize, Qt::KeepAspectRatio);
    if (image.width() < wanted.width() || image.height() < wanted.height())
        return Status::fail(QStringLiteral("The picture is too small for a normal thumbnail."));
    const QImage normal = image.size() == wanted ? image
                                                 : image.scaled(wanted, Qt::IgnoreAspectRatio,
                                                                Qt::SmoothTransformation);
    return storeTagged(QStringLiteral("normal"), path, stamp, normal, originalSize);
}

Status ThumbnailCache::storeTagged(const QString &folder, const QString &path,
                                   const FileStamp &stamp, const QImage &image,
                                   const QSize &originalSize) const
{
    if (isInsideCache(path))
        return Status::fail(
            QStringLiteral("Thumbnails are not made of the thumbnails themselves."));
    QImage tagged = image;
    tagged.setText(QString::fromLatin1(kUriKey), uriFor(path));
    tagged.setText(QString::fromLatin1(kMTimeKey), QString::number(stamp.mtime));
    tagged.setText(QString::fromLatin1(kSizeKey), QString::number(stamp.size));
    if (originalSize.isValid() && !originalSize.isEmpty()) {
        tagged.setText(QString::fromLatin1(kWidthKey), QString::number(originalSize.width()));
        tagged.setText(QString::fromLatin1(kHeightKey), QString::number(originalSize.height()));
    }
    tagged.setText(QStringLiteral("Software"), QStringLiteral("Pictavo " QMT_VERSION));
    return writePng(m_root, folder, fileNameFor(path), tagged);
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
    return writePng(m_root, failureFolderName(), fileNameFor(path), marker);
}

Status ThumbnailCache::move(const QString &from, const QString &to) const
{
    const QString oldName = fileNameFor(from);
    const QString newName = fileNameFor(to);
    if (oldName == newName)
        return {};
    Status result;
    for (const QString &folder : allFolders()) {
        const QString oldPath = m_root + QLatin1Char('/') + folder + QLatin1Char('/') + oldName;
        if (!statPath(oldPath, false).exists())
            continue;
        QFile file;
        QImage image;
        if (openRegularFile(file, oldPath, false))
            image = readStored(&file);
        if (!image.isNull()) {
            image.setText(QString::fromLatin1(kUriKey), uriFor(to));
            const Status written = writePng(m_root, folder, newName, image);
            if (!written && result)
                result = written;
        }
        // Removes the entry itself, whatever it is; a link's target is left alone.
        ::unlink(nativePath(oldPath).constData());
    }
    return result;
}

void ThumbnailCache::remove(const QString &path) const
{
    const QString name = fileNameFor(path);
    for (const QString &folder : allFolders())
        ::unlink(
            nativePath(m_root + QLatin1Char('/') + folder + QLatin1Char('/') + name).constData());
}

bool ThumbnailCache::isInsideCache(const QString &path) const
{
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    return absolute.startsWith(m_root + QLatin1Char('/'));
}

QImage ThumbnailCache::makeLarge(QImage image)
{
    if (image.width() <= kLargeSize && image.height() <= kLargeSize)
        return image;
    // Smooth scaling works on premultiplied pixels and would convert a copy first: for a
    // picture of a gigabyte, a second gigabyte. The picture is converted where it lies instead.
    switch (image.format()) {
    case QImage::Format_ARGB32:
        image.convertTo(QImage::Format_ARGB32_Premultiplied);
        break;
    case QImage::Format_RGBA8888:
        image.convertTo(QImage::Format_RGBA8888_Premultiplied);
        break;
    case QImage::Format_RGBA64:
        image.convertTo(QImage::Format_RGBA64_Premultiplied);
        break;
    default:
        break;
    }
    return image.scaled(kLargeSize, kLargeSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

QImage ThumbnailCache::decodeStored(QByteArray bytes, const char *format)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    reader.setDecideFormatFromContent(false);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > 4 * kLargeSize || size.height() > 4 * kLargeSize)
        return QImage();
    return reader.read();
}

} // namespace qmt
