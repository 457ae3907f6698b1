// Feeds raw bytes to the thumbnail cache's reader, as a stored thumbnail and as a failure
// record: anything may sit in ~/.cache/thumbnails. The seed in tests/data/thumbnailcache
// describes the file below in the state below, so that mutations reach past the checks.

#include "components/thumbnailcache.h"
#include "fuzzsupport.h"

#include <QBuffer>

#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qmt::fuzz::startApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString uri = QStringLiteral("file:///fuzz/photo.jpg");
    const qmt::ThumbnailCache::FileStamp stamp{1700000000, 4096};
    QBuffer entry(&bytes);
    entry.open(QIODevice::ReadOnly);
    qmt::ThumbnailCache::readEntry(&entry, uri, stamp);
    QBuffer failure(&bytes);
    failure.open(QIODevice::ReadOnly);
    qmt::ThumbnailCache::readFailure(&failure, uri, stamp);
    return 0;
}
