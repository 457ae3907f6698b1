#pragma once

#include <QString>

namespace qmt {

// Opens the help: "qmt.chm" from the program folder with the desktop's viewer for compiled help,
// or, when the desktop has none (or the file is missing), the HTML pages of the same help in
// "help/index.html" with the browser. Tells the user when neither can be opened. An empty
// folder means the program's own.
bool OpenHelp(const QString &programFolder = QString());

// Starts "update/update" from the program folder, detached. Tells the user when it cannot.
bool StartUpdater(const QString &programFolder = QString());

// Whether the desktop names an application for compiled help files.
bool desktopOpensChm();

} // namespace qmt
