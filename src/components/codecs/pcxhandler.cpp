#include "components/codecs/pcxhandler.h"

#include "components/codecs/bytereader.h"

#include <QIODevice>

#include <cstring>

// Layout: ZSoft "PCX Technical Reference Manual", revision 5. Header, 128 bytes, little-endian:
//   0 manufacturer 0x0A, 1 version (0, 2, 3, 4, 5), 2 encoding (1 run-length, 0 raw),
//   3 bits per pixel per plane, 4 xmin, 6 ymin, 8 xmax, 10 ymax (u16, inclusive), 12/14 dpi,
//   16 EGA palette (16 x RGB), 64 reserved, 65 planes, 66 bytes per plane line (u16),
//   68 palette info, 70/72 screen size, 74 filler.
// Each scan line holds `planes` plane lines of `bytes per line` bytes; a run is a byte 0xC0 | n
// followed by the value, any other byte is itself. The 256-colour palette is 0x0C and 768 bytes
// at the end of the file.

namespace qmt {
namespace {

struct PcxHeader {
    quint8 manufacturer = 0;
    quint8 version = 0;
    quint8 encoding = 0;
    quint8 bits = 0;
    quint16 xmin = 0, ymin = 0, xmax = 0, ymax = 0;
    uchar egaPalette[48] = {};
    quint8 planes = 0;
    quint16 bytesPerLine = 0;

    int width() const { return int(xmax) - int(xmin) + 1; }
    int height() const { return int(ymax) - int(ymin) + 1; }
};

PcxHeader parseHeader(ByteReader &in)
{
    PcxHeader h;
    h.manufacturer = in.u8();
    h.version = in.u8();
    h.encoding = in.u8();
    h.bits = in.u8();
    h.xmin = in.u16le();
    h.ymin = in.u16le();
    h.xmax = in.u16le();
    h.ymax = in.u16le();
    in.skip(4);
    if (const uchar *p = in.block(48))
        memcpy(h.egaPalette, p, 48);
    in.u8();
    h.planes = in.u8();
    h.bytesPerLine = in.u16le();
    in.skip(128 - 68);
    return h;
}

// The reason the header is not one we read, or empty. `layoutOnly` checks just the fields that
// identify the format (for detection); the full check adds the sizes.
QString checkHeader(const PcxHeader &h, bool layoutOnly = false)
{
    if (h.manufacturer != 0x0A || h.version > 5 || h.version == 1 || h.encoding > 1)
        return QStringLiteral("This is not a PCX file.");
    const bool known = (h.planes == 1 && (h.bits == 1 || h.bits == 2 || h.bits == 4 || h.bits == 8))
                       || (h.bits == 1 && h.planes >= 2 && h.planes <= 4)
                       || (h.bits == 8 && (h.planes == 3 || h.planes == 4));
    if (!known)
        return QStringLiteral("Unsupported PCX layout: %1 bit in %2 planes.").arg(h.bits).arg(h.planes);
    if (layoutOnly)
        return {};
    if (h.xmax < h.xmin || h.ymax < h.ymin)
        return QStringLiteral("The PCX image has no pixels.");
    if (qint64(h.bytesPerLine) * 8 < qint64(h.width()) * h.bits)
        return QStringLiteral("The PCX line length %1 is too short for %2 pixels.")
            .arg(h.bytesPerLine)
            .arg(h.width());
    return {};
}

// The default CGA/EGA palette, for old files whose header palette is empty.
const QRgb kEgaDefault[16] = {0xff000000, 0xff0000aa, 0xff00aa00, 0xff00aaaa, 0xffaa0000, 0xffaa00aa,
                              0xffaa5500, 0xffaaaaaa, 0xff555555, 0xff5555ff, 0xff55ff55, 0xff55ffff,
                              0xffff5555, 0xffff55ff, 0xffffff55, 0xffffffff};

} // namespace

bool PcxHandler::canRead(QIODevice *device)
{
    const QByteArray head = peek(device, 128);
    if (head.size() < 128)
        return false;
    ByteReader in(head);
    const PcxHeader h = parseHeader(in);
    return checkHeader(h, true).isEmpty() && h.bytesPerLine > 0;
}

bool PcxHandler::read(QImage *image)
{
    const QByteArray data = readAllBounded(device(), &m_error);
    if (data.isEmpty())
        return false;
    return decode(data, image);
}

bool PcxHandler::decode(const QByteArray &data, QImage *image)
{
    ByteReader in(data);
    const PcxHeader h = parseHeader(in);
    if (!in.ok())
        return fail(QStringLiteral("The PCX header is cut short."));
    const QString bad = checkHeader(h);
    if (!bad.isEmpty())
        return fail(bad);

    const int width = h.width();
    const int height = h.height();
    const bool trueColour = h.bits == 8 && h.planes >= 3;
    const bool alpha = trueColour && h.planes == 4;
    QImage result = allocate(width, height,
                             trueColour ? (alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32)
                                        : QImage::Format_Indexed8,
                             &m_error);
    if (result.isNull())
        return false;
    result.fill(0);
    m_bitsPerPixel = h.bits * h.planes;

    // The palette: 256 colours at the end for 8 bit, the header's 16 otherwise, black and white
    // for 1 bit in one plane.
    QList<QRgb> palette;
    if (!trueColour) {
        const int colours = 1 << (h.bits * h.planes);
        if (h.bits == 8) {
            const qint64 at = data.size() - 769;
            if (at >= 128 && uchar(data.at(at)) == 0x0C) {
                const uchar *p = reinterpret_cast<const uchar *>(data.constData()) + at + 1;
                for (int i = 0; i < 256; ++i)
                    palette.append(qRgb(p[3 * i], p[3 * i + 1], p[3 * i + 2]));
            } else {
                for (int i = 0; i < 256; ++i)
                    palette.append(qRgb(i, i, i));
            }
        } else if (colours == 2) {
            palette = {qRgb(0, 0, 0), qRgb(255, 255, 255)};
        } else {
            bool empty = true;
            for (int i = 0; i < 48 && empty; ++i)
                empty = h.egaPalette[i] == 0;
            for (int i = 0; i < colours; ++i) {
                const uchar *p = h.egaPalette + 3 * i;
                palette.append(empty ? kEgaDefault[i] : qRgb(p[0], p[1], p[2]));
            }
        }
        result.setColorTable(palette);
    }

    const qint64 lineBytes = qint64(h.bytesPerLine) * h.planes;
    QByteArray lineBuffer(qsizetype(lineBytes), '\0');
    uchar *line = reinterpret_cast<uchar *>(lineBuffer.data());
    int runLeft = 0;
    uchar runValue = 0;
    int rowsDone = 0;

    for (int y = 0; y < height; ++y) {
        qint64 filled = 0;
        if (h.encoding == 0) {
            const uchar *src = in.block(lineBytes);
            if (!src)
                break;
            memcpy(line, src, size_t(lineBytes));
            filled = lineBytes;
        } else {
            // Runs may cross from one line to the next in files from some writers; a run never
            // writes past the line buffer.
            while (filled < lineBytes) {
                if (runLeft > 0) {
                    const qint64 count = qMin<qint64>(runLeft, lineBytes - filled);
                    memset(line + filled, runValue, size_t(count));
                    filled += count;
                    runLeft -= int(count);
                    continue;
                }
                const quint8 byte = in.u8();
                if (!in.ok())
                    break;
                if ((byte & 0xC0) == 0xC0) {
                    runLeft = byte & 0x3F;
                    runValue = in.u8();
                    if (!in.ok())
                        break;
                } else {
                    line[filled++] = byte;
                }
            }
        }
        if (filled < lineBytes)
            break;

        uchar *out = result.scanLine(y);
        if (trueColour) {
            QRgb *px = reinterpret_cast<QRgb *>(out);
            const uchar *r = line;
            const uchar *g = line + h.bytesPerLine;
            const uchar *b = line + 2 * qsizetype(h.bytesPerLine);
            const uchar *a = alpha ? line + 3 * qsizetype(h.bytesPerLine) : nullptr;
            for (int x = 0; x < width; ++x)
                px[x] = qRgba(r[x], g[x], b[x], a ? a[x] : 255);
        } else if (h.planes == 1) {
            const int perByte = 8 / h.bits;
            const int mask = (1 << h.bits) - 1;
            for (int x = 0; x < width; ++x) {
                const int shift = 8 - h.bits * (x % perByte + 1);
                out[x] = uchar((line[x / perByte] >> shift) & mask);
            }
        } else {
            // Planar: bit x of plane p is bit p of the pixel's index.
            for (int x = 0; x < width; ++x) {
                int index = 0;
                for (int p = 0; p < h.planes; ++p)
                    index |= ((line[qsizetype(p) * h.bytesPerLine + x / 8] >> (7 - x % 8)) & 1) << p;
                out[x] = uchar(index);
            }
        }
        ++rowsDone;
    }
    if (rowsDone == 0)
        return fail(QStringLiteral("The PCX file holds no pixel data."));
    *image = result;
    return true;
}

namespace {

// Run-length encodes one plane line: runs of 2 and more, and any byte of 0xC0 or above, go
// as a count byte and the value.
void encodeLine(const uchar *src, int length, QByteArray *out)
{
    for (int i = 0; i < length;) {
        const uchar value = src[i];
        int run = 1;
        while (i + run < length && run < 63 && src[i + run] == value)
            ++run;
        if (run > 1 || (value & 0xC0) == 0xC0) {
            out->append(char(0xC0 | run));
            out->append(char(value));
        } else {
            out->append(char(value));
        }
        i += run;
    }
}

} // namespace

bool PcxHandler::write(const QImage &source)
{
    QIODevice *out = device();
    if (!out || source.isNull())
        return fail(QStringLiteral("There is no image to save."));
    if (source.width() > 0xFFFF || source.height() > 0xFFFF)
        return fail(QStringLiteral("A PCX image can be at most 65536 pixels wide and high."));

    QImage image;
    int bits = 8;
    int planes = 3;
    if (source.format() == QImage::Format_Mono || source.format() == QImage::Format_MonoLSB) {
        image = source.convertToFormat(QImage::Format_Mono);
        bits = 1;
        planes = 1;
    } else if (source.format() == QImage::Format_Indexed8 || source.format() == QImage::Format_Grayscale8) {
        image = source.convertToFormat(QImage::Format_Indexed8);
        if (source.format() == QImage::Format_Grayscale8) {
            QList<QRgb> grey;
            for (int i = 0; i < 256; ++i)
                grey.append(qRgb(i, i, i));
            image.setColorTable(grey);
        }
        planes = 1;
    } else {
        image = source.convertToFormat(QImage::Format_RGB32);
    }

    const int width = image.width();
    const int height = image.height();
    int bytesPerLine = (width * bits + 7) / 8;
    bytesPerLine += bytesPerLine & 1; // lines have an even length

    QByteArray header(128, '\0');
    uchar *h = reinterpret_cast<uchar *>(header.data());
    const auto put16 = [h](int at, int value) {
        h[at] = uchar(value & 0xFF);
        h[at + 1] = uchar((value >> 8) & 0xFF);
    };
    h[0] = 0x0A;
    h[1] = 5;
    h[2] = 1;
    h[3] = uchar(bits);
    put16(8, width - 1);
    put16(10, height - 1);
    put16(12, 72);
    put16(14, 72);
    h[65] = uchar(planes);
    put16(66, bytesPerLine);
    put16(68, 1);
    if (bits == 1) {
        // Index 0 black, 1 white, as the mono image's colour table says.
        const QList<QRgb> table = image.colorTable();
        const bool zeroIsWhite = table.size() >= 2 && qGray(table.at(0)) > qGray(table.at(1));
        if (zeroIsWhite)
            image.invertPixels();
        h[16 + 3] = h[16 + 4] = h[16 + 5] = 255;
    }

    QByteArray body;
    body.reserve(qsizetype(bytesPerLine) * planes * height / 2 + 1024);
    QByteArray plane(bytesPerLine, '\0');
    uchar *p = reinterpret_cast<uchar *>(plane.data());
    for (int y = 0; y < height; ++y) {
        const uchar *src = image.constScanLine(y);
        if (planes == 1) {
            memset(p, 0, size_t(bytesPerLine));
            memcpy(p, src, size_t((width * bits + 7) / 8));
            encodeLine(p, bytesPerLine, &body);
        } else {
            const QRgb *px = reinterpret_cast<const QRgb *>(src);
            for (int c = 0; c < 3; ++c) {
                memset(p, 0, size_t(bytesPerLine));
                for (int x = 0; x < width; ++x)
                    p[x] = uchar(c == 0 ? qRed(px[x]) : c == 1 ? qGreen(px[x]) : qBlue(px[x]));
                encodeLine(p, bytesPerLine, &body);
            }
        }
    }
    if (bits == 8 && planes == 1) {
        body.append(char(0x0C));
        const QList<QRgb> table = image.colorTable();
        for (int i = 0; i < 256; ++i) {
            const QRgb c = i < table.size() ? table.at(i) : 0;
            body.append(char(qRed(c)));
            body.append(char(qGreen(c)));
            body.append(char(qBlue(c)));
        }
    }
    if (out->write(header) != header.size() || out->write(body) != body.size())
        return fail(QStringLiteral("The PCX file cannot be written."));
    return true;
}

Status PcxHandler::writePages(const QList<QImage> &pages, QIODevice *device)
{
    PcxHandler handler;
    handler.setDevice(device);
    if (!handler.write(pages.first()))
        return Status::fail(handler.errorString());
    return {};
}

} // namespace qmt
