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

// PhotoYCC to RGB as the common readers (ImageMagick among them) show Photo CD pictures: the
// luma as it is, the two colour differences centred on 156 and 137; values beyond the display
// range are clipped.
inline uchar clip(double v)
{
    return uchar(v <= 0 ? 0 : v >= 255 ? 255 : int(v + 0.5));
}

// The colour differences are stored once for each 2 x 2 block, at the block's top-left pixel;
// between those samples they are interpolated along both axes.
QImage decodePlane(const uchar *data, const Resolution &r)
{
    QImage image(r.width, r.height, QImage::Format_RGB888);
    if (image.isNull())
        return image;
    const int w = r.width;
    const int half = w / 2;
    const int chromaRows = r.height / 2;
    // Row j of the first colour difference; the second follows it.
    const auto chromaRow = [data, w](int j) { return data + qint64(j) * 3 * w + 2 * w; };
    for (int y = 0; y < r.height; ++y) {
        const uchar *luma = data + qint64(y / 2) * 3 * w + (y % 2) * w;
        const uchar *upper = chromaRow(y / 2);
        const uchar *lower = chromaRow(qMin(y / 2 + 1, chromaRows - 1));
        const double below = (y % 2) * 0.5; // the weight of the lower chroma row
        uchar *out = image.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const int i0 = x / 2;
            const int i1 = qMin(i0 + 1, half - 1);
            const double right = (x % 2) * 0.5;
            const auto at = [&](int plane) {
                const int offset = plane * half;
                const double top = upper[offset + i0] * (1 - right) + upper[offset + i1] * right;
                const double bottom = lower[offset + i0] * (1 - right) + lower[offset + i1] * right;
                return top * (1 - below) + bottom * below;
            };
            const double l = luma[x];
            const double c1 = at(0) - 156.0;
            const double c2 = at(1) - 137.0;
            out[3 * x] = clip(l + 1.340762 * c2);
            out[3 * x + 1] = clip(l - 0.317038 * c1 - 0.682243 * c2);
            out[3 * x + 2] = clip(l + 1.632639 * c1);
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

    // The pages are the resolutions the file holds whole, largest first.
    QList<const Resolution *> pages;
    for (const Resolution &r : kResolutions) {
        if (whole(r))
            pages.append(&r);
    }
    if (pages.isEmpty())
        return Result<DecodedImage>::fail(QStringLiteral("The Photo CD file is cut short."));
    if (options.page < 0 || options.page >= pages.size())
        return Result<DecodedImage>::fail(QStringLiteral("There is no page %1 (the file has %2).")
                                              .arg(options.page + 1)
                                              .arg(pages.size()));

    const Resolution *chosen = pages.at(options.page);
    const QSize target = options.targetSize;
    if (options.page == 0 && target.isValid() && !target.isEmpty()) {
        // At a reduced size: the smallest resolution that still covers the box asked for. Like
        // the engine's other reduced reads, it covers when the picture, fitted into the box, is
        // not enlarged.
        for (const Resolution *r : pages) {
            QSize size(r->width, r->height);
            if (orientation & 1)
                size.transpose();
            if (size.width() >= target.width() || size.height() >= target.height())
                chosen = r;
        }
    }

    DecodedImage decoded;
    decoded.formatCode = FormatPcd;
    decoded.bitsPerPixel = 24;
    decoded.pageCount = int(pages.size());
    decoded.fullSize = orientation & 1 ? QSize(512, 768) : QSize(768, 512);
    const uchar *bytes = reinterpret_cast<const uchar *>(data.constData());
    QImage page = oriented(decodePlane(bytes + chosen->offset, *chosen), orientation);
    if (page.isNull())
        return Result<DecodedImage>::fail(
            QStringLiteral("There is not enough memory for the picture."));
    decoded.pages.append(std::move(page));
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
