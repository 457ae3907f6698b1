#include "components/codecs/jxlhandler.h"

#include "components/codecs/codechandler.h"
#include "components/codecs/colourprofile.h"
#include "components/codecs/pagebudget.h"

#include <QIODevice>

#include <memory>

#include <jxl/decode.h>
#include <jxl/encode.h>
#include <jxl/thread_parallel_runner.h>

namespace qmt {
namespace {

// ICC profiles larger than this are not read.
constexpr size_t kMaxIccBytes = size_t(16) << 20;

struct DecoderDeleter {
    void operator()(JxlDecoder *decoder) const { JxlDecoderDestroy(decoder); }
};
struct RunnerDeleter {
    void operator()(void *runner) const { JxlThreadParallelRunnerDestroy(runner); }
};

// Whether the decoded pixels are already in sRGB (or grey with the sRGB curve).
bool isSrgb(const JxlColorEncoding &encoding)
{
    return encoding.white_point == JXL_WHITE_POINT_D65 &&
           encoding.transfer_function == JXL_TRANSFER_FUNCTION_SRGB &&
           (encoding.color_space == JXL_COLOR_SPACE_GRAY ||
            (encoding.color_space == JXL_COLOR_SPACE_RGB &&
             encoding.primaries == JXL_PRIMARIES_SRGB));
}

// The colour space of the decoded pixels, or an invalid one when they are sRGB already.
QColorSpace dataColourSpace(JxlDecoder *decoder)
{
    JxlColorEncoding encoding;
    if (JxlDecoderGetColorAsEncodedProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                           &encoding) == JXL_DEC_SUCCESS &&
        isSrgb(encoding))
        return {};
    size_t size = 0;
    if (JxlDecoderGetICCProfileSize(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) !=
            JXL_DEC_SUCCESS ||
        size == 0 || size > kMaxIccBytes)
        return {};
    QByteArray icc(qsizetype(size), '\0');
    if (JxlDecoderGetColorAsICCProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                       reinterpret_cast<uint8_t *>(icc.data()),
                                       size) != JXL_DEC_SUCCESS)
        return {};
    return QColorSpace::fromIccProfile(icc);
}

class Decode
{
public:
    Decode(const QByteArray &data, const ReadOptions &options) : m_data(data), m_options(options) {}
    Result<DecodedImage> run();

private:
    bool start(QString *error);
    bool onBasicInfo(QString *error);
    void onColourEncoding();
    bool onNeedBuffer(QString *error);
    void finishPage();
    bool previewIsEnough();
    Result<DecodedImage> finishAll(const QString &error);

    const QByteArray &m_data;
    const ReadOptions &m_options;
    std::unique_ptr<JxlDecoder, DecoderDeleter> m_decoder;
    std::unique_ptr<void, RunnerDeleter> m_runner;
    JxlBasicInfo m_info{};
    JxlPixelFormat m_format{4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    QSize m_size;
    QColorSpace m_space;
    QImage m_page;
    int m_frameDelay = 0;
    PageBudget m_budget;
    DecodedImage m_decoded;
};

bool Decode::start(QString *error)
{
    m_decoder.reset(JxlDecoderCreate(nullptr));
    if (!m_decoder) {
        *error = QStringLiteral("The JPEG XL decoder cannot be started.");
        return false;
    }
    const int threads = decoderThreads(m_options);
    if (threads > 1) {
        m_runner.reset(JxlThreadParallelRunnerCreate(nullptr, size_t(threads)));
        if (m_runner)
            JxlDecoderSetParallelRunner(m_decoder.get(), JxlThreadParallelRunner, m_runner.get());
    }
    int events = JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FRAME | JXL_DEC_FULL_IMAGE;
    if (m_options.targetSize.isValid())
        events |= JXL_DEC_FRAME_PROGRESSION;
    if (JxlDecoderSubscribeEvents(m_decoder.get(), events) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(m_decoder.get(), reinterpret_cast<const uint8_t *>(m_data.constData()),
                           size_t(m_data.size())) != JXL_DEC_SUCCESS) {
        *error = QStringLiteral("The JPEG XL decoder cannot be started.");
        return false;
    }
    JxlDecoderCloseInput(m_decoder.get());
    if (m_options.targetSize.isValid())
        JxlDecoderSetProgressiveDetail(m_decoder.get(), kDC);
    return true;
}

bool Decode::onBasicInfo(QString *error)
{
    if (JxlDecoderGetBasicInfo(m_decoder.get(), &m_info) != JXL_DEC_SUCCESS) {
        *error = QStringLiteral("The JPEG XL header is damaged.");
        return false;
    }
    // The decoder hands out the picture turned upright.
    const bool transposed = m_info.orientation >= JXL_ORIENT_TRANSPOSE;
    m_size = transposed ? QSize(int(qMin<uint32_t>(m_info.ysize, INT_MAX)),
                                int(qMin<uint32_t>(m_info.xsize, INT_MAX)))
                        : QSize(int(qMin<uint32_t>(m_info.xsize, INT_MAX)),
                                int(qMin<uint32_t>(m_info.ysize, INT_MAX)));
    if (!CodecHandler::sizeAllowed(m_info.xsize, m_info.ysize, error))
        return false;
    m_decoded.formatCode = FormatJxl;
    m_decoded.fullSize = m_size;
    m_decoded.bitsPerPixel =
        int(m_info.bits_per_sample * m_info.num_color_channels + m_info.alpha_bits);
    return true;
}

void Decode::onColourEncoding()
{
    // Lossy pictures are stored in the codec's own colour space and can be had in sRGB directly;
    // lossless ones come in their own space and are converted afterwards.
    JxlColorEncoding srgb;
    JxlColorEncodingSetToSRGB(&srgb, m_info.num_color_channels == 1);
    if (!m_info.uses_original_profile)
        JxlDecoderSetPreferredColorProfile(m_decoder.get(), &srgb);
    m_space = dataColourSpace(m_decoder.get());
}

bool Decode::onNeedBuffer(QString *error)
{
    if (!m_budget.take(m_size.width(), m_size.height())) {
        *error = QStringLiteral("The JPEG XL animation has too many frames.");
        return false;
    }
    const QImage::Format format =
        m_info.alpha_bits > 0 ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888;
    m_page = CodecHandler::allocate(m_size.width(), m_size.height(), format, error);
    if (m_page.isNull())
        return false;
    m_format.align = size_t(m_page.bytesPerLine());
    size_t needed = 0;
    if (JxlDecoderImageOutBufferSize(m_decoder.get(), &m_format, &needed) != JXL_DEC_SUCCESS ||
        needed > size_t(m_page.sizeInBytes())) {
        *error = QStringLiteral("The JPEG XL picture does not match its header.");
        return false;
    }
    if (JxlDecoderSetImageOutBuffer(m_decoder.get(), &m_format, m_page.bits(),
                                    size_t(m_page.sizeInBytes())) != JXL_DEC_SUCCESS) {
        *error = QStringLiteral("The JPEG XL picture cannot be decoded.");
        return false;
    }
    return true;
}

void Decode::finishPage()
{
    if (m_page.isNull())
        return;
    convertToSrgb(m_page, m_space);
    m_decoded.pages.append(std::move(m_page));
    m_decoded.frameDelays.append(m_frameDelay);
    m_page = QImage();
}

// Whether the 1:8 pass just decoded is all a thumbnail needs.
bool Decode::previewIsEnough()
{
    const size_t ratio = JxlDecoderGetIntendedDownsamplingRatio(m_decoder.get());
    const QSize needed = reducedSize(m_size, m_options.targetSize);
    if (ratio <= 1 || m_page.isNull())
        return false;
    if (qint64(m_size.width()) / qint64(ratio) < needed.width() &&
        qint64(m_size.height()) / qint64(ratio) < needed.height())
        return false;
    return JxlDecoderFlushImage(m_decoder.get()) == JXL_DEC_SUCCESS;
}

Result<DecodedImage> Decode::finishAll(const QString &error)
{
    if (m_decoded.pages.isEmpty())
        return Result<DecodedImage>::fail(error);
    if (m_decoded.pages.size() == 1 || !m_info.have_animation)
        m_decoded.frameDelays.clear();
    return m_decoded;
}

Result<DecodedImage> Decode::run()
{
    QString error;
    if (!start(&error))
        return Result<DecodedImage>::fail(error);
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(m_decoder.get());
        switch (status) {
        case JXL_DEC_BASIC_INFO:
            if (!onBasicInfo(&error))
                return Result<DecodedImage>::fail(error);
            break;
        case JXL_DEC_COLOR_ENCODING:
            onColourEncoding();
            break;
        case JXL_DEC_FRAME: {
            JxlFrameHeader header;
            m_frameDelay = 0;
            if (m_info.have_animation && m_info.animation.tps_numerator > 0 &&
                JxlDecoderGetFrameHeader(m_decoder.get(), &header) == JXL_DEC_SUCCESS)
                m_frameDelay =
                    int(qBound<double>(0.0,
                                       1000.0 * header.duration * m_info.animation.tps_denominator /
                                           m_info.animation.tps_numerator,
                                       65535.0));
            break;
        }
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
            if (!onNeedBuffer(&error))
                return finishAll(error);
            break;
        case JXL_DEC_FRAME_PROGRESSION:
            if (previewIsEnough()) {
                finishPage();
                return finishAll(QString());
            }
            break;
        case JXL_DEC_FULL_IMAGE:
            finishPage();
            if (m_options.firstPageOnly || !m_info.have_animation)
                return finishAll(QString());
            break;
        case JXL_DEC_SUCCESS:
            return finishAll(QStringLiteral("The JPEG XL file holds no picture."));
        case JXL_DEC_NEED_MORE_INPUT:
        case JXL_DEC_ERROR:
        default:
            // Cut short or damaged: whatever the decoder can show of the frame it was on is
            // kept.
            if (!m_page.isNull() && JxlDecoderFlushImage(m_decoder.get()) == JXL_DEC_SUCCESS)
                finishPage();
            return finishAll(status == JXL_DEC_NEED_MORE_INPUT
                                 ? QStringLiteral("The JPEG XL file is cut short.")
                                 : QStringLiteral("The JPEG XL data is damaged."));
        }
    }
}

} // namespace

Result<DecodedImage> JxlHandler::read(QIODevice *device, const ReadOptions &options)
{
    QString error;
    const QByteArray data = CodecHandler::readAllBounded(device, &error);
    if (data.isEmpty())
        return Result<DecodedImage>::fail(error);
    return decode(data, options);
}

Result<DecodedImage> JxlHandler::decode(const QByteArray &data, const ReadOptions &options)
{
    return Decode(data, options).run();
}

} // namespace qmt
