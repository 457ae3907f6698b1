#pragma once

#include "shell/registrylock.h"
#include "shell/registrystorehive.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace qmt {

// The program's registry: one text file per root in the registry folder
// ($QMT_REGISTRY_DIR, else $XDG_CONFIG_HOME/pictavo/registry/), named after the root
// ("HKEY_LOCAL_MACHINE.reg"). Reads see the file as it is on disk; it is parsed again only when
// it changed (RegistryFileCache). Every change takes the root's lock (RegistryLock), reads the
// file again, applies the change and replaces the file atomically, so two processes writing at
// the same time never lose each other's values.
//
// A file that cannot be parsed, or passes the size limits of RegistryHive, is treated as an
// empty hive by reads; the first change moves it aside ("HKEY_LOCAL_MACHINE.reg.damaged-<time>")
// before writing a fresh one. A folder or file without write permission (the permission bits
// count even for the superuser) makes every change fail with AccessDenied while reads go on
// working.
class RegistryStore
{
public:
    // The folder from the environment in force now.
    RegistryStore();
    explicit RegistryStore(const QString &directory);

    static QString defaultDirectory();
    QString directory() const { return m_directory; }
    // The file that holds a root; empty for an unknown root.
    QString fileOf(RegistryRoot root) const;

    // Reads. Key paths are backslash-separated below the root; "" is the root itself; names
    // compare case-insensitively. An empty value name is the key's default value.
    std::optional<RegistryValue> value(RegistryRoot root, const QString &keyPath,
                                       const QString &valueName,
                                       RegistryError *error = nullptr) const;
    bool keyExists(RegistryRoot root, const QString &keyPath) const;
    std::optional<QStringList> subKeys(RegistryRoot root, const QString &keyPath,
                                       RegistryError *error = nullptr) const;
    std::optional<QStringList> valueNames(RegistryRoot root, const QString &keyPath,
                                          RegistryError *error = nullptr) const;

    // Changes. Each is one locked read-modify-write of the root's file.
    RegistryError createKey(RegistryRoot root, const QString &keyPath);
    // Creates the key (and its parents) when missing.
    RegistryError setValue(RegistryRoot root, const QString &keyPath, const QString &valueName,
                           const RegistryValue &value);
    RegistryError deleteValue(RegistryRoot root, const QString &keyPath, const QString &valueName);
    // Without recursive, a key that has sub-keys is not deleted (HasSubKeys).
    RegistryError deleteKey(RegistryRoot root, const QString &keyPath, bool recursive = false);

    // Whether changes to this root can be written now.
    bool isWritable(RegistryRoot root) const;

    // The whole hive as the file holds it (an empty hive for a missing or damaged file). Inside
    // a batch, the batch's hive, valid until its next change.
    std::shared_ptr<const RegistryHive> load(RegistryRoot root) const;

private:
    // The names of a key's sub-keys or values, with the reason when there are none.
    using NameLister = std::optional<QStringList> (RegistryHive::*)(const QStringList &) const;
    std::optional<QStringList> listNames(RegistryRoot root, const QString &keyPath,
                                         NameLister lister, RegistryError *error) const;

    friend class RegistryBatch;

    RegistryError modify(RegistryRoot root,
                         const std::function<RegistryError(RegistryHive &)> &change);
    // Takes the root's lock and reads its file afresh (moving a damaged file aside).
    RegistryError lockAndRead(RegistryRoot root, RegistryLock &lock, RegistryHive &hive) const;
    // Replaces the root's file with the hive; TooLarge when its text passes the file limit.
    RegistryError write(RegistryRoot root, RegistryHive hive) const;
    static std::optional<QStringList> splitPath(const QString &keyPath);

    QString m_directory;
};

// While one lives, the changes made in this thread through every RegistryStore of the default
// folder are collected: each root is locked and read at its first change, later reads of it see
// the collected changes, and it is written once when the batch ends. A long run of changes thus
// costs one write per root, and other processes see all of it or nothing. Hold one only around
// work that does not wait for the user: the roots stay locked while it lives. A batch started
// inside another one adds to the outer one.
class RegistryBatch
{
public:
    RegistryBatch();
    ~RegistryBatch();
    RegistryBatch(const RegistryBatch &) = delete;
    RegistryBatch &operator=(const RegistryBatch &) = delete;

    // Writes what changed and releases the locks; true when everything was written.
    bool commit();

private:
    friend class RegistryStore;
    struct Root {
        std::unique_ptr<RegistryLock> lock;
        RegistryHive hive;
        bool dirty = false;
    };

    static RegistryBatch *active(const QString &directory);
    // The root's collected hive, opening it on first use; nullptr with error on failure.
    RegistryHive *open(RegistryRoot root, RegistryError *error);
    const RegistryHive *opened(RegistryRoot root) const;

    RegistryStore m_store;
    bool m_outermost = false;
    std::map<RegistryRoot, Root> m_roots;
};

} // namespace qmt
