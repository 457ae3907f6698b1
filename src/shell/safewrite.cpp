#include "shell/safewrite.h"

#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace qmt {

Status writeFileSafely(const QString &path, const std::function<Status(QIODevice *)> &fill)
{
    const QFileInfo info(path);
    QTemporaryFile out(info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                       QStringLiteral(".XXXXXX.part"));
    if (!out.open())
        return Status::fail(
            QStringLiteral("%1 cannot be written: %2").arg(info.absolutePath(), out.errorString()));
    if (const Status filled = fill(&out); !filled)
        return filled;
    if (!out.flush() || ::fsync(out.handle()) != 0)
        return Status::fail(
            QStringLiteral("%1 cannot be written: %2").arg(path, out.errorString()));
    // Readable by others as files usually are; the temporary file starts private.
    out.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    out.close();
    if (::rename(QFile::encodeName(out.fileName()).constData(),
                 QFile::encodeName(path).constData()) != 0)
        return Status::fail(QStringLiteral("%1 cannot be written: %2")
                                .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    out.setAutoRemove(false);
    return {};
}

Status writeFileSafely(const QString &path, const QByteArray &data)
{
    return writeFileSafely(path, [&data](QIODevice *device) -> Status {
        if (device->write(data) != data.size())
            return Status::fail(device->errorString());
        return {};
    });
}

} // namespace qmt
