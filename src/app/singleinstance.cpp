#include "app/singleinstance.h"

#include <QDir>
#include <QStandardPaths>

#include <unistd.h>

namespace qmt {

SingleInstance::SingleInstance() = default;

SingleInstance::~SingleInstance() { release(); }

QString SingleInstance::lockFilePath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QDir::tempPath() + QStringLiteral("/pictavo-%1").arg(::getuid());
        QDir().mkpath(folder);
    }
    return folder + QStringLiteral("/pictavo.lock");
}

bool SingleInstance::acquire()
{
    if (m_lock && m_lock->isLocked())
        return true;
    m_lock = std::make_unique<QLockFile>(lockFilePath());
    // Age alone never makes a lock stale: only a holder that no longer runs does.
    m_lock->setStaleLockTime(0);
    return m_lock->tryLock(0);
}

void SingleInstance::release()
{
    if (m_lock && m_lock->isLocked())
        m_lock->unlock();
}

} // namespace qmt
