// The modern formats' readers come from a module loaded on first use: what happens when it is
// missing, unfit or damaged, and that it is loaded once and from its own folder only.

#include "components/codecs/decodebudget.h"
#include "components/codecs/moderncodecabi.h"
#include "components/codecs/moderncodecs.h"
#include "components/engine/formatcodes.h"
#include "components/engine/imageio.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtConcurrent>
#include <QtTest>

#include <sys/stat.h>

using namespace qmt;

namespace {

QString dataFile(const QString &name)
{
    return qEnvironmentVariable("QMT_TEST_DATA") + QStringLiteral("/codecs/") + name;
}

// Where the build placed the module for this test program.
QString moduleFolder()
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') +
           QLatin1String(kModernCodecFolder);
}

QString builtModule()
{
    return moduleFolder() + QLatin1Char('/') + QLatin1String(kModernCodecModuleFile);
}

} // namespace

class ModernCodecModuleTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { ModernCodecs::setModuleFolderForTesting(QString()); }
    void cleanupTestCase() { ModernCodecs::setModuleFolderForTesting(QString()); }

    void signaturesNeedNoModule_data();
    void signaturesNeedNoModule();
    void unfitModuleGivesMessage_data();
    void unfitModuleGivesMessage();
    void moduleIsTakenFromItsFolderOnly();
    void firstLoadFromManyThreads();
    void decodesCountAgainstTheProgramsBudget_data();
    void decodesCountAgainstTheProgramsBudget();
};

void ModernCodecModuleTest::signaturesNeedNoModule_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("format");
    QTest::newRow("webp") << "webp/seed-lossy.webp"
                          << "webp";
    QTest::newRow("webp animation") << "webp/seed-anim.webp"
                                    << "webp";
    QTest::newRow("heic") << "heif/seed.heic"
                          << "heif";
    QTest::newRow("avif") << "avif/seed.avif"
                          << "avif";
    QTest::newRow("jxl codestream") << "jxl/seed-lossy.jxl"
                                    << "jxl";
    QTest::newRow("jxl lossless") << "jxl/seed-lossless.jxl"
                                  << "jxl";
    QTest::newRow("jpeg") << "jpeg/seed-baseline.jpg"
                          << "";
}

// Each file is recognised by its own format's test and by no other, with no module to ask.
void ModernCodecModuleTest::signaturesNeedNoModule()
{
    QFETCH(QString, file);
    QFETCH(QString, format);
    QFile in(dataFile(file));
    QVERIFY2(in.open(QIODevice::ReadOnly), qPrintable(in.fileName()));
    const QStringList found = [&] {
        QStringList names;
        if (ModernCodecs::isWebp(&in))
            names << "webp";
        if (ModernCodecs::isHeif(&in))
            names << "heif";
        if (ModernCodecs::isAvif(&in))
            names << "avif";
        if (ModernCodecs::isJxl(&in))
            names << "jxl";
        return names;
    }();
    QCOMPARE(found, format.isEmpty() ? QStringList() : QStringList{format});
    QCOMPARE(in.pos(), 0);
}

void ModernCodecModuleTest::unfitModuleGivesMessage_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << "none"
                             << "there is no /";
    QTest::newRow("a folder") << "folder"
                              << "is not a regular file";
    QTest::newRow("not a library") << "text"
                                   << "qmt-modern-codecs.so";
    QTest::newRow("writable by anyone") << "world-writable"
                                        << "may be changed by other users";
    QTest::newRow("another library") << "other"
                                     << "belongs to another build of the program";
}

// Every modern format fails with the same clear reason and nothing crashes; the formats the
// program reads itself are untouched.
void ModernCodecModuleTest::unfitModuleGivesMessage()
{
    QFETCH(QString, setup);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString module = dir.filePath(QLatin1String(kModernCodecModuleFile));
    if (setup == "folder") {
        QVERIFY(QDir(dir.path()).mkdir(QLatin1String(kModernCodecModuleFile)));
    } else if (setup == "text") {
        QFile file(module);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a shared library\n");
    } else if (setup == "world-writable") {
        QVERIFY(QFile::copy(builtModule(), module));
        QVERIFY(chmod(QFile::encodeName(module).constData(), 0757) == 0);
    } else if (setup == "other") {
        // A real library that is not the module: it has no entry to hand over a table.
        QFile libc(QStringLiteral("/lib/x86_64-linux-gnu/libz.so.1"));
        if (!libc.exists())
            QSKIP("no libz.so.1 to stand in for a foreign library");
        QVERIFY(libc.copy(module));
    }
    ModernCodecs::setModuleFolderForTesting(dir.path());

    const struct {
        const char *file;
        const char *format;
    } pictures[] = {{"webp/seed-lossy.webp", "WebP"},
                    {"heif/seed.heic", "HEIF"},
                    {"avif/seed.avif", "AVIF"},
                    {"jxl/seed-lossy.jxl", "JPEG XL"}};
    for (const auto &picture : pictures) {
        const Result<DecodedImage> read = readImageFile(dataFile(picture.file));
        QVERIFY2(!read.ok(), picture.file);
        const QString expected =
            QStringLiteral("%1 pictures cannot be read: %1 support is not installed (")
                .arg(QLatin1String(picture.format));
        QVERIFY2(read.error().startsWith(expected), qPrintable(read.error()));
        QVERIFY2(read.error().contains(reason), qPrintable(read.error()));
    }
    const Result<DecodedImage> jpeg = readImageFile(dataFile("jpeg/seed-baseline.jpg"));
    QVERIFY2(jpeg.ok(), qPrintable(jpeg.error()));
    QCOMPARE(jpeg->formatCode, int(FormatJpeg));
}

// A sound module in the folder given is loaded from there; the program's folder is the one used
// otherwise, whatever the current folder holds.
void ModernCodecModuleTest::moduleIsTakenFromItsFolderOnly()
{
    QCOMPARE(ModernCodecs::moduleFolder(), moduleFolder());

    QTemporaryDir empty;
    QVERIFY(empty.isValid());
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(moduleFolder()));
    ModernCodecs::setModuleFolderForTesting(empty.path());
    const Result<DecodedImage> missing = readImageFile(dataFile("avif/seed.avif"));
    QVERIFY(QDir::setCurrent(before));
    QVERIFY2(!missing.ok(), "a module in the current folder was taken");

    QTemporaryDir other;
    QVERIFY(QFile::copy(builtModule(), other.filePath(QLatin1String(kModernCodecModuleFile))));
    ModernCodecs::setModuleFolderForTesting(other.path());
    QCOMPARE(ModernCodecs::moduleFolder(), other.path());
    const Result<DecodedImage> read = readImageFile(dataFile("avif/seed.avif"));
    QVERIFY2(read.ok(), qPrintable(read.error()));
    QCOMPARE(read->formatCode, int(FormatAvif));
    QVERIFY(!read->pages.value(0).isNull());
}

// Thumbnail workers may all meet their first modern picture at once: the module is loaded once
// and every one of them reads its picture.
void ModernCodecModuleTest::firstLoadFromManyThreads()
{
    const QStringList files = {"webp/seed-lossy.webp", "heif/seed.heic",
                               "avif/seed.avif",       "jxl/seed-lossy.jxl",
                               "webp/seed-alpha.webp", "heif/seed-alpha.heic",
                               "avif/seed-alpha.avif", "jxl/seed-lossless.jxl"};
    QStringList repeated;
    for (int round = 0; round < 8; ++round)
        repeated << files;
    QThreadPool pool;
    pool.setMaxThreadCount(16);
    const QList<QString> errors =
        QtConcurrent::blockingMapped(&pool, repeated, [](const QString &file) -> QString {
            QFile in(dataFile(file));
            if (!in.open(QIODevice::ReadOnly))
                return file + QStringLiteral(": cannot open");
            ReadOptions options;
            options.targetSize = QSize(64, 64);
            const Result<DecodedImage> read = readImageDevice(&in, file, options);
            return read.ok() ? QString() : file + QStringLiteral(": ") + read.error();
        });
    for (const QString &error : errors)
        QVERIFY2(error.isEmpty(), qPrintable(error));
}

void ModernCodecModuleTest::decodesCountAgainstTheProgramsBudget_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("webp") << "webp/seed-lossy.webp";
    QTest::newRow("avif") << "avif/seed.avif";
    QTest::newRow("jxl") << "jxl/seed-lossless.jxl";
}

// The module's readers take their memory from the budget the program's decodes share, not from
// a copy of it that no one else sees.
void ModernCodecModuleTest::decodesCountAgainstTheProgramsBudget()
{
    QFETCH(QString, file);
    DecodeBudget budget(std::int64_t(1) << 30);
    const DecodeBudgetScope scope(&budget);
    const Result<DecodedImage> read = readImageFile(dataFile(file));
    QVERIFY2(read.ok(), qPrintable(read.error()));
    const QSize size = read->pages.value(0).size();
    QVERIFY(DecodeBudgetScope::reserved() >= qint64(size.width()) * size.height() * 4);
    QCOMPARE(budget.held(), DecodeBudgetScope::reserved());
}

QTEST_GUILESS_MAIN(ModernCodecModuleTest)
#include "moderncodecmoduletest.moc"
