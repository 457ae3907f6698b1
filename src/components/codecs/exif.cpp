#include "components/codecs/exif.h"

#include <cstring>
#include <optional>

namespace qmt {
namespace {

// EXIF tags and TIFF field types used here.
constexpr quint16 kTagOrientation = 0x0112;
constexpr quint16 kTagCompression = 0x0103;
constexpr quint16 kTagThumbnailOffset = 0x0201; // JPEGInterchangeFormat
constexpr quint16 kTagThumbnailLength = 0x0202; // JPEGInterchangeFormatLength
constexpr quint16 kTypeShort = 3;
constexpr quint16 kTypeLong = 4;
// An IFD lists its entries after a 2-byte count; each entry is 12 bytes:
//   tag (2) | type (2) | count (4) | value, or offset of the value (4)
constexpr quint32 kEntrySize = 12;

// The TIFF structure inside the EXIF block: byte order from its header, every read bounded by
// the block's size.
class TiffView
{
public:
    TiffView(const uchar *data, quint32 size) : m_data(data), m_size(size)
    {
        if (size < 8)
            return;
        if (data[0] == 'I' && data[1] == 'I')
            m_little = true;
        else if (!(data[0] == 'M' && data[1] == 'M'))
            return;
        m_valid = u16(2) == 42;
    }

    bool valid() const { return m_valid; }
    quint32 size() const { return m_size; }

    // Only called with `at + 2 <= size` or `at + 4 <= size` checked by the caller.
    quint32 u16(quint32 at) const
    {
        return m_little ? quint32(m_data[at] | m_data[at + 1] << 8)
                        : quint32(m_data[at] << 8 | m_data[at + 1]);
    }
    quint32 u32(quint32 at) const
    {
        return m_little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    }

    // The number of entries of the IFD at `at` that lie inside the block (a count that runs
    // past the end is cut there), or nothing when the IFD itself does not.
    std::optional<quint32> entriesAt(quint32 at) const
    {
        if (at < 8 || quint64(at) + 2 > m_size)
            return std::nullopt;
        const quint64 room = (m_size - at - 2) / kEntrySize;
        return quint32(qMin<quint64>(u16(at), room));
    }
    // The offset of the IFD after the one at `at` (a valid IFD); 0 when there is none.
    quint32 nextIfd(quint32 at) const
    {
        const quint64 link = quint64(at) + 2 + quint64(u16(at)) * kEntrySize;
        return link + 4 <= m_size ? u32(quint32(link)) : 0;
    }

    // The single SHORT or LONG value of the entry at `entry`, or nothing.
    std::optional<quint32> number(quint32 entry) const
    {
        const quint32 type = u16(entry + 2);
        if (u32(entry + 4) != 1)
            return std::nullopt;
        if (type == kTypeShort)
            return u16(entry + 8);
        if (type == kTypeLong)
            return u32(entry + 8);
        return std::nullopt;
    }

private:
    const uchar *m_data;
    quint32 m_size;
    bool m_little = false;
    bool m_valid = false;
};

} // namespace

ExifInfo parseExif(const uchar *data, qint64 length)
{
    ExifInfo info;
    constexpr qint64 kHeader = 6; // "Exif\0\0"
    if (!data || length < kHeader + 8 || length > 0xFFFF || std::memcmp(data, "Exif\0\0", 6) != 0)
        return info;
    const TiffView tiff(data + kHeader, quint32(length - kHeader));
    if (!tiff.valid())
        return info;

    const quint32 ifd0 = tiff.u32(4);
    const auto entries0 = tiff.entriesAt(ifd0);
    if (!entries0)
        return info;
    for (quint32 i = 0; i < *entries0; ++i) {
        const quint32 entry = ifd0 + 2 + i * kEntrySize;
        if (tiff.u16(entry) != kTagOrientation)
            continue;
        const auto value = tiff.number(entry);
        if (value && *value >= 1 && *value <= 8)
            info.orientation = int(*value);
        break;
    }

    // IFD1, the thumbnail's, follows IFD0; a link back to IFD0 (or anywhere before it) would
    // send a careless reader round in circles.
    const quint32 ifd1 = tiff.nextIfd(ifd0);
    const auto entries1 = ifd1 > ifd0 ? tiff.entriesAt(ifd1) : std::nullopt;
    if (!entries1)
        return info;
    std::optional<quint32> offset;
    std::optional<quint32> bytes;
    bool compressed = true;
    for (quint32 i = 0; i < *entries1; ++i) {
        const quint32 entry = ifd1 + 2 + i * kEntrySize;
        switch (tiff.u16(entry)) {
        case kTagThumbnailOffset:
            offset = tiff.number(entry);
            break;
        case kTagThumbnailLength:
            bytes = tiff.number(entry);
            break;
        case kTagCompression: {
            // 6 is JPEG; 1 (uncompressed strips) and anything else are not read here.
            const auto scheme = tiff.number(entry);
            compressed = scheme && (*scheme == 6 || *scheme == 7);
            break;
        }
        default:
            break;
        }
    }
    if (!compressed || !offset || !bytes || *bytes < 4 || *offset < 8 ||
        quint64(*offset) + *bytes > tiff.size())
        return info;
    info.thumbnailOffset = kHeader + qint64(*offset);
    info.thumbnailLength = qint64(*bytes);
    return info;
}

QList<MpfImage> parseMpf(const uchar *data, qint64 length)
{
    // The MP Index IFD: MPFVersion (0xB000), NumberOfImages (0xB001) and MPEntry (0xB002), the
    // last an UNDEFINED array of 16-byte entries kept at an offset:
    //   attributes (4: flags, then the type code in the low 24 bits) | size (4) | offset (4) |
    //   dependent image 1 (2) | dependent image 2 (2)
    constexpr quint16 kTagMpEntry = 0xB002;
    constexpr quint16 kTypeUndefined = 7;
    constexpr quint32 kMpEntrySize = 16;
    constexpr quint32 kMaxImages = 64;
    constexpr qint64 kHeader = 4; // "MPF\0"
    QList<MpfImage> images;
    if (!data || length < kHeader + 8 || length > 0xFFFF || std::memcmp(data, "MPF\0", 4) != 0)
        return images;
    const TiffView tiff(data + kHeader, quint32(length - kHeader));
    if (!tiff.valid())
        return images;
    const quint32 ifd = tiff.u32(4);
    const auto entries = tiff.entriesAt(ifd);
    if (!entries)
        return images;
    for (quint32 i = 0; i < *entries; ++i) {
        const quint32 entry = ifd + 2 + i * kEntrySize;
        if (tiff.u16(entry) != kTagMpEntry || tiff.u16(entry + 2) != kTypeUndefined)
            continue;
        const quint32 bytes = tiff.u32(entry + 4);
        const quint32 at = tiff.u32(entry + 8);
        if (bytes % kMpEntrySize != 0 || bytes / kMpEntrySize > kMaxImages ||
            quint64(at) + bytes > tiff.size())
            break;
        for (quint32 k = 0; k < bytes / kMpEntrySize; ++k) {
            const quint32 record = at + k * kMpEntrySize;
            MpfImage image;
            image.type = tiff.u32(record) & 0xFFFFFF;
            image.length = tiff.u32(record + 4);
            image.offset = tiff.u32(record + 8);
            images.append(image);
        }
        break;
    }
    return images;
}

} // namespace qmt
