#include "components/codecs/orientation.h"

#include <QTransform>

#include <cstring>

namespace qmt {
namespace {

bool isTiffHeader(const uchar *data, qsizetype length)
{
    return length >= 8 && ((data[0] == 'I' && data[1] == 'I' && data[2] == 42 && data[3] == 0) ||
                           (data[0] == 'M' && data[1] == 'M' && data[2] == 0 && data[3] == 42));
}

// Where the TIFF header starts inside the block, or -1.
qsizetype tiffStart(const uchar *data, qsizetype length)
{
    if (isTiffHeader(data, length))
        return 0;
    if (length >= 6 && memcmp(data, "Exif\0\0", 6) == 0 && isTiffHeader(data + 6, length - 6))
        return 6;
    // HEIF and AVIF: a big-endian offset from the end of these four bytes to the header.
    if (length >= 4) {
        const quint64 offset =
            quint64(data[0]) << 24 | quint64(data[1]) << 16 | quint64(data[2]) << 8 | data[3];
        if (offset <= quint64(length) - 4) {
            const qsizetype at = qsizetype(4 + offset);
            if (isTiffHeader(data + at, length - at))
                return at;
            if (length - at >= 6 && memcmp(data + at, "Exif\0\0", 6) == 0 &&
                isTiffHeader(data + at + 6, length - at - 6))
                return at + 6;
        }
    }
    return -1;
}

} // namespace

int exifOrientation(const uchar *data, qsizetype length)
{
    if (!data || length < 8)
        return 1;
    const qsizetype start = tiffStart(data, length);
    if (start < 0)
        return 1;
    const uchar *tiff = data + start;
    const quint64 size = quint64(length - start);
    const bool little = tiff[0] == 'I';
    const auto u16 = [&](quint64 at) -> quint32 {
        return little ? quint32(tiff[at] | tiff[at + 1] << 8)
                      : quint32(tiff[at] << 8 | tiff[at + 1]);
    };
    const auto u32 = [&](quint64 at) -> quint32 {
        return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    };
    const quint64 ifd = u32(4);
    if (ifd < 8 || ifd + 2 > size)
        return 1;
    const quint32 entries = u16(ifd);
    for (quint32 i = 0; i < entries; ++i) {
        const quint64 at = ifd + 2 + quint64(i) * 12;
        if (at + 12 > size)
            break;
        if (u16(at) == 0x0112) {
            const quint32 value = u16(at + 8);
            return value >= 1 && value <= 8 ? int(value) : 1;
        }
    }
    return 1;
}

QImage orientImage(const QImage &image, int orientation)
{
    switch (orientation) {
    case 2:
        return image.mirrored(true, false);
    case 3:
        return image.mirrored(true, true);
    case 4:
        return image.mirrored(false, true);
    case 5:
        return image.transformed(QTransform().rotate(90)).mirrored(true, false);
    case 6:
        return image.transformed(QTransform().rotate(90));
    case 7:
        return image.transformed(QTransform().rotate(-90)).mirrored(true, false);
    case 8:
        return image.transformed(QTransform().rotate(-90));
    default:
        return image;
    }
}

} // namespace qmt
