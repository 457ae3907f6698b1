#include "components/codecs/pcdhandler.h"

#include <QIODevice>
#include <QTransform>

#include <cstring>

namespace qmt {
namespace {

struct Resolution {
    int width;
    int height;
    qint64 offset;
};

constexpr Resolution kResolutions[] = {
    {768, 512, PcdHandler::kBaseOffset},
    {384, 256, PcdHandler::kBase4Offset},
    {192, 128, PcdHandler::kBase16Offset},
};

qint64 planeBytes(const Resolution &r)
{
    return qint64(r.width) * r.height * 3 / 2;
}

// PhotoYCC to RGB: luma and the two colour differences are scaled from their 8-bit coding
// (chroma centred on 156 and 137), then combined; values beyond the display range are clipped.
inline uchar clip(double v)
{
    return uchar(v <= 0 ? 0 : v >= 255 ? 255 : int(v + 0.5));
}

QImage decodePlane(const uchar *data, const Resolution &r)
{
    QImage image(r.width, r.height, QImage::Format_RGB888);
    if (image.isNull())
        return image;
    const int w = r.width;
    const uchar *p = data;
    for (int y = 0; y < r.height; y += 2) {
        const uchar *luma0 = p;
        const uchar *luma1 = p + w;
        const uchar *c1 = p + 2 * w;
        const uchar *c2 = c1 + w / 2;
        p += 3 * w;
        for (int row = 0; row < 2; ++row) {
            const uchar *luma = row ? luma1 : luma0;
            uchar *out = image.scanLine(y + row);
            for (int x = 0; x < w; ++x) {
                const double l = 1.3584 * luma[x];
                const double b = c1[x / 2] - 156.0;
                const double rr = c2[x / 2] - 137.0;
                out[3 * x] = clip(l + 1.8215 * rr);
                out[3 * x + 1] = clip(l - 0.4303 * b - 0.9271 * rr);
                out[3 * x + 2] = clip(l + 2.2179 * b);
            }
        }
    }
    return image;
}

QImage oriented(const QImage &image, int orientation)
{
    switch (orientation & 3) {
    case 1:
        return image.transformed(QTransform().rotate(-90));
    case 2:
        return image.transformed(QTransform().rotate(180));
    case 3:
        return image.transformed(QTransform().rotate(90));
    default:
        return image;
    }
}

} // namespace

bool PcdHandler::canRead(const QByteArray &head)
{
    return head.size() >= kSector + 7 && std::memcmp(head.constData() + kSector, "PCD_IPI", 7) == 0;
}

bool PcdHandler::canRead(QIODevice *device)
{
    return device && canRead(device->peek(kSector + 7));
}

Result<DecodedImage> PcdHandler::decode(const QByteArray &data, const ReadOptions &options)
{
    if (!canRead(data))
        return Result<DecodedImage>::fail(QStringLiteral("The file is not a Photo CD image."));
    if (data.size() <= kOrientationOffset)
        return Result<DecodedImage>::fail(QStringLiteral("The Photo CD file is cut short."));
    const int orientation = uchar(data.at(kOrientationOffset)) & 3;
    const auto whole = [&data](const Resolution &r) {
        return data.size() >= r.offset + planeBytes(r);
    };

    DecodedImage decoded;
    decoded.formatCode = FormatPcd;
    decoded.bitsPerPixel = 24;
    decoded.fullSize = orientation & 1 ? QSize(512, 768) : QSize(768, 512);

    const uchar *bytes = reinterpret_cast<const uchar *>(data.constData());
    if (options.firstPageOnly) {
        // One page: the smallest whole resolution that covers the box asked for, else the
        // largest whole one.
        const Resolution *chosen = nullptr;
        for (const Resolution &r : kResolutions) {
            if (!whole(r))
                continue;
            QSize size(r.width, r.height);
            if (orientation & 1)
                size.transpose();
            const QSize target = options.targetSize;
            // Like the engine's other reduced reads: enough when the picture, fitted into the
            // box, is not enlarged.
            const bool covers =
                target.isValid() && !target.isEmpty() &&
                (size.width() >= target.width() || size.height() >= target.height());
            if (!chosen || covers)
                chosen = &r;
        }
        if (chosen)
            decoded.pages.append(
                oriented(decodePlane(bytes + chosen->offset, *chosen), orientation));
    } else {
        for (const Resolution &r : kResolutions) {
            if (whole(r))
                decoded.pages.append(oriented(decodePlane(bytes + r.offset, r), orientation));
        }
    }
    if (decoded.pages.isEmpty())
        return Result<DecodedImage>::fail(QStringLiteral("The Photo CD file is cut short."));
    return decoded;
}

Result<DecodedImage> PcdHandler::read(QIODevice *device, const ReadOptions &options)
{
    if (!device || !device->isReadable())
        return Result<DecodedImage>::fail(QStringLiteral("The file cannot be read."));
    // Only the first part of a pack is needed: the larger resolutions after Base are skipped.
    QByteArray data;
    while (data.size() < kBaseEnd) {
        const QByteArray block = device->read(kBaseEnd - data.size());
        if (block.isEmpty())
            break;
        data.append(block);
    }
    return decode(data, options);
}

} // namespace qmt
