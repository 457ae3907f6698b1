#include "components/codecs/iconpages.h"
#include "components/engine/imageio.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

using namespace qmt;

namespace {

struct Entry {
    int side;
    QRgb color;
    bool damaged = false; // the entry points past the end of the file
};

void put16(QByteArray &out, quint16 v)
{
    out.append(char(v & 0xFF));
    out.append(char(v >> 8));
}
void put32(QByteArray &out, quint32 v)
{
    put16(out, quint16(v & 0xFFFF));
    put16(out, quint16(v >> 16));
}

// An icon (type 1) or cursor (type 2) file built byte by byte: the directory, then one
// 32-bit bitmap per entry (header with doubled height, BGRA rows bottom-up, AND mask).
QByteArray makeIcon(int type, const QList<Entry> &entries)
{
    QList<QByteArray> images;
    for (const Entry &e : entries) {
        QByteArray b;
        put32(b, 40);
        put32(b, quint32(e.side));
        put32(b, quint32(e.side * 2));
        put16(b, 1);
        put16(b, 32);
        for (int i = 0; i < 6; ++i)
            put32(b, 0);
        for (int i = 0; i < e.side * e.side; ++i)
            put32(b, e.color);
        const int maskRow = ((e.side + 31) / 32) * 4;
        b.append(QByteArray(maskRow * e.side, '\0'));
        images.append(b);
    }
    QByteArray out;
    put16(out, 0);
    put16(out, quint16(type));
    put16(out, quint16(entries.size()));
    quint32 offset = 6 + 16 * quint32(entries.size());
    for (int i = 0; i < entries.size(); ++i) {
        const Entry &e = entries[i];
        out.append(char(e.side >= 256 ? 0 : e.side));
        out.append(char(e.side >= 256 ? 0 : e.side));
        out.append(char(0));
        out.append(char(0));
        put16(out, type == 2 ? 3 : 1);  // planes, or the hot spot's x
        put16(out, type == 2 ? 4 : 32); // bits, or the hot spot's y
        put32(out, quint32(images[i].size()));
        put32(out, e.damaged ? 0x7FFFFF00 : offset);
        offset += quint32(images[i].size());
    }
    for (const QByteArray &image : images)
        out.append(image);
    return out;
}

} // namespace

class IconTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void order_data();
    void order();
    void firstPageIsLargest();
    void throughEngine_data();
    void throughEngine();
};

void IconTest::order_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QList<Entry>>("entries");
    // The colours of the pages in the order they must come out.
    QTest::addColumn<QList<QRgb>>("colors");
    QTest::addColumn<QList<int>>("sides");

    const QRgb red = 0xFFFF0000, green = 0xFF00FF00, blue = 0xFF0000FF, grey = 0xFF808080;
    QTest::newRow("icon, small first") << 1 << QList<Entry>{{16, red}, {48, green}, {32, blue}}
                                       << QList<QRgb>{green, blue, red} << QList<int>{48, 32, 16};
    QTest::newRow("cursor, small first") << 2 << QList<Entry>{{16, red}, {32, blue}, {64, green}}
                                         << QList<QRgb>{green, blue, red} << QList<int>{64, 32, 16};
    QTest::newRow("already largest first") << 1 << QList<Entry>{{48, green}, {16, red}}
                                           << QList<QRgb>{green, red} << QList<int>{48, 16};
    QTest::newRow("equal sizes keep the file's order")
        << 1 << QList<Entry>{{16, red}, {32, grey}, {16, blue}, {32, green}}
        << QList<QRgb>{grey, green, red, blue} << QList<int>{32, 32, 16, 16};
    QTest::newRow("one page") << 1 << QList<Entry>{{24, blue}} << QList<QRgb>{blue}
                              << QList<int>{24};
    QTest::newRow("a damaged entry among good ones")
        << 1 << QList<Entry>{{16, red}, {64, grey, true}, {32, blue}} << QList<QRgb>{blue, red}
        << QList<int>{32, 16};
}

void IconTest::order()
{
    QFETCH(int, type);
    QFETCH(QList<Entry>, entries);
    QFETCH(QList<QRgb>, colors);
    QFETCH(QList<int>, sides);
    QBuffer buffer;
    buffer.setData(makeIcon(type, entries));
    buffer.open(QIODevice::ReadOnly);
    Result<DecodedImage> decoded = readIconPages(&buffer, type == 2 ? "cur" : "ico", {});
    QVERIFY2(decoded, qPrintable(decoded.error()));
    QCOMPARE(decoded->formatCode, int(type == 2 ? FormatCur : FormatIco));
    QCOMPARE(decoded->pageCount, sides.size());
    QCOMPARE(decoded->fullSize, QSize(sides.first(), sides.first()));
    QList<QRgb> gotColors;
    QList<int> gotSides;
    ReadOptions options;
    for (options.page = 0; options.page < decoded->pageCount; ++options.page) {
        buffer.seek(0);
        Result<DecodedImage> one = readIconPages(&buffer, type == 2 ? "cur" : "ico", options);
        QVERIFY2(one, qPrintable(one.error()));
        const QImage &page = one->pages.first();
        gotColors.append(page.pixel(page.width() / 2, page.height() / 2));
        gotSides.append(page.width());
        QCOMPARE(page.height(), page.width());
    }
    QCOMPARE(gotSides, sides);
    QCOMPARE(gotColors, colors);
}

void IconTest::firstPageIsLargest()
{
    // A thumbnail asks for one page: it is the largest, even when the file lists it last.
    QBuffer buffer;
    buffer.setData(makeIcon(1, {{16, 0xFFFF0000}, {32, 0xFF0000FF}, {48, 0xFF00FF00}}));
    buffer.open(QIODevice::ReadOnly);
    ReadOptions options;
    options.firstPageOnly = true;
    Result<DecodedImage> decoded = readIconPages(&buffer, "ico", options);
    QVERIFY(decoded);
    QCOMPARE(decoded->pages.size(), 1);
    QCOMPARE(decoded->pages.first().size(), QSize(48, 48));
}

void IconTest::throughEngine_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("code");
    QTest::newRow("ico") << QStringLiteral("a.ico") << 1 << int(FormatIco);
    QTest::newRow("cur") << QStringLiteral("a.cur") << 2 << int(FormatCur);
    QTest::newRow("icon named png") << QStringLiteral("a.png") << 1 << int(FormatIco);
}

void IconTest::throughEngine()
{
    QFETCH(QString, name);
    QFETCH(int, type);
    QFETCH(int, code);
    QTemporaryDir dir;
    QFile file(dir.filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(makeIcon(type, {{16, 0xFFFF0000}, {48, 0xFF00FF00}, {32, 0xFF0000FF}}));
    file.close();
    Result<DecodedImage> decoded = readImageFile(file.fileName());
    QVERIFY2(decoded, qPrintable(decoded.error()));
    QCOMPARE(decoded->formatCode, code);
    QCOMPARE(decoded->pageCount, 3);
    ReadOptions options;
    for (const int side : {48, 32, 16}) {
        Result<DecodedImage> page = readImageFile(file.fileName(), options);
        QVERIFY2(page, qPrintable(page.error()));
        QCOMPARE(page->pages.first().width(), side);
        ++options.page;
    }
}

QTEST_MAIN(IconTest)
#include "icontest.moc"
