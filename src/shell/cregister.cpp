#include "shell/cregister.h"

#include "shell/registrystore.h"

namespace qmt {
namespace {

constexpr qsizetype kMaxSubKeyName = 255; // the enumeration buffer holds this many characters

QString valueNameOf(const QString &sKey)
{
    return sKey == QLatin1String("*") ? QString() : sKey;
}

} // namespace

QString CRegister::NormalizeSection(const QString &section)
{
    QString result = section;
    if (result.startsWith(u'\\'))
        result.remove(0, 1);
    if (result.endsWith(u'\\'))
        result.chop(1);
    return result;
}

QString CRegister::REGGetSetting(RegistryRoot regHKEY, const QString &sSection, const QString &sKey,
                                 const QString &sDefault) const
{
    // Reads never need write access, so a read-only registry still gives its values.
    const RegistryStore store;
    const auto value = store.value(regHKEY, NormalizeSection(sSection), valueNameOf(sKey));
    if (!value || value->dataSize() == 0)
        return sDefault;
    return value->toText();
}

bool CRegister::REGSaveSetting(RegistryRoot regHKEY, const QString &sSection, const QString &sKey,
                               const QString &sValue) const
{
    RegistryStore store;
    return store.setValue(regHKEY, NormalizeSection(sSection), valueNameOf(sKey),
                          RegistryValue::string(sValue)) == RegistryError::None;
}

bool CRegister::REGDeleteSetting(RegistryRoot regHKEY, const QString &sSection,
                                 const QString &sKey) const
{
    RegistryStore store;
    if (!sKey.isEmpty()) {
        return store.deleteValue(regHKEY, NormalizeSection(sSection), valueNameOf(sKey)) ==
               RegistryError::None;
    }
    if (sSection.isEmpty())
        return false; // the root itself is never deleted
    return store.deleteKey(regHKEY, sSection, false) == RegistryError::None;
}

QStringList CRegister::GetAllKeys(RegistryRoot HKEY, const QString &strPath) const
{
    const RegistryStore store;
    QStringList names = store.subKeys(HKEY, strPath).value_or(QStringList());
    for (QString &name : names) {
        const qsizetype nul = name.indexOf(QChar(u'\0'));
        if (nul >= 0)
            name.truncate(nul);
        name.truncate(kMaxSubKeyName);
    }
    return names;
}

} // namespace qmt
