// Saving with the format codes the engine writes itself or through Qt, read back by an outside
// decoder (ImageMagick, or PIL where ImageMagick 6 is wrong) and compared pixel by pixel.

#include "codectestutil.h"

#include "components/codecs/wbmpwriter.h"
#include "components/engine/imageio.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QtTest>

using namespace codectest;

class CodecWriteTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private Q_SLOTS:
    void roundTrip_data();
    void roundTrip();
    void refusesWhatCannotBeWritten();
};

void CodecWriteTest::roundTrip_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("kind"); // rgb, alpha, mono, grey
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("reader"); // im or pil
    QTest::addColumn<int>("tolerance");

    // Odd and prime widths catch row padding faults.
    for (const QSize &size : {QSize(37, 23), QSize(1, 1), QSize(64, 3)}) {
        const QString s = QStringLiteral(" %1x%2").arg(size.width()).arg(size.height());
        QTest::newRow(qPrintable("pcx rgb" + s)) << 4 << "pcx"
                                                 << "rgb" << size << "im" << 0;
        QTest::newRow(qPrintable("tga rgb" + s)) << 5 << "tga"
                                                 << "rgb" << size << "pil" << 0;
        QTest::newRow(qPrintable("psd rgb" + s)) << 9 << "psd"
                                                 << "rgb" << size << "im" << 0;
        QTest::newRow(qPrintable("wbmp" + s)) << 10 << "wbmp"
                                              << "rgb" << size << "im" << 0;
    }
    QTest::newRow("pcx grey") << 4 << "pcx"
                              << "grey" << QSize(31, 7) << "im" << 0;
    QTest::newRow("pcx 1 bit") << 4 << "pcx"
                               << "mono" << QSize(29, 5) << "pil" << 0;
    QTest::newRow("tga alpha") << 5 << "tga"
                               << "alpha" << QSize(17, 9) << "pil" << 0;
    QTest::newRow("psd alpha, read by pil") << 9 << "psd"
                                            << "alpha" << QSize(17, 9) << "pil" << 1;
    QTest::newRow("psd flat colours compress") << 9 << "psd"
                                               << "flat" << QSize(300, 40) << "im" << 0;
    QTest::newRow("jpeg") << 1 << "jpg"
                          << "flat" << QSize(40, 24) << "im" << 3;
    QTest::newRow("png") << 2 << "png"
                         << "alpha" << QSize(37, 23) << "im" << 0;
    QTest::newRow("tiff") << 3 << "tif"
                          << "rgb" << QSize(37, 23) << "im" << 0;
    QTest::newRow("bmp") << 6 << "bmp"
                         << "rgb" << QSize(37, 23) << "im" << 0;
}

void CodecWriteTest::roundTrip()
{
    QFETCH(int, code);
    QFETCH(QString, suffix);
    QFETCH(QString, kind);
    QFETCH(QSize, size);
    QFETCH(QString, reader);
    QFETCH(int, tolerance);
    if (reader == "im" && !haveConvert())
        QSKIP("ImageMagick is not installed");
    if (reader == "pil" && !havePil())
        QSKIP("Python's PIL is not installed");

    QImage image = noiseImage(size.width(), size.height(), kind == "alpha");
    if (kind == "grey")
        image = image.convertToFormat(QImage::Format_Grayscale8);
    else if (kind == "mono")
        image = image.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
    else if (kind == "flat")
        image.fill(qRgb(30, 140, 220));

    const QString file =
        m_dir.filePath(QStringLiteral("%1.%2").arg(QTest::currentDataTag()).arg(suffix))
            .replace(' ', '_');
    const qmt::Status written = qmt::writeImageFile({image}, file, code);
    QVERIFY2(written.ok(), qPrintable(written.error()));

    const QImage back = reader == "im" ? decodeWithImageMagick(file, m_dir.path())
                                       : decodeWithPil(file, m_dir.path());
    QVERIFY(!back.isNull());
    QImage expected = image;
    if (code == 10)
        expected = qmt::WbmpWriter::toBlackAndWhite(image);
    const int difference = maxDifference(back, expected, tolerance, file);
    QVERIFY2(difference >= 0, "the sizes differ");
    QVERIFY2(difference <= tolerance, qPrintable(QStringLiteral("difference %1").arg(difference)));

    // Our own reader agrees too.
    const auto ours = qmt::readImageFile(file);
    QVERIFY2(ours.ok(), qPrintable(ours.error()));
    QVERIFY(maxDifference(ours->pages.first(), expected, tolerance) <= tolerance);
    if (kind == "flat" && code == 9)
        QVERIFY2(QFileInfo(file).size() < 300 * 40, "flat rows are run-length encoded");
}

void CodecWriteTest::refusesWhatCannotBeWritten()
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(!qmt::writeImageDevice({}, &buffer, 4).ok());
    QVERIFY(!qmt::writeImageDevice({QImage()}, &buffer, 5).ok());
    QVERIFY(!qmt::writeImageDevice({noiseImage(4, 4, false)}, &buffer, 11).ok());
    QVERIFY(!qmt::writeImageDevice({noiseImage(4, 4, false)}, &buffer, 0).ok());
    // A PSD is limited to 30000 pixels a side.
    QVERIFY(!qmt::writeImageDevice({QImage(30001, 1, QImage::Format_RGB32)}, &buffer, 9).ok());
    QVERIFY(
        !qmt::writeImageFile({noiseImage(4, 4, false)}, m_dir.filePath("no/such/folder/x.pcx"), 4)
             .ok());
}

QTEST_GUILESS_MAIN(CodecWriteTest)
#include "codecwritetest.moc"
