#pragma once

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <optional>

namespace qmt {

// Thumbnails kept for the rest of the session when the shared thumbnail cache cannot be written
// (a read-only ~/.cache, a full disk, a cache folder of another user), so that a list can let
// go of the pictures far off screen and have them back without decoding the photo again.
//
// Entries go to a private folder made fresh (0700) under the first of `parents` where one can
// be made (by default the temporary folder, then $XDG_RUNTIME_DIR), each written under a fresh
// name and renamed into place, and read back only as regular files, never through a link. The
// folder and everything in it is removed with the store; it holds kDiskCap bytes at most. When
// no folder can be made or written there, entries are kept compressed in memory up to
// `memoryCap` bytes in all. Beyond either cap nothing more is kept. An entry is tied to the file's
// size and modification time: a changed file has none. Every member may be called from any thread.
//
// The store holds an flock() on a lock file in its folder for its whole life, so that a later
// program can tell a folder left by a crash or a kill from one in use: making the first store of
// a parent sweeps the folders left there (SessionFolderSweeper), off the calling thread.
class SessionThumbnails
{
public:
    // The folders are made from this prefix and six letters or digits.
    static constexpr char kFolderPrefix[] = "pictavo-thumbnails-";
    static constexpr char kLockFileName[] = ".lock";
    static constexpr qint64 kMemoryCap = 32 << 20;
    static constexpr qint64 kDiskCap = qint64(512) << 20;
    // An entry larger than this is not kept (a thumbnail is far smaller).
    static constexpr qint64 kMaxEntryBytes = 1 << 20;

    explicit SessionThumbnails(const QStringList &parents = {}, qint64 memoryCap = kMemoryCap);
    ~SessionThumbnails();
    SessionThumbnails(const SessionThumbnails &) = delete;
    SessionThumbnails &operator=(const SessionThumbnails &) = delete;

    static QStringList defaultParents();
    // Removes the folders of every store alive, for a program that ends without destroying
    // them; what they are given afterwards is kept in memory.
    static void removeAllFolders();

    // Keeps the thumbnail of `path` as the file is now; false when it could not be kept.
    bool store(const QString &path, const QImage &thumbnail);
    // The thumbnail kept for `path`, when the file has not changed since.
    std::optional<QImage> lookup(const QString &path) const;

    // Where entries are kept: the private folder (empty until the first entry is written, or
    // when none could be made), and the bytes kept in memory.
    QString folder() const;
    qint64 memoryBytes() const;
    int count() const;

private:
    struct Entry {
        qint64 mtime = 0;
        qint64 size = 0;
        bool png = false;
        QString file; // in the folder, when written there
        qint64 fileBytes = 0;
        QByteArray bytes; // when kept in memory
    };

    bool makeFolder();
    void removeFolder();

    const QStringList m_parents;
    const qint64 m_memoryCap;
    mutable QMutex m_mutex;
    QHash<QString, Entry> m_entries;
    QString m_folder;
    int m_lockFd = -1;         // held while the folder exists
    bool m_diskFailed = false; // no folder could be made, or one stopped taking entries
    qint64 m_memoryBytes = 0;
    qint64 m_diskBytes = 0;
    quint64 m_nextName = 0;
};

} // namespace qmt
