#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

namespace qmt {

// At most one running program per user: a lock file in the user's runtime folder. A lock left by
// a program that died is recovered; one held by a running program is not. Beside the lock, the
// running program listens on a socket for the command lines of later starts.
class SingleInstance
{
public:
    SingleInstance();
    ~SingleInstance();

    // True when this process is now the one instance.
    bool acquire();
    void release();
    static QString lockFilePath();
    // Where the running program listens; "" when there is no folder only this user can enter.
    static QString socketPath();
    // The user's runtime folder (XDG_RUNTIME_DIR), or a folder of the user's own in the
    // temporary folder when there is none; "" when that one is not safe to use.
    static QString runtimeFolder();

private:
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace qmt
