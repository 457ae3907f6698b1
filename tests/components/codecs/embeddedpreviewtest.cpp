// Previews kept inside camera JPEGs: the EXIF thumbnail and Multi-Picture Format previews are
// found, turned by the photo's orientation and cut to the photo's shape; previews that cannot
// stand for the photo as it is are left alone, and hostile index data is never followed out of
// its segment. Files are built here byte by byte, so every field is known.

#include "components/codecs/embeddedpreview.h"
#include "components/codecs/exif.h"
#include "components/engine/imageio.h"

#include <QBuffer>
#include <QPainter>
#include <QtEndian>
#include <QtTest>

using qmt::EmbeddedPreview;
using qmt::readEmbeddedPreview;

namespace {

// Four quadrants of distinct colours, so that every turn and mirror shows.
QImage quadrants(QSize size,
                 const QList<QColor> &colours = {Qt::red, Qt::green, Qt::blue, Qt::yellow})
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    const int w = size.width() / 2;
    const int h = size.height() / 2;
    painter.fillRect(0, 0, w, h, colours[0]);
    painter.fillRect(w, 0, size.width() - w, h, colours[1]);
    painter.fillRect(0, h, w, size.height() - h, colours[2]);
    painter.fillRect(w, h, size.width() - w, size.height() - h, colours[3]);
    return image;
}

QByteArray jpegOf(const QImage &image, int quality = 92)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", quality);
    return bytes;
}

void put16(QByteArray &out, quint16 v)
{
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}
void put32(QByteArray &out, quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}
void entry(QByteArray &out, quint16 tag, quint16 type, quint32 count, quint32 value)
{
    put16(out, tag);
    put16(out, type);
    put32(out, count);
    put32(out, value);
}

QByteArray segment(uchar marker, const QByteArray &payload)
{
    QByteArray out("\xFF", 1);
    out.append(char(marker));
    out.append(char((payload.size() + 2) >> 8));
    out.append(char((payload.size() + 2) & 0xFF));
    return out + payload;
}

// An APP1 EXIF payload: IFD0 with the orientation, IFD1 with a JPEG thumbnail.
QByteArray exifPayload(int orientation, const QByteArray &thumbnail)
{
    QByteArray tiff("II\x2A\x00", 4);
    put32(tiff, 8);
    put16(tiff, 1); // IFD0 at 8
    entry(tiff, 0x0112, 3, 1, quint32(orientation));
    put32(tiff, thumbnail.isEmpty() ? 0 : 26);
    if (!thumbnail.isEmpty()) {
        put16(tiff, 3); // IFD1 at 26, the thumbnail at 26 + 2 + 36 + 4 = 68
        entry(tiff, 0x0103, 3, 1, 6);
        entry(tiff, 0x0201, 4, 1, 68);
        entry(tiff, 0x0202, 4, 1, quint32(thumbnail.size()));
        put32(tiff, 0);
        tiff.append(thumbnail);
    }
    return QByteArray("Exif\0\0", 6) + tiff;
}

// A camera file: the photo with its EXIF block and, when `previews` are given, an MPF index
// listing them after the photo's data.
QByteArray cameraFile(const QImage &photo, int orientation, const QByteArray &thumbnail,
                      const QList<QByteArray> &previews = {})
{
    const QByteArray main = jpegOf(photo);
    const QByteArray app1 = segment(0xE1, exifPayload(orientation, thumbnail));
    if (previews.isEmpty())
        return main.left(2) + app1 + main.mid(2);

    const int count = int(previews.size()) + 1;
    // The index: "MPF\0", a TIFF header, an IFD of three entries at 8, the records at 50.
    QByteArray index("II\x2A\x00", 4);
    put32(index, 8);
    put16(index, 3);
    entry(index, 0xB000, 7, 4, 0x30303130); // "0100"
    entry(index, 0xB001, 4, 1, quint32(count));
    entry(index, 0xB002, 7, quint32(16 * count), 50);
    put32(index, 0);
    const int app2Size = 4 + 4 + int(index.size()) + 16 * count;
    const qint64 base = 2 + app1.size() + 4 + 4; // where the index's TIFF header sits
    qint64 at = 2 + app1.size() + app2Size + main.size() - 2;
    auto record = [&](quint32 type, qint64 size, qint64 offset) {
        put32(index, type);
        put32(index, quint32(size));
        put32(index, quint32(offset));
        put32(index, 0);
    };
    record(0x030000, at, 0);
    for (const QByteArray &preview : previews) {
        record(qmt::kMpfLargeThumbnailVga, preview.size(), at - base);
        at += preview.size();
    }
    QByteArray file =
        main.left(2) + app1 + segment(0xE2, QByteArray("MPF\0", 4) + index) + main.mid(2);
    for (const QByteArray &preview : previews)
        file += preview;
    return file;
}

std::optional<EmbeddedPreview> previewOf(QByteArray bytes, QSize box = QSize(140, 140))
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return readEmbeddedPreview(&buffer, box);
}

// The colour at a fraction of the image, as the eye would name it.
QColor colourAt(const QImage &image, double fx, double fy)
{
    return image.pixelColor(int(fx * image.width()), int(fy * image.height()));
}
bool near(const QColor &a, const QColor &b)
{
    return qAbs(a.red() - b.red()) < 40 && qAbs(a.green() - b.green()) < 40 &&
           qAbs(a.blue() - b.blue()) < 40;
}

} // namespace

class EmbeddedPreviewTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void thumbnailTurnedLikeThePhoto_data()
    {
        QTest::addColumn<int>("orientation");
        for (int o = 1; o <= 8; ++o)
            QTest::newRow(qPrintable(QStringLiteral("orientation %1").arg(o))) << o;
    }
    void thumbnailTurnedLikeThePhoto()
    {
        QFETCH(int, orientation);
        const QByteArray file =
            cameraFile(quadrants(QSize(640, 480)), orientation, jpegOf(quadrants(QSize(160, 120))));
        const auto preview = previewOf(file);
        QVERIFY(preview);
        QCOMPARE(preview->source, EmbeddedPreview::Source::ExifThumbnail);

        // The photo as the engine shows it: the preview must look the same.
        QBuffer buffer;
        buffer.setData(file);
        buffer.open(QIODevice::ReadOnly);
        const auto photo = qmt::readImageDevice(&buffer, QStringLiteral("p.jpg"));
        QVERIFY(photo);
        const QImage shown = photo->pages.first();
        QCOMPARE(preview->fullSize, shown.size());
        QCOMPARE(preview->image.size(), orientation >= 5 ? QSize(120, 160) : QSize(160, 120));
        for (const auto &[fx, fy] :
             {std::pair{0.25, 0.25}, {0.75, 0.25}, {0.25, 0.75}, {0.75, 0.75}})
            QVERIFY2(near(colourAt(preview->image, fx, fy), colourAt(shown, fx, fy)),
                     qPrintable(QStringLiteral("at %1,%2").arg(fx).arg(fy)));
    }

    void letterboxBarsAreCut()
    {
        // A 3:2 photo's 4:3 thumbnail carries black bars above and below the picture.
        QImage thumbnail(160, 120, QImage::Format_RGB32);
        thumbnail.fill(Qt::black);
        QPainter(&thumbnail).fillRect(0, 7, 160, 106, QColor(200, 120, 40));
        const auto preview =
            previewOf(cameraFile(quadrants(QSize(600, 400), QList<QColor>(4, QColor(200, 120, 40))),
                                 1, jpegOf(thumbnail)));
        QVERIFY(preview);
        // The bars and the line each side where compression blends them with the picture go.
        QCOMPARE(preview->image.width(), 160);
        QCOMPARE(preview->image.height(), 104);
        for (int x : {0, 80, 159}) {
            QVERIFY(near(preview->image.pixelColor(x, 0), QColor(200, 120, 40)));
            QVERIFY(near(preview->image.pixelColor(x, preview->image.height() - 1),
                         QColor(200, 120, 40)));
        }
    }

    // Previews that cannot stand for the photo: the photo is decoded instead.
    void previewsThatCannotServe_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QSize>("box");
        const QByteArray thumb = jpegOf(quadrants(QSize(160, 120)));
        QTest::newRow("too small for the box")
            << cameraFile(quadrants(QSize(640, 480)), 1, thumb) << QSize(256, 256);
        QTest::newRow("a square photo, a 4:3 picture without bars")
            << cameraFile(quadrants(QSize(480, 480)), 1, jpegOf(quadrants(QSize(320, 240))))
            << QSize(140, 140);
        QTest::newRow("larger than the photo")
            << cameraFile(quadrants(QSize(120, 90)), 1, thumb) << QSize(140, 140);
        QTest::newRow("no thumbnail")
            << cameraFile(quadrants(QSize(640, 480)), 6, QByteArray()) << QSize(140, 140);
        QTest::newRow("thumbnail bytes are no JPEG")
            << cameraFile(quadrants(QSize(640, 480)), 1, QByteArray(2000, 'x')) << QSize(140, 140);
        QTest::newRow("not a JPEG at all") << QByteArray("\x89PNG\r\n\x1a\n", 8) << QSize(140, 140);
        QTest::newRow("empty") << QByteArray() << QSize(140, 140);
    }
    void previewsThatCannotServe()
    {
        QFETCH(QByteArray, file);
        QFETCH(QSize, box);
        QVERIFY(!previewOf(file, box));
    }

    void smallestPreviewThatServesIsChosen()
    {
        const QImage photo = quadrants(QSize(1280, 960));
        const QByteArray thumb = jpegOf(quadrants(QSize(160, 120)));
        const QByteArray vga = jpegOf(quadrants(QSize(640, 480)));
        const QByteArray file = cameraFile(photo, 8, thumb, {vga});

        const auto small = previewOf(file, QSize(140, 140));
        QVERIFY(small);
        QCOMPARE(small->source, EmbeddedPreview::Source::ExifThumbnail);

        // For a larger cell the thumbnail is too small: the MPF preview serves, turned too.
        const auto large = previewOf(file, QSize(400, 400));
        QVERIFY(large);
        QCOMPARE(large->source, EmbeddedPreview::Source::MpfPreview);
        QCOMPARE(large->fullSize, QSize(960, 1280));
        QVERIFY(large->image.height() >= 400);
        QCOMPARE(large->image.width() * 4, large->image.height() * 3);
        // Orientation 8 turns the stored top-left (red) to the bottom-left.
        QVERIFY(near(colourAt(large->image, 0.25, 0.75), Qt::red));

        // Past what every preview offers: nothing.
        QVERIFY(!previewOf(file, QSize(700, 700)));
    }

    // Bytes of the EXIF and MPF segments set to extremes one at a time: lengths, counts and
    // offsets that point anywhere must never be followed outside the file (the sanitized run of
    // this test catches a stray read), and the answer is a preview or nothing.
    void hostileIndexesStayInside()
    {
        const QByteArray file =
            cameraFile(quadrants(QSize(320, 240)), 6, jpegOf(quadrants(QSize(160, 120))),
                       {jpegOf(quadrants(QSize(200, 150)))});
        // The segment headers and the index structures: EXIF's up to its thumbnail's data (at 68
        // of its TIFF block), then all of the MPF segment that follows it.
        const qsizetype app1 = 2;
        const qsizetype app2 = app1 + 2 + (uchar(file[app1 + 2]) << 8 | uchar(file[app1 + 3]));
        const qsizetype app2End = app2 + 2 + (uchar(file[app2 + 2]) << 8 | uchar(file[app2 + 3]));
        QCOMPARE(uchar(file[app2 + 1]), uchar(0xE2));
        QList<qsizetype> positions;
        for (qsizetype at = app1; at < app1 + 4 + 6 + 68 + 4; ++at)
            positions.append(at);
        for (qsizetype at = app2; at < app2End; ++at)
            positions.append(at);
        int previews = 0;
        for (qsizetype at : std::as_const(positions)) {
            for (char value : {'\x00', '\xFF', '\x7F', '\x01'}) {
                QByteArray hostile = file;
                hostile[at] = value;
                if (const auto preview = previewOf(hostile)) {
                    QVERIFY(!preview->image.isNull());
                    ++previews;
                }
            }
        }
        QVERIFY(previews > 0); // most bytes are picture data: those still give a preview

        // Cut anywhere in the head: nothing is read past the end.
        for (qsizetype length = 0; length < app2End; length += 7)
            previewOf(file.left(length));
    }

    void exifParserBoundsItsOffsets_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<bool>("thumbnail");
        const QByteArray good = exifPayload(3, jpegOf(quadrants(QSize(16, 12))));
        QTest::newRow("well formed") << good << 3 << true;
        QByteArray loop = good;
        qToLittleEndian<quint32>(8, loop.data() + 6 + 22); // IFD1 is IFD0 again
        QTest::newRow("IFD1 points back at IFD0") << loop << 3 << false;
        QByteArray far = good;
        qToLittleEndian<quint32>(0xFFFFFFF0u, far.data() + 6 + 26 + 2 + 12 + 8);
        QTest::newRow("thumbnail offset past the block") << far << 3 << false;
        QByteArray longer = good;
        qToLittleEndian<quint32>(0xFFFFFFF0u, longer.data() + 6 + 26 + 2 + 24 + 8);
        QTest::newRow("thumbnail length past the block") << longer << 3 << false;
        QByteArray count = good;
        qToLittleEndian<quint16>(0xFFFF, count.data() + 6 + 8);
        QTest::newRow("IFD0 count past the block") << count << 3 << false;
        QTest::newRow("big-endian mark without data")
            << QByteArray("Exif\0\0MM\0\x2A", 10) << 1 << false;
        QTest::newRow("orientation out of range") << exifPayload(9, QByteArray()) << 1 << false;
    }
    void exifParserBoundsItsOffsets()
    {
        QFETCH(QByteArray, payload);
        QFETCH(int, orientation);
        QFETCH(bool, thumbnail);
        const qmt::ExifInfo info =
            qmt::parseExif(reinterpret_cast<const uchar *>(payload.constData()), payload.size());
        QCOMPARE(info.orientation, orientation);
        QCOMPARE(info.thumbnailLength > 0, thumbnail);
        if (thumbnail)
            QVERIFY(info.thumbnailOffset + info.thumbnailLength <= payload.size());
    }
};

QTEST_GUILESS_MAIN(EmbeddedPreviewTest)
#include "embeddedpreviewtest.moc"
