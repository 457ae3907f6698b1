#include "shell/desktopassociation.h"

#include "components/launcher.h"
#include "shell/mimeappslist.h"
#include "shell/modassoctypes.h"
#include "shell/registrystore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace qmt {
namespace {

const QString kDefaultGroup = QStringLiteral("Default Applications");
constexpr int kToolTimeoutMs = 30000;

QString dataHome()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

// The MIME types of the fifteen extensions, each once, in table order.
QStringList programMimeTypes()
{
    QStringList types;
    for (const AssociationType &type : kAssociationTypes)
        if (!types.contains(type.mimeType))
            types.append(type.mimeType);
    return types;
}

// Quotes a program path for the Exec key of a desktop entry: reserved characters are escaped
// inside double quotes, then backslashes once more for the string value, and % is doubled.
QString quotedExec(const QString &path)
{
    QString quoted;
    for (const QChar c : path) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted.replace(u'\\', QStringLiteral("\\\\"));
    quoted.replace(u'%', QStringLiteral("%%"));
    return u'"' + quoted + u'"';
}

QString xmlEscaped(const QString &text)
{
    return text.toHtmlEscaped();
}

// Replaces the file with data unless it already holds exactly that. True when it was written.
bool writeIfChanged(const QString &path, const QByteArray &data)
{
    QFile current(path);
    if (current.open(QIODevice::ReadOnly) && current.readAll() == data)
        return false;
    current.close();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size())
        return false;
    return out.commit();
}

void runTool(const QString &tool, const QString &folder)
{
    if (launcher().hasProgram(tool))
        launcher().run(tool, {folder}, kToolTimeoutMs);
}

} // namespace

QString DesktopAssociation::desktopEntryPath()
{
    return dataHome() + QStringLiteral("/applications/") + kDesktopId;
}

QString DesktopAssociation::mimePackagePath()
{
    return dataHome() + QStringLiteral("/mime/packages/pictavo.xml");
}

QByteArray DesktopAssociation::desktopEntryText(const QString &programFile)
{
    // Photo CD and cursor files are opened too, though they are no association of ours.
    const QStringList types =
        programMimeTypes() +
        QStringList{QStringLiteral("image/x-photo-cd"), QStringLiteral("image/x-win-bitmap")};
    QString text = QStringLiteral("[Desktop Entry]\n"
                                  "Type=Application\n"
                                  "Name=Pictavo\n"
                                  "GenericName=Image Browser\n"
                                  "Comment=Browse, view and convert pictures\n");
    text += QStringLiteral("Exec=%1 %f\n").arg(quotedExec(programFile));
    text += QStringLiteral("Icon=image-x-generic\n"
                           "Terminal=false\n"
                           "Categories=Graphics;Viewer;RasterGraphics;2DGraphics;\n");
    text += QStringLiteral("MimeType=") + types.join(u';') + QStringLiteral(";\n");
    return text.toUtf8();
}

bool DesktopAssociation::systemKnowsMimeType(const QString &mimeType)
{
    const QString own = QDir::cleanPath(dataHome());
    for (const QString &dir :
         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        if (QDir::cleanPath(dir) == own)
            continue;
        if (QFileInfo::exists(dir + QStringLiteral("/mime/") + mimeType + QStringLiteral(".xml")))
            return true;
    }
    return false;
}

QByteArray DesktopAssociation::mimePackageText()
{
    QString body;
    for (const QString &mimeType : programMimeTypes()) {
        if (mimeType != QLatin1String("image/x-tla") && systemKnowsMimeType(mimeType))
            continue;
        QStringList globs;
        QString comment;
        for (const AssociationType &type : kAssociationTypes) {
            if (type.mimeType != mimeType)
                continue;
            globs.append(u'*' + QString(type.extension));
            if (comment.isEmpty())
                comment = QString(type.extension).mid(1).toUpper() + QStringLiteral(" image");
        }
        body += QStringLiteral("  <mime-type type=\"%1\">\n    <comment>%2</comment>\n")
                    .arg(xmlEscaped(mimeType), xmlEscaped(comment));
        for (const QString &glob : std::as_const(globs))
            body += QStringLiteral("    <glob pattern=\"%1\"/>\n").arg(xmlEscaped(glob));
        body += QStringLiteral("  </mime-type>\n");
    }
    if (body.isEmpty())
        return QByteArray();
    return (QStringLiteral(
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n") +
            body + QStringLiteral("</mime-info>\n"))
        .toUtf8();
}

void DesktopAssociation::install(const QString &programFile)
{
    if (writeIfChanged(desktopEntryPath(), desktopEntryText(programFile)))
        runTool(QStringLiteral("update-desktop-database"),
                dataHome() + QStringLiteral("/applications"));

    const QByteArray package = mimePackageText();
    bool packageChanged = false;
    if (package.isEmpty())
        packageChanged = QFile::exists(mimePackagePath()) && QFile::remove(mimePackagePath());
    else
        packageChanged = writeIfChanged(mimePackagePath(), package);
    if (packageChanged)
        runTool(QStringLiteral("update-mime-database"), dataHome() + QStringLiteral("/mime"));
}

bool DesktopAssociation::isDefault(const QString &mimeType) const
{
    const auto list = MimeAppsList::load(MimeAppsList::userPath());
    return list && list->firstEntry(kDefaultGroup, mimeType) == kDesktopId;
}

bool DesktopAssociation::makeDefault(const QString &mimeType)
{
    const QString path = MimeAppsList::userPath();
    auto list = MimeAppsList::load(path);
    if (!list)
        return false;
    if (list->firstEntry(kDefaultGroup, mimeType) == kDesktopId)
        return true;
    // Keep the previous default first: without it the type could not be given back.
    const QString previous = list->value(kDefaultGroup, mimeType).value_or(QString());
    RegistryStore store;
    if (store.setValue(HKEY_CURRENT_USER, kPreviousDefaultsKey, mimeType,
                       RegistryValue::string(previous)) != RegistryError::None)
        return false;
    list->setValue(kDefaultGroup, mimeType, kDesktopId + u';');
    return list->save(path);
}

bool DesktopAssociation::restoreDefault(const QString &mimeType)
{
    const QString path = MimeAppsList::userPath();
    auto list = MimeAppsList::load(path);
    if (!list || list->firstEntry(kDefaultGroup, mimeType) != kDesktopId)
        return false;
    RegistryStore store;
    const auto kept = store.value(HKEY_CURRENT_USER, kPreviousDefaultsKey, mimeType);
    const QString previous = kept ? kept->toText() : QString();
    if (previous.isEmpty())
        list->remove(kDefaultGroup, mimeType);
    else
        list->setValue(kDefaultGroup, mimeType, previous);
    if (!list->save(path))
        return false;
    store.deleteValue(HKEY_CURRENT_USER, kPreviousDefaultsKey, mimeType);
    return true;
}

} // namespace qmt
