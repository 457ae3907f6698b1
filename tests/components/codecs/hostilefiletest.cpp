// Hostile pictures through the engine's command-line reader, each decode in a process of its
// own under a 1.6 GB address-space limit: every decode ends, with the page asked for or with a
// reason, and never with a crash or a hang. A process that needed more memory than the limit
// would fail to allocate and crash or report it; one that did the whole work of these files
// would not end. Folders of them are listed by the browser under the same limit, where the
// thumbnail workers decode several at once.

#include "hostilefiles.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/prctl.h>
#include <sys/resource.h>

namespace {

constexpr rlim_t kAddressSpace = 1'600'000'000;
// Room for the program and the canvas of the ellipse path, not for its drawing.
constexpr rlim_t kTooLittleForPaths = 470'000'000;
// Long enough for the largest decode on a busy machine; a decode doing the unbounded work of
// these files would take hours.
constexpr int kEndsWithinMs = 150'000;

QByteArray build(const QString &kind)
{
    if (kind == "gif")
        return hostile::gifOfTinyFrames(4096, 1000);
    if (kind == "tiff")
        return hostile::tiffOfHugePages(8, 16384);
    if (kind == "ico")
        return hostile::iconOfOnePng(11, 16384);
    if (kind == "psd")
        return hostile::psdWithoutPixels(16384, 16, 4, 56);
    if (kind == "wmf")
        return hostile::wmfOfThinPolygons(16000);
    if (kind == "emf paths")
        return hostile::emfOfEllipsePath(200'000, 4000);
    if (kind == "emf pen")
        return hostile::emfOfWidePenPolyline(4'000'000, 400);
    return {};
}

// What a process of the program said and how it ended.
struct Run {
    bool ended = false; // within kEndsWithinMs; a process that did not is killed
    bool crashed = false;
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs `program` with `arguments` under an address-space limit of `limit` bytes.
Run runLimited(const QString &program, const QStringList &arguments, rlim_t limit)
{
    QProcess process;
    process.setChildProcessModifier([limit] {
        const rlimit addressSpace{limit, limit};
        setrlimit(RLIMIT_AS, &addressSpace);
        // A process left running by a test that was stopped ends with it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
    });
    process.start(program, arguments);
    Run run;
    if (!process.waitForStarted())
        return run;
    run.ended = process.waitForFinished(kEndsWithinMs);
    if (!run.ended) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.crashed = process.exitStatus() != QProcess::NormalExit;
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace

class HostileFileTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void endsWithinMemory_data();
    void endsWithinMemory();

    void listsWithinMemory_data();
    void listsWithinMemory();

private:
    QString fileOf(const QString &kind);

    QTemporaryDir m_dir;
    QString m_tool;
};

void HostileFileTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_tool = QDir(qEnvironmentVariable("QMT_BUILD_DIR")).filePath(QStringLiteral("qmt-imgtool"));
    if (!QFile::exists(m_tool))
        QSKIP("qmt-imgtool is not built");
}

void HostileFileTest::endsWithinMemory_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("args"); // after the file name
    // Standard output, or the reason on standard error, must contain each of these.
    QTest::addColumn<QStringList>("says");
    QTest::addColumn<int>("exitCode");
    // The address-space limit of the decode's process.
    QTest::addColumn<qulonglong>("limit");

    // Pages are counted without being decoded, and a later page is decoded alone.
    QTest::newRow("gif: 1000 frames on a 4096 screen, counted")
        << "gif"
        << "screen.gif" << QStringList{"info"}
        << QStringList{"Pixel size: 4096 x 4096", "Pages: 1000"} << 0 << qulonglong(kAddressSpace);
    QTest::newRow("gif: the last frame alone")
        << "gif"
        << "screen.gif" << QStringList{"decode", "-", "--page", "999"} << QStringList() << 0
        << qulonglong(kAddressSpace);
    QTest::newRow("tiff: a 1x1 page before eight of 16384x16384, counted")
        << "tiff"
        << "pages.tif" << QStringList{"info"} << QStringList{"Pixel size: 1 x 1", "Pages: 9"} << 0
        << qulonglong(kAddressSpace);
    QTest::newRow("ico: eleven entries on one 16384x16384 png, the largest alone")
        << "ico"
        << "huge.ico" << QStringList{"info"}
        << QStringList{"Pixel size: 16384 x 16384", "Pages: 11"} << 0 << qulonglong(kAddressSpace);
    QTest::newRow("psd: 40 bytes claiming 16384x16384 16-bit cmyk, 56 channels")
        << "psd"
        << "cmyk.psd" << QStringList{"decode", "-"} << QStringList{"cut short"} << 1
        << qulonglong(kAddressSpace);
    QTest::newRow("wmf: one record of 16000 thin polygons")
        << "wmf"
        << "thin.wmf" << QStringList{"decode", "-"} << QStringList() << 0
        << qulonglong(kAddressSpace);
    QTest::newRow("emf: a path of 200000 large ellipses")
        << "emf paths"
        << "paths.emf" << QStringList{"decode", "-"} << QStringList() << 0
        << qulonglong(kAddressSpace);
    QTest::newRow("emf: a wide pen along 4 million points")
        << "emf pen"
        << "pen.emf" << QStringList{"decode", "-"} << QStringList() << 0
        << qulonglong(kAddressSpace);
    // Memory that runs out half way through the drawing gives a reason, not a crash.
    QTest::newRow("emf: a path of ellipses in too little memory")
        << "emf paths"
        << "paths.emf" << QStringList{"decode", "-"} << QStringList{"not enough memory"} << 1
        << qulonglong(kTooLittleForPaths);
}

QString HostileFileTest::fileOf(const QString &kind)
{
    static const QHash<QString, QString> names = {
        {"gif", "screen.gif"},  {"tiff", "pages.tif"}, {"ico", "huge.ico"},
        {"psd", "cmyk.psd"},    {"wmf", "thin.wmf"},   {"emf paths", "paths.emf"},
        {"emf pen", "pen.emf"},
    };
    const QString file = m_dir.filePath(names.value(kind));
    if (!QFile::exists(file) && !codectest::writeFile(file, build(kind)))
        return {};
    return file;
}

void HostileFileTest::listsWithinMemory_data()
{
    QTest::addColumn<QStringList>("kinds");
    // Files shown with a reason instead of a thumbnail.
    QTest::addColumn<int>("unreadable");

    // Each would decode close to a gigabyte beside the other.
    QTest::newRow("an icon on one huge png beside a path of ellipses")
        << QStringList{"ico", "emf paths"} << 0;
    QTest::newRow("every hostile file together")
        << QStringList{"gif", "tiff", "ico", "psd", "wmf", "emf paths", "emf pen"} << 1;
}

void HostileFileTest::listsWithinMemory()
{
    QFETCH(QStringList, kinds);
    QFETCH(int, unreadable);

    const QString bench =
        QDir(qEnvironmentVariable("QMT_BUILD_DIR")).filePath(QStringLiteral("qmt-bench"));
    if (!QFile::exists(bench))
        QSKIP("qmt-bench is not built");
    const QString folder = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(folder));
    for (const QString &kind : kinds) {
        const QString file = fileOf(kind);
        QVERIFY(!file.isEmpty());
        const QString copy = folder + '/' + QFileInfo(file).fileName();
        QVERIFY(QFile::exists(copy) || QFile::link(file, copy));
    }

    const Run listing = runLimited(bench, {"explore", "--no-cache", folder}, kAddressSpace);
    QVERIFY2(listing.ended, "the listing did not end");
    const QString &out = listing.out;
    QVERIFY2(!listing.crashed, qPrintable("crashed: " + listing.err));
    QVERIFY2(listing.exitCode == 0, qPrintable(out + listing.err));
    // A thumbnail that failed for want of memory would be counted here.
    QVERIFY2(out.contains(QStringLiteral("images: %1\n").arg(kinds.size())), qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("unreadable: %1\n").arg(unreadable)), qPrintable(out));
}

void HostileFileTest::endsWithinMemory()
{
    QFETCH(QString, kind);
    QFETCH(QString, name);
    QFETCH(QStringList, args);
    QFETCH(QStringList, says);
    QFETCH(int, exitCode);
    QFETCH(qulonglong, limit);

    const QString file = m_dir.filePath(name);
    if (!QFile::exists(file))
        QVERIFY(codectest::writeFile(file, build(kind)));

    QStringList arguments{args.first(), file};
    arguments += args.mid(1);
    const Run tool = runLimited(m_tool, arguments, rlim_t(limit));
    QVERIFY2(tool.ended, "the decode did not end");
    QVERIFY2(!tool.crashed, qPrintable("crashed: " + tool.err));
    QVERIFY2(tool.exitCode == exitCode, qPrintable(tool.out + tool.err));
    for (const QString &text : says)
        QVERIFY2((exitCode == 0 ? tool.out : tool.err).contains(text),
                 qPrintable(tool.out + tool.err));
}

QTEST_GUILESS_MAIN(HostileFileTest)
#include "hostilefiletest.moc"
