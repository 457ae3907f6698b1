#include "shell/modassoc.h"

#include "components/prompts.h"
#include "shell/desktopassociation.h"
#include "shell/modassoctypes.h"
#include "shell/registrystore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace qmt {
namespace {

const QString kFileExts =
    QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\");
const QString kProgramFile = QStringLiteral("qmt");
const QString kQuestion = QStringLiteral("The following image types are no more associated with "
                                         "Orvanta, Do you want to associate them now?");
const QString kQuestionTitle = QStringLiteral("ZEB Orvanta");

QString cutAtNull(QString text)
{
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    if (nul >= 0)
        text.truncate(nul);
    return text;
}

QString openCommand()
{
    return ShortPathOf(ProgramFolder() + kProgramFile);
}

// Every type registered and associated. The registry's changes are collected and written once
// per root at the end: other processes see all of them or none.
void registerAndAssociateAll()
{
    RegistryBatch batch;
    for (const AssociationType &type : kAssociationTypes)
        RegisterFileType(type.progId, type.description, QStringLiteral("open"),
                         ProgramFolder() + type.iconFile);
    for (const AssociationType &type : kAssociationTypes)
        AssociateExtension(type.extension, type.progId);
    for (const QLatin1String &mimeType : kModernMimeTypes)
        DesktopAssociation().makeDefault(mimeType);
}

// With all fifteen types still ours, the newer types that the program has never taken (an older
// version associated the fifteen without them) follow. One the program took and another
// application took since keeps its new owner.
void associateNewerTypes()
{
    DesktopAssociation desktop;
    for (const QLatin1String &mimeType : kModernMimeTypes) {
        if (!desktop.isDefault(mimeType) && !desktop.hasKeptDefault(mimeType))
            desktop.makeDefault(mimeType);
    }
}

} // namespace

QString ProgramFolder()
{
    QString folder = QCoreApplication::applicationDirPath();
    if (folder.isEmpty())
        folder = QDir::currentPath();
    if (!folder.endsWith(u'/'))
        folder += u'/';
    return folder;
}

QString ShortPathOf(const QString &path)
{
    return !path.isEmpty() && QFileInfo::exists(path) ? path : QString();
}

QString ExpandEnvStrings(const QString &text)
{
    QString out;
    qsizetype pos = 0;
    while (pos < text.size()) {
        const qsizetype open = text.indexOf(u'%', pos);
        if (open < 0) {
            out += QStringView(text).mid(pos);
            break;
        }
        out += QStringView(text).mid(pos, open - pos);
        const qsizetype close = text.indexOf(u'%', open + 1);
        if (close < 0) {
            out += QStringView(text).mid(open);
            break;
        }
        const QString name = text.mid(open + 1, close - open - 1);
        if (!name.isEmpty() && qEnvironmentVariableIsSet(name.toLocal8Bit().constData())) {
            out += qEnvironmentVariable(name.toLocal8Bit().constData());
            pos = close + 1;
        } else {
            // Not a reference: keep the '%' and look for one starting at the next '%'.
            out += u'%';
            pos = open + 1;
        }
    }
    return out;
}

QString GetRegString(RegistryRoot root, const QString &keyPath, const QString &valueName,
                     const QString &defaultText)
{
    const auto value = RegistryStore().value(root, keyPath, valueName);
    if (!value)
        return defaultText;
    QString result = value->toText();
    if (value->type == RegistryValue::Type::ExpandString)
        result = cutAtNull(ExpandEnvStrings(result));
    return result;
}

void SetRegString(RegistryRoot root, const QString &keyPath, const QString &valueName,
                  const QString &text)
{
    RegistryStore().setValue(root, keyPath, valueName, RegistryValue::string(text));
}

void DeleteRegKey(RegistryRoot root, const QString &keyPath)
{
    RegistryStore().deleteKey(root, keyPath, true);
}

void DeleteRegValue(RegistryRoot root, const QString &keyPath, const QString &valueName)
{
    RegistryStore().deleteValue(root, keyPath, valueName);
}

void RegisterFileType(const QString &progId, const QString &description, const QString &verb,
                      const QString &iconPath)
{
    // An older registration kept its class under the description's name.
    if (GetRegString(HKEY_CLASSES_ROOT, description, QString(), QString()) == progId)
        DeleteRegKey(HKEY_CLASSES_ROOT, description);
    SetRegString(HKEY_CLASSES_ROOT, progId, QString(), description);
    SetRegString(HKEY_CLASSES_ROOT, progId + QStringLiteral("\\shell"), QString(), QString(""));
    SetRegString(HKEY_CLASSES_ROOT, progId + QStringLiteral("\\shell\\") + verb, QString(),
                 QString(""));
    SetRegString(HKEY_CLASSES_ROOT,
                 progId + QStringLiteral("\\shell\\") + verb + QStringLiteral("\\command"),
                 QString(), openCommand() + QStringLiteral(" %1"));
    SetRegString(HKEY_CLASSES_ROOT, progId + QStringLiteral("\\DefaultIcon"), QString(),
                 iconPath.isEmpty() ? openCommand() : iconPath);

    // The desktop's counterpart of the class: the program's entry and the types it defines.
    DesktopAssociation().install(ProgramFolder() + kProgramFile);
}

int IsAssociated(const QString &extension, const QString &progId)
{
    if (GetRegString(HKEY_CLASSES_ROOT, extension, QString(), QString()) != progId)
        return 0;
    const QString mimeType = associationMimeType(extension);
    return mimeType.isEmpty() || DesktopAssociation().isDefault(mimeType) ? 1 : 0;
}

void AssociateExtension(const QString &extension, const QString &progId)
{
    if (IsAssociated(extension, progId) == 1)
        return;
    // The registry may still name us while the desktop was taken by another application: then
    // the previous owners saved in the registry stay as they are.
    if (GetRegString(HKEY_CLASSES_ROOT, extension, QString(), QString()) != progId) {
        const QString perUser = kFileExts + extension;
        const QString oldAss = GetRegString(HKEY_CLASSES_ROOT, extension, QString(), QString(""));
        SetRegString(HKEY_CLASSES_ROOT, extension, QStringLiteral("OldAss"), oldAss);
        SetRegString(HKEY_CLASSES_ROOT, extension, QString(), progId);
        const QString oldProgId =
            GetRegString(HKEY_CURRENT_USER, perUser, QStringLiteral("ProgID"), QString(""));
        SetRegString(HKEY_CURRENT_USER, perUser, QStringLiteral("OldProgID"), oldProgId);
        SetRegString(HKEY_CURRENT_USER, perUser, QStringLiteral("ProgID"), progId);
    }
    // Desktops watch mimeapps.list: writing it is what tells them the association changed.
    const QString mimeType = associationMimeType(extension);
    if (!mimeType.isEmpty())
        DesktopAssociation().makeDefault(mimeType);
}

void UnassociateExtension(const QString &extension, const QString &progId)
{
    // Each layer is given back only where it is still ours; what another program has taken
    // since is left alone.
    if (GetRegString(HKEY_CLASSES_ROOT, extension, QString(), QString()) == progId) {
        const QString perUser = kFileExts + extension;
        const QString oldAss =
            GetRegString(HKEY_CLASSES_ROOT, extension, QStringLiteral("OldAss"), QString(""));
        SetRegString(HKEY_CLASSES_ROOT, extension, QString(), oldAss);
        DeleteRegValue(HKEY_CLASSES_ROOT, extension, QStringLiteral("OldAss"));
        const QString oldProgId =
            GetRegString(HKEY_CURRENT_USER, perUser, QStringLiteral("OldProgID"), QString(""));
        SetRegString(HKEY_CURRENT_USER, perUser, QStringLiteral("ProgID"), oldProgId);
        DeleteRegValue(HKEY_CURRENT_USER, perUser, QStringLiteral("OldProgID"));
    }
    const QString mimeType = associationMimeType(extension);
    if (!mimeType.isEmpty())
        DesktopAssociation().restoreDefault(mimeType);
}

void CheckAssociations()
{
    if (GetRegString(HKEY_CLASSES_ROOT, kAssociationTypes[0].progId, QString(), QString())
            .isEmpty()) {
        registerAndAssociateAll();
        return;
    }
    QString lost;
    for (const AssociationType &type : kAssociationTypes) {
        if (IsAssociated(type.extension, type.progId) != 1)
            lost += u' ' + QString(type.extension).mid(1) + u' ';
    }
    if (lost.isEmpty()) {
        associateNewerTypes();
        return;
    }
    const PromptAnswer answer =
        prompts().message(kQuestion + QStringLiteral("\r\n") + lost, PromptIcon::Question,
                          PromptButtons::YesNo, kQuestionTitle);
    if (answer != PromptAnswer::Yes)
        return;
    registerAndAssociateAll();
}

void RemoveAssociations()
{
    RegistryBatch batch;
    for (const AssociationType &type : kAssociationTypes)
        UnassociateExtension(type.extension, type.progId);
    for (const QLatin1String &mimeType : kModernMimeTypes)
        DesktopAssociation().restoreDefault(mimeType);
    // The desktop is left as it was before: the entry and the definitions we added go too.
    DesktopAssociation().uninstall(ProgramFolder() + kProgramFile);
}

} // namespace qmt
