#pragma once

#include <QString>

namespace qmt::viewer {

// The viewer's three settings under the program's settings key. A value that cannot be read
// gives the default; a failed write is not reported (the setting simply is not kept).
QString readSetting(const char *name, const QString &defaultValue);
bool saveSetting(const char *name, const QString &value);

} // namespace qmt::viewer
