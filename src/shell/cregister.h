#pragma once

#include "shell/registrystorehive.h"

#include <QLatin1String>
#include <QString>
#include <QStringList>

namespace qmt {

// Where the viewer keeps its settings: three string values under one local-machine key.
inline constexpr RegistryRoot kSettingsRoot = HKEY_LOCAL_MACHINE;
inline constexpr QLatin1String kSettingsSection("SOFTWARE\\Karvendel\\Pictavo Settings\\");
inline constexpr QLatin1String kAntiAliasValue("AntiAlias");
inline constexpr QLatin1String kAntiAliasDefault("1");
inline constexpr QLatin1String kSlideShowDelayValue("Slide Show Delay");
inline constexpr QLatin1String kSlideShowDelayDefault("2000");
inline constexpr QLatin1String kFullScreenValue("FullScreen");
inline constexpr QLatin1String kFullScreenDefault("1");

// The small registry class the program's settings go through. An object keeps no state between
// calls; make one for a call or a short sequence of calls. Failures show only in the results:
// False, or the default text. The value name "*" stands for a key's default (unnamed) value.
class CRegister
{
public:
    // The stored string, or sDefault when the key or value is missing, has no data at all or
    // cannot be read. Nothing is created.
    QString REGGetSetting(RegistryRoot regHKEY, const QString &sSection, const QString &sKey,
                          const QString &sDefault) const;
    // Creates the key when missing and writes sValue as a string. True when written.
    bool REGSaveSetting(RegistryRoot regHKEY, const QString &sSection, const QString &sKey,
                        const QString &sValue) const;
    // With a value name, deletes that value of the (normalized) section. With an empty name,
    // deletes the key sSection itself, taken as given; a key with sub-keys is kept.
    bool REGDeleteSetting(RegistryRoot regHKEY, const QString &sSection, const QString &sKey) const;
    // Names of the direct sub-keys of strPath; empty when it has none or cannot be opened.
    QStringList GetAllKeys(RegistryRoot HKEY, const QString &strPath) const;
    // Removes one leading backslash, then one trailing backslash.
    static QString NormalizeSection(const QString &section);
};

} // namespace qmt
