#include "shell/registrystore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QStandardPaths>

namespace qmt {
namespace {

Q_LOGGING_CATEGORY(lcRegistry, "qmt.registry")

// How long a change waits for another process's change to finish.
constexpr int kLockTimeoutMs = 10000;
// A lock left by a process that died is taken over after this time (sooner when its process is
// known to be gone).
constexpr int kStaleLockMs = 30000;

// Writable for us, and not made read-only by its owner: the write bits are honoured even when the
// program runs as the superuser, so "chmod a-w" on the registry always means read-only.
bool permitsWriting(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isWritable())
        return false;
    return info.permissions() & (QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther);
}

// Moves a damaged file out of the way under a name that does not exist yet.
bool keepAside(const QString &file)
{
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = file + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = file + QStringLiteral(".damaged-%1-%2").arg(stamp).arg(n);
    if (!QFile::rename(file, target))
        return false;
    qCWarning(lcRegistry) << "damaged registry file kept as" << target;
    return true;
}

} // namespace

RegistryStore::RegistryStore() : m_directory(defaultDirectory()) {}

RegistryStore::RegistryStore(const QString &directory) : m_directory(directory) {}

QString RegistryStore::defaultDirectory()
{
    const QString fromEnv = qEnvironmentVariable("QMT_REGISTRY_DIR");
    if (!fromEnv.isEmpty())
        return QDir::cleanPath(fromEnv);
    return QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                           QStringLiteral("/pictavo/registry"));
}

QString RegistryStore::fileOf(RegistryRoot root) const
{
    const QString name = registryRootName(root);
    if (name.isEmpty())
        return QString();
    return m_directory + u'/' + name + QStringLiteral(".reg");
}

std::optional<QStringList> RegistryStore::splitPath(const QString &keyPath)
{
    QString path = keyPath;
    if (path.endsWith(u'\\'))
        path.chop(1);
    if (path.isEmpty())
        return QStringList();
    QStringList parts = path.split(u'\\');
    for (const QString &part : std::as_const(parts))
        if (!RegistryHive::isValidKeyName(part))
            return std::nullopt;
    return parts;
}

RegistryHive RegistryStore::load(RegistryRoot root) const
{
    if (const RegistryBatch *batch = RegistryBatch::active(m_directory)) {
        if (const RegistryHive *hive = batch->opened(root))
            return *hive;
    }
    QFile in(fileOf(root));
    if (in.fileName().isEmpty() || !in.open(QIODevice::ReadOnly))
        return RegistryHive(root);
    const QByteArray data = in.read(RegistryHive::kMaxFileSize + 1);
    QString why;
    auto hive = RegistryHive::parse(root, data, &why);
    if (!hive) {
        qCWarning(lcRegistry) << "registry file" << in.fileName() << "cannot be read:" << why;
        return RegistryHive(root);
    }
    return *hive;
}

std::optional<RegistryValue> RegistryStore::value(RegistryRoot root, const QString &keyPath,
                                                  const QString &valueName,
                                                  RegistryError *error) const
{
    auto report = [error](RegistryError e) {
        if (error)
            *error = e;
        return std::nullopt;
    };
    if (registryRootName(root).isEmpty())
        return report(RegistryError::InvalidRoot);
    const auto path = splitPath(keyPath);
    if (!path)
        return report(RegistryError::InvalidName);
    const RegistryHive hive = load(root);
    auto found = hive.value(*path, valueName);
    if (!found)
        return report(RegistryError::NotFound);
    if (error)
        *error = RegistryError::None;
    return found;
}

bool RegistryStore::keyExists(RegistryRoot root, const QString &keyPath) const
{
    const auto path = splitPath(keyPath);
    return path && !registryRootName(root).isEmpty() && load(root).hasKey(*path);
}

std::optional<QStringList> RegistryStore::subKeys(RegistryRoot root, const QString &keyPath,
                                                  RegistryError *error) const
{
    return listNames(root, keyPath, &RegistryHive::subKeys, error);
}

std::optional<QStringList> RegistryStore::valueNames(RegistryRoot root, const QString &keyPath,
                                                     RegistryError *error) const
{
    return listNames(root, keyPath, &RegistryHive::valueNames, error);
}

std::optional<QStringList> RegistryStore::listNames(RegistryRoot root, const QString &keyPath,
                                                    NameLister lister, RegistryError *error) const
{
    const auto path = splitPath(keyPath);
    RegistryError e = RegistryError::None;
    std::optional<QStringList> names;
    if (registryRootName(root).isEmpty())
        e = RegistryError::InvalidRoot;
    else if (!path)
        e = RegistryError::InvalidName;
    else if (!(names = (load(root).*lister)(*path)))
        e = RegistryError::NotFound;
    if (error)
        *error = e;
    return names;
}

RegistryError RegistryStore::createKey(RegistryRoot root, const QString &keyPath)
{
    const auto path = splitPath(keyPath);
    if (!path)
        return RegistryError::InvalidName;
    return modify(root, [&](RegistryHive &hive) {
        hive.createKey(*path);
        return RegistryError::None;
    });
}

RegistryError RegistryStore::setValue(RegistryRoot root, const QString &keyPath,
                                      const QString &valueName, const RegistryValue &value)
{
    const auto path = splitPath(keyPath);
    if (!path)
        return RegistryError::InvalidName;
    return modify(root, [&](RegistryHive &hive) {
        hive.setValue(*path, valueName, value);
        return RegistryError::None;
    });
}

RegistryError RegistryStore::deleteValue(RegistryRoot root, const QString &keyPath,
                                         const QString &valueName)
{
    const auto path = splitPath(keyPath);
    if (!path)
        return RegistryError::InvalidName;
    return modify(root, [&](RegistryHive &hive) { return hive.deleteValue(*path, valueName); });
}

RegistryError RegistryStore::deleteKey(RegistryRoot root, const QString &keyPath, bool recursive)
{
    const auto path = splitPath(keyPath);
    if (!path)
        return RegistryError::InvalidName;
    return modify(root, [&](RegistryHive &hive) { return hive.deleteKey(*path, recursive); });
}

bool RegistryStore::isWritable(RegistryRoot root) const
{
    const QString file = fileOf(root);
    if (file.isEmpty())
        return false;
    if (QFileInfo::exists(file))
        return permitsWriting(m_directory) && permitsWriting(file);
    // A missing folder is writable when its nearest existing parent is.
    QString dir = m_directory;
    while (!QFileInfo::exists(dir)) {
        const QString parent = QFileInfo(dir).path();
        if (parent == dir)
            return false;
        dir = parent;
    }
    return QFileInfo(dir).isDir() && permitsWriting(dir);
}

RegistryError RegistryStore::lockAndRead(RegistryRoot root, QLockFile &lock,
                                         RegistryHive &hive) const
{
    const QString file = fileOf(root);
    if (file.isEmpty())
        return RegistryError::InvalidRoot;
    if (!isWritable(root))
        return RegistryError::AccessDenied;
    if (!QFileInfo::exists(m_directory) && !QDir().mkpath(m_directory))
        return RegistryError::AccessDenied;

    lock.setStaleLockTime(kStaleLockMs);
    if (!lock.tryLock(kLockTimeoutMs)) {
        return lock.error() == QLockFile::PermissionError ? RegistryError::AccessDenied
                                                          : RegistryError::Busy;
    }

    // Read again under the lock: another process may have changed the file since our last read.
    hive = RegistryHive(root);
    QFile in(file);
    if (!in.exists())
        return RegistryError::None;
    if (!in.open(QIODevice::ReadOnly))
        return RegistryError::WriteFailed;
    const QByteArray data = in.read(RegistryHive::kMaxFileSize + 1);
    const bool readOk = in.error() == QFile::NoError;
    in.close();
    if (!readOk)
        return RegistryError::WriteFailed;
    QString why;
    auto parsed = RegistryHive::parse(root, data, &why);
    if (parsed) {
        hive = std::move(*parsed);
        return RegistryError::None;
    }
    qCWarning(lcRegistry) << "registry file" << file << "cannot be read:" << why;
    return keepAside(file) ? RegistryError::None : RegistryError::WriteFailed;
}

RegistryError RegistryStore::write(RegistryRoot root, const RegistryHive &hive) const
{
    // QSaveFile writes beside the file, syncs and renames: the file is replaced whole or not at
    // all.
    QSaveFile out(fileOf(root));
    if (!out.open(QIODevice::WriteOnly))
        return RegistryError::WriteFailed;
    const QByteArray bytes = hive.serialize();
    if (out.write(bytes) != bytes.size()) {
        out.cancelWriting();
        return RegistryError::WriteFailed;
    }
    return out.commit() ? RegistryError::None : RegistryError::WriteFailed;
}

RegistryError RegistryStore::modify(RegistryRoot root,
                                    const std::function<RegistryError(RegistryHive &)> &change)
{
    if (RegistryBatch *batch = RegistryBatch::active(m_directory)) {
        RegistryError error = RegistryError::None;
        RegistryHive *hive = batch->open(root, &error);
        if (!hive)
            return error;
        error = change(*hive);
        if (error == RegistryError::None)
            batch->m_roots[root].dirty = true;
        return error;
    }

    QLockFile lock(fileOf(root) + QStringLiteral(".lock"));
    RegistryHive hive(root);
    RegistryError error = lockAndRead(root, lock, hive);
    if (error != RegistryError::None)
        return error;
    error = change(hive);
    if (error != RegistryError::None)
        return error;
    return write(root, hive);
}

namespace {
RegistryBatch *g_activeBatch = nullptr;
}

RegistryBatch::RegistryBatch()
{
    if (!g_activeBatch) {
        g_activeBatch = this;
        m_outermost = true;
    }
}

RegistryBatch::~RegistryBatch()
{
    commit();
}

RegistryBatch *RegistryBatch::active(const QString &directory)
{
    return g_activeBatch && g_activeBatch->m_store.directory() == directory ? g_activeBatch
                                                                            : nullptr;
}

RegistryHive *RegistryBatch::open(RegistryRoot root, RegistryError *error)
{
    auto found = m_roots.find(root);
    if (found != m_roots.end())
        return &found->second.hive;
    Root entry;
    entry.lock = std::make_unique<QLockFile>(m_store.fileOf(root) + QStringLiteral(".lock"));
    entry.hive = RegistryHive(root);
    *error = m_store.lockAndRead(root, *entry.lock, entry.hive);
    if (*error != RegistryError::None)
        return nullptr; // the lock is released with entry
    return &m_roots.emplace(root, std::move(entry)).first->second.hive;
}

const RegistryHive *RegistryBatch::opened(RegistryRoot root) const
{
    const auto found = m_roots.find(root);
    return found == m_roots.end() ? nullptr : &found->second.hive;
}

bool RegistryBatch::commit()
{
    if (!m_outermost)
        return true;
    bool ok = true;
    for (auto &[root, entry] : m_roots) {
        if (entry.dirty && m_store.write(root, entry.hive) != RegistryError::None)
            ok = false;
    }
    m_roots.clear(); // releases the locks
    g_activeBatch = nullptr;
    m_outermost = false;
    return ok;
}

} // namespace qmt
