#include "shell/fileoperations.h"

#include "components/prompts.h"
#include "components/thumbnailcache.h"
#include "shell/trash.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace qmt {
namespace {

constexpr qint64 kChunk = 1 << 20;

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

QString errnoText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

QString nameOf(const QString &path)
{
    return QFileInfo(path).fileName();
}

bool isInside(const QString &path, const QString &folder)
{
    const QString f = QDir::cleanPath(folder) + QLatin1Char('/');
    return QDir::cleanPath(path).startsWith(f);
}

qint64 sizeOf(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isDir() || info.isSymLink())
        return info.size();
    qint64 total = 0;
    QDirIterator it(path, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        total += it.fileInfo().size();
    }
    return total;
}

QByteArray hashOf(const QString &path, qint64 *size)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return QByteArray();
    *size = file.size();
    return hash.result();
}

void moveThumbnails(const QString &from, const QString &to)
{
    if (QFileInfo(to).isFile())
        ThumbnailCache().move(from, to);
}

} // namespace

// The state of one operation: progress shown, bytes done, the outcome gathered.
struct FileOperations::Run {
    std::unique_ptr<FileProgress> progress;
    qint64 done = 0;
    FileOperationResult result;
    QString errorTitle;

    enum class Step { Done, Failed, Cancelled };

    bool advance(const QString &current) { return !progress || progress->advance(done, current); }

    Step fail(const QString &text)
    {
        result.errors.append(text);
        prompts().message(text, PromptIcon::Critical, PromptButtons::Ok, errorTitle);
        return Step::Failed;
    }

    // Copies one file to `target` through a temporary file in the target's folder, checks the
    // copy against the source, then puts it in place. Nothing is left behind on failure.
    Step copyOne(const QString &source, const QString &target)
    {
        QFile in(source);
        if (!in.open(QIODevice::ReadOnly))
            return fail(
                QStringLiteral("\"%1\" cannot be read: %2.").arg(nameOf(source), in.errorString()));
        const QFileInfo targetInfo(target);
        QTemporaryFile out(targetInfo.absolutePath() + QStringLiteral("/.") +
                           targetInfo.fileName() + QStringLiteral(".XXXXXX.part"));
        out.setAutoRemove(true);
        if (!out.open())
            return fail(
                QStringLiteral("\"%1\" cannot be written in \"%2\": %3.")
                    .arg(targetInfo.fileName(), targetInfo.absolutePath(), out.errorString()));
        QCryptographicHash hash(QCryptographicHash::Sha256);
        qint64 copied = 0;
        QByteArray buffer;
        while (true) {
            buffer = in.read(kChunk);
            if (buffer.isEmpty()) {
                if (in.error() != QFileDevice::NoError)
                    return fail(QStringLiteral("\"%1\" cannot be read: %2.")
                                    .arg(nameOf(source), in.errorString()));
                break;
            }
            hash.addData(buffer);
            if (out.write(buffer) != buffer.size())
                return fail(QStringLiteral("\"%1\" cannot be written: %2.")
                                .arg(targetInfo.fileName(), out.errorString()));
            copied += buffer.size();
            done += buffer.size();
            if (!advance(nameOf(source)))
                return Step::Cancelled;
        }
        if (!out.flush() || ::fsync(out.handle()) != 0)
            return fail(QStringLiteral("\"%1\" cannot be written: %2.")
                            .arg(targetInfo.fileName(), out.errorString()));
        out.setFileTime(QFileInfo(source).lastModified(), QFileDevice::FileModificationTime);
        out.close();

        // The copy must hold exactly what was read from the source.
        qint64 written = -1;
        if (copied != in.size() || hashOf(out.fileName(), &written) != hash.result() ||
            written != copied)
            return fail(
                QStringLiteral("The copy of \"%1\" does not match the original; it was not kept.")
                    .arg(nameOf(source)));

        QFile::setPermissions(out.fileName(), QFileInfo(source).permissions());
        if (::rename(QFile::encodeName(out.fileName()).constData(),
                     QFile::encodeName(target).constData()) != 0)
            return fail(QStringLiteral("\"%1\" cannot be written: %2.")
                            .arg(targetInfo.fileName(), errnoText(errno)));
        out.setAutoRemove(false);
        return Step::Done;
    }

    // A folder is copied whole into a temporary folder beside the target, then renamed.
    Step copyTree(const QString &source, const QString &target)
    {
        const QFileInfo targetInfo(target);
        QTemporaryDir temp(targetInfo.absolutePath() + QStringLiteral("/.") +
                           targetInfo.fileName() + QStringLiteral(".XXXXXX.part"));
        if (!temp.isValid())
            return fail(QStringLiteral("The folder \"%1\" cannot be created in \"%2\".")
                            .arg(targetInfo.fileName(), targetInfo.absolutePath()));
        temp.setAutoRemove(true);
        QDirIterator it(source,
                        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        const QDir from(source);
        while (it.hasNext()) {
            it.next();
            const QFileInfo entry = it.fileInfo();
            const QString to =
                temp.path() + QLatin1Char('/') + from.relativeFilePath(entry.filePath());
            if (entry.isSymLink()) {
                if (!QFile::link(entry.symLinkTarget(), to))
                    return fail(
                        QStringLiteral("The link \"%1\" cannot be copied.").arg(entry.fileName()));
            } else if (entry.isDir()) {
                if (!QDir().mkpath(to))
                    return fail(QStringLiteral("The folder \"%1\" cannot be created.")
                                    .arg(entry.fileName()));
            } else {
                const Step step = copyOne(entry.filePath(), to);
                if (step != Step::Done)
                    return step;
            }
        }
        if (::rename(QFile::encodeName(temp.path()).constData(),
                     QFile::encodeName(target).constData()) != 0)
            return fail(QStringLiteral("The folder \"%1\" cannot be created: %2.")
                            .arg(targetInfo.fileName(), errnoText(errno)));
        temp.setAutoRemove(false);
        return Step::Done;
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

FileOperationResult FileOperations::copyTo(const QStringList &sources, const QString &folder)
{
    QList<std::pair<QString, QString>> pairs;
    for (const QString &source : sources)
        pairs.append({source, withTrailingSeparator(folder) + nameOf(source)});
    return transfer(pairs, false);
}

FileOperationResult FileOperations::moveTo(const QStringList &sources, const QString &folder)
{
    QList<std::pair<QString, QString>> pairs;
    for (const QString &source : sources)
        pairs.append({source, withTrailingSeparator(folder) + nameOf(source)});
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

FileOperationResult FileOperations::transfer(const QList<std::pair<QString, QString>> &pairs,
                                             bool move)
{
    Run run;
    run.errorTitle =
        move ? QStringLiteral("Error Moving File") : QStringLiteral("Error Copying File");
    qint64 total = 0;
    for (const auto &pair : pairs)
        total += sizeOf(pair.first);
    if (const auto &factory = progressFactory())
        run.progress = factory();
    if (run.progress)
        run.progress->start(move ? QStringLiteral("Moving...") : QStringLiteral("Copying..."),
                            total);

    for (const auto &[sourceIn, targetIn] : pairs) {
        const QString source = QDir::cleanPath(QFileInfo(sourceIn).absoluteFilePath());
        const QString target = QDir::cleanPath(QFileInfo(targetIn).absoluteFilePath());
        const QFileInfo sourceInfo(source);
        const QFileInfo targetInfo(target);
        if (!sourceInfo.exists()) {
            run.fail(QStringLiteral("\"%1\" cannot be found. It may have been moved or deleted.")
                         .arg(source));
            break;
        }
        if (source == target) {
            if (!move)
                run.fail(
                    QStringLiteral("\"%1\" is already in that folder.").arg(sourceInfo.fileName()));
            else
                run.result.skipped.append(source);
            if (!move)
                break;
            continue;
        }
        if (sourceInfo.isDir() && isInside(target, source)) {
            run.fail(QStringLiteral("The folder \"%1\" cannot be put inside itself.")
                         .arg(sourceInfo.fileName()));
            break;
        }
        if (!QFileInfo(targetInfo.absolutePath()).isDir()) {
            run.fail(
                QStringLiteral("The folder \"%1\" does not exist.").arg(targetInfo.absolutePath()));
            break;
        }
        if (targetInfo.exists() || targetInfo.isSymLink()) {
            if (targetInfo.isDir() || sourceInfo.isDir()) {
                run.fail(QStringLiteral("\"%1\" already exists in \"%2\" and cannot be replaced.")
                             .arg(targetInfo.fileName(), targetInfo.absolutePath()));
                break;
            }
            const ReplaceAnswer answer = prompts().confirmReplace(target, source);
            if (answer == ReplaceAnswer::Cancel) {
                run.result.cancelled = true;
                break;
            }
            if (answer == ReplaceAnswer::Skip) {
                run.result.skipped.append(source);
                run.done += sizeOf(source);
                continue;
            }
        }

        if (move && !g_forceCopy) {
            if (::rename(QFile::encodeName(source).constData(),
                         QFile::encodeName(target).constData()) == 0) {
                run.result.moved.append({source, target});
                moveThumbnails(source, target);
                run.done += sizeOf(target);
                if (!run.advance(sourceInfo.fileName())) {
                    run.result.cancelled = true;
                    break;
                }
                continue;
            }
            if (errno != EXDEV) {
                run.fail(QStringLiteral("\"%1\" cannot be moved: %2.")
                             .arg(sourceInfo.fileName(), errnoText(errno)));
                break;
            }
        }

        const Run::Step step = sourceInfo.isDir() && !sourceInfo.isSymLink()
                                   ? run.copyTree(source, target)
                                   : run.copyOne(source, target);
        if (step == Run::Step::Cancelled) {
            run.result.cancelled = true;
            break;
        }
        if (step == Run::Step::Failed)
            break;
        if (!move) {
            run.result.copied.append(target);
            continue;
        }
        // The copy is checked and in place: only now does the original go.
        const bool removed = sourceInfo.isDir() && !sourceInfo.isSymLink()
                                 ? QDir(source).removeRecursively()
                                 : QFile::remove(source);
        if (!removed && QFileInfo::exists(source)) {
            run.result.copied.append(target);
            run.fail(QStringLiteral(
                         "\"%1\" was copied to \"%2\", but the original could not be removed.")
                         .arg(sourceInfo.fileName(), targetInfo.absolutePath()));
            break;
        }
        run.result.moved.append({source, target});
        moveThumbnails(source, target);
    }
    if (run.progress)
        run.progress->finish();
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
    if (!QFileInfo::exists(source))
        return refuse(QStringLiteral("\"%1\" cannot be found. It may have been moved or deleted.")
                          .arg(source));
    const QString target = QFileInfo(source).absolutePath() + QLatin1Char('/') + newName;
    if (target == source)
        return result;
    const QFileInfo targetInfo(target);
    if (targetInfo.isDir()) // the name of a folder there: nothing to do
        return result;
    if (targetInfo.exists() || targetInfo.isSymLink())
        return refuse(
            QStringLiteral("There is already a file named \"%1\" in this folder.").arg(newName));
    if (::rename(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) != 0)
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
    const bool folder = single && QFileInfo(sources.first()).isDir();
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
        const QFileInfo info(path);
        const bool ok = info.isDir() && !info.isSymLink() ? QDir(path).removeRecursively()
                                                          : QFile::remove(path);
        if (!ok && (QFileInfo::exists(path) || QFileInfo(path).isSymLink())) {
            fail(QStringLiteral("\"%1\" cannot be deleted. Check that you may change its folder.")
                     .arg(info.fileName()));
            return false;
        }
        return true;
    };

    for (const QString &sourceIn : sources) {
        const QString source = QDir::cleanPath(QFileInfo(sourceIn).absoluteFilePath());
        const QFileInfo info(source);
        if (!info.exists() && !info.isSymLink()) {
            fail(QStringLiteral("\"%1\" cannot be found. It may have been moved or deleted.")
                     .arg(source));
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
                            .arg(info.fileName()),
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
