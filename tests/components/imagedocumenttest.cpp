#include "components/engine/imagedocument.h"

#include <QClipboard>
#include <QColorSpace>
#include <QGuiApplication>
#include <QImageWriter>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace qmt;

namespace {

// A picture whose every pixel is tied to its position, so a shift, flip or mirror shows.
QImage gradient(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 255 / qMax(1, width - 1), y * 255 / qMax(1, height - 1), 128));
    return image;
}

// Pixel equality; a colour space tag that a reader attaches does not count.
bool samePixels(const QImage &a, const QImage &b)
{
    QImage x = a.convertToFormat(QImage::Format_RGB32);
    QImage y = b.convertToFormat(QImage::Format_RGB32);
    x.setColorSpace(QColorSpace());
    y.setColorSpace(QColorSpace());
    return x == y;
}

} // namespace

class ImageDocumentTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QVERIFY(m_dir.isValid()); }

    void loadsFileWithItsFacts()
    {
        const QString path = m_dir.filePath("Photo One.png");
        QVERIFY(gradient(40, 30).save(path));
        ImageDocument doc;
        QSignalSpy changed(&doc, &ImageDocument::changed);
        QVERIFY(doc.LoadImageFile(path));
        QCOMPARE(doc.PageCount(), 1);
        QCOMPARE(doc.ImageWidthPx(), 40);
        QCOMPARE(doc.ImageHeightPx(), 30);
        QCOMPARE(doc.BitsPerPixel(), 24);
        QCOMPARE(doc.ImageFormatCode(), int(FormatPng));
        QCOMPARE(doc.ImageFileName(), path);
        QCOMPARE(doc.ImageFileTitle(), QStringLiteral("Photo One.png"));
        QCOMPARE(changed.count(), 1);
    }

    void loadsEveryPageOfAMultiPageFile()
    {
        // Three pages of different sizes, put together by an independent program.
        QStringList parts;
        const QList<QSize> sizes{{10, 10}, {20, 12}, {8, 30}};
        for (int i = 0; i < sizes.size(); ++i) {
            parts << m_dir.filePath(QStringLiteral("part%1.png").arg(i));
            QVERIFY(gradient(sizes[i].width(), sizes[i].height()).save(parts.last()));
        }
        const QString path = m_dir.filePath("pages.tif");
        if (!QFile::exists("/usr/bin/convert"))
            QSKIP("ImageMagick is not installed");
        QCOMPARE(QProcess::execute("/usr/bin/convert", parts + QStringList{path}), 0);
        ImageDocument doc;
        QVERIFY(doc.LoadImageFile(path));
        QCOMPARE(doc.PageCount(), 3);
        QCOMPARE(doc.ImageWidthPx(), 10);
        QCOMPARE(doc.GetPage(1).size(), QSize(20, 12));
        QVERIFY(doc.SelectPage(2));
        QCOMPARE(doc.currentPage(), 2);
        QCOMPARE(doc.ImageWidthPx(), 8);
        QVERIFY(!doc.SelectPage(3));
        QCOMPARE(doc.currentPage(), 2);
        QVERIFY(doc.GetPage(5).isNull());
    }

    void failedLoadKeepsThePreviousImageAndSaysWhy_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("create");
        QTest::newRow("missing") << QByteArray() << false;
        QTest::newRow("empty") << QByteArray() << true;
        QTest::newRow("garbage") << QByteArray("this is not a picture at all, only words") << true;
        QTest::newRow("truncated png") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << true;
    }

    void failedLoadKeepsThePreviousImageAndSaysWhy()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, create);
        const QString good = m_dir.filePath("good.png");
        QVERIFY(gradient(5, 5).save(good));
        const QString bad = m_dir.filePath("bad.png");
        if (create) {
            QFile file(bad);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        ImageDocument doc;
        QVERIFY(doc.LoadImageFile(good));
        const Status status = doc.LoadImageFile(bad);
        QVERIFY(!status);
        QVERIFY(!status.error().isEmpty());
        QCOMPARE(doc.ImageFileName(), good);
        QCOMPARE(doc.ImageWidthPx(), 5);
    }

    void resizeKeepsAspectWhenOneSideIsZero_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("width only") << 100 << 0 << QSize(100, 50);
        QTest::newRow("height only") << 0 << 25 << QSize(50, 25);
        QTest::newRow("both") << 30 << 70 << QSize(30, 70);
    }

    void resizeKeepsAspectWhenOneSideIsZero()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(QSize, expected);
        ImageDocument doc;
        QVERIFY(doc.LoadFromPicture(gradient(200, 100)));
        QVERIFY(doc.ResizeImage(width, height));
        QCOMPARE(doc.image().size(), expected);
    }

    void resizeRefusesNonsense()
    {
        ImageDocument doc;
        QVERIFY(!doc.ResizeImage(10, 10)); // nothing loaded
        QVERIFY(doc.LoadFromPicture(gradient(20, 10)));
        QVERIFY(!doc.ResizeImage(0, 0));
        QVERIFY(!doc.ResizeImage(-5, 10));
        QVERIFY(!doc.ResizeImage(1'000'000, 1'000'000));
        QCOMPARE(doc.image().size(), QSize(20, 10));
    }

    void canvasPlacesTheImageAndFillsTheRest()
    {
        ImageDocument doc;
        const QImage source = gradient(4, 3);
        QVERIFY(doc.LoadFromPicture(source));
        const QColor fill = ImageDocument::MakeColour(qRgb(10, 20, 30), 255);
        QVERIFY(doc.ResizeCanvas(10, 8, fill, 3, 2));
        const QImage &canvas = doc.image();
        QCOMPARE(canvas.size(), QSize(10, 8));
        QCOMPARE(canvas.pixel(0, 0), fill.rgb());
        QCOMPARE(canvas.pixel(9, 7), fill.rgb());
        QCOMPARE(canvas.pixel(3, 2), source.pixel(0, 0));
        QCOMPARE(canvas.pixel(6, 4), source.pixel(3, 2));
        QCOMPARE(canvas.pixel(7, 4), fill.rgb());
        QVERIFY(!doc.ResizeCanvas(0, 8, fill, 0, 0));
    }

    void rotationTurnsAndComesBack()
    {
        ImageDocument doc;
        const QImage source = gradient(6, 4);
        QVERIFY(doc.LoadFromPicture(source));
        QVERIFY(doc.RotateImage(90.0));
        QCOMPARE(doc.image().size(), QSize(4, 6));
        // A clockwise quarter turn puts the old bottom-left corner at the top-left.
        QCOMPARE(doc.image().pixel(0, 0), source.pixel(0, 3));
        QVERIFY(doc.RotateImage(-90.0));
        QVERIFY(samePixels(doc.image(), source));
        QVERIFY(!doc.RotateImage(45.0));
    }

    void savesAndReadsBackLosslessFormats_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("png") << int(FormatPng) << "png";
        QTest::newRow("bmp") << int(FormatBmp) << "bmp";
        QTest::newRow("tiff") << int(FormatTiff) << "tif";
    }

    void savesAndReadsBackLosslessFormats()
    {
        QFETCH(int, code);
        QFETCH(QString, suffix);
        ImageDocument doc;
        const QImage source = gradient(33, 17);
        QVERIFY(doc.LoadFromPicture(source));
        const QString path = m_dir.filePath("saved." + suffix);
        const Status saved = doc.SaveImageFile(path, code);
        QVERIFY2(saved, qPrintable(saved.error()));
        ImageDocument back;
        QVERIFY(back.LoadImageFile(path));
        QCOMPARE(back.ImageFormatCode(), code);
        QVERIFY(samePixels(back.image(), source));
    }

    void jpegSaveIsCloseToTheSource()
    {
        ImageDocument doc;
        const QImage source = gradient(64, 48);
        QVERIFY(doc.LoadFromPicture(source));
        const QString path = m_dir.filePath("saved.jpg");
        QVERIFY(doc.SaveImageFile(path, FormatJpeg));
        ImageDocument back;
        QVERIFY(back.LoadImageFile(path));
        QCOMPARE(back.ImageFormatCode(), int(FormatJpeg));
        const QRgb a = source.pixel(40, 20);
        const QRgb b = back.image().pixel(40, 20);
        QVERIFY(qAbs(qRed(a) - qRed(b)) < 12 && qAbs(qGreen(a) - qGreen(b)) < 12);
    }

    void saveFailuresAreReported()
    {
        ImageDocument doc;
        QVERIFY(!doc.SaveImageFile(m_dir.filePath("nothing.png"), FormatPng));
        QVERIFY(doc.LoadFromPicture(gradient(4, 4)));
        QVERIFY(!doc.SaveImageFile(m_dir.filePath("x.png"), 42));
        const Status unwritable = doc.SaveImageFile(m_dir.filePath("no/such/folder/x.png"), FormatPng);
        QVERIFY(!unwritable);
        QVERIFY(!unwritable.error().isEmpty());
    }

    void copiesTheFullImageToTheClipboard()
    {
        ImageDocument doc;
        const QImage source = gradient(300, 200);
        QVERIFY(doc.LoadFromPicture(source));
        QVERIFY(doc.CopyToClipboard());
        const QImage copied = QGuiApplication::clipboard()->image();
        QCOMPARE(copied.size(), source.size());
        QCOMPARE(copied.pixel(299, 199), source.pixel(299, 199));
    }

    void clearEmptiesEverything()
    {
        ImageDocument doc;
        QVERIFY(doc.LoadFromPicture(gradient(4, 4)));
        doc.ClearImage();
        QCOMPARE(doc.PageCount(), 0);
        QVERIFY(doc.image().isNull());
        QCOMPARE(doc.ImageWidthPx(), 0);
        QVERIFY(doc.ImageFileName().isEmpty());
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(ImageDocumentTest)
#include "imagedocumenttest.moc"
