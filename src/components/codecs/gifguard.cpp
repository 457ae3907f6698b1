#include "components/codecs/gifguard.h"

#include "components/codecs/bytereader.h"
#include "components/codecs/codechandler.h"

#include <QBuffer>
#include <QIODevice>
#include <QImageReader>

// Layout: GIF89a. "GIF87a"/"GIF89a", logical screen width u16, height u16, flags (bit 7 global
// colour table, bits 0-2 its size 2^(n+1)), background, aspect; the global table; then blocks:
// 0x21 extension (label, data sub-blocks), 0x2C image (x, y, w, h u16, flags with the local
// table as above, then the table, the LZW minimum code size and data sub-blocks), 0x3B end.

namespace qmt {
namespace {

// Skips data sub-blocks up to the zero-length terminator; false when the data ends first.
bool skipSubBlocks(ByteReader &in)
{
    for (;;) {
        const quint8 length = in.u8();
        if (!in.ok())
            return false;
        if (length == 0)
            return true;
        if (!in.skip(length))
            return false;
    }
}

} // namespace

bool GifGuard::canRead(QIODevice *device)
{
    const QByteArray head = CodecHandler::peek(device, 6);
    return head == "GIF87a" || head == "GIF89a";
}

QString GifGuard::check(const QByteArray &data, int *frameCount)
{
    ByteReader in(data);
    in.skip(6);
    const quint16 width = in.u16le();
    const quint16 height = in.u16le();
    const quint8 flags = in.u8();
    in.skip(2);
    if (!in.ok())
        return QStringLiteral("The GIF header is cut short.");
    if (width == 0 || height == 0)
        return QStringLiteral("The GIF image has no pixels.");
    if (qint64(width) * height > kMaxImagePixels)
        return QStringLiteral("The GIF image is too large (%1 x %2 pixels).")
            .arg(width)
            .arg(height);
    if (flags & 0x80)
        in.skip(3 * (qint64(2) << (flags & 7)));
    int frames = 0;
    while (in.ok() && !in.atEnd()) {
        const quint8 block = in.u8();
        if (block == 0x3B)
            break;
        if (block == 0x21) {
            in.u8();
            if (!skipSubBlocks(in))
                break;
        } else if (block == 0x2C) {
            in.skip(8);
            const quint8 imageFlags = in.u8();
            if (imageFlags & 0x80)
                in.skip(3 * (qint64(2) << (imageFlags & 7)));
            const quint8 codeSize = in.u8();
            if (!in.ok())
                break;
            if (codeSize < 1 || codeSize > 11)
                return QStringLiteral("GIF frame %1 has an invalid LZW code size of %2.")
                    .arg(frames + 1)
                    .arg(codeSize);
            ++frames;
            if (!skipSubBlocks(in))
                break;
        } else {
            if (frames == 0)
                return QStringLiteral("The GIF file has an unknown block 0x%1.")
                    .arg(block, 2, 16, QLatin1Char('0'));
            break; // trailing garbage after sound frames
        }
    }
    if (frames == 0)
        return QStringLiteral("The GIF file holds no image.");
    if (frameCount)
        *frameCount = frames;
    return {};
}

Result<DecodedImage> GifGuard::read(QIODevice *device, const ReadOptions &options)
{
    QString error;
    QByteArray data = CodecHandler::readAllBounded(device, &error);
    if (data.isEmpty())
        return Result<DecodedImage>::fail(error);
    int frames = 0;
    const QString bad = check(data, &frames);
    if (!bad.isEmpty())
        return Result<DecodedImage>::fail(bad);
    if (options.page < 0 || options.page >= frames)
        return Result<DecodedImage>::fail(QStringLiteral("There is no page %1 (the file has %2).")
                                              .arg(options.page + 1)
                                              .arg(frames));

    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "gif");
    reader.setDecideFormatFromContent(false);
    DecodedImage decoded;
    decoded.formatCode = FormatGif;
    decoded.fullSize = reader.size();
    decoded.bitsPerPixel = 8;
    decoded.pageCount = frames;
    QImage frame;
    for (int i = 0; i <= options.page; ++i) {
        frame = QImage(); // the frame before is dropped before the next is decoded
        frame = reader.read();
        if (frame.isNull())
            break;
    }
    if (frame.isNull()) {
        if (options.page == 0)
            return Result<DecodedImage>::fail(
                QStringLiteral("The GIF image cannot be decoded: %1").arg(reader.errorString()));
        return Result<DecodedImage>::fail(
            QStringLiteral("Frame %1 of the GIF image cannot be decoded.").arg(options.page + 1));
    }
    decoded.pages.append(std::move(frame));
    return decoded;
}

} // namespace qmt
