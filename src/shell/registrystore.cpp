#include "shell/registrystore.h"

#include "shell/registryfilecache.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QStandardPaths>

namespace qmt {
namespace {

Q_LOGGING_CATEGORY(lcRegistry, "qmt.registry")

// How long a change waits for another process's change to finish. A lock is held only while a
// file is written (or through a batch, which never waits for the user); a holder that dies lets
// go at once.
constexpr int kLockTimeoutMs = 10000;

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

std::shared_ptr<const RegistryHive> RegistryStore::load(RegistryRoot root) const
{
    if (const RegistryBatch *batch = RegistryBatch::active(m_directory)) {
        // Not owned: the batch keeps it.
        if (const RegistryHive *hive = batch->opened(root))
            return std::shared_ptr<const RegistryHive>(std::shared_ptr<const RegistryHive>(), hive);
    }
    const QString file = fileOf(root);
    if (file.isEmpty())
        return std::make_shared<const RegistryHive>(root);
    return RegistryFileCache::load(root, file).hive;
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
    auto found = load(root)->value(*path, valueName);
    if (!found)
        return report(RegistryError::NotFound);
    if (error)
        *error = RegistryError::None;
    return found;
}

bool RegistryStore::keyExists(RegistryRoot root, const QString &keyPath) const
{
    const auto path = splitPath(keyPath);
    return path && !registryRootName(root).isEmpty() && load(root)->hasKey(*path);
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
    else if (!(names = ((*load(root)).*lister)(*path)))
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
    return modify(root, [&](RegistryHive &hive) { return hive.createKey(*path); });
}

RegistryError RegistryStore::setValue(RegistryRoot root, const QString &keyPath,
                                      const QString &valueName, const RegistryValue &value)
{
    const auto path = splitPath(keyPath);
    if (!path)
        return RegistryError::InvalidName;
    return modify(root, [&](RegistryHive &hive) { return hive.setValue(*path, valueName, value); });
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

RegistryError RegistryStore::lockAndRead(RegistryRoot root, RegistryLock &lock,
                                         RegistryHive &hive) const
{
    const QString file = fileOf(root);
    if (file.isEmpty())
        return RegistryError::InvalidRoot;
    if (!isWritable(root))
        return RegistryError::AccessDenied;
    if (!QFileInfo::exists(m_directory) && !QDir().mkpath(m_directory))
        return RegistryError::AccessDenied;

    const RegistryError locked = lock.acquire(kLockTimeoutMs);
    if (locked != RegistryError::None)
        return locked;

    // Read again under the lock: another process may have changed the file since our last read.
    const RegistryFileCache::Loaded loaded = RegistryFileCache::load(root, file);
    if (loaded.readFailed)
        return RegistryError::WriteFailed;
    if (loaded.damaged && !keepAside(file))
        return RegistryError::WriteFailed;
    hive = *loaded.hive;
    return RegistryError::None;
}

RegistryError RegistryStore::write(RegistryRoot root, RegistryHive hive) const
{
    const QByteArray bytes = hive.serialize();
    // Never write what a later read would refuse as damaged.
    if (bytes.size() > RegistryHive::kMaxFileSize)
        return RegistryError::TooLarge;
    // QSaveFile writes beside the file, syncs and renames: the file is replaced whole or not at
    // all.
    const QString file = fileOf(root);
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return RegistryError::WriteFailed;
    if (out.write(bytes) != bytes.size()) {
        out.cancelWriting();
        return RegistryError::WriteFailed;
    }
    if (!out.commit())
        return RegistryError::WriteFailed;
    RegistryFileCache::remember(root, file, bytes,
                                std::make_shared<const RegistryHive>(std::move(hive)));
    return RegistryError::None;
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

    RegistryLock lock(fileOf(root) + QStringLiteral(".lock"));
    RegistryHive hive(root);
    RegistryError error = lockAndRead(root, lock, hive);
    if (error != RegistryError::None)
        return error;
    error = change(hive);
    if (error != RegistryError::None)
        return error;
    return write(root, std::move(hive));
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
    entry.lock = std::make_unique<RegistryLock>(m_store.fileOf(root) + QStringLiteral(".lock"));
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
        if (entry.dirty && m_store.write(root, std::move(entry.hive)) != RegistryError::None)
            ok = false;
    }
    m_roots.clear(); // releases the locks
    g_activeBatch = nullptr;
    m_outermost = false;
    return ok;
}

} // namespace qmt
