// libFuzzer entry: raw bytes into one of the program's own decoders, chosen at build time by
// QMT_FUZZ_CODEC (psd, pcx, tga, bmp, jpeg, gif); the JPEG target also feeds the reader of
// embedded previews. Any crash, overflow or undefined behaviour
// the sanitizers see is a finding; a refused input is not.

#include "components/codecs/bmphandler.h"
#include "components/codecs/embeddedpreview.h"
#include "components/codecs/gifguard.h"
#include "components/codecs/jpeghandler.h"
#include "components/codecs/pcxhandler.h"
#include "components/codecs/psdhandler.h"
#include "components/codecs/tgahandler.h"
#include "touchrows.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>

#include <cstddef>
#include <cstdint>

namespace {

template <class Handler> void decodeWith(const QByteArray &data)
{
    Handler handler;
    QImage image;
    if (handler.decode(data, &image))
        qmt::fuzz::touchEveryRow(image);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (size_t(1) << 22))
        return 0;
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
#if defined(QMT_FUZZ_PSD)
    decodeWith<qmt::PsdHandler>(bytes);
#elif defined(QMT_FUZZ_PCX)
    decodeWith<qmt::PcxHandler>(bytes);
#elif defined(QMT_FUZZ_TGA)
    decodeWith<qmt::TgaHandler>(bytes);
#elif defined(QMT_FUZZ_BMP)
    decodeWith<qmt::BmpHandler>(bytes);
#elif defined(QMT_FUZZ_JPEG)
    decodeWith<qmt::JpegHandler>(bytes);
    // The previews a camera keeps in the file's EXIF and MPF segments, for a small and a large
    // cell.
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    for (const QSize box : {QSize(140, 140), QSize(1024, 1024)})
        (void)qmt::readEmbeddedPreview(&buffer, box);
#elif defined(QMT_FUZZ_GIF)
    (void)qmt::GifGuard::check(bytes);
#endif
    return 0;
}
