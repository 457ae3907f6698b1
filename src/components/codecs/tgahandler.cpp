#include "components/codecs/tgahandler.h"

#include "components/codecs/bytereader.h"

#include <QIODevice>

#include <cstring>

// Layout: Truevision TGA File Format Specification 2.0 (1989).
// Header, 18 bytes, little-endian:
//   0 id length, 1 colour-map type (0/1), 2 image type (1 mapped, 2 true colour, 3 grey;
//   +8 run-length), 3 first map entry u16, 5 map length u16, 7 map entry bits, 8 x origin u16,
//   10 y origin u16, 12 width u16, 14 height u16, 16 pixel depth, 17 descriptor (bits 0-3
//   attribute bits, bit 4 right-to-left, bit 5 top-to-bottom, bits 6-7 interleaving, unused).
// Then the id field, the colour map, and the pixels.
// Limits: interleaved files (descriptor bits 6-7) are refused; so are 16-bit grey files.

namespace qmt {
namespace {

struct TgaHeader {
    quint8 idLength = 0;
    quint8 mapType = 0;
    quint8 imageType = 0;
    quint16 mapFirst = 0;
    quint16 mapLength = 0;
    quint8 mapBits = 0;
    quint16 width = 0;
    quint16 height = 0;
    quint8 depth = 0;
    quint8 descriptor = 0;

    int baseType() const { return imageType & 7; }
    bool runLength() const { return imageType & 8; }
    qint64 mapBytes() const { return mapType ? qint64(mapLength) * ((mapBits + 7) / 8) : 0; }
};

TgaHeader parseHeader(ByteReader &in)
{
    TgaHeader h;
    h.idLength = in.u8();
    h.mapType = in.u8();
    h.imageType = in.u8();
    h.mapFirst = in.u16le();
    h.mapLength = in.u16le();
    h.mapBits = in.u8();
    in.u16le();
    in.u16le();
    h.width = in.u16le();
    h.height = in.u16le();
    h.depth = in.u8();
    h.descriptor = in.u8();
    return h;
}

// The reason a header is not a TGA file we read, or empty when it is.
QString checkHeader(const TgaHeader &h)
{
    const int type = h.baseType();
    if ((h.imageType & ~0x0B) != 0 || type < 1 || type > 3)
        return QStringLiteral("Unknown TGA image type %1.").arg(h.imageType);
    if (h.mapType > 1)
        return QStringLiteral("Unknown TGA colour-map type %1.").arg(h.mapType);
    if (h.mapType == 1 && h.mapBits != 15 && h.mapBits != 16 && h.mapBits != 24 && h.mapBits != 32)
        return QStringLiteral("Unsupported TGA colour-map entry size %1.").arg(h.mapBits);
    if (type == 1 && (h.mapType != 1 || h.mapLength == 0 || (h.depth != 8 && h.depth != 16)))
        return QStringLiteral("The TGA colour map is missing or does not fit the pixel depth.");
    if (type == 2 && h.depth != 15 && h.depth != 16 && h.depth != 24 && h.depth != 32)
        return QStringLiteral("Unsupported TGA pixel depth %1.").arg(h.depth);
    if (type == 3 && h.depth != 8)
        return QStringLiteral("Unsupported TGA grey depth %1.").arg(h.depth);
    if (h.descriptor & 0xC0)
        return QStringLiteral("Interleaved TGA files are not supported.");
    if (h.width == 0 || h.height == 0)
        return QStringLiteral("The TGA image has no pixels.");
    return {};
}

inline quint8 expand5(uint v) { return quint8((v << 3) | (v >> 2)); }

// One pixel of `bytes` bytes (little-endian) as ARGB.
inline QRgb colourOf(const uchar *p, int bits, bool useAlpha)
{
    switch (bits) {
    case 15:
    case 16: {
        const uint v = uint(p[0]) | (uint(p[1]) << 8);
        const int alpha = (useAlpha && bits == 16) ? ((v & 0x8000) ? 255 : 0) : 255;
        return qRgba(expand5((v >> 10) & 31), expand5((v >> 5) & 31), expand5(v & 31), alpha);
    }
    case 24:
        return qRgb(p[2], p[1], p[0]);
    default:
        return qRgba(p[2], p[1], p[0], useAlpha ? p[3] : 255);
    }
}

} // namespace

bool TgaHandler::canRead(QIODevice *device)
{
    const QByteArray head = peek(device, 18);
    if (head.size() < 18)
        return false;
    ByteReader in(head);
    const TgaHeader h = parseHeader(in);
    if (!checkHeader(h).isEmpty())
        return false;
    // A run-length file or one with an attribute count that matches its depth is typical;
    // the x origin's high bits are zero in nearly every real file. Keep the test conservative:
    // the attribute bits can never exceed the depth.
    const int attributeBits = h.descriptor & 0x0F;
    if ((h.depth == 24 || h.depth == 8) && attributeBits > 0 && h.baseType() != 1)
        return false;
    if (h.depth == 32 && attributeBits != 0 && attributeBits != 8)
        return false;
    if (!device->isSequential()) {
        const qint64 minimum = 18 + qint64(h.idLength) + h.mapBytes() + 1;
        if (device->size() < minimum)
            return false;
    }
    return true;
}

bool TgaHandler::read(QImage *image)
{
    const QByteArray data = readAllBounded(device(), &m_error);
    if (data.isEmpty())
        return false;
    return decode(data, image);
}

bool TgaHandler::decode(const QByteArray &data, QImage *image)
{
    ByteReader in(data);
    const TgaHeader h = parseHeader(in);
    if (!in.ok())
        return fail(QStringLiteral("The TGA header is cut short."));
    const QString bad = checkHeader(h);
    if (!bad.isEmpty())
        return fail(bad);
    if (!in.skip(h.idLength))
        return fail(QStringLiteral("The TGA file is cut short in its id field."));

    const int attributeBits = h.descriptor & 0x0F;
    const int type = h.baseType();
    const int pixelBits = type == 1 ? h.mapBits : h.depth;
    const bool alpha = (pixelBits == 32 && attributeBits > 0) || (pixelBits == 16 && attributeBits > 0);

    // The colour map, whether the image uses it or not, must be inside the file.
    QList<QRgb> map;
    if (h.mapType == 1) {
        const int entryBytes = (h.mapBits + 7) / 8;
        const uchar *entries = in.block(h.mapBytes());
        if (!entries)
            return fail(QStringLiteral("The TGA colour map is cut short."));
        if (type == 1) {
            map.resize(h.mapLength);
            for (int i = 0; i < h.mapLength; ++i)
                map[i] = colourOf(entries + qint64(i) * entryBytes, h.mapBits, alpha);
        }
    }

    const QImage::Format format = type == 3 ? QImage::Format_Grayscale8
                                  : alpha   ? QImage::Format_ARGB32
                                            : QImage::Format_RGB32;
    QImage result = allocate(h.width, h.height, format, &m_error);
    if (result.isNull())
        return false;
    result.fill(0);
    m_bitsPerPixel = h.depth == 15 ? 16 : h.depth;

    const int bytesPerPixel = (h.depth + 7) / 8;
    const int width = h.width;
    const int height = h.height;
    const bool topDown = h.descriptor & 0x20;
    const bool rightToLeft = h.descriptor & 0x10;

    // Pixels are decoded into one stored row at a time, then placed.
    QByteArray rowBuffer(qsizetype(width) * bytesPerPixel, '\0');
    uchar *row = reinterpret_cast<uchar *>(rowBuffer.data());
    int runLeft = 0;        // pixels still to come from the current packet
    bool runRepeats = false;
    uchar runPixel[4] = {};
    bool truncated = false;
    int rowsDone = 0;

    for (int y = 0; y < height && !truncated; ++y) {
        if (!h.runLength()) {
            const uchar *src = in.block(qint64(width) * bytesPerPixel);
            if (!src) {
                truncated = true;
                break;
            }
            memcpy(row, src, size_t(width) * size_t(bytesPerPixel));
        } else {
            for (int x = 0; x < width;) {
                if (runLeft == 0) {
                    const quint8 packet = in.u8();
                    if (!in.ok()) {
                        truncated = true;
                        break;
                    }
                    runLeft = (packet & 0x7F) + 1;
                    runRepeats = packet & 0x80;
                    if (runRepeats) {
                        const uchar *src = in.block(bytesPerPixel);
                        if (!src) {
                            truncated = true;
                            break;
                        }
                        memcpy(runPixel, src, size_t(bytesPerPixel));
                    }
                }
                // A packet may continue on the next row; it never writes past the image.
                const int count = qMin(runLeft, width - x);
                if (runRepeats) {
                    for (int i = 0; i < count; ++i)
                        memcpy(row + qsizetype(x + i) * bytesPerPixel, runPixel, size_t(bytesPerPixel));
                } else {
                    const uchar *src = in.block(qint64(count) * bytesPerPixel);
                    if (!src) {
                        truncated = true;
                        break;
                    }
                    memcpy(row + qsizetype(x) * bytesPerPixel, src, size_t(count) * size_t(bytesPerPixel));
                }
                x += count;
                runLeft -= count;
            }
            if (truncated)
                break;
        }

        const int targetY = topDown ? y : height - 1 - y;
        uchar *line = result.scanLine(targetY);
        for (int x = 0; x < width; ++x) {
            const int targetX = rightToLeft ? width - 1 - x : x;
            const uchar *p = row + qsizetype(x) * bytesPerPixel;
            if (type == 3) {
                line[targetX] = p[0];
                continue;
            }
            QRgb colour;
            if (type == 1) {
                const int index = (h.depth == 16 ? (p[0] | (p[1] << 8)) : p[0]) - h.mapFirst;
                colour = index >= 0 && index < map.size() ? map.at(index) : qRgba(0, 0, 0, 255);
            } else {
                colour = colourOf(p, h.depth, alpha);
            }
            reinterpret_cast<QRgb *>(line)[targetX] = colour;
        }
        ++rowsDone;
    }
    if (rowsDone == 0)
        return fail(QStringLiteral("The TGA file holds no pixel data."));
    // A file cut short keeps the rows that were decoded.
    *image = result;
    return true;
}

bool TgaHandler::write(const QImage &source)
{
    QIODevice *out = device();
    if (!out || source.isNull())
        return fail(QStringLiteral("There is no image to save."));
    const bool alpha = source.hasAlphaChannel();
    const QImage image = source.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.width() > 0xFFFF || image.height() > 0xFFFF)
        return fail(QStringLiteral("A TGA image can be at most 65535 pixels wide and high."));

    uchar header[18] = {};
    header[2] = 2; // uncompressed true colour
    header[12] = uchar(image.width() & 0xFF);
    header[13] = uchar(image.width() >> 8);
    header[14] = uchar(image.height() & 0xFF);
    header[15] = uchar(image.height() >> 8);
    header[16] = alpha ? 32 : 24;
    header[17] = alpha ? 8 : 0; // bottom-left origin: the layout every reader handles
    if (out->write(reinterpret_cast<const char *>(header), 18) != 18)
        return fail(QStringLiteral("The TGA file cannot be written."));

    const int bytesPerPixel = alpha ? 4 : 3;
    QByteArray row(qsizetype(image.width()) * bytesPerPixel, '\0');
    for (int y = image.height() - 1; y >= 0; --y) {
        const QRgb *src = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        uchar *dst = reinterpret_cast<uchar *>(row.data());
        for (int x = 0; x < image.width(); ++x) {
            *dst++ = uchar(qBlue(src[x]));
            *dst++ = uchar(qGreen(src[x]));
            *dst++ = uchar(qRed(src[x]));
            if (alpha)
                *dst++ = uchar(qAlpha(src[x]));
        }
        if (out->write(row) != row.size())
            return fail(QStringLiteral("The TGA file cannot be written."));
    }
    // The version 2 footer (no extension or developer area) marks the file as a TGA.
    static const char footer[26] = "\0\0\0\0\0\0\0\0TRUEVISION-XFILE.";
    if (out->write(footer, 26) != 26)
        return fail(QStringLiteral("The TGA file cannot be written."));
    return true;
}

Status TgaHandler::writePages(const QList<QImage> &pages, QIODevice *device)
{
    TgaHandler handler;
    handler.setDevice(device);
    if (!handler.write(pages.first()))
        return Status::fail(handler.errorString());
    return {};
}

} // namespace qmt
