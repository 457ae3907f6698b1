#include "components/codecs/pcdhandler.h"
#include "components/engine/imageio.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <functional>

using namespace qmt;

namespace {

struct Ycc {
    uchar y, c1, c2;
};

// A Photo CD image pack built byte by byte: sector 1 names the pack, byte 0x0E02 holds the
// orientation, and each of the three base resolutions is stored by row pairs (two luma rows,
// then the two half-width chroma rows) at its sector. `pixel` gives the YCC of each stored
// pixel, in coordinates of the resolution (chroma is taken at even coordinates).
QByteArray makePcd(int orientation, const std::function<Ycc(int w, int h, int x, int y)> &pixel,
                   qint64 size = PcdHandler::kBaseEnd)
{
    QByteArray f(PcdHandler::kBaseEnd, '\0');
    memcpy(f.data() + PcdHandler::kSector, "PCD_IPI", 7);
    f[PcdHandler::kOrientationOffset] = char(orientation);
    const struct {
        int w, h;
        qint64 at;
    } planes[] = {{192, 128, PcdHandler::kBase16Offset},
                  {384, 256, PcdHandler::kBase4Offset},
                  {768, 512, PcdHandler::kBaseOffset}};
    for (const auto &p : planes) {
        char *out = f.data() + p.at;
        for (int y = 0; y < p.h; y += 2) {
            for (int row = 0; row < 2; ++row)
                for (int x = 0; x < p.w; ++x)
                    *out++ = char(pixel(p.w, p.h, x, y + row).y);
            for (int x = 0; x < p.w; x += 2)
                *out++ = char(pixel(p.w, p.h, x, y).c1);
            for (int x = 0; x < p.w; x += 2)
                *out++ = char(pixel(p.w, p.h, x, y).c2);
        }
    }
    return f.left(size);
}

// Four grey quarters: luma 60, 120 (top) and 180, 240 (bottom), chroma neutral.
Ycc quarters(int w, int h, int x, int y)
{
    const uchar luma = uchar(60 + (x >= w / 2 ? 60 : 0) + (y >= h / 2 ? 120 : 0));
    return {luma, 156, 137};
}

// Neutral chroma shows the luma as it is.
int greyOf(int luma)
{
    return luma;
}

Result<DecodedImage> decode(const QByteArray &data, const ReadOptions &options = {})
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    return PcdHandler::read(&buffer, options);
}

// Every page, each decoded on its own as the engine asks for them.
QList<QImage> pagesOf(const QByteArray &data)
{
    QList<QImage> pages;
    ReadOptions options;
    for (int count = 1; options.page < count; ++options.page) {
        Result<DecodedImage> decoded = decode(data, options);
        if (!decoded)
            break;
        count = decoded->pageCount;
        pages.append(decoded->pages.first());
    }
    return pages;
}

} // namespace

class PcdTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void orientation_data();
    void orientation();
    void colours();
    void pages_data();
    void pages();
    void reducedFirstPage_data();
    void reducedFirstPage();
    void notPhotoCd();
    void regressionFiles_data();
    void regressionFiles();
    void throughEngine();
    void writtenByImageMagick();
    void matchesImageMagicksReading();
};

void PcdTest::orientation_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QSize>("size");
    // The luma found in the top-left, top-right, bottom-left, bottom-right quarters.
    QTest::addColumn<QList<int>>("corners");
    QTest::newRow("upright") << 0 << QSize(768, 512) << QList<int>{60, 120, 180, 240};
    QTest::newRow("quarter counter-clockwise")
        << 1 << QSize(512, 768) << QList<int>{120, 240, 60, 180};
    QTest::newRow("upside down") << 2 << QSize(768, 512) << QList<int>{240, 180, 120, 60};
    QTest::newRow("quarter clockwise") << 3 << QSize(512, 768) << QList<int>{180, 60, 240, 120};
    QTest::newRow("high bits ignored")
        << (0xFC | 0) << QSize(768, 512) << QList<int>{60, 120, 180, 240};
}

void PcdTest::orientation()
{
    QFETCH(int, orientation);
    QFETCH(QSize, size);
    QFETCH(QList<int>, corners);
    Result<DecodedImage> decoded = decode(makePcd(orientation, quarters));
    QVERIFY2(decoded, qPrintable(decoded.error()));
    QCOMPARE(decoded->formatCode, int(FormatPcd));
    QCOMPARE(decoded->fullSize, size);
    const QList<QImage> pages = pagesOf(makePcd(orientation, quarters));
    QCOMPARE(pages.size(), 3);
    for (const QImage &page : pages) {
        const int w = page.width(), h = page.height();
        QCOMPARE(page.size(), size.scaled(w, h, Qt::KeepAspectRatio));
        const QPoint at[] = {
            {w / 4, h / 4}, {3 * w / 4, h / 4}, {w / 4, 3 * h / 4}, {3 * w / 4, 3 * h / 4}};
        for (int i = 0; i < 4; ++i) {
            const QColor c = page.pixelColor(at[i]);
            QCOMPARE(c.red(), greyOf(corners[i]));
            QCOMPARE(c.green(), greyOf(corners[i]));
            QCOMPARE(c.blue(), greyOf(corners[i]));
        }
    }
}

void PcdTest::colours()
{
    // Chroma 1 above its centre is blue, chroma 2 above its centre is red; both below, green.
    Result<DecodedImage> decoded = decode(makePcd(0, [](int w, int, int x, int) {
        if (x < w / 3)
            return Ycc{100, 156, 220};
        if (x < 2 * w / 3)
            return Ycc{100, 220, 137};
        return Ycc{100, 110, 90};
    }));
    QVERIFY(decoded);
    const QImage page = decoded->pages.first();
    const QColor red = page.pixelColor(100, 100);
    const QColor blue = page.pixelColor(384, 100);
    const QColor green = page.pixelColor(700, 100);
    QVERIFY2(red.red() > 200 && red.green() < 100 && red.blue() < 150, qPrintable(red.name()));
    QVERIFY2(blue.blue() > 200 && blue.red() < 150 && blue.green() < 150, qPrintable(blue.name()));
    QVERIFY2(green.green() > 130 && green.red() < 100 && green.blue() < 100,
             qPrintable(green.name()));
    // Inside a region the chroma samples agree, and so do the pixels between them.
    QCOMPARE(page.pixel(100, 100), page.pixel(101, 101));
    // Across the border of two regions the chroma is interpolated: the pixel between the last
    // sample of one and the first of the next takes the mean of their colours.
    const int border = 2 * (768 / 3 / 2); // the first chroma sample of the middle region
    const QColor before = page.pixelColor(border - 2, 100);
    const QColor between = page.pixelColor(border - 1, 100);
    const QColor after = page.pixelColor(border, 100);
    QVERIFY2(qAbs(between.red() - (before.red() + after.red()) / 2) <= 2 &&
                 qAbs(between.blue() - (before.blue() + after.blue()) / 2) <= 2,
             qPrintable(before.name() + between.name() + after.name()));
}

void PcdTest::pages_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QList<QSize>>("pages");
    const QList<QSize> all{{768, 512}, {384, 256}, {192, 128}};
    QTest::newRow("whole pack") << PcdHandler::kBaseEnd << all;
    QTest::newRow("base cut by one byte") << PcdHandler::kBaseEnd - 1 << all.mid(1);
    QTest::newRow("base/4 cut") << PcdHandler::kBase4Offset + 1000 << all.mid(2);
    QTest::newRow("base/16 whole, nothing after")
        << PcdHandler::kBase16Offset + 192 * 128 * 3 / 2 << all.mid(2);
}

void PcdTest::pages()
{
    QFETCH(qint64, size);
    QFETCH(QList<QSize>, pages);
    Result<DecodedImage> decoded = decode(makePcd(0, quarters, size));
    QVERIFY2(decoded, qPrintable(decoded.error()));
    QCOMPARE(decoded->pageCount, pages.size());
    QList<QSize> sizes;
    for (const QImage &page : pagesOf(makePcd(0, quarters, size)))
        sizes.append(page.size());
    QCOMPARE(sizes, pages);
}

void PcdTest::reducedFirstPage_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QSize>("target");
    QTest::addColumn<QSize>("page");
    QTest::newRow("thumbnail") << 0 << QSize(140, 140) << QSize(192, 128);
    QTest::newRow("half size") << 0 << QSize(300, 200) << QSize(384, 256);
    QTest::newRow("larger than base") << 0 << QSize(1000, 1000) << QSize(768, 512);
    QTest::newRow("no target") << 0 << QSize() << QSize(768, 512);
    QTest::newRow("turned, tall target") << 3 << QSize(200, 300) << QSize(256, 384);
}

void PcdTest::reducedFirstPage()
{
    QFETCH(int, orientation);
    QFETCH(QSize, target);
    QFETCH(QSize, page);
    ReadOptions options;
    options.firstPageOnly = true;
    options.targetSize = target;
    Result<DecodedImage> decoded = decode(makePcd(orientation, quarters), options);
    QVERIFY(decoded);
    QCOMPARE(decoded->pages.size(), 1);
    QCOMPARE(decoded->pages.first().size(), page);
}

void PcdTest::notPhotoCd()
{
    QByteArray other = makePcd(0, quarters);
    other[PcdHandler::kSector + 4] = 'X';
    QVERIFY(!PcdHandler::canRead(other));
    QVERIFY(!decode(other));
    QVERIFY(!decode(makePcd(0, quarters, 3000)));
    QVERIFY(!decode(makePcd(0, quarters, PcdHandler::kBase16Offset + 100)));
    QVERIFY(!decode(QByteArray()));
    QVERIFY(PcdHandler::canRead(makePcd(0, quarters, 4000)));
}

void PcdTest::regressionFiles_data()
{
    QTest::addColumn<QString>("path");
    const QDir dir(qEnvironmentVariable("QMT_TEST_DATA") + QStringLiteral("/codecs/pcd"));
    const QStringList files = dir.entryList(QDir::Files, QDir::Name);
    if (files.isEmpty())
        QTest::newRow("no files") << QString();
    for (const QString &file : files)
        QTest::newRow(qPrintable(file)) << dir.filePath(file);
}

void PcdTest::regressionFiles()
{
    QFETCH(QString, path);
    QVERIFY2(!path.isEmpty(), "tests/data/codecs/pcd holds no files");
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    Result<DecodedImage> all = PcdHandler::decode(bytes, {});
    if (QFileInfo(path).fileName().startsWith(QStringLiteral("seed-")))
        QVERIFY2(all, qPrintable(all.error()));
    ReadOptions options;
    options.firstPageOnly = true;
    options.targetSize = QSize(100, 100);
    PcdHandler::decode(bytes, options);
}

void PcdTest::throughEngine()
{
    QTemporaryDir dir;
    for (const QString &name : {QStringLiteral("photo.pcd"), QStringLiteral("photo.jpg")}) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(makePcd(1, quarters));
        file.close();
        Result<DecodedImage> decoded = readImageFile(file.fileName());
        QVERIFY2(decoded, qPrintable(decoded.error()));
        QCOMPARE(decoded->formatCode, int(FormatPcd));
        QCOMPARE(decoded->pageCount, 3);
        QCOMPARE(decoded->pages.first().size(), QSize(512, 768));
    }
}

void PcdTest::writtenByImageMagick()
{
    // An independent writer: ImageMagick's Photo CD encoder, from a picture of known colours.
    const QString convert = QStringLiteral("/usr/bin/convert");
    if (!QFile::exists(convert))
        QSKIP("ImageMagick is not installed");
    QTemporaryDir dir;
    QImage source(768, 512, QImage::Format_RGB32);
    source.fill(qRgb(200, 40, 40));
    for (int y = 256; y < 512; ++y)
        for (int x = 0; x < 768; ++x)
            source.setPixel(x, y, x < 384 ? qRgb(40, 40, 200) : qRgb(120, 120, 120));
    const QString png = dir.filePath(QStringLiteral("source.png"));
    const QString pcd = dir.filePath(QStringLiteral("magick.pcd"));
    QVERIFY(source.save(png));
    QProcess magick;
    magick.start(convert, {png, pcd});
    QVERIFY(magick.waitForFinished(60000));
    if (magick.exitCode() != 0)
        QSKIP("ImageMagick cannot write Photo CD here");
    QFile packed(pcd);
    QVERIFY(packed.open(QIODevice::ReadOnly));
    const QList<QImage> pages = pagesOf(packed.readAll());
    QCOMPARE(pages.size(), 3);
    // Its encoder lays a tone curve of its own over the colours, so only the layout is compared:
    // each region keeps its dominant channel, and the grey stays grey, at every resolution.
    for (const QImage &page : pages) {
        const int w = page.width(), h = page.height();
        const QColor top = page.pixelColor(w / 2, h / 4);
        const QColor lowLeft = page.pixelColor(w / 4, 3 * h / 4);
        const QColor lowRight = page.pixelColor(3 * w / 4, 3 * h / 4);
        const QString where = QStringLiteral("%1x%2: %3 %4 %5")
                                  .arg(w)
                                  .arg(h)
                                  .arg(top.name(), lowLeft.name(), lowRight.name());
        QVERIFY2(top.red() > top.green() + 80 && top.red() > top.blue() + 80, qPrintable(where));
        QVERIFY2(lowLeft.blue() > lowLeft.red() + 80 && lowLeft.blue() > lowLeft.green() + 80,
                 qPrintable(where));
        QVERIFY2(qAbs(lowRight.red() - lowRight.green()) < 25 &&
                     qAbs(lowRight.green() - lowRight.blue()) < 25,
                 qPrintable(where));
    }
}

void PcdTest::matchesImageMagicksReading()
{
    // ImageMagick's reading of a Photo CD file is the reference the program is held to: a photo
    // of smooth colours with sharp edges between them, written and read back by ImageMagick.
    const QString convert = QStringLiteral("/usr/bin/convert");
    if (!QFile::exists(convert))
        QSKIP("ImageMagick is not installed");
    QTemporaryDir dir;
    QImage photo(768, 512, QImage::Format_RGB32);
    for (int y = 0; y < 512; ++y)
        for (int x = 0; x < 768; ++x) {
            const int band = (x / 96 + y / 128) % 3;
            photo.setPixel(x, y,
                           qRgb(band == 0 ? 230 - y / 4 : x / 4, band == 1 ? 220 : y / 3,
                                band == 2 ? 40 + x / 5 : 90));
        }
    const QString png = dir.filePath(QStringLiteral("photo.png"));
    const QString pcd = dir.filePath(QStringLiteral("photo.pcd"));
    const QString reference = dir.filePath(QStringLiteral("reference.png"));
    QVERIFY(photo.save(png));
    QCOMPARE(QProcess::execute(convert, {png, pcd}), 0);
    QCOMPARE(QProcess::execute(convert, {pcd, "-depth", "8", "PNG24:" + reference}), 0);
    const QImage expected = QImage(reference).convertToFormat(QImage::Format_RGB32);
    Result<DecodedImage> decoded = readImageFile(pcd);
    QVERIFY2(decoded, qPrintable(decoded.error()));
    const QImage ours = decoded->pages.first().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(ours.size(), expected.size());
    double squares = 0;
    for (int y = 0; y < ours.height(); ++y)
        for (int x = 0; x < ours.width(); ++x) {
            const QRgb a = ours.pixel(x, y), b = expected.pixel(x, y);
            for (const int d : {qRed(a) - qRed(b), qGreen(a) - qGreen(b), qBlue(a) - qBlue(b)})
                squares += double(d) * d;
        }
    const double mse = squares / (3.0 * ours.width() * ours.height());
    const double psnr = mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
    QVERIFY2(psnr >= 40, qPrintable(QStringLiteral("PSNR %1").arg(psnr)));
}

QTEST_MAIN(PcdTest)
#include "pcdtest.moc"
