#include "components/pictureinfo.h"
#include "components/engine/formatcodes.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <sys/stat.h>

using namespace qmt;

namespace {

QByteArray jpegBytes(int w = 64, int h = 48)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(QColor(40, 90, 160));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    return bytes;
}

// A JPEG whose APP1 segment holds `tiff` (a TIFF structure: header and IFDs) as its EXIF block;
// `declaredLength` overrides the segment's length field when not 0.
QByteArray jpegWithExif(const QByteArray &tiff, int declaredLength = 0)
{
    const QByteArray body = jpegBytes();
    QByteArray segment("Exif\0\0", 6);
    segment += tiff;
    const int length = declaredLength ? declaredLength : int(segment.size()) + 2;
    QByteArray out = body.left(2);
    out += char(0xFF);
    out += char(0xE1);
    out += char((length >> 8) & 0xFF);
    out += char(length & 0xFF);
    out += segment;
    out += body.mid(2);
    return out;
}

// Little-endian TIFF writing helpers.
void put16(QByteArray &b, quint16 v)
{
    b += char(v & 0xFF);
    b += char(v >> 8);
}
void put32(QByteArray &b, quint32 v)
{
    put16(b, quint16(v & 0xFFFF));
    put16(b, quint16(v >> 16));
}
void entry(QByteArray &b, quint16 tag, quint16 type, quint32 count, quint32 valueOrOffset)
{
    put16(b, tag);
    put16(b, type);
    put32(b, count);
    put32(b, valueOrOffset);
}
QByteArray tiffHeader()
{
    QByteArray b("II*\0", 4);
    put32(b, 8);
    return b;
}

QString write(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

} // namespace

// What the Properties window and `qmt-imgtool info` tell about a file: its facts and the camera
// metadata read with exiv2, from well-formed, missing and damaged blocks.
class PictureInfoTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    // A photo with every field the window shows, written by exiftool.
    QString cameraPhoto()
    {
        const QString path = write(m_dir, QStringLiteral("camera.jpg"), jpegBytes(640, 480));
        QProcess exiftool;
        exiftool.start(QStringLiteral("exiftool"),
                       {"-q", "-overwrite_original", "-Make=Canon", "-Model=Canon EOS 5D Mark IV",
                        "-LensModel=EF24-105mm f/4L IS USM", "-ExposureTime=1/250", "-FNumber=5.6",
                        "-ISO=200", "-FocalLength=35", "-Orientation#=6",
                        "-DateTimeOriginal=2023:07:14 18:22:05", "-GPSLatitude=47.2692",
                        "-GPSLatitudeRef=N", "-GPSLongitude=11.4041", "-GPSLongitudeRef=W",
                        "-GPSAltitude=574", "-GPSAltitudeRef=0", "-Comment=Sunset at the lake",
                        path});
        if (!exiftool.waitForFinished(60000) || exiftool.exitCode() != 0)
            qFatal("exiftool failed: %s", exiftool.readAllStandardError().constData());
        return path;
    }

private Q_SLOTS:
    void everyFieldOfACameraPhoto()
    {
        const QString path = cameraPhoto();
        const PictureInfo info = describePicture(path, {QSize(640, 480), 24, FormatJpeg, 1});
        QStringList keys;
        for (const PictureInfo::Field &field : info.fields)
            keys.append(field.key);
        QCOMPARE(keys, (QStringList{"File name", "Folder", "Size on disk", "Modified", "Pixel size",
                                    "Bit depth", "Format", "Pages", "Date taken", "Camera make",
                                    "Camera model", "Lens", "Exposure time", "F-number", "ISO",
                                    "Focal length", "Orientation", "GPS position", "Comment"}));
        QCOMPARE(info.value("File name"), QStringLiteral("camera.jpg"));
        QCOMPARE(info.value("Folder"), QDir(m_dir.path()).absolutePath());
        QVERIFY(info.value("Size on disk")
                    .endsWith(QStringLiteral(" (%1 bytes)").arg(QFileInfo(path).size())));
        QCOMPARE(info.value("Pixel size"), QStringLiteral("640 x 480"));
        QCOMPARE(info.value("Format"), QStringLiteral("JPEG"));
        QCOMPARE(info.value("Orientation"), QStringLiteral("Rotate 90 CW"));
        QCOMPARE(info.value("GPS position"),
                 QString::fromUtf8("47.269200\u00b0 N, 11.404100\u00b0 W, 574 m"));
        QCOMPARE(info.value("Comment"), QStringLiteral("Sunset at the lake"));
        QVERIFY(info.position);
        QVERIFY(std::fabs(info.position->latitude - 47.2692) < 1e-6);
        QVERIFY(std::fabs(info.position->longitude + 11.4041) < 1e-6);
        const QUrl map = info.position->mapUrl();
        QCOMPARE(map.host(), QStringLiteral("www.openstreetmap.org"));
        QCOMPARE(map.query(), QStringLiteral("mlat=47.269200&mlon=-11.404100"));
    }

    void aPictureWithoutMetadataHasItsFactsOnly()
    {
        QImage image(30, 20, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        const QString path = m_dir.filePath(QStringLiteral("plain.png"));
        QVERIFY(image.save(path));
        const PictureInfo info = describePicture(path, {QSize(30, 20), 32, FormatPng, 1});
        QCOMPARE(info.fields.size(), 8);
        QCOMPARE(info.fields.last(), (PictureInfo::Field{"Pages", "1"}));
        QVERIFY(!info.position);
        QVERIFY(readPictureMetadata(path).fields.isEmpty());
    }

    void theToolPrintsTheSameLines()
    {
        const QString path = cameraPhoto();
        QProcess tool;
        tool.start(qEnvironmentVariable("QMT_BUILD_DIR") + QStringLiteral("/qmt-imgtool"),
                   {QStringLiteral("info"), path});
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitCode(), 0);
        const QString printed = QString::fromUtf8(tool.readAllStandardOutput());
        // The picture as decoded stands upright: the camera held it turned.
        QCOMPARE(printed, describePicture(path, {QSize(480, 640), 24, FormatJpeg, 1}).toText());
        QVERIFY(printed.contains(QStringLiteral("\nCamera model: Canon EOS 5D Mark IV\n")));
        QVERIFY(printed.contains(QStringLiteral("\nPixel size: 480 x 640\n")));
    }

    void damagedBlocksNeverCrashOrHang_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("make"); // what may still be read, "" for nothing

        {
            // An IFD claiming 65535 entries in a block of a few bytes.
            QByteArray t = tiffHeader();
            put16(t, 0xFFFF);
            entry(t, 0x010F, 2, 6, 0);
            QTest::newRow("entry count past the end") << jpegWithExif(t) << "";
        }
        {
            // The Make text's offset and length point far past the end of the block.
            QByteArray t = tiffHeader();
            put16(t, 1);
            entry(t, 0x010F, 2, 0x7FFFFFF0, 0x7FFFFFF0);
            put32(t, 0);
            QTest::newRow("value past the end") << jpegWithExif(t) << "";
        }
        {
            // IFD0 names itself as the next IFD.
            QByteArray t = tiffHeader();
            put16(t, 1);
            entry(t, 0x010F, 2, 4, 0x00746F43); // "Cot" held in the entry
            put32(t, 8);
            QTest::newRow("next IFD loops to itself") << jpegWithExif(t) << "Cot";
        }
        {
            // The EXIF sub-IFD pointer leads back to IFD0, and the GPS pointer to the sub-IFD.
            QByteArray t = tiffHeader();
            put16(t, 3);
            entry(t, 0x010F, 2, 4, 0x00746F43);
            entry(t, 0x8769, 4, 1, 8);
            entry(t, 0x8825, 4, 1, 8);
            put32(t, 0);
            QTest::newRow("sub-IFDs loop") << jpegWithExif(t) << "Cot";
        }
        {
            // Rationals divided by zero where numbers are read: exposure, f-number, GPS.
            QByteArray t = tiffHeader();
            const quint32 exifIfd = 8 + 2 + 2 * 12 + 4;
            put16(t, 2);
            entry(t, 0x010F, 2, 4, 0x00746F43);
            entry(t, 0x8769, 4, 1, exifIfd);
            put32(t, 0);
            const quint32 values = exifIfd + 2 + 2 * 12 + 4;
            put16(t, 2);
            entry(t, 0x829A, 5, 1, values);
            entry(t, 0x829D, 5, 1, values + 8);
            put32(t, 0);
            put32(t, 1);
            put32(t, 0);
            put32(t, 0);
            put32(t, 0);
            QTest::newRow("rationals over zero") << jpegWithExif(t) << "Cot";
        }
        QTest::newRow("segment longer than the file")
            << jpegWithExif(tiffHeader(), 0xFFF0).left(40) << "";
        QTest::newRow("not a TIFF header") << jpegWithExif(QByteArray(64, '\xFF')) << "";
        QTest::newRow("cut in the header") << jpegBytes().left(5) << "";
        QTest::newRow("no picture at all") << QByteArray("plain text, not a picture") << "";
    }
    void damagedBlocksNeverCrashOrHang()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, make);
        const QString path = write(m_dir, QStringLiteral("damaged.jpg"), file);
        const PictureInfo info = readPictureMetadata(path);
        QCOMPARE(info.value("Camera make"), make);
        QVERIFY(info.value("Exposure time").isEmpty());
        QVERIFY(info.value("F-number").isEmpty());
        QVERIFY(!info.position);
    }

    void onlyRegularFilesAreRead()
    {
        // A pipe would block a reader forever; a folder is no picture.
        const QString pipe = m_dir.filePath(QStringLiteral("pipe.jpg"));
        QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        QVERIFY(readPictureMetadata(pipe).fields.isEmpty());
        QVERIFY(readPictureMetadata(m_dir.path()).fields.isEmpty());
        QVERIFY(readPictureMetadata(m_dir.filePath(QStringLiteral("none.jpg"))).fields.isEmpty());
        // A link to a photo is followed for reading.
        const QString link = m_dir.filePath(QStringLiteral("link.jpg"));
        QVERIFY(QFile::link(cameraPhoto(), link));
        QCOMPARE(readPictureMetadata(link).value("Camera make"), QStringLiteral("Canon"));
    }

    void metadataBeyondTheReadLimitIsNotSought()
    {
        // A TIFF whose IFD lies past the bytes read: nothing is found, nothing more is read.
        QByteArray t("II*\0", 4);
        put32(t, quint32(kMaxMetadataBytes + 16));
        t.append(QByteArray(int(kMaxMetadataBytes) + 16 - t.size(), '\0'));
        put16(t, 1);
        entry(t, 0x010F, 2, 4, 0x00746F43);
        put32(t, 0);
        const QString path = write(m_dir, QStringLiteral("late.tif"), t);
        QVERIFY(readPictureMetadata(path).value("Camera make").isEmpty());
    }
};

QTEST_MAIN(PictureInfoTest)
#include "pictureinfotest.moc"
