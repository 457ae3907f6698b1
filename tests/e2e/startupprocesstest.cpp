#include "support/sandbox.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QSysInfo>
#include <QTest>

// The real program, started as a process in a sandboxed home: what its command line does to
// the process, and that only one of it runs at a time.
class StartupProcessTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<qmt::test::Sandbox> m_sandbox;

    static QString program()
    {
        return qEnvironmentVariable("QMT_BUILD_DIR") + QStringLiteral("/qmt");
    }

    QString lockFile() const { return m_sandbox->file(QStringLiteral("runtime/pictavo.lock")); }

    static void start(QProcess &process, const QStringList &arguments)
    {
        process.setProgram(program());
        process.setArguments(arguments);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start();
        QVERIFY(process.waitForStarted(10000));
    }

    // True when the process is still running after a while: it opened a window and waits.
    static bool staysRunning(QProcess &process)
    {
        return !process.waitForFinished(3000) && process.state() == QProcess::Running;
    }

    static void stop(QProcess &process)
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000)) {
                process.kill();
                process.waitForFinished(5000);
            }
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(program()).isExecutable(), qPrintable(program()));
        qputenv("QMT_NONINTERACTIVE", "1");
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }

    void init() { m_sandbox = std::make_unique<qmt::test::Sandbox>(); }
    void cleanup() { m_sandbox.reset(); }

    void switchesEndAtOnce_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("/Associate") << QStringList{"/Associate"};
        QTest::newRow("/DeAssociate") << QStringList{"/DeAssociate"};
    }
    void switchesEndAtOnce()
    {
        QFETCH(QStringList, arguments);
        QProcess process;
        start(process, arguments);
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        // The lock is given back on the way out.
        QVERIFY(!QFile::exists(lockFile()));
    }

    void otherTextStartsTheBrowser_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("switch in lower case") << QStringList{"/associate"};
        QTest::newRow("missing path") << QStringList{"/no/such/file.jpg"};
        QTest::newRow("nothing") << QStringList{};
        QTest::newRow("folder") << QStringList{"/"};
    }
    void otherTextStartsTheBrowser()
    {
        QFETCH(QStringList, arguments);
        QProcess process;
        start(process, arguments);
        QVERIFY(staysRunning(process));
        QVERIFY(QFile::exists(lockFile()));
        stop(process);
    }

    void pictureStartsTheViewer()
    {
        const QString picture = m_sandbox->file(QStringLiteral("home/a picture.png"));
        QImage image(20, 20, QImage::Format_RGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(picture));
        QProcess process;
        // The two halves of an unquoted name with a space make one path again.
        start(process, picture.split(QLatin1Char(' ')));
        QVERIFY(staysRunning(process));
        stop(process);
    }

    void secondInstanceEndsSilently()
    {
        QProcess first;
        start(first, {});
        QDeadlineTimer deadline(15000);
        while (!QFile::exists(lockFile()) && !deadline.hasExpired())
            QTest::qWait(50);
        QVERIFY(QFile::exists(lockFile()));

        QProcess second;
        start(second, {QStringLiteral("/no/such/file.jpg")});
        QVERIFY(second.waitForFinished(15000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);
        // The running one keeps its lock.
        QVERIFY(QFile::exists(lockFile()));
        stop(first);
    }

    void staleLockIsRecovered()
    {
        // A lock left behind by a program that is gone.
        QProcess gone;
        gone.start(QStringLiteral("/bin/sleep"), {QStringLiteral("0.1")});
        QVERIFY(gone.waitForStarted(5000));
        const qint64 deadPid = gone.processId();
        QVERIFY(gone.waitForFinished(5000));
        QFile lock(lockFile());
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(QByteArray::number(deadPid) + "\nqmt\n" +
                   QSysInfo::machineHostName().toUtf8() + "\n");
        lock.close();

        QProcess process;
        start(process, {});
        QVERIFY(staysRunning(process));
        stop(process);
    }
};

QTEST_GUILESS_MAIN(StartupProcessTest)
#include "startupprocesstest.moc"
