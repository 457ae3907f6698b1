#include "shell/fileoperations.h"

#include "components/nativefile.h"
#include "components/prompts.h"
#include "components/thumbnailcache.h"
#include "shell/trash.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProgressDialog>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qmt {
namespace {

constexpr qint64 kChunk = 1 << 20;
// Folder trees a copy, a move or a delete goes through: deeper nesting or fuller folders than
// these are refused rather than walked for ever.
constexpr int kMaxDepth = 256;
constexpr qsizetype kMaxFolderEntries = qsizetype(1) << 20;
// A partial copy nobody has locked or changed for this long was left by a killed copy.
constexpr qint64 kStalePartSeconds = 60;

bool g_forceCopy = false;

// A progress dialog that appears only when the operation lasts longer than half a second.
class DialogProgress final : public FileProgress
{
public:
    void start(const QString &title, qint64 totalBytes) override
    {
        m_total = qMax<qint64>(1, totalBytes);
        m_dialog = new QProgressDialog(title, QStringLiteral("Cancel"), 0, 1000);
        m_dialog->setWindowTitle(title);
        m_dialog->setWindowModality(Qt::ApplicationModal);
        m_dialog->setMinimumDuration(500);
        m_dialog->setAutoClose(false);
        m_dialog->setAutoReset(false);
        m_dialog->setValue(0);
    }
    bool advance(qint64 doneBytes, const QString &currentFile) override
    {
        if (!m_dialog)
            return true;
        m_dialog->setLabelText(currentFile);
        m_dialog->setValue(int(qBound(qint64(0), doneBytes * 1000 / m_total, qint64(1000))));
        return !m_dialog->wasCanceled();
    }
    void finish() override { delete m_dialog; }

private:
    QPointer<QProgressDialog> m_dialog;
    qint64 m_total = 1;
};

FileOperations::ProgressFactory &progressFactory()
{
    static FileOperations::ProgressFactory factory = []() -> std::unique_ptr<FileProgress> {
        if (qobject_cast<QApplication *>(QCoreApplication::instance()))
            return std::make_unique<DialogProgress>();
        return nullptr;
    };
    return factory;
}

// The file name as messages show it.
QString nameOf(const QString &path)
{
    return displayName(QFileInfo(path).fileName());
}

QString folderOf(const QString &path)
{
    return QFileInfo(path).absolutePath();
}

QString shown(const QString &path)
{
    return displayName(path);
}

QString missingText(const QString &path, const PathStatus &status)
{
    if (status.denied())
        return QStringLiteral("You have no permission to reach \"%1\": a folder on its way cannot "
                              "be entered.")
            .arg(shown(path));
    return QStringLiteral("\"%1\" cannot be found. It may have been moved or deleted.")
        .arg(shown(path));
}

// Whether `folder` or a folder above it is the folder `identity` (a folder moved into itself,
// perhaps through a link or a second mount of it).
bool isInsideFolder(const QString &folder, const FileIdentity &identity)
{
    QString dir = QDir::cleanPath(folder);
    for (int depth = 0; depth < 4 * kMaxDepth; ++depth) {
        const PathStatus status = statPath(dir);
        if (status.exists() && status.identity == identity)
            return true;
        if (dir == QLatin1String("/") || dir.isEmpty())
            return false;
        dir = QFileInfo(dir).path();
    }
    return true; // absurdly deep: refuse rather than risk it
}

// The bytes of every regular file below `path` (the file's own size for a file).
qint64 sizeOf(const QString &path, int depth = 0)
{
    const PathStatus status = statPath(path, false);
    if (!status.isDirectory())
        return status.isRegular() ? status.size : statPath(path).size;
    if (depth > kMaxDepth)
        return 0;
    const auto entries = readFolderEntries(path, kMaxFolderEntries, false);
    if (!entries)
        return 0;
    qint64 total = 0;
    for (const FolderEntry &entry : *entries) {
        if (entry.status.isDirectory())
            total += sizeOf(path + QLatin1Char('/') + entry.name, depth + 1);
        else if (entry.status.isRegular())
            total += entry.status.size;
    }
    return total;
}

// Removes the folder with everything in it, links removed and never followed, except the paths
// in `keep` (and so the folders that hold them). True when the folder is gone.
bool removeTree(const QString &folder, const QSet<QString> &keep = {}, int depth = 0)
{
    if (depth > kMaxDepth)
        return false;
    const auto entries = readFolderEntries(folder, kMaxFolderEntries, false);
    if (!entries)
        return false;
    bool all = true;
    for (const FolderEntry &entry : *entries) {
        const QString path = folder + QLatin1Char('/') + entry.name;
        if (keep.contains(path))
            all = false;
        else if (entry.status.isDirectory())
            all = removeTree(path, keep, depth + 1) && all;
        else if (::unlink(nativePath(path).constData()) != 0)
            all = false;
    }
    return all && ::rmdir(nativePath(folder).constData()) == 0;
}

bool removeEntry(const QString &path)
{
    const PathStatus status = statPath(path, false);
    if (status.isDirectory())
        return removeTree(path);
    return ::unlink(nativePath(path).constData()) == 0 || errno == ENOENT;
}

bool writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

// The SHA-256 of what the descriptor holds, read from its start.
QByteArray hashOfDescriptor(int fd, qint64 *size)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray buffer(kChunk, Qt::Uninitialized);
    qint64 offset = 0;
    while (true) {
        const ssize_t n = ::pread(fd, buffer.data(), size_t(buffer.size()), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return QByteArray();
        if (n == 0)
            break;
        hash.addData(QByteArrayView(buffer.constData(), n));
        offset += n;
    }
    *size = offset;
    return hash.result();
}

// A file or folder being written under the partial-copy name ".NAME.XXXXXX.part" beside its
// final name, locked while it is written so that a sweep for stale ones leaves it alone. It is
// removed when it goes out of scope unless it was put in place.
class PartialCopy
{
public:
    PartialCopy() = default;
    PartialCopy(const PartialCopy &) = delete;
    PartialCopy &operator=(const PartialCopy &) = delete;
    ~PartialCopy()
    {
        if (!m_path.isEmpty() && !m_placed) {
            if (m_folder)
                removeTree(m_path);
            else
                ::unlink(nativePath(m_path).constData());
        }
        if (m_fd >= 0)
            ::close(m_fd);
    }

    // Creates it for `target`; false with errno set when that cannot be done.
    bool create(const QString &target, bool folder)
    {
        m_folder = folder;
        const QString base = folderOf(target) + QStringLiteral("/.") +
                             QFileInfo(target).fileName() + QLatin1Char('.');
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QString path = base + randomTag() + QStringLiteral(".part");
            const QByteArray native = nativePath(path);
            if (folder) {
                if (::mkdir(native.constData(), 0700) != 0) {
                    if (errno == EEXIST)
                        continue;
                    return false;
                }
                m_path = path;
                m_fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            } else {
                m_fd = ::open(native.constData(),
                              O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
                if (m_fd < 0) {
                    if (errno == EEXIST)
                        continue;
                    return false;
                }
                m_path = path;
            }
            if (m_fd < 0 || ::flock(m_fd, LOCK_EX | LOCK_NB) != 0)
                return false;
            return true;
        }
        errno = EEXIST;
        return false;
    }

    int fd() const { return m_fd; }
    QString path() const { return m_path; }

    // Renames it to `target` (replacing a file there, never following a link).
    bool place(const QString &target)
    {
        if (::rename(nativePath(m_path).constData(), nativePath(target).constData()) != 0)
            return false;
        m_placed = true;
        return true;
    }

private:
    static QString randomTag()
    {
        static const char letters[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        QString tag;
        for (int i = 0; i < 6; ++i)
            tag += QLatin1Char(letters[QRandomGenerator::global()->bounded(62)]);
        return tag;
    }

    QString m_path;
    int m_fd = -1;
    bool m_folder = false;
    bool m_placed = false;
};

void moveThumbnails(const QString &from, const QString &to)
{
    if (statPath(to).isRegular())
        ThumbnailCache().move(from, to);
}

} // namespace

// One planned copy or move, decided before anything is done.
struct FileOperations::Step {
    QString source;
    QString target;
    PathStatus sourceStatus; // of the entry itself (a link is not followed)
    bool skip = false;       // the user chose to keep the existing target
};

// The state of one operation: progress shown, bytes done, the outcome gathered.
struct FileOperations::Run {
    std::unique_ptr<FileProgress> progress;
    bool progressStarted = false;
    QString progressTitle;
    qint64 total = 0;
    qint64 done = 0;
    FileOperationResult result;
    QString errorTitle;
    QSet<QString> sweptFolders;

    enum class Outcome { Done, Failed, Cancelled };

    // The progress dialog comes up when the first bytes are about to move, never earlier: no
    // question of the operation may end up behind it.
    void startProgress()
    {
        if (progressStarted)
            return;
        progressStarted = true;
        if (const auto &factory = progressFactory())
            progress = factory();
        if (progress)
            progress->start(progressTitle, total);
    }
    void closeProgress()
    {
        if (progress)
            progress->finish();
        progress.reset();
    }

    bool advance(const QString &current) { return !progress || progress->advance(done, current); }

    Outcome fail(const QString &text)
    {
        // An error ends the operation: the progress dialog goes first so the message is seen.
        closeProgress();
        result.errors.append(text);
        prompts().message(text, PromptIcon::Critical, PromptButtons::Ok, errorTitle);
        return Outcome::Failed;
    }

    Outcome writeFailure(const QString &target, int error)
    {
        return fail(
            QStringLiteral("\"%1\" cannot be written: %2.").arg(nameOf(target), errnoText(error)));
    }

    void sweepOnce(const QString &folder)
    {
        if (!sweptFolders.contains(folder)) {
            sweptFolders.insert(folder);
            FileOperations::removeStaleParts(folder);
        }
    }

    // Copies one file to `target` through a partial copy in the target's folder, checks the
    // copy against the source, then puts it in place. Nothing is left behind on failure.
    Outcome copyOne(const QString &source, const QString &target)
    {
        QFile in;
        if (const Status opened = openRegularFile(in, source); !opened)
            return fail(
                QStringLiteral("\"%1\" cannot be read. %2").arg(nameOf(source), opened.error()));
        struct stat sourceStat {
        };
        if (::fstat(in.handle(), &sourceStat) != 0)
            return fail(
                QStringLiteral("\"%1\" cannot be read: %2.").arg(nameOf(source), errnoText(errno)));
        PartialCopy part;
        if (!part.create(target, false))
            return fail(QStringLiteral("\"%1\" cannot be written in \"%2\": %3.")
                            .arg(nameOf(target), shown(folderOf(target)), errnoText(errno)));

        QCryptographicHash hash(QCryptographicHash::Sha256);
        QByteArray buffer(kChunk, Qt::Uninitialized);
        qint64 copied = 0;
        while (true) {
            const ssize_t n = ::read(in.handle(), buffer.data(), size_t(buffer.size()));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return fail(QStringLiteral("\"%1\" cannot be read: %2.")
                                .arg(nameOf(source), errnoText(errno)));
            if (n == 0)
                break;
            hash.addData(QByteArrayView(buffer.constData(), n));
            if (!writeAll(part.fd(), buffer.constData(), n))
                return writeFailure(target, errno);
            copied += n;
            done += n;
            if (!advance(nameOf(source)))
                return Outcome::Cancelled;
        }
        // A full disk often shows only here, when the data is flushed.
        if (::fsync(part.fd()) != 0)
            return writeFailure(target, errno);

        // The copy must hold exactly what was read from the source.
        qint64 written = -1;
        if (copied != qint64(sourceStat.st_size) ||
            hashOfDescriptor(part.fd(), &written) != hash.result() || written != copied)
            return fail(
                QStringLiteral("The copy of \"%1\" does not match the original; it was not kept.")
                    .arg(nameOf(source)));

        const timespec times[2] = {{0, UTIME_OMIT}, sourceStat.st_mtim};
        ::futimens(part.fd(), times);
        ::fchmod(part.fd(), sourceStat.st_mode & 0777);
        if (!part.place(target))
            return writeFailure(target, errno);
        return Outcome::Done;
    }

    // Copies the folder's entries into `to`, by their byte names. Links are copied as links;
    // pipes, devices and sockets are left out and listed.
    Outcome copyEntries(const QString &from, const QString &to, int depth)
    {
        if (depth > kMaxDepth)
            return fail(QStringLiteral("The folder \"%1\" is nested too deeply to be copied.")
                            .arg(shown(from)));
        const auto entries = readFolderEntries(from, kMaxFolderEntries + 1, false);
        if (!entries)
            return fail(entries.error());
        if (entries->size() > kMaxFolderEntries)
            return fail(QStringLiteral("The folder \"%1\" holds too many entries to be copied.")
                            .arg(shown(from)));
        for (const FolderEntry &entry : *entries) {
            const QString source = from + QLatin1Char('/') + entry.name;
            const QString target = to + QLatin1Char('/') + entry.name;
            const QByteArray nativeTarget = nativePath(target);
            switch (entry.status.kind) {
            case PathStatus::Kind::Link: {
                QByteArray link(4096, Qt::Uninitialized);
                const ssize_t n =
                    ::readlink(nativePath(source).constData(), link.data(), size_t(link.size()));
                if (n < 0 || n >= link.size() ||
                    ::symlink(link.left(n).constData(), nativeTarget.constData()) != 0)
                    return fail(
                        QStringLiteral("The link \"%1\" cannot be copied.").arg(nameOf(source)));
                break;
            }
            case PathStatus::Kind::Directory: {
                if (::mkdir(nativeTarget.constData(), 0700) != 0)
                    return fail(QStringLiteral("The folder \"%1\" cannot be created: %2.")
                                    .arg(nameOf(target), errnoText(errno)));
                const Outcome inner = copyEntries(source, target, depth + 1);
                if (inner != Outcome::Done)
                    return inner;
                ::chmod(nativeTarget.constData(), entry.status.mode & 07777);
                break;
            }
            case PathStatus::Kind::Regular: {
                const Outcome one = copyOne(source, target);
                if (one != Outcome::Done)
                    return one;
                break;
            }
            case PathStatus::Kind::Other:
            case PathStatus::Kind::Missing:
                result.leftOut.append(source);
                break;
            }
        }
        return Outcome::Done;
    }

    // A folder is copied whole into a partial copy beside the target, then renamed.
    Outcome copyTree(const QString &source, const QString &target)
    {
        PartialCopy part;
        if (!part.create(target, true))
            return fail(QStringLiteral("The folder \"%1\" cannot be created in \"%2\": %3.")
                            .arg(nameOf(target), shown(folderOf(target)), errnoText(errno)));
        const Outcome copied = copyEntries(source, part.path(), 0);
        if (copied != Outcome::Done)
            return copied;
        ::chmod(nativePath(part.path()).constData(), statPath(source).mode & 07777);
        if (!part.place(target))
            return fail(QStringLiteral("The folder \"%1\" cannot be created: %2.")
                            .arg(nameOf(target), errnoText(errno)));
        return Outcome::Done;
    }
};

FileOperations::FileOperations() = default;
FileOperations::~FileOperations() = default;

void FileOperations::setProgressFactory(ProgressFactory factory)
{
    progressFactory() = std::move(factory);
}

void FileOperations::setForceCopyForMoves(bool force)
{
    g_forceCopy = force;
}

QString FileOperations::withTrailingSeparator(const QString &folder)
{
    if (folder.isEmpty() || folder.endsWith(QLatin1Char('/')))
        return folder;
    return folder + QLatin1Char('/');
}

void FileOperations::removeStaleParts(const QString &folder)
{
    static const QRegularExpression partName(QStringLiteral("^\\..+\\.[A-Za-z0-9]{6}\\.part$"));
    const auto entries = readFolderEntries(folder, kMaxFolderEntries, false);
    if (!entries)
        return;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    for (const FolderEntry &entry : *entries) {
        const PathStatus &status = entry.status;
        if (!(status.isRegular() || status.isDirectory()) ||
            now - status.mtime < kStalePartSeconds ||
            !partName.match(displayName(entry.name)).hasMatch())
            continue;
        const QString path = QDir::cleanPath(folder) + QLatin1Char('/') + entry.name;
        const int fd =
            ::open(nativePath(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st {
        };
        // Still the entry looked at, and no copy holds its lock: it was left behind.
        const bool same = ::fstat(fd, &st) == 0 && st.st_dev == status.identity.device &&
                          st.st_ino == status.identity.inode;
        if (same && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            removeEntry(path);
        ::close(fd);
    }
}

FileOperationResult FileOperations::copyTo(const QStringList &sources, const QString &folder)
{
    QList<std::pair<QString, QString>> pairs;
    for (const QString &source : sources)
        pairs.append({source, withTrailingSeparator(folder) + QFileInfo(source).fileName()});
    return transfer(pairs, false);
}

FileOperationResult FileOperations::moveTo(const QStringList &sources, const QString &folder)
{
    QList<std::pair<QString, QString>> pairs;
    for (const QString &source : sources)
        pairs.append({source, withTrailingSeparator(folder) + QFileInfo(source).fileName()});
    return transfer(pairs, true);
}

FileOperationResult FileOperations::copyFile(const QString &source, const QString &target)
{
    return transfer({{source, target}}, false);
}

FileOperationResult FileOperations::moveFile(const QString &source, const QString &target)
{
    return transfer({{source, target}}, true);
}

// Checks every pair and asks every question before anything is done. False when the operation
// ends here (refused or cancelled); the steps then hold nothing to do.
bool FileOperations::plan(Run &run, const QList<std::pair<QString, QString>> &pairs, bool move,
                          QList<Step> *steps)
{
    for (const auto &[sourceIn, targetIn] : pairs) {
        Step step;
        step.source = QDir::cleanPath(QFileInfo(sourceIn).absoluteFilePath());
        step.target = QDir::cleanPath(QFileInfo(targetIn).absoluteFilePath());
        step.sourceStatus = statPath(step.source, false);
        const PathStatus &source = step.sourceStatus;
        if (!source.exists()) {
            run.fail(missingText(step.source, source));
            return false;
        }
        if (step.source == step.target) {
            if (!move) {
                run.fail(
                    QStringLiteral("\"%1\" is already in that folder.").arg(nameOf(step.source)));
                return false;
            }
            run.result.skipped.append(step.source);
            continue;
        }
        const QString folder = folderOf(step.target);
        const PathStatus folderStatus = statPath(folder);
        if (!folderStatus.isDirectory()) {
            run.fail(folderStatus.denied()
                         ? QStringLiteral("You have no permission to open the folder \"%1\".")
                               .arg(shown(folder))
                         : QStringLiteral("The folder \"%1\" does not exist.").arg(shown(folder)));
            return false;
        }
        if (source.isDirectory() && isInsideFolder(folder, source.identity)) {
            run.fail(QStringLiteral("The folder \"%1\" cannot be put inside itself.")
                         .arg(nameOf(step.source)));
            return false;
        }
        const PathStatus target = statPath(step.target, false);
        if (target.exists()) {
            // The same file seen through another path (a second mount, a linked folder, a
            // hard link): replacing it would destroy the very file being copied.
            if (target.identity == source.identity) {
                run.fail(
                    QStringLiteral("\"%1\" and \"%2\" are the same file; it was left as it is.")
                        .arg(shown(step.source), shown(step.target)));
                return false;
            }
            if (target.isDirectory() || source.isDirectory()) {
                run.fail(QStringLiteral("\"%1\" already exists in \"%2\" and cannot be replaced.")
                             .arg(nameOf(step.target), shown(folder)));
                return false;
            }
            const ReplaceAnswer answer = prompts().confirmReplace(step.target, step.source);
            if (answer == ReplaceAnswer::Cancel) {
                run.result.cancelled = true;
                return false;
            }
            step.skip = answer == ReplaceAnswer::Skip;
        }
        steps->append(step);
    }
    return true;
}

// Carries out one planned step. False when the operation ends here.
bool FileOperations::execute(Run &run, const Step &step, bool move)
{
    const QString &source = step.source;
    const QString &target = step.target;
    const bool folder = step.sourceStatus.isDirectory();
    if (move && !g_forceCopy) {
        if (::rename(nativePath(source).constData(), nativePath(target).constData()) == 0) {
            run.result.moved.append({source, target});
            moveThumbnails(source, target);
            run.done += sizeOf(target);
            if (!run.advance(nameOf(source))) {
                run.result.cancelled = true;
                return false;
            }
            return true;
        }
        if (errno != EXDEV) {
            run.fail(QStringLiteral("\"%1\" cannot be moved: %2.")
                         .arg(nameOf(source), errnoText(errno)));
            return false;
        }
    }

    run.sweepOnce(folderOf(target));
    run.startProgress();
    const qsizetype leftOutBefore = run.result.leftOut.size();
    const Run::Outcome outcome =
        folder ? run.copyTree(source, target) : run.copyOne(source, target);
    if (outcome == Run::Outcome::Cancelled) {
        run.result.cancelled = true;
        return false;
    }
    if (outcome == Run::Outcome::Failed)
        return false;
    if (!move) {
        run.result.copied.append(target);
        return true;
    }
    // The copy is checked and in place: only now does the original go, and never when the
    // copy turns out to be the original itself.
    const PathStatus placed = statPath(target, false);
    if (!placed.exists() || placed.identity == statPath(source, false).identity) {
        run.fail(QStringLiteral("\"%1\" could not be checked after copying; the original was kept.")
                     .arg(nameOf(source)));
        return false;
    }
    QSet<QString> keep;
    for (qsizetype i = leftOutBefore; i < run.result.leftOut.size(); ++i)
        keep.insert(run.result.leftOut.at(i));
    const bool removed = folder ? removeTree(source, keep) : removeEntry(source);
    if (!removed && keep.isEmpty() && statPath(source, false).exists()) {
        run.result.copied.append(target);
        run.fail(
            QStringLiteral("\"%1\" was copied to \"%2\", but the original could not be removed.")
                .arg(nameOf(source), shown(folderOf(target))));
        return false;
    }
    run.result.moved.append({source, target});
    moveThumbnails(source, target);
    return true;
}

FileOperationResult FileOperations::transfer(const QList<std::pair<QString, QString>> &pairs,
                                             bool move)
{
    Run run;
    run.errorTitle =
        move ? QStringLiteral("Error Moving File") : QStringLiteral("Error Copying File");
    run.progressTitle = move ? QStringLiteral("Moving...") : QStringLiteral("Copying...");

    // Every question first, alone; then the work.
    QList<Step> steps;
    if (!plan(run, pairs, move, &steps))
        return run.result;
    for (const Step &step : std::as_const(steps)) {
        if (!step.skip)
            run.total += sizeOf(step.source);
    }
    for (const Step &step : std::as_const(steps)) {
        if (step.skip) {
            run.result.skipped.append(step.source);
            continue;
        }
        if (!execute(run, step, move))
            break;
    }
    run.closeProgress();

    if (!run.result.leftOut.isEmpty()) {
        QStringList names;
        for (const QString &path : std::as_const(run.result.leftOut))
            names.append(shown(path));
        const QString where = move ? QStringLiteral(" They were left where they were.") : QString();
        prompts().message(
            QStringLiteral(
                "Pipes, devices and sockets hold no file contents and were not %1:\n\n%2\n"
                "%3")
                .arg(move ? QStringLiteral("moved") : QStringLiteral("copied"),
                     names.mid(0, 20).join(QLatin1Char('\n')), where),
            PromptIcon::Information, PromptButtons::Ok,
            move ? QStringLiteral("Moving...") : QStringLiteral("Copying..."));
    }
    return run.result;
}

FileOperationResult FileOperations::rename(const QString &sourceIn, const QString &newName)
{
    FileOperationResult result;
    const QString source = QDir::cleanPath(QFileInfo(sourceIn).absoluteFilePath());
    auto refuse = [&](const QString &text) {
        result.errors.append(text);
        prompts().message(text, PromptIcon::Exclamation, PromptButtons::Ok,
                          QStringLiteral("Rename File"));
        return result;
    };
    // A name of spaces only would leave a file that shows no name and cannot be picked again.
    if (newName.trimmed().isEmpty())
        return refuse(QStringLiteral("A file name cannot be empty."));
    if (newName.contains(QLatin1Char('/')) || newName == QLatin1String(".") ||
        newName == QLatin1String(".."))
        return refuse(QStringLiteral("A file name cannot contain \"/\" or be \".\" or \"..\"."));
    const PathStatus sourceStatus = statPath(source, false);
    if (!sourceStatus.exists())
        return refuse(missingText(source, sourceStatus));
    const QString target = folderOf(source) + QLatin1Char('/') + newName;
    if (target == source)
        return result;
    const PathStatus targetStatus = statPath(target, false);
    if (statPath(target).isDirectory()) // the name of a folder there: nothing to do
        return result;
    if (targetStatus.exists())
        return refuse(QStringLiteral("There is already a file named \"%1\" in this folder.")
                          .arg(displayName(newName)));
    if (::rename(nativePath(source).constData(), nativePath(target).constData()) != 0)
        return refuse(
            QStringLiteral("\"%1\" cannot be renamed: %2.").arg(nameOf(source), errnoText(errno)));
    result.moved.append({source, target});
    moveThumbnails(source, target);
    return result;
}

FileOperationResult FileOperations::remove(const QStringList &sources, bool permanently)
{
    FileOperationResult result;
    if (sources.isEmpty())
        return result;
    const bool single = sources.size() == 1;
    const bool folder = single && statPath(sources.first()).isDirectory();
    const QString title =
        single ? (folder ? QStringLiteral("Delete Folder") : QStringLiteral("Delete File"))
               : QStringLiteral("Delete Multiple Items");
    QString question;
    if (permanently)
        question =
            single ? QStringLiteral("Are you sure you want to permanently delete \"%1\"?")
                         .arg(nameOf(sources.first()))
                   : QStringLiteral("Are you sure you want to permanently delete these %1 items?")
                         .arg(sources.size());
    else
        question =
            single ? QStringLiteral("Are you sure you want to move \"%1\" to the trash?")
                         .arg(nameOf(sources.first()))
                   : QStringLiteral("Are you sure you want to move these %1 items to the trash?")
                         .arg(sources.size());
    if (prompts().message(question, PromptIcon::Question, PromptButtons::YesNo, title) !=
        PromptAnswer::Yes) {
        result.cancelled = true;
        return result;
    }

    auto fail = [&](const QString &text) {
        result.errors.append(text);
        prompts().message(text, PromptIcon::Critical, PromptButtons::Ok,
                          QStringLiteral("Error Deleting File"));
    };
    auto deleteForGood = [&](const QString &path) {
        if (!removeEntry(path) && statPath(path, false).exists()) {
            fail(QStringLiteral("\"%1\" cannot be deleted. Check that you may change its folder.")
                     .arg(nameOf(path)));
            return false;
        }
        return true;
    };

    for (const QString &sourceIn : sources) {
        const QString source = QDir::cleanPath(QFileInfo(sourceIn).absoluteFilePath());
        const PathStatus status = statPath(source, false);
        if (!status.exists()) {
            fail(missingText(source, status));
            continue;
        }
        bool gone = false;
        if (permanently) {
            gone = deleteForGood(source);
        } else {
            const Result<QString> trashed = Trash::moveToTrash(source);
            if (trashed) {
                gone = true;
            } else {
                const PromptAnswer answer = prompts().message(
                    trashed.error() +
                        QStringLiteral("\n\nDo you want to delete \"%1\" permanently instead?")
                            .arg(nameOf(source)),
                    PromptIcon::Exclamation, PromptButtons::YesNoCancel, title);
                if (answer == PromptAnswer::Cancel) {
                    result.cancelled = true;
                    break;
                }
                if (answer != PromptAnswer::Yes) {
                    result.skipped.append(source);
                    continue;
                }
                gone = deleteForGood(source);
            }
        }
        if (gone) {
            result.removed.append(source);
            ThumbnailCache().remove(source);
        }
    }
    return result;
}

} // namespace qmt
