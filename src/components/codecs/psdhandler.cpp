#include "components/codecs/psdhandler.h"

#include "components/codecs/bytereader.h"

#include <QIODevice>

#include <cstring>

// Layout: Adobe "Photoshop File Formats Specification" (big-endian throughout).
//   Header, 26 bytes: "8BPS", version u16 (1 PSD, 2 PSB), 6 reserved, channels u16 (1..56),
//     height u32, width u32, depth u16 (1, 8, 16, 32), colour mode u16
//     (0 bitmap, 1 grey, 2 indexed, 3 RGB, 4 CMYK, 7 multichannel, 8 duotone, 9 Lab).
//   Colour mode data: u32 length + data (indexed: 768 bytes, 256 R then G then B).
//   Image resources: u32 length + data.
//   Layer and mask information: u32 length (u64 in PSB) + data.
//   Image data: compression u16 (0 raw, 1 PackBits, 2/3 zip), then for PackBits a table of
//     channels x height row lengths (u16, u32 in PSB) and the rows; channels are planar.
// Limits: zip-compressed image data, 32-bit and Lab documents are refused with a reason.

namespace qmt {
namespace {

enum PsdMode { Bitmap = 0, Grey = 1, Indexed = 2, Rgb = 3, Cmyk = 4, Multichannel = 7, Duotone = 8 };

struct PsdHeader {
    quint16 version = 0;
    quint16 channels = 0;
    quint32 height = 0;
    quint32 width = 0;
    quint16 depth = 0;
    quint16 mode = 0;
};

PsdHeader parseHeader(ByteReader &in, bool *signature)
{
    PsdHeader h;
    *signature = in.u32be() == 0x38425053; // "8BPS"
    h.version = in.u16be();
    in.skip(6);
    h.channels = in.u16be();
    h.height = in.u32be();
    h.width = in.u32be();
    h.depth = in.u16be();
    h.mode = in.u16be();
    return h;
}

QString checkHeader(const PsdHeader &h)
{
    if (h.version != 1 && h.version != 2)
        return QStringLiteral("Unknown PSD version %1.").arg(h.version);
    if (h.channels < 1 || h.channels > 56)
        return QStringLiteral("The PSD channel count %1 is not valid.").arg(h.channels);
    const quint32 maxSide = h.version == 1 ? 30000 : 300000;
    if (h.width == 0 || h.height == 0 || h.width > maxSide || h.height > maxSide)
        return QStringLiteral("The PSD image size %1 x %2 is not valid.").arg(h.width).arg(h.height);
    switch (h.mode) {
    case Bitmap:
        if (h.depth != 1)
            return QStringLiteral("A PSD bitmap must have 1 bit per pixel.");
        return {};
    case Grey:
    case Duotone:
    case Multichannel:
    case Indexed:
    case Rgb:
    case Cmyk:
        break;
    default:
        return QStringLiteral("PSD colour mode %1 is not supported.").arg(h.mode);
    }
    if (h.mode == Indexed && h.depth != 8)
        return QStringLiteral("An indexed PSD must have 8 bits per pixel.");
    if (h.depth != 8 && h.depth != 16)
        return QStringLiteral("PSD images with %1 bits per channel are not supported.").arg(h.depth);
    const int needed = h.mode == Rgb ? 3 : h.mode == Cmyk ? 4 : 1;
    if (h.channels < needed)
        return QStringLiteral("The PSD image has too few channels (%1).").arg(h.channels);
    return {};
}

// Unpacks one PackBits row of `srcLength` bytes into `dst` of `dstLength` bytes. Returns false
// when the data is damaged; a run never writes past the row.
bool unpackBits(const uchar *src, qint64 srcLength, uchar *dst, qint64 dstLength)
{
    qint64 in = 0;
    qint64 out = 0;
    while (out < dstLength && in < srcLength) {
        const int n = qint8(src[in++]);
        if (n >= 0) {
            const qint64 count = n + 1;
            if (in + count > srcLength || out + count > dstLength)
                return false;
            memcpy(dst + out, src + in, size_t(count));
            in += count;
            out += count;
        } else if (n != -128) {
            const qint64 count = 1 - n;
            if (in >= srcLength || out + count > dstLength)
                return false;
            memset(dst + out, src[in++], size_t(count));
            out += count;
        }
    }
    return out == dstLength;
}

} // namespace

bool PsdHandler::canRead(QIODevice *device)
{
    const QByteArray head = peek(device, 26);
    if (head.size() < 26)
        return false;
    ByteReader in(head);
    bool signature = false;
    const PsdHeader h = parseHeader(in, &signature);
    return signature && (h.version == 1 || h.version == 2);
}

bool PsdHandler::read(QImage *image)
{
    const QByteArray data = readAllBounded(device(), &m_error);
    if (data.isEmpty())
        return false;
    return decode(data, image);
}

bool PsdHandler::decode(const QByteArray &data, QImage *image)
{
    ByteReader in(data);
    bool signature = false;
    const PsdHeader h = parseHeader(in, &signature);
    if (!in.ok() || !signature)
        return fail(QStringLiteral("This is not a Photoshop file."));
    const QString bad = checkHeader(h);
    if (!bad.isEmpty())
        return fail(bad);
    if (!sizeAllowed(h.width, h.height, &m_error))
        return false;

    // Colour mode data: the palette of an indexed image.
    const quint32 modeLength = in.u32be();
    const uchar *modeData = in.block(modeLength);
    if (!modeData)
        return fail(QStringLiteral("The PSD colour data is cut short."));
    QList<QRgb> palette;
    if (h.mode == Indexed) {
        if (modeLength < 768)
            return fail(QStringLiteral("The indexed PSD has no palette."));
        for (int i = 0; i < 256; ++i)
            palette.append(qRgb(modeData[i], modeData[256 + i], modeData[512 + i]));
    }
    // Image resources, then layers and masks: the merged image follows them.
    const quint32 resourcesLength = in.u32be();
    if (!in.skip(resourcesLength))
        return fail(QStringLiteral("The PSD image resources are cut short."));
    const quint64 layersLength = h.version == 2 ? in.u64be() : in.u32be();
    if (!in.ok() || layersLength > quint64(in.remaining()))
        return fail(QStringLiteral("The PSD layer section is cut short."));
    const qint64 layersStart = in.pos();
    if (!in.seek(layersStart + qint64(layersLength)))
        return fail(QStringLiteral("The PSD layer section is cut short."));

    const quint16 compression = in.u16be();
    if (!in.ok())
        return fail(QStringLiteral("The PSD file has no merged image."));
    if (compression > 1)
        return fail(QStringLiteral("PSD compression %1 is not supported.").arg(compression));

    const qint64 width = h.width;
    const qint64 height = h.height;
    const int bytesPerSample = h.depth == 16 ? 2 : 1;
    const qint64 rowBytes = h.depth == 1 ? (width + 7) / 8 : width * bytesPerSample;
    // Only the channels that make the picture are decoded: colour plus one alpha channel.
    const int colourChannels = h.mode == Rgb ? 3 : h.mode == Cmyk ? 4 : 1;
    const bool hasAlpha = h.mode != Bitmap && h.mode != Indexed && h.channels > colourChannels;
    const int used = colourChannels + (hasAlpha ? 1 : 0);

    // Planar channel data, one row at a time per channel.
    const qint64 planeBytes = rowBytes * height;
    if (planeBytes * used > (qint64(1) << 34))
        return fail(QStringLiteral("The PSD image is too large."));
    QByteArray planes;
    planes.resize(qsizetype(planeBytes * used));
    if (planes.size() != planeBytes * used)
        return fail(QStringLiteral("There is not enough memory for the PSD image."));
    planes.fill('\0');
    uchar *planeData = reinterpret_cast<uchar *>(planes.data());

    bool truncated = false;
    if (compression == 0) {
        for (int c = 0; c < used && !truncated; ++c) {
            const qint64 available = qMin(planeBytes, in.remaining());
            const uchar *src = in.block(available);
            memcpy(planeData + c * planeBytes, src, size_t(available));
            truncated = available < planeBytes;
        }
    } else {
        const int countBytes = h.version == 2 ? 4 : 2;
        const qint64 rows = qint64(h.channels) * height;
        const uchar *table = in.block(rows * countBytes);
        if (!table)
            return fail(QStringLiteral("The PSD row table is cut short."));
        for (qint64 r = 0; r < qint64(used) * height; ++r) {
            const uchar *entry = table + r * countBytes;
            const qint64 length = countBytes == 2 ? qint64((entry[0] << 8) | entry[1])
                                                  : qint64(quint32(entry[0]) << 24 | entry[1] << 16
                                                           | entry[2] << 8 | entry[3]);
            const qint64 available = qMin(length, in.remaining());
            const uchar *src = in.block(available);
            if (available < length || !unpackBits(src, available, planeData + r * rowBytes, rowBytes)) {
                truncated = true;
                break;
            }
        }
    }
    if (truncated && in.atEnd() == false)
        return fail(QStringLiteral("The PSD image data is damaged."));

    // Samples as 8 bit.
    const auto sample = [&](int channel, qint64 x, qint64 y) -> uint {
        const uchar *p = planeData + channel * planeBytes + y * rowBytes + x * bytesPerSample;
        return bytesPerSample == 1 ? p[0] : ((uint(p[0]) << 8 | p[1]) + 128) / 257;
    };

    QImage result = allocate(width, height,
                             hasAlpha ? QImage::Format_ARGB32 : QImage::Format_RGB32, &m_error);
    if (result.isNull())
        return false;
    m_bitsPerPixel = h.depth * (h.mode == Bitmap || h.mode == Indexed ? 1 : used);
    for (qint64 y = 0; y < height; ++y) {
        QRgb *out = reinterpret_cast<QRgb *>(result.scanLine(int(y)));
        for (qint64 x = 0; x < width; ++x) {
            QRgb colour;
            switch (h.mode) {
            case Bitmap: {
                const bool black = (planeData[y * rowBytes + x / 8] >> (7 - x % 8)) & 1;
                colour = black ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
                break;
            }
            case Indexed:
                colour = palette.at(planeData[y * rowBytes + x]);
                break;
            case Rgb:
                colour = qRgb(sample(0, x, y), sample(1, x, y), sample(2, x, y));
                break;
            case Cmyk: {
                // Stored inverted: 255 is no ink.
                const uint k = sample(3, x, y);
                colour = qRgb(sample(0, x, y) * k / 255, sample(1, x, y) * k / 255,
                              sample(2, x, y) * k / 255);
                break;
            }
            default: {
                const uint g = sample(0, x, y);
                colour = qRgb(g, g, g);
                break;
            }
            }
            if (hasAlpha)
                colour = (colour & 0x00FFFFFF) | (sample(colourChannels, x, y) << 24);
            out[x] = colour;
        }
    }
    *image = result;
    return true;
}

namespace {

// PackBits: literal runs of up to 128 bytes, repeats of 2 to 128.
void packBits(const uchar *src, int length, QByteArray *out)
{
    int i = 0;
    while (i < length) {
        int run = 1;
        while (i + run < length && run < 128 && src[i + run] == src[i])
            ++run;
        if (run >= 2) {
            out->append(char(1 - run));
            out->append(char(src[i]));
            i += run;
            continue;
        }
        int literal = 1;
        while (i + literal < length && literal < 128
               && !(i + literal + 1 < length && src[i + literal] == src[i + literal + 1]))
            ++literal;
        out->append(char(literal - 1));
        out->append(reinterpret_cast<const char *>(src + i), literal);
        i += literal;
    }
}

void put16(QByteArray *out, quint32 v)
{
    out->append(char((v >> 8) & 0xFF));
    out->append(char(v & 0xFF));
}

void put32(QByteArray *out, quint32 v)
{
    put16(out, v >> 16);
    put16(out, v & 0xFFFF);
}

} // namespace

bool PsdHandler::write(const QImage &source)
{
    QIODevice *out = device();
    if (!out || source.isNull())
        return fail(QStringLiteral("There is no image to save."));
    if (source.width() > 30000 || source.height() > 30000)
        return fail(QStringLiteral("A PSD image can be at most 30000 pixels wide and high."));
    const bool alpha = source.hasAlphaChannel();
    const QImage image = source.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    const int width = image.width();
    const int height = image.height();
    const int channels = alpha ? 4 : 3;

    // Each channel as PackBits rows: the row lengths, then the rows.
    QList<QByteArray> channelCounts(channels);
    QList<QByteArray> channelRows(channels);
    QByteArray plane(width, '\0');
    uchar *p = reinterpret_cast<uchar *>(plane.data());
    for (int c = 0; c < channels; ++c) {
        for (int y = 0; y < height; ++y) {
            const QRgb *px = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            for (int x = 0; x < width; ++x) {
                const QRgb v = px[x];
                p[x] = uchar(c == 0 ? qRed(v) : c == 1 ? qGreen(v) : c == 2 ? qBlue(v) : qAlpha(v));
            }
            const qsizetype before = channelRows[c].size();
            packBits(p, width, &channelRows[c]);
            put16(&channelCounts[c], quint32(channelRows[c].size() - before));
        }
    }

    QByteArray header;
    header.append("8BPS", 4);
    put16(&header, 1);
    header.append(6, '\0');
    put16(&header, quint32(channels));
    put32(&header, quint32(height));
    put32(&header, quint32(width));
    put16(&header, 8);
    put16(&header, Rgb);
    put32(&header, 0); // colour mode data
    put32(&header, 0); // image resources

    // Without layers a fourth channel is only a saved selection to other programs; transparency
    // needs one layer that holds the picture with its alpha channel (id -1).
    QByteArray layers;
    if (alpha) {
        QByteArray info;
        // One layer; the negative count says the merged image's first extra channel is its alpha.
        put16(&info, quint32(quint16(qint16(-1))));
        put32(&info, 0);
        put32(&info, 0);
        put32(&info, quint32(height));
        put32(&info, quint32(width));
        put16(&info, quint32(channels));
        const int ids[4] = {-1, 0, 1, 2};
        const int sources[4] = {3, 0, 1, 2};
        for (int i = 0; i < 4; ++i) {
            put16(&info, quint32(quint16(qint16(ids[i]))));
            const int c = sources[i];
            put32(&info, quint32(2 + channelCounts[c].size() + channelRows[c].size()));
        }
        info.append("8BIMnorm", 8);
        info.append(char(255)); // opacity
        info.append(char(0));   // clipping
        info.append(char(0));   // flags
        info.append(char(0));   // filler
        put32(&info, 12);       // extra data: no mask, no blending ranges, empty name
        put32(&info, 0);
        put32(&info, 0);
        info.append(4, '\0');
        for (int i = 0; i < 4; ++i) {
            const int c = sources[i];
            put16(&info, 1);
            info.append(channelCounts[c]);
            info.append(channelRows[c]);
        }
        if (info.size() & 1)
            info.append('\0');
        put32(&layers, quint32(4 + info.size() + 4));
        put32(&layers, quint32(info.size()));
        layers.append(info);
        put32(&layers, 0); // global layer mask
    } else {
        put32(&layers, 0);
    }
    header.append(layers);
    put16(&header, 1); // the merged image, PackBits

    QByteArray counts;
    QByteArray rows;
    for (int c = 0; c < channels; ++c) {
        counts.append(channelCounts[c]);
        rows.append(channelRows[c]);
    }
    if (out->write(header) != header.size() || out->write(counts) != counts.size()
        || out->write(rows) != rows.size())
        return fail(QStringLiteral("The PSD file cannot be written."));
    return true;
}

Status PsdHandler::writePages(const QList<QImage> &pages, QIODevice *device)
{
    PsdHandler handler;
    handler.setDevice(device);
    if (!handler.write(pages.first()))
        return Status::fail(handler.errorString());
    return {};
}

} // namespace qmt
