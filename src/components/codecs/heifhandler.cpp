#include "components/codecs/heifhandler.h"

#include "components/codecs/codechandler.h"
#include "components/codecs/colourprofile.h"
#include "components/codecs/isobmff.h"
#include "components/codecs/orientation.h"
#include "components/codecs/pagebudget.h"

#include <QIODevice>

#include <memory>

#include <libheif/heif.h>

namespace qmt {
namespace {

// Thumbnails and metadata blocks a file may list; more are not looked at.
constexpr int kMaxThumbnails = 16;
constexpr size_t kMaxExifBytes = 1 << 20;

struct ContextDeleter {
    void operator()(heif_context *context) const { heif_context_free(context); }
};
struct HandleDeleter {
    void operator()(heif_image_handle *handle) const { heif_image_handle_release(handle); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options *options) const { heif_decoding_options_free(options); }
};
using Handle = std::unique_ptr<heif_image_handle, HandleDeleter>;

void initialiseOnce()
{
    static const bool initialised = [] {
        heif_init(nullptr);
        return true;
    }();
    Q_UNUSED(initialised);
}

Result<DecodedImage> failure(const QString &what, const heif_error &error)
{
    return Result<DecodedImage>::fail(
        QStringLiteral("%1: %2").arg(what, QString::fromUtf8(error.message)));
}

// The smallest thumbnail of the file that still fills the box, or nothing.
Handle thumbnailFor(const heif_image_handle *primary, const QSize &needed)
{
    heif_item_id ids[kMaxThumbnails];
    const int count = heif_image_handle_get_list_of_thumbnail_IDs(primary, ids, kMaxThumbnails);
    const double aspect = double(heif_image_handle_get_width(primary)) /
                          qMax(1, heif_image_handle_get_height(primary));
    Handle best;
    qint64 bestPixels = 0;
    for (int i = 0; i < qBound(0, count, kMaxThumbnails); ++i) {
        heif_image_handle *candidate = nullptr;
        if (heif_image_handle_get_thumbnail(primary, ids[i], &candidate).code != heif_error_Ok)
            continue;
        Handle thumbnail(candidate);
        const int width = heif_image_handle_get_width(candidate);
        const int height = heif_image_handle_get_height(candidate);
        const qint64 pixels = qint64(width) * height;
        // A thumbnail of another shape (cut or turned differently) would not show this picture;
        // one larger than the engine accepts is never decoded.
        QString tooLarge;
        if (width <= 0 || height <= 0 || qAbs(double(width) / height - aspect) > 0.02 * aspect ||
            !CodecHandler::sizeAllowed(width, height, &tooLarge))
            continue;
        if (width < needed.width() && height < needed.height())
            continue;
        if (!best || pixels < bestPixels) {
            best = std::move(thumbnail);
            bestPixels = pixels;
        }
    }
    return best;
}

int exifOrientationOf(const heif_image_handle *handle)
{
    heif_item_id id;
    if (heif_image_handle_get_list_of_metadata_block_IDs(handle, "Exif", &id, 1) < 1)
        return 1;
    const size_t size = heif_image_handle_get_metadata_size(handle, id);
    if (size == 0 || size > kMaxExifBytes)
        return 1;
    QByteArray exif(qsizetype(size), '\0');
    if (heif_image_handle_get_metadata(handle, id, exif.data()).code != heif_error_Ok)
        return 1;
    return exifOrientation(reinterpret_cast<const uchar *>(exif.constData()), exif.size());
}

QColorSpace colourSpaceOf(const heif_image_handle *handle)
{
    switch (heif_image_handle_get_color_profile_type(handle)) {
    case heif_color_profile_type_prof:
    case heif_color_profile_type_rICC: {
        const size_t size = heif_image_handle_get_raw_color_profile_size(handle);
        if (size == 0 || size > (size_t(16) << 20))
            return {};
        QByteArray icc(qsizetype(size), '\0');
        if (heif_image_handle_get_raw_color_profile(handle, icc.data()).code != heif_error_Ok)
            return {};
        return QColorSpace::fromIccProfile(icc);
    }
    case heif_color_profile_type_nclx: {
        heif_color_profile_nclx *nclx = nullptr;
        if (heif_image_handle_get_nclx_color_profile(handle, &nclx).code != heif_error_Ok || !nclx)
            return {};
        const NclxColour colour{int(nclx->color_primaries), int(nclx->transfer_characteristics)};
        heif_nclx_color_profile_free(nclx);
        return colourSpaceFromNclx(colour);
    }
    default:
        return {};
    }
}

void releaseImage(void *image)
{
    heif_image_release(static_cast<heif_image *>(image));
}

// Decodes one picture of the file to 8-bit RGB(A) and hands its pixels to a QImage without a
// copy.
Result<QImage> decodePicture(const heif_image_handle *handle, bool alpha)
{
    const std::unique_ptr<heif_decoding_options, OptionsDeleter> options(
        heif_decoding_options_alloc());
    options->convert_hdr_to_8bit = 1;
    heif_image *image = nullptr;
    const heif_error error = heif_decode_image(
        handle, &image, heif_colorspace_RGB,
        alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
    if (error.code != heif_error_Ok || !image)
        return Result<QImage>::fail(QStringLiteral("The HEIF image cannot be decoded: %1")
                                        .arg(QString::fromUtf8(error.message)));
    const int width = heif_image_get_width(image, heif_channel_interleaved);
    const int height = heif_image_get_height(image, heif_channel_interleaved);
    int stride = 0;
    const uint8_t *pixels = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
    const int bytesPerPixel = alpha ? 4 : 3;
    if (!pixels || width <= 0 || height <= 0 || stride < width * bytesPerPixel) {
        heif_image_release(image);
        return Result<QImage>::fail(QStringLiteral("The HEIF image decoded to nothing."));
    }
    QImage picture(pixels, width, height, stride,
                   alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888, &releaseImage, image);
    if (picture.isNull()) {
        heif_image_release(image);
        return Result<QImage>::fail(QStringLiteral("There is not enough memory for the image."));
    }
    return picture;
}

} // namespace

Result<DecodedImage> HeifHandler::read(QIODevice *device, const ReadOptions &options)
{
    QString error;
    const QByteArray data = CodecHandler::readAllBounded(device, &error);
    if (data.isEmpty())
        return Result<DecodedImage>::fail(error);
    return decode(data, options);
}

Result<DecodedImage> HeifHandler::decode(const QByteArray &data, const ReadOptions &options)
{
    initialiseOnce();
    const std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    if (!context)
        return Result<DecodedImage>::fail(QStringLiteral("The HEIF decoder cannot be started."));
    // libheif refuses larger sides itself; the pixel count is checked below.
    heif_context_set_maximum_image_size_limit(context.get(), kMaxImageSide);
    heif_context_set_max_decoding_threads(context.get(), decoderThreads(options));
    heif_error error = heif_context_read_from_memory_without_copy(context.get(), data.constData(),
                                                                  size_t(data.size()), nullptr);
    if (error.code != heif_error_Ok)
        return failure(QStringLiteral("The HEIF file is damaged"), error);
    heif_image_handle *primaryHandle = nullptr;
    error = heif_context_get_primary_image_handle(context.get(), &primaryHandle);
    if (error.code != heif_error_Ok || !primaryHandle)
        return failure(QStringLiteral("The HEIF file has no picture"), error);
    const Handle primary(primaryHandle);

    // The coded size and the shown size (after cropping and turning) both stay in the limits.
    QString reason;
    const QSize full(heif_image_handle_get_width(primaryHandle),
                     heif_image_handle_get_height(primaryHandle));
    if (!CodecHandler::sizeAllowed(full.width(), full.height(), &reason) ||
        !CodecHandler::sizeAllowed(heif_image_handle_get_ispe_width(primaryHandle),
                                   heif_image_handle_get_ispe_height(primaryHandle), &reason))
        return Result<DecodedImage>::fail(reason);

    const bool alpha = heif_image_handle_has_alpha_channel(primaryHandle);
    const int lumaBits = qMax(8, heif_image_handle_get_luma_bits_per_pixel(primaryHandle));
    const bool grey = heif_image_handle_get_chroma_bits_per_pixel(primaryHandle) <= 0;

    // A thumbnail's picture is a picture of its own, with its own colour and turn.
    Handle thumbnail;
    if (options.targetSize.isValid())
        thumbnail = thumbnailFor(primaryHandle, reducedSize(full, options.targetSize));
    const heif_image_handle *chosen = thumbnail ? thumbnail.get() : primaryHandle;
    const bool chosenAlpha = heif_image_handle_has_alpha_channel(chosen);
    Result<QImage> picture = decodePicture(chosen, chosenAlpha);
    if (!picture)
        return Result<DecodedImage>::fail(picture.error());

    QImage page = std::move(*picture);
    convertToSrgb(page, colourSpaceOf(chosen));
    const int exifTurn = isobmff::hasTransformProperty(data) ? 1 : exifOrientationOf(primaryHandle);
    page = orientImage(page, exifTurn);

    DecodedImage decoded;
    decoded.formatCode = FormatHeif;
    decoded.bitsPerPixel = lumaBits * ((grey ? 1 : 3) + (alpha ? 1 : 0));
    decoded.fullSize = orientationTransposes(exifTurn) ? full.transposed() : full;
    decoded.pages.append(std::move(page));
    return decoded;
}

} // namespace qmt
