#include "viewer/viewersettings.h"

#include "shell/cregister.h"

namespace qmt::viewer {

QString readSetting(const char *name, const QString &defaultValue)
{
    return CRegister().REGGetSetting(kSettingsRoot, kSettingsSection, QString::fromLatin1(name),
                                     defaultValue);
}

bool saveSetting(const char *name, const QString &value)
{
    return CRegister().REGSaveSetting(kSettingsRoot, kSettingsSection, QString::fromLatin1(name),
                                      value);
}

} // namespace qmt::viewer
