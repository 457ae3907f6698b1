// Feeds raw bytes to the EMF reader, drawn small so that each run is quick.

#include "components/codecs/emfhandler.h"
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
    qmt::ReadOptions options;
    options.targetSize = QSize(128, 128);
    qmt::EmfHandler::canRead(bytes);
    qmt::EmfHandler::render(bytes, options);
    return 0;
}
