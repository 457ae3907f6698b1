#include "components/sessionthumbnails.h"

#include "components/nativefile.h"
#include "components/thumbnailcache.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QMutexLocker>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace qmt {
namespace {

// Photos keep well as JPEG at this quality and take a fifth of the room of a PNG; pictures with
// transparency keep it as PNG.
constexpr int kJpegQuality = 90;

QByteArray encode(const QImage &image, bool png)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, png ? "png" : "jpeg");
    writer.setQuality(png ? 70 : kJpegQuality);
    if (!writer.write(image))
        return QByteArray();
    return bytes;
}

QImage decode(QByteArray bytes, bool png)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, png ? "png" : "jpeg");
    reader.setDecideFormatFromContent(false);
    const QSize size = reader.size();
    // Only what the store itself wrote is read back: thumbnail-sized pictures.
    if (!size.isValid() || size.width() > 4 * ThumbnailCache::kLargeSize ||
        size.height() > 4 * ThumbnailCache::kLargeSize)
        return QImage();
    return reader.read();
}

} // namespace

SessionThumbnails::SessionThumbnails(const QStringList &parents, qint64 memoryCap)
    : m_parents(parents.isEmpty() ? defaultParents() : parents), m_memoryCap(memoryCap)
{
}

SessionThumbnails::~SessionThumbnails()
{
    // The folder is ours alone (0700, made fresh): everything in it goes.
    if (!m_folder.isEmpty())
        QDir(m_folder).removeRecursively();
}

QStringList SessionThumbnails::defaultParents()
{
    QStringList parents{QDir::tempPath()};
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime))
        parents.append(runtime);
    return parents;
}

bool SessionThumbnails::makeFolder()
{
    for (const QString &parent : m_parents) {
        if (parent.isEmpty())
            continue;
        QByteArray name = nativePath(parent + QStringLiteral("/pictavo-thumbnails-XXXXXX"));
        if (::mkdtemp(name.data()) == nullptr)
            continue;
        // mkdtemp makes a new folder 0700 of ours; it must still be one when used.
        struct stat st {
        };
        if (::lstat(name.constData(), &st) != 0 || !S_ISDIR(st.st_mode) ||
            st.st_uid != ::geteuid()) {
            ::rmdir(name.constData());
            continue;
        }
        m_folder = pathFromNative(name);
        return true;
    }
    return false;
}

bool SessionThumbnails::store(const QString &path, const QImage &thumbnail)
{
    const auto stamp = ThumbnailCache::stampOf(path);
    if (!stamp || thumbnail.isNull())
        return false;
    const bool png = thumbnail.hasAlphaChannel();
    const QByteArray bytes = encode(thumbnail, png);
    if (bytes.isEmpty() || bytes.size() > kMaxEntryBytes)
        return false;

    Entry entry{stamp->mtime, stamp->size, png, QString(), 0, QByteArray()};
    QString target;
    {
        QMutexLocker lock(&m_mutex);
        if (!m_diskFailed && m_folder.isEmpty() && !makeFolder())
            m_diskFailed = true;
        if (!m_diskFailed) {
            // A file of its own for every entry: a file being read is never written over.
            entry.file = QString::number(m_nextName++);
            target = m_folder + QLatin1Char('/') + entry.file;
        }
    }
    // Written outside the lock: the workers write at the same time.
    const bool onDisk = !target.isEmpty() && replaceFileQuickly(target, bytes);
    if (onDisk)
        entry.fileBytes = bytes.size();
    else
        entry.file.clear();

    QMutexLocker lock(&m_mutex);
    if (!target.isEmpty() && !onDisk)
        m_diskFailed = true; // no more room there, or the folder went
    Entry old = m_entries.value(path);
    if (!onDisk) {
        if (m_memoryBytes - old.bytes.size() + bytes.size() > m_memoryCap)
            return false;
        entry.bytes = bytes;
    } else if (m_diskBytes - old.fileBytes + entry.fileBytes > kDiskCap) {
        ::unlink(nativePath(target).constData());
        return false;
    }
    if (!old.file.isEmpty())
        ::unlink(nativePath(m_folder + QLatin1Char('/') + old.file).constData());
    m_memoryBytes += entry.bytes.size() - old.bytes.size();
    m_diskBytes += entry.fileBytes - old.fileBytes;
    m_entries.insert(path, std::move(entry));
    return true;
}

std::optional<QImage> SessionThumbnails::lookup(const QString &path) const
{
    Entry entry;
    QString folder;
    {
        QMutexLocker lock(&m_mutex);
        const auto found = m_entries.constFind(path);
        if (found == m_entries.cend())
            return std::nullopt;
        entry = *found;
        folder = m_folder;
    }
    const auto stamp = ThumbnailCache::stampOf(path);
    if (!stamp || stamp->mtime != entry.mtime || stamp->size != entry.size)
        return std::nullopt;
    QByteArray bytes = entry.bytes;
    if (!entry.file.isEmpty()) {
        QFile file;
        if (!openRegularFile(file, folder + QLatin1Char('/') + entry.file, false))
            return std::nullopt;
        bytes = file.read(kMaxEntryBytes + 1);
        if (bytes.size() > kMaxEntryBytes)
            return std::nullopt;
    }
    QImage image = decode(std::move(bytes), entry.png);
    if (image.isNull())
        return std::nullopt;
    return image;
}

QString SessionThumbnails::folder() const
{
    QMutexLocker lock(&m_mutex);
    return m_folder;
}

qint64 SessionThumbnails::memoryBytes() const
{
    QMutexLocker lock(&m_mutex);
    return m_memoryBytes;
}

int SessionThumbnails::count() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_entries.size());
}

} // namespace qmt
