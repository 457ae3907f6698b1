#include "components/sessionthumbnails.h"

#include "components/nativefile.h"
#include "components/sessionfoldersweeper.h"
#include "components/thumbnailcache.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QMutexLocker>
#include <QSet>

#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
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

// The stores alive, so that a program ending at once can still remove their folders.
QMutex &registryMutex()
{
    static QMutex mutex;
    return mutex;
}

QSet<SessionThumbnails *> &liveStores()
{
    static QSet<SessionThumbnails *> stores;
    return stores;
}

// Takes the lock a live store holds on its folder; -1 when it cannot be had.
int lockFolder(const QByteArray &folder)
{
    // Close-on-exec: a program started from this one must not keep the lock after it ends.
    const QByteArray path = folder + '/' + SessionThumbnails::kLockFileName;
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          S_IRUSR | S_IWUSR);
    if (fd < 0)
        return -1;
    // A folder that cannot be locked (a file system without flock) would look left behind to
    // the next program: it is not used.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        ::unlink(path.constData());
        return -1;
    }
    return fd;
}

} // namespace

SessionThumbnails::SessionThumbnails(const QStringList &parents, qint64 memoryCap)
    : m_parents(parents.isEmpty() ? defaultParents() : parents), m_memoryCap(memoryCap)
{
    {
        QMutexLocker lock(&registryMutex());
        liveStores().insert(this);
    }
    SessionFolderSweeper::sweepInBackground(m_parents);
}

SessionThumbnails::~SessionThumbnails()
{
    {
        QMutexLocker lock(&registryMutex());
        liveStores().remove(this);
    }
    QMutexLocker lock(&m_mutex);
    removeFolder();
}

void SessionThumbnails::removeAllFolders()
{
    QMutexLocker lock(&registryMutex());
    for (SessionThumbnails *store : std::as_const(liveStores())) {
        QMutexLocker storeLock(&store->m_mutex);
        store->removeFolder();
    }
}

void SessionThumbnails::removeFolder()
{
    // The folder is ours alone (0700, made fresh): everything in it goes. Entries are written
    // under the lock, so none is being written now.
    if (!m_folder.isEmpty())
        QDir(m_folder).removeRecursively();
    m_folder.clear();
    // Given up only once the folder is gone: until then a sweep of another program keeps off.
    if (m_lockFd >= 0)
        ::close(m_lockFd);
    m_lockFd = -1;
    m_diskFailed = true;
    for (Entry &entry : m_entries)
        entry.file.clear(); // gone: such an entry is no longer found
    m_diskBytes = 0;
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
        QByteArray name = nativePath(parent + QLatin1Char('/') + QLatin1String(kFolderPrefix) +
                                     QStringLiteral("XXXXXX"));
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
        const int lockFd = lockFolder(name);
        if (lockFd < 0) {
            ::rmdir(name.constData());
            continue;
        }
        m_lockFd = lockFd;
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
    // Written under the lock (a quick write, nothing is flushed), so that the folder is never
    // removed while an entry is being written into it.
    QMutexLocker lock(&m_mutex);
    const Entry old = m_entries.value(path);
    if (!m_diskFailed && m_folder.isEmpty() && !makeFolder())
        m_diskFailed = true;
    if (!m_diskFailed) {
        // A file of its own for every entry: a file being read is never written over.
        entry.file = QString::number(m_nextName++);
        const bool written = m_diskBytes - old.fileBytes + bytes.size() <= kDiskCap &&
                             replaceFileQuickly(m_folder + QLatin1Char('/') + entry.file, bytes);
        if (written) {
            entry.fileBytes = bytes.size();
        } else {
            entry.file.clear();
            m_diskFailed = true; // no more room there, or the folder went
        }
    }
    if (entry.file.isEmpty()) {
        if (m_memoryBytes - old.bytes.size() + bytes.size() > m_memoryCap)
            return false;
        entry.bytes = bytes;
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
    QImage image = ThumbnailCache::decodeStored(std::move(bytes), entry.png ? "png" : "jpeg");
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
