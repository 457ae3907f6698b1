#pragma once

#include "components/result.h"

#include <QByteArray>
#include <QString>

#include <functional>

class QIODevice;

namespace qmt {

// Writes a whole file the safe way: into a temporary file beside it, flushed to the disk, then
// renamed over the name. A link at the name is replaced, never followed; until the rename
// succeeds, whatever was there stays as it was, and no partial file is left behind.
// `fill` writes the content and says why it could not.
Status writeFileSafely(const QString &path, const std::function<Status(QIODevice *)> &fill);
Status writeFileSafely(const QString &path, const QByteArray &data);

} // namespace qmt
