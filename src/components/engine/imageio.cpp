#include "components/engine/imageio.h"

#include "components/codecs/codecregistry.h"
#include "components/codecs/decodebudget.h"
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
#include <new>

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

// Whether the content is a sound WBMP (type 0): a zero type and fixed header, the width and
// the height as multi-byte integers (seven bits a byte, the high bit saying that more follow),
// then one bit a pixel, each row padded to a byte. Having no signature, it must be exactly as
// long as its rows need (`exact`), or at least as long when its extension names it.
bool looksLikeWbmp(QIODevice *device, bool exact)
{
    const QByteArray head = device->peek(12);
    if (head.size() < 4 || head.at(0) != 0 || head.at(1) != 0)
        return false;
    qsizetype at = 2;
    const auto number = [&head, &at]() -> qint64 {
        qint64 value = 0;
        for (int bytes = 0; bytes < 4 && at < head.size(); ++bytes) {
            const uchar b = uchar(head.at(at++));
            if (bytes == 0 && b == 0x80)
                return 0; // a leading empty group: not how any writer stores a number
            value = (value << 7) | (b & 0x7F);
            if (!(b & 0x80))
                return value;
        }
        return 0;
    };
    const qint64 width = number();
    const qint64 height = number();
    if (width <= 0 || height <= 0)
        return false;
    if (device->isSequential())
        return !exact;
    const qint64 length = device->size() - device->pos();
    const qint64 needed = at + (width + 7) / 8 * height;
    return exact ? length == needed : length >= needed;
}

// The Qt reader for content with a signature Qt's plugins handle well, or empty. WBMP has no
// real signature and is only taken when `wbmp` says how strictly (see looksLikeWbmp).
enum class WbmpCheck { None, Exact, AtLeast };
QByteArray qtFormatForContent(QIODevice *device, WbmpCheck wbmp)
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
    if (wbmp != WbmpCheck::None && looksLikeWbmp(device, wbmp == WbmpCheck::Exact))
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

Result<DecodedImage> noSuchPage(int page, int count)
{
    return Result<DecodedImage>::fail(
        QStringLiteral("There is no page %1 (the file has %2).").arg(page + 1).arg(count));
}

bool sizeAllowed(const QSize &size)
{
    return size.width() <= kMaxImageSide && size.height() <= kMaxImageSide &&
           qint64(size.width()) * size.height() <= kMaxImagePixels;
}

// Takes what a page of `size` decoded by Qt holds from the decode's budget: its pixels, at least
// 4 bytes each (the program works on 32-bit pixels), more where the file's depth asks for it.
void reservePixels(const QSize &size, QImage::Format format)
{
    if (!size.isValid() || !sizeAllowed(size))
        return;
    const int bits =
        format == QImage::Format_Invalid ? 32 : int(QImage::toPixelFormat(format).bitsPerPixel());
    const qint64 bytesPerPixel = qMax(4, (bits + 7) / 8);
    DecodeBudgetScope::reserve(qint64(size.width()) * size.height() * bytesPerPixel);
}

Result<DecodedImage> readWithOwn(const CodecReader &reader, QIODevice *device,
                                 const ReadOptions &options)
{
    Result<DecodedImage> decoded = reader.read(device, options);
    if (decoded && decoded->formatCode == FormatUnknown)
        decoded->formatCode = reader.formatCode;
    return decoded;
}

// Moves `reader` onto page `page`: animations (GIF, WebP) by decoding the frames before it one
// at a time, each dropped before the next, multi-page files (TIFF) by jumping.
bool goToPage(QImageReader &reader, int page)
{
    if (page == 0)
        return true;
    if (!reader.supportsAnimation())
        return reader.jumpToImage(page);
    for (int i = 0; i < page; ++i) {
        if (!sizeAllowed(reader.size()) || reader.read().isNull())
            return false;
    }
    return true;
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
    const int pageCount = qMax(1, reader.imageCount());
    if (!reader.canRead())
        return Result<DecodedImage>::fail(QStringLiteral("The file is not a readable %1 image.")
                                              .arg(QString::fromLatin1(format.toUpper())));
    if (options.page < 0 || options.page >= pageCount)
        return noSuchPage(options.page, pageCount);
    // The frames of an animation before the page asked for are decoded on the way to it, at
    // the size of the animation's screen.
    if (reader.supportsAnimation())
        reservePixels(reader.size(), reader.imageFormat());
    if (!goToPage(reader, options.page))
        return Result<DecodedImage>::fail(
            QStringLiteral("Page %1 of the file cannot be read.").arg(options.page + 1));

    // Every page is checked before it is decoded: a file may start with a small page and
    // continue with huge ones.
    const QSize size = reader.size();
    if (size.isValid() && !sizeAllowed(size))
        return Result<DecodedImage>::fail(QStringLiteral("The image is too large (%1 x %2 pixels).")
                                              .arg(size.width())
                                              .arg(size.height()));

    reservePixels(size, reader.imageFormat());

    DecodedImage decoded;
    decoded.formatCode = formatCodeForQtFormat(reader.format());
    decoded.fullSize = size;
    decoded.pageCount = pageCount;
    QImage page = reader.read();
    if (page.isNull())
        return Result<DecodedImage>::fail(reader.errorString());
    decoded.bitsPerPixel = storedBitsPerPixel(page);
    if (colourManaged)
        convertToSrgb(page);
    else
        page.setColorSpace(QColorSpace(QColorSpace::SRgb));
    decoded.pages.append(std::move(page));
    if (reader.transformation().testFlag(QImageIOHandler::TransformationRotate90) &&
        decoded.fullSize.isValid())
        decoded.fullSize.transpose();
    return decoded;
}

// Readers count their pages and hand back the one asked for; one that leaves the count out
// hands back its pages from the first, and the one asked for is kept. The frames of an
// animation the reader composed stay together when the first is asked for: each is drawn over
// the one before, so a later one alone costs decoding all before it again.
Result<DecodedImage> keepAskedPage(Result<DecodedImage> decoded, const ReadOptions &options)
{
    if (!decoded)
        return decoded;
    if (decoded->pages.isEmpty())
        return Result<DecodedImage>::fail(QStringLiteral("The image data is damaged."));
    if (decoded->pageCount > 0) {
        decoded->pages.resize(1);
        decoded->frameDelays.clear();
        return decoded;
    }
    const int count = int(decoded->pages.size());
    decoded->pageCount = count;
    const bool animation = count > 1 && decoded->frameDelays.size() == count;
    if (animation && options.page == 0 && !options.firstPageOnly)
        return decoded;
    if (options.page >= count)
        return noSuchPage(options.page, count);
    QImage asked = decoded->pages.at(options.page);
    decoded->pages = {std::move(asked)};
    decoded->frameDelays.clear();
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

namespace {

// The extension is a hint that the content must confirm; then formats with a signature;
// the formats without one (TGA, PCX, headerless DIB, WBMP) come last.
Result<DecodedImage> readDetected(QIODevice *device, const QString &suffix,
                                  const ReadOptions &options)
{
    const QByteArray hintedQt = qtFormatForSuffix(suffix);
    const WbmpCheck hintedWbmp = hintedQt == "wbmp" ? WbmpCheck::AtLeast : WbmpCheck::None;
    if (!hintedQt.isEmpty() && qtFormatForContent(device, hintedWbmp) == hintedQt)
        return readWithQt(device, hintedQt, options);
    if (const CodecReader *reader = findOwnReader(device, suffix, false))
        return readWithOwn(*reader, device, options);
    const QByteArray strongQt = qtFormatForContent(device, WbmpCheck::None);
    if (!strongQt.isEmpty())
        return readWithQt(device, strongQt, options);
    if (const CodecReader *reader = findOwnReader(device, QString(), true))
        return readWithOwn(*reader, device, options);
    if (qtFormatForContent(device, WbmpCheck::Exact) == "wbmp")
        return readWithQt(device, "wbmp", options);
    return Result<DecodedImage>::fail(QStringLiteral("The file is not an image of a known type."));
}

} // namespace

Result<DecodedImage> readImageDevice(QIODevice *device, const QString &nameHint,
                                     const ReadOptions &options)
{
    applyReaderLimits();
    const QString suffix = QFileInfo(nameHint).suffix().toLower();
    if (!device->isOpen() && !device->open(QIODevice::ReadOnly))
        return Result<DecodedImage>::fail(QStringLiteral("The file cannot be read."));
    if (options.page < 0)
        return noSuchPage(options.page, 0);
    // A reader that does not count its pages hands back the first alone when told to; a later
    // page needs them all.
    ReadOptions reading = options;
    if (options.page > 0)
        reading.firstPageOnly = false;
    // A reader that runs out of memory half way (a container growing past what the system
    // grants) fails like any other reader, instead of ending the program.
    try {
        return keepAskedPage(readDetected(device, suffix, reading), options);
    } catch (const std::bad_alloc &) {
        return Result<DecodedImage>::fail(
            QStringLiteral("There is not enough memory for the picture."));
    }
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
