// Feeds raw bytes to the Photo CD reader, every page and the single reduced page.

#include "components/codecs/pcdhandler.h"
#include "fuzzsupport.h"

#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qmt::fuzz::startApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    qmt::PcdHandler::decode(bytes, {});
    qmt::ReadOptions options;
    options.firstPageOnly = true;
    options.targetSize = QSize(size % 900, size % 700);
    qmt::PcdHandler::decode(bytes, options);
    return 0;
}
