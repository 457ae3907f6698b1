#include "components/sessionfoldersweeper.h"

#include "components/nativefile.h"
#include "components/sessionthumbnails.h"

#include <condition_variable>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace qmt {
namespace {

// A descriptor closed when it goes out of scope.
class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }
    void reset(int fd)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

// A folder listing over a descriptor of its own, closed when it goes out of scope.
class Listing
{
public:
    explicit Listing(int folderFd)
    {
        const int fd = ::fcntl(folderFd, F_DUPFD_CLOEXEC, 0);
        if (fd >= 0 && (m_dir = ::fdopendir(fd)) == nullptr)
            ::close(fd);
    }
    ~Listing()
    {
        if (m_dir != nullptr)
            ::closedir(m_dir);
    }
    Listing(const Listing &) = delete;
    Listing &operator=(const Listing &) = delete;
    bool isValid() const { return m_dir != nullptr; }
    void rewind() { ::rewinddir(m_dir); }
    // The next entry's name, "." and ".." left out; nullptr at the end.
    const dirent *next()
    {
        while (const dirent *entry = ::readdir(m_dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                return entry;
        }
        return nullptr;
    }

private:
    DIR *m_dir = nullptr;
};

bool stopped(const std::atomic_bool *stop)
{
    return stop != nullptr && stop->load(std::memory_order_relaxed);
}

// Whether `name` is one that mkdtemp() makes from the store's template: the prefix, then six
// ASCII letters or digits.
bool hasOurPattern(const char *name)
{
    const std::size_t prefix = std::strlen(SessionThumbnails::kFolderPrefix);
    if (std::strncmp(name, SessionThumbnails::kFolderPrefix, prefix) != 0 ||
        std::strlen(name) != prefix + 6)
        return false;
    for (const char *c = name + prefix; *c != '\0'; ++c) {
        const bool alnum =
            (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9');
        if (!alnum)
            return false;
    }
    return true;
}

// Whether an entry of a folder is a regular file or a link, never following it.
bool isFileOrLink(int folderFd, const dirent *entry)
{
    if (entry->d_type == DT_REG || entry->d_type == DT_LNK)
        return true;
    if (entry->d_type != DT_UNKNOWN)
        return false;
    struct stat st {
    };
    return ::fstatat(folderFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode));
}

// Whether the folder holds only regular files and links, no more than `maxEntries` of them.
bool holdsOnlyFiles(Listing &listing, int folderFd, qint64 maxEntries)
{
    qint64 count = 0;
    while (const dirent *entry = listing.next()) {
        if (++count > maxEntries || !isFileOrLink(folderFd, entry))
            return false;
    }
    return true;
}

// Whether the store that made the folder has ended. `lock` receives the lock file, held, so
// that the store's lock stays taken while the folder is emptied.
bool ownerHasEnded(int folderFd, const struct stat &folder, Descriptor &lock)
{
    // Non-blocking: a FIFO planted as the lock file must not hold the sweep up.
    lock.reset(::openat(folderFd, SessionThumbnails::kLockFileName,
                        O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!lock.isValid()) {
        if (errno != ENOENT)
            return false; // a link, or what cannot be opened: not ours to judge
        // An older build kept no lock file: its folder is left once idle for a day.
        return qint64(std::time(nullptr)) - qint64(folder.st_mtime) >=
               SessionFolderSweeper::kUnlockedAgeSeconds;
    }
    struct stat st {
    };
    if (::fstat(lock.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    // Made a moment ago: its store may be about to lock it. Not even tried, so that the store's
    // own attempt never meets ours.
    if (qint64(std::time(nullptr)) - qint64(st.st_mtime) < SessionFolderSweeper::kNewLockSeconds)
        return false;
    // Taken only when no open file description anywhere holds it: its store is gone.
    return ::flock(lock.get(), LOCK_EX | LOCK_NB) == 0;
}

// Removes the regular files and links in the folder by name, the lock file last, then the
// folder itself. Stops early, leaving the lock file, when asked to: a later sweep goes on.
bool emptyAndRemove(int parentFd, const char *name, int folderFd, Listing &listing,
                    const std::atomic_bool *stop)
{
    listing.rewind();
    while (const dirent *entry = listing.next()) {
        if (stopped(stop))
            return false;
        if (std::strcmp(entry->d_name, SessionThumbnails::kLockFileName) == 0 ||
            !isFileOrLink(folderFd, entry))
            continue;
        ::unlinkat(folderFd, entry->d_name, 0); // never follows a link: the link goes
    }
    ::unlinkat(folderFd, SessionThumbnails::kLockFileName, 0);
    // Only an empty folder is removed: anything added meanwhile keeps it.
    return ::unlinkat(parentFd, name, AT_REMOVEDIR) == 0;
}

// Removes the folder `name` of the parent when it is one of ours whose store has ended.
bool removeIfLeft(int parentFd, const char *name, qint64 maxEntries, const std::atomic_bool *stop)
{
    struct stat st {
    };
    if (::fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::geteuid() || (st.st_mode & 07777) != 0700)
        return false;
    const Descriptor folder(
        ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat opened {
    };
    if (!folder.isValid() || ::fstat(folder.get(), &opened) != 0 || opened.st_dev != st.st_dev ||
        opened.st_ino != st.st_ino)
        return false; // swapped since it was looked at
    Descriptor lock;
    if (!ownerHasEnded(folder.get(), opened, lock))
        return false;
    Listing listing(folder.get());
    if (!listing.isValid() || !holdsOnlyFiles(listing, folder.get(), maxEntries))
        return false;
    return emptyAndRemove(parentFd, name, folder.get(), listing, stop);
}

// The names of our pattern in the parent, at most `limits.maxFolders` of them.
std::vector<std::string> candidatesIn(int parentFd, const SessionFolderSweeper::Limits &limits,
                                      const std::atomic_bool *stop)
{
    std::vector<std::string> names;
    Listing listing(parentFd);
    if (!listing.isValid())
        return names;
    qint64 looked = 0;
    while (const dirent *entry = listing.next()) {
        if (++looked > limits.maxParentEntries || stopped(stop))
            break;
        if (hasOurPattern(entry->d_name)) {
            names.emplace_back(entry->d_name);
            if (qsizetype(names.size()) >= limits.maxFolders)
                break;
        }
    }
    return names;
}

// Sweeps run on one thread at a time, taking the parents asked for in turn; a program that ends
// normally stops and waits for it.
class Background
{
public:
    ~Background()
    {
        m_stop = true;
        std::thread worker;
        {
            std::unique_lock lock(m_mutex);
            worker = std::move(m_worker);
        }
        if (worker.joinable())
            worker.join();
    }

    void add(const QStringList &parents)
    {
        std::unique_lock lock(m_mutex);
        for (const QString &parent : parents) {
            std::string bytes = nativePath(parent).toStdString();
            if (!bytes.empty() && m_asked.insert(bytes).second)
                m_queue.push_back(std::move(bytes));
        }
        if (m_running || m_queue.empty())
            return;
        if (m_worker.joinable())
            m_worker.join(); // ended: it cleared m_running before returning
        m_running = true;
        m_worker = std::thread([this] { run(); });
    }

    void wait()
    {
        std::unique_lock lock(m_mutex);
        m_idle.wait(lock, [this] { return !m_running; });
    }

private:
    void run()
    {
        // The lowest priority: a sweep never takes a core from the window or the thumbnails.
        const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
        ::setpriority(PRIO_PROCESS, tid, 19);
        for (;;) {
            std::string parent;
            {
                std::unique_lock lock(m_mutex);
                if (m_queue.empty() || m_stop) {
                    m_running = false;
                    m_idle.notify_all();
                    return;
                }
                parent = std::move(m_queue.front());
                m_queue.pop_front();
            }
            SessionFolderSweeper::sweep(pathFromNative(QByteArray::fromStdString(parent)),
                                        SessionFolderSweeper::Limits(), &m_stop);
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_idle;
    std::deque<std::string> m_queue;
    std::set<std::string> m_asked;
    std::thread m_worker;
    bool m_running = false;
    std::atomic_bool m_stop = false;
};

Background &background()
{
    static Background instance;
    return instance;
}

} // namespace

int SessionFolderSweeper::sweep(const QString &parent, const Limits &limits,
                                const std::atomic_bool *stop)
{
    const Descriptor parentFd(
        ::open(nativePath(parent).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parentFd.isValid())
        return 0;
    int removed = 0;
    for (const std::string &name : candidatesIn(parentFd.get(), limits, stop)) {
        if (stopped(stop))
            break;
        if (removeIfLeft(parentFd.get(), name.c_str(), limits.maxEntries, stop))
            ++removed;
    }
    return removed;
}

void SessionFolderSweeper::sweepInBackground(const QStringList &parents)
{
    background().add(parents);
}

void SessionFolderSweeper::waitForBackground()
{
    background().wait();
}

} // namespace qmt
