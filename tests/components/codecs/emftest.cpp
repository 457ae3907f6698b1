#include "components/codecs/emfhandler.h"
#include "components/engine/imageio.h"
#include "metafilebuilder.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>

using namespace qmt;
using namespace qmt::test;

namespace {

const QRgb kRed = 0xFFFF0000;
const QRgb kWhite = 0xFFFFFFFF;

QImage render(const QByteArray &file, const ReadOptions &options = {})
{
    Result<QImage> image = EmfHandler::render(file, options);
    if (!image) {
        qWarning() << image.error();
        return {};
    }
    return *image;
}

// A red brush in slot 1 and the stock null pen, both selected.
EmfBuilder &redFill(EmfBuilder &b)
{
    return b.brush(1, Qt::red).select(1).nullPen();
}

quint32 floatBits(float f)
{
    quint32 u;
    std::memcpy(&u, &f, 4);
    return u;
}

QImage quad()
{
    QImage q(2, 2, QImage::Format_RGB32);
    q.setPixel(0, 0, 0xFFFF0000);
    q.setPixel(1, 0, 0xFF00FF00);
    q.setPixel(0, 1, 0xFF0000FF);
    q.setPixel(1, 1, 0xFFFFFF00);
    return q;
}

} // namespace

class EmfTest : public QObject
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
    void textIsPlacedGlyphByGlyph();
    void gradient();
    void bitmaps_data();
    void bitmaps();
    void rasterOperations();
    void hostile_data();
    void hostile();
    void regressionFiles_data();
    void regressionFiles();
    void writtenRecords();
    void roundTrip_data();
    void roundTrip();
    void throughEngine();
};

void EmfTest::mapping_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("red");
    QTest::addColumn<QPoint>("white");

    {
        EmfBuilder b;
        redFill(b).rectangle(10, 20, 50, 60);
        QTest::newRow("device pixels")
            << b.build() << QSize(96, 96) << QPoint(30, 40) << QPoint(70, 70);
    }
    {
        EmfBuilder b(QRect(0, 0, 5080, 2540));
        redFill(b).rectangle(96, 0, 192, 96);
        QTest::newRow("frame of two inches by one")
            << b.build() << QSize(192, 96) << QPoint(150, 50) << QPoint(50, 50);
    }
    {
        // The frame starts half an inch in: device pixel 48 is the image's left edge.
        EmfBuilder b(QRect(1270, 0, 2540, 2540));
        redFill(b).rectangle(48, 0, 96, 96);
        QTest::newRow("frame off the origin")
            << b.build() << QSize(96, 96) << QPoint(20, 50) << QPoint(60, 50);
    }
    {
        EmfBuilder b;
        redFill(b)
            .mapMode(8)
            .windowExt(1000, 1000)
            .viewportExt(96, 96)
            .rectangle(500, 0, 1000, 1000);
        QTest::newRow("anisotropic")
            << b.build() << QSize(96, 96) << QPoint(70, 50) << QPoint(20, 50);
    }
    {
        EmfBuilder b;
        redFill(b).mapMode(7).windowExt(200, 100).viewportExt(96, 96).rectangle(0, 0, 200, 100);
        QTest::newRow("isotropic")
            << b.build() << QSize(96, 96) << QPoint(40, 20) << QPoint(40, 70);
    }
    {
        EmfBuilder b;
        redFill(b).windowOrg(-48, 0).rectangle(0, 0, 48, 96);
        QTest::newRow("window origin in text mode")
            << b.build() << QSize(96, 96) << QPoint(70, 50) << QPoint(20, 50);
    }
    {
        // Hundredths of a millimetre, y upwards from a viewport origin at the bottom.
        EmfBuilder b;
        redFill(b).mapMode(3).viewportOrg(0, 96).rectangle(0, 0, 1270, 1270);
        QTest::newRow("high metric, y up")
            << b.build() << QSize(96, 96) << QPoint(20, 70) << QPoint(20, 20);
    }
    {
        EmfBuilder b;
        redFill(b).mapMode(6).rectangle(0, 0, 720, -720);
        QTest::newRow("twips") << b.build() << QSize(96, 96) << QPoint(40, 40) << QPoint(60, 60);
    }
    {
        EmfBuilder b;
        redFill(b).mapMode(4).rectangle(0, 0, 50, -100);
        QTest::newRow("low english")
            << b.build() << QSize(96, 96) << QPoint(40, 90) << QPoint(60, 40);
    }
    {
        // World transform: scale by two, then move 10 pixels right.
        EmfBuilder b;
        redFill(b)
            .rec(35, {floatBits(2), 0, 0, floatBits(2), floatBits(10), 0})
            .rectangle(0, 0, 20, 20);
        QTest::newRow("world transform")
            << b.build() << QSize(96, 96) << QPoint(45, 35) << QPoint(5, 5);
    }
    {
        EmfBuilder b;
        redFill(b)
            .rec(35, {floatBits(2), 0, 0, floatBits(2), 0, 0})
            .rec(36, {floatBits(1), 0, 0, floatBits(1), floatBits(20), 0, 2})
            .rectangle(0, 0, 10, 10);
        QTest::newRow("world transform, left-multiplied")
            << b.build() << QSize(96, 96) << QPoint(50, 10) << QPoint(10, 10);
    }
}

void EmfTest::mapping()
{
    QFETCH(QByteArray, file);
    QFETCH(QSize, size);
    QFETCH(QPoint, red);
    QFETCH(QPoint, white);
    QVERIFY(EmfHandler::canRead(file));
    const QImage image = render(file);
    QCOMPARE(image.size(), size);
    QCOMPARE(image.pixel(red), kRed);
    QCOMPARE(image.pixel(white), kWhite);
}

void EmfTest::clipping_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QPoint>("red");
    QTest::addColumn<QPoint>("white");

    const auto region = [](int mode, QList<QRect> rects) {
        QByteArray p;
        put32(p, quint32(32 + 16 * rects.size()));
        put32(p, quint32(mode));
        put32(p, 32);
        put32(p, 1);
        put32(p, quint32(rects.size()));
        put32(p, quint32(16 * rects.size()));
        for (int v : {0, 0, 96, 96})
            put32(p, quint32(v));
        for (const QRect &r : rects) {
            for (int v : {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()})
                put32(p, quint32(v));
        }
        return p;
    };
    {
        EmfBuilder b;
        redFill(b).rec(30, {20, 20, 70, 70}).rectangle(0, 0, 96, 96);
        QTest::newRow("intersect") << b.build() << QPoint(40, 40) << QPoint(10, 10);
    }
    {
        EmfBuilder b;
        redFill(b).rec(29, {40, 40, 60, 60}).rectangle(0, 0, 96, 96);
        QTest::newRow("exclude") << b.build() << QPoint(20, 20) << QPoint(50, 50);
    }
    {
        EmfBuilder b;
        redFill(b)
            .raw(75, region(5, {QRect(0, 0, 20, 96), QRect(70, 0, 26, 96)}))
            .rectangle(0, 0, 96, 96);
        QTest::newRow("region copy") << b.build() << QPoint(80, 50) << QPoint(50, 50);
    }
    {
        EmfBuilder b;
        redFill(b)
            .raw(75, region(5, {QRect(0, 0, 20, 20)}))
            .rec(75, {0, 5})
            .rectangle(0, 0, 96, 96);
        QTest::newRow("empty region copy resets") << b.build() << QPoint(80, 80) << QPoint(-1, -1);
    }
    {
        EmfBuilder b;
        redFill(b)
            .rec(30, {0, 0, 50, 96})
            .raw(75, region(4, {QRect(0, 0, 96, 48)}))
            .rectangle(0, 0, 96, 96);
        QTest::newRow("region difference") << b.build() << QPoint(20, 70) << QPoint(20, 20);
    }
    {
        EmfBuilder b;
        redFill(b).rec(33, {}).rec(30, {0, 0, 10, 10}).rec(34, {-1}).rectangle(0, 0, 96, 96);
        QTest::newRow("save and restore") << b.build() << QPoint(50, 50) << QPoint(-1, -1);
    }
    {
        // A triangle path made the clip: the lower-left half stays white.
        EmfBuilder b;
        redFill(b)
            .rec(59, {})
            .rec(86, {0, 0, 0, 0, 3, 0 | (0 << 16), 96 | (0 << 16), 96 | (96 << 16)})
            .rec(60, {})
            .rec(67, {5})
            .rectangle(0, 0, 96, 96);
        QTest::newRow("clip path") << b.build() << QPoint(80, 10) << QPoint(10, 80);
    }
}

void EmfTest::clipping()
{
    QFETCH(QByteArray, file);
    QFETCH(QPoint, red);
    QFETCH(QPoint, white);
    const QImage image = render(file);
    QCOMPARE(image.pixel(red), kRed);
    if (white.x() >= 0)
        QCOMPARE(image.pixel(white), kWhite);
}

void EmfTest::shapes_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QPoint>("red");
    QTest::addColumn<QPoint>("white");

    const auto pts16 = [](QList<QPoint> points) {
        QList<qint64> f{0, 0, 0, 0, points.size()};
        for (const QPoint &p : points)
            f.append(quint16(p.x()) | (quint32(quint16(p.y())) << 16));
        return f;
    };
    const auto record = [](EmfBuilder &b, quint32 type, const QList<qint64> &fields) {
        QByteArray p;
        for (qint64 v : fields)
            put32(p, quint32(v));
        b.raw(type, p);
    };
    {
        EmfBuilder b;
        redFill(b).rec(42, {10, 10, 86, 86});
        QTest::newRow("ellipse") << b.build() << QPoint(48, 48) << QPoint(12, 12);
    }
    {
        EmfBuilder b;
        record(redFill(b), 86, pts16({{10, 10}, {86, 10}, {10, 86}}));
        QTest::newRow("polygon16") << b.build() << QPoint(20, 20) << QPoint(80, 80);
    }
    {
        EmfBuilder b;
        record(redFill(b), 3, {0, 0, 0, 0, 3, 10, 10, 86, 10, 10, 86});
        QTest::newRow("polygon, 32-bit points") << b.build() << QPoint(20, 20) << QPoint(80, 80);
    }
    {
        EmfBuilder b;
        record(redFill(b), 91,
               {0, 0, 0, 0, 2, 6, 3, 3, 0, 40, 40 << 16, 96 | (96 << 16), 60 | (96 << 16),
                96 | (60 << 16)});
        QTest::newRow("polypolygon16") << b.build() << QPoint(90, 90) << QPoint(48, 48);
    }
    {
        EmfBuilder b;
        b.pen(1, Qt::red, 6).select(1);
        record(b, 85, pts16({{0, 48}, {30, 48}, {60, 48}, {96, 48}}));
        QTest::newRow("bezier16 along a line") << b.build() << QPoint(48, 48) << QPoint(48, 20);
    }
    {
        EmfBuilder b;
        redFill(b).rec(47, {0, 0, 96, 96, 96, 48, 48, 0});
        QTest::newRow("pie") << b.build() << QPoint(70, 25) << QPoint(25, 70);
    }
    {
        // Clockwise arc direction turns the same pie into the other three quarters.
        EmfBuilder b;
        redFill(b).rec(57, {2}).rec(47, {0, 0, 96, 96, 96, 48, 48, 0});
        QTest::newRow("pie, clockwise") << b.build() << QPoint(25, 70) << QPoint(70, 25);
    }
    {
        EmfBuilder b;
        redFill(b).rec(44, {10, 10, 86, 86, 40, 40});
        QTest::newRow("round rect") << b.build() << QPoint(48, 48) << QPoint(11, 11);
    }
    {
        EmfBuilder b;
        b.pen(1, Qt::red, 4).select(1).rec(27, {0, 48}).rec(54, {96, 48});
        QTest::newRow("move and line") << b.build() << QPoint(48, 48) << QPoint(48, 10);
    }
    {
        EmfBuilder b;
        b.pen(1, Qt::red, 4)
            .select(1)
            .rec(27, {48, 48})
            .rec(41, {48, 48, 40, floatBits(0), floatBits(90)});
        QTest::newRow("angle arc") << b.build() << QPoint(88, 48) << QPoint(8, 48);
    }
    {
        EmfBuilder b;
        redFill(b).rec(59, {}).rec(43, {0, 0, 48, 48}).rec(60, {}).rec(62, {0, 0, 0, 0});
        QTest::newRow("filled path") << b.build() << QPoint(24, 24) << QPoint(70, 70);
    }
    {
        EmfBuilder b;
        redFill(b).rec(59, {}).rec(43, {0, 0, 48, 48}).rec(68, {}).rec(62, {0, 0, 0, 0});
        QTest::newRow("aborted path draws nothing")
            << b.build() << QPoint(-1, -1) << QPoint(24, 24);
    }
    {
        EmfBuilder b;
        b.brush(1, Qt::blue)
            .select(1)
            .pen(2, Qt::red, 8)
            .select(2)
            .select(0x80000005)
            .rectangle(10, 10, 86, 86);
        QTest::newRow("stock null brush keeps the inside")
            << b.build() << QPoint(10, 48) << QPoint(48, 48);
    }
    {
        EmfBuilder b;
        b.select(0x80000004)
            .nullPen()
            .rectangle(0, 0, 48, 96)
            .brush(3, Qt::red)
            .select(3)
            .rectangle(48, 0, 96, 96);
        QTest::newRow("stock black brush, then own")
            << b.build() << QPoint(70, 48) << QPoint(-1, -1);
    }
    {
        EmfBuilder b;
        b.nullPen().brush(1, Qt::red).select(1).rec(40, {1}).rec(43, {0, 0, 48, 48});
        QTest::newRow("deleted brush stays in use while selected")
            << b.build() << QPoint(24, 24) << QPoint(70, 70);
    }
    {
        EmfBuilder b;
        b.rec(118,
              {0, 0, 0, 0, 3, 1, 2, 0, 0, 0xFF00, 0, 96, 0, 0xFF00, 0, 0, 96, 0xFF00, 0, 0, 1, 2});
        QTest::newRow("gradient triangle of one colour")
            << b.build() << QPoint(10, 10) << QPoint(90, 90);
    }
    {
        EmfBuilder b;
        b.rec(118, {0, 0, 0, 0, 1, 1, 0, 0, 0, 0xFF00, 0, 7, 9});
        QTest::newRow("gradient with vertex out of range")
            << b.build() << QPoint(-1, -1) << QPoint(48, 48);
    }
    {
        EmfBuilder b;
        b.rec(15, {30, 40, colorRef(Qt::red)});
        QTest::newRow("pixel") << b.build() << QPoint(30, 40) << QPoint(31, 40);
    }
}

void EmfTest::shapes()
{
    QFETCH(QByteArray, file);
    QFETCH(QPoint, red);
    QFETCH(QPoint, white);
    const QImage image = render(file);
    QVERIFY(!image.isNull());
    if (red.x() >= 0)
        QCOMPARE(image.pixel(red), kRed);
    if (white.x() >= 0)
        QCOMPARE(image.pixel(white), kWhite);
}

void EmfTest::text()
{
    QByteArray font;
    put32(font, 1);
    for (int v : {-20, 0, 0, 0, 400})
        put32(font, quint32(v));
    font.append(QByteArray(8, '\0'));
    for (QChar c : QStringLiteral("Sans"))
        put16(font, c.unicode());
    font.append(QByteArray(64 - 8, '\0'));

    const auto textRecord = [](QPoint ref, const QString &s, quint32 options = 0) {
        QByteArray p;
        for (int v : {0, 0, 0, 0})
            put32(p, quint32(v));
        put32(p, 1);
        put32(p, floatBits(1));
        put32(p, floatBits(1));
        put32(p, quint32(ref.x()));
        put32(p, quint32(ref.y()));
        put32(p, quint32(s.size()));
        put32(p, 76); // the string right after the fixed part
        put32(p, options);
        for (int v : {0, 0, 0, 0})
            put32(p, quint32(v));
        put32(p, 0); // no advances
        for (QChar c : s)
            put16(p, c.unicode());
        while (p.size() % 4)
            p.append('\0');
        return p;
    };
    {
        EmfBuilder b(QRect(0, 0, 5080, 2540));
        b.raw(82, font)
            .select(1)
            .rec(24, {colorRef(Qt::black)})
            .rec(18, {1})
            .raw(84, textRecord(QPoint(10, 10), QStringLiteral("HHHH")));
        const QImage image = render(b.build());
        QVERIFY(inkIn(image, QRect(10, 10, 80, 24)) > 20);
        QCOMPARE(inkIn(image, QRect(0, 40, 192, 56)), 0);
        QCOMPARE(inkIn(image, QRect(110, 0, 82, 96)), 0);
    }
    {
        // Centred on x = 96, baseline at y = 60: ink on both sides of the centre, above 60.
        EmfBuilder b(QRect(0, 0, 5080, 2540));
        b.raw(82, font)
            .select(1)
            .rec(22, {6 | 24})
            .rec(18, {1})
            .raw(84, textRecord(QPoint(96, 60), QStringLiteral("HHHH")));
        const QImage image = render(b.build());
        QVERIFY(inkIn(image, QRect(60, 40, 36, 21)) > 10);
        QVERIFY(inkIn(image, QRect(96, 40, 36, 21)) > 10);
        QCOMPARE(inkIn(image, QRect(0, 62, 192, 34)), 0);
    }
    {
        // Opaque background box (ETO_OPAQUE) is painted in the background colour.
        QByteArray p = textRecord(QPoint(10, 10), QStringLiteral("H"), 2);
        for (int i = 0; i < 4; ++i)
            qToLittleEndian<quint32>(quint32(QList<int>{0, 0, 50, 50}[i]), p.data() + 48 + 4 * i);
        EmfBuilder b;
        b.raw(82, font).select(1).rec(25, {colorRef(Qt::red)}).raw(84, p);
        const QImage image = render(b.build());
        QCOMPARE(image.pixel(45, 45), kRed);
        QCOMPARE(image.pixel(60, 60), kWhite);
    }
}

void EmfTest::textIsPlacedGlyphByGlyph()
{
    // "fi" without advances from the file: each letter at the font's own advance, as the
    // system that recorded the file places them, never the ligature a shaping engine makes.
    const QString face = QStringLiteral("DejaVu Sans");
    QByteArray font;
    put32(font, 1);
    for (int v : {-60, 0, 0, 0, 400})
        put32(font, quint32(v));
    font.append(QByteArray(8, '\0'));
    for (QChar c : face)
        put16(font, c.unicode());
    font.append(QByteArray(64 - 2 * face.size(), '\0'));
    QByteArray text;
    for (int v : {0, 0, 0, 0, 1})
        put32(text, quint32(v));
    put32(text, floatBits(1));
    put32(text, floatBits(1));
    for (int v : {10, 10, 2, 76, 0x100, 0, 0, 0, 0, 0}) // reference, 2 chars, no box, no advances
        put32(text, quint32(v));
    put16(text, 'f');
    put16(text, 'i');
    EmfBuilder b(QRect(0, 0, 5080, 2540));
    b.raw(82, font).select(1).rec(18, {1}).raw(84, text);
    const QImage ours = render(b.build());
    QVERIFY(!ours.isNull());

    QFont qfont(face);
    qfont.setPixelSize(60);
    const QFontMetricsF metrics(qfont);
    const auto drawn = [&](bool apart) {
        QImage image(ours.size(), QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::TextAntialiasing, true);
        painter.setFont(qfont);
        painter.setPen(Qt::black);
        const QPointF origin(10, 10 + metrics.ascent());
        if (apart) {
            painter.drawText(origin, QStringLiteral("f"));
            painter.drawText(origin + QPointF(metrics.horizontalAdvance(QLatin1Char('f')), 0),
                             QStringLiteral("i"));
        } else {
            painter.drawText(origin, QStringLiteral("fi"));
        }
        return image;
    };
    const QImage apart = drawn(true);
    if (drawn(false) == apart)
        QSKIP("The font here draws \"fi\" as two letters anyway");
    int differing = 0;
    for (int y = 0; y < ours.height(); ++y)
        for (int x = 0; x < ours.width(); ++x)
            differing += ours.pixel(x, y) != apart.pixel(x, y);
    QVERIFY2(differing <= 20, qPrintable(QStringLiteral("%1 pixels differ").arg(differing)));
}

void EmfTest::gradient()
{
    // Shaded down from red at the top to white at the bottom of the upper half. Vertices: x, y,
    // then red and green, blue and alpha, 16 bits each.
    EmfBuilder b;
    b.rec(118, {0, 0, 0, 0, 2, 1, 1, 0, 0, 0xFF00, 0, 96, 48, 0xFF00FF00, 0xFF00, 0, 1});
    const QImage image = render(b.build());
    const QColor top = image.pixelColor(48, 0);
    const QColor middle = image.pixelColor(48, 24);
    const QColor bottom = image.pixelColor(48, 47);
    QVERIFY2(top.red() == 255 && top.green() < 10, qPrintable(top.name()));
    QVERIFY2(middle.red() == 255 && middle.green() > 100 && middle.green() < 156,
             qPrintable(middle.name()));
    QVERIFY2(bottom.green() > 245, qPrintable(bottom.name()));
    QCOMPARE(image.pixelColor(48, 24), image.pixelColor(5, 24)); // shaded down, not across
    QCOMPARE(image.pixel(48, 60), kWhite);
}

void EmfTest::bitmaps_data()
{
    QTest::addColumn<QByteArray>("file");
    const QByteArray dib = packedDib(quad());
    QTest::newRow("stretch DIB bits")
        << EmfBuilder().stretchDib(dib, 40, QRect(0, 0, 96, 96), QRect(0, 0, 2, 2)).build();
    QTest::newRow("stretch DIB bits, top-down")
        << EmfBuilder()
               .stretchDib(packedDib(quad(), true), 40, QRect(0, 0, 96, 96), QRect(0, 0, 2, 2))
               .build();
    QTest::newRow("stretch DIB bits, palette")
        << EmfBuilder()
               .stretchDib(packedDib(quad(), false, {Qt::red, Qt::green, Qt::blue, Qt::yellow}), 56,
                           QRect(0, 0, 96, 96), QRect(0, 0, 2, 2))
               .build();
    {
        // StretchBlt layout: bounds, dest, rop, source origin, transform, colour, usage, offsets,
        // source size.
        QByteArray p;
        for (int v : {0, 0, 0, 0, 0, 0, 96, 96})
            put32(p, quint32(v));
        put32(p, 0x00CC0020);
        put32(p, 0);
        put32(p, 0);
        for (float f : {1.f, 0.f, 0.f, 1.f, 0.f, 0.f})
            put32(p, floatBits(f));
        put32(p, 0);
        put32(p, 0);
        put32(p, 108);
        put32(p, 40);
        put32(p, 148);
        put32(p, quint32(dib.size() - 40));
        put32(p, 2);
        put32(p, 2);
        p.append(dib);
        QTest::newRow("stretch blit") << EmfBuilder().raw(77, p).build();
    }
    {
        // SetDIBitsToDevice: drawn at its own size in a picture of 2 x 2 pixels... shown at 96.
        QByteArray p;
        for (int v : {0, 0, 0, 0, 0, 0, 0, 0, 2, 2})
            put32(p, quint32(v));
        put32(p, 76);
        put32(p, 40);
        put32(p, 116);
        put32(p, quint32(dib.size() - 40));
        put32(p, 0);
        put32(p, 0);
        put32(p, 2);
        p.append(dib);
        QTest::newRow("DIB bits to device") << EmfBuilder(QRect(0, 0, 53, 53)).raw(80, p).build();
    }
}

void EmfTest::bitmaps()
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

void EmfTest::rasterOperations()
{
    // A white-on-black mask ANDed onto a red picture keeps red only where the mask is white.
    QImage mask(2, 1, QImage::Format_RGB32);
    mask.setPixel(0, 0, 0xFFFFFFFF);
    mask.setPixel(1, 0, 0xFF000000);
    EmfBuilder b;
    redFill(b)
        .rectangle(0, 0, 96, 96)
        .stretchDib(packedDib(mask), 40, QRect(0, 0, 96, 96), QRect(0, 0, 2, 1), 0x008800C6);
    const QImage image = render(b.build());
    QCOMPARE(image.pixel(20, 50), kRed);
    QCOMPARE(image.pixel(70, 50) & 0xFFFFFF, 0u);

    // PATCOPY with no bitmap fills with the brush; DSTINVERT turns white black.
    EmfBuilder c;
    redFill(c).stretchDib(QByteArray(), 0, QRect(0, 0, 48, 96), QRect(0, 0, 0, 0), 0x00F00021);
    c.stretchDib(QByteArray(), 0, QRect(48, 0, 48, 96), QRect(0, 0, 0, 0), 0x00550009);
    const QImage filled = render(c.build());
    QCOMPARE(filled.pixel(20, 50), kRed);
    QCOMPARE(filled.pixel(70, 50) & 0xFFFFFF, 0u);
}

void EmfTest::hostile_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("opens");

    QByteArray longRecord;
    put32(longRecord, 43);
    put32(longRecord, 0x7FFFFFF0);
    QByteArray zero;
    put32(zero, 43);
    put32(zero, 0);
    QByteArray odd;
    put32(odd, 43);
    put32(odd, 10);
    odd.append(QByteArray(8, '\0'));

    QTest::newRow("record longer than the file")
        << EmfBuilder().bytes(longRecord).build(false) << true;
    QTest::newRow("zero-size record") << EmfBuilder().bytes(zero).build() << true;
    QTest::newRow("size not in words") << EmfBuilder().bytes(odd).build() << true;
    QTest::newRow("point count beyond the record")
        << EmfBuilder().rec(86, {0, 0, 0, 0, 0x7FFFFFFF, 5}).build() << true;
    QTest::newRow("polypolygon counts that do not add up")
        << EmfBuilder().rec(91, {0, 0, 0, 0, 2, 3, 0x7FFFFFFF, 0x7FFFFFFF, 1, 2, 3}).build()
        << true;
    QTest::newRow("object index out of range") << EmfBuilder(QRect(0, 0, 2540, 2540), 4)
                                                      .brush(0x7FFFFFFF, Qt::red)
                                                      .select(99)
                                                      .rec(40, {-1})
                                                      .build()
                                               << true;
    QTest::newRow("bitmap offsets outside the record")
        << EmfBuilder()
               .rec(81, {0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 0x7FFFFFF0, 40, 0x7FFFFFF0, 16, 0,
                         0x00CC0020, 96, 96})
               .build()
        << true;
    QTest::newRow("text length beyond the record")
        << EmfBuilder()
               .rec(84, {0, 0, 0, 0, 1, 0, 0, 5, 5, 0x7FFFFFFF, 76, 0, 0, 0, 0, 0, 0})
               .build()
        << true;
    QTest::newRow("region count beyond the record")
        << EmfBuilder().rec(75, {48, 5, 32, 1, 0x7FFFFFFF, 0, 0, 0, 0, 0}).build() << true;
    QTest::newRow("non-finite world transform")
        << EmfBuilder().rec(35, {0x7F800000, 0, 0, 0x7FC00000, 0, 0}).rectangle(0, 0, 9, 9).build()
        << true;
    QTest::newRow("empty frame and bounds") << [] {
        QByteArray f = EmfBuilder(QRect(0, 0, 0, 0)).build();
        qToLittleEndian<quint32>(0xFFFFFFFF, f.data() + 16); // bounds right < left
        return f;
    }() << false;
    QTest::newRow("frame a kilometre wide")
        << EmfBuilder(QRect(0, 0, 100000000, 2540)).rectangle(0, 0, 9, 9).build() << true;
    QTest::newRow("header cut") << EmfBuilder().build().left(60) << false;
    QTest::newRow("bad signature") << [] {
        QByteArray f = EmfBuilder().build();
        f[40] = 'X';
        return f;
    }() << false;
    {
        EmfBuilder b;
        for (int i = 0; i < 3000; ++i)
            b.rec(33, {});
        b.rec(34, {-100000}).rec(34, {5000}).rec(34, {0});
        QTest::newRow("deep save, wild restore") << b.build() << true;
    }
    {
        // Sizes beyond an int once scaled: found by the fuzzer (undefined conversions).
        QByteArray font;
        put32(font, 1);
        for (qint64 v : {-0x7FFFFFFF, 0, 0, 0, 400})
            put32(font, quint32(v));
        font.append(QByteArray(8 + 64, '\0'));
        EmfBuilder b(QRect(0, 0, 2540, 2540), 4);
        b.raw(82, font).select(1).rec(84,
                                      {0, 0, 0, 0, 1, 0, 0, 5, 5, 1, 76, 0, 0, 0, 0, 0, 0, 'H'});
        b.brush(2, Qt::red).rec(72, {0, 0,  0, 0, 48, 2,  0x7FFFFFFF, 0x7FFFFFFF, 32, 1,
                                     1, 16, 0, 0, 96, 96, 0,          0,          40, 40});
        QTest::newRow("font and frame sizes beyond an int") << b.build() << true;
    }
    {
        QByteArray many;
        for (int i = 0; i < 400000; ++i) {
            put32(many, 61);
            put32(many, 8);
        }
        QTest::newRow("many tiny records") << EmfBuilder().bytes(many).build() << true;
    }
    {
        EmfBuilder b;
        b.pen(1, Qt::black, 0x7FFFFFFF, 2)
            .select(1)
            .rec(42, {-0x7FFFFFFF, -0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF});
        QTest::newRow("huge dotted ellipse") << b.build() << true;
    }
}

void EmfTest::hostile()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, opens);
    Result<QImage> image = EmfHandler::render(file);
    QCOMPARE(image.ok(), opens);
    if (opens)
        QVERIFY(image->width() <= 8192 && image->height() <= 8192 && !image->isNull());
    else
        QVERIFY(!image.error().isEmpty());
    for (qsizetype cut = 0; cut < qMin<qsizetype>(file.size(), 400); cut += 5)
        EmfHandler::render(file.left(cut));
}

void EmfTest::regressionFiles_data()
{
    // Seed files (valid pictures the fuzzer started from) must open; files the fuzzer found
    // harmful ("crash-", "timeout-", "oom-") must give a picture or an error, nothing worse.
    QTest::addColumn<QString>("path");
    const QDir dir(qEnvironmentVariable("QMT_TEST_DATA") + QStringLiteral("/codecs/emf"));
    const QStringList files = dir.entryList(QDir::Files, QDir::Name);
    if (files.isEmpty())
        QTest::newRow("no files") << QString();
    for (const QString &file : files)
        QTest::newRow(qPrintable(file)) << dir.filePath(file);
}

void EmfTest::regressionFiles()
{
    QFETCH(QString, path);
    QVERIFY2(!path.isEmpty(), "tests/data/codecs/emf holds no files");
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ReadOptions options;
    options.targetSize = QSize(256, 256);
    Result<QImage> image = EmfHandler::render(bytes, options);
    if (QFileInfo(path).fileName().startsWith(QStringLiteral("seed-"))) {
        QVERIFY2(image, qPrintable(image.error()));
        QVERIFY(!image->isNull());
    }
    EmfHandler::render(bytes);
}

void EmfTest::writtenRecords()
{
    QImage source(7, 5, QImage::Format_RGB32);
    source.fill(Qt::green);
    Result<QByteArray> bytes = EmfHandler::encode(source);
    QVERIFY(bytes);
    const QByteArray f = *bytes;
    const qint64 stride = 24; // 7 pixels of 3 bytes, rounded to 4
    // Header.
    QCOMPARE(get32(f, 0), 1u);
    const quint32 headerSize = get32(f, 4);
    QCOMPARE(headerSize, 108u);
    QCOMPARE(QList<quint32>({get32(f, 8), get32(f, 12), get32(f, 16), get32(f, 20)}),
             QList<quint32>({0, 0, 6, 4}));
    QCOMPARE(get32(f, 24), 0u);
    QCOMPARE(get32(f, 28), 0u);
    QCOMPARE(get32(f, 32), quint32(qRound(7 * 2540 / 96.0)));
    QCOMPARE(get32(f, 36), quint32(qRound(5 * 2540 / 96.0)));
    QCOMPARE(get32(f, 40), 0x464D4520u);
    QCOMPARE(get32(f, 44), 0x10000u);
    QCOMPARE(qint64(get32(f, 48)), qint64(f.size()));
    QCOMPARE(get32(f, 52), 3u);
    QCOMPARE(get16(f, 56), quint16(1));
    QCOMPARE(get32(f, 60), 0u); // no description
    // The reference device is 96 dots per inch.
    QCOMPARE(get32(f, 72) * 25.4 * 1000 / get32(f, 100), 96.0);
    QCOMPARE(get32(f, 76) * 25.4 * 1000 / get32(f, 104), 96.0);

    // Records walk to the end exactly: stretch-DIB, then EOF.
    QList<quint32> types;
    qint64 at = headerSize;
    while (at < f.size()) {
        const quint32 type = get32(f, at);
        const quint32 size = get32(f, at + 4);
        QVERIFY(size >= 8 && size % 4 == 0);
        types.append(type);
        if (type == 81) {
            QCOMPARE(QList<quint32>({get32(f, at + 24), get32(f, at + 28), get32(f, at + 32),
                                     get32(f, at + 36), get32(f, at + 40), get32(f, at + 44)}),
                     QList<quint32>({0, 0, 0, 0, 7, 5}));
            const quint32 offBmi = get32(f, at + 48), cbBmi = get32(f, at + 52);
            const quint32 offBits = get32(f, at + 56), cbBits = get32(f, at + 60);
            QCOMPARE(cbBmi, 40u);
            QCOMPARE(offBits, offBmi + cbBmi);
            QCOMPARE(qint64(cbBits), stride * 5);
            QCOMPARE(qint64(offBits + cbBits), qint64(size));
            QCOMPARE(get32(f, at + 64), 0u);
            QCOMPARE(get32(f, at + 68), 0x00CC0020u);
            QCOMPARE(get32(f, at + 72), 7u);
            QCOMPARE(get32(f, at + 76), 5u);
            QCOMPARE(get32(f, at + offBmi + 4), 7u);
            QCOMPARE(get32(f, at + offBmi + 8), 5u);
            QCOMPARE(get16(f, at + offBmi + 14), quint16(24));
            // First stored row is the bottom one: green is B=0, G=255, R=0.
            QCOMPARE(f.mid(at + offBits, 3), QByteArray("\x00\xFF\x00", 3));
        }
        if (type == 14) {
            QCOMPARE(size, 20u);
            QCOMPARE(get32(f, at + 8), 0u);
            QCOMPARE(get32(f, at + 16), 20u);
        }
        at += size;
    }
    QCOMPARE(at, qint64(f.size()));
    QCOMPARE(types, QList<quint32>({81, 14}));
}

void EmfTest::roundTrip_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("1 x 1") << QSize(1, 1);
    QTest::newRow("odd 7 x 5") << QSize(7, 5);
    QTest::newRow("prime 257 x 131") << QSize(257, 131);
    QTest::newRow("tall 3 x 1000") << QSize(3, 1000);
}

void EmfTest::roundTrip()
{
    QFETCH(QSize, size);
    QImage source(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            source.setPixel(x, y, qRgb(x * 13 % 256, y * 7 % 256, (x + y) % 256));
    Result<QByteArray> bytes = EmfHandler::encode(source);
    QVERIFY(bytes);
    const QImage back = render(*bytes);
    QCOMPARE(back.size(), size);
    QCOMPARE(back.convertToFormat(QImage::Format_RGB32), source);
}

void EmfTest::throughEngine()
{
    // Saved with format code 8 and read back through the engine, which finds the format by
    // content even under another extension.
    QTemporaryDir dir;
    QImage source(33, 17, QImage::Format_RGB32);
    source.fill(qRgb(10, 200, 30));
    const QString path = dir.filePath(QStringLiteral("picture.emf"));
    QVERIFY(writeImageFile({source}, path, FormatEmf));
    Result<DecodedImage> decoded = readImageFile(path);
    QVERIFY2(decoded, qPrintable(decoded.error()));
    QCOMPARE(decoded->formatCode, int(FormatEmf));
    QCOMPARE(decoded->pages.first().convertToFormat(QImage::Format_RGB32), source);

    const QString renamed = dir.filePath(QStringLiteral("picture.bin"));
    QVERIFY(QFile::copy(path, renamed));
    Result<DecodedImage> again = readImageFile(renamed);
    QVERIFY(again);
    QCOMPARE(again->formatCode, int(FormatEmf));

    const QString wmf = dir.filePath(QStringLiteral("picture.wmf"));
    QVERIFY(writeImageFile({source}, wmf, FormatWmf));
    Result<DecodedImage> fromWmf = readImageFile(wmf);
    QVERIFY(fromWmf);
    QCOMPARE(fromWmf->formatCode, int(FormatWmf));
    QCOMPARE(fromWmf->pages.first().convertToFormat(QImage::Format_RGB32), source);
}

QTEST_MAIN(EmfTest)
#include "emftest.moc"
