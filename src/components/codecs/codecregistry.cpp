#include "components/codecs/codecregistry.h"

#include "components/codecs/bmphandler.h"
#include "components/codecs/codechandler.h"
#include "components/codecs/emfhandler.h"
#include "components/codecs/gifguard.h"
#include "components/codecs/jpeghandler.h"
#include "components/codecs/moderncodecs.h"
#include "components/codecs/pcdhandler.h"
#include "components/codecs/pcxhandler.h"
#include "components/codecs/psdhandler.h"
#include "components/codecs/tgahandler.h"
#include "components/codecs/wbmpwriter.h"
#include "components/codecs/wmfhandler.h"

#include <QIODevice>
#include <QString>

namespace qmt {
namespace {

// The own readers. Strong signatures first; the weak ones are tried by content only after
// every strong one (and after Qt's JPEG, PNG, TIFF and ICO signatures).
const CodecReader kReaders[] = {
    {"JPEG", "jpg jpeg jpe", FormatJpeg, false, &JpegHandler::canRead, &JpegHandler::readFile},
    {"PSD", "psd", FormatPsd, false, &PsdHandler::canRead, &readWithHandler<PsdHandler>},
    {"BMP", "bmp dib", FormatBmp, false, &BmpHandler::canRead, &readWithHandler<BmpHandler>},
    {"GIF", "gif", FormatGif, false, &GifGuard::canRead, &GifGuard::read},
    {"EMF", "emf", FormatEmf, false, &EmfHandler::canRead, &EmfHandler::read},
    {"WMF", "wmf", FormatWmf, false, &WmfHandler::canRead, &WmfHandler::read},
    {"PCD", "pcd", FormatPcd, false, &PcdHandler::canRead, &PcdHandler::read},
    // Recognised here, read by the module that is loaded with the first of them.
    {"WebP", "webp", FormatWebp, false, &ModernCodecs::isWebp, &ModernCodecs::readWebp},
    {"AVIF", "avif", FormatAvif, false, &ModernCodecs::isAvif, &ModernCodecs::readAvif},
    {"HEIF", "heic heif", FormatHeif, false, &ModernCodecs::isHeif, &ModernCodecs::readHeif},
    {"JPEG XL", "jxl", FormatJxl, false, &ModernCodecs::isJxl, &ModernCodecs::readJxl},
    {"TGA", "tga", FormatTarga, true, &TgaHandler::canRead, &readWithHandler<TgaHandler>},
    {"PCX", "pcx", FormatPcx, true, &PcxHandler::canRead, &readWithHandler<PcxHandler>},
    {"DIB", "dib", FormatBmp, true, &BmpHandler::canReadHeaderless, &readWithHandler<BmpHandler>},
};

// The own writers; the other save formats go through Qt's writers.
const CodecWriter kWriters[] = {
    {FormatPcx, &PcxHandler::writePages}, {FormatTarga, &TgaHandler::writePages},
    {FormatPsd, &PsdHandler::writePages}, {FormatWbmp, &WbmpWriter::writePages},
    {FormatWmf, &WmfHandler::writePages}, {FormatEmf, &EmfHandler::writePages},
};

bool namesSuffix(const CodecReader &reader, const QString &suffix)
{
    if (suffix.isEmpty())
        return false;
    const QList<QByteArray> names = QByteArray(reader.suffixes).split(' ');
    return names.contains(suffix.toLatin1());
}

} // namespace

const CodecReader *findOwnReader(QIODevice *device, const QString &suffix, bool includeWeak)
{
    for (const CodecReader &reader : kReaders) {
        if (namesSuffix(reader, suffix) && reader.canRead(device))
            return &reader;
    }
    for (const CodecReader &reader : kReaders) {
        if ((includeWeak || !reader.weakSignature) && reader.canRead(device))
            return &reader;
    }
    return nullptr;
}

bool isOwnSuffix(const QString &suffix)
{
    for (const CodecReader &reader : kReaders) {
        if (namesSuffix(reader, suffix))
            return true;
    }
    return false;
}

std::optional<Status> writeWithOwnCodec(const QList<QImage> &pages, QIODevice *device,
                                        int formatCode)
{
    for (const CodecWriter &writer : kWriters) {
        if (writer.formatCode == formatCode)
            return writer.write(pages, device);
    }
    return std::nullopt;
}

} // namespace qmt
