#include "components/engine/imageio.h"

#include "components/codecs/codecregistry.h"
#include "components/codecs/iconpages.h"
#include "components/nativefile.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>

#include <cstring>
#include <memory>

namespace qmt {
namespace {

int formatCodeForQtFormat(const QByteArray &format)
{
    static const QHash<QByteArray, int> codes = {
        {"jpeg", FormatJpeg}, {"jpg", FormatJpeg},  {"png", FormatPng}, {"tiff", FormatTiff},
        {"tif", FormatTiff},  {"tga", FormatTarga}, {"bmp", FormatBmp}, {"dib", FormatBmp},
        {"wbmp", FormatWbmp}, {"gif", FormatGif},   {"ico", FormatIco}, {"cur", FormatCur},
    };
    return codes.value(format.toLower(), FormatUnknown);
}

int storedBitsPerPixel(const QImage &image)
{
    switch (image.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
        return 1;
    case QImage::Format_Indexed8:
    case QImage::Format_Grayscale8:
    case QImage::Format_Alpha8:
        return 8;
    case QImage::Format_RGB32:
    case QImage::Format_RGB888:
    case QImage::Format_BGR888:
        return 24;
    case QImage::Format_Grayscale16:
        return 16;
    case QImage::Format_RGBX64:
        return 48;
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
        return 64;
    default:
        return image.hasAlphaChannel() ? 32 : 24;
    }
}

// The Qt reader for content with a signature Qt's plugins handle well, or empty. WBMP has no
// real signature and is only taken when `includeWeak` is set.
QByteArray qtFormatForContent(QIODevice *device, bool includeWeak)
{
    const QByteArray head = device->peek(16);
    const auto starts = [&head](const char *magic, int length) {
        return head.size() >= length && memcmp(head.constData(), magic, size_t(length)) == 0;
    };
    if (starts("\x89PNG\r\n\x1A\n", 8))
        return "png";
    if (starts("II*\0", 4) || starts("MM\0*", 4))
        return "tiff";
    if (starts("\0\0\1\0", 4) && head.size() >= 6 && (head[4] || head[5]))
        return "ico";
    if (starts("\0\0\2\0", 4) && head.size() >= 6 && (head[4] || head[5]))
        return "cur";
    if (includeWeak && head.size() >= 4 && head[0] == 0 && head[1] == 0 &&
        (uchar(head[2]) & 0x80) == 0 && (head[2] || (uchar(head[3]) & 0x80) == 0) && head[2] != 0 &&
        head[3] != 0)
        return "wbmp";
    return {};
}

QByteArray qtFormatForSuffix(const QString &suffix)
{
    static const QHash<QString, QByteArray> formats = {
        {"png", "png"}, {"tif", "tiff"}, {"tiff", "tiff"},
        {"ico", "ico"}, {"cur", "cur"},  {"wbmp", "wbmp"},
    };
    return formats.value(suffix);
}

// Pixels are shown in sRGB; a page with another colour space (an embedded ICC profile such as
// Adobe RGB or Display P3) is converted.
void convertToSrgb(QImage &image)
{
    const QColorSpace space = image.colorSpace();
    if (space.isValid() && space != QColorSpace(QColorSpace::SRgb))
        image.convertToColorSpace(QColorSpace::SRgb);
}

// Whether a PNG embeds an ICC profile (an iCCP chunk before its image data). Qt also makes a
// colour space out of the gAMA and cHRM chunks that most tools write into ordinary sRGB images;
// like other viewers we honour only a real profile, so that such PNGs keep their pixel values.
bool pngHasIccProfile(QIODevice *device)
{
    const QByteArray head = device->peek(1 << 16);
    qint64 at = 8;
    while (at + 8 <= head.size()) {
        const uchar *p = reinterpret_cast<const uchar *>(head.constData()) + at;
        const quint32 length =
            quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
        const QByteArray type = head.mid(at + 4, 4);
        if (type == "iCCP")
            return true;
        if (type == "IDAT" || type == "IEND")
            return false;
        at += 12 + qint64(length);
    }
    return false;
}

Result<DecodedImage> readWithOwn(const CodecReader &reader, QIODevice *device,
                                 const ReadOptions &options)
{
    Result<DecodedImage> decoded = reader.read(device, options);
    if (decoded && decoded->formatCode == FormatUnknown)
        decoded->formatCode = reader.formatCode;
    return decoded;
}

Result<DecodedImage> readWithQt(QIODevice *device, const QByteArray &format,
                                const ReadOptions &options)
{
    if (format == "ico" || format == "cur")
        return readIconPages(device, format, options);
    // The format is decided by our own detection: Qt's readers are never left to guess, so its
    // weaker ones (TGA, BMP) never see a file our readers refused.
    QImageReader reader(device, format);
    reader.setDecideFormatFromContent(false);
    reader.setAutoTransform(true);
    // The page count is asked first: Qt's TIFF reader loses its place among the pages when
    // the size is asked before it.
    const bool colourManaged = format != "png" || pngHasIccProfile(device);
    const int pageCount = reader.imageCount();
    if (!reader.canRead())
        return Result<DecodedImage>::fail(QStringLiteral("The file is not a readable %1 image.")
                                              .arg(QString::fromLatin1(format.toUpper())));

    const QSize size = reader.size();
    if (size.isValid()) {
        if (size.width() > kMaxImageSide || size.height() > kMaxImageSide ||
            qint64(size.width()) * size.height() > kMaxImagePixels)
            return Result<DecodedImage>::fail(
                QStringLiteral("The image is too large (%1 x %2 pixels).")
                    .arg(size.width())
                    .arg(size.height()));
    }

    DecodedImage decoded;
    decoded.formatCode = formatCodeForQtFormat(reader.format());
    decoded.fullSize = size;

    for (;;) {
        QImage page = reader.read();
        if (page.isNull()) {
            if (decoded.pages.isEmpty())
                return Result<DecodedImage>::fail(reader.errorString());
            break;
        }
        if (decoded.pages.isEmpty())
            decoded.bitsPerPixel = storedBitsPerPixel(page);
        if (colourManaged)
            convertToSrgb(page);
        else
            page.setColorSpace(QColorSpace(QColorSpace::SRgb));
        decoded.pages.append(std::move(page));
        if (options.firstPageOnly)
            break;
        // Animations (GIF) move on by reading; multi-page files (TIFF, ICO) by jumping.
        if (reader.supportsAnimation() ? !reader.canRead()
                                       : (pageCount <= 1 || !reader.jumpToNextImage()))
            break;
    }
    if (reader.transformation().testFlag(QImageIOHandler::TransformationRotate90) &&
        decoded.fullSize.isValid())
        decoded.fullSize.transpose();
    return decoded;
}

} // namespace

void applyReaderLimits()
{
    static const bool applied = [] {
        QImageReader::setAllocationLimit(kAllocationLimitMb);
        return true;
    }();
    Q_UNUSED(applied);
}

Result<DecodedImage> readImageDevice(QIODevice *device, const QString &nameHint,
                                     const ReadOptions &options)
{
    applyReaderLimits();
    const QString suffix = QFileInfo(nameHint).suffix().toLower();
    if (!device->isOpen() && !device->open(QIODevice::ReadOnly))
        return Result<DecodedImage>::fail(QStringLiteral("The file cannot be read."));

    // The extension is a hint that the content must confirm; then formats with a signature;
    // the formats without one (TGA, PCX, headerless DIB, WBMP) come last.
    const QByteArray hintedQt = qtFormatForSuffix(suffix);
    if (!hintedQt.isEmpty() && qtFormatForContent(device, hintedQt == "wbmp") == hintedQt)
        return readWithQt(device, hintedQt, options);
    if (const CodecReader *reader = findOwnReader(device, suffix, false))
        return readWithOwn(*reader, device, options);
    const QByteArray strongQt = qtFormatForContent(device, false);
    if (!strongQt.isEmpty())
        return readWithQt(device, strongQt, options);
    if (const CodecReader *reader = findOwnReader(device, QString(), true))
        return readWithOwn(*reader, device, options);
    if (qtFormatForContent(device, true) == "wbmp")
        return readWithQt(device, "wbmp", options);
    return Result<DecodedImage>::fail(QStringLiteral("The file is not an image of a known type."));
}

Result<DecodedImage> readImageFile(const QString &path, const ReadOptions &options)
{
    // Only regular files are read: a FIFO or a device named like a picture would never end.
    QFile file;
    if (const Status opened = openRegularFile(file, path); !opened)
        return Result<DecodedImage>::fail(opened.error());
    if (file.size() == 0)
        return Result<DecodedImage>::fail(QStringLiteral("The file is empty."));
    return readImageDevice(&file, path, options);
}

Status writeImageDevice(const QList<QImage> &pages, QIODevice *device, int formatCode)
{
    if (pages.isEmpty() || pages.first().isNull())
        return Status::fail(QStringLiteral("There is no image to save."));
    if (!isSaveFormat(formatCode))
        return Status::fail(QStringLiteral("Unknown save format %1.").arg(formatCode));
    if (auto own = writeWithOwnCodec(pages, device, formatCode))
        return *own;

    static const QHash<int, QByteArray> qtFormats = {
        {FormatJpeg, "jpeg"}, {FormatPng, "png"},   {FormatTiff, "tiff"},
        {FormatBmp, "bmp"},   {FormatWbmp, "wbmp"},
    };
    const QByteArray format = qtFormats.value(formatCode);
    if (format.isEmpty())
        return Status::fail(QStringLiteral("This format cannot be written."));
    QImageWriter writer(device, format);
    if (formatCode == FormatJpeg)
        writer.setQuality(90);
    QImage image = pages.first();
    if (formatCode == FormatJpeg && image.hasAlphaChannel())
        image = image.convertToFormat(QImage::Format_RGB32);
    if (!writer.write(image))
        return Status::fail(writer.errorString());
    return {};
}

Status writeImageFile(const QList<QImage> &pages, const QString &path, int formatCode)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return Status::fail(
            QStringLiteral("The file cannot be written: %1").arg(file.errorString()));
    Status status = writeImageDevice(pages, &file, formatCode);
    file.close();
    if (status && file.error() != QFileDevice::NoError)
        return Status::fail(
            QStringLiteral("The file cannot be written: %1").arg(file.errorString()));
    return status;
}

} // namespace qmt
