#pragma once

#include "shell/registrystorehive.h"

#include <QString>

namespace qmt {

// The lock that makes one process's change of a registry file whole: a kernel lock (flock) on
// "<file>.lock". The kernel drops it when its holder ends, however it ends, so a writer that was
// killed never blocks the next one; the file itself is only a place to hang the lock on. The
// holder removes the file when it lets go, and a taker checks that the file it locked is still
// the one at the name, so a file removed meanwhile is never trusted.
class RegistryLock
{
public:
    explicit RegistryLock(const QString &path);
    ~RegistryLock();
    RegistryLock(const RegistryLock &) = delete;
    RegistryLock &operator=(const RegistryLock &) = delete;

    // Waits up to timeoutMs for another process to let go. Busy when it did not, AccessDenied
    // when the lock file cannot be made, WriteFailed when its name is taken by something that
    // is no regular file (a link, a folder).
    RegistryError acquire(int timeoutMs);
    bool isLocked() const { return m_fd >= 0; }
    void release();

private:
    QString m_path;
    int m_fd = -1;
};

} // namespace qmt
