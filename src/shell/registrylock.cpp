#include "shell/registrylock.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qmt {
namespace {

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

RegistryLock::RegistryLock(const QString &path) : m_path(path) {}

RegistryLock::~RegistryLock()
{
    release();
}

RegistryError RegistryLock::acquire(int timeoutMs)
{
    if (m_fd >= 0)
        return RegistryError::None;
    const QByteArray name = QFile::encodeName(m_path);
    const QDeadlineTimer deadline(timeoutMs);
    int pauseMs = 1;
    for (;;) {
        // O_NOFOLLOW: a link planted at the name is never followed; O_CLOEXEC: programs started
        // while the lock is held do not inherit it.
        const int fd =
            ::open(name.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
        if (fd < 0) {
            if (errno == EACCES || errno == EPERM || errno == EROFS)
                return RegistryError::AccessDenied;
            return RegistryError::WriteFailed;
        }
        struct stat held {
        };
        if (::fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
            ::close(fd);
            return RegistryError::WriteFailed;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            struct stat named {
            };
            if (::stat(name.constData(), &named) == 0 && sameFile(held, named)) {
                m_fd = fd;
                return RegistryError::None;
            }
            // The holder before us removed the file after we opened it: take the new one.
            ::close(fd);
            continue;
        }
        const int why = errno;
        ::close(fd);
        if (why != EWOULDBLOCK && why != EINTR)
            return RegistryError::WriteFailed;
        if (deadline.hasExpired())
            return RegistryError::Busy;
        QThread::msleep(qMin<qint64>(pauseMs, qMax<qint64>(1, deadline.remainingTime())));
        pauseMs = qMin(pauseMs * 2, 50);
    }
}

void RegistryLock::release()
{
    if (m_fd < 0)
        return;
    // Removed while still held, so that whoever opened it meanwhile sees it is gone and retries.
    ::unlink(QFile::encodeName(m_path).constData());
    ::close(m_fd);
    m_fd = -1;
}

} // namespace qmt
