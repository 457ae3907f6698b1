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

enum PsdMode {
    Bitmap = 0,
    Grey = 1,
    Indexed = 2,
    Rgb = 3,
    Cmyk = 4,
    Multichannel = 7,
    Duotone = 8
};

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
        return QStringLiteral("The PSD image size %1 x %2 is not valid.")
            .arg(h.width)
            .arg(h.height);
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
        return QStringLiteral("PSD images with %1 bits per channel are not supported.")
            .arg(h.depth);
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

// Whether the merged image's first extra channel is its transparency: the layer count (in the
// layer info, or for 16 and 32-bit documents in an Lr16 or Lr32 block after it) is negative.
// The layer and mask section: layer info (length, count, records), global mask info (length,
// data), then tagged blocks ("8BIM" or "8B64", key, length, data padded to 4 bytes). Lengths
// are 8 bytes in PSB for the layer info and for the Lr16 and Lr32 blocks.
bool mergedHasTransparency(ByteReader section, quint16 version)
{
    const bool large = version == 2;
    const qint64 infoLength = qint64(large ? section.u64be() : section.u32be());
    if (!section.ok() || infoLength < 0 || infoLength > section.remaining())
        return false;
    if (infoLength >= 2)
        return qint16(section.u16be()) < 0;
    section.skip(infoLength);
    const quint32 maskLength = section.u32be();
    if (!section.ok() || !section.skip(maskLength))
        return false;
    while (section.remaining() >= 12) {
        const quint32 signature = section.u32be();
        const quint32 key = section.u32be();
        if (signature != 0x3842494D && signature != 0x38423634) // "8BIM", "8B64"
            return false;
        const bool layers = key == 0x4C723136 || key == 0x4C723332; // "Lr16", "Lr32"
        const qint64 length = qint64(large && layers ? section.u64be() : section.u32be());
        if (!section.ok() || length < 0 || length > section.remaining())
            return false;
        if (layers)
            return length >= 2 && qint16(section.u16be()) < 0;
        if (!section.skip(qMin((length + 3) & ~qint64(3), section.remaining())))
            return false;
    }
    return false;
}

// Hands out the rows of the merged image in the order they are stored (every row of channel 0,
// then of channel 1, ...), unpacked, one at a time: nothing the size of a channel is held.
class PsdRows
{
public:
    PsdRows(ByteReader &in, bool packed, const PsdHeader &h)
        : m_in(in), m_packed(packed), m_version(h.version), m_channels(h.channels),
          m_height(h.height),
          m_rowBytes(h.depth == 1 ? (qint64(h.width) + 7) / 8 : qint64(h.width) * (h.depth / 8))
    {
    }

    // Reads the row table of packed data; false (with a reason) when it is cut short.
    bool start()
    {
        if (!m_packed)
            return true;
        m_countBytes = m_version == 2 ? 4 : 2;
        m_table = m_in.block(qint64(m_channels) * m_height * m_countBytes);
        if (!m_table) {
            m_error = QStringLiteral("The PSD row table is cut short.");
            return false;
        }
        m_row.resize(m_rowBytes);
        return true;
    }
    QString error() const { return m_error; }

    // Whether the data holds the first row at all: a header without pixels is refused before
    // a picture is allocated for it.
    bool firstRowPresent() const
    {
        return m_in.remaining() >= (m_packed ? qMin<qint64>(lengthOf(0), 1) : m_rowBytes);
    }

    // The next row, or nullptr when the data ends (damaged() tells a bad row from the end).
    const uchar *next()
    {
        if (!m_packed)
            return m_in.block(m_rowBytes);
        const qint64 length = lengthOf(m_index++);
        const qint64 available = qMin(length, m_in.remaining());
        const uchar *src = m_in.block(available);
        uchar *row = reinterpret_cast<uchar *>(m_row.data());
        if (available < length || !unpackBits(src, available, row, m_rowBytes)) {
            m_damaged = !m_in.atEnd();
            return nullptr;
        }
        return row;
    }
    bool damaged() const { return m_damaged; }

private:
    qint64 lengthOf(qint64 index) const
    {
        const uchar *entry = m_table + index * m_countBytes;
        return m_countBytes == 2
                   ? qint64((entry[0] << 8) | entry[1])
                   : qint64(quint32(entry[0]) << 24 | entry[1] << 16 | entry[2] << 8 | entry[3]);
    }

    ByteReader &m_in;
    const bool m_packed;
    const quint16 m_version;
    const qint64 m_channels;
    const qint64 m_height;
    const qint64 m_rowBytes;
    int m_countBytes = 2;
    const uchar *m_table = nullptr;
    qint64 m_index = 0;
    QByteArray m_row;
    bool m_damaged = false;
    QString m_error;
};

// A row of samples as 8-bit values (bitmaps: 0 where the bit sets black ink, 255 elsewhere).
const uchar *samplesOf(const uchar *row, const PsdHeader &h, QByteArray &buffer)
{
    if (h.depth == 8)
        return row;
    buffer.resize(h.width);
    uchar *out = reinterpret_cast<uchar *>(buffer.data());
    for (quint32 x = 0; x < h.width; ++x) {
        if (h.depth == 1)
            out[x] = ((row[x / 8] >> (7 - x % 8)) & 1) ? 0 : 255;
        else
            out[x] = uchar(((uint(row[2 * x]) << 8 | row[2 * x + 1]) + 128) / 257);
    }
    return out;
}

// Lays channel rows into the picture: each sample lands in its byte of the pixel, averaged over
// `factor` x `factor` blocks for a reduced picture.
class PsdComposer
{
public:
    enum Target { Grey, Red, Green, Blue, Black, Alpha, Index };

    PsdComposer(QImage *image, const PsdHeader &h, int factor, const QList<QRgb> &palette)
        : m_image(image), m_width(h.width), m_height(h.height), m_factor(factor),
          m_palette(palette), m_sums(image->width(), 0)
    {
    }

    void addRow(Target target, qint64 y, const uchar *samples)
    {
        const int outY = int(y / m_factor);
        QRgb *out = reinterpret_cast<QRgb *>(m_image->scanLine(outY));
        if (target == Index) {
            // Palette indexes cannot be averaged: a block takes its top-left pixel.
            if (y % m_factor == 0) {
                for (int x = 0; x < m_image->width(); ++x)
                    out[x] = m_palette.at(samples[qint64(x) * m_factor]);
            }
            return;
        }
        for (qint64 x = 0; x < m_width; ++x)
            m_sums[x / m_factor] += samples[x];
        if (y + 1 != rowsOf(outY))
            return; // the block's rows are not all in yet
        const qint64 blockRows = rowsOf(outY) - qint64(outY) * m_factor;
        for (int x = 0; x < m_image->width(); ++x) {
            const qint64 blockColumns = qMin<qint64>(m_factor, m_width - qint64(x) * m_factor);
            const qint64 count = blockRows * blockColumns;
            put(out[x], target, uint((m_sums[x] + count / 2) / count));
            m_sums[x] = 0;
        }
    }

    // Rows from `row` on lose their colour (they stay black), keeping their alpha.
    void clearColourFrom(int row)
    {
        for (int y = qMax(0, row); y < m_image->height(); ++y) {
            QRgb *out = reinterpret_cast<QRgb *>(m_image->scanLine(y));
            for (int x = 0; x < m_image->width(); ++x)
                out[x] &= 0xFF000000;
        }
    }

private:
    // The end (exclusive) of the document rows that make picture row `outY`.
    qint64 rowsOf(int outY) const { return qMin(m_height, qint64(outY + 1) * m_factor); }

    static void put(QRgb &pixel, Target target, uint v)
    {
        switch (target) {
        case Grey:
            pixel = (pixel & 0xFF000000) | v << 16 | v << 8 | v;
            break;
        case Red:
            pixel = (pixel & 0xFF00FFFF) | v << 16;
            break;
        case Green:
            pixel = (pixel & 0xFFFF00FF) | v << 8;
            break;
        case Blue:
            pixel = (pixel & 0xFFFFFF00) | v;
            break;
        case Black: // CMYK is stored inverted (255 is no ink): the colour so far times the black
            pixel = (pixel & 0xFF000000) | (qRed(pixel) * v / 255) << 16 |
                    (qGreen(pixel) * v / 255) << 8 | (qBlue(pixel) * v / 255);
            break;
        case Alpha:
            pixel = (pixel & 0x00FFFFFF) | v << 24;
            break;
        case Index:
            break;
        }
    }

    QImage *m_image;
    const qint64 m_width;
    const qint64 m_height;
    const int m_factor;
    const QList<QRgb> &m_palette;
    QList<quint64> m_sums;
};

PsdComposer::Target targetOf(PsdMode mode, int channel, int colourChannels)
{
    if (channel >= colourChannels)
        return PsdComposer::Alpha;
    switch (mode) {
    case Indexed:
        return PsdComposer::Index;
    case Rgb:
    case Cmyk: {
        static const PsdComposer::Target order[] = {PsdComposer::Red, PsdComposer::Green,
                                                    PsdComposer::Blue, PsdComposer::Black};
        return order[channel];
    }
    default:
        return PsdComposer::Grey;
    }
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
    m_documentSize = QSize(int(h.width), int(h.height));

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
    const ByteReader layerSection(reinterpret_cast<const uchar *>(data.constData()) + layersStart,
                                  qint64(layersLength));
    if (!in.seek(layersStart + qint64(layersLength)))
        return fail(QStringLiteral("The PSD layer section is cut short."));

    const quint16 compression = in.u16be();
    if (!in.ok())
        return fail(QStringLiteral("The PSD file has no merged image."));
    if (compression > 1)
        return fail(QStringLiteral("PSD compression %1 is not supported.").arg(compression));

    const int colourChannels = h.mode == Rgb ? 3 : h.mode == Cmyk ? 4 : 1;
    // A channel after the colour ones is the picture's transparency only when the layer section
    // says so; otherwise it is a saved selection, which the picture does not show.
    const bool hasAlpha = h.mode != Bitmap && h.mode != Indexed && h.channels > colourChannels &&
                          mergedHasTransparency(layerSection, h.version);
    PsdRows rows(in, compression == 1, h);
    if (!rows.start())
        return fail(rows.error());
    if (!rows.firstRowPresent())
        return fail(QStringLiteral("The PSD image data is cut short."));

    // A reduced picture for a box asked for: every `factor` x `factor` block of the document
    // becomes one pixel, and the picture still covers the box.
    int factor = 1;
    if (m_scaledSize.isValid() && !m_scaledSize.isEmpty()) {
        while (qint64(h.width) / (factor * 2) >= m_scaledSize.width() ||
               qint64(h.height) / (factor * 2) >= m_scaledSize.height())
            factor *= 2;
    }
    QImage result = allocate((h.width + factor - 1) / factor, (h.height + factor - 1) / factor,
                             hasAlpha ? QImage::Format_ARGB32 : QImage::Format_RGB32, &m_error);
    if (result.isNull())
        return false;
    result.fill(qRgb(0, 0, 0));
    m_bitsPerPixel =
        h.depth * (h.mode == Bitmap || h.mode == Indexed ? 1 : colourChannels + hasAlpha);

    // Only the channels that make the picture are decoded (colour, then one alpha channel; they
    // come first in the file), a row at a time straight into the picture.
    PsdComposer composer(&result, h, factor, palette);
    QByteArray sampleBuffer;
    const int used = colourChannels + (hasAlpha ? 1 : 0);
    qint64 blackRows = 0; // CMYK rows that received their black channel
    bool cutShort = false;
    for (int c = 0; c < used && !cutShort; ++c) {
        const PsdComposer::Target target = targetOf(PsdMode(h.mode), c, colourChannels);
        for (qint64 y = 0; y < h.height; ++y) {
            const uchar *row = rows.next();
            if (!row) {
                if (rows.damaged())
                    return fail(QStringLiteral("The PSD image data is damaged."));
                cutShort = true; // the rows decoded so far are the picture
                break;
            }
            composer.addRow(target, y, samplesOf(row, h, sampleBuffer));
            if (target == PsdComposer::Black)
                blackRows = y + 1;
        }
    }
    // Without its black channel a CMYK row has no colour yet: it stays black, as no ink data
    // would print it.
    if (h.mode == Cmyk)
        composer.clearColourFrom(blackRows == h.height ? result.height() : blackRows / factor);
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
        while (i + literal < length && literal < 128 &&
               !(i + literal + 1 < length && src[i + literal] == src[i + literal + 1]))
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
    const QImage image =
        source.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
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
    if (out->write(header) != header.size() || out->write(counts) != counts.size() ||
        out->write(rows) != rows.size())
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
