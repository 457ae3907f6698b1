#include "shell/desktopassociation.h"

#include "components/launcher.h"
#include "shell/mimeappslist.h"
#include "shell/modassoctypes.h"
#include "shell/registrystore.h"
#include "shell/safewrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <optional>

#include <sys/stat.h>

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

// Characters the freedesktop desktop entry format reserves in an Exec argument: an argument holding
// one must be quoted.
bool needsQuoting(const QString &argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    for (const QChar c : argument)
        if (reserved.contains(c) || c.unicode() < 0x20)
            return true;
    return argument.isEmpty();
}

// Escapes for a value of type string: backslash and the control characters it can name.
QString stringValue(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'\\':
            out += QStringLiteral("\\\\");
            break;
        case u'\n':
            out += QStringLiteral("\\n");
            break;
        case u'\t':
            out += QStringLiteral("\\t");
            break;
        case u'\r':
            out += QStringLiteral("\\r");
            break;
        default:
            out += c;
        }
    }
    return out;
}

// Undoes stringValue().
QString fromStringValue(const QString &text)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != u'\\' || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const QChar next = text.at(++i);
        switch (next.unicode()) {
        case u's':
            out += u' ';
            break;
        case u'n':
            out += u'\n';
            break;
        case u't':
            out += u'\t';
            break;
        case u'r':
            out += u'\r';
            break;
        default:
            out += next;
        }
    }
    return out;
}

// Entries and MIME definitions are small; anything larger is not one of ours.
constexpr qint64 kMaxEntryBytes = 256 * 1024;

std::optional<QByteArray> readSmallFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.isSymLink() || info.size() > kMaxEntryBytes)
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray data = file.read(kMaxEntryBytes + 1);
    if (data.size() > kMaxEntryBytes)
        return std::nullopt;
    return data;
}

bool isOwnEntry(const QByteArray &text, const QString &programFile)
{
    const QString program = DesktopAssociation::execProgram(text);
    return !program.isEmpty() && QDir::cleanPath(program) == QDir::cleanPath(programFile);
}

const QString kEntryBefore = QStringLiteral("Entry Before");
const QString kApplicationsCreated = QStringLiteral("Applications Folder Created");
const QString kMimeCreated = QStringLiteral("MIME Folder Created");

// Notes that `folder` is about to be made for our files, so that it can go with them.
void noteFolderMade(RegistryStore &store, const QString &folder, const QString &name)
{
    if (!QFileInfo::exists(folder))
        store.setValue(HKEY_CURRENT_USER, DesktopAssociation::kInstalledFilesKey, name,
                       RegistryValue::string(QStringLiteral("1")));
}

bool folderWasMade(const RegistryStore &store, const QString &name)
{
    const auto value = store.value(HKEY_CURRENT_USER, DesktopAssociation::kInstalledFilesKey, name);
    return value && value->toText() == QLatin1String("1");
}

// Our entry may take the place of what is at `path`: nothing, an entry of ours (of this program
// or an older writing of it), or another program's entry once it is kept in the registry.
bool mayWriteEntry(RegistryStore &store, const QString &path, const QString &programFile)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    const std::optional<QByteArray> current = readSmallFile(path);
    if (!current)
        return false; // a link, a folder, something unreadable or huge: not ours to replace
    if (isOwnEntry(*current, programFile))
        return true;
    return store.setValue(HKEY_CURRENT_USER, DesktopAssociation::kInstalledFilesKey, kEntryBefore,
                          RegistryValue::string(QString::fromUtf8(*current))) ==
           RegistryError::None;
}

QString xmlEscaped(const QString &text)
{
    return text.toHtmlEscaped();
}

// Replaces the file with data unless it already holds exactly that. True when it was written.
bool writeIfChanged(const QString &path, const QByteArray &data)
{
    if (readSmallFile(path) == data)
        return false;
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    return bool(writeFileSafely(path, data));
}

void runTool(const QString &tool, const QString &folder)
{
    if (launcher().hasProgram(tool))
        launcher().run(tool, {folder}, kToolTimeoutMs);
}

// The same file, by device and inode: a launcher on PATH is often a link to the program.
bool sameFile(const QString &a, const QString &b)
{
    struct stat sa {
    };
    struct stat sb {
    };
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// Whether the entry of our name that the desktop finds first outside the user's own folder (the
// one a package installs) starts programFile.
bool systemEntryStarts(const QString &programFile)
{
    const QString own = QDir::cleanPath(dataHome());
    for (const QString &dir :
         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        if (QDir::cleanPath(dir) == own)
            continue;
        const QString path =
            dir + QStringLiteral("/applications/") + DesktopAssociation::kDesktopId;
        if (!QFileInfo::exists(path))
            continue;
        const std::optional<QByteArray> text = readSmallFile(path);
        if (!text)
            return false;
        QString program = DesktopAssociation::execProgram(*text);
        if (!program.isEmpty() && !program.contains(u'/'))
            program = QStandardPaths::findExecutable(program);
        return !program.isEmpty() && sameFile(program, programFile);
    }
    return false;
}

// Takes our entry out of the user's folder: the entry that was there before comes back, or the
// file goes (with a folder that was made for it). True when something changed.
bool takeBackEntry(RegistryStore &store, const QString &programFile)
{
    const QString entry = DesktopAssociation::desktopEntryPath();
    const QString applications = QFileInfo(entry).absolutePath();
    bool entryChanged = false;
    if (const std::optional<QByteArray> current = readSmallFile(entry);
        current && isOwnEntry(*current, programFile)) {
        const auto before =
            store.value(HKEY_CURRENT_USER, DesktopAssociation::kInstalledFilesKey, kEntryBefore);
        if (before) {
            entryChanged = bool(writeFileSafely(entry, before->toText().toUtf8()));
            if (entryChanged)
                store.deleteValue(HKEY_CURRENT_USER, DesktopAssociation::kInstalledFilesKey,
                                  kEntryBefore);
        } else {
            entryChanged = QFile::remove(entry);
        }
    }
    if (entryChanged) {
        // A folder made for our entry holds at most the cache the desktop built for it.
        QDir folder(applications);
        const QStringList left =
            folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        if (folderWasMade(store, kApplicationsCreated) &&
            (left.isEmpty() || left == QStringList{QStringLiteral("mimeinfo.cache")})) {
            folder.remove(QStringLiteral("mimeinfo.cache"));
            QDir().rmdir(applications);
        } else {
            runTool(QStringLiteral("update-desktop-database"), applications);
        }
    }
    store.deleteValue(HKEY_CURRENT_USER, DesktopAssociation::kInstalledFilesKey,
                      kApplicationsCreated);
    return entryChanged;
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
    QStringList types = programMimeTypes() + QStringList{QStringLiteral("image/x-photo-cd"),
                                                         QStringLiteral("image/x-win-bitmap")};
    for (const QLatin1String &modern : kModernMimeTypes)
        types.append(modern);
    QString text = QStringLiteral("[Desktop Entry]\n"
                                  "Type=Application\n"
                                  "Name=Pictavo\n"
                                  "GenericName=Image Browser\n"
                                  "Comment=Browse, view and convert pictures\n");
    text += QStringLiteral("Exec=%1\n").arg(execValue(programFile));
    text += QStringLiteral("Icon=%1\n").arg(stringValue(iconFor(programFile)));
    text += QStringLiteral("Terminal=false\n"
                           "Categories=Graphics;Viewer;RasterGraphics;2DGraphics;\n");
    text += QStringLiteral("MimeType=") + types.join(u';') + QStringLiteral(";\n");
    return text.toUtf8();
}

QString DesktopAssociation::execValue(const QString &programFile)
{
    QString argument = programFile;
    if (needsQuoting(argument)) {
        QString quoted;
        for (const QChar c : argument) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                quoted += u'\\';
            quoted += c;
        }
        argument = u'"' + quoted + u'"';
    }
    // A literal percent sign is written twice; "%f" is the file being opened.
    argument.replace(u'%', QStringLiteral("%%"));
    return stringValue(argument) + QStringLiteral(" %f");
}

QString DesktopAssociation::execProgram(const QByteArray &entryText)
{
    QString value;
    bool inMainGroup = false;
    for (const QByteArray &rawLine : entryText.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.startsWith(u'[')) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup || !line.startsWith(QLatin1String("Exec")))
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0 || line.left(equals).trimmed() != QLatin1String("Exec"))
            continue;
        value = fromStringValue(line.mid(equals + 1).trimmed());
        break;
    }
    value.replace(QStringLiteral("%%"), QStringLiteral("%"));
    if (!value.startsWith(u'"'))
        return value.section(u' ', 0, 0, QString::SectionSkipEmpty);
    QString program;
    for (qsizetype i = 1; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c == u'"')
            return program;
        if (c == u'\\' && i + 1 < value.size())
            program += value.at(++i);
        else
            program += c;
    }
    return QString(); // no closing quote
}

QString DesktopAssociation::iconFor(const QString &programFile)
{
    const QString picture = QFileInfo(programFile).absolutePath() + QStringLiteral("/pictavo.png");
    return QFileInfo(picture).isFile() ? picture : QStringLiteral("pictavo");
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
    RegistryStore store;
    const QString entry = desktopEntryPath();
    const QString applications = QFileInfo(entry).absolutePath();
    if (systemEntryStarts(programFile)) {
        // Installed with the system's own entry (a package): a copy in the user's folder would
        // outlive the package and leave the types opening with a program that is gone.
        takeBackEntry(store, programFile);
    } else {
        noteFolderMade(store, applications, kApplicationsCreated);
        if (mayWriteEntry(store, entry, programFile) &&
            writeIfChanged(entry, desktopEntryText(programFile)))
            runTool(QStringLiteral("update-desktop-database"), applications);
    }

    const QByteArray package = mimePackageText();
    const QString mime = dataHome() + QStringLiteral("/mime");
    bool packageChanged = false;
    if (package.isEmpty()) {
        packageChanged = QFile::exists(mimePackagePath()) && QFile::remove(mimePackagePath());
    } else {
        noteFolderMade(store, mime, kMimeCreated);
        packageChanged = writeIfChanged(mimePackagePath(), package);
    }
    if (packageChanged)
        runTool(QStringLiteral("update-mime-database"), mime);
}

void DesktopAssociation::uninstall(const QString &programFile)
{
    // A type that still opens with us needs the entry (its default could not be given back).
    for (const QString &mimeType : programMimeTypes())
        if (isDefault(mimeType))
            return;
    RegistryStore store;
    takeBackEntry(store, programFile);

    const QString mime = dataHome() + QStringLiteral("/mime");
    if (QFileInfo(mimePackagePath()).isFile() && QFile::remove(mimePackagePath())) {
        // With no definitions left, everything under a folder made for ours was built from them.
        const QString packages = mime + QStringLiteral("/packages");
        if (folderWasMade(store, kMimeCreated) &&
            QDir(packages).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System |
                                   QDir::NoDotAndDotDot))
            QDir(mime).removeRecursively();
        else
            runTool(QStringLiteral("update-mime-database"), mime);
    }
    store.deleteValue(HKEY_CURRENT_USER, kInstalledFilesKey, kMimeCreated);
}

bool DesktopAssociation::isDefault(const QString &mimeType) const
{
    const auto list = MimeAppsList::load(MimeAppsList::userPath());
    return list && list->firstEntry(kDefaultGroup, mimeType) == kDesktopId;
}

bool DesktopAssociation::hasKeptDefault(const QString &mimeType) const
{
    return RegistryStore().value(HKEY_CURRENT_USER, kPreviousDefaultsKey, mimeType).has_value();
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
    // The previous defaults stay behind ours: the desktop takes the first one installed, so they
    // open the type again by themselves when this program is removed.
    QStringList ids{kDesktopId};
    for (const QString &id : previous.split(u';', Qt::SkipEmptyParts)) {
        const QString trimmed = id.trimmed();
        if (!trimmed.isEmpty() && !ids.contains(trimmed))
            ids.append(trimmed);
    }
    list->setValue(kDefaultGroup, mimeType, ids.join(u';') + u';');
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
