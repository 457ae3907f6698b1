// Reading every format through the engine: files made by ImageMagick or PIL from a known picture,
// compared pixel by pixel with the picture or with an outside decoder's reading of the same file.

#include "codectestutil.h"

#include "components/engine/imageio.h"

#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

using namespace codectest;
using qmt::readImageFile;

class CodecReadTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    void initTestCase();
    void readsEveryVariant_data();
    void readsEveryVariant();
    void countsPages_data();
    void countsPages();
    void jpegDecodesReduced_data();
    void jpegDecodesReduced();
    void jpegAppliesOrientation_data();
    void jpegAppliesOrientation();
    void jpegConvertsIccProfile();
    void readsHeaderlessVersion5Dib();
    void psdAlphaOnlyWhenTheLayersSaySo_data();
    void psdAlphaOnlyWhenTheLayersSaySo();
    void psdDecodesReduced();
    void psdReadsOnlyTheChannelsOfThePicture_data();
    void psdReadsOnlyTheChannelsOfThePicture();
};

void CodecReadTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(noiseImage(37, 23, false).save(path("src.png")));
    QVERIFY(noiseImage(37, 23, true).save(path("alpha.png")));
    if (haveConvert()) {
        QVERIFY(convert({path("src.png"), "-colors", "64", "-type", "palette", path("pal.png")}));
        QVERIFY(convert({path("src.png"), "-colorspace", "gray", "-depth", "8", path("gray.png")}));
    }
}

// Rows: how the file is made (tool and arguments), what it is compared with, the tolerance.
void CodecReadTest::readsEveryVariant_data()
{
    QTest::addColumn<QString>(
        "tool"); // "im" (convert INPUT ARGS... OUT) or "pil" (save(OUT, **ARGS))
    QTest::addColumn<QString>("input"); // src.png, alpha.png, pal.png, gray.png
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("reference"); // "source", "im" or "pil"
    QTest::addColumn<int>("tolerance");
    QTest::addColumn<int>("formatCode");

    QTest::newRow("psd rgb raw") << "im"
                                 << "src.png" << QStringList{"-compress", "none"} << "a.psd"
                                 << "source" << 0 << 9;
    QTest::newRow("psd rgb rle") << "im"
                                 << "src.png" << QStringList{"-compress", "RLE"} << "b.psd"
                                 << "source" << 0 << 9;
    QTest::newRow("psd 16 bit") << "im"
                                << "src.png" << QStringList{"-depth", "16"} << "c.psd"
                                << "source" << 0 << 9;
    QTest::newRow("psd grey") << "im"
                              << "src.png" << QStringList{"-colorspace", "gray"} << "d.psd"
                              << "im" << 0 << 9;
    QTest::newRow("psd grey 16 bit") << "im"
                                     << "gray.png" << QStringList{"-depth", "16"} << "d16.psd"
                                     << "source" << 0 << 9;
    QTest::newRow("psd cmyk") << "im"
                              << "src.png" << QStringList{"-colorspace", "cmyk"} << "e.psd"
                              << "im" << 1 << 9;
    QTest::newRow("psd alpha") << "im"
                               << "alpha.png" << QStringList{} << "f.psd"
                               << "source" << 0 << 9;
    QTest::newRow("psd indexed") << "im"
                                 << "pal.png" << QStringList{"-type", "palette"} << "g.psd"
                                 << "source" << 0 << 9;
    QTest::newRow("psd bitmap") << "im"
                                << "src.png" << QStringList{"-monochrome"} << "h.psd"
                                << "im" << 0 << 9;
    QTest::newRow("psd layers") << "im"
                                << "src.png" << QStringList{"(", "src.png", "-flip", ")",
                                                            "(", "pal.png", "-flop", ")"}
                                << "i.psd"
                                << "im" << 0 << 9;
    QTest::newRow("pcx 24 bit planes") << "im"
                                       << "src.png" << QStringList{} << "a.pcx"
                                       << "source" << 0 << 4;
    QTest::newRow("pcx 8 bit palette") << "im"
                                       << "pal.png" << QStringList{"-type", "palette"} << "b.pcx"
                                       << "source" << 0 << 4;
    QTest::newRow("pcx 4 bit") << "im"
                               << "src.png" << QStringList{"-colors", "16", "-type", "palette"}
                               << "c.pcx"
                               << "im" << 0 << 4;
    QTest::newRow("pcx 1 bit") << "im"
                               << "src.png" << QStringList{"-monochrome"} << "d.pcx"
                               << "pil" << 0 << 4;
    QTest::newRow("tga raw 24") << "pil"
                                << "src.png" << QStringList{} << "a.tga"
                                << "source" << 0 << 5;
    QTest::newRow("tga rle 24") << "pil"
                                << "src.png" << QStringList{"compression='tga_rle'"} << "b.tga"
                                << "source" << 0 << 5;
    QTest::newRow("tga raw 32") << "pil"
                                << "alpha.png" << QStringList{} << "c.tga"
                                << "source" << 0 << 5;
    QTest::newRow("tga rle 32") << "pil"
                                << "alpha.png" << QStringList{"compression='tga_rle'"} << "d.tga"
                                << "source" << 0 << 5;
    QTest::newRow("tga grey") << "pil"
                              << "gray.png" << QStringList{} << "e.tga"
                              << "source" << 0 << 5;
    QTest::newRow("tga grey rle") << "pil"
                                  << "gray.png" << QStringList{"compression='tga_rle'"} << "f.tga"
                                  << "source" << 0 << 5;
    QTest::newRow("tga colour-mapped") << "pil"
                                       << "pal.png" << QStringList{} << "g.tga"
                                       << "source" << 0 << 5;
    QTest::newRow("tga colour-mapped rle")
        << "pil"
        << "pal.png" << QStringList{"compression='tga_rle'"} << "h.tga"
        << "source" << 0 << 5;
    QTest::newRow("tga top-left origin") << "pil"
                                         << "src.png" << QStringList{"orientation=1"} << "i.tga"
                                         << "source" << 0 << 5;
    QTest::newRow("bmp 24") << "im"
                            << "src.png" << QStringList{} << "a.bmp"
                            << "source" << 0 << 6;
    QTest::newRow("bmp 8 palette") << "im"
                                   << "pal.png" << QStringList{"-type", "palette"} << "b.bmp"
                                   << "source" << 0 << 6;
    QTest::newRow("bmp 8 rle") << "im"
                               << "pal.png" << QStringList{"-type", "palette", "-compress", "RLE"}
                               << "c.bmp"
                               << "source" << 0 << 6;
    QTest::newRow("bmp 4 bit") << "im"
                               << "src.png" << QStringList{"-colors", "16", "-type", "palette"}
                               << "d.bmp"
                               << "pil" << 0 << 6;
    QTest::newRow("bmp 1 bit") << "im"
                               << "src.png" << QStringList{"-monochrome"} << "e.bmp"
                               << "pil" << 0 << 6;
    QTest::newRow("bmp 565") << "im"
                             << "src.png" << QStringList{"-define", "bmp:subtype=RGB565"} << "f.bmp"
                             << "im" << 0 << 6;
    QTest::newRow("bmp 555") << "im"
                             << "src.png" << QStringList{"-define", "bmp:subtype=RGB555"} << "g.bmp"
                             << "im" << 0 << 6;
    QTest::newRow("bmp 32 alpha") << "im"
                                  << "alpha.png" << QStringList{} << "h.bmp"
                                  << "source" << 0 << 6;
    QTest::newRow("bmp os2") << "im"
                             << "pal.png" << QStringList{"-type", "palette"} << "BMP2:i.bmp"
                             << "source" << 0 << 6;
    QTest::newRow("gif") << "im"
                         << "pal.png" << QStringList{} << "a.gif"
                         << "source" << 0 << 11;
    QTest::newRow("gif transparent")
        << "im"
        << "pal.png" << QStringList{"-transparent",      "black",        "-fill", "black", "-draw",
                                    "rectangle 0,0 5,5", "-transparent", "black"}
        << "b.gif"
        << "im" << 0 << 11;
    QTest::newRow("png palette") << "im"
                                 << "pal.png" << QStringList{} << "PNG8:a.png"
                                 << "source" << 0 << 2;
    QTest::newRow("png grey") << "im"
                              << "gray.png" << QStringList{} << "b.png"
                              << "source" << 0 << 2;
    QTest::newRow("png 16 bit alpha") << "im"
                                      << "alpha.png" << QStringList{"-depth", "16"} << "PNG64:c.png"
                                      << "source" << 1 << 2;
    QTest::newRow("png interlaced") << "im"
                                    << "src.png" << QStringList{"-interlace", "PNG"} << "d.png"
                                    << "source" << 0 << 2;
    QTest::newRow("tif lzw") << "im"
                             << "src.png" << QStringList{"-compress", "lzw"} << "a.tif"
                             << "source" << 0 << 3;
    QTest::newRow("tif zip alpha") << "im"
                                   << "alpha.png" << QStringList{"-compress", "zip"} << "b.tif"
                                   << "source" << 1 << 3;
    QTest::newRow("tif packbits") << "im"
                                  << "src.png" << QStringList{"-compress", "RLE"} << "c.tif"
                                  << "source" << 0 << 3;
    QTest::newRow("jpeg baseline") << "im"
                                   << "src.png" << QStringList{"-quality", "95"} << "a.jpg"
                                   << "im" << 2 << 1;
    QTest::newRow("jpeg progressive") << "im"
                                      << "src.png" << QStringList{"-interlace", "JPEG"} << "b.jpg"
                                      << "im" << 2 << 1;
    QTest::newRow("jpeg grey") << "im"
                               << "gray.png" << QStringList{} << "c.jpg"
                               << "im" << 2 << 1;
    QTest::newRow("jpeg cmyk") << "im"
                               << "src.png" << QStringList{"-colorspace", "cmyk"} << "d.jpg"
                               << "im" << 3 << 1;
    QTest::newRow("wbmp") << "im"
                          << "src.png" << QStringList{"-monochrome"} << "a.wbmp"
                          << "im" << 0 << 10;
    // Sides above 127 take two bytes each in the header.
    QTest::newRow("wbmp dithered 173x131")
        << "im"
        << "src.png" << QStringList{"-resize", "173x131!", "-monochrome"} << "b.wbmp"
        << "im" << 0 << 10;
}

void CodecReadTest::readsEveryVariant()
{
    QFETCH(QString, tool);
    QFETCH(QString, input);
    QFETCH(QStringList, args);
    QFETCH(QString, file);
    QFETCH(QString, reference);
    QFETCH(int, tolerance);
    QFETCH(int, formatCode);

    if (!haveConvert())
        QSKIP("ImageMagick is not installed");
    if ((tool == "pil" || reference == "pil") && !havePil())
        QSKIP("Python's PIL is not installed");

    QString prefix;
    if (file.contains(':')) {
        prefix = file.section(':', 0, 0) + ':';
        file = file.section(':', 1);
    }
    const QString target = path(file);
    if (tool == "im") {
        QStringList imArgs{path(input)};
        for (QString a : args)
            imArgs << (a.endsWith(".png") ? path(a) : a);
        imArgs << prefix + target;
        QVERIFY(convert(imArgs));
    } else {
        QProcess p;
        const QString options = args.isEmpty() ? QString() : ", " + args.join(", ");
        p.start(kPython, {"-c",
                          QStringLiteral("import sys\nfrom PIL import Image\n"
                                         "Image.open(sys.argv[1]).save(sys.argv[2]%1)")
                              .arg(options),
                          path(input), target});
        QVERIFY(p.waitForFinished(60000));
        QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
    }

    const auto decoded = readImageFile(target);
    QVERIFY2(decoded.ok(), qPrintable(decoded.error()));
    QCOMPARE(decoded->formatCode, formatCode);
    QVERIFY(decoded->bitsPerPixel > 0);

    QImage expected;
    if (reference == "source")
        expected = QImage(path(input));
    else if (reference == "im")
        expected = decodeWithImageMagick(target, m_dir.path());
    else
        expected = decodeWithPil(target, m_dir.path());
    QVERIFY(!expected.isNull());
    const int difference = maxDifference(decoded->pages.first(), expected, tolerance, target);
    QVERIFY2(difference >= 0, "the sizes differ");
    QVERIFY2(difference <= tolerance, qPrintable(QStringLiteral("difference %1").arg(difference)));
}

void CodecReadTest::countsPages_data()
{
    QTest::addColumn<QStringList>("inputs");
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("pages");

    QTest::newRow("animated gif") << QStringList{"src.png", "pal.png", "gray.png"} << "anim.gif"
                                  << 3;
    QTest::newRow("multi-page tiff") << QStringList{"src.png", "pal.png"} << "multi.tif" << 2;
    QTest::newRow("layered psd is one merged page")
        << QStringList{"src.png", "pal.png"} << "layers.psd" << 1;
}

void CodecReadTest::countsPages()
{
    QFETCH(QStringList, inputs);
    QFETCH(QString, file);
    QFETCH(int, pages);
    if (!haveConvert())
        QSKIP("ImageMagick is not installed");
    QStringList args;
    for (const QString &i : inputs)
        args << path(i);
    args << path(file);
    QVERIFY(convert(args));
    const auto decoded = readImageFile(path(file));
    QVERIFY2(decoded.ok(), qPrintable(decoded.error()));
    QCOMPARE(decoded->pageCount, pages);
    QCOMPARE(decoded->pages.size(), 1);
    const QList<QImage> every = readEveryPage(path(file));
    QCOMPARE(every.size(), pages);
    // Every page is a real picture; the second page of the GIF and TIFF is the palette image.
    if (pages > 1) {
        const QImage second = QImage(path(inputs.at(1)));
        QCOMPARE(maxDifference(every.at(1), second, 0, path(file)), 0);
    }
    qmt::ReadOptions past;
    past.page = pages;
    QVERIFY(!readImageFile(path(file), past));
}

void CodecReadTest::jpegDecodesReduced_data()
{
    QTest::addColumn<QSize>("target");
    QTest::addColumn<QSize>("expected");
    // A 1000 x 600 photo: the smallest of 1/1, 1/2, 1/4, 1/8 that still fills the target box
    // when fitted into it (as wide as the box or as high).
    QTest::newRow("none") << QSize() << QSize(1000, 600);
    QTest::newRow("larger than the image") << QSize(2000, 2000) << QSize(1000, 600);
    QTest::newRow("half") << QSize(500, 300) << QSize(500, 300);
    QTest::newRow("just over a quarter") << QSize(251, 100) << QSize(250, 150);
    QTest::newRow("quarter") << QSize(250, 150) << QSize(250, 150);
    QTest::newRow("just over a quarter both ways") << QSize(251, 151) << QSize(500, 300);
    QTest::newRow("eighth") << QSize(120, 70) << QSize(125, 75);
    QTest::newRow("thumbnail box") << QSize(100, 100) << QSize(125, 75);
    QTest::newRow("tiny") << QSize(10, 10) << QSize(125, 75);
}

void CodecReadTest::jpegDecodesReduced()
{
    QFETCH(QSize, target);
    QFETCH(QSize, expected);
    const QString file = path("big.jpg");
    if (!QFile::exists(file)) {
        QImage big = noiseImage(1000, 600, false).scaled(1000, 600);
        QVERIFY(big.save(file, "jpeg", 90));
    }
    qmt::ReadOptions options;
    options.targetSize = target;
    const auto decoded = readImageFile(file, options);
    QVERIFY2(decoded.ok(), qPrintable(decoded.error()));
    QCOMPARE(decoded->pages.first().size(), expected);
    QCOMPARE(decoded->fullSize, QSize(1000, 600));
}

void CodecReadTest::jpegAppliesOrientation_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QSize>("target");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("upright") << 1 << QSize() << QSize(64, 32);
    QTest::newRow("mirrored") << 2 << QSize() << QSize(64, 32);
    QTest::newRow("upside down") << 3 << QSize() << QSize(64, 32);
    QTest::newRow("turned right") << 6 << QSize() << QSize(32, 64);
    QTest::newRow("turned left") << 8 << QSize() << QSize(32, 64);
    QTest::newRow("turned right, reduced") << 6 << QSize(8, 16) << QSize(8, 16);
    QTest::newRow("transposed") << 5 << QSize() << QSize(32, 64);
}

void CodecReadTest::jpegAppliesOrientation()
{
    QFETCH(int, orientation);
    QFETCH(QSize, target);
    QFETCH(QSize, expected);
    if (!QFile::exists("/usr/bin/exiftool"))
        QSKIP("exiftool is not installed");
    // A picture with one red corner (top left as stored) and the rest blue.
    QImage stored(64, 32, QImage::Format_RGB32);
    stored.fill(qRgb(0, 0, 255));
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            stored.setPixel(x, y, qRgb(255, 0, 0));
    const QString file = path(QStringLiteral("orient%1.jpg").arg(orientation));
    QVERIFY(stored.save(file, "jpeg", 95));
    QProcess p;
    p.start("/usr/bin/exiftool", {"-q", "-overwrite_original",
                                  QStringLiteral("-Orientation=%1").arg(orientation), "-n", file});
    QVERIFY(p.waitForFinished(60000) && p.exitCode() == 0);

    qmt::ReadOptions options;
    options.targetSize = target;
    const auto decoded = readImageFile(file, options);
    QVERIFY2(decoded.ok(), qPrintable(decoded.error()));
    const QImage page = decoded->pages.first();
    QCOMPARE(page.size(), expected);
    // The red corner lands where the orientation puts the stored top-left corner.
    QImage upright = stored.convertToFormat(QImage::Format_ARGB32);
    QTransform turn;
    switch (orientation) {
    case 2:
        upright = upright.mirrored(true, false);
        break;
    case 3:
        upright = upright.mirrored(true, true);
        break;
    case 5:
        upright = upright.transformed(QTransform().rotate(90)).mirrored(true, false);
        break;
    case 6:
        upright = upright.transformed(QTransform().rotate(90));
        break;
    case 8:
        upright = upright.transformed(QTransform().rotate(-90));
        break;
    default:
        break;
    }
    upright = upright.scaled(page.size());
    // Sample the centres of the four quadrants.
    for (const QPointF &f :
         {QPointF(0.1, 0.1), QPointF(0.9, 0.1), QPointF(0.1, 0.9), QPointF(0.9, 0.9)}) {
        const QPoint at(int(f.x() * page.width()), int(f.y() * page.height()));
        QVERIFY2(qAbs(qRed(page.pixel(at)) - qRed(upright.pixel(at))) < 60,
                 qPrintable(QStringLiteral("at %1,%2").arg(at.x()).arg(at.y())));
    }
}

void CodecReadTest::jpegConvertsIccProfile()
{
    const QString profile = "/usr/share/color/icc/ghostscript/a98.icc";
    if (!haveConvert() || !QFile::exists(profile))
        QSKIP("ImageMagick or an Adobe RGB profile is not available");
    // Flat colours survive JPEG almost exactly; ImageMagick converts them into Adobe RGB and
    // embeds the profile. Reading must give the sRGB colours back.
    QImage flat(48, 16, QImage::Format_RGB32);
    const QRgb colours[3] = {qRgb(200, 40, 40), qRgb(40, 180, 60), qRgb(30, 60, 200)};
    for (int x = 0; x < 48; ++x)
        for (int y = 0; y < 16; ++y)
            flat.setPixel(x, y, colours[x / 16]);
    QVERIFY(flat.save(path("flat.png")));
    QVERIFY(convert({path("flat.png"), "-profile", "/usr/share/color/icc/ghostscript/srgb.icc",
                     "-profile", profile, "-quality", "98", path("adobe.jpg")}));
    const QImage raw = decodeWithImageMagick(path("adobe.jpg"), m_dir.path());
    const auto decoded = readImageFile(path("adobe.jpg"));
    QVERIFY2(decoded.ok(), qPrintable(decoded.error()));
    const QImage page = decoded->pages.first();
    for (int i = 0; i < 3; ++i) {
        const QPoint at(8 + 16 * i, 8);
        const QRgb got = page.pixel(at);
        // The stored Adobe RGB values differ clearly from sRGB; the displayed ones do not.
        QVERIFY(qAbs(qGreen(raw.pixel(at)) - qGreen(colours[i])) +
                    qAbs(qRed(raw.pixel(at)) - qRed(colours[i])) >
                12);
        QVERIFY2(qAbs(qRed(got) - qRed(colours[i])) <= 6 &&
                     qAbs(qGreen(got) - qGreen(colours[i])) <= 6 &&
                     qAbs(qBlue(got) - qBlue(colours[i])) <= 6,
                 qPrintable(QStringLiteral("colour %1: %2").arg(i).arg(got, 8, 16)));
    }
}

void CodecReadTest::readsHeaderlessVersion5Dib()
{
    if (!haveConvert())
        QSKIP("ImageMagick is not installed");
    // ImageMagick writes a picture with alpha as a 32-bit bitmap with the 124-byte header; a
    // clipboard bitmap is the same without its 14-byte file header.
    QVERIFY(convert({path("alpha.png"), path("v5.bmp")}));
    QFile bmp(path("v5.bmp"));
    QVERIFY(bmp.open(QIODevice::ReadOnly));
    const QByteArray whole = bmp.readAll();
    QCOMPARE(qFromLittleEndian<quint32>(whole.constData() + 14), 124u);
    QCOMPARE(qFromLittleEndian<quint16>(whole.constData() + 28), quint16(32));
    QVERIFY(writeFile(path("v5.dib"), whole.mid(14)));

    const auto decoded = readImageFile(path("v5.dib"));
    QVERIFY2(decoded.ok(), qPrintable(decoded.error()));
    QCOMPARE(decoded->formatCode, 6);
    QCOMPARE(maxDifference(decoded->pages.first(), QImage(path("alpha.png")), 0, path("v5")), 0);
}

namespace {

// An 8-bit RGB PSD of `image` with its alpha as the fourth channel of the merged image, and a
// layer section with `layers` as its layer count (none when 0: an empty section).
QByteArray rgbaPsd(const QImage &image, int layers)
{
    Bytes out;
    const int w = image.width(), h = image.height();
    out.raw("8BPS").be16(1).fill(6, 0).be16(4).be32(quint32(h)).be32(quint32(w)).be16(8).be16(3);
    out.be32(0).be32(0);
    if (layers == 0) {
        out.be32(0);
    } else {
        // One layer record of raw channels (alpha, red, green, blue), as Photoshop lays it out.
        Bytes info;
        info.be16(quint16(qint16(layers)))
            .be32(0)
            .be32(0)
            .be32(quint32(h))
            .be32(quint32(w))
            .be16(4);
        for (const int id : {-1, 0, 1, 2})
            info.be16(quint16(qint16(id))).be32(quint32(2 + w * h));
        info.raw("8BIMnorm").u8(255).u8(0).u8(0).u8(0).be32(12).be32(0).be32(0).be32(0);
        for (const int channel : {3, 0, 1, 2}) {
            info.be16(0);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    info.u8(int(image.pixel(x, y) >> (channel == 3 ? 24 : 16 - 8 * channel)));
        }
        if (info.data.size() % 2)
            info.u8(0);
        out.be32(quint32(4 + info.data.size() + 4)).be32(quint32(info.data.size()));
        out.raw(info.data).be32(0);
    }
    out.be16(0); // the merged image, raw: red, green, blue, then the fourth channel
    for (const int shift : {16, 8, 0, 24})
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                out.u8(int(image.pixel(x, y) >> shift));
    return out.data;
}

} // namespace

void CodecReadTest::psdAlphaOnlyWhenTheLayersSaySo_data()
{
    QTest::addColumn<int>("layers");
    QTest::addColumn<bool>("transparent");
    // A negative count says the merged image's first extra channel is its transparency;
    // otherwise that channel is a saved selection and the picture is opaque.
    QTest::newRow("negative layer count") << -1 << true;
    QTest::newRow("positive layer count") << 1 << false;
    QTest::newRow("no layers") << 0 << false;
}

void CodecReadTest::psdAlphaOnlyWhenTheLayersSaySo()
{
    QFETCH(int, layers);
    QFETCH(bool, transparent);
    const QImage source = noiseImage(37, 23, true);
    const QString file = path(QStringLiteral("rgba%1.psd").arg(layers));
    QVERIFY(writeFile(file, rgbaPsd(source, layers)));
    const auto decoded = readImageFile(file);
    QVERIFY2(decoded.ok(), qPrintable(decoded.error()));
    const QImage expected = transparent ? source : source.convertToFormat(QImage::Format_RGB32);
    QCOMPARE(maxDifference(decoded->pages.first(), expected, 0, file), 0);
    // ImageMagick reads the opaque ones the same way.
    if (!transparent && haveConvert())
        QCOMPARE(maxDifference(decoded->pages.first(), decodeWithImageMagick(file, m_dir.path())),
                 0);
}

void CodecReadTest::psdDecodesReduced()
{
    // A thumbnail of a large document is made while decoding: each 4 x 4 block becomes one
    // pixel, the mean of the block, and the document keeps its own size.
    QImage source(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            source.setPixel(x, y, qRgb(x * 4, y * 5, (x / 4 + y / 4) % 2 ? 200 : 40));
    QVERIFY(writeFile(path("big.psd"), rgbaPsd(source, 0)));
    qmt::ReadOptions options;
    options.targetSize = QSize(16, 16);
    const auto decoded = readImageFile(path("big.psd"), options);
    QVERIFY2(decoded.ok(), qPrintable(decoded.error()));
    const QImage page = decoded->pages.first();
    QCOMPARE(page.size(), QSize(16, 12));
    QCOMPARE(decoded->fullSize, QSize(64, 48));
    for (const QPoint &at : {QPoint(0, 0), QPoint(7, 5), QPoint(15, 11)}) {
        const QImage block = source.copy(at.x() * 4, at.y() * 4, 4, 4);
        int red = 0, blue = 0;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                red += qRed(block.pixel(x, y));
                blue += qBlue(block.pixel(x, y));
            }
        QVERIFY(qAbs(qRed(page.pixel(at)) - red / 16) <= 1);
        QVERIFY(qAbs(qBlue(page.pixel(at)) - blue / 16) <= 1);
    }
}

void CodecReadTest::psdReadsOnlyTheChannelsOfThePicture_data()
{
    QTest::addColumn<bool>("packed");
    QTest::newRow("raw") << false;
    QTest::newRow("run-length") << true;
}

void CodecReadTest::psdReadsOnlyTheChannelsOfThePicture()
{
    // A 16-bit CMYK document of 56 channels whose file ends after its four colour channels:
    // the other 52 never take part in the picture, so the picture is whole.
    QFETCH(bool, packed);
    const int w = 9, h = 5, channels = 56;
    Bytes out;
    out.raw("8BPS").be16(1).fill(6, 0).be16(channels).be32(h).be32(w).be16(16).be16(4);
    out.be32(0).be32(0).be32(0).be16(packed ? 1 : 0);
    const auto sample = [](int c, int x, int y) { return (c * 60 + x * 20 + y * 7) % 256; };
    // PackBits rows of 16-bit samples: one literal run each.
    if (packed) {
        for (int i = 0; i < channels * h; ++i)
            out.be16(1 + 2 * w);
    }
    for (int c = 0; c < 4; ++c)
        for (int y = 0; y < h; ++y) {
            if (packed)
                out.u8(2 * w - 1);
            for (int x = 0; x < w; ++x)
                out.u8(sample(c, x, y)).u8(0);
        }
    QVERIFY(writeFile(path("channels.psd"), out.data));
    const auto decoded = readImageFile(path("channels.psd"));
    QVERIFY2(decoded.ok(), qPrintable(decoded.error()));
    const QImage page = decoded->pages.first();
    QCOMPARE(page.size(), QSize(w, h));
    QVERIFY(!page.hasAlphaChannel());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            // Inverted inks: 255 is none. The 16-bit samples round to their high byte here.
            const auto eight = [&](int c) { return ((sample(c, x, y) << 8) + 128) / 257; };
            const int k = eight(3);
            const QRgb expected = qRgb(eight(0) * k / 255, eight(1) * k / 255, eight(2) * k / 255);
            QCOMPARE(page.pixel(x, y), expected);
        }
}

QTEST_GUILESS_MAIN(CodecReadTest)
#include "codecreadtest.moc"
