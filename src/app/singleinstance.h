#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

namespace qmt {

// At most one running program per user: a lock file in the user's runtime folder. A lock left by
// a program that died is recovered; one held by a running program is not.
class SingleInstance
{
public:
    SingleInstance();
    ~SingleInstance();

    // True when this process is now the one instance.
    bool acquire();
    void release();
    static QString lockFilePath();

private:
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace qmt
