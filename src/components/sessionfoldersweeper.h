#pragma once

#include <QString>
#include <QStringList>

#include <atomic>

namespace qmt {

// Removes the private thumbnail folders (see SessionThumbnails) that programs which ended without
// removing them left behind: a crash or a kill leaves one of up to 512 MB in the temporary folder,
// and nothing else ever removes it.
//
// Whether the program that made a folder still runs is told by the kernel, not by a guess from a
// process id: a live store holds an flock() on the lock file in its folder for as long as it
// lives, and the lock goes with the process however it ends. A folder whose lock can be taken
// belongs to nobody. Folders of older builds, which had no lock file, count as left behind once
// nothing was written in them for a day.
//
// Only what is plainly one of ours is touched: a name of the store's pattern directly in the
// parent, a real folder (not a link) of this user with mode 0700, holding nothing but regular
// files and links. Those are removed by name, never followed, then the lock file, then the
// folder. Anything else (a link named like ours, a folder of another user or of another mode,
// one holding a subfolder or a device) is left as it is.
class SessionFolderSweeper
{
public:
    struct Limits {
        // Folders of our pattern looked at in one parent; more wait for a later start.
        int maxFolders = 256;
        // Entries in one folder: a store holds at most 512 MB of thumbnails of some hundreds of
        // bytes at the least. A folder holding more is not one of ours and is left alone.
        qint64 maxEntries = qint64(1) << 20;
        // Entries of the parent looked through in search of ours.
        qint64 maxParentEntries = qint64(1) << 20;
    };
    // How long a folder without a lock file has had nothing written before it counts as left.
    static constexpr qint64 kUnlockedAgeSeconds = 24 * 3600;
    // How long a lock file is left alone after it was made: a store makes its lock file, then
    // locks it, and a sweep between the two must not take the folder from under it.
    static constexpr qint64 kNewLockSeconds = 60;

    // Removes the folders left behind in `parent`, on the calling thread, and returns how many
    // went. `stop` ends the work early (between two entries) when it becomes true.
    static int sweep(const QString &parent, const Limits &limits,
                     const std::atomic_bool *stop = nullptr);
    static int sweep(const QString &parent) { return sweep(parent, Limits()); }

    // Sweeps each of `parents` not swept yet by this process, one after the other on a thread
    // of its own at the lowest priority: the caller never waits for it.
    static void sweepInBackground(const QStringList &parents);
    // Waits until the sweeps asked for so far have ended.
    static void waitForBackground();
};

} // namespace qmt
