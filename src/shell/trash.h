#pragma once

#include "components/result.h"

#include <QString>

namespace qmt {

// The desktop's trash, as the freedesktop Trash specification lays it out: a trashed file goes
// to <trash>/files/<name> and gets <trash>/info/<name>.trashinfo with its original path and the
// time of deletion, so the file manager can list it and put it back. Files on the home file
// system use $XDG_DATA_HOME/Trash (~/.local/share/Trash); files on other mounts use the mount's
// own .Trash/<uid> or .Trash-<uid>. A file no trash can take (a read-only mount, a mount without
// a usable trash) is refused with a reason: the caller decides whether to delete it for good.
class Trash
{
public:
    // The home trash folder ($XDG_DATA_HOME/Trash).
    static QString homeTrash();
    // The trash folder a file would go to, or "" when none can take it.
    static QString trashFor(const QString &path);
    // Moves the file or folder to the trash; the result is its new path inside files/.
    static Result<QString> moveToTrash(const QString &path);
};

} // namespace qmt
