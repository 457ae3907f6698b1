#include "components/codecs/avifhandler.h"

#include "components/codecs/codechandler.h"
#include "components/codecs/colourprofile.h"
#include "components/codecs/orientation.h"
#include "components/codecs/pagebudget.h"

#include <QIODevice>
#include <QTransform>

#include <memory>
#include <vector>

#include <avif/avif.h>

namespace qmt {
namespace {

// Output rows a thumbnail band makes at a time.
constexpr int kBandRows = 16;

struct DecoderDeleter {
    void operator()(avifDecoder *decoder) const { avifDecoderDestroy(decoder); }
};

QString reasonOf(avifResult result, const avifDecoder *decoder)
{
    QString reason = QString::fromUtf8(avifResultToString(result));
    if (decoder && decoder->diag.error[0])
        reason += QStringLiteral(" (%1)").arg(QString::fromUtf8(decoder->diag.error));
    return reason;
}

QColorSpace colourSpaceOf(const avifImage *image)
{
    if (image->icc.size > 0 && image->icc.data)
        return QColorSpace::fromIccProfile(QByteArray(
            reinterpret_cast<const char *>(image->icc.data), qsizetype(image->icc.size)));
    return colourSpaceFromNclx({int(image->colorPrimaries), int(image->transferCharacteristics)});
}

// How the picture is turned: the irot and imir properties, or the EXIF orientation when the
// file has neither.
struct Turn {
    int quarterTurnsAnticlockwise = 0;
    int mirror = -1; // imir mode: 0 top and bottom exchanged, 1 left and right
    int exif = 1;

    bool transposes() const
    {
        return quarterTurnsAnticlockwise % 2 == 1 || orientationTransposes(exif);
    }
};

Turn turnOf(const avifImage *image)
{
    Turn turn;
    if (image->transformFlags & AVIF_TRANSFORM_IROT)
        turn.quarterTurnsAnticlockwise = image->irot.angle & 3;
    if (image->transformFlags & AVIF_TRANSFORM_IMIR)
        turn.mirror = image->imir.mode & 1;
    if (!(image->transformFlags & (AVIF_TRANSFORM_IROT | AVIF_TRANSFORM_IMIR)) && image->exif.data)
        turn.exif = exifOrientation(image->exif.data, qsizetype(image->exif.size));
    return turn;
}

QImage applyTurn(const QImage &page, const Turn &turn)
{
    QImage turned = page;
    if (turn.quarterTurnsAnticlockwise)
        turned = turned.transformed(QTransform().rotate(-90.0 * turn.quarterTurnsAnticlockwise));
    if (turn.mirror == 0)
        turned = turned.mirrored(false, true);
    else if (turn.mirror == 1)
        turned = turned.mirrored(true, false);
    return orientImage(turned, turn.exif);
}

avifRGBImage rgbFor(const avifImage *image)
{
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, image);
    rgb.depth = 8;
    // QImage's 32-bit formats hold B, G, R, A in memory on little-endian machines.
    rgb.format = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? AVIF_RGB_FORMAT_BGRA : AVIF_RGB_FORMAT_ARGB;
    // A frame without an alpha plane gets opaque alpha bytes, as RGB32 needs them.
    rgb.ignoreAlpha = AVIF_FALSE;
    return rgb;
}

Result<QImage> convertWhole(const avifImage *image, bool alpha)
{
    QString error;
    QImage page = CodecHandler::allocate(
        image->width, image->height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32, &error);
    if (page.isNull())
        return Result<QImage>::fail(error);
    avifRGBImage rgb = rgbFor(image);
    rgb.pixels = page.bits();
    rgb.rowBytes = uint32_t(page.bytesPerLine());
    const avifResult result = avifImageYUVToRGB(image, &rgb);
    if (result != AVIF_RESULT_OK)
        return Result<QImage>::fail(QStringLiteral("The AVIF colours cannot be converted: %1")
                                        .arg(reasonOf(result, nullptr)));
    return page;
}

// The frame shrunk by a whole factor: converted in bands of rows, each block of factor x factor
// pixels averaged into one.
Result<QImage> convertShrunk(const avifImage *image, bool alpha, int factor)
{
    const int width = int(image->width);
    const int height = int(image->height);
    const int outWidth = (width + factor - 1) / factor;
    const int outHeight = (height + factor - 1) / factor;
    QString error;
    QImage page = CodecHandler::allocate(
        outWidth, outHeight, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32, &error);
    if (page.isNull())
        return Result<QImage>::fail(error);
    const int bandHeight = kBandRows * factor; // even, so chroma rows stay aligned
    std::vector<uint8_t> band(size_t(width) * 4 * size_t(bandHeight));
    std::vector<uint32_t> sums(size_t(outWidth) * 4);
    for (int top = 0; top < height; top += bandHeight) {
        const int rows = qMin(bandHeight, height - top);
        avifImage view{};
        avifCropRect rect{0, uint32_t(top), uint32_t(width), uint32_t(rows)};
        if (avifImageSetViewRect(&view, image, &rect) != AVIF_RESULT_OK)
            return Result<QImage>::fail(QStringLiteral("The AVIF frame cannot be read in bands."));
        avifRGBImage rgb = rgbFor(&view);
        // Neighbouring chroma rows belong to the next band; the nearest sample is as good for
        // a picture this much smaller.
        rgb.chromaUpsampling = AVIF_CHROMA_UPSAMPLING_FASTEST;
        rgb.pixels = band.data();
        rgb.rowBytes = uint32_t(width) * 4;
        const avifResult result = avifImageYUVToRGB(&view, &rgb);
        if (result != AVIF_RESULT_OK)
            return Result<QImage>::fail(QStringLiteral("The AVIF colours cannot be converted: %1")
                                            .arg(reasonOf(result, nullptr)));
        for (int outY = top / factor; outY * factor < top + rows; ++outY) {
            std::fill(sums.begin(), sums.end(), 0u);
            const int firstRow = outY * factor - top;
            const int lastRow = qMin(firstRow + factor, rows);
            for (int y = firstRow; y < lastRow; ++y) {
                const uint8_t *in = band.data() + size_t(y) * size_t(width) * 4;
                for (int x = 0; x < width; ++x)
                    for (int c = 0; c < 4; ++c)
                        sums[size_t(x / factor) * 4 + size_t(c)] += in[size_t(x) * 4 + size_t(c)];
            }
            uint8_t *out = page.scanLine(outY);
            const int blockRows = lastRow - firstRow;
            for (int outX = 0; outX < outWidth; ++outX) {
                const int blockColumns = qMin(factor, width - outX * factor);
                const uint32_t count = uint32_t(blockRows * blockColumns);
                for (int c = 0; c < 4; ++c)
                    out[outX * 4 + c] =
                        uint8_t((sums[size_t(outX) * 4 + size_t(c)] + count / 2) / count);
                if (!alpha)
                    out[outX * 4 + 3] = 0xFF;
            }
        }
    }
    return page;
}

} // namespace

Result<DecodedImage> AvifHandler::read(QIODevice *device, const ReadOptions &options)
{
    QString error;
    const QByteArray data = CodecHandler::readAllBounded(device, &error);
    if (data.isEmpty())
        return Result<DecodedImage>::fail(error);
    return decode(data, options);
}

Result<DecodedImage> AvifHandler::decode(const QByteArray &data, const ReadOptions &options)
{
    const std::unique_ptr<avifDecoder, DecoderDeleter> decoder(avifDecoderCreate());
    if (!decoder)
        return Result<DecodedImage>::fail(QStringLiteral("The AVIF decoder cannot be started."));
    decoder->maxThreads = decoderThreads(options);
    decoder->imageSizeLimit = uint32_t(kMaxImagePixels);
    decoder->imageDimensionLimit = uint32_t(kMaxImageSide);
    decoder->imageCountLimit = PageBudget::kMaxFrames;
    // Files from cameras and editors often miss a box the format's strictest reading requires;
    // they decode well all the same.
    decoder->strictFlags = AVIF_STRICT_DISABLED;
    decoder->ignoreXMP = AVIF_TRUE;
    avifResult result = avifDecoderSetIOMemory(
        decoder.get(), reinterpret_cast<const uint8_t *>(data.constData()), size_t(data.size()));
    if (result == AVIF_RESULT_OK)
        result = avifDecoderParse(decoder.get());
    if (result != AVIF_RESULT_OK)
        return Result<DecodedImage>::fail(QStringLiteral("The AVIF file cannot be read: %1")
                                              .arg(reasonOf(result, decoder.get())));

    const avifImage *header = decoder->image;
    QString error;
    if (!CodecHandler::sizeAllowed(header->width, header->height, &error))
        return Result<DecodedImage>::fail(error);
    const bool alpha = decoder->alphaPresent;
    const Turn turn = turnOf(header);
    const QSize full(int(header->width), int(header->height));

    DecodedImage decoded;
    decoded.formatCode = FormatAvif;
    decoded.bitsPerPixel =
        int(header->depth) *
        ((header->yuvFormat == AVIF_PIXEL_FORMAT_YUV400 ? 1 : 3) + (alpha ? 1 : 0));
    decoded.fullSize = turn.transposes() ? full.transposed() : full;
    QSize box = options.targetSize;
    if (box.isValid() && turn.transposes())
        box.transpose();
    const QSize needed = reducedSize(full, box);
    const int factor = qMax(
        1, qMin(full.width() / qMax(1, needed.width()), full.height() / qMax(1, needed.height())));

    PageBudget budget;
    for (;;) {
        if (!budget.take(full.width(), full.height()))
            break;
        result = avifDecoderNextImage(decoder.get());
        if (result == AVIF_RESULT_NO_IMAGES_REMAINING)
            break;
        if (result != AVIF_RESULT_OK) {
            // A damaged or missing frame ends the sequence; the frames before it are shown.
            if (decoded.pages.isEmpty())
                return Result<DecodedImage>::fail(
                    QStringLiteral("The AVIF image cannot be decoded: %1")
                        .arg(reasonOf(result, decoder.get())));
            break;
        }
        const avifImage *frame = decoder->image;
        if (int(frame->width) != full.width() || int(frame->height) != full.height())
            break;
        Result<QImage> page =
            factor > 1 ? convertShrunk(frame, alpha, factor) : convertWhole(frame, alpha);
        if (!page) {
            if (decoded.pages.isEmpty())
                return Result<DecodedImage>::fail(page.error());
            break;
        }
        convertToSrgb(*page, colourSpaceOf(frame));
        decoded.pages.append(applyTurn(*page, turn));
        decoded.frameDelays.append(
            int(qBound(0.0, decoder->imageTiming.duration * 1000.0 + 0.5, 65535.0)));
        if (options.firstPageOnly || decoder->imageCount <= 1)
            break;
    }
    if (decoded.pages.isEmpty())
        return Result<DecodedImage>::fail(QStringLiteral("The AVIF file holds no picture."));
    if (decoded.pages.size() == 1)
        decoded.frameDelays.clear();
    return decoded;
}

} // namespace qmt
