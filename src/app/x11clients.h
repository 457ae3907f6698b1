#pragma once

#include <QString>
#include <QtGui/qwindowdefs.h>

#include <optional>

namespace qmt {

// The first window of the X11 window manager's client list whose title (its first 255
// characters) contains text; 0 when none does. nullopt when there is no such list to walk (not
// an X11 session, no window manager, or built without libxcb).
std::optional<WId> findX11Client(const QString &text);

} // namespace qmt
