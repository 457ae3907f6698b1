#include "components/codecs/webphandler.h"

#include "components/codecs/codechandler.h"
#include "components/codecs/colourprofile.h"
#include "components/codecs/orientation.h"
#include "components/codecs/pagebudget.h"

#include <QIODevice>

#include <algorithm>
#include <memory>

#include <webp/decode.h>
#include <webp/demux.h>

// Format: https://developers.google.com/speed/webp/docs/riff_container. "RIFF", u32 size,
// "WEBP", then a "VP8 " (lossy) or "VP8L" (lossless) chunk, or "VP8X" with the canvas size and
// flags followed by ICCP, ANIM/ANMF, ALPH, VP8/VP8L, EXIF and XMP chunks.

namespace qmt {
namespace {

struct Metadata {
    QByteArray icc;
    int orientation = 1;
};

struct DemuxDeleter {
    void operator()(WebPDemuxer *demux) const { WebPDemuxDelete(demux); }
};
struct AnimDeleter {
    void operator()(WebPAnimDecoder *decoder) const { WebPAnimDecoderDelete(decoder); }
};
struct IdecDeleter {
    void operator()(WebPIDecoder *decoder) const { WebPIDelete(decoder); }
};

QByteArray chunk(const WebPDemuxer *demux, const char *fourcc)
{
    WebPChunkIterator iterator;
    QByteArray bytes;
    if (WebPDemuxGetChunk(demux, fourcc, 1, &iterator)) {
        bytes = QByteArray(reinterpret_cast<const char *>(iterator.chunk.bytes),
                           qsizetype(iterator.chunk.size));
        WebPDemuxReleaseChunkIterator(&iterator);
    }
    return bytes;
}

// The profile and orientation, from whatever part of the container could be parsed.
Metadata readMetadata(const WebPData &data)
{
    Metadata metadata;
    WebPDemuxState state;
    const std::unique_ptr<WebPDemuxer, DemuxDeleter> demux(WebPDemuxPartial(&data, &state));
    if (!demux || state < WEBP_DEMUX_PARSED_HEADER)
        return metadata;
    const uint32_t flags = WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS);
    if (flags & ICCP_FLAG)
        metadata.icc = chunk(demux.get(), "ICCP");
    if (flags & EXIF_FLAG) {
        const QByteArray exif = chunk(demux.get(), "EXIF");
        metadata.orientation =
            exifOrientation(reinterpret_cast<const uchar *>(exif.constData()), exif.size());
    }
    return metadata;
}

QString statusReason(VP8StatusCode status)
{
    switch (status) {
    case VP8_STATUS_NOT_ENOUGH_DATA:
        return QStringLiteral("The WebP file is cut short.");
    case VP8_STATUS_OUT_OF_MEMORY:
        return QStringLiteral("There is not enough memory to decode the WebP image.");
    case VP8_STATUS_UNSUPPORTED_FEATURE:
        return QStringLiteral("The WebP image uses a feature this program cannot decode.");
    default:
        return QStringLiteral("The WebP data is damaged.");
    }
}

void finish(QImage &page, const Metadata &metadata)
{
    convertIccToSrgb(page, metadata.icc);
    page = orientImage(page, metadata.orientation);
}

Result<DecodedImage> decodeStill(const WebPData &data, const WebPBitstreamFeatures &features,
                                 const Metadata &metadata, const ReadOptions &options)
{
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        return Result<DecodedImage>::fail(QStringLiteral("The WebP decoder cannot be started."));
    QSize box = options.targetSize;
    if (box.isValid() && orientationTransposes(metadata.orientation))
        box.transpose();
    const QSize full(features.width, features.height);
    const QSize size = reducedSize(full, box);
    if (size != full) {
        config.options.use_scaling = 1;
        config.options.scaled_width = size.width();
        config.options.scaled_height = size.height();
    }
    QString error;
    QImage page = CodecHandler::allocate(
        size.width(), size.height(),
        features.has_alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32, &error);
    if (page.isNull())
        return Result<DecodedImage>::fail(error);
    // Straight into the picture, in QImage's byte order (B, G, R, A on little-endian machines).
    config.output.colorspace = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? MODE_BGRA : MODE_ARGB;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = page.bits();
    config.output.u.RGBA.stride = int(page.bytesPerLine());
    config.output.u.RGBA.size = size_t(page.sizeInBytes());

    // Decoded incrementally, so that a file cut short still gives the rows it holds.
    const std::unique_ptr<WebPIDecoder, IdecDeleter> decoder(WebPIDecode(nullptr, 0, &config));
    if (!decoder)
        return Result<DecodedImage>::fail(QStringLiteral("The WebP decoder cannot be started."));
    const VP8StatusCode status = WebPIUpdate(decoder.get(), data.bytes, data.size);
    int rows = 0;
    if (status == VP8_STATUS_OK) {
        rows = page.height();
    } else if (status == VP8_STATUS_SUSPENDED) {
        WebPIDecGetRGB(decoder.get(), &rows, nullptr, nullptr, nullptr);
        rows = qBound(0, rows, page.height());
    } else {
        // A damaged stream reports how far it came too; what it decoded before is kept.
        WebPIDecGetRGB(decoder.get(), &rows, nullptr, nullptr, nullptr);
        rows = qBound(0, rows, page.height());
    }
    if (rows == 0)
        return Result<DecodedImage>::fail(
            statusReason(status == VP8_STATUS_SUSPENDED ? VP8_STATUS_NOT_ENOUGH_DATA : status));
    // The rows the file did not reach: transparent, or black for an opaque picture.
    const QRgb blank = features.has_alpha ? 0u : qRgb(0, 0, 0);
    for (int y = rows; y < page.height(); ++y)
        std::fill_n(reinterpret_cast<QRgb *>(page.scanLine(y)), page.width(), blank);

    DecodedImage decoded;
    decoded.formatCode = FormatWebp;
    decoded.bitsPerPixel = features.has_alpha ? 32 : 24;
    decoded.fullSize = orientationTransposes(metadata.orientation) ? full.transposed() : full;
    finish(page, metadata);
    decoded.pages.append(std::move(page));
    return decoded;
}

Result<DecodedImage> decodeAnimation(const WebPData &data, const WebPBitstreamFeatures &features,
                                     const Metadata &metadata, const ReadOptions &options)
{
    WebPAnimDecoderOptions animOptions;
    if (!WebPAnimDecoderOptionsInit(&animOptions))
        return Result<DecodedImage>::fail(QStringLiteral("The WebP decoder cannot be started."));
    animOptions.color_mode = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? MODE_BGRA : MODE_ARGB;
    animOptions.use_threads = 0;
    const std::unique_ptr<WebPAnimDecoder, AnimDeleter> decoder(
        WebPAnimDecoderNew(&data, &animOptions));
    if (!decoder)
        return Result<DecodedImage>::fail(
            QStringLiteral("The WebP animation is damaged or cut short."));
    WebPAnimInfo info;
    if (!WebPAnimDecoderGetInfo(decoder.get(), &info) || int(info.canvas_width) != features.width ||
        int(info.canvas_height) != features.height)
        return Result<DecodedImage>::fail(QStringLiteral("The WebP animation is damaged."));

    DecodedImage decoded;
    decoded.formatCode = FormatWebp;
    decoded.bitsPerPixel = 32;
    decoded.fullSize = QSize(features.width, features.height);
    if (orientationTransposes(metadata.orientation))
        decoded.fullSize.transpose();
    PageBudget budget;
    int previous = 0;
    while (WebPAnimDecoderHasMoreFrames(decoder.get())) {
        if (!budget.take(features.width, features.height))
            break;
        uint8_t *canvas = nullptr;
        int timestamp = 0;
        if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) || !canvas)
            break;
        QString error;
        QImage page =
            CodecHandler::allocate(features.width, features.height, QImage::Format_ARGB32, &error);
        if (page.isNull()) {
            if (decoded.pages.isEmpty())
                return Result<DecodedImage>::fail(error);
            break;
        }
        // The decoder's canvas is packed at four bytes a pixel and reused for the next frame.
        const qsizetype rowBytes = qsizetype(features.width) * 4;
        for (int y = 0; y < page.height(); ++y)
            memcpy(page.scanLine(y), canvas + y * rowBytes, size_t(rowBytes));
        finish(page, metadata);
        decoded.pages.append(std::move(page));
        decoded.frameDelays.append(qMax(0, timestamp - previous));
        previous = timestamp;
        if (options.firstPageOnly)
            break;
    }
    if (decoded.pages.isEmpty())
        return Result<DecodedImage>::fail(QStringLiteral("The WebP animation holds no frame."));
    if (decoded.pages.size() == 1)
        decoded.frameDelays.clear();
    return decoded;
}

} // namespace

Result<DecodedImage> WebpHandler::read(QIODevice *device, const ReadOptions &options)
{
    QString error;
    const QByteArray data = CodecHandler::readAllBounded(device, &error);
    if (data.isEmpty())
        return Result<DecodedImage>::fail(error);
    return decode(data, options);
}

Result<DecodedImage> WebpHandler::decode(const QByteArray &bytes, const ReadOptions &options)
{
    WebPData data;
    data.bytes = reinterpret_cast<const uint8_t *>(bytes.constData());
    data.size = size_t(bytes.size());
    WebPBitstreamFeatures features;
    const VP8StatusCode status = WebPGetFeatures(data.bytes, data.size, &features);
    if (status != VP8_STATUS_OK)
        return Result<DecodedImage>::fail(statusReason(status));
    QString error;
    if (!CodecHandler::sizeAllowed(features.width, features.height, &error))
        return Result<DecodedImage>::fail(error);
    const Metadata metadata = readMetadata(data);
    if (features.has_animation)
        return decodeAnimation(data, features, metadata, options);
    return decodeStill(data, features, metadata, options);
}

} // namespace qmt
