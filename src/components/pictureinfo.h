#pragma once

#include <QList>
#include <QSize>
#include <QString>
#include <QUrl>

#include <optional>

namespace qmt {

// A place on the earth from a picture's GPS tags: degrees, south and west negative.
struct GeoPosition {
    double latitude = 0.0;
    double longitude = 0.0;
    std::optional<double> altitude; // metres above sea level

    // The place on a map in the web browser.
    QUrl mapUrl() const;
};

// What a picture file tells about itself, as the Properties window and `qmt-imgtool info` show
// it: one key and one value a line, in a fixed order. Fields the file does not have are left out.
struct PictureInfo {
    struct Field {
        QString key;
        QString value;
        bool operator==(const Field &other) const = default;
    };
    QList<Field> fields;
    std::optional<GeoPosition> position;

    // The value of a field, "" when the picture has none.
    QString value(const QString &key) const;
    // "key: value" lines, each ending in a newline (values never hold a line break).
    QString toText() const;
};

// The facts of the decoded picture itself.
struct PictureFacts {
    QSize pixelSize;
    int bitsPerPixel = 0;
    int formatCode = 0;
    int pages = 0;
};

// The metadata people look for, read from the file with exiv2: date taken, camera make and
// model, lens, exposure, f-number, ISO, focal length, orientation, GPS position and comment.
// Only a regular file is read, and no more than kMaxMetadataBytes of it, into memory; exiv2
// never sees the file itself. A damaged or missing block gives fewer fields, never an error.
PictureInfo readPictureMetadata(const QString &path);
constexpr qint64 kMaxMetadataBytes = 16 * 1024 * 1024;

// The whole description: the file's name, folder, size on disk and modification time, the
// picture's pixel size, bit depth, format and page count, then its metadata.
PictureInfo describePicture(const QString &path, const PictureFacts &facts);

// The name of an engine format code ("JPEG", "PNG", ...).
QString formatName(int formatCode);

} // namespace qmt
