#include "components/pictureinfo.h"

#include "components/engine/formatcodes.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QUrlQuery>

// exiv2 0.27 hands images out in std::auto_ptr, which C++17 deprecates.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

#include <sys/stat.h>

#include <cmath>
#include <exception>
#include <mutex>

namespace qmt {
namespace {

// A value longer than this is cut: a field is one line of a window.
constexpr int kMaxValueChars = 300;

// One line of text: control characters (line breaks among them) become spaces, trailing NULs
// and blanks go, and an over-long text is cut.
QString oneLine(const QString &text)
{
    QString line;
    line.reserve(qMin<qsizetype>(text.size(), kMaxValueChars + 1));
    for (const QChar c : text) {
        if (line.size() > kMaxValueChars)
            break;
        line.append(c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
                            c == QChar::ParagraphSeparator
                        ? QChar(QLatin1Char(' '))
                        : c);
    }
    line = line.trimmed();
    if (line.size() > kMaxValueChars)
        line = line.left(kMaxValueChars - 1) + QChar(0x2026);
    return line;
}

QString fromExiv(const std::string &text)
{
    return oneLine(QString::fromUtf8(text.data(), qsizetype(text.size())));
}

// A number without needless decimals: 5.6, 35, 0.5.
QString plainNumber(double value, int decimals = 2)
{
    QString text = QString::number(value, 'f', decimals);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    return text;
}

// The n-th rational of a tag as a number; nullopt when missing or divided by zero.
std::optional<double> rationalAt(const Exiv2::Exifdatum &datum, long n)
{
    if (n >= datum.count())
        return std::nullopt;
    const Exiv2::TypeId type = datum.typeId();
    if (type != Exiv2::unsignedRational && type != Exiv2::signedRational)
        return std::nullopt;
    const Exiv2::Rational r = datum.toRational(n);
    if (r.second == 0)
        return std::nullopt;
    const double value = double(r.first) / double(r.second);
    return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

std::optional<long> integerAt(const Exiv2::Exifdatum &datum)
{
    if (datum.count() < 1)
        return std::nullopt;
    switch (datum.typeId()) {
    case Exiv2::unsignedByte:
    case Exiv2::unsignedShort:
    case Exiv2::unsignedLong:
    case Exiv2::signedByte:
    case Exiv2::signedShort:
    case Exiv2::signedLong:
        return datum.toLong(0);
    default:
        return std::nullopt;
    }
}

const Exiv2::Exifdatum *find(const Exiv2::ExifData &exif, const char *key)
{
    try {
        const auto it = exif.findKey(Exiv2::ExifKey(key));
        return it == exif.end() ? nullptr : &*it;
    } catch (const Exiv2::AnyError &) {
        return nullptr; // a key this exiv2 does not know
    }
}

QString text(const Exiv2::ExifData &exif, const char *key)
{
    const Exiv2::Exifdatum *datum = find(exif, key);
    if (!datum || datum->count() < 1)
        return QString();
    const Exiv2::TypeId type = datum->typeId();
    if (type != Exiv2::asciiString && type != Exiv2::undefined && type != Exiv2::unsignedByte)
        return QString();
    return fromExiv(datum->toString());
}

// "2023:07:14 18:22:05" as "2023-07-14 18:22:05"; other texts as they are.
QString dateTakenText(const Exiv2::ExifData &exif)
{
    QString date = text(exif, "Exif.Photo.DateTimeOriginal");
    if (date.isEmpty())
        date = text(exif, "Exif.Image.DateTimeOriginal");
    if (date.isEmpty())
        date = text(exif, "Exif.Photo.DateTimeDigitized");
    const QDateTime parsed = QDateTime::fromString(date, QStringLiteral("yyyy:MM:dd HH:mm:ss"));
    return parsed.isValid() ? parsed.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : date;
}

QString exposureTimeText(const Exiv2::ExifData &exif)
{
    const Exiv2::Exifdatum *datum = find(exif, "Exif.Photo.ExposureTime");
    const std::optional<double> seconds = datum ? rationalAt(*datum, 0) : std::nullopt;
    if (!seconds || *seconds <= 0.0)
        return QString();
    // Short exposures read as the fraction cameras show: 1/250 s.
    if (*seconds < 0.5)
        return QStringLiteral("1/%1 s").arg(plainNumber(1.0 / *seconds, 0));
    return QStringLiteral("%1 s").arg(plainNumber(*seconds, 1));
}

QString fNumberText(const Exiv2::ExifData &exif)
{
    const Exiv2::Exifdatum *datum = find(exif, "Exif.Photo.FNumber");
    const std::optional<double> number = datum ? rationalAt(*datum, 0) : std::nullopt;
    if (!number || *number <= 0.0)
        return QString();
    return QStringLiteral("f/%1").arg(plainNumber(*number, 1));
}

QString isoSpeedText(const Exiv2::ExifData &exif)
{
    const Exiv2::Exifdatum *datum = find(exif, "Exif.Photo.ISOSpeedRatings");
    const std::optional<long> iso = datum ? integerAt(*datum) : std::nullopt;
    return iso && *iso > 0 ? QString::number(*iso) : QString();
}

QString focalLengthText(const Exiv2::ExifData &exif)
{
    const Exiv2::Exifdatum *datum = find(exif, "Exif.Photo.FocalLength");
    const std::optional<double> length = datum ? rationalAt(*datum, 0) : std::nullopt;
    if (!length || *length <= 0.0)
        return QString();
    return QStringLiteral("%1 mm").arg(plainNumber(*length, 1));
}

QString orientationText(const Exiv2::ExifData &exif)
{
    const Exiv2::Exifdatum *datum = find(exif, "Exif.Image.Orientation");
    const std::optional<long> value = datum ? integerAt(*datum) : std::nullopt;
    if (!value)
        return QString();
    // The names the EXIF standard gives the eight orientations.
    static const char *const names[] = {"Horizontal (normal)",
                                        "Mirror horizontal",
                                        "Rotate 180",
                                        "Mirror vertical",
                                        "Mirror horizontal and rotate 270 CW",
                                        "Rotate 90 CW",
                                        "Mirror horizontal and rotate 90 CW",
                                        "Rotate 270 CW"};
    if (*value < 1 || *value > 8)
        return QStringLiteral("Unknown (%1)").arg(*value);
    return QString::fromLatin1(names[*value - 1]);
}

QString lensText(const Exiv2::ExifData &exif)
{
    return text(exif, "Exif.Photo.LensModel");
}

// Degrees from the three rationals (degrees, minutes, seconds) of a GPS tag and its reference.
std::optional<double> coordinate(const Exiv2::ExifData &exif, const char *key, const char *refKey,
                                 double limit, QChar negative)
{
    const Exiv2::Exifdatum *datum = find(exif, key);
    if (!datum || datum->count() < 1)
        return std::nullopt;
    double degrees = 0.0;
    double unit = 1.0;
    for (long i = 0; i < qMin<long>(datum->count(), 3); ++i) {
        const std::optional<double> part = rationalAt(*datum, i);
        if (!part || *part < 0.0)
            return std::nullopt;
        degrees += *part * unit;
        unit /= 60.0;
    }
    if (!std::isfinite(degrees) || degrees > limit)
        return std::nullopt;
    if (text(exif, refKey).startsWith(negative, Qt::CaseInsensitive))
        degrees = -degrees;
    return degrees;
}

std::optional<GeoPosition> gpsPosition(const Exiv2::ExifData &exif)
{
    const std::optional<double> latitude = coordinate(
        exif, "Exif.GPSInfo.GPSLatitude", "Exif.GPSInfo.GPSLatitudeRef", 90.0, QLatin1Char('S'));
    const std::optional<double> longitude = coordinate(
        exif, "Exif.GPSInfo.GPSLongitude", "Exif.GPSInfo.GPSLongitudeRef", 180.0, QLatin1Char('W'));
    if (!latitude || !longitude)
        return std::nullopt;
    GeoPosition position{*latitude, *longitude, std::nullopt};
    if (const Exiv2::Exifdatum *datum = find(exif, "Exif.GPSInfo.GPSAltitude")) {
        if (const std::optional<double> metres = rationalAt(*datum, 0)) {
            const Exiv2::Exifdatum *ref = find(exif, "Exif.GPSInfo.GPSAltitudeRef");
            const std::optional<long> below = ref ? integerAt(*ref) : std::nullopt;
            position.altitude = below && *below == 1 ? -*metres : *metres;
        }
    }
    return position;
}

QString positionText(const GeoPosition &position)
{
    QString text = QStringLiteral("%1\u00b0 %2, %3\u00b0 %4")
                       .arg(QString::number(std::fabs(position.latitude), 'f', 6),
                            position.latitude < 0 ? QStringLiteral("S") : QStringLiteral("N"),
                            QString::number(std::fabs(position.longitude), 'f', 6),
                            position.longitude < 0 ? QStringLiteral("W") : QStringLiteral("E"));
    if (position.altitude)
        text += QStringLiteral(", %1 m").arg(plainNumber(*position.altitude, 1));
    return text;
}

// The picture's comment: the JPEG comment, else the EXIF user comment or description, else the
// XMP description.
QString commentText(Exiv2::Image &image)
{
    QString found = fromExiv(image.comment());
    const Exiv2::ExifData &exif = image.exifData();
    if (found.isEmpty()) {
        if (const Exiv2::Exifdatum *datum = find(exif, "Exif.Photo.UserComment")) {
            if (const auto *value = dynamic_cast<const Exiv2::CommentValue *>(&datum->value()))
                found = fromExiv(value->comment());
        }
    }
    if (found.isEmpty())
        found = text(exif, "Exif.Image.ImageDescription");
    if (found.isEmpty()) {
        const Exiv2::XmpData &xmp = image.xmpData();
        const auto it = xmp.findKey(Exiv2::XmpKey("Xmp.dc.description"));
        if (it != xmp.end())
            found = fromExiv(it->toString());
        // A language alternative reads 'lang="x-default" text'.
        if (found.startsWith(QLatin1String("lang=")))
            found = found.section(QLatin1Char(' '), 1);
    }
    return found;
}

// The first kMaxMetadataBytes of a regular file, or nothing.
QByteArray readHead(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return {};
    // The name may have been swapped for something else since it was looked at.
    struct stat status {
    };
    if (fstat(file.handle(), &status) != 0 || !S_ISREG(status.st_mode))
        return {};
    const qint64 wanted = qMin<qint64>(status.st_size, kMaxMetadataBytes);
    if (wanted <= 0)
        return {};
    return file.read(wanted);
}

void quietExiv2()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Warnings about damaged blocks would go to the terminal; the file is read anyway.
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize();
    });
}

void addIfAny(PictureInfo &info, const QString &key, const QString &value)
{
    if (!value.isEmpty())
        info.fields.append({key, value});
}

} // namespace

QUrl GeoPosition::mapUrl() const
{
    const QString lat = QString::number(latitude, 'f', 6);
    const QString lon = QString::number(longitude, 'f', 6);
    QUrl url(QStringLiteral("https://www.openstreetmap.org/"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("mlat"), lat);
    query.addQueryItem(QStringLiteral("mlon"), lon);
    url.setQuery(query);
    url.setFragment(QStringLiteral("map=15/%1/%2").arg(lat, lon));
    return url;
}

QString PictureInfo::value(const QString &key) const
{
    for (const Field &field : fields)
        if (field.key == key)
            return field.value;
    return QString();
}

QString PictureInfo::toText() const
{
    QString out;
    for (const Field &field : fields)
        out += field.key + QStringLiteral(": ") + field.value + QLatin1Char('\n');
    return out;
}

PictureInfo readPictureMetadata(const QString &path)
{
    PictureInfo info;
    const QByteArray bytes = readHead(path);
    if (bytes.isEmpty())
        return info;
    quietExiv2();
    try {
        // exiv2 reads from the bytes in memory, not from the file.
        auto image = Exiv2::ImageFactory::open(
            reinterpret_cast<const Exiv2::byte *>(bytes.constData()), long(bytes.size()));
        if (!image.get())
            return info;
        image->readMetadata();
        const Exiv2::ExifData &exif = image->exifData();
        addIfAny(info, QStringLiteral("Date taken"), dateTakenText(exif));
        addIfAny(info, QStringLiteral("Camera make"), text(exif, "Exif.Image.Make"));
        addIfAny(info, QStringLiteral("Camera model"), text(exif, "Exif.Image.Model"));
        addIfAny(info, QStringLiteral("Lens"), lensText(exif));
        addIfAny(info, QStringLiteral("Exposure time"), exposureTimeText(exif));
        addIfAny(info, QStringLiteral("F-number"), fNumberText(exif));
        addIfAny(info, QStringLiteral("ISO"), isoSpeedText(exif));
        addIfAny(info, QStringLiteral("Focal length"), focalLengthText(exif));
        addIfAny(info, QStringLiteral("Orientation"), orientationText(exif));
        info.position = gpsPosition(exif);
        if (info.position)
            info.fields.append({QStringLiteral("GPS position"), positionText(*info.position)});
        addIfAny(info, QStringLiteral("Comment"), commentText(*image));
    } catch (const Exiv2::AnyError &) {
        // A block exiv2 cannot make sense of: what was read before it stays.
    } catch (const std::exception &) {
    }
    return info;
}

PictureInfo describePicture(const QString &path, const PictureFacts &facts)
{
    PictureInfo info;
    const QFileInfo file(path);
    info.fields.append({QStringLiteral("File name"), oneLine(file.fileName())});
    info.fields.append({QStringLiteral("Folder"), oneLine(file.absolutePath())});
    if (file.exists()) {
        const qint64 bytes = file.size();
        info.fields.append(
            {QStringLiteral("Size on disk"),
             QStringLiteral("%1 (%2 bytes)")
                 .arg(QLocale::c().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat))
                 .arg(bytes)});
        info.fields.append({QStringLiteral("Modified"),
                            file.lastModified().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))});
    }
    if (!facts.pixelSize.isEmpty()) {
        info.fields.append(
            {QStringLiteral("Pixel size"),
             QStringLiteral("%1 x %2").arg(facts.pixelSize.width()).arg(facts.pixelSize.height())});
        if (facts.bitsPerPixel > 0)
            info.fields.append({QStringLiteral("Bit depth"), QString::number(facts.bitsPerPixel)});
        info.fields.append({QStringLiteral("Format"), formatName(facts.formatCode)});
        info.fields.append({QStringLiteral("Pages"), QString::number(facts.pages)});
    }
    const PictureInfo metadata = readPictureMetadata(path);
    info.fields += metadata.fields;
    info.position = metadata.position;
    return info;
}

QString formatName(int formatCode)
{
    switch (formatCode) {
    case FormatJpeg:
        return QStringLiteral("JPEG");
    case FormatPng:
        return QStringLiteral("PNG");
    case FormatTiff:
        return QStringLiteral("TIFF");
    case FormatPcx:
        return QStringLiteral("PCX");
    case FormatTarga:
        return QStringLiteral("TGA");
    case FormatBmp:
        return QStringLiteral("BMP");
    case FormatWmf:
        return QStringLiteral("WMF");
    case FormatEmf:
        return QStringLiteral("EMF");
    case FormatPsd:
        return QStringLiteral("PSD");
    case FormatWbmp:
        return QStringLiteral("WBMP");
    case FormatGif:
        return QStringLiteral("GIF");
    case FormatIco:
        return QStringLiteral("ICO");
    case FormatCur:
        return QStringLiteral("CUR");
    case FormatPcd:
        return QStringLiteral("PCD");
    default:
        return QStringLiteral("Unknown");
    }
}

} // namespace qmt

#pragma GCC diagnostic pop
