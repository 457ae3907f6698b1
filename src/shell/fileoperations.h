#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <utility>

namespace qmt {

// Shows how far a long file operation is and lets the user stop it. The program's own shows a
// progress dialog once an operation has run for half a second; tests script it.
class FileProgress
{
public:
    virtual ~FileProgress() = default;
    virtual void start(const QString &title, qint64 totalBytes) = 0;
    // False when the user pressed Cancel.
    virtual bool advance(qint64 doneBytes, const QString &currentFile) = 0;
    virtual void finish() = 0;
};

// What a file operation did. Paths are absolute.
struct FileOperationResult {
    bool cancelled = false; // the user stopped it (a confirmation or the progress dialog)
    QStringList errors;     // each already shown to the user
    QList<std::pair<QString, QString>> moved; // from, to: moves and renames
    QStringList copied;                       // targets written by a copy
    QStringList removed;                      // sources deleted or trashed
    QStringList skipped;                      // sources the user chose not to act on
    // Pipes, devices and sockets inside copied or moved folders: they hold no file contents
    // and are not copied (a move leaves them where they were).
    QStringList leftOut;

    bool ok() const { return !cancelled && errors.isEmpty(); }
};

// Copy, move, rename and delete for the explorer and the viewer, with the questions a desktop
// asks (delete to the trash? delete for good? replace?) put through the prompts, a progress
// dialog for long runs and plain-word errors. Every question of a copy or move is asked before
// any byte moves, and the progress dialog comes up only while bytes move. A copy is written
// under a temporary name (".NAME.XXXXXX.part", locked while written) in the destination folder
// and renamed when complete; partial copies left by a copy that was killed are removed when
// found. A move to another file system copies, checks size and content, and only then removes
// the source. Files are compared by device and inode: a copy or move of a file onto itself
// through another path is refused. Names are handled as the bytes they are (see nativefile.h),
// so folders keep names that are not valid UTF-8. Whatever fails or is cancelled leaves the
// source as it was and nothing half-written at the destination. Thumbnails in the shared cache
// follow renamed and moved files and go with deleted ones.
class FileOperations
{
public:
    FileOperations();
    ~FileOperations();

    // Each source into `folder` under its own name.
    FileOperationResult copyTo(const QStringList &sources, const QString &folder);
    FileOperationResult moveTo(const QStringList &sources, const QString &folder);
    // One source to the full target path.
    FileOperationResult copyFile(const QString &source, const QString &target);
    FileOperationResult moveFile(const QString &source, const QString &target);
    // A new name in the same folder. A name that is empty, holds a "/", or names an existing
    // file is refused with a message; one that names an existing folder, or the same name,
    // does nothing.
    FileOperationResult rename(const QString &source, const QString &newName);
    // To the trash (asking first), or for good when `permanently`. Where the trash cannot take
    // a file the user is asked whether to delete it for good.
    FileOperationResult remove(const QStringList &sources, bool permanently);

    // Progress display for long operations; the default shows a dialog when there is a
    // widget application, nothing otherwise.
    using ProgressFactory = std::function<std::unique_ptr<FileProgress>()>;
    static void setProgressFactory(ProgressFactory factory);
    // Makes every move take the copy-verify-remove road, as across file systems.
    static void setForceCopyForMoves(bool force);
    // The folder path with one trailing "/" (a typed destination often lacks it).
    static QString withTrailingSeparator(const QString &folder);

    // Removes the partial copies in `folder` that no copy is writing any more.
    static void removeStaleParts(const QString &folder);

private:
    struct Run;
    struct Step;
    FileOperationResult transfer(const QList<std::pair<QString, QString>> &pairs, bool move);
    static bool plan(Run &run, const QList<std::pair<QString, QString>> &pairs, bool move,
                     QList<Step> *steps);
    static bool execute(Run &run, const Step &step, bool move);
};

} // namespace qmt
