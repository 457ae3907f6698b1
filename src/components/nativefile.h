#pragma once

#include "components/result.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cerrno>
#include <sys/types.h>

class QFile;

namespace qmt {

// File names on Linux are bytes, not text. Qt reads them as UTF-8, and a name that is not valid
// UTF-8 (an old Latin-1 name from a camera card, a name from a Windows archive) cannot be turned
// back into the same bytes, so Qt can neither list nor open it. The program keeps such names in
// its paths with every byte that is not part of valid UTF-8 written as a lone surrogate
// (U+DC80 + byte). No valid name holds a lone surrogate, so every name has exactly one spelling
// and the bytes come back unchanged whenever the program asks the system for the file.

// The bytes to hand to the system for `path`.
QByteArray nativePath(const QString &path);
// The program's spelling of a name or path the system gave.
QString pathFromNative(const QByteArray &bytes);
// Whether the path holds bytes that are not valid UTF-8 (and so needs nativePath() for every
// system call: Qt's file classes cannot reach it).
bool hasUndecodableBytes(const QString &path);
// The name as a person can read it: every byte that is not valid UTF-8 shown as U+FFFD.
QString displayName(const QString &name);

// The text of a system error number.
QString errnoText(int error);

// Files are told apart by the device and inode they live on, never by path: two paths can name
// one file (bind mounts, hard links, links to folders), and one path can name two files in turn.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity &) const = default;
};

// What stat() tells about a path.
struct PathStatus {
    enum class Kind { Missing, Regular, Directory, Link, Other };
    Kind kind = Kind::Missing;
    FileIdentity identity;
    mode_t mode = 0;
    qint64 size = 0;
    qint64 mtime = 0; // seconds since the epoch
    int error = 0;    // errno when the path could not be examined

    bool exists() const { return kind != Kind::Missing; }
    bool isRegular() const { return kind == Kind::Regular; }
    bool isDirectory() const { return kind == Kind::Directory; }
    // Whether the path could not be examined for lack of permission (a folder on the way that
    // may be read but not entered, or not read at all).
    bool denied() const { return error == EACCES || error == EPERM; }
};

// stat() of the path, following a symbolic link at the end or (with `followLinks` false)
// describing the link itself.
PathStatus statPath(const QString &path, bool followLinks = true);

// Opens `path` for reading only when it is a regular file. A FIFO, a device or a socket named
// like a picture would block the reader or do harm when opened: it is refused before it is
// opened, and once more after (it may have been swapped in between). With `followLinks` false a
// symbolic link is refused as well. On failure the reason is in words a user can read.
Status openRegularFile(QFile &file, const QString &path, bool followLinks = true);

// Writes `bytes` to a fresh file beside `target` (made 0600, never opened through a link) and
// renames it over `target`: a link planted at the name is replaced, never followed, and no
// partial file is left behind. Nothing is flushed to the disk: for files that may be lost, such
// as thumbnails. The reason for a failure is the system's.
Status replaceFileQuickly(const QString &target, const QByteArray &bytes);

// One entry of a folder as the system lists it.
struct FolderEntry {
    QString name; // in the program's spelling (see pathFromNative)
    // What the entry is, following a link unless asked not to; Missing when that cannot be
    // told (a dangling link, no permission).
    PathStatus status;
};

// The entries of a folder, "." and ".." left out, in the order the system gives them; at most
// `maxEntries` are read. A folder that cannot be read, or can be read but not entered (its
// files could be named but not opened), is a failure whose text says which.
Result<QList<FolderEntry>> readFolderEntries(const QString &folder, qsizetype maxEntries,
                                             bool followLinks = true);

} // namespace qmt
