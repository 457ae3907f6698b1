#include "components/codecs/metafiledib.h"

#include "components/codecs/metafilecursor.h"

#include <QBuffer>
#include <QImageReader>
#include <QtEndian>

#include <cstdlib>

namespace qmt {
namespace {

enum : quint32 { BiRgb = 0, BiRle8 = 1, BiRle4 = 2, BiBitfields = 3, BiJpeg = 4, BiPng = 5 };

struct DibHeader {
    quint32 headerSize = 0;
    qint64 width = 0;
    qint64 height = 0; // negative: rows stored top-down
    int bitCount = 0;
    quint32 compression = BiRgb;
    quint32 colorsUsed = 0;
    qint64 tableBytes = 0; // masks and colour table after the header
    int tableEntries = 0;
    int entrySize = 4;
    qint64 maskBytes = 0;
};

bool parseHeader(const uchar *info, qint64 infoSize, quint32 usage, DibHeader *h)
{
    MetafileCursor in(info, infoSize);
    h->headerSize = in.u32();
    if (h->headerSize == 12) {
        // BITMAPCOREHEADER: 16-bit sizes, three-byte colour entries.
        h->width = in.u16();
        h->height = in.u16();
        in.u16();
        h->bitCount = in.u16();
        h->entrySize = 3;
    } else if (h->headerSize >= 40 && h->headerSize <= 124) {
        h->width = in.i32();
        h->height = in.i32();
        in.u16();
        h->bitCount = in.u16();
        h->compression = in.u32();
        in.skip(12);
        h->colorsUsed = in.u32();
    } else {
        return false;
    }
    if (!in.ok() || h->width <= 0 || h->height == 0)
        return false;
    switch (h->bitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        break;
    default:
        if (!(h->bitCount == 0 && (h->compression == BiJpeg || h->compression == BiPng)))
            return false;
    }
    if (h->compression > BiPng && h->compression != 6)
        return false;
    const qint64 pixels = h->width * std::abs(h->height);
    if (std::abs(h->height) > 1'000'000 || h->width > 1'000'000 ||
        pixels > kMaxMetafileBitmapPixels)
        return false;

    if (h->bitCount > 0 && h->bitCount <= 8) {
        const quint32 full = 1u << h->bitCount;
        h->tableEntries = int(h->colorsUsed == 0 || h->colorsUsed > full ? full : h->colorsUsed);
    } else {
        // Colour tables of true-colour bitmaps only optimise palettes; they are skipped.
        h->tableEntries = int(qMin<quint32>(h->colorsUsed, 256));
    }
    if (h->headerSize == 40 && (h->compression == BiBitfields || h->compression == 6))
        h->maskBytes = h->compression == 6 ? 16 : 12;
    const int entrySize = usage == 1 ? 2 : h->entrySize;
    h->tableBytes = h->maskBytes + qint64(h->tableEntries) * entrySize;
    return h->headerSize + h->tableBytes <= infoSize;
}

qint64 rowBytes(const DibHeader &h)
{
    return ((h.width * h.bitCount + 31) / 32) * 4;
}

} // namespace

MetafileBitmap decodeMetafileDib(const uchar *info, qint64 infoSize, const uchar *bits,
                                 qint64 bitsSize, quint32 usage, bool keepAlpha)
{
    MetafileBitmap result;
    DibHeader h;
    if (!info || !bits || infoSize < 12 || bitsSize <= 0 || !parseHeader(info, infoSize, usage, &h))
        return result;
    result.bottomUp = h.height > 0;

    if (h.compression == BiJpeg || h.compression == BiPng) {
        QByteArray data(reinterpret_cast<const char *>(bits), bitsSize);
        QBuffer buffer(&data);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, h.compression == BiJpeg ? "jpeg" : "png");
        const QSize size = reader.size();
        if (!size.isValid() || qint64(size.width()) * size.height() > kMaxMetafileBitmapPixels)
            return result;
        result.image = reader.read();
        result.bottomUp = false;
        return result;
    }

    const qint64 pixels = h.width * std::abs(h.height);
    const qint64 needed = rowBytes(h) * std::abs(h.height);
    if (h.compression == BiRle8 || h.compression == BiRle4) {
        // A run of two bytes paints at most 255 pixels; anything claiming far more than the
        // data could describe is a lie about its size.
        if (h.height < 0 || pixels > qMax<qint64>(bitsSize * 256, 1 << 20))
            return result;
    } else if (bitsSize < needed) {
        return result;
    }

    // Qt's BMP reader does the unpacking: the header and table are rebuilt in a file of their
    // own, with palette-index tables replaced by a grey ramp.
    QByteArray file;
    const qint64 tableOut = h.maskBytes + qint64(h.tableEntries) * h.entrySize;
    const qint64 bitsOut = h.compression == BiRle8 || h.compression == BiRle4 ? bitsSize : needed;
    const qint64 offBits = 14 + h.headerSize + tableOut;
    file.reserve(offBits + bitsOut);
    uchar fileHeader[14] = {'B', 'M'};
    qToLittleEndian<quint32>(quint32(offBits + bitsOut), fileHeader + 2);
    qToLittleEndian<quint32>(quint32(offBits), fileHeader + 10);
    file.append(reinterpret_cast<const char *>(fileHeader), 14);
    file.append(reinterpret_cast<const char *>(info), h.headerSize + h.maskBytes);
    if (usage == 1) {
        for (int i = 0; i < h.tableEntries; ++i) {
            const char grey = char(h.tableEntries > 1 ? i * 255 / (h.tableEntries - 1) : 0);
            const char entry[4] = {grey, grey, grey, 0};
            file.append(entry, h.entrySize);
        }
    } else {
        file.append(reinterpret_cast<const char *>(info) + h.headerSize + h.maskBytes,
                    qint64(h.tableEntries) * h.entrySize);
    }
    file.append(reinterpret_cast<const char *>(bits), bitsOut);

    QBuffer buffer(&file);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "bmp");
    QImage image = reader.read();
    if (image.isNull())
        return result;
    // GDI draws the colour channels of a bitmap; the fourth byte of 32-bit rows is not alpha.
    if (h.bitCount == 32 && h.compression == BiRgb) {
        if (!keepAlpha) {
            image = image.convertToFormat(QImage::Format_RGB32);
        } else {
            // Qt reads plain 32-bit rows as opaque; the alpha byte is taken back from the rows.
            // Blended bitmaps hold premultiplied colours, which may not exceed their alpha.
            image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
            const qint64 stride = rowBytes(h);
            for (int y = 0; y < image.height(); ++y) {
                const qint64 fileRow = h.height > 0 ? image.height() - 1 - y : y;
                const uchar *src = bits + fileRow * stride;
                QRgb *dst = reinterpret_cast<QRgb *>(image.scanLine(y));
                for (int x = 0; x < image.width(); ++x) {
                    const int a = src[4 * x + 3];
                    dst[x] = qRgba(qMin(qRed(dst[x]), a), qMin(qGreen(dst[x]), a),
                                   qMin(qBlue(dst[x]), a), a);
                }
            }
        }
    }
    result.image = std::move(image);
    return result;
}

MetafileBitmap decodePackedMetafileDib(const uchar *data, qint64 size, quint32 usage)
{
    DibHeader h;
    if (!data || size < 12 || !parseHeader(data, size, usage, &h))
        return {};
    const qint64 infoSize = h.headerSize + h.tableBytes;
    return decodeMetafileDib(data, infoSize, data + infoSize, size - infoSize, usage);
}

} // namespace qmt
