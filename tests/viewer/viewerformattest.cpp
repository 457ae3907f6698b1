#include "viewer/viewerformat.h"
#include "components/engine/formatcodes.h"
#include "viewer/viewerprint.h"

#include <QTest>

using namespace qmt;
using namespace qmt::viewer;

class ViewerFormatTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void formatSize_data()
    {
        QTest::addColumn<double>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << "0 Bytes";
        QTest::newRow("512") << 512.0 << "512 Bytes";
        QTest::newRow("1023") << 1023.0 << "1023 Bytes";
        QTest::newRow("1024") << 1024.0 << "1. KB";
        QTest::newRow("1536") << 1536.0 << "1.5 KB";
        QTest::newRow("2048") << 2048.0 << "2. KB";
        QTest::newRow("1126 rounds up") << 1126.0 << "1.1 KB";
        QTest::newRow("1048575") << 1048575.0 << "1024. KB";
        QTest::newRow("1048576") << 1048576.0 << "1. MB";
        QTest::newRow("2.5 MB") << 2621440.0 << "2.5 MB";
        QTest::newRow("3 GB") << 3221225472.0 << "3072. MB";
    }
    void formatSize()
    {
        QFETCH(double, bytes);
        QFETCH(QString, text);
        QCOMPARE(FormatSize(bytes), text);
    }

    void openFilterInQtForm()
    {
        const QStringList filters = qtFilters(QString::fromLatin1(kOpenFilter));
        QCOMPARE(filters.size(), 14);
        QCOMPARE(filters.first(),
                 QStringLiteral("All Images (*.jpg *.jpeg *.gif *.bmp *.dib *.png *.psd *.tif "
                                "*.pcx *.tga *.wbmp *.wmf *.ico *.cur *.emf *.tla *.webp *.avif "
                                "*.heic *.heif *.jxl)"));
        QCOMPARE(filters.at(1),
                 QStringLiteral("Joint Photographic Experts Group  <JPG,JPEG> (*.jpg *.jpeg)"));
        QCOMPARE(filters.at(11), QStringLiteral("ICO Files  <ICO> (*.ICO)"));
        QCOMPARE(filters.last(), QStringLiteral("All Files (*.*)"));
    }

    void saveFilterInOrder()
    {
        const QStringList filters = qtFilters(QString::fromLatin1(kSaveFilter));
        QCOMPARE(filters.size(), 10);
        const QStringList extensions{"jpg", "png",  "psd", "tif", "pcx",
                                     "tga", "wbmp", "bmp", "wmf", "emf"};
        for (int i = 0; i < 10; ++i) {
            QVERIFY2(filters.at(i).endsWith(QStringLiteral("(*.%1)").arg(extensions.at(i))),
                     qPrintable(filters.at(i)));
            int code = -7;
            QCOMPARE(saveFormatForPosition(i + 1, code), extensions.at(i));
            QCOMPARE(formatCodeForSuffix(extensions.at(i)), FormatCode(code));
        }
        QCOMPARE(filters.at(2), QStringLiteral("Photoshop  <PSD> (*.psd)"));
    }

    void saveFormatOutsideTableKeepsCode()
    {
        int code = 42;
        QCOMPARE(saveFormatForPosition(0, code), QString());
        QCOMPARE(saveFormatForPosition(11, code), QString());
        QCOMPARE(code, 42);
    }

    void preselection_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("position");
        QTest::newRow("jpeg") << int(FormatJpeg) << 1;
        QTest::newRow("png") << int(FormatPng) << 2;
        QTest::newRow("tiff") << int(FormatTiff) << 4;
        QTest::newRow("pcx") << int(FormatPcx) << 5;
        QTest::newRow("targa") << int(FormatTarga) << 6;
        QTest::newRow("bmp") << int(FormatBmp) << 8;
        QTest::newRow("wmf") << int(FormatWmf) << 9;
        QTest::newRow("emf") << int(FormatEmf) << 10;
        QTest::newRow("psd") << int(FormatPsd) << 3;
        QTest::newRow("wbmp") << int(FormatWbmp) << 7;
        QTest::newRow("gif keeps") << int(FormatGif) << 0;
        QTest::newRow("ico keeps") << int(FormatIco) << 0;
        QTest::newRow("unknown keeps") << int(FormatUnknown) << 0;
    }
    void preselection()
    {
        QFETCH(int, code);
        QFETCH(int, position);
        QCOMPARE(saveFilterPositionForFormat(code), position);
    }

    void booleanSettings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("fallback");
        QTest::addColumn<bool>("value");
        QTest::newRow("1") << "1" << false << true;
        QTest::newRow("-1") << "-1" << false << true;
        QTest::newRow("0") << "0" << true << false;
        QTest::newRow("7") << "7" << false << true;
        QTest::newRow("True word") << "True" << false << true;
        QTest::newRow("false word") << "false" << true << false;
        QTest::newRow("garbage takes default on") << "yes please" << true << true;
        QTest::newRow("garbage takes default off") << "yes please" << false << false;
        QTest::newRow("empty") << "" << true << true;
    }
    void booleanSettings()
    {
        QFETCH(QString, text);
        QFETCH(bool, fallback);
        QFETCH(bool, value);
        QCOMPARE(settingToBool(text, fallback), value);
    }

    void delaySetting_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("delay");
        QTest::newRow("default text") << "2000" << 2000;
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("above 16 bits signed") << "40000" << 40000;
        QTest::newRow("timer maximum") << "65535" << 65535;
        QTest::newRow("beyond the timer") << "65536" << 2000;
        QTest::newRow("negative") << "-5" << 2000;
        QTest::newRow("word") << "slow" << 2000;
        QTest::newRow("empty") << "" << 2000;
        QTest::newRow("spaces") << " 1500 " << 1500;
    }
    void delaySetting()
    {
        QFETCH(QString, text);
        QFETCH(int, delay);
        QCOMPARE(delayFromSetting(text, 2000), delay);
    }

    void delayAnswer_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("numeric");
        QTest::addColumn<qint64>("delay");
        QTest::newRow("whole") << "1500" << true << qint64(1500);
        QTest::newRow("half to even down") << "1500.5" << true << qint64(1500);
        QTest::newRow("half to even up") << "1501.5" << true << qint64(1502);
        QTest::newRow("fraction") << "99.7" << true << qint64(100);
        QTest::newRow("too large stays large") << "70000" << true << qint64(70000);
        QTest::newRow("word") << "fast" << false << qint64(0);
        QTest::newRow("number and word") << "12ms" << false << qint64(0);
    }
    void delayAnswer()
    {
        QFETCH(QString, text);
        QFETCH(bool, numeric);
        QFETCH(qint64, delay);
        const std::optional<qint64> value = delayFromAnswer(text);
        QCOMPARE(value.has_value(), numeric);
        if (numeric)
            QCOMPARE(*value, delay);
    }

    void picturePath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("picture");
        QTest::newRow("ico") << "/p/a.ico" << true;
        QTest::newRow("upper CUR") << "/p/photo.CUR" << true;
        QTest::newRow("dib") << "/p/a.dib" << true;
        QTest::newRow("jpg") << "/p/photo.jpg" << false;
        QTest::newRow("png") << "/p/a.png" << false;
    }
    void picturePath()
    {
        QFETCH(QString, path);
        QFETCH(bool, picture);
        QCOMPARE(takesPicturePath(path), picture);
    }

    void caption_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("expected");
        QTest::newRow("the build's") << QString()
                                     << QStringLiteral("sea.jpg- Pictavo %1.%2")
                                            .arg(QStringLiteral(QMT_VERSION).section('.', 0, 0),
                                                 QStringLiteral(QMT_VERSION).section('.', 1, 1));
        QTest::newRow("set at start") << "3.12.0.4"
                                      << "sea.jpg- Pictavo 3.12";
        QTest::newRow("major only") << "4"
                                    << "sea.jpg- Pictavo 4.0";
    }
    void caption()
    {
        QFETCH(QString, version);
        QCoreApplication::setApplicationVersion(version);
        const QString caption = windowCaption("/pics/sea.jpg");
        QCoreApplication::setApplicationVersion(QString());
        QTEST(caption, "expected");
    }

    void placement_data()
    {
        QTest::addColumn<QSizeF>("image");
        QTest::addColumn<bool>("centre");
        QTest::addColumn<bool>("fit");
        QTest::addColumn<QRectF>("expected");
        const QRectF page(0, 0, 1000, 2000);
        Q_UNUSED(page);
        QTest::newRow("top left") << QSizeF(200, 100) << false << false << QRectF(0, 0, 200, 100);
        QTest::newRow("centred") << QSizeF(200, 100) << true << false << QRectF(400, 950, 200, 100);
        QTest::newRow("fit wide") << QSizeF(200, 100) << true << true << QRectF(0, 750, 1000, 500);
        QTest::newRow("fit tall larger than page")
            << QSizeF(3000, 12000) << true << true << QRectF(250, 0, 500, 2000);
        QTest::newRow("large centred is not reduced")
            << QSizeF(3000, 100) << true << false << QRectF(-1000, 950, 3000, 100);
    }
    void placement()
    {
        QFETCH(QSizeF, image);
        QFETCH(bool, centre);
        QFETCH(bool, fit);
        QFETCH(QRectF, expected);
        const QRectF printable(0, 0, 1000, 2000);
        const QRectF got = printPlacement(image, printable, centre, fit);
        QCOMPARE(got, expected);
        if (fit)
            QVERIFY(printable.contains(got));
    }
};

QTEST_GUILESS_MAIN(ViewerFormatTest)
#include "viewerformattest.moc"
