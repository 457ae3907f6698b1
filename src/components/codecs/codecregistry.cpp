#include "components/codecs/codecregistry.h"

namespace qmt {

std::optional<Result<DecodedImage>> readWithOwnCodec(QIODevice *, const QString &, const ReadOptions &)
{
    return std::nullopt;
}

std::optional<Status> writeWithOwnCodec(const QList<QImage> &, QIODevice *, int)
{
    return std::nullopt;
}

} // namespace qmt
