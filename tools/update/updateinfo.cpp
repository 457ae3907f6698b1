#include "updateinfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTextStream>

namespace {

// CMAKE_HOME_DIRECTORY of a build tree's cache: the source tree it was built from.
QString sourceTreeOf(const QString &buildFolder)
{
    QFile cache(buildFolder + QStringLiteral("/CMakeCache.txt"));
    if (!cache.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QTextStream in(&cache);
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.startsWith(QLatin1String("CMAKE_HOME_DIRECTORY:")))
            return line.section(QLatin1Char('='), 1);
    }
    return QString();
}

} // namespace

QString dpkgOwner(const QString &path)
{
    QProcess dpkg;
    dpkg.start(QStringLiteral("dpkg-query"), {QStringLiteral("-S"), path});
    if (!dpkg.waitForFinished(5000) || dpkg.exitStatus() != QProcess::NormalExit ||
        dpkg.exitCode() != 0)
        return QString();
    // "pictavo: /usr/lib/pictavo/qmt"
    return QString::fromLocal8Bit(dpkg.readAllStandardOutput())
        .section(QLatin1Char(':'), 0, 0)
        .trimmed();
}

UpdateInfo inspectInstallation(const QString &programFolder, const QString &version,
                               QString (*packageOwner)(const QString &path))
{
    UpdateInfo info;
    info.version = version;
    info.programFolder = QDir::cleanPath(programFolder);
    if (QFileInfo::exists(info.programFolder + QStringLiteral("/CMakeCache.txt"))) {
        info.kind = UpdateInfo::BuildTree;
        info.detail = sourceTreeOf(info.programFolder);
        return info;
    }
    const QString program = info.programFolder + QStringLiteral("/qmt");
    const QString owner = packageOwner
                              ? packageOwner(QFileInfo(program).canonicalFilePath().isEmpty()
                                                 ? program
                                                 : QFileInfo(program).canonicalFilePath())
                              : QString();
    if (!owner.isEmpty()) {
        info.kind = UpdateInfo::Package;
        info.detail = owner;
        return info;
    }
    info.kind = UpdateInfo::ByHand;
    return info;
}

QString UpdateInfo::message() const
{
    QString text =
        QStringLiteral("Pictavo version %1 is installed in %2.\n\n").arg(version, programFolder);
    switch (kind) {
    case BuildTree:
        text +=
            QStringLiteral("This copy was built from the source tree%1. To update it, bring the "
                           "source tree up to "
                           "date (for example with \"git pull\" there) and build again with "
                           "\"cmake --build %2\".")
                .arg(detail.isEmpty() ? QString() : QStringLiteral(" at ") + detail, programFolder);
        break;
    case Package:
        text += QStringLiteral(
                    "This copy comes from the package \"%1\". Update it with the system's package "
                    "manager, for example \"sudo apt update\" followed by \"sudo apt upgrade\".")
                    .arg(detail);
        break;
    case ByHand:
        text += QStringLiteral(
            "This copy was installed by hand. To update it, install a newer release into the same "
            "folder in the same way.");
        break;
    }
    text += QStringLiteral(
        "\n\nThe updater does not look for newer versions itself, so it cannot say whether one "
        "exists.");
    return text;
}
