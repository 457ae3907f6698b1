#include "components/engine/imagecipher.h"
#include "components/engine/imagedocument.h"

#include <QElapsedTimer>
#include <QPainter>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace qmt;

namespace {

// A picture with gradients, flat areas and (optionally) varying alpha, so that both a keystream
// that skips pixels and one that touches alpha would show.
QImage samplePicture(int w, int h, bool alpha, quint32 seed)
{
    QImage image(w, h, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    QRandomGenerator rng(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int a = alpha ? int((x * 255) / qMax(1, w - 1)) : 255;
            const int r = x < w / 2 ? 200 : int(rng.bounded(256));
            image.setPixel(x, y, qRgba(r, (y * 7) & 0xff, (x * y) & 0xff, a));
        }
    return image;
}

// Pixel values compared as ARGB, independent of the storage format.
bool samePixels(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return false;
    const QImage ca = a.convertToFormat(QImage::Format_ARGB32);
    const QImage cb = b.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < ca.height(); ++y)
        if (std::memcmp(ca.constScanLine(y), cb.constScanLine(y), size_t(ca.width()) * 4) != 0)
            return false;
    return true;
}

// Share of pixels whose colour changed; encryption should change nearly all of them.
double changedShare(const QImage &a, const QImage &b)
{
    const QImage ca = a.convertToFormat(QImage::Format_ARGB32);
    const QImage cb = b.convertToFormat(QImage::Format_ARGB32);
    qint64 changed = 0;
    for (int y = 0; y < ca.height(); ++y)
        for (int x = 0; x < ca.width(); ++x)
            changed += (ca.pixel(x, y) & 0xffffff) != (cb.pixel(x, y) & 0xffffff);
    return double(changed) / (qint64(ca.width()) * ca.height());
}

} // namespace

class ImageCipherTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keyDerivation()
    {
        const auto a = ImageCipher::deriveKey(QStringLiteral("secret"));
        const auto b = ImageCipher::deriveKey(QStringLiteral("secret"));
        const auto c = ImageCipher::deriveKey(QStringLiteral("Secret"));
        const auto spaced = ImageCipher::deriveKey(QStringLiteral("secret "));
        QVERIFY(a && b && c && spaced);
        QCOMPARE(a->size(), ImageCipher::kKeyBytes);
        QCOMPARE(*a, *b);
        QVERIFY(*a != *c);
        QVERIFY(*a != *spaced); // the key is taken as typed, no trimming
        QVERIFY(!ImageCipher::deriveKey(QString()));
        QCOMPARE(ImageCipher::salt().size(), 16);
    }

    void roundTrip_data()
    {
        QTest::addColumn<QList<QImage>>("pages");
        const QImage rgb = samplePicture(37, 23, false, 1);
        const QImage argb = samplePicture(64, 17, true, 2);
        QTest::newRow("rgb32") << QList<QImage>{rgb};
        QTest::newRow("argb32") << QList<QImage>{argb};
        QTest::newRow("indexed") << QList<QImage>{rgb.convertToFormat(QImage::Format_Indexed8)};
        QTest::newRow("grayscale") << QList<QImage>{rgb.convertToFormat(QImage::Format_Grayscale8)};
        QTest::newRow("rgb888") << QList<QImage>{rgb.convertToFormat(QImage::Format_RGB888)};
        QTest::newRow("one-pixel") << QList<QImage>{samplePicture(1, 1, false, 3)};
        QTest::newRow("three pages") << QList<QImage>{rgb, argb, samplePicture(5, 300, false, 4)};
    }

    void roundTrip()
    {
        QFETCH(QList<QImage>, pages);
        const auto key = ImageCipher::deriveKey(QStringLiteral("päss wörd"));
        QVERIFY(key);
        QList<QImage> work = pages;
        QVERIFY(ImageCipher::apply(work, *key));
        QCOMPARE(work.size(), pages.size());
        for (int i = 0; i < pages.size(); ++i) {
            QCOMPARE(work[i].size(), pages[i].size());
            QCOMPARE(work[i].depth(), 32);
            // Alpha is left alone everywhere.
            for (int y = 0; y < work[i].height(); ++y)
                for (int x = 0; x < work[i].width(); ++x)
                    QCOMPARE(qAlpha(work[i].pixel(x, y)), qAlpha(pages[i].pixel(x, y)));
            if (pages[i].width() * pages[i].height() > 100)
                QVERIFY2(changedShare(work[i], pages[i]) > 0.95, "the colours barely changed");
        }
        QVERIFY(ImageCipher::apply(work, *key));
        for (int i = 0; i < pages.size(); ++i)
            QVERIFY2(samePixels(work[i], pages[i]), qPrintable(QStringLiteral("page %1").arg(i)));
    }

    void pagesGetTheirOwnKeystream()
    {
        // Two identical pages must not encrypt to identical noise.
        const QImage page = samplePicture(40, 40, false, 9);
        QList<QImage> pages{page, page};
        const auto key = ImageCipher::deriveKey(QStringLiteral("k"));
        QVERIFY(ImageCipher::apply(pages, *key));
        QVERIFY(!samePixels(pages[0], pages[1]));
    }

    void wrongKeyGivesNoise()
    {
        ImageDocument doc;
        QVERIFY(doc.LoadFromPicture(samplePicture(50, 40, false, 5)));
        const QImage original = doc.image();
        QVERIFY(doc.EncryptImage(QStringLiteral("right")));
        QVERIFY(doc.isEncrypted());
        const QImage encrypted = doc.image();
        QVERIFY(doc.DecryptImage(QStringLiteral("wrong"))); // no error for a wrong key
        QVERIFY(!doc.isEncrypted());
        QVERIFY(changedShare(doc.image(), original) > 0.95);
        QVERIFY(changedShare(doc.image(), encrypted) > 0.95);
        QCOMPARE(doc.ImageWidthPx(), 50);
        QCOMPARE(doc.ImageHeightPx(), 40);
    }

    void emptyKeyAndEmptyDocumentAreRefused()
    {
        ImageDocument doc;
        QVERIFY(!doc.EncryptImage(QStringLiteral("x")));
        QVERIFY(doc.LoadFromPicture(samplePicture(8, 8, false, 6)));
        const QImage before = doc.image();
        QSignalSpy changed(&doc, &ImageDocument::changed);
        const Status status = doc.EncryptImage(QString());
        QVERIFY(!status);
        QVERIFY(!status.error().isEmpty());
        QVERIFY(!doc.isEncrypted());
        QCOMPARE(changed.count(), 0);
        QVERIFY(samePixels(doc.image(), before));
        QVERIFY(!doc.DecryptImage(QString()));
    }

    void savedFilesDecryptExactly_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("png") << int(FormatPng) << "png";
        QTest::newRow("bmp") << int(FormatBmp) << "bmp";
        QTest::newRow("tiff") << int(FormatTiff) << "tif";
    }

    void savedFilesDecryptExactly()
    {
        QFETCH(int, format);
        QFETCH(QString, suffix);
        QTemporaryDir dir;
        const QString plainPath = dir.filePath("plain." + suffix);
        const QString cipherPath = dir.filePath("cipher." + suffix);
        QVERIFY(samplePicture(61, 33, false, 7).save(plainPath));

        ImageDocument doc;
        QVERIFY(doc.LoadImageFile(plainPath));
        const QImage original = doc.image();
        QVERIFY(doc.EncryptImage(QStringLiteral("holiday 2026")));
        const Status saved = doc.SaveImageFile(cipherPath, format);
        if (!saved)
            QSKIP(qPrintable("this build cannot write the format: " + saved.error()));

        ImageDocument reloaded;
        QVERIFY(reloaded.LoadImageFile(cipherPath));
        QVERIFY(!reloaded.isEncrypted()); // a file carries no mark
        QVERIFY(changedShare(reloaded.image(), original) > 0.95);
        QVERIFY(reloaded.DecryptImage(QStringLiteral("holiday 2026")));
        QVERIFY(samePixels(reloaded.image(), original));
    }

    void loadingClearsTheEncryptedState()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("a.png");
        QVERIFY(samplePicture(4, 4, false, 8).save(path));
        ImageDocument doc;
        QVERIFY(doc.LoadImageFile(path));
        QVERIFY(doc.EncryptImage(QStringLiteral("x")));
        QVERIFY(doc.isEncrypted());
        QVERIFY(doc.LoadImageFile(path));
        QVERIFY(!doc.isEncrypted());
        QVERIFY(doc.EncryptImage(QStringLiteral("x")));
        doc.ClearImage();
        QVERIFY(!doc.isEncrypted());
    }
};

QTEST_MAIN(ImageCipherTest)
#include "imageciphertest.moc"
