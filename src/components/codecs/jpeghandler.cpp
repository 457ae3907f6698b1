#include "components/codecs/jpeghandler.h"

#include "components/codecs/decodebudget.h"
#include "components/codecs/orientation.h"

#include <QBuffer>
#include <QColorSpace>
#include <QIODevice>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <jpeglib.h>

namespace qmt {
namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void onJpegError(j_common_ptr info)
{
    auto *manager = reinterpret_cast<ErrorManager *>(info->err);
    (*info->err->format_message)(info, manager->message);
    std::longjmp(manager->jump, 1);
}

extern "C" void onJpegMessage(j_common_ptr, int) {}

// Feeds libjpeg from a QIODevice in 64 KB blocks, as djpeg does from a file: no copy of the
// whole file is made. At the end of the data a file cut short gets an end marker, so that
// libjpeg finishes with the part it decoded.
struct DeviceSource {
    jpeg_source_mgr pub;
    QIODevice *device;
    // What the decode learns on the way; kept here, outside the stack frame that libjpeg's
    // error exit jumps back into.
    JOCTET *icc = nullptr;
    unsigned int iccLength = 0;
    int orientation = 1;
    bool cmyk = false;
    bool adobeInverted = false;
    JOCTET buffer[64 * 1024];
};

// What libjpeg keeps while it decodes a progressive file: every DCT coefficient of the image.
std::int64_t coefficientBytes(const jpeg_decompress_struct &info)
{
    std::int64_t blocks = 0;
    for (int i = 0; i < info.num_components; ++i)
        blocks +=
            std::int64_t(info.comp_info[i].width_in_blocks) * info.comp_info[i].height_in_blocks;
    return blocks * DCTSIZE2 * std::int64_t(sizeof(JCOEF));
}

extern "C" void initSource(j_decompress_ptr) {}

extern "C" boolean fillInput(j_decompress_ptr info)
{
    auto *source = reinterpret_cast<DeviceSource *>(info->src);
    qint64 got =
        source->device->read(reinterpret_cast<char *>(source->buffer), sizeof source->buffer);
    if (got <= 0) {
        source->buffer[0] = 0xFF;
        source->buffer[1] = JPEG_EOI;
        got = 2;
    }
    source->pub.next_input_byte = source->buffer;
    source->pub.bytes_in_buffer = size_t(got);
    return TRUE;
}

extern "C" void skipInput(j_decompress_ptr info, long count)
{
    auto *source = reinterpret_cast<DeviceSource *>(info->src);
    if (count <= 0)
        return;
    while (count > long(source->pub.bytes_in_buffer)) {
        count -= long(source->pub.bytes_in_buffer);
        fillInput(info);
    }
    source->pub.next_input_byte += count;
    source->pub.bytes_in_buffer -= size_t(count);
}

extern "C" void termSource(j_decompress_ptr) {}

} // namespace

bool JpegHandler::canRead(QIODevice *device)
{
    const QByteArray head = peek(device, 3);
    return head.size() == 3 && uchar(head[0]) == 0xFF && uchar(head[1]) == 0xD8 &&
           uchar(head[2]) == 0xFF;
}

bool JpegHandler::read(QImage *image)
{
    if (!device())
        return fail(QStringLiteral("The file cannot be read."));
    return decodeDevice(device(), image);
}

bool JpegHandler::decode(const QByteArray &data, QImage *image)
{
    QByteArray copy = data;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    return decodeDevice(&buffer, image);
}

bool JpegHandler::decodeDevice(QIODevice *device, QImage *image)
{
    // Everything with a destructor lives outside the part that libjpeg may leave by longjmp.
    jpeg_decompress_struct info;
    ErrorManager errors;
    QImage result;
    auto *source = new DeviceSource;
    const std::unique_ptr<DeviceSource> sourceOwner(source);
    JOCTET *&icc = source->icc;
    unsigned int &iccLength = source->iccLength;
    int &orientation = source->orientation;
    bool &cmyk = source->cmyk;
    bool &adobeInverted = source->adobeInverted;

    info.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = onJpegError;
    errors.pub.emit_message = onJpegMessage;
    errors.message[0] = 0;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        std::free(icc);
        // A file cut short inside the scan still shows what was decoded; libjpeg fills the rest.
        return fail(QStringLiteral("The JPEG data is damaged: %1")
                        .arg(QString::fromLatin1(errors.message)));
    }
    jpeg_create_decompress(&info);
    source->device = device;
    source->pub.init_source = initSource;
    source->pub.fill_input_buffer = fillInput;
    source->pub.skip_input_data = skipInput;
    source->pub.resync_to_restart = jpeg_resync_to_restart;
    source->pub.term_source = termSource;
    source->pub.next_input_byte = nullptr;
    source->pub.bytes_in_buffer = 0;
    info.src = &source->pub;
    jpeg_save_markers(&info, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&info, TRUE);

    m_fullSize = QSize(int(info.image_width), int(info.image_height));
    if (!sizeAllowed(info.image_width, info.image_height, &m_error)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    for (jpeg_saved_marker_ptr marker = info.marker_list; marker; marker = marker->next) {
        if (marker->marker == JPEG_APP0 + 1 && orientation == 1 && m_applyOrientation)
            orientation = exifOrientation(marker->data, marker->data_length);
    }
    jpeg_read_icc_profile(&info, &icc, &iccLength);

    switch (info.jpeg_color_space) {
    case JCS_GRAYSCALE:
        info.out_color_space = JCS_GRAYSCALE;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        info.out_color_space = JCS_CMYK;
        cmyk = true;
        adobeInverted = info.saw_Adobe_marker;
        break;
    default:
        info.out_color_space = JCS_EXT_BGRX; // straight into QImage::Format_RGB32's byte order
        break;
    }

    // The largest scale-down whose result still covers the target (the box is turned with the
    // image when the orientation swaps width and height).
    QSize wanted = m_target;
    if ((!wanted.isValid() || wanted.isEmpty()) && m_targetRule) {
        const QSize stored(int(info.image_width), int(info.image_height));
        wanted = m_targetRule(orientation >= 5 ? stored.transposed() : stored);
    }
    if (wanted.isValid() && !wanted.isEmpty()) {
        QSize target = wanted;
        if (orientation >= 5)
            target.transpose();
        for (unsigned denominator = 8; denominator >= 2; denominator /= 2) {
            const quint64 w = (info.image_width + denominator - 1) / denominator;
            const quint64 h = (info.image_height + denominator - 1) / denominator;
            if (w >= quint64(target.width()) || h >= quint64(target.height())) {
                info.scale_num = 1;
                info.scale_denom = denominator;
                break;
            }
        }
    }
    // What the decode holds: the picture at the scale chosen, and for a progressive file every
    // coefficient until its last scan. Decodes side by side take turns when together they would
    // need too much.
    jpeg_calc_output_dimensions(&info);
    DecodeBudgetScope::reserve(std::int64_t(info.output_width) * info.output_height * 4 +
                               (info.progressive_mode ? coefficientBytes(info) : 0));
    jpeg_start_decompress(&info);

    const QImage::Format format =
        info.out_color_space == JCS_GRAYSCALE ? QImage::Format_Grayscale8 : QImage::Format_RGB32;
    result = allocate(info.output_width, info.output_height, format, &m_error);
    if (result.isNull()) {
        jpeg_destroy_decompress(&info);
        std::free(icc);
        return false;
    }
    // CMYK comes as 4 bytes a pixel and is turned into RGB in place.
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = result.scanLine(int(info.output_scanline));
        if (jpeg_read_scanlines(&info, &row, 1) != 1)
            break;
        if (cmyk) {
            uchar *p = row;
            QRgb *out = reinterpret_cast<QRgb *>(row);
            for (JDIMENSION x = 0; x < info.output_width; ++x, p += 4) {
                uint c = p[0], m = p[1], y = p[2], k = p[3];
                if (!adobeInverted) {
                    c = 255 - c;
                    m = 255 - m;
                    y = 255 - y;
                    k = 255 - k;
                }
                out[x] = qRgb(int(c * k / 255), int(m * k / 255), int(y * k / 255));
            }
        }
    }
    m_bitsPerPixel = info.output_components * 8 == 32 && !cmyk ? 24 : info.num_components * 8;
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);

    if (icc && !cmyk) {
        const QColorSpace space = QColorSpace::fromIccProfile(
            QByteArray::fromRawData(reinterpret_cast<const char *>(icc), qsizetype(iccLength)));
        if (space.isValid() && space != QColorSpace(QColorSpace::SRgb)) {
            result.setColorSpace(space);
            result.convertToColorSpace(QColorSpace(QColorSpace::SRgb));
        }
    }
    std::free(icc);
    if (orientation >= 5)
        m_fullSize.transpose();
    *image = orientImage(result, orientation);
    return true;
}

Result<DecodedImage> JpegHandler::readFile(QIODevice *device, const ReadOptions &options)
{
    JpegHandler handler;
    handler.setDevice(device);
    handler.setTargetSize(options.targetSize);
    handler.setTargetRule(options.targetForFullSize);
    QImage image;
    if (!handler.read(&image))
        return Result<DecodedImage>::fail(handler.errorString());
    DecodedImage decoded;
    decoded.formatCode = FormatJpeg;
    decoded.bitsPerPixel = handler.bitsPerPixel();
    decoded.fullSize = handler.fullSize();
    decoded.pages.append(std::move(image));
    return decoded;
}

} // namespace qmt
