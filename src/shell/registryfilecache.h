#pragma once

#include "shell/registrystorehive.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace qmt {

// The registry files this process has read, each parsed once for as long as it stays the same.
// A file counts as the same while its device, inode, size, change time and modification time
// all are; a file written so recently that a second change could hide inside the same time
// stamp is read again and compared byte for byte before its parsed form is used. So a change by
// another process, or by hand in an editor, is seen at the next read, and an unchanged file
// costs one stat() a read.
class RegistryFileCache
{
public:
    struct Loaded {
        std::shared_ptr<const RegistryHive> hive; // never null; empty when missing or damaged
        bool damaged = false;                     // present but not a registry file of ours
        QString why;                              // why it counts as damaged
        bool readFailed = false;                  // present but could not be read (I/O error)
    };

    // The hive of `root` as `file` holds it now.
    static Loaded load(RegistryRoot root, const QString &file);
    // Records that `file` now holds `bytes`, the text of `hive`, as this process just wrote it.
    static void remember(RegistryRoot root, const QString &file, const QByteArray &bytes,
                         std::shared_ptr<const RegistryHive> hive);
    // How many times a file's text was parsed, for the tests.
    static quint64 parseCount();
};

} // namespace qmt
