#include "app/singleinstance.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

namespace qmt {
namespace {

// A folder in the shared temporary folder is only used when this user made it and no one else
// may enter it: another user could otherwise have made it first and listen in it.
bool isPrivateFolder(const QString &folder)
{
    struct stat info {
    };
    if (::lstat(QFile::encodeName(folder).constData(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

} // namespace

SingleInstance::SingleInstance() = default;

SingleInstance::~SingleInstance()
{
    release();
}

QString SingleInstance::runtimeFolder()
{
    // Qt checks XDG_RUNTIME_DIR's owner and mode itself and gives "" when they are wrong.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty())
        return runtime;
    const QString folder = QDir::tempPath() + QStringLiteral("/pictavo-%1").arg(::getuid());
    ::mkdir(QFile::encodeName(folder).constData(), 0700);
    return isPrivateFolder(folder) ? folder : QString();
}

QString SingleInstance::lockFilePath()
{
    const QString folder = runtimeFolder();
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/pictavo.lock");
}

QString SingleInstance::socketPath()
{
    const QString folder = runtimeFolder();
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/pictavo.socket");
}

bool SingleInstance::acquire()
{
    if (m_lock && m_lock->isLocked())
        return true;
    const QString path = lockFilePath();
    // Without a private folder there is no telling whether another one runs: this one does.
    if (path.isEmpty())
        return true;
    m_lock = std::make_unique<QLockFile>(path);
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
