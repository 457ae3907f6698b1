#include "app/startup.h"

#include "explorer/listingorder.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImageReader>
#include <QThreadPool>

#include <algorithm>

namespace qmt {
namespace {

constexpr int kMaxImageIndex = 32767;

QString cleanAbsolute(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

QString commandLineFrom(const QStringList &arguments)
{
    return arguments.mid(1).join(QLatin1Char(' '));
}

StartupDecision decideStartup(const QString &commandLine)
{
    StartupDecision decision;
    if (commandLine == QLatin1String("/DeAssociate")) {
        decision.action = StartupDecision::RemoveAssociations;
        decision.checkAssociations = false;
        return decision;
    }
    if (commandLine == QLatin1String("/Associate")) {
        decision.action = StartupDecision::CheckAssociations;
        return decision;
    }
    if (!PathExists(commandLine))
        return decision;

    const bool pattern =
        commandLine.contains(QLatin1Char('*')) || commandLine.contains(QLatin1Char('?'));
    const QFileInfo info(commandLine);
    if (!pattern && info.isDir()) {
        decision.action = StartupDecision::BrowseFolder;
        decision.path = cleanAbsolute(commandLine);
        return decision;
    }
    if (pattern || !info.exists()) {
        // A pattern that matched, or a link to nothing: there is no one file to show.
        return decision;
    }
    decision.action = StartupDecision::OpenViewer;
    decision.path = cleanAbsolute(commandLine);
    return decision;
}

bool PathExists(const QString &path)
{
    if (path.isEmpty())
        return false;
    if (QDir::cleanPath(path) == QLatin1String("/"))
        return true;
    const QFileInfo info(path);
    const QString name = info.fileName();
    if (name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?'))) {
        const QDir folder = info.dir();
        return !folder
                    .entryList({name}, QDir::AllEntries | QDir::Hidden | QDir::System |
                                           QDir::NoDotAndDotDot)
                    .isEmpty();
    }
    return info.exists() || info.isSymLink();
}

int FindImageIndex(const QStringList &list, const QString &path)
{
    const qsizetype last = std::min<qsizetype>(list.size(), kMaxImageIndex + 1);
    for (qsizetype i = 0; i < last; ++i) {
        if (list.at(i) == path)
            return int(i);
    }
    return 0;
}

QString parentFolderName(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return QString();
    return path.left(slash);
}

QString programFolder()
{
    return QCoreApplication::applicationDirPath();
}

void warmUpInBackground()
{
    QThreadPool::globalInstance()->start([] {
        // Fontconfig's set of fonts and the default font's face.
        QFontMetrics(QGuiApplication::font()).height();
        // The first reader asked for content of no known format loads every plugin.
        QByteArray bytes("not a picture");
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader(&buffer).canRead();
    });
}

bool nameLess(const QString &a, const QString &b)
{
    return listingLessThan(a, b);
}

ViewerStart viewerStartFor(const QString &file, QStringList folderList)
{
    ViewerStart start;
    if (folderList.contains(file)) {
        start.index = FindImageIndex(folderList, file);
        start.list = std::move(folderList);
        return start;
    }
    const QString name = QFileInfo(file).fileName();
    const auto place = std::find_if(folderList.begin(), folderList.end(), [&](const QString &p) {
        return nameLess(name, QFileInfo(p).fileName());
    });
    const qsizetype at = place - folderList.begin();
    folderList.insert(at, file);
    start.list = std::move(folderList);
    start.index = int(std::min<qsizetype>(at, kMaxImageIndex));
    return start;
}

} // namespace qmt
