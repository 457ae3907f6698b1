#include "components/engine/imageio.h"

#include "components/codecs/codecregistry.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>

#include <memory>

namespace qmt {
namespace {

int formatCodeForQtFormat(const QByteArray &format)
{
    static const QHash<QByteArray, int> codes = {
        {"jpeg", FormatJpeg}, {"jpg", FormatJpeg}, {"png", FormatPng},  {"tiff", FormatTiff},
        {"tif", FormatTiff},  {"tga", FormatTarga}, {"bmp", FormatBmp}, {"dib", FormatBmp},
        {"wbmp", FormatWbmp}, {"gif", FormatGif},  {"ico", FormatIco},  {"cur", FormatCur},
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

// The box an image of `full` pixels is reduced to so that it still covers `target`.
QSize reducedSize(const QSize &full, const QSize &target)
{
    if (!target.isValid() || target.isEmpty() || full.width() <= target.width()
        || full.height() <= target.height())
        return {};
    return full.scaled(target, Qt::KeepAspectRatioByExpanding);
}

// Pixels are shown in sRGB; a page with another embedded profile is converted.
void convertToSrgb(QImage &image)
{
    const QColorSpace space = image.colorSpace();
    if (space.isValid() && space != QColorSpace(QColorSpace::SRgb))
        image.convertToColorSpace(QColorSpace::SRgb);
}

Result<DecodedImage> readWithQt(QIODevice *device, const QByteArray &formatHint,
                                const ReadOptions &options)
{
    QImageReader reader(device, formatHint);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    if (!reader.canRead())
        return Result<DecodedImage>::fail(QStringLiteral("The file is not an image of a known type."));

    const QSize size = reader.size();
    if (size.isValid()) {
        if (size.width() > kMaxImageSide || size.height() > kMaxImageSide
            || qint64(size.width()) * size.height() > kMaxImagePixels)
            return Result<DecodedImage>::fail(
                QStringLiteral("The image is too large (%1 x %2 pixels).").arg(size.width()).arg(size.height()));
    }

    DecodedImage decoded;
    decoded.formatCode = formatCodeForQtFormat(reader.format());
    decoded.fullSize = size;

    const bool transposed = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
    QSize target = options.targetSize;
    if (transposed && target.isValid())
        target.transpose();
    const QSize reduced = reducedSize(size, target);
    if (reduced.isValid())
        reader.setScaledSize(reduced);

    for (;;) {
        QImage page = reader.read();
        if (page.isNull()) {
            if (decoded.pages.isEmpty())
                return Result<DecodedImage>::fail(reader.errorString());
            break;
        }
        if (decoded.pages.isEmpty())
            decoded.bitsPerPixel = storedBitsPerPixel(page);
        convertToSrgb(page);
        decoded.pages.append(std::move(page));
        if (options.firstPageOnly || !reader.jumpToNextImage())
            break;
    }
    if (transposed && decoded.fullSize.isValid())
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
    if (auto own = readWithOwnCodec(device, suffix, options))
        return *own;
    if (!device->isSequential())
        device->seek(0);
    return readWithQt(device, suffix.toLatin1(), options);
}

Result<DecodedImage> readImageFile(const QString &path, const ReadOptions &options)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (!QFileInfo::exists(path))
            return Result<DecodedImage>::fail(QStringLiteral("The file does not exist."));
        return Result<DecodedImage>::fail(QStringLiteral("The file cannot be opened: %1").arg(file.errorString()));
    }
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
        {FormatJpeg, "jpeg"}, {FormatPng, "png"}, {FormatTiff, "tiff"},
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
        return Status::fail(QStringLiteral("The file cannot be written: %1").arg(file.errorString()));
    Status status = writeImageDevice(pages, &file, formatCode);
    file.close();
    if (status && file.error() != QFileDevice::NoError)
        return Status::fail(QStringLiteral("The file cannot be written: %1").arg(file.errorString()));
    return status;
}

} // namespace qmt
