// WebP, HEIF, AVIF and JPEG XL: files made here with each format's reference encoder are read
// through the engine and compared with what the format's reference decoder makes of the same
// file. Both sides use the same library, so a pixel may differ only by the rounding of the last
// step (10 and 12 bits down to 8, YUV to RGB): the stated tolerance is 3 levels a channel.
// Then the reduced decodes for thumbnails, animations, hand-made oversized headers and damaged
// files.

#include "codectestutil.h"

#include "components/engine/formatcodes.h"
#include "components/engine/imageio.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QTransform>
#include <QtTest>

using namespace qmt;
using namespace codectest;

namespace {

constexpr int kTolerance = 3;

// Runs one of the reference tools; the reason on failure.
QString run(const QString &program, const QStringList &args)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(120000))
        return program + QStringLiteral(" did not finish");
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return program + QStringLiteral(" failed: ") +
               QString::fromLocal8Bit(process.readAllStandardError());
    return {};
}

bool haveTool(const QString &program)
{
    return !QStandardPaths::findExecutable(program).isEmpty();
}

// A smooth picture with hard edges: what photos and drawings have, odd-sized.
QImage scene(int width, int height, bool alpha, QRgb patch = qRgb(250, 220, 20))
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(
                x, y,
                qRgba(x * 255 / width, y * 255 / height, 128, alpha ? 40 + x * 215 / width : 255));
    for (int y = height / 5; y < height / 2; ++y)
        for (int x = width / 6; x < width / 3; ++x)
            image.setPixel(x, y, patch);
    return alpha ? image : image.convertToFormat(QImage::Format_RGB32);
}

QImage reference(const QString &png)
{
    return QImage(png).convertToFormat(QImage::Format_ARGB32);
}

// Writes a TIFF-structured EXIF block whose only entry is the orientation.
QByteArray exifWithOrientation(int orientation)
{
    Bytes exif;
    exif.raw("II").u16(42).u32(8).u16(1).u16(0x0112).u16(3).u32(1).u16(orientation).u16(0).u32(0);
    return exif.data;
}

// A JPEG XL codestream header only: the signature, then the size fields (least significant
// bit first) and default metadata.
QByteArray jxlHeaderClaiming(quint32 width, quint32 height)
{
    QByteArray out("\xFF\x0A", 2);
    quint64 bits = 0;
    int count = 0;
    const auto put = [&](quint64 value, int n) {
        bits |= value << count;
        count += n;
    };
    put(0, 1); // not a multiple of 8
    put(2, 2); // height: the 18-bit form
    put(height - 1, 18);
    put(0, 3); // no fixed ratio: the width follows
    put(2, 2);
    put(width - 1, 18);
    put(1, 1); // all metadata default
    for (int i = 0; i < (count + 7) / 8; ++i)
        out.append(char((bits >> (8 * i)) & 0xFF));
    return out + QByteArray(64, '\0');
}

// Sets every image spatial extent ("ispe") of a HEIF or AVIF file to width x height.
QByteArray withExtent(QByteArray data, quint32 width, quint32 height)
{
    for (qsizetype at = data.indexOf("ispe"); at >= 0; at = data.indexOf("ispe", at + 4)) {
        if (at + 16 > data.size())
            break;
        Bytes value;
        value.be32(width).be32(height);
        data.replace(at + 8, 8, value.data);
    }
    return data;
}

Result<DecodedImage> decodeBytes(const QByteArray &bytes, const QString &name,
                                 const ReadOptions &options = {})
{
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    return readImageDevice(&buffer, name, options);
}

} // namespace

class ModernFormatTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void matchesReferenceDecoder_data();
    void matchesReferenceDecoder();
    void reducedDecodeForThumbnails_data();
    void reducedDecodeForThumbnails();
    void animationsKeepFramesAndDelays_data();
    void animationsKeepFramesAndDelays();
    void exifOrientationOnlyWithoutContainerTurn();
    void refusesOversizedHeaders_data();
    void refusesOversizedHeaders();
    void damagedFilesNeverCrash_data();
    void damagedFilesNeverCrash();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString make(const QString &name, const QImage &image);

    QTemporaryDir m_dir;
};

QString ModernFormatTest::make(const QString &name, const QImage &image)
{
    const QString file = path(name);
    if (!QFile::exists(file))
        image.save(file);
    return file;
}

void ModernFormatTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    for (const char *tool : {"cwebp", "dwebp", "img2webp", "webpmux", "heif-enc", "heif-convert",
                             "avifenc", "avifdec", "cjxl", "djxl"}) {
        if (!haveTool(QString::fromLatin1(tool)))
            QSKIP(
                qPrintable(QStringLiteral("%1 is missing (tools/setup.sh installs it)").arg(tool)));
    }
    make("colour.png", scene(61, 47, false));
    make("alpha.png", scene(61, 47, true));
    make("grey.png", scene(61, 47, false).convertToFormat(QImage::Format_Grayscale8));
    make("deep.png", scene(61, 47, false).convertToFormat(QImage::Format_RGBX64));
    make("second.png", scene(61, 47, false, qRgb(20, 40, 240)));
    make("large.png", scene(400, 300, false));
    make("noise.png", noiseImage(33, 29, true));
}

void ModernFormatTest::matchesReferenceDecoder_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("encoder");
    QTest::addColumn<QStringList>("encode"); // %in and %out stand for the files
    QTest::addColumn<QString>("decoder");
    QTest::addColumn<QString>("referencePng"); // what the decoder writes for "ref.png"
    QTest::addColumn<int>("formatCode");
    QTest::addColumn<int>("quarterTurns"); // applied to the reference (anticlockwise)
    QTest::addColumn<bool>("mirrorLeftRight");

    const QStringList io{"%in", "-o", "%out"};
    QTest::newRow("webp lossy") << "lossy.webp"
                                << "cwebp" << (QStringList{"-q", "80"} + io) << "dwebp"
                                << "ref.png" << int(FormatWebp) << 0 << false;
    QTest::newRow("webp lossless") << "lossless.webp"
                                   << "cwebp" << (QStringList{"-lossless"} + io) << "dwebp"
                                   << "ref.png" << int(FormatWebp) << 0 << false;
    QTest::newRow("webp alpha") << "alpha.webp"
                                << "cwebp"
                                << QStringList{"-q", "90", "-exact", "%in:alpha", "-o", "%out"}
                                << "dwebp"
                                << "ref.png" << int(FormatWebp) << 0 << false;
    QTest::newRow("webp noise") << "noise.webp"
                                << "cwebp"
                                << QStringList{"-lossless", "-exact", "%in:noise", "-o", "%out"}
                                << "dwebp"
                                << "ref.png" << int(FormatWebp) << 0 << false;

    QTest::newRow("heic lossy") << "lossy.heic"
                                << "heif-enc" << QStringList{"-q", "80", "%in", "-o", "%out"}
                                << "heif-convert"
                                << "ref.png" << int(FormatHeif) << 0 << false;
    QTest::newRow("heic alpha") << "alpha.heic"
                                << "heif-enc" << QStringList{"-q", "90", "%in:alpha", "-o", "%out"}
                                << "heif-convert"
                                << "ref.png" << int(FormatHeif) << 0 << false;
    QTest::newRow("heic grey") << "grey.heic"
                               << "heif-enc" << QStringList{"-q", "90", "%in:grey", "-o", "%out"}
                               << "heif-convert"
                               << "ref.png" << int(FormatHeif) << 0 << false;
    QTest::newRow("heic 10-bit") << "deep.heic"
                                 << "heif-enc"
                                 << QStringList{"-q", "90", "-b", "10", "%in:deep", "-o", "%out"}
                                 << "heif-convert"
                                 << "ref.png" << int(FormatHeif) << 0 << false;
    QTest::newRow("heic lossless")
        << "lossless.heic"
        << "heif-enc" << QStringList{"-L", "%in", "-o", "%out"} << "heif-convert"
        << "ref.png" << int(FormatHeif) << 0 << false;
    // Two pictures: the first is the primary one, which heif-convert writes as "-1".
    QTest::newRow("heic two pictures")
        << "multi.heif"
        << "heif-enc" << QStringList{"-q", "90", "%in", "%in:second", "-o", "%out"}
        << "heif-convert"
        << "ref-1.png" << int(FormatHeif) << 0 << false;

    QTest::newRow("avif lossy") << "lossy.avif"
                                << "avifenc"
                                << QStringList{"--min", "20", "--max", "30", "%in", "%out"}
                                << "avifdec"
                                << "ref.png" << int(FormatAvif) << 0 << false;
    QTest::newRow("avif lossless")
        << "lossless.avif"
        << "avifenc" << QStringList{"-l", "%in:noise", "%out"} << "avifdec"
        << "ref.png" << int(FormatAvif) << 0 << false;
    QTest::newRow("avif alpha") << "alpha.avif"
                                << "avifenc"
                                << QStringList{"--min", "10", "--max", "10", "%in:alpha", "%out"}
                                << "avifdec"
                                << "ref.png" << int(FormatAvif) << 0 << false;
    QTest::newRow("avif grey") << "grey.avif"
                               << "avifenc" << QStringList{"-y", "400", "%in:grey", "%out"}
                               << "avifdec"
                               << "ref.png" << int(FormatAvif) << 0 << false;
    QTest::newRow("avif 10-bit 4:2:0")
        << "deep.avif"
        << "avifenc" << QStringList{"-d", "10", "-y", "420", "%in:deep", "%out"} << "avifdec"
        << "ref.png" << int(FormatAvif) << 0 << false;
    QTest::newRow("avif 12-bit") << "deep12.avif"
                                 << "avifenc" << QStringList{"-d", "12", "%in:deep", "%out"}
                                 << "avifdec"
                                 << "ref.png" << int(FormatAvif) << 0 << false;
    // avifdec writes the coded picture; the turn and the mirror are the viewer's to apply.
    QTest::newRow("avif irot") << "rotated.avif"
                               << "avifenc" << QStringList{"--irot", "1", "%in", "%out"}
                               << "avifdec"
                               << "ref.png" << int(FormatAvif) << 1 << false;
    QTest::newRow("avif irot imir")
        << "turned.avif"
        << "avifenc" << QStringList{"--irot", "3", "--imir", "1", "%in", "%out"} << "avifdec"
        << "ref.png" << int(FormatAvif) << 3 << true;
    // heif-convert reads AVIF too and applies the turn and the mirror itself.
    QTest::newRow("avif irot imir, heif-convert")
        << "turned-heif.avif"
        << "avifenc" << QStringList{"--irot", "1", "--imir", "0", "%in", "%out"} << "heif-convert"
        << "ref.png" << int(FormatAvif) << 0 << false;

    QTest::newRow("jxl lossy") << "lossy.jxl"
                               << "cjxl" << QStringList{"%in", "%out", "-d", "1"} << "djxl"
                               << "ref.png" << int(FormatJxl) << 0 << false;
    QTest::newRow("jxl lossless") << "lossless.jxl"
                                  << "cjxl" << QStringList{"%in:noise", "%out", "-d", "0"} << "djxl"
                                  << "ref.png" << int(FormatJxl) << 0 << false;
    QTest::newRow("jxl alpha") << "alpha.jxl"
                               << "cjxl" << QStringList{"%in:alpha", "%out", "-d", "0"} << "djxl"
                               << "ref.png" << int(FormatJxl) << 0 << false;
    QTest::newRow("jxl grey") << "grey.jxl"
                              << "cjxl" << QStringList{"%in:grey", "%out", "-d", "1"} << "djxl"
                              << "ref.png" << int(FormatJxl) << 0 << false;
    QTest::newRow("jxl 16-bit") << "deep.jxl"
                                << "cjxl" << QStringList{"%in:deep", "%out", "-d", "0"} << "djxl"
                                << "ref.png" << int(FormatJxl) << 0 << false;
}

void ModernFormatTest::matchesReferenceDecoder()
{
    QFETCH(QString, file);
    QFETCH(QString, encoder);
    QFETCH(QStringList, encode);
    QFETCH(QString, decoder);
    QFETCH(QString, referencePng);
    QFETCH(int, formatCode);
    QFETCH(int, quarterTurns);
    QFETCH(bool, mirrorLeftRight);

    const QString out = path(file);
    for (QString &arg : encode) {
        if (arg.startsWith("%in"))
            arg =
                path((arg.contains(':') ? arg.section(':', 1) : QStringLiteral("colour")) + ".png");
        else if (arg == "%out")
            arg = out;
    }
    const QString encoded = run(encoder, encode);
    QVERIFY2(encoded.isEmpty(), qPrintable(encoded));

    const QString refDir = path(file + "-ref");
    QVERIFY(QDir().mkpath(refDir));
    const QStringList decodeArgs = decoder == "dwebp" ? QStringList{out, "-o", refDir + "/ref.png"}
                                                      : QStringList{out, refDir + "/ref.png"};
    const QString decoded = run(decoder, decodeArgs);
    QVERIFY2(decoded.isEmpty(), qPrintable(decoded));
    QImage expected = reference(refDir + "/" + referencePng);
    QVERIFY(!expected.isNull());
    if (quarterTurns)
        expected = expected.transformed(QTransform().rotate(-90.0 * quarterTurns));
    if (mirrorLeftRight)
        expected = expected.mirrored(true, false);

    const Result<DecodedImage> ours = readImageFile(out);
    QVERIFY2(ours.ok(), qPrintable(ours.error()));
    QCOMPARE(ours->formatCode, formatCode);
    QCOMPARE(ours->pages.size(), 1);
    QCOMPARE(ours->fullSize, expected.size());
    QVERIFY(ours->bitsPerPixel >= 8);
    const int difference = maxDifference(ours->pages.first(), expected, kTolerance, out);
    QVERIFY2(difference >= 0 && difference <= kTolerance,
             qPrintable(QStringLiteral("difference %1 (sizes %2x%3 and %4x%5)")
                            .arg(difference)
                            .arg(ours->pages.first().width())
                            .arg(ours->pages.first().height())
                            .arg(expected.width())
                            .arg(expected.height())));
}

void ModernFormatTest::reducedDecodeForThumbnails_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("encoder");
    QTest::addColumn<QStringList>("encode");
    QTest::addColumn<QSize>("target");
    QTest::addColumn<QSize>("expected"); // the page the reader hands back

    const QString large = QStringLiteral("%large");
    // The thumbnail picture of the file is used when it fills the box, not otherwise.
    QTest::newRow("heic thumbnail item")
        << "thumb.heic"
        << "heif-enc" << QStringList{"-q", "80", "-t", "64", large, "-o", "%out"} << QSize(48, 48)
        << QSize(64, 48);
    QTest::newRow("heic thumbnail too small")
        << "thumb.heic"
        << "heif-enc" << QStringList{"-q", "80", "-t", "64", large, "-o", "%out"} << QSize(100, 100)
        << QSize(400, 300);
    QTest::newRow("webp scaled in the decoder")
        << "large.webp"
        << "cwebp" << QStringList{"-q", "80", large, "-o", "%out"} << QSize(80, 80)
        << QSize(80, 60);
    QTest::newRow("avif averaged in bands")
        << "large.avif"
        << "avifenc" << QStringList{"--min", "20", "--max", "30", large, "%out"} << QSize(64, 64)
        << QSize(67, 50);
}

void ModernFormatTest::reducedDecodeForThumbnails()
{
    QFETCH(QString, file);
    QFETCH(QString, encoder);
    QFETCH(QStringList, encode);
    QFETCH(QSize, target);
    QFETCH(QSize, expected);

    const QString out = path(file);
    for (QString &arg : encode) {
        if (arg == "%large")
            arg = path("large.png");
        else if (arg == "%out")
            arg = out;
    }
    QFile::remove(out);
    const QString encoded = run(encoder, encode);
    QVERIFY2(encoded.isEmpty(), qPrintable(encoded));

    ReadOptions options;
    options.targetSize = target;
    options.firstPageOnly = true;
    const Result<DecodedImage> reduced = readImageFile(out, options);
    QVERIFY2(reduced.ok(), qPrintable(reduced.error()));
    QCOMPARE(reduced->fullSize, QSize(400, 300));
    QCOMPARE(reduced->pages.first().size(), expected);

    // The reduced picture is the same picture: compared with the full decode brought to its
    // size, colours agree on average (edges differ with the filter).
    const Result<DecodedImage> full = readImageFile(out);
    QVERIFY(full.ok());
    const QImage small = full->pages.first()
                             .scaled(expected, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                             .convertToFormat(QImage::Format_RGB32);
    const QImage ours = reduced->pages.first().convertToFormat(QImage::Format_RGB32);
    qint64 total = 0;
    for (int y = 0; y < small.height(); ++y)
        for (int x = 0; x < small.width(); ++x) {
            const QRgb a = small.pixel(x, y), b = ours.pixel(x, y);
            total +=
                qAbs(qRed(a) - qRed(b)) + qAbs(qGreen(a) - qGreen(b)) + qAbs(qBlue(a) - qBlue(b));
        }
    const double mean = double(total) / (3.0 * small.width() * small.height());
    QVERIFY2(mean < 6.0, qPrintable(QString::number(mean)));
}

void ModernFormatTest::animationsKeepFramesAndDelays_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("formatCode");
    QTest::addColumn<QList<int>>("delays");

    QTest::newRow("webp") << "anim.webp" << int(FormatWebp) << QList<int>{100, 300};
    QTest::newRow("avif") << "anim.avif" << int(FormatAvif) << QList<int>{100, 300};
    QTest::newRow("jxl") << "anim.jxl" << int(FormatJxl) << QList<int>{100, 300};
}

void ModernFormatTest::animationsKeepFramesAndDelays()
{
    QFETCH(QString, file);
    QFETCH(int, formatCode);
    QFETCH(QList<int>, delays);

    const QString first = path("colour.png"), second = path("second.png"), out = path(file);
    QString made;
    if (formatCode == FormatWebp) {
        made = run("img2webp", {"-lossless", "-d", "100", first, "-d", "300", second, "-o", out});
    } else if (formatCode == FormatAvif) {
        made = run("avifenc",
                   {"--timescale", "10", "--duration", "1", first, "--duration", "3", second, out});
    } else {
        const QString gif = path("anim.gif");
        QVERIFY(convert({"-delay", "10", first, "-delay", "30", second, gif}));
        made = run("cjxl", {gif, out, "-d", "0"});
    }
    QVERIFY2(made.isEmpty(), qPrintable(made));

    const Result<DecodedImage> all = readImageFile(out);
    QVERIFY2(all.ok(), qPrintable(all.error()));
    QCOMPARE(all->formatCode, formatCode);
    QCOMPARE(all->pages.size(), 2);
    QCOMPARE(all->frameDelays, delays);
    // Each frame is its own picture: the patch is yellow, then blue.
    const QRgb patch1 = all->pages.at(0).pixel(15, 15);
    const QRgb patch2 = all->pages.at(1).pixel(15, 15);
    QVERIFY2(qRed(patch1) > 200 && qBlue(patch1) < 80, qPrintable(QString::number(patch1, 16)));
    QVERIFY2(qBlue(patch2) > 200 && qRed(patch2) < 80, qPrintable(QString::number(patch2, 16)));

    // Thumbnails and previews take the first frame alone.
    ReadOptions firstOnly;
    firstOnly.firstPageOnly = true;
    const Result<DecodedImage> one = readImageFile(out, firstOnly);
    QVERIFY(one.ok());
    QCOMPARE(one->pages.size(), 1);
    QVERIFY(one->frameDelays.isEmpty());
}

void ModernFormatTest::exifOrientationOnlyWithoutContainerTurn()
{
    // A WebP's EXIF orientation turns it: 6 is a quarter turn clockwise.
    const QString plain = path("plain.webp"), turned = path("exif6.webp"), exif = path("exif6.bin");
    QVERIFY(writeFile(exif, exifWithOrientation(6)));
    QString made = run("cwebp", {"-lossless", path("colour.png"), "-o", plain});
    QVERIFY2(made.isEmpty(), qPrintable(made));
    made = run("webpmux", {"-set", "exif", exif, plain, "-o", turned});
    QVERIFY2(made.isEmpty(), qPrintable(made));
    const Result<DecodedImage> webp = readImageFile(turned);
    QVERIFY2(webp.ok(), qPrintable(webp.error()));
    const QImage expected = QImage(path("colour.png")).transformed(QTransform().rotate(90));
    QCOMPARE(webp->fullSize, QSize(47, 61));
    QCOMPARE(maxDifference(webp->pages.first(), expected), 0);

    // An AVIF made from it carries the turn as irot and imir and keeps the EXIF block: the turn
    // is applied once, not twice.
    const QString avif = path("exif6.avif");
    const QString jpeg = path("exif6.jpg");
    QVERIFY(convert({path("colour.png"), "-quality", "95", jpeg}));
    made = run("avifenc", {"-l", "--exif", exif, jpeg, avif});
    QVERIFY2(made.isEmpty(), qPrintable(made));
    const Result<DecodedImage> once = readImageFile(avif);
    QVERIFY2(once.ok(), qPrintable(once.error()));
    const QImage fromJpeg = QImage(jpeg).transformed(QTransform().rotate(90));
    QCOMPARE(once->pages.first().size(), QSize(47, 61));
    QVERIFY(maxDifference(once->pages.first(), fromJpeg) <= kTolerance);
}

void ModernFormatTest::refusesOversizedHeaders_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("name");

    // A WebP canvas of 100000 x 100000 announced by its extended header.
    Bytes webp;
    webp.raw("RIFF").u32(4 + 18 + 8).raw("WEBP").raw("VP8X").u32(10).u8(0x02).fill(3, 0);
    webp.u8((100000 - 1) & 0xFF).u8(((100000 - 1) >> 8) & 0xFF).u8((100000 - 1) >> 16);
    webp.u8((100000 - 1) & 0xFF).u8(((100000 - 1) >> 8) & 0xFF).u8((100000 - 1) >> 16);
    webp.raw("ANIM").u32(6).fill(6, 0);
    QTest::newRow("webp canvas") << webp.data << "huge.webp";
    QTest::newRow("jxl header") << jxlHeaderClaiming(100000, 100000) << "huge.jxl";
    QTest::newRow("jxl one long side") << jxlHeaderClaiming(200000, 16) << "long.jxl";

    QFile heic(path("lossy.heic")), avif(path("lossy.avif"));
    if (heic.open(QIODevice::ReadOnly))
        QTest::newRow("heic extent") << withExtent(heic.readAll(), 100000, 100000) << "huge.heic";
    if (avif.open(QIODevice::ReadOnly)) {
        const QByteArray data = avif.readAll();
        QTest::newRow("avif extent") << withExtent(data, 100000, 100000) << "huge.avif";
        QTest::newRow("avif 20000 square") << withExtent(data, 20000, 20000) << "big.avif";
    }
}

void ModernFormatTest::refusesOversizedHeaders()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, name);
    QElapsedTimer timer;
    timer.start();
    const Result<DecodedImage> decoded = decodeBytes(data, name);
    QVERIFY2(!decoded.ok(), "an oversized picture was accepted");
    QVERIFY(!decoded.error().isEmpty());
    // Refused from the header, not after trying to decode gigabytes.
    QVERIFY2(timer.elapsed() < 5000, qPrintable(decoded.error()));
}

void ModernFormatTest::damagedFilesNeverCrash_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("cut");   // bytes kept, per thousand of the file
    QTest::addColumn<int>("flips"); // bytes overwritten after the first 64

    const QStringList files{"lossy.webp", "alpha.webp", "anim.webp",    "lossy.heic",
                            "alpha.heic", "multi.heif", "lossy.avif",   "alpha.avif",
                            "anim.avif",  "lossy.jxl",  "lossless.jxl", "anim.jxl"};
    for (const QString &file : files) {
        for (int cut : {50, 300, 700, 990})
            QTest::newRow(qPrintable(QStringLiteral("%1 cut to %2 per mille").arg(file).arg(cut)))
                << file << cut << 0;
        for (int flips : {3, 40})
            QTest::newRow(
                qPrintable(QStringLiteral("%1 with %2 bytes changed").arg(file).arg(flips)))
                << file << 1000 << flips;
    }
}

void ModernFormatTest::damagedFilesNeverCrash()
{
    QFETCH(QString, file);
    QFETCH(int, cut);
    QFETCH(int, flips);
    QFile source(path(file));
    if (!source.open(QIODevice::ReadOnly))
        QSKIP("the fixture was not made by an earlier test");
    QByteArray data = source.readAll();
    data.truncate(qMax<qsizetype>(1, data.size() * cut / 1000));
    quint32 state = 12345u + quint32(flips);
    for (int i = 0; i < flips && data.size() > 64; ++i) {
        state = state * 1664525u + 1013904223u;
        data[64 + qsizetype(state % quint32(data.size() - 64))] = char(state >> 24);
    }
    for (const bool thumbnail : {false, true}) {
        ReadOptions options;
        if (thumbnail)
            options.targetSize = QSize(32, 32);
        const Result<DecodedImage> decoded = decodeBytes(data, file, options);
        // Either a picture (perhaps partial) or a reason: never a crash, never an empty success.
        if (decoded.ok()) {
            QVERIFY(!decoded->pages.isEmpty());
            for (const QImage &page : decoded->pages)
                QVERIFY(!page.isNull());
        } else {
            QVERIFY(!decoded.error().isEmpty());
        }
    }
}

QTEST_GUILESS_MAIN(ModernFormatTest)
#include "modernformattest.moc"
