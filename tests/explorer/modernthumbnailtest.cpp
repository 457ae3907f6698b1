#include "components/codecs/moderncodecs.h"
#include "components/thumbnailcache.h"
#include "explorer/thumbnailer.h"
#include "support/sandbox.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace qmt;

// Thumbnails of WebP, HEIF, AVIF and JPEG XL pictures when their reader's module is missing: a
// placeholder now, and no failure record that would keep the thumbnail away once it is there.
class ModernThumbnailTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { ModernCodecs::setModuleFolderForTesting(QString()); }

    void missingReaderIsNotRecordedAgainstTheFile_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("webp") << "webp/seed-lossy.webp";
        QTest::newRow("heic") << "heif/seed.heic";
        QTest::newRow("avif") << "avif/seed.avif";
        QTest::newRow("jxl") << "jxl/seed-lossy.jxl";
    }
    void missingReaderIsNotRecordedAgainstTheFile()
    {
        QFETCH(QString, file);
        test::Sandbox sandbox;
        const QString picture = sandbox.file(QFileInfo(file).fileName());
        QVERIFY(QFile::copy(qEnvironmentVariable("QMT_TEST_DATA") + "/codecs/" + file, picture));
        const ThumbnailCache cache;

        QTemporaryDir empty;
        ModernCodecs::setModuleFolderForTesting(empty.path());
        const auto without = Thumbnailer::makeOne({picture, false}, &cache);
        QVERIFY(without.thumbnail.isNull());
        QVERIFY2(without.error.contains("support is not installed"), qPrintable(without.error));
        QVERIFY(!cache.failure(picture));

        ModernCodecs::setModuleFolderForTesting(QString());
        const auto with = Thumbnailer::makeOne({picture, false}, &cache);
        QVERIFY2(with.error.isEmpty(), qPrintable(with.error));
        QVERIFY(!with.thumbnail.isNull());
        QVERIFY(cache.lookup(picture));

        // A damaged file of the same type is still remembered as one.
        const QString damaged = sandbox.file("damaged-" + QFileInfo(file).fileName());
        QFile in(picture);
        QVERIFY(in.open(QIODevice::ReadOnly));
        QFile out(damaged);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(in.read(40));
        out.close();
        const auto broken = Thumbnailer::makeOne({damaged, false}, &cache);
        QVERIFY(broken.thumbnail.isNull());
        QVERIFY(cache.failure(damaged));
    }
};

QTEST_MAIN(ModernThumbnailTest)
#include "modernthumbnailtest.moc"
