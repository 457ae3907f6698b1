#include "components/codecs/bmphandler.h"

#include "components/codecs/bytereader.h"

#include <QIODevice>

#include <bit>
#include <cstring>

// Layout (little-endian), from Microsoft's BITMAPFILEHEADER / BITMAPINFOHEADER documentation:
//   File header, 14 bytes (optional in a .dib): "BM", file size u32, 2 x reserved u16, offset
//     of the pixels from the start of the file u32.
//   Info header: size u32 (12 OS/2 core; 16 or 64 OS/2 v2; 40, 52, 56, 108, 124 Windows),
//     width, height (negative: top-down), planes u16 = 1, bits u16, compression u32 (0 RGB,
//     1 RLE8, 2 RLE4, 3 bit fields, 6 bit fields with alpha), image size, x and y resolution,
//     colours used, colours important; headers from 52 bytes carry the R, G, B (and from 56 the
//     A) masks; a 40-byte header with bit fields is followed by the three masks.
//   Palette: 4 bytes an entry (3 in the core header), then the pixels, rows padded to 4 bytes.
// Limits: JPEG and PNG payloads (compression 4 and 5) and Huffman-1D OS/2 files are refused.

namespace qmt {
namespace {

enum Compression {
    CompRgb = 0,
    CompRle8 = 1,
    CompRle4 = 2,
    CompBitFields = 3,
    CompAlphaBitFields = 6
};

struct BmpInfo {
    quint32 headerSize = 0;
    qint64 width = 0;
    qint64 height = 0; // as stored: negative for top-down
    quint16 planes = 0;
    quint16 bits = 0;
    quint32 compression = 0;
    quint32 coloursUsed = 0;
    quint32 masks[4] = {};
};

bool knownHeaderSize(quint32 size)
{
    return size == 12 || size == 16 || size == 40 || size == 52 || size == 56 || size == 64 ||
           size == 108 || size == 124;
}

// Reads the info header at the reader's position; the reason it is not usable, or empty.
QString parseInfo(ByteReader &in, BmpInfo *info)
{
    const qint64 start = in.pos();
    info->headerSize = in.u32le();
    if (!knownHeaderSize(info->headerSize))
        return QStringLiteral("Unknown bitmap header size %1.").arg(info->headerSize);
    if (info->headerSize == 12) {
        info->width = in.u16le();
        info->height = qint16(in.u16le());
        info->planes = in.u16le();
        info->bits = in.u16le();
    } else {
        info->width = qint32(in.u32le());
        info->height = qint32(in.u32le());
        info->planes = in.u16le();
        info->bits = in.u16le();
        if (info->headerSize >= 20)
            info->compression = in.u32le();
        if (info->headerSize >= 36) {
            in.skip(12);
            info->coloursUsed = in.u32le();
        }
        if (info->headerSize >= 52 && info->headerSize != 64) {
            in.seek(start + 40);
            info->masks[0] = in.u32le();
            info->masks[1] = in.u32le();
            info->masks[2] = in.u32le();
            if (info->headerSize >= 56)
                info->masks[3] = in.u32le();
        }
    }
    if (!in.ok())
        return QStringLiteral("The bitmap header is cut short.");
    in.seek(start + info->headerSize);
    if (!in.ok())
        return QStringLiteral("The bitmap header is cut short.");
    if (info->headerSize == 16 || info->headerSize == 64) {
        // OS/2 version 2: compression 3 means Huffman 1D there, 4 means RLE24.
        if (info->compression > 2)
            return QStringLiteral("This OS/2 bitmap compression is not supported.");
    }
    if (info->planes != 1)
        return QStringLiteral("A bitmap must have one plane (not %1).").arg(info->planes);
    const quint16 b = info->bits;
    if (b != 1 && b != 4 && b != 8 && b != 16 && b != 24 && b != 32)
        return QStringLiteral("Bitmaps with %1 bits per pixel are not supported.").arg(b);
    switch (info->compression) {
    case CompRgb:
        break;
    case CompRle8:
        if (b != 8)
            return QStringLiteral("RLE8 needs 8 bits per pixel.");
        break;
    case CompRle4:
        if (b != 4)
            return QStringLiteral("RLE4 needs 4 bits per pixel.");
        break;
    case CompBitFields:
    case CompAlphaBitFields:
        if (b != 16 && b != 32)
            return QStringLiteral("Bit fields need 16 or 32 bits per pixel.");
        break;
    default:
        return QStringLiteral("Bitmap compression %1 is not supported.").arg(info->compression);
    }
    if (info->width <= 0 || info->height == 0 || info->height == qint64(INT_MIN))
        return QStringLiteral("The bitmap size %1 x %2 is not valid.")
            .arg(info->width)
            .arg(info->height);
    if (info->height < 0 && (info->compression == CompRle4 || info->compression == CompRle8))
        return QStringLiteral("A compressed bitmap cannot be top-down.");
    return {};
}

// One colour channel described by a mask: where it sits and how to scale it to 8 bits.
struct Channel {
    quint32 mask = 0;
    int shift = 0;
    quint32 max = 0;

    int bits = 0;

    explicit Channel(quint32 m) : mask(m)
    {
        if (mask) {
            shift = std::countr_zero(mask);
            max = mask >> shift;
            bits = std::popcount(max);
        }
    }
    // Scales a field of n bits to 8 by repeating its bits (5-bit 10110 -> 10110101), so that
    // the field's maximum gives 255 and its steps stay even.
    uint operator()(quint32 pixel) const
    {
        if (!max)
            return 0;
        const quint32 v = (pixel & mask) >> shift;
        if (bits >= 8)
            return uint(v >> (bits - 8));
        uint result = v << (8 - bits);
        for (int filled = bits; filled < 8; filled *= 2)
            result |= result >> filled;
        return result & 0xFF;
    }
};

bool masksValid(const quint32 *masks, int bits)
{
    const quint64 limit = bits == 32 ? 0xFFFFFFFFull : (1ull << bits) - 1;
    for (int i = 0; i < 4; ++i) {
        const quint32 m = masks[i];
        if (m == 0)
            continue;
        if (m > limit)
            return false;
        // A mask is one run of set bits.
        const quint32 shifted = m >> std::countr_zero(m);
        if ((shifted & (shifted + 1)) != 0)
            return false;
    }
    return masks[0] || masks[1] || masks[2];
}

} // namespace

bool BmpHandler::canRead(QIODevice *device)
{
    const QByteArray head = peek(device, 30);
    if (head.size() < 18 || !head.startsWith("BM"))
        return false;
    ByteReader in(head);
    in.skip(14);
    return knownHeaderSize(in.u32le());
}

bool BmpHandler::canReadHeaderless(QIODevice *device)
{
    // The largest info header (version 5) is 124 bytes.
    const QByteArray head = peek(device, 124);
    ByteReader in(head);
    BmpInfo info;
    if (head.size() < 16 || !parseInfo(in, &info).isEmpty())
        return false;
    return info.width <= kMaxImageSide && qAbs(info.height) <= kMaxImageSide;
}

bool BmpHandler::read(QImage *image)
{
    const QByteArray data = readAllBounded(device(), &m_error);
    if (data.isEmpty())
        return false;
    return decode(data, image);
}

bool BmpHandler::decode(const QByteArray &data, QImage *image)
{
    ByteReader in(data);
    const bool fileHeader = data.startsWith("BM");
    qint64 pixelOffset = -1;
    if (fileHeader) {
        in.skip(10);
        pixelOffset = in.u32le();
    }
    BmpInfo info;
    const QString bad = parseInfo(in, &info);
    if (!bad.isEmpty())
        return fail(bad);

    const bool bitFields =
        info.compression == CompBitFields || info.compression == CompAlphaBitFields;
    if (bitFields && info.headerSize == 40) {
        info.masks[0] = in.u32le();
        info.masks[1] = in.u32le();
        info.masks[2] = in.u32le();
        if (info.compression == CompAlphaBitFields)
            info.masks[3] = in.u32le();
        if (!in.ok())
            return fail(QStringLiteral("The bitmap's colour masks are cut short."));
    }
    if (!bitFields) {
        // Plain 16 and 32 bit: 5-5-5 and 8-8-8 without alpha.
        if (info.bits == 16) {
            info.masks[0] = 0x7C00;
            info.masks[1] = 0x03E0;
            info.masks[2] = 0x001F;
            info.masks[3] = 0;
        } else if (info.bits == 32) {
            info.masks[0] = 0x00FF0000;
            info.masks[1] = 0x0000FF00;
            info.masks[2] = 0x000000FF;
            info.masks[3] = 0;
        }
    }
    if ((info.bits == 16 || info.bits == 32) && !masksValid(info.masks, info.bits))
        return fail(QStringLiteral("The bitmap's colour masks are not valid."));

    // The palette.
    QList<QRgb> palette;
    if (info.bits <= 8) {
        const quint32 maxColours = 1u << info.bits;
        const quint32 colours = info.coloursUsed == 0 ? maxColours : info.coloursUsed;
        if (colours > maxColours)
            return fail(QStringLiteral("The bitmap claims %1 palette colours for %2 bits.")
                            .arg(colours)
                            .arg(info.bits));
        const int entryBytes = info.headerSize == 12 ? 3 : 4;
        const uchar *entries = in.block(qint64(colours) * entryBytes);
        if (!entries)
            return fail(QStringLiteral("The bitmap palette is cut short."));
        for (quint32 i = 0; i < colours; ++i) {
            const uchar *p = entries + qint64(i) * entryBytes;
            palette.append(qRgb(p[2], p[1], p[0]));
        }
        // Indexes beyond the palette show as black rather than reading outside it.
        while (palette.size() < qsizetype(maxColours))
            palette.append(qRgb(0, 0, 0));
    }

    if (pixelOffset < 0)
        pixelOffset = in.pos();
    if (fileHeader && pixelOffset < 14 + qint64(info.headerSize))
        return fail(QStringLiteral("The bitmap's pixel offset %1 lies inside its header.")
                        .arg(pixelOffset));
    if (pixelOffset >= data.size())
        return fail(
            QStringLiteral(
                "The bitmap's pixel data offset %1 lies past the end of the file (%2 bytes).")
                .arg(pixelOffset)
                .arg(data.size()));

    const qint64 width = info.width;
    const bool topDown = info.height < 0;
    const qint64 height = qAbs(info.height);
    const bool indexed = info.bits <= 8;
    const bool alpha = !indexed && info.masks[3] != 0;
    QImage result = allocate(width, height,
                             indexed ? QImage::Format_Indexed8
                             : alpha ? QImage::Format_ARGB32
                                     : QImage::Format_RGB32,
                             &m_error);
    if (result.isNull())
        return false;
    result.fill(0);
    if (indexed)
        result.setColorTable(palette);
    m_bitsPerPixel = info.bits;

    in.seek(pixelOffset);
    const auto rowOf = [&](qint64 stored) { return int(topDown ? stored : height - 1 - stored); };

    if (info.compression == CompRle8 || info.compression == CompRle4) {
        const bool four = info.compression == CompRle4;
        qint64 x = 0;
        qint64 y = 0; // stored row, bottom first
        const auto put = [&](uint index) {
            if (x < width && y < height)
                result.scanLine(rowOf(y))[x] = uchar(index);
            ++x;
        };
        while (y < height) {
            const quint8 count = in.u8();
            const quint8 value = in.u8();
            if (!in.ok())
                break;
            if (count > 0) {
                for (int i = 0; i < count; ++i)
                    put(four ? ((i & 1) ? value & 0x0F : value >> 4) : value);
                continue;
            }
            if (value == 0) { // end of line
                x = 0;
                ++y;
            } else if (value == 1) { // end of bitmap
                break;
            } else if (value == 2) { // move right and up
                x += in.u8();
                y += in.u8();
                if (!in.ok())
                    break;
            } else { // `value` literal pixels, padded to a 16-bit boundary
                const qint64 bytes = four ? (value + 1) / 2 : value;
                const uchar *src = in.block(bytes);
                if (!src)
                    break;
                for (int i = 0; i < value; ++i)
                    put(four ? ((i & 1) ? src[i / 2] & 0x0F : src[i / 2] >> 4) : src[i]);
                if (bytes & 1)
                    in.skip(1);
            }
        }
    } else {
        const qint64 stride = ((width * info.bits + 31) / 32) * 4;
        const Channel red(info.masks[0]), green(info.masks[1]), blue(info.masks[2]),
            alphaChannel(info.masks[3]);
        for (qint64 y = 0; y < height; ++y) {
            const qint64 available = qMin(stride, in.remaining());
            if (available < stride)
                break; // a file cut short keeps the rows that were decoded
            const uchar *src = in.block(stride);
            uchar *out = result.scanLine(rowOf(y));
            switch (info.bits) {
            case 1:
            case 4:
            case 8: {
                const int perByte = 8 / info.bits;
                const int mask = (1 << info.bits) - 1;
                for (qint64 x = 0; x < width; ++x) {
                    const int shift = 8 - info.bits * int(x % perByte + 1);
                    out[x] = uchar((src[x / perByte] >> shift) & mask);
                }
                break;
            }
            case 24: {
                QRgb *px = reinterpret_cast<QRgb *>(out);
                for (qint64 x = 0; x < width; ++x)
                    px[x] = qRgb(src[3 * x + 2], src[3 * x + 1], src[3 * x]);
                break;
            }
            default: {
                QRgb *px = reinterpret_cast<QRgb *>(out);
                const int bytes = info.bits / 8;
                for (qint64 x = 0; x < width; ++x) {
                    const uchar *p = src + x * bytes;
                    const quint32 v = bytes == 2 ? quint32(p[0] | p[1] << 8)
                                                 : quint32(p[0]) | quint32(p[1]) << 8 |
                                                       quint32(p[2]) << 16 | quint32(p[3]) << 24;
                    px[x] = qRgba(red(v), green(v), blue(v), alpha ? alphaChannel(v) : 255);
                }
                break;
            }
            }
        }
    }
    *image = result;
    return true;
}

} // namespace qmt
