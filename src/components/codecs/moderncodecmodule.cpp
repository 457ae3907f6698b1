// The entry of the module that holds the WebP, HEIF, AVIF and JPEG XL readers. Only this function
// is exported; the readers and the helpers built into the module stay private to it.
#include "components/codecs/avifhandler.h"
#include "components/codecs/heifhandler.h"
#include "components/codecs/jxlhandler.h"
#include "components/codecs/moderncodecabi.h"
#include "components/codecs/webphandler.h"

extern "C" Q_DECL_EXPORT const qmt::ModernCodecTable *qmt_modern_codecs()
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
    return &table;
}
