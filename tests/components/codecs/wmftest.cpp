#include "components/codecs/wmfhandler.h"
#include "metafilebuilder.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace qmt;
using namespace qmt::test;

namespace {

const QRgb kRed = 0xFFFF0000;
const QRgb kWhite = 0xFFFFFFFF;

QImage render(const QByteArray &file, const ReadOptions &options = {})
{
    Result<QImage> image = WmfHandler::render(file, options);
    if (!image) {
        qWarning() << image.error();
        return {};
    }
    return *image;
}

// A red solid brush and no pen, selected in slots 0 and 1.
WmfBuilder &redFill(WmfBuilder &b)
{
    return b.brush(Qt::red).select(0).pen(Qt::black, 0, 5).select(1);
}

} // namespace

class WmfTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void mapping_data();
    void mapping();
    void clipping_data();
    void clipping();
    void shapes_data();
    void shapes();
    void text();
    void bitmaps_data();
    void bitmaps();
    void objects();
    void hostile_data();
    void hostile();
    void regressionFiles_data();
    void regressionFiles();
    void reducedSize();
    void roundTrip_data();
    void roundTrip();
    void writtenStructure();
    void writtenReadByImageMagick();
    void tooLargeToWrite();
};

void WmfTest::mapping_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("red");
    QTest::addColumn<QPoint>("white");

    {
        WmfBuilder b;
        redFill(b).rectangle(10, 20, 50, 60);
        QTest::newRow("placeable, units are pixels")
            << b.build() << QSize(100, 100) << QPoint(30, 40) << QPoint(70, 70);
    }
    {
        WmfBuilder b(QRect(0, 0, 1440, 720), 1440);
        redFill(b).rectangle(0, 0, 720, 360);
        QTest::newRow("placeable, twips")
            << b.build() << QSize(96, 48) << QPoint(40, 20) << QPoint(60, 30);
    }
    {
        WmfBuilder b(QRect(-100, -100, 200, 200), 192);
        redFill(b).rectangle(-100, -100, 0, 0);
        QTest::newRow("placeable box off the origin")
            << b.build() << QSize(100, 100) << QPoint(20, 20) << QPoint(70, 70);
    }
    {
        WmfBuilder b;
        redFill(b).windowOrg(0, 0).windowExt(1000, 1000).rectangle(500, 500, 1000, 1000);
        QTest::newRow("window extent scales")
            << b.build() << QSize(100, 100) << QPoint(75, 75) << QPoint(25, 25);
    }
    {
        WmfBuilder b;
        redFill(b).windowOrg(-50, -50).windowExt(100, 100).rectangle(0, 0, 50, 50);
        QTest::newRow("window origin moves")
            << b.build() << QSize(100, 100) << QPoint(75, 75) << QPoint(25, 25);
    }
    {
        WmfBuilder b(QRect(), 96, 16, false);
        b.windowOrg(0, 0).windowExt(200, 100);
        redFill(b).rectangle(100, 0, 200, 100);
        QTest::newRow("no placeable header: window extent")
            << b.build() << QSize(200, 100) << QPoint(150, 50) << QPoint(50, 50);
    }
    {
        WmfBuilder b(QRect(), 96, 16, false);
        b.windowOrg(0, 0).windowExt(8000, 4000);
        redFill(b).rectangle(0, 0, 4000, 4000);
        QTest::newRow("no placeable header: capped")
            << b.build() << QSize(2048, 1024) << QPoint(500, 500) << QPoint(1500, 500);
    }
    {
        // Tenths of a millimetre, y upwards: 254 units are one inch, 96 pixels at 96 units/inch.
        WmfBuilder b(QRect(0, 0, 200, 200));
        redFill(b).mapMode(2).rectangle(0, 0, 254, -254);
        QTest::newRow("metric mode, y up")
            << b.build() << QSize(200, 200) << QPoint(50, 50) << QPoint(150, 150);
    }
    {
        WmfBuilder b;
        redFill(b).mapMode(7).windowExt(200, 100).viewportExt(100, 100).rectangle(0, 0, 200, 100);
        QTest::newRow("isotropic keeps the aspect")
            << b.build() << QSize(100, 100) << QPoint(50, 25) << QPoint(50, 75);
    }
    {
        WmfBuilder b;
        redFill(b).mapMode(8).windowExt(200, 100).viewportExt(100, 100).rectangle(0, 0, 200, 50);
        QTest::newRow("anisotropic stretches")
            << b.build() << QSize(100, 100) << QPoint(50, 40) << QPoint(50, 60);
    }
    {
        WmfBuilder b;
        redFill(b).viewportOrg(50, 0).rectangle(0, 0, 50, 100);
        QTest::newRow("viewport origin moves")
            << b.build() << QSize(100, 100) << QPoint(75, 50) << QPoint(25, 50);
    }
}

void WmfTest::mapping()
{
    QFETCH(QByteArray, file);
    QFETCH(QSize, size);
    QFETCH(QPoint, red);
    QFETCH(QPoint, white);
    QVERIFY(WmfHandler::canRead(file));
    const QImage image = render(file);
    QCOMPARE(image.size(), size);
    QCOMPARE(image.pixel(red), kRed);
    QCOMPARE(image.pixel(white), kWhite);
}

void WmfTest::clipping_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QPoint>("red");
    QTest::addColumn<QPoint>("white");

    {
        WmfBuilder b;
        redFill(b).rec(0x0416, {80, 80, 20, 20}).rectangle(0, 0, 100, 100);
        QTest::newRow("intersect") << b.build() << QPoint(50, 50) << QPoint(10, 10);
    }
    {
        WmfBuilder b;
        redFill(b).rec(0x0415, {60, 60, 40, 40}).rectangle(0, 0, 100, 100);
        QTest::newRow("exclude") << b.build() << QPoint(30, 30) << QPoint(50, 50);
    }
    {
        WmfBuilder b;
        redFill(b)
            .rec(0x0416, {80, 80, 20, 20})
            .rec(0x0416, {100, 100, 50, 50})
            .rectangle(0, 0, 100, 100);
        QTest::newRow("intersections combine") << b.build() << QPoint(60, 60) << QPoint(30, 30);
    }
    {
        WmfBuilder b;
        redFill(b)
            .rec(0x001E, {})
            .rec(0x0416, {20, 20, 0, 0})
            .rec(0x0127, {0xFFFF})
            .rectangle(0, 0, 100, 100);
        QTest::newRow("restored state drops the clip")
            << b.build() << QPoint(50, 50) << QPoint(-1, -1);
    }
    {
        WmfBuilder b;
        redFill(b).rec(0x0416, {50, 50, 0, 0}).rec(0x012C, {0}).rectangle(0, 0, 100, 100);
        QTest::newRow("selecting no region resets")
            << b.build() << QPoint(75, 75) << QPoint(-1, -1);
    }
    {
        // A region of two bands: the left half of the top band and the right half of the
        // bottom one. Selected as the clip, a full red rectangle shows only there.
        const QList<int> region{0, 6,  0, 0,  40, 2, 30, 0,   0,  100, 100, 2,
                                0, 50, 0, 50, 2,  2, 50, 100, 50, 100, 2};
        QByteArray params;
        for (int v : region)
            put16(params, quint16(v));
        WmfBuilder b(QRect(0, 0, 100, 100), 96, 4);
        redFill(b).raw(0x06FF, params).rec(0x012C, {2}).rectangle(0, 0, 100, 100);
        QTest::newRow("region clip, top band") << b.build() << QPoint(25, 25) << QPoint(75, 25);
        QTest::newRow("region clip, bottom band") << b.build() << QPoint(75, 75) << QPoint(25, 75);
    }
    {
        WmfBuilder b;
        redFill(b).rec(0x0416, {50, 50, 0, 0}).rec(0x0220, {50, 50}).rectangle(0, 0, 100, 100);
        QTest::newRow("offset clip") << b.build() << QPoint(75, 75) << QPoint(25, 25);
    }
    {
        WmfBuilder b;
        redFill(b)
            .windowExt(1000, 1000)
            .rec(0x0416, {1000, 1000, 500, 500})
            .rectangle(0, 0, 1000, 1000);
        QTest::newRow("clip in logical units") << b.build() << QPoint(75, 75) << QPoint(25, 25);
    }
}

void WmfTest::clipping()
{
    QFETCH(QByteArray, file);
    QFETCH(QPoint, red);
    QFETCH(QPoint, white);
    const QImage image = render(file);
    QCOMPARE(image.pixel(red), kRed);
    if (white.x() >= 0)
        QCOMPARE(image.pixel(white), kWhite);
}

void WmfTest::shapes_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QPoint>("red");
    QTest::addColumn<QPoint>("white");

    {
        WmfBuilder b;
        redFill(b).rec(0x0418, {90, 90, 10, 10});
        QTest::newRow("ellipse") << b.build() << QPoint(50, 50) << QPoint(15, 15);
    }
    {
        WmfBuilder b;
        redFill(b).rec(0x0324, {3, 10, 10, 90, 10, 10, 90});
        QTest::newRow("polygon") << b.build() << QPoint(20, 20) << QPoint(80, 80);
    }
    {
        WmfBuilder b;
        redFill(b).rec(0x0538, {2, 3, 3, 0, 0, 40, 0, 0, 40, 100, 100, 60, 100, 100, 60});
        QTest::newRow("polypolygon, second part") << b.build() << QPoint(90, 90) << QPoint(50, 50);
    }
    {
        // A pie from the right end (3 o'clock) counter-clockwise to the top (12 o'clock).
        WmfBuilder b;
        redFill(b).rec(0x081A, {0, 50, 50, 100, 100, 100, 0, 0});
        QTest::newRow("pie, upper right quarter") << b.build() << QPoint(70, 30) << QPoint(30, 70);
    }
    {
        WmfBuilder b;
        // From the bottom counter-clockwise (through 3 o'clock) to the top.
        redFill(b).rec(0x0830, {0, 50, 100, 50, 100, 100, 0, 0});
        QTest::newRow("chord, right half") << b.build() << QPoint(80, 50) << QPoint(20, 50);
    }
    {
        WmfBuilder b;
        redFill(b).rec(0x061C, {40, 40, 90, 90, 10, 10});
        QTest::newRow("round rect, corner cut") << b.build() << QPoint(50, 50) << QPoint(11, 11);
    }
    {
        WmfBuilder b;
        b.pen(Qt::red, 5).select(0).rec(0x0214, {50, 0}).rec(0x0213, {50, 100});
        QTest::newRow("move and line") << b.build() << QPoint(50, 50) << QPoint(50, 30);
    }
    {
        WmfBuilder b;
        b.pen(Qt::red, 3).select(0).rec(0x0325, {3, 10, 10, 90, 10, 90, 90});
        QTest::newRow("polyline") << b.build() << QPoint(50, 10) << QPoint(50, 50);
    }
    {
        WmfBuilder b;
        b.pen(Qt::red, 5).select(0).rec(0x0817, {0, 50, 100, 50, 100, 100, 0, 0});
        QTest::newRow("arc, right half of the circle")
            << b.build() << QPoint(99, 50) << QPoint(1, 50);
    }
    {
        QByteArray p;
        put32(p, 0x00F00021);
        for (int v : {50, 50, 0, 0})
            put16(p, quint16(v));
        WmfBuilder b;
        redFill(b).raw(0x061D, p);
        QTest::newRow("pattern blit") << b.build() << QPoint(25, 25) << QPoint(75, 75);
    }
    {
        QByteArray p;
        put32(p, colorRef(Qt::red));
        put16(p, 7);
        put16(p, 5);
        QTest::newRow("set pixel")
            << WmfBuilder().raw(0x041F, p).build() << QPoint(5, 7) << QPoint(6, 7);
    }
}

void WmfTest::shapes()
{
    QFETCH(QByteArray, file);
    QFETCH(QPoint, red);
    QFETCH(QPoint, white);
    const QImage image = render(file);
    QCOMPARE(image.pixel(red), kRed);
    QCOMPARE(image.pixel(white), kWhite);
}

void WmfTest::text()
{
    // A 20-pixel font, text at (10, 10) aligned top-left, then the same text right-aligned.
    QByteArray font;
    for (int v : {-20, 0, 0, 0, 700})
        put16(font, quint16(v));
    font.append(QByteArray(8, '\0'));
    font.append("Sans");
    font.append(QByteArray(28, '\0'));

    QByteArray text;
    put16(text, 4);
    text.append("HHHH");
    put16(text, 10);
    put16(text, 10);
    QByteArray colour;
    put32(colour, colorRef(Qt::black));
    WmfBuilder b(QRect(0, 0, 200, 100));
    b.raw(0x02FB, font).select(0).raw(0x0209, colour).rec(0x0102, {1}).raw(0x0521, text);
    const QImage image = render(b.build());
    QVERIFY(inkIn(image, QRect(10, 10, 80, 24)) > 20);
    QCOMPARE(inkIn(image, QRect(0, 40, 200, 60)), 0);
    QCOMPARE(inkIn(image, QRect(120, 0, 80, 100)), 0);

    WmfBuilder right(QRect(0, 0, 200, 100));
    QByteArray ext;
    put16(ext, 50);
    put16(ext, 190);
    put16(ext, 2);
    put16(ext, 0);
    ext.append("HH");
    right.raw(0x02FB, font).select(0).rec(0x012E, {2}).rec(0x0102, {1}).raw(0x0A32, ext);
    const QImage aligned = render(right.build());
    QVERIFY(inkIn(aligned, QRect(140, 50, 50, 24)) > 10);
    QCOMPARE(inkIn(aligned, QRect(0, 0, 130, 100)), 0);
}

void WmfTest::bitmaps_data()
{
    QTest::addColumn<QByteArray>("file");

    QImage quad(2, 2, QImage::Format_RGB32);
    quad.setPixel(0, 0, 0xFFFF0000);
    quad.setPixel(1, 0, 0xFF00FF00);
    quad.setPixel(0, 1, 0xFF0000FF);
    quad.setPixel(1, 1, 0xFFFFFF00);
    const auto stretchDib = [](const QByteArray &dib, int usage = 0) {
        QByteArray p;
        put32(p, 0x00CC0020);
        put16(p, quint16(usage));
        for (int v : {2, 2, 0, 0, 100, 100, 0, 0})
            put16(p, quint16(v));
        p.append(dib);
        return WmfBuilder().raw(0x0F43, p).build();
    };
    QTest::newRow("stretch DIB, 24 bits") << stretchDib(packedDib(quad));
    QTest::newRow("stretch DIB, top-down") << stretchDib(packedDib(quad, true));
    QTest::newRow("stretch DIB, 8-bit palette")
        << stretchDib(packedDib(quad, false, {Qt::blue, Qt::yellow, Qt::red, Qt::green}));
    {
        QByteArray p;
        put32(p, 0x00CC0020);
        for (int v : {2, 2, 0, 0, 100, 100, 0, 0})
            put16(p, quint16(v));
        p.append(packedDib(quad));
        QTest::newRow("DIB stretch blit") << WmfBuilder().raw(0x0B41, p).build();
    }
    {
        // Drawn at its own size inside a 2 x 2 unit picture shown at 100 pixels.
        QByteArray p;
        put32(p, 0x00CC0020);
        for (int v : {0, 0, 2, 2, 0, 0})
            put16(p, quint16(v));
        p.append(packedDib(quad));
        QTest::newRow("DIB blit") << WmfBuilder(QRect(0, 0, 2, 2), 2).raw(0x0940, p).build();
    }
    {
        QByteArray p;
        put16(p, 0);
        for (int v : {2, 0, 0, 0, 2, 2, 0, 0})
            put16(p, quint16(v));
        p.append(packedDib(quad));
        QTest::newRow("DIB to device") << WmfBuilder(QRect(0, 0, 2, 2), 2).raw(0x0D33, p).build();
    }
}

void WmfTest::bitmaps()
{
    QFETCH(QByteArray, file);
    const QImage image = render(file);
    QVERIFY(!image.isNull());
    const int w = image.width(), h = image.height();
    QCOMPARE(image.pixel(w / 4, h / 4), 0xFFFF0000u);
    QCOMPARE(image.pixel(3 * w / 4, h / 4), 0xFF00FF00u);
    QCOMPARE(image.pixel(w / 4, 3 * h / 4), 0xFF0000FFu);
    QCOMPARE(image.pixel(3 * w / 4, 3 * h / 4), 0xFFFFFF00u);
}

void WmfTest::objects()
{
    // Slot 0 red, slot 1 blue; deleting slot 0 frees it for green; selecting slot 0 then gives
    // green. A selection of an empty or missing slot keeps the brush in use.
    WmfBuilder b(QRect(0, 0, 100, 100), 96, 3);
    b.brush(Qt::red).brush(Qt::blue).pen(Qt::black, 0, 5).select(2);
    b.select(1).rectangle(0, 0, 50, 50);
    b.rec(0x01F0, {0}).brush(Qt::green).select(0).rectangle(50, 0, 100, 50);
    b.select(60000).rectangle(0, 50, 50, 100);
    b.rec(0x01F0, {1}).select(1).rectangle(50, 50, 100, 100);
    // A fourth object has no free slot and must not replace another.
    b.brush(Qt::magenta).select(3).rec(0x01F0, {70000 & 0xFFFF});
    const QImage image = render(b.build());
    QCOMPARE(image.pixel(25, 25), 0xFF0000FFu);
    QCOMPARE(image.pixel(75, 25), 0xFF00FF00u);
    QCOMPARE(image.pixel(25, 75), 0xFF00FF00u);
    QCOMPARE(image.pixel(75, 75), 0xFF00FF00u);
}

void WmfTest::hostile_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("opens");

    QByteArray longRecord;
    put32(longRecord, 0x7FFFFFFF);
    put16(longRecord, 0x041B);
    QByteArray zeroRecord;
    put32(zeroRecord, 0);
    put16(zeroRecord, 0x041B);
    QByteArray hugePolygon;
    put16(hugePolygon, 0xFFFF);
    hugePolygon.append(QByteArray(16, '\x10'));
    QByteArray hugePoly2;
    put16(hugePoly2, 0xFFFF);
    hugePoly2.append(QByteArray(64, '\x7F'));
    QByteArray badDib;
    put32(badDib, 0x00CC0020);
    put16(badDib, 0);
    for (int v : {2, 2, 0, 0, 100, 100, 0, 0})
        put16(badDib, quint16(v));
    put32(badDib, 40);
    put32(badDib, 0x7FFFFFFF);
    put32(badDib, 0x7FFFFFFF);
    put16(badDib, 1);
    put16(badDib, 24);

    QTest::newRow("record longer than the file")
        << WmfBuilder().brush(Qt::red).select(0).bytes(longRecord).build(false) << true;
    QTest::newRow("zero-size record") << WmfBuilder().bytes(zeroRecord).build() << true;
    QTest::newRow("polygon count beyond the record")
        << WmfBuilder().raw(0x0324, hugePolygon).build() << true;
    QTest::newRow("polypolygon count beyond the record")
        << WmfBuilder().raw(0x0538, hugePoly2).build() << true;
    QTest::newRow("bitmap of 2^31 pixels a side")
        << WmfBuilder().raw(0x0F43, badDib).build() << true;
    QTest::newRow("object table of 65535")
        << WmfBuilder(QRect(0, 0, 10, 10), 96, 65535).select(65534).rec(0x01F0, {65535}).build()
        << true;
    QTest::newRow("empty box") << WmfBuilder(QRect(5, 5, 0, 10)).build() << false;
    QTest::newRow("box of 32767 units at 1 per inch")
        << WmfBuilder(QRect(0, 0, 32767, 32767), 1).rectangle(0, 0, 100, 100).build() << true;
    QTest::newRow("no size at all")
        << WmfBuilder(QRect(), 96, 4, false).rectangle(0, 0, 5, 5).build() << false;
    QTest::newRow("header only") << WmfBuilder().build().left(22 + 18) << true;
    QTest::newRow("header cut") << WmfBuilder().build().left(30) << false;
    {
        WmfBuilder b;
        for (int i = 0; i < 3000; ++i)
            b.rec(0x001E, {});
        for (int i = 0; i < 3000; ++i)
            b.rec(0x0127, {-5000});
        QTest::newRow("deep save, wild restore") << b.build() << true;
    }
    {
        WmfBuilder b;
        b.windowExt(1, 1)
            .pen(Qt::black, 30000, 1)
            .select(0)
            .rec(0x0418, {32767, 32767, -32768, -32768});
        QTest::newRow("huge dashed ellipse") << b.build() << true;
    }
    {
        // Half a million of the smallest records: bounded by the record cap and fast.
        QByteArray many;
        for (int i = 0; i < 500000; ++i) {
            put32(many, 3);
            put16(many, 0x0035);
        }
        QTest::newRow("many tiny records") << WmfBuilder().bytes(many).build() << true;
    }
    {
        WmfBuilder b;
        for (int i = 0; i < 2000; ++i)
            b.rec(0x0415, {i % 97 + 1, i % 89 + 1, i % 97, i % 89});
        b.brush(Qt::red).select(0).rectangle(0, 0, 100, 100);
        QTest::newRow("thousands of excluded rectangles") << b.build() << true;
    }
    {
        // The object table fills up and the file keeps creating: each further create is
        // refused at once, and the picture still shows the last object selected.
        QByteArray creates;
        for (int i = 0; i < 100000; ++i) {
            put32(creates, 7);
            put16(creates, 0x02FC);
            put16(creates, 0);
            put32(creates, colorRef(i < 65535 ? Qt::red : Qt::blue));
            put16(creates, 0);
        }
        WmfBuilder b(QRect(0, 0, 10, 10), 96, 65535);
        b.bytes(creates).pen(Qt::red, 0, 5).select(65534).rectangle(0, 0, 10, 10);
        QTest::newRow("object table full") << b.build() << true;
    }
}

void WmfTest::hostile()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, opens);
    QElapsedTimer clock;
    clock.start();
    Result<QImage> image = WmfHandler::render(file);
    QCOMPARE(image.ok(), opens);
    if (opens) {
        QVERIFY(!image->isNull());
        QVERIFY(image->width() <= 8192 && image->height() <= 8192);
    } else {
        QVERIFY(!image.error().isEmpty());
    }
    // The same bytes cut at every few positions never crash either.
    for (qsizetype cut = 0; cut < qMin<qsizetype>(file.size(), 400); cut += 7)
        WmfHandler::render(file.left(cut));
}

void WmfTest::regressionFiles_data()
{
    // Seed files (valid pictures the fuzzer started from) must open; files the fuzzer found
    // harmful ("crash-", "timeout-", "oom-") must give a picture or an error, nothing worse.
    QTest::addColumn<QString>("path");
    const QDir dir(qEnvironmentVariable("QMT_TEST_DATA") + QStringLiteral("/codecs/wmf"));
    const QStringList files = dir.entryList(QDir::Files, QDir::Name);
    if (files.isEmpty())
        QTest::newRow("no files") << QString();
    for (const QString &file : files)
        QTest::newRow(qPrintable(file)) << dir.filePath(file);
}

void WmfTest::regressionFiles()
{
    QFETCH(QString, path);
    QVERIFY2(!path.isEmpty(), "tests/data/codecs/wmf holds no files");
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ReadOptions options;
    options.targetSize = QSize(256, 256);
    Result<QImage> image = WmfHandler::render(bytes, options);
    if (QFileInfo(path).fileName().startsWith(QStringLiteral("seed-"))) {
        QVERIFY2(image, qPrintable(image.error()));
        QVERIFY(!image->isNull());
    }
    WmfHandler::render(bytes);
}

void WmfTest::reducedSize()
{
    WmfBuilder b(QRect(0, 0, 1000, 500));
    redFill(b).rectangle(0, 0, 500, 500);
    ReadOptions options;
    options.targetSize = QSize(100, 100);
    QBuffer buffer;
    buffer.setData(b.build());
    buffer.open(QIODevice::ReadOnly);
    Result<DecodedImage> decoded = WmfHandler::read(&buffer, options);
    QVERIFY(decoded);
    QCOMPARE(decoded->fullSize, QSize(1000, 500));
    QCOMPARE(decoded->pages.first().size(), QSize(100, 50));
    QCOMPARE(decoded->pages.first().pixel(25, 25), kRed);
    QCOMPARE(decoded->pages.first().pixel(75, 25), kWhite);
    QCOMPARE(decoded->formatCode, int(FormatWmf));
}

void WmfTest::roundTrip_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("1 x 1") << QSize(1, 1);
    QTest::newRow("odd 7 x 5") << QSize(7, 5);
    QTest::newRow("prime 131 x 37") << QSize(131, 37);
    QTest::newRow("wide 640 x 3") << QSize(640, 3);
}

void WmfTest::roundTrip()
{
    QFETCH(QSize, size);
    QImage source(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            source.setPixel(x, y, qRgb(x * 37 % 256, y * 91 % 256, (x * y + 11) % 256));
    Result<QByteArray> bytes = WmfHandler::encode(source);
    QVERIFY(bytes);
    const QImage back = render(*bytes);
    QCOMPARE(back.size(), size);
    QCOMPARE(back.convertToFormat(QImage::Format_RGB32), source);
}

void WmfTest::writtenStructure()
{
    QImage source(5, 3, QImage::Format_ARGB32);
    source.fill(qRgba(0, 0, 255, 255));
    source.setPixel(0, 0, qRgba(0, 0, 0, 0)); // transparent: laid on white
    Result<QByteArray> bytes = WmfHandler::encode(source);
    QVERIFY(bytes);
    const QByteArray f = *bytes;
    QCOMPARE(get32(f, 0), 0x9AC6CDD7u);
    QCOMPARE(get16(f, 10), quint16(5)); // box right, bottom
    QCOMPARE(get16(f, 12), quint16(3));
    QCOMPARE(get16(f, 14), quint16(96));
    quint16 sum = 0;
    for (int i = 0; i < 10; ++i)
        sum ^= get16(f, 2 * i);
    QCOMPARE(get16(f, 20), sum);
    QCOMPARE(get16(f, 22), quint16(1));
    QCOMPARE(get16(f, 24), quint16(9));
    QCOMPARE(get16(f, 26), quint16(0x0300));
    QCOMPARE(qint64(get32(f, 28)) * 2, qint64(f.size() - 22));

    // The records: window origin, window extent, the bitmap, the end; sizes add up.
    QList<quint16> functions;
    quint32 largest = 0;
    qint64 at = 40;
    while (at + 6 <= f.size()) {
        const quint32 words = get32(f, at);
        QVERIFY(words >= 3);
        functions.append(get16(f, at + 4));
        largest = qMax(largest, words);
        if (functions.last() == 0x0F43) {
            QCOMPARE(get32(f, at + 6), 0x00CC0020u);
            QCOMPARE(get16(f, at + 10), quint16(0));
            QCOMPARE(get32(f, at + 28), 40u); // info header
            QCOMPARE(get16(f, at + 42), quint16(24));
            QCOMPARE(qint64(words) * 2, qint64(6 + 22 + 40 + 16 * 3));
        }
        at += qint64(words) * 2;
    }
    QCOMPARE(at, qint64(f.size()));
    QCOMPARE(functions, QList<quint16>({0x020B, 0x020C, 0x0F43, 0x0000}));
    QCOMPARE(get32(f, 34), largest);
    const QImage back = render(f);
    QCOMPARE(back.pixel(0, 0), kWhite);
    QCOMPARE(back.pixel(4, 2), 0xFF0000FFu);
}

void WmfTest::writtenReadByImageMagick()
{
    const QString convert = QStringLiteral("/usr/bin/convert");
    if (!QFile::exists(convert))
        QSKIP("ImageMagick is not installed");
    QImage source(40, 30, QImage::Format_RGB32);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            source.setPixel(x, y,
                            x < 20 ? (y < 15 ? qRgb(255, 0, 0) : qRgb(0, 0, 255))
                                   : (y < 15 ? qRgb(0, 255, 0) : qRgb(20, 20, 20)));
    QTemporaryDir dir;
    const QString wmf = dir.filePath(QStringLiteral("out.wmf"));
    const QString png = dir.filePath(QStringLiteral("back.png"));
    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    QVERIFY(WmfHandler::writePages({source}, &sink));
    QFile file(wmf);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(sink.data());
    file.close();
    QProcess magick;
    magick.start(convert, {wmf, QStringLiteral("PNG24:") + png});
    QVERIFY(magick.waitForFinished(60000));
    if (magick.exitCode() != 0)
        QSKIP(qPrintable(QStringLiteral("ImageMagick cannot read WMF here: ") +
                         QString::fromLocal8Bit(magick.readAllStandardError()).left(200)));
    QImage back(png);
    QVERIFY(!back.isNull());
    // ImageMagick renders at its own density; compare the middle of each quarter, scaled.
    const double sx = back.width() / 40.0, sy = back.height() / 30.0;
    const auto at = [&](int x, int y) { return QColor(back.pixel(int(x * sx), int(y * sy))); };
    const auto near = [](QColor a, QColor b) {
        return qAbs(a.red() - b.red()) < 16 && qAbs(a.green() - b.green()) < 16 &&
               qAbs(a.blue() - b.blue()) < 16;
    };
    QVERIFY2(near(at(10, 7), Qt::red), qPrintable(at(10, 7).name()));
    QVERIFY2(near(at(30, 7), Qt::green), qPrintable(at(30, 7).name()));
    QVERIFY2(near(at(10, 22), Qt::blue), qPrintable(at(10, 22).name()));
    QVERIFY2(near(at(30, 22), QColor(20, 20, 20)), qPrintable(at(30, 22).name()));
    QVERIFY(qAbs(back.width() * 30 - back.height() * 40) <= 40);
}

void WmfTest::tooLargeToWrite()
{
    const QImage wide(40000, 1, QImage::Format_RGB32);
    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    const Status status = WmfHandler::writePages({wide}, &sink);
    QVERIFY(!status);
    QVERIFY(status.error().contains(QStringLiteral("32767")));
    QCOMPARE(sink.size(), 0);
}

QTEST_MAIN(WmfTest)
#include "wmftest.moc"
