#include "viewer/viewersettings.h"

#include "shell/cregister.h"
#include "shell/registrystore.h"

#include <QDir>
#include <QMap>

namespace qmt::viewer {
namespace {

struct UnsavedSettings {
    QMap<QByteArray, QString> values; // by value name
    bool failed = false;              // a save failed since the user was last told
    bool told = false;
};

UnsavedSettings &unsaved()
{
    static UnsavedSettings settings;
    return settings;
}

} // namespace

QString readSetting(const char *name, const QString &defaultValue)
{
    const auto kept = unsaved().values.constFind(QByteArray(name));
    if (kept != unsaved().values.cend())
        return *kept;
    return CRegister().REGGetSetting(kSettingsRoot, kSettingsSection, QString::fromLatin1(name),
                                     defaultValue);
}

bool saveSetting(const char *name, const QString &value)
{
    UnsavedSettings &state = unsaved();
    state.values.insert(QByteArray(name), value);
    for (auto it = state.values.begin(); it != state.values.end();) {
        if (CRegister().REGSaveSetting(kSettingsRoot, kSettingsSection,
                                       QString::fromLatin1(it.key()), it.value()))
            it = state.values.erase(it);
        else
            ++it;
    }
    if (state.values.isEmpty())
        return true;
    state.failed = true;
    return false;
}

std::optional<QString> unsavedSettingsNotice()
{
    UnsavedSettings &state = unsaved();
    if (!state.failed || state.told)
        return std::nullopt;
    state.told = true;
    const RegistryStore store;
    const QString file = QDir::toNativeSeparators(store.fileOf(kSettingsRoot));
    const QString why =
        store.isWritable(kSettingsRoot)
            ? QStringLiteral("the file that keeps them could not be written (another program may "
                             "be holding it, or the disk may be full)")
            : QStringLiteral("the file that keeps them, or its folder, is read-only");
    return QStringLiteral(
               "Your settings could not be saved, because %1:\n\n%2\n\nThe changes stay in "
               "effect until you close Pictavo, and Pictavo tries to save them again "
               "whenever you change a setting.")
        .arg(why, file);
}

void resetUnsavedSettings()
{
    unsaved() = UnsavedSettings();
}

} // namespace qmt::viewer
