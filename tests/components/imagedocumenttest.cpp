#include "components/engine/imagedocument.h"

#include <QClipboard>
#include <QColorSpace>
#include <QFile>
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
            image.setPixel(x, y,
                           qRgb(x * 255 / qMax(1, width - 1), y * 255 / qMax(1, height - 1), 128));
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

// What a decode of `full` gives, and a quarter-size stand-in for it.
DecodedImage decoded(const QImage &full)
{
    DecodedImage image;
    image.pages = {full};
    image.formatCode = FormatJpeg;
    image.bitsPerPixel = 24;
    image.fullSize = full.size();
    return image;
}

DecodedImage preview(const QImage &full)
{
    DecodedImage image = decoded(full);
    image.pages = {full.scaled(full.size() / 4)};
    return image;
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
        const QString path = threePageTiff();
        if (path.isEmpty())
            QSKIP("ImageMagick is not installed");
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

    // Pages wait in the file until asked for; those held never come to more than the limit,
    // and a page that gave way is read again when asked for once more.
    void pagesAreDecodedWhenAskedAndHeldWithinTheLimit()
    {
        const QString path = threePageTiff();
        if (path.isEmpty())
            QSKIP("ImageMagick is not installed");
        ImageDocument doc;
        doc.setHeldPixelLimit(360); // the first page and one other
        QVERIFY(doc.LoadImageFile(path));
        QCOMPARE(doc.PageCount(), 3);
        QCOMPARE(doc.heldPixels(), 100);
        QCOMPARE(doc.GetPage(1).size(), QSize(20, 12));
        QCOMPARE(doc.heldPixels(), 340);
        QCOMPARE(doc.GetPage(2).size(), QSize(8, 30));
        QVERIFY(doc.heldPixels() <= 360);
        QVERIFY(samePixels(doc.GetPage(1), gradient(20, 12)));
        QVERIFY(doc.heldPixels() <= 360);
        // The page shown stays.
        QCOMPARE(doc.currentPage(), 0);
        QVERIFY(samePixels(doc.image(), gradient(10, 10)));
    }

    void changedPagesAreNeverDropped()
    {
        const QString path = threePageTiff();
        if (path.isEmpty())
            QSKIP("ImageMagick is not installed");
        ImageDocument doc;
        doc.setHeldPixelLimit(400);
        QVERIFY(doc.LoadImageFile(path));
        QVERIFY(doc.SelectPage(1));
        QVERIFY(doc.RotateImage(90.0));
        // The turned page cannot be read again, so there is no room for the third.
        const Status refused = doc.SelectPage(2);
        QVERIFY(!refused);
        QVERIFY(!refused.error().isEmpty());
        QCOMPARE(doc.currentPage(), 1);
        doc.setHeldPixelLimit(600);
        QVERIFY(doc.SelectPage(2));
        QCOMPARE(doc.GetPage(1).size(), QSize(12, 20));
    }

    void encryptionTakesEveryPageOrNone()
    {
        const QString path = threePageTiff();
        if (path.isEmpty())
            QSKIP("ImageMagick is not installed");
        ImageDocument doc;
        doc.setHeldPixelLimit(500); // less than the three pages together (580)
        QVERIFY(doc.LoadImageFile(path));
        QVERIFY(!doc.EncryptImage(QStringLiteral("key")));
        QVERIFY(!doc.isEncrypted());
        QVERIFY(samePixels(doc.image(), gradient(10, 10)));

        doc.setHeldPixelLimit(600);
        QVERIFY(doc.EncryptImage(QStringLiteral("key")));
        QVERIFY(!samePixels(doc.GetPage(2), gradient(8, 30)));
        QVERIFY(doc.DecryptImage(QStringLiteral("key")));
        const QList<QSize> sizes{{10, 10}, {20, 12}, {8, 30}};
        for (int page = 0; page < sizes.size(); ++page)
            QVERIFY(
                samePixels(doc.GetPage(page), gradient(sizes[page].width(), sizes[page].height())));
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
        const Status unwritable =
            doc.SaveImageFile(m_dir.filePath("no/such/folder/x.png"), FormatPng);
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

    // A reduced stand-in shows the picture early; nothing may read or change its pixels as if
    // they were the picture's.
    void previewCompletesBeforeAnyPixelWork_data()
    {
        QTest::addColumn<QString>("work");
        QTest::addColumn<QSize>("resultSize"); // what the work leaves as the current page
        QTest::newRow("page") << "page" << QSize(400, 300);
        QTest::newRow("pages") << "pages" << QSize(400, 300);
        QTest::newRow("picture") << "picture" << QSize(400, 300);
        QTest::newRow("select page") << "select" << QSize(400, 300);
        QTest::newRow("save") << "save" << QSize(400, 300);
        QTest::newRow("clipboard") << "clipboard" << QSize(400, 300);
        QTest::newRow("rotate") << "rotate" << QSize(300, 400);
        QTest::newRow("resize") << "resize" << QSize(200, 150);
        QTest::newRow("canvas") << "canvas" << QSize(420, 320);
        QTest::newRow("encrypt") << "encrypt" << QSize(400, 300);
    }
    void previewCompletesBeforeAnyPixelWork()
    {
        QFETCH(QString, work);
        QFETCH(QSize, resultSize);
        const QImage full = gradient(400, 300);
        int completions = 0;
        ImageDocument doc;
        doc.adoptPreview(preview(full), m_dir.filePath("photo.jpg"), [&] {
            ++completions;
            return Result<DecodedImage>(decoded(full));
        });
        QVERIFY(doc.isPreview());
        // The picture's facts, the stand-in's pixels.
        QCOMPARE(doc.ImageWidthPx(), 400);
        QCOMPARE(doc.ImageHeightPx(), 300);
        QCOMPARE(doc.BitsPerPixel(), 24);
        QCOMPARE(doc.ImageFormatCode(), int(FormatJpeg));
        QCOMPARE(doc.image().size(), QSize(100, 75));
        QCOMPARE(completions, 0);

        const QString saved = m_dir.filePath("saved.png");
        QImage seen;
        if (work == "page")
            seen = doc.GetPage(0);
        else if (work == "pages")
            seen = *doc.fetchPage(0);
        else if (work == "picture")
            seen = doc.GetPicture();
        else if (work == "select")
            QVERIFY(doc.SelectPage(0));
        else if (work == "save")
            QVERIFY(doc.SaveImageFile(saved, FormatPng));
        else if (work == "clipboard")
            QVERIFY(doc.CopyToClipboard());
        else if (work == "rotate")
            QVERIFY(doc.RotateImage(90.0));
        else if (work == "resize")
            QVERIFY(doc.ResizeImage(200, 0));
        else if (work == "canvas")
            QVERIFY(doc.ResizeCanvas(420, 320, Qt::white, 10, 10));
        else if (work == "encrypt")
            QVERIFY(doc.EncryptImage(QStringLiteral("key")));
        QCOMPARE(completions, 1);
        QVERIFY(!doc.isPreview());
        QCOMPARE(doc.image().size(), resultSize);
        if (!seen.isNull())
            QVERIFY(samePixels(seen, full));
        if (work == "save")
            QVERIFY(samePixels(QImage(saved), full));
        if (work == "clipboard")
            QCOMPARE(QGuiApplication::clipboard()->image().size(), full.size());
        // Once complete, nothing is fetched again.
        doc.GetPage(0);
        QCOMPARE(completions, 1);
    }

    void aPreviewWhosePictureCannotBeReadLeavesNothing()
    {
        ImageDocument doc;
        QSignalSpy changed(&doc, &ImageDocument::changed);
        doc.adoptPreview(preview(gradient(400, 300)), m_dir.filePath("gone.jpg"), [] {
            return Result<DecodedImage>::fail(QStringLiteral("The file does not exist."));
        });
        // Never the reduced pixels written as the picture.
        const QString saved = m_dir.filePath("never.png");
        QVERIFY(!doc.SaveImageFile(saved, FormatPng));
        QVERIFY(!QFile::exists(saved));
        QCOMPARE(doc.PageCount(), 0);
        QVERIFY(!doc.isPreview());
        QCOMPARE(changed.count(), 2);
    }

    void aPreviewIsForgottenWithItsPicture()
    {
        int completions = 0;
        const auto count = [&completions] {
            ++completions;
            return Result<DecodedImage>(decoded(gradient(400, 300)));
        };
        ImageDocument doc;
        doc.adoptPreview(preview(gradient(400, 300)), m_dir.filePath("a.jpg"), count);
        QVERIFY(doc.LoadFromPicture(gradient(8, 8)));
        QVERIFY(!doc.isPreview());
        QCOMPARE(doc.ImageWidthPx(), 8);
        doc.adoptPreview(preview(gradient(400, 300)), m_dir.filePath("a.jpg"), count);
        doc.adoptDecoded(decoded(gradient(9, 9)), m_dir.filePath("b.png"));
        QCOMPARE(doc.GetPage(0).size(), QSize(9, 9));
        // A stand-in as large as the picture is the picture.
        doc.adoptPreview(decoded(gradient(50, 40)), m_dir.filePath("c.jpg"), count);
        QVERIFY(!doc.isPreview());
        QCOMPARE(doc.GetPage(0).size(), QSize(50, 40));
        QCOMPARE(completions, 0);
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
    // Three pages of 10 x 10, 20 x 12 and 8 x 30, put together by an independent program;
    // empty when ImageMagick is not installed.
    QString threePageTiff()
    {
        const QString path = m_dir.filePath("pages.tif");
        if (QFile::exists(path))
            return path;
        if (!QFile::exists("/usr/bin/convert"))
            return {};
        QStringList parts;
        const QList<QSize> sizes{{10, 10}, {20, 12}, {8, 30}};
        for (int i = 0; i < sizes.size(); ++i) {
            parts << m_dir.filePath(QStringLiteral("part%1.png").arg(i));
            if (!gradient(sizes[i].width(), sizes[i].height()).save(parts.last()))
                return {};
        }
        return QProcess::execute("/usr/bin/convert", parts + QStringList{path}) == 0 ? path
                                                                                     : QString();
    }

    QTemporaryDir m_dir;
};

QTEST_MAIN(ImageDocumentTest)
#include "imagedocumenttest.moc"
