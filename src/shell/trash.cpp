#include "shell/trash.h"

#include "components/nativefile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qmt {
namespace {

bool sameDevice(const QString &a, const QString &b)
{
    struct stat sa {
    };
    struct stat sb {
    };
    if (::lstat(nativePath(a).constData(), &sa) != 0 || ::stat(nativePath(b).constData(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev;
}

bool makeTrashDirs(const QString &trash)
{
    for (const QString &sub : {QStringLiteral("files"), QStringLiteral("info")}) {
        const QString dir = trash + QLatin1Char('/') + sub;
        if (!QDir().mkpath(dir))
            return false;
    }
    ::chmod(QFile::encodeName(trash).constData(), 0700);
    return QFileInfo(trash + QStringLiteral("/files")).isWritable() &&
           QFileInfo(trash + QStringLiteral("/info")).isWritable();
}

// $topdir/.Trash/$uid when the administrator prepared .Trash (a real folder with the sticky
// bit), else $topdir/.Trash-$uid.
QString topdirTrash(const QString &topdir)
{
    const QString uid = QString::number(::getuid());
    const QString shared = topdir + QStringLiteral("/.Trash");
    struct stat st {
    };
    if (::lstat(QFile::encodeName(shared).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
        (st.st_mode & S_ISVTX)) {
        const QString mine = shared + QLatin1Char('/') + uid;
        if (makeTrashDirs(mine))
            return mine;
    }
    const QString own = topdir + QStringLiteral("/.Trash-") + uid;
    if (::lstat(QFile::encodeName(own).constData(), &st) == 0 && !S_ISDIR(st.st_mode))
        return QString();
    if (makeTrashDirs(own))
        return own;
    return QString();
}

} // namespace

QString Trash::homeTrash()
{
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty() || !QDir::isAbsolutePath(data))
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(data + QStringLiteral("/Trash"));
}

QString Trash::trashFor(const QString &path)
{
    const QString home = homeTrash();
    // The home trash may not exist yet: compare with the nearest folder that does.
    QString probe = home;
    while (!QFileInfo::exists(probe) && probe != QLatin1String("/"))
        probe = QFileInfo(probe).path();
    if (sameDevice(path, probe))
        return makeTrashDirs(home) ? home : QString();
    const QString topdir = QStorageInfo(QFileInfo(path).absolutePath()).rootPath();
    if (topdir.isEmpty())
        return QString();
    return topdirTrash(topdir == QLatin1String("/") ? QString() : topdir);
}

Result<QString> Trash::moveToTrash(const QString &path)
{
    const QFileInfo info(path);
    const PathStatus status = statPath(path, false);
    if (!status.exists())
        return Result<QString>::fail(
            QStringLiteral("\"%1\" does not exist.").arg(displayName(path)));
    const QString absolute = QDir::cleanPath(info.absoluteFilePath());
    const QString trash = trashFor(absolute);
    if (trash.isEmpty())
        return Result<QString>::fail(
            QStringLiteral("There is no trash on the drive that holds \"%1\".")
                .arg(displayName(info.fileName())));

    // The recorded path: absolute for the home trash, relative to the mount for a mount's own.
    QString recorded = absolute;
    if (trash != homeTrash()) {
        const QString topdir = QFileInfo(trash).path().endsWith(QStringLiteral("/.Trash"))
                                   ? QFileInfo(QFileInfo(trash).path()).path()
                                   : QFileInfo(trash).path();
        recorded = QDir(topdir).relativeFilePath(absolute);
    }

    const QString name = info.fileName();
    const bool folder = status.isDirectory();
    const QString base = folder ? name : info.completeBaseName();
    const QString suffix =
        folder || info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    // The recorded path is the name's own bytes, percent-encoded.
    const QByteArray contents =
        "[Trash Info]\nPath=" + nativePath(recorded).toPercentEncoding("/") + "\nDeletionDate=" +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() +
        "\n";

    for (int n = 1; n < 10000; ++n) {
        const QString candidate =
            n == 1 ? name : QStringLiteral("%1.%2%3").arg(base).arg(n).arg(suffix);
        const QString infoPath =
            trash + QStringLiteral("/info/") + candidate + QStringLiteral(".trashinfo");
        const QString target = trash + QStringLiteral("/files/") + candidate;
        // Claiming the info file first reserves the name against other programs trashing now.
        const int fd = ::open(nativePath(infoPath).constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return Result<QString>::fail(QStringLiteral("The trash cannot be written: %1.")
                                             .arg(QString::fromLocal8Bit(std::strerror(errno))));
        }
        if (statPath(target, false).exists()) {
            ::close(fd);
            ::unlink(nativePath(infoPath).constData());
            continue;
        }
        const bool written =
            ::write(fd, contents.constData(), size_t(contents.size())) == contents.size();
        ::close(fd);
        if (!written) {
            ::unlink(nativePath(infoPath).constData());
            return Result<QString>::fail(QStringLiteral("The trash cannot be written."));
        }
        if (::rename(nativePath(absolute).constData(), nativePath(target).constData()) != 0) {
            const int err = errno;
            ::unlink(nativePath(infoPath).constData());
            return Result<QString>::fail(QStringLiteral("\"%1\" cannot be moved to the trash: %2.")
                                             .arg(displayName(name), errnoText(err)));
        }
        return target;
    }
    return Result<QString>::fail(
        QStringLiteral("The trash has no free name for \"%1\".").arg(displayName(name)));
}

} // namespace qmt
