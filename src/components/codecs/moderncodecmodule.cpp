// The entry of the module that holds the WebP, HEIF, AVIF and JPEG XL readers. Only this function
// is exported; the readers and the helpers built into the module stay private to it.
#include "components/codecs/avifhandler.h"
#include "components/codecs/decodebudget.h"
#include "components/codecs/heifhandler.h"
#include "components/codecs/jxlhandler.h"
#include "components/codecs/moderncodecabi.h"
#include "components/codecs/webphandler.h"

namespace {

const qmt::ModernCodecHost *g_host = nullptr;

} // namespace

#ifndef QMT_MODERN_CODECS_BUILTIN
namespace qmt {

// The readers count their memory against the program's budget, not a copy of their own: the
// budget's state lives in the program, which lends its functions.
void DecodeBudgetScope::reserve(std::int64_t bytes)
{
    if (g_host)
        g_host->reserveDecodeMemory(bytes);
}

std::int64_t DecodeBudgetScope::reserved()
{
    return g_host ? g_host->reservedDecodeMemory() : 0;
}

} // namespace qmt
#endif

extern "C" Q_DECL_EXPORT const qmt::ModernCodecTable *
qmt_modern_codecs(const qmt::ModernCodecHost *host)
{
    static const qmt::ModernCodecTable table = {
        qmt::kModernCodecAbi,
        QMT_VERSION,
        QT_VERSION,
        quint32(sizeof(qmt::ReadOptions)),
        quint32(sizeof(qmt::DecodedImage)),
        &qmt::WebpHandler::read,
        &qmt::HeifHandler::read,
        &qmt::AvifHandler::read,
        &qmt::JxlHandler::read,
    };
    // Called once, by the loader, before any reader runs.
    g_host = host;
    return &table;
}
