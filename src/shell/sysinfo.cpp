#include "shell/sysinfo.h"

#include "components/launcher.h"
#include "shell/registrystore.h"

#include <QFileInfo>
#include <QStandardPaths>

namespace qmt {

QStringList systemInfoCandidates()
{
    return {QStringLiteral("hardinfo"),
            QStringLiteral("hardinfo2"),
            QStringLiteral("kinfocenter"),
            QStringLiteral("gnome-system-monitor"),
            QStringLiteral("mate-system-monitor"),
            QStringLiteral("xfce4-taskmanager"),
            QStringLiteral("lxtask")};
}

bool RecordSystemInfoTool()
{
    QString existing;
    if (GetKeyValue(HKEY_LOCAL_MACHINE, kSysInfoPathKey, kSysInfoPathValue, existing) &&
        !existing.isEmpty())
        return true;
    for (const QString &name : systemInfoCandidates()) {
        if (!launcher().hasProgram(name))
            continue;
        QString path = QStandardPaths::findExecutable(name);
        if (path.isEmpty())
            path = name; // found by the launcher's own search; started by name
        RegistryStore store;
        if (store.setValue(HKEY_LOCAL_MACHINE, kSysInfoPathKey, kSysInfoPathValue,
                           RegistryValue::string(path)) != RegistryError::None)
            return false;
        if (QFileInfo(path).isAbsolute())
            store.setValue(HKEY_LOCAL_MACHINE, kSysInfoLocationKey, kSysInfoLocationValue,
                           RegistryValue::string(QFileInfo(path).absolutePath()));
        return true;
    }
    return false;
}

bool GetKeyValue(RegistryRoot KeyRoot, const QString &KeyName, const QString &SubKeyRef,
                 QString &KeyVal)
{
    const RegistryStore store;
    if (!store.keyExists(KeyRoot, KeyName)) {
        KeyVal.clear();
        return false;
    }
    const std::optional<RegistryValue> value = store.value(KeyRoot, KeyName, SubKeyRef);
    if (!value) {
        KeyVal.clear();
        return false;
    }
    switch (value->type) {
    case RegistryValue::Type::String: {
        QString text = value->text;
        // The stored length may count the terminator: it is not part of the text.
        if (text.endsWith(QChar(0)))
            text.chop(1);
        KeyVal = text;
        break;
    }
    case RegistryValue::Type::DWord:
        KeyVal = QStringLiteral("&h") +
                 QStringLiteral("%1").arg(value->number, 8, 16, QLatin1Char('0')).toUpper();
        break;
    default:
        break;
    }
    return true;
}

} // namespace qmt
