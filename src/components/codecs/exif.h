#pragma once

#include <QImage>
#include <QList>
#include <QtGlobal>

namespace qmt {

// What the program reads from a JPEG's EXIF block (an APP1 segment starting "Exif\0\0", then a
// TIFF structure): the orientation of IFD0 and where IFD1 keeps the JPEG thumbnail. The block
// comes from the file and is never trusted: every count, offset and length is checked against
// the block before it is followed, and IFDs are read at most once each.
struct ExifInfo {
    int orientation = 1; // 1..8 as EXIF numbers them; 1 when absent or out of range
    // The thumbnail's JPEG bytes as an offset and length from the start of `data` given to
    // parseExif; a length of 0 when there is none (or it lies outside the block).
    qint64 thumbnailOffset = 0;
    qint64 thumbnailLength = 0;
};

// Parses an APP1 payload (the bytes after the segment's length field). Anything that is not a
// well-formed EXIF block gives the defaults.
ExifInfo parseExif(const uchar *data, qint64 length);

// One image listed in a Multi-Picture Format index (an APP2 segment starting "MPF\0", CIPA
// DC-007): cameras keep larger previews of the photo there, after the photo's own data.
struct MpfImage {
    quint32 type = 0;  // the image type code: kMpfLargeThumbnail... below, among others
    qint64 offset = 0; // from the start of the index's TIFF header (after "MPF\0"); 0 for the photo
    qint64 length = 0; // bytes
};
constexpr quint32 kMpfLargeThumbnailVga = 0x010001;
constexpr quint32 kMpfLargeThumbnailFullHd = 0x010002;

// The images an APP2 payload lists (at most 64; none when it is not a well-formed index).
// Offsets and lengths are as the file states them: the caller checks them against the file.
QList<MpfImage> parseMpf(const uchar *data, qint64 length);

} // namespace qmt
