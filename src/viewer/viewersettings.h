#pragma once

#include <QString>

#include <optional>

namespace qmt::viewer {

// The viewer's three settings under the program's settings key. A value that cannot be read
// gives the default.
//
// A setting that cannot be written is not dropped: it is kept for the rest of the run, so reads
// give it back, and every later save writes it again with its own value. The first failure of a
// run is told to the user once (unsavedSettingsNotice).
QString readSetting(const char *name, const QString &defaultValue);
// True when this setting and every one kept from earlier failures were written.
bool saveSetting(const char *name, const QString &value);

// After a failed save: the words that tell the user, the first time in a run; nullopt after that
// or when nothing failed.
std::optional<QString> unsavedSettingsNotice();

// Forgets kept settings and whether the user was told, as at the start of a run (for the tests).
void resetUnsavedSettings();

} // namespace qmt::viewer
