// libFuzzer entry for the readers that wrap a format's own library (WebP, HEIF, AVIF, JPEG XL),
// chosen at build time by QMT_FUZZ_WEBP, QMT_FUZZ_HEIF, QMT_FUZZ_AVIF or QMT_FUZZ_JXL. Each input
// is decoded whole and for a thumbnail. Any crash, overflow, undefined behaviour or hang the
// sanitizers and libFuzzer see is a finding; a refused input is not.

#include "components/codecs/avifhandler.h"
#include "components/codecs/heifhandler.h"
#include "components/codecs/jxlhandler.h"
#include "components/codecs/webphandler.h"
#include "touchrows.h"

#include <QByteArray>
#include <QImage>

#include <cstddef>
#include <cstdint>

namespace {

qmt::Result<qmt::DecodedImage> decode(const QByteArray &bytes, const qmt::ReadOptions &options)
{
#if defined(QMT_FUZZ_WEBP)
    return qmt::WebpHandler::decode(bytes, options);
#elif defined(QMT_FUZZ_HEIF)
    return qmt::HeifHandler::decode(bytes, options);
#elif defined(QMT_FUZZ_AVIF)
    return qmt::AvifHandler::decode(bytes, options);
#else
    return qmt::JxlHandler::decode(bytes, options);
#endif
}

void touch(const qmt::Result<qmt::DecodedImage> &decoded)
{
    if (!decoded)
        return;
    for (const QImage &page : decoded->pages)
        qmt::fuzz::touchEveryRow(page);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (size_t(1) << 22))
        return 0;
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    touch(decode(bytes, {}));
    qmt::ReadOptions thumbnail;
    thumbnail.targetSize = QSize(64, 64);
    thumbnail.firstPageOnly = true;
    touch(decode(bytes, thumbnail));
    return 0;
}
