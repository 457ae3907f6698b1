#include "shell/registryfilecache.h"

#include <QFile>
#include <QHash>
#include <QLoggingCategory>
#include <QMutex>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qmt {
namespace {

Q_LOGGING_CATEGORY(lcRegistryCache, "qmt.registry")

// A file changed less than this before it was read may change again within the same time stamp
// (file systems keep time stamps as coarse as two seconds), so its stat alone proves nothing.
constexpr qint64 kRacyWindowNs = 2'000'000'000;
// Registry folders a process reads are few (tests use many); beyond this the cache starts over.
constexpr qsizetype kMaxEntries = 8;

struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    static Identity of(const struct stat &st)
    {
        return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    }
    friend bool operator==(const Identity &a, const Identity &b)
    {
        return a.device == b.device && a.inode == b.inode && a.size == b.size &&
               a.modified.tv_sec == b.modified.tv_sec && a.modified.tv_nsec == b.modified.tv_nsec &&
               a.changed.tv_sec == b.changed.tv_sec && a.changed.tv_nsec == b.changed.tv_nsec;
    }
};

struct Entry {
    RegistryRoot root = RegistryRoot::LocalMachine;
    Identity identity;
    bool settled = false; // the identity alone shows whether the file changed
    QByteArray bytes;     // what the file held, to compare while not settled
    RegistryFileCache::Loaded loaded;
};

qint64 nanoseconds(const timespec &t)
{
    return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

bool isSettled(const Identity &identity)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const qint64 age = nanoseconds(now) - nanoseconds(identity.modified);
    const qint64 changeAge = nanoseconds(now) - nanoseconds(identity.changed);
    return age > kRacyWindowNs && changeAge > kRacyWindowNs;
}

QMutex g_mutex;
QHash<QString, Entry> g_entries;
quint64 g_parses = 0;

RegistryFileCache::Loaded emptyHive(RegistryRoot root)
{
    return {std::make_shared<const RegistryHive>(root), false, QString(), false};
}

RegistryFileCache::Loaded damagedHive(RegistryRoot root, const QString &file, const QString &why)
{
    qCWarning(lcRegistryCache) << "registry file" << file << "cannot be read:" << why;
    return {std::make_shared<const RegistryHive>(root), true, why, false};
}

RegistryFileCache::Loaded parsed(RegistryRoot root, const QString &file, const QByteArray &bytes)
{
    ++g_parses;
    QString why;
    auto hive = RegistryHive::parse(root, bytes, &why);
    if (!hive)
        return damagedHive(root, file, why);
    return {std::make_shared<const RegistryHive>(std::move(*hive)), false, QString(), false};
}

// Reads at most limit + 1 bytes of an open file; false on a read error.
bool readBounded(int fd, qsizetype limit, QByteArray &out)
{
    out.clear();
    char buffer[65536];
    while (out.size() <= limit) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        out.append(buffer, qMin<qsizetype>(n, limit + 1 - out.size()));
    }
    return true;
}

} // namespace

RegistryFileCache::Loaded RegistryFileCache::load(RegistryRoot root, const QString &file)
{
    const QByteArray name = QFile::encodeName(file);
    QMutexLocker locker(&g_mutex);
    struct stat st {
    };
    if (::stat(name.constData(), &st) != 0) {
        g_entries.remove(file);
        return errno == ENOENT || errno == ENOTDIR ? emptyHive(root)
                                                   : Loaded{emptyHive(root).hive, false, {}, true};
    }
    auto found = g_entries.find(file);
    if (found != g_entries.end() && found->root == root && found->settled &&
        found->identity == Identity::of(st))
        return found->loaded;

    // O_NONBLOCK: a FIFO put in the file's place must not stop the program in open().
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT ? emptyHive(root) : Loaded{emptyHive(root).hive, false, {}, true};
    Entry entry;
    entry.root = root;
    Loaded result;
    bool readOk = true;
    if (::fstat(fd, &st) != 0) {
        readOk = false;
    } else if (!S_ISREG(st.st_mode)) {
        result = damagedHive(root, file, QStringLiteral("not a regular file"));
    } else if (st.st_size > RegistryHive::kMaxFileSize) {
        result = damagedHive(root, file, QStringLiteral("file too large"));
    } else {
        readOk = readBounded(fd, RegistryHive::kMaxFileSize, entry.bytes);
    }
    ::close(fd);
    if (!readOk) {
        g_entries.remove(file);
        return Loaded{emptyHive(root).hive, false, {}, true};
    }
    entry.identity = Identity::of(st);
    entry.settled = isSettled(entry.identity);
    if (!result.hive) {
        const bool unchanged = found != g_entries.end() && found->root == root &&
                               found->identity == entry.identity && found->bytes == entry.bytes;
        result = unchanged ? found->loaded : parsed(root, file, entry.bytes);
    }
    entry.loaded = result;
    if (entry.settled)
        entry.bytes.clear(); // from now on the identity alone tells
    if (g_entries.size() >= kMaxEntries && !g_entries.contains(file))
        g_entries.clear();
    g_entries.insert(file, std::move(entry));
    return result;
}

void RegistryFileCache::remember(RegistryRoot root, const QString &file, const QByteArray &bytes,
                                 std::shared_ptr<const RegistryHive> hive)
{
    QMutexLocker locker(&g_mutex);
    struct stat st {
    };
    if (::stat(QFile::encodeName(file).constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        g_entries.remove(file);
        return;
    }
    Entry entry;
    entry.root = root;
    entry.identity = Identity::of(st);
    // Just written: never settled yet, so the next read compares the bytes before trusting them.
    entry.settled = false;
    entry.bytes = bytes;
    entry.loaded = {std::move(hive), false, QString(), false};
    if (g_entries.size() >= kMaxEntries && !g_entries.contains(file))
        g_entries.clear();
    g_entries.insert(file, std::move(entry));
}

quint64 RegistryFileCache::parseCount()
{
    QMutexLocker locker(&g_mutex);
    return g_parses;
}

} // namespace qmt
