#include "components/nativefile.h"

#include <QFile>
#include <QScopeGuard>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qmt {
namespace {

constexpr char16_t kEscapeBase = 0xDC00; // U+DC80..U+DCFF carry the bytes 0x80..0xFF

bool isEscape(QChar c)
{
    return c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF;
}

// The length of the valid UTF-8 sequence at `at`, or 0 when the byte there starts none
// (RFC 3629: no overlong forms, no surrogates, nothing above U+10FFFF).
int validSequenceAt(const QByteArray &bytes, qsizetype at)
{
    const auto byte = [&](qsizetype i) { return uchar(bytes.at(i)); };
    const uchar lead = byte(at);
    if (lead < 0x80)
        return 1;
    int length = 0;
    uchar low = 0x80;
    uchar high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > bytes.size())
        return 0;
    const uchar second = byte(at + 1);
    if (second < low || second > high)
        return 0;
    for (int i = 2; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

PathStatus::Kind kindOf(mode_t mode)
{
    if (S_ISREG(mode))
        return PathStatus::Kind::Regular;
    if (S_ISDIR(mode))
        return PathStatus::Kind::Directory;
    if (S_ISLNK(mode))
        return PathStatus::Kind::Link;
    return PathStatus::Kind::Other;
}

PathStatus statusOf(const struct stat &st)
{
    PathStatus status;
    status.kind = kindOf(st.st_mode);
    status.identity = FileIdentity{st.st_dev, st.st_ino};
    status.mode = st.st_mode;
    status.size = qint64(st.st_size);
    status.mtime = qint64(st.st_mtim.tv_sec);
    return status;
}

QString openFailure(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("The file does not exist.");
    case EACCES:
    case EPERM:
        return QStringLiteral("You have no permission to open the file.");
    case ELOOP:
        return QStringLiteral("The file is a symbolic link and is not followed here.");
    default:
        return QStringLiteral("The file cannot be opened: %1").arg(errnoText(error));
    }
}

QString notRegular(PathStatus::Kind kind)
{
    if (kind == PathStatus::Kind::Directory)
        return QStringLiteral("The path is a folder, not a file.");
    if (kind == PathStatus::Kind::Link)
        return QStringLiteral("The file is a symbolic link and is not followed here.");
    return QStringLiteral("The file is not a regular file (a pipe, a device or a socket) and is "
                          "not opened.");
}

} // namespace

QByteArray nativePath(const QString &path)
{
    if (!hasUndecodableBytes(path))
        return QFile::encodeName(path);
    QByteArray bytes;
    bytes.reserve(path.size() * 3);
    QString run;
    for (qsizetype i = 0; i < path.size(); ++i) {
        const QChar c = path.at(i);
        // A lone low surrogate: one carried byte. A surrogate pair is an ordinary character.
        const bool paired = i > 0 && path.at(i - 1).isHighSurrogate();
        if (isEscape(c) && !paired) {
            bytes += run.toUtf8();
            run.clear();
            bytes += char(c.unicode() - kEscapeBase);
        } else {
            run += c;
        }
    }
    bytes += run.toUtf8();
    return bytes;
}

QString pathFromNative(const QByteArray &bytes)
{
    QString text;
    text.reserve(bytes.size());
    qsizetype start = 0; // of the valid run not copied yet
    qsizetype at = 0;
    while (at < bytes.size()) {
        const int length = validSequenceAt(bytes, at);
        if (length > 0) {
            at += length;
            continue;
        }
        text += QString::fromUtf8(bytes.constData() + start, at - start);
        text += QChar(char16_t(kEscapeBase + uchar(bytes.at(at))));
        start = ++at;
    }
    text += QString::fromUtf8(bytes.constData() + start, bytes.size() - start);
    return text;
}

bool hasUndecodableBytes(const QString &path)
{
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (isEscape(path.at(i)) && !(i > 0 && path.at(i - 1).isHighSurrogate()))
            return true;
    }
    return false;
}

QString displayName(const QString &name)
{
    if (!hasUndecodableBytes(name))
        return name;
    return QString::fromUtf8(nativePath(name)); // invalid bytes become U+FFFD
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

PathStatus statPath(const QString &path, bool followLinks)
{
    PathStatus status;
    struct stat st {
    };
    const QByteArray native = nativePath(path);
    const int rc = followLinks ? ::stat(native.constData(), &st) : ::lstat(native.constData(), &st);
    if (rc != 0) {
        status.error = errno;
        return status;
    }
    return statusOf(st);
}

Status openRegularFile(QFile &file, const QString &path, bool followLinks)
{
    const PathStatus before = statPath(path, followLinks);
    if (!before.exists())
        return Status::fail(openFailure(before.error));
    if (!before.isRegular())
        return Status::fail(notRegular(before.kind));
    // O_NONBLOCK: should a FIFO have taken the file's place since, opening it does not wait
    // for a writer.
    int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    if (!followLinks)
        flags |= O_NOFOLLOW;
    const int fd = ::open(nativePath(path).constData(), flags);
    if (fd < 0)
        return Status::fail(openFailure(errno));
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return Status::fail(notRegular(PathStatus::Kind::Other));
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return Status::fail(
            QStringLiteral("The file cannot be opened: %1").arg(file.errorString()));
    }
    return {};
}

Result<QList<FolderEntry>> readFolderEntries(const QString &folder, qsizetype maxEntries,
                                             bool followLinks)
{
    using Entries = Result<QList<FolderEntry>>;
    const QByteArray native = nativePath(folder);
    DIR *dir = ::opendir(native.constData());
    if (!dir) {
        const int error = errno;
        if (error == EACCES || error == EPERM)
            return Entries::fail(QStringLiteral("You have no permission to open the folder \"%1\".")
                                     .arg(displayName(folder)));
        return Entries::fail(QStringLiteral("The folder \"%1\" cannot be read: %2.")
                                 .arg(displayName(folder), errnoText(error)));
    }
    const auto closeDir = qScopeGuard([dir] { ::closedir(dir); });
    if (::faccessat(AT_FDCWD, native.constData(), X_OK, AT_EACCESS) != 0)
        return Entries::fail(
            QStringLiteral("The folder \"%1\" can be read but not entered, so its files cannot "
                           "be opened.")
                .arg(displayName(folder)));

    QList<FolderEntry> entries;
    const int fd = ::dirfd(dir);
    while (entries.size() < maxEntries) {
        errno = 0;
        const dirent *entry = ::readdir(dir);
        if (!entry)
            break;
        const char *name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        FolderEntry item;
        item.name = pathFromNative(QByteArray(name));
        struct stat st {
        };
        if (::fstatat(fd, name, &st, followLinks ? 0 : AT_SYMLINK_NOFOLLOW) == 0)
            item.status = statusOf(st);
        else
            item.status.error = errno;
        entries.append(std::move(item));
    }
    return entries;
}

Status replaceFileQuickly(const QString &target, const QByteArray &bytes)
{
    const qsizetype slash = target.lastIndexOf(QLatin1Char('/'));
    QByteArray temp = nativePath(target.left(slash + 1) + QLatin1Char('.') + target.mid(slash + 1) +
                                 QStringLiteral(".XXXXXX"));
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return Status::fail(errnoText(errno));
    qsizetype written = 0;
    int error = 0;
    while (written < bytes.size() && error == 0) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n > 0)
            written += n;
        else if (n == 0 || errno != EINTR)
            error = n == 0 ? EIO : errno;
    }
    ::fchmod(fd, 0600);
    if (::close(fd) != 0 || error != 0 ||
        ::rename(temp.constData(), nativePath(target).constData()) != 0) {
        const int failure = error ? error : errno;
        ::unlink(temp.constData());
        return Status::fail(errnoText(failure));
    }
    return {};
}

} // namespace qmt
