// Hand-built files with exact headers (variants Qt gets wrong, and damaged or hostile files):
// exact pixels where the file is sound, a clear error and never a crash where it is not.

#include "codectestutil.h"

#include "components/engine/imageio.h"

#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>

using namespace codectest;
using qmt::readImageFile;

namespace {

// A TGA header; the descriptor holds the origin bits.
Bytes tgaHeader(int type, int width, int height, int depth, int descriptor, int mapLength = 0,
                int mapBits = 0, int mapFirst = 0)
{
    Bytes b;
    b.u8(0).u8(mapLength ? 1 : 0).u8(type).u16(mapFirst).u16(mapLength).u8(mapBits);
    b.u16(0).u16(0).u16(width).u16(height).u8(depth).u8(descriptor);
    return b;
}

// A BMP with a 40-byte info header; `fileHeader` adds the 14-byte "BM" header.
Bytes bmpFile(bool fileHeader, int width, int height, int bits, int compression,
              const QByteArray &palette, const QByteArray &pixels, qint64 offsetOverride = -1,
              quint32 coloursUsed = 0, const QByteArray &masks = {})
{
    Bytes info;
    info.u32(40).u32(quint32(width)).u32(quint32(height)).u16(1).u16(bits).u32(quint32(compression));
    info.u32(quint32(pixels.size())).u32(2835).u32(2835).u32(coloursUsed).u32(0);
    info.raw(masks).raw(palette);
    Bytes file;
    if (fileHeader) {
        const qint64 offset = offsetOverride >= 0 ? offsetOverride : 14 + info.data.size();
        file.u8('B').u8('M').u32(quint32(14 + info.data.size() + pixels.size())).u32(0).u32(quint32(offset));
    }
    file.raw(info.data).raw(pixels);
    return file;
}

QByteArray greyPalette(int count)
{
    Bytes b;
    for (int i = 0; i < count; ++i)
        b.u8(i * 255 / qMax(1, count - 1)).u8(i * 255 / qMax(1, count - 1)).u8(i * 255 / qMax(1, count - 1)).u8(0);
    return b.data;
}

} // namespace

class CodecDamageTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString save(const QString &name, const QByteArray &data)
    {
        const QString file = m_dir.filePath(name);
        writeFile(file, data);
        return file;
    }

private Q_SLOTS:
    void tgaExactPixels_data();
    void tgaExactPixels();
    void bmpExactPixels_data();
    void bmpExactPixels();
    void refusesHostileFiles_data();
    void refusesHostileFiles();
    void truncatedFilesNeverCrash_data();
    void truncatedFilesNeverCrash();
    void regressionFilesNeverCrash();
    void limitsAreCoherent();
};

// Pixels as a row-major list of #AARRGGBB from the top-left corner.
using Pixels = QList<QRgb>;

void CodecDamageTest::tgaExactPixels_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<Pixels>("pixels");

    // 24 bit, 2 x 2, stored bottom row first (origin bottom-left).
    Bytes a = tgaHeader(2, 2, 2, 24, 0x00);
    a.u8(0).u8(0).u8(255).u8(0).u8(255).u8(0);   // bottom: red, green
    a.u8(255).u8(0).u8(0).u8(255).u8(255).u8(255); // top: blue, white
    QTest::newRow("24 bit bottom-up") << a.data << QSize(2, 2)
                                      << Pixels{0xff0000ff, 0xffffffff, 0xffff0000, 0xff00ff00};
    Bytes b = tgaHeader(2, 2, 2, 24, 0x20);
    b.u8(0).u8(0).u8(255).u8(0).u8(255).u8(0);
    b.u8(255).u8(0).u8(0).u8(255).u8(255).u8(255);
    QTest::newRow("24 bit top-down") << b.data << QSize(2, 2)
                                     << Pixels{0xffff0000, 0xff00ff00, 0xff0000ff, 0xffffffff};
    Bytes c = tgaHeader(2, 2, 1, 24, 0x30);
    c.u8(0).u8(0).u8(255).u8(0).u8(255).u8(0);
    QTest::newRow("right to left") << c.data << QSize(2, 1) << Pixels{0xff00ff00, 0xffff0000};
    // 16 bit: 5 bits a channel are spread over 0..255 by repeating their bits.
    Bytes d = tgaHeader(2, 3, 1, 16, 0x21);
    d.u16(0x7FFF | 0x8000).u16(0x0421 | 0x8000).u16(0x5294); // white, (1,1,1), (20,20,20) transparent
    QTest::newRow("16 bit with alpha bit") << d.data << QSize(3, 1)
                                           << Pixels{0xffffffff, 0xff080808, 0x00a5a5a5};
    Bytes e = tgaHeader(2, 2, 1, 15, 0x20);
    e.u16(0x7C00).u16(0x001F);
    QTest::newRow("15 bit") << e.data << QSize(2, 1) << Pixels{0xffff0000, 0xff0000ff};
    // Colour-mapped, first entry 2: index 2 and 3 map, index 9 is outside the map and is black.
    Bytes f = tgaHeader(1, 3, 1, 8, 0x20, 2, 24, 2);
    f.u8(0).u8(0).u8(255).u8(255).u8(0).u8(0);
    f.u8(2).u8(3).u8(9);
    QTest::newRow("colour-mapped, bad index") << f.data << QSize(3, 1)
                                              << Pixels{0xffff0000, 0xff0000ff, 0xff000000};
    // Run-length 8-bit grey: a run of 3 then 1 literal, the run crossing into the next row.
    Bytes g = tgaHeader(11, 2, 2, 8, 0x20);
    g.u8(0x82).u8(100).u8(0x00).u8(200);
    QTest::newRow("rle run across rows") << g.data << QSize(2, 2)
                                         << Pixels{0xff646464, 0xff646464, 0xff646464, 0xffc8c8c8};
    // A run longer than what is left of the image stops at the end.
    Bytes h = tgaHeader(11, 2, 1, 8, 0x20);
    h.u8(0xFF).u8(50);
    QTest::newRow("rle run past the end") << h.data << QSize(2, 1) << Pixels{0xff323232, 0xff323232};
    // 32 bit with 8 alpha bits.
    Bytes i = tgaHeader(2, 1, 1, 32, 0x28);
    i.u8(10).u8(20).u8(30).u8(128);
    QTest::newRow("32 bit alpha") << i.data << QSize(1, 1) << Pixels{0x801e140a};
}

void CodecDamageTest::tgaExactPixels()
{
    QFETCH(QByteArray, data);
    QFETCH(QSize, size);
    QFETCH(Pixels, pixels);
    const auto decoded = readImageFile(save("exact.tga", data));
    QVERIFY2(decoded.ok(), qPrintable(decoded.error()));
    QCOMPARE(decoded->formatCode, 5);
    const QImage page = decoded->pages.first().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(page.size(), size);
    for (int i = 0; i < pixels.size(); ++i) {
        const QRgb got = page.pixel(i % size.width(), i / size.width());
        const QRgb want = pixels.at(i);
        if (qAlpha(want) == 0)
            QCOMPARE(qAlpha(got), 0);
        else
            QCOMPARE(QString::number(got, 16), QString::number(want, 16));
    }
}

void CodecDamageTest::bmpExactPixels_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<Pixels>("pixels");

    // 16 bit 5-6-5 bit fields: full scale and one step of each channel.
    Bytes masks;
    masks.u32(0xF800).u32(0x07E0).u32(0x001F);
    Bytes px16;
    px16.u16(0xFFFF).u16(0x0821).u16(0x8410).u16(0); // white, (1,1,1), (16,32,16), padding
    QTest::newRow("16 bit 565") << bmpFile(true, 3, 1, 16, 3, {}, px16.data, -1, 0, masks.data).data << "bmp"
                                << QSize(3, 1) << Pixels{0xffffffff, 0xff080408, 0xff848284};
    Bytes px555;
    px555.u16(0x7FFF).u16(0x0421); // white, (1,1,1)
    QTest::newRow("16 bit 555") << bmpFile(true, 2, 1, 16, 0, {}, px555.data).data << "bmp" << QSize(2, 1)
                                << Pixels{0xffffffff, 0xff080808};
    // Top-down (negative height) 8 bit.
    Bytes px8;
    px8.u8(0).u8(255).u8(0).u8(0).u8(255).u8(0).u8(0).u8(0);
    QTest::newRow("top-down 8 bit") << bmpFile(true, 2, -2, 8, 0, greyPalette(256), px8.data).data << "bmp"
                                    << QSize(2, 2) << Pixels{0xff000000, 0xffffffff, 0xffffffff, 0xff000000};
    // RLE8: a run, a literal, end of line, a delta that skips a row, end of bitmap.
    Bytes rle8;
    rle8.u8(2).u8(255).u8(0).u8(3).u8(10).u8(20).u8(30).u8(0).u8(0).u8(0);  // row 0: 255 255 10 20 30
    rle8.u8(0).u8(2).u8(1).u8(1);                                           // delta (1, 1): to row 2, x 1
    rle8.u8(1).u8(200).u8(0).u8(1);
    QTest::newRow("rle8") << bmpFile(true, 5, 3, 8, 1, greyPalette(256), rle8.data).data << "bmp" << QSize(5, 3)
                          << Pixels{0xff000000, 0xffc8c8c8, 0xff000000, 0xff000000, 0xff000000,
                                    0xff000000, 0xff000000, 0xff000000, 0xff000000, 0xff000000,
                                    0xffffffff, 0xffffffff, 0xff0a0a0a, 0xff141414, 0xff1e1e1e};
    // RLE4: a run of alternating nibbles, a literal of 3, then the run overflowing the row.
    Bytes rle4;
    rle4.u8(4).u8(0x1F).u8(0).u8(3).u8(0x23).u8(0x40).u8(0).u8(1);
    QTest::newRow("rle4") << bmpFile(true, 7, 1, 4, 2, greyPalette(16), rle4.data).data << "bmp" << QSize(7, 1)
                          << Pixels{0xff111111, 0xffffffff, 0xff111111, 0xffffffff, 0xff222222, 0xff333333, 0xff444444};
    // A .dib with and without the file header.
    Bytes px24;
    px24.u8(0).u8(0).u8(255).u8(0); // one red pixel, padded
    QTest::newRow("dib with file header") << bmpFile(true, 1, 1, 24, 0, {}, px24.data).data << "dib" << QSize(1, 1)
                                          << Pixels{0xffff0000};
    QTest::newRow("dib without file header") << bmpFile(false, 1, 1, 24, 0, {}, px24.data).data << "dib" << QSize(1, 1)
                                             << Pixels{0xffff0000};
    // 1 bit with a two-colour palette.
    Bytes px1;
    px1.u8(0xA0).u8(0).u8(0).u8(0);
    QTest::newRow("1 bit") << bmpFile(true, 3, 1, 1, 0, greyPalette(2), px1.data).data << "bmp" << QSize(3, 1)
                           << Pixels{0xffffffff, 0xff000000, 0xffffffff};
}

void CodecDamageTest::bmpExactPixels()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, suffix);
    QFETCH(QSize, size);
    QFETCH(Pixels, pixels);
    const auto decoded = readImageFile(save("exact." + suffix, data));
    QVERIFY2(decoded.ok(), qPrintable(decoded.error()));
    QCOMPARE(decoded->formatCode, 6);
    const QImage page = decoded->pages.first().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(page.size(), size);
    for (int i = 0; i < pixels.size(); ++i)
        QCOMPARE(QString::number(page.pixel(i % size.width(), i / size.width()), 16),
                 QString::number(pixels.at(i), 16));
}

void CodecDamageTest::refusesHostileFiles_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason"); // a word the message must contain

    Bytes bigTga = tgaHeader(2, 65535, 65535, 24, 0);
    bigTga.fill(64, 0);
    QTest::newRow("tga 65535 x 65535") << bigTga.data << "big.tga" << "too large";
    Bytes psd;
    psd.raw("8BPS").be16(1).fill(6, 0).be16(3).be32(100000).be32(100000).be16(8).be16(3);
    psd.be32(0).be32(0).be32(0).be16(0).fill(64, 0);
    QTest::newRow("psd 100000 x 100000") << psd.data << "big.psd" << "size";
    Bytes psb;
    psb.raw("8BPS").be16(2).fill(6, 0).be16(3).be32(100000).be32(100000).be16(8).be16(3);
    psb.be32(0).be32(0).be32(0).be32(0).be16(0).fill(64, 0);
    QTest::newRow("psb 100000 x 100000") << psb.data << "big2.psd" << "too large";
    Bytes psdLie;
    psdLie.raw("8BPS").be16(1).fill(6, 0).be16(3).be32(4).be32(4).be16(8).be16(3);
    psdLie.be32(0).be32(0xFFFFFFF0).fill(64, 0);
    QTest::newRow("psd resource length past the end") << psdLie.data << "lie.psd" << "cut short";
    Bytes psdZip;
    psdZip.raw("8BPS").be16(1).fill(6, 0).be16(3).be32(4).be32(4).be16(8).be16(3);
    psdZip.be32(0).be32(0).be32(0).be16(2).fill(64, 0);
    QTest::newRow("psd zip") << psdZip.data << "zip.psd" << "compression";
    Bytes psdChannels;
    psdChannels.raw("8BPS").be16(1).fill(6, 0).be16(99).be32(4).be32(4).be16(8).be16(3).fill(64, 0);
    QTest::newRow("psd 99 channels") << psdChannels.data << "channels.psd" << "channel";
    QTest::newRow("bmp 100000 x 100000")
        << bmpFile(true, 100000, 100000, 24, 0, {}, QByteArray(64, 0)).data << "big.bmp" << "too large";
    QTest::newRow("bmp pixel offset past the end")
        << bmpFile(true, 2, 2, 24, 0, {}, QByteArray(16, 0), 5000).data << "offset.bmp" << "past the end";
    QTest::newRow("bmp palette of 1000 colours")
        << bmpFile(true, 2, 2, 8, 0, greyPalette(4), QByteArray(8, 0), -1, 1000).data << "palette.bmp" << "palette";
    QTest::newRow("bmp rle8 with 24 bits")
        << bmpFile(true, 2, 2, 24, 1, {}, QByteArray(16, 0)).data << "rle.bmp" << "RLE8";
    Bytes badMasks;
    badMasks.u32(0xF0F0).u32(0x0F00).u32(0x000F);
    QTest::newRow("bmp broken bit mask")
        << bmpFile(true, 2, 1, 16, 3, {}, QByteArray(4, 0), -1, 0, badMasks.data).data << "mask.bmp" << "mask";
    Bytes pcx;
    pcx.u8(10).u8(5).u8(1).u8(8).u16(0).u16(0).u16(99).u16(9).fill(52, 0).u8(0).u8(1).u16(10).fill(60, 0);
    pcx.fill(64, 0);
    QTest::newRow("pcx line shorter than width") << pcx.data << "short.pcx" << "too short";
    Bytes bigPcx;
    bigPcx.u8(10).u8(5).u8(1).u8(8).u16(0).u16(0).u16(65534).u16(65534).fill(52, 0).u8(0).u8(3).u16(65535).fill(60, 0);
    bigPcx.fill(64, 0);
    QTest::newRow("pcx 65535 x 65535") << bigPcx.data << "big.pcx" << "too large";
    Bytes gif;
    gif.raw("GIF89a").u16(2).u16(2).u8(0x80).u8(0).u8(0).fill(6, 0);
    gif.u8(0x2C).u16(0).u16(0).u16(2).u16(2).u8(0).u8(12).u8(2).u8(0xFF).u8(0xFF).u8(0).u8(0x3B);
    QTest::newRow("gif lzw code size 12") << gif.data << "lzw.gif" << "LZW";
    Bytes jpeg;
    jpeg.u8(0xFF).u8(0xD8).u8(0xFF).u8(0xC0).be16(11).u8(8).be16(60000).be16(60000).u8(1).u8(1).u8(0x11).u8(0);
    jpeg.u8(0xFF).u8(0xDA).be16(8).u8(1).u8(1).u8(0).u8(0).u8(63).u8(0).fill(32, 0);
    QTest::newRow("jpeg 60000 x 60000") << jpeg.data << "big.jpg" << "large";
    QTest::newRow("empty") << QByteArray() << "empty.psd" << "empty";
    QTest::newRow("text") << QByteArray("hello, this is not an image at all") << "note.tga" << "not an image";
}

void CodecDamageTest::refusesHostileFiles()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, name);
    QFETCH(QString, reason);
    const auto decoded = readImageFile(save(name, data));
    QVERIFY(!decoded.ok());
    QVERIFY2(decoded.error().contains(reason, Qt::CaseInsensitive), qPrintable(decoded.error()));
}

void CodecDamageTest::truncatedFilesNeverCrash_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("suffix");
    QTest::newRow("psd") << 9 << "psd";
    QTest::newRow("pcx") << 4 << "pcx";
    QTest::newRow("tga") << 5 << "tga";
    QTest::newRow("bmp") << 6 << "bmp";
    QTest::newRow("jpeg") << 1 << "jpg";
    QTest::newRow("png") << 2 << "png";
    QTest::newRow("wbmp") << 10 << "wbmp";
}

// Every prefix of a sound file either gives an image of the full size (what was decoded) or a
// reason; none crashes, hangs or gives a wrong size.
void CodecDamageTest::truncatedFilesNeverCrash()
{
    QFETCH(int, code);
    QFETCH(QString, suffix);
    const QString whole = m_dir.filePath("whole." + suffix);
    QVERIFY(qmt::writeImageFile({noiseImage(23, 11, true)}, whole, code).ok());
    QFile file(whole);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray data = file.readAll();
    int decodedPrefixes = 0;
    for (qsizetype length = 0; length < data.size(); length += qMax<qsizetype>(1, data.size() / 97)) {
        const auto decoded = readImageFile(save("cut." + suffix, data.left(length)));
        if (decoded.ok()) {
            QCOMPARE(decoded->pages.first().size(), QSize(23, 11));
            ++decodedPrefixes;
        } else {
            QVERIFY(!decoded.error().isEmpty());
        }
    }
    // The header alone never passes for a whole image of a format with a header.
    const auto headerOnly = readImageFile(save("cut." + suffix, data.left(8)));
    QVERIFY(!headerOnly.ok());
    Q_UNUSED(decodedPrefixes);
}

// Files the fuzzers found or started from: each decodes or fails with a reason.
void CodecDamageTest::regressionFilesNeverCrash()
{
    const QString root = qEnvironmentVariable("QMT_TEST_DATA") + "/codecs";
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    int count = 0;
    while (it.hasNext()) {
        const QString file = it.next();
        const auto decoded = readImageFile(file);
        if (decoded.ok())
            QVERIFY(!decoded->pages.first().isNull());
        else
            QVERIFY2(!decoded.error().isEmpty(), qPrintable(file));
        ++count;
    }
    if (count == 0)
        QSKIP("no regression files");
}

void CodecDamageTest::limitsAreCoherent()
{
    // 100-megapixel photos and long panoramas fit; 100000 x 100000 does not.
    QVERIFY(qint64(12288) * 8192 <= qmt::kMaxImagePixels);
    QVERIFY(qint64(100000) * 2500 <= qmt::kMaxImagePixels);
    QVERIFY(qint64(100000) * 100000 > qmt::kMaxImagePixels);
    QVERIFY(100000 <= qmt::kMaxImageSide);
    // Qt's allocation limit lets the largest accepted image through at 8 bytes a pixel.
    QVERIFY(qint64(qmt::kAllocationLimitMb) << 20 >= qmt::kMaxImagePixels * 8);
}

// A GUI application: metafiles among the regression files draw text, which needs fonts.
QTEST_MAIN(CodecDamageTest)
#include "codecdamagetest.moc"
