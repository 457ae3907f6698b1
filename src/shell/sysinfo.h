#pragma once

#include "shell/registrystorehive.h"

#include <QLatin1String>
#include <QString>
#include <QStringList>

namespace qmt {

// Where the about box looks for the system-information program (local machine).
inline constexpr QLatin1String kSysInfoPathKey("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
inline constexpr QLatin1String kSysInfoPathValue("PATH");
inline constexpr QLatin1String kSysInfoLocationKey("SOFTWARE\\Microsoft\\Shared Tools Location");
inline constexpr QLatin1String kSysInfoLocationValue("MSINFO");
// The tool's file name inside the folder of the second value.
inline constexpr QLatin1String kSysInfoFileName("/MSINFO32.EXE");

// System-information programs of Linux desktops, in the order they are preferred.
QStringList systemInfoCandidates();

// Records in the two registry values the first system-information program this machine has,
// unless the first value already names one. Called once at start-up; true when a program is
// recorded (now or before).
bool RecordSystemInfoTool();

// Reads one registry value as the about box does: a string as it is (without a terminating
// null), a 32-bit number as "&h" and eight hexadecimal digits; any other type leaves KeyVal as
// it was. On a missing key or value KeyVal becomes "" and the result is false.
bool GetKeyValue(RegistryRoot KeyRoot, const QString &KeyName, const QString &SubKeyRef,
                 QString &KeyVal);

} // namespace qmt
