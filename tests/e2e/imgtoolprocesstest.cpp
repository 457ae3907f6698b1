#include "support/fifowatchdog.h"
#include "support/sandbox.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

// qmt-imgtool as a process: files that are not regular files (a pipe, a device) named like
// pictures are refused at once rather than read for ever.
class ImgtoolProcessTest : public QObject
{
    Q_OBJECT

private:
    static QString program()
    {
        return qEnvironmentVariable("QMT_BUILD_DIR") + QStringLiteral("/qmt-imgtool");
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(QFileInfo(program()).isExecutable(), qPrintable(program())); }

    void pipesAndDevicesAreRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("command");
        QTest::newRow("decode a pipe") << "fifo" << QStringList{"decode", "%1", "%2"};
        QTest::newRow("info on a pipe") << "fifo" << QStringList{"info", "%1"};
        QTest::newRow("decode a device") << "device" << QStringList{"decode", "%1", "%2"};
    }
    void pipesAndDevicesAreRefused()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, command);
        qmt::test::Sandbox sandbox;
        qmt::test::FifoWatchdog watchdog(20000);
        const QString picture = sandbox.file("x.jpg");
        if (kind == "fifo")
            QVERIFY(watchdog.make(picture));
        else
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), picture));
        for (QString &word : command)
            word = word.arg(picture, sandbox.file("out.png"));

        QProcess process;
        process.start(program(), command);
        QVERIFY(process.waitForStarted(10000));
        const bool ended = process.waitForFinished(15000);
        if (!ended) {
            process.kill();
            process.waitForFinished(5000);
        }
        QVERIFY2(ended, "qmt-imgtool did not end");
        QCOMPARE(process.exitCode(), 1);
        const QString error = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(error.contains("not a regular file"), qPrintable(error));
        QVERIFY(!QFileInfo::exists(sandbox.file("out.png")));
    }
};

QTEST_GUILESS_MAIN(ImgtoolProcessTest)
#include "imgtoolprocesstest.moc"
