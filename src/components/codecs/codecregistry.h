#pragma once

#include "components/engine/imageio.h"

#include <optional>

class QIODevice;

namespace qmt {

// The program's own codecs, for the formats Qt reads badly or not at all. The engine asks here
// first; nullopt means "not one of ours, let Qt's readers try". The device is left at its start.
std::optional<Result<DecodedImage>> readWithOwnCodec(QIODevice *device, const QString &suffix,
                                                     const ReadOptions &options);
std::optional<Status> writeWithOwnCodec(const QList<QImage> &pages, QIODevice *device,
                                        int formatCode);

} // namespace qmt
