#include "app/handover.h"
#include "app/instanceserver.h"

#include <QElapsedTimer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <future>
#include <thread>

using namespace qmt;

// How a later start's command line travels to the running program: the message, its checks,
// and the two ends talking over a real socket.
class HandOverTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString socketPath() const { return m_dir.filePath(QStringLiteral("pictavo.socket")); }

    static QByteArray field(const QByteArray &bytes)
    {
        char length[4];
        qToBigEndian(quint32(bytes.size()), length);
        return QByteArray(length, 4) + bytes;
    }

    // Sends from another thread, as a second process would, while this thread serves.
    static std::future<bool> sendAsync(const QString &path, const HandedOverStart &start,
                                       int timeoutMs)
    {
        return std::async(std::launch::async,
                          [=] { return handOverStart(path, start, timeoutMs); });
    }

    static bool finishedIn(std::future<bool> &result, int ms)
    {
        QElapsedTimer clock;
        clock.start();
        while (result.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
            if (clock.elapsed() > ms)
                return false;
            QTest::qWait(10);
        }
        return true;
    }

    // A raw client on this thread: sends bytes and reports whether the server hung up without
    // accepting anything.
    static bool droppedAfterSending(const QString &path, const QByteArray &bytes, int waitMs)
    {
        QLocalSocket socket;
        socket.connectToServer(path);
        if (!socket.waitForConnected(2000))
            return false;
        socket.write(bytes);
        socket.flush();
        QElapsedTimer clock;
        clock.start();
        while (socket.state() == QLocalSocket::ConnectedState && clock.elapsed() < waitMs)
            QTest::qWait(20);
        return socket.state() != QLocalSocket::ConnectedState && socket.readAll().isEmpty();
    }

private Q_SLOTS:
    void roundTrip_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("line");
        QTest::newRow("picture") << "/home/ann"
                                 << "/home/ann/Pictures/beach 1.jpg";
        QTest::newRow("nothing") << "/" << QString();
        QTest::newRow("switch") << "/tmp"
                                << "/DeAssociate";
        QTest::newRow("not latin") << "/home/ännä/照片"
                                   << "Köln 夜景.png";
        QTest::newRow("longest") << "/" << QString(kMaxHandOverField, QLatin1Char('x'));
    }
    void roundTrip()
    {
        QFETCH(QString, folder);
        QFETCH(QString, line);
        const HandedOverStart sent{folder, line};
        const QByteArray bytes = encodeHandOver(sent);
        HandedOverStart read;
        QCOMPARE(parseHandOver(bytes, &read), HandOverParse::Complete);
        QCOMPARE(read, sent);
        // Every shorter beginning is a message still arriving, never a complete or a bad one.
        for (qsizetype n = 0; n < bytes.size(); n += qMax<qsizetype>(1, bytes.size() / 97))
            QCOMPARE(parseHandOver(bytes.left(n), nullptr), HandOverParse::Incomplete);
    }

    void refused_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray folder = field("/home/ann");
        QTest::newRow("another kind") << QByteArray("QMT2") + folder + field("a.png");
        QTest::newRow("not a message") << QByteArray("GET / HTTP/1.1\r\n");
        // A length beyond the limit is refused at once, before its bytes are waited for.
        QTest::newRow("huge length") << QByteArray("QMT1") + QByteArray("\x7f\xff\xff\xff", 4);
        QTest::newRow("one byte over the limit")
            << QByteArray("QMT1") + folder + field(QByteArray(kMaxHandOverField + 1, 'x')).left(4);
        QTest::newRow("NUL in the line")
            << QByteArray("QMT1") + folder + field(QByteArray("a\0b.png", 7));
        QTest::newRow("not UTF-8") << QByteArray("QMT1") + folder + field("caf\xe9.png");
        QTest::newRow("relative folder") << QByteArray("QMT1") + field("home") + field("a.png");
        QTest::newRow("empty folder") << QByteArray("QMT1") + field("") + field("a.png");
        QTest::newRow("bytes after the end")
            << QByteArray("QMT1") + folder + field("a.png") + QByteArray("x");
    }
    void refused()
    {
        QFETCH(QByteArray, bytes);
        HandedOverStart read{QStringLiteral("/untouched"), QStringLiteral("untouched")};
        QCOMPARE(parseHandOver(bytes, &read), HandOverParse::Invalid);
        QCOMPARE(read.commandLine, QStringLiteral("untouched"));
    }

    void relativePathsTakenInTheSendersFolder_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        QTest::newRow("relative") << "/home/ann"
                                  << "pic.png"
                                  << "/home/ann/pic.png";
        QTest::newRow("relative with folders") << "/home/ann/"
                                               << "Pictures/a b.png"
                                               << "/home/ann/Pictures/a b.png";
        QTest::newRow("from the root") << "/"
                                       << "pic.png"
                                       << "/pic.png";
        QTest::newRow("absolute") << "/home/ann"
                                  << "/srv/pic.png"
                                  << "/srv/pic.png";
        QTest::newRow("switch") << "/home/ann"
                                << "/Associate"
                                << "/Associate";
        QTest::newRow("nothing") << "/home/ann"
                                 << ""
                                 << "";
    }
    void relativePathsTakenInTheSendersFolder()
    {
        QFETCH(QString, folder);
        QFETCH(QString, line);
        QFETCH(QString, expected);
        QCOMPARE(commandLineForRunningProgram({folder, line}), expected);
    }

    void aStartIsHandedOver()
    {
        InstanceServer server;
        QVERIFY(server.listen(socketPath()));
        QSignalSpy received(&server, &InstanceServer::commandLineReceived);
        std::future<bool> sent =
            sendAsync(socketPath(), {QStringLiteral("/home/ann"), QStringLiteral("a b.png")}, 5000);
        QTRY_COMPARE(received.size(), 1);
        QCOMPARE(received.at(0).at(0).toString(), QStringLiteral("/home/ann/a b.png"));
        QVERIFY(finishedIn(sent, 5000));
        QVERIFY(sent.get());
    }

    void aSocketLeftBehindIsReplaced()
    {
        {
            InstanceServer gone;
            QVERIFY(gone.listen(socketPath()));
        }
        // A program that died leaves its socket file; the next one listens in its place.
        QFile leftOver(socketPath());
        QVERIFY(leftOver.open(QIODevice::WriteOnly));
        leftOver.close();
        InstanceServer server;
        QVERIFY(server.listen(socketPath()));
        QSignalSpy received(&server, &InstanceServer::commandLineReceived);
        std::future<bool> sent = sendAsync(socketPath(), {"/", "/DeAssociate"}, 5000);
        QTRY_COMPARE(received.size(), 1);
        QVERIFY(finishedIn(sent, 5000));
        QVERIFY(sent.get());
    }

    void nobodyListening()
    {
        // The sender gives up within its time and reports that nothing was taken.
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!handOverStart(socketPath() + QStringLiteral(".none"), {"/", "a.png"}, 300));
        QVERIFY(clock.elapsed() < 3000);
        QVERIFY(!handOverStart(QString(), {"/", "a.png"}, 300));
    }

    void aServerStartingLateStillGetsIt()
    {
        // The running program may still be setting up its socket when the second start asks.
        std::future<bool> sent = sendAsync(socketPath(), {"/", "/x.png"}, 3000);
        QTest::qWait(300);
        InstanceServer server;
        QSignalSpy received(&server, &InstanceServer::commandLineReceived);
        QVERIFY(server.listen(socketPath()));
        QTRY_COMPARE(received.size(), 1);
        QVERIFY(finishedIn(sent, 5000));
        QVERIFY(sent.get());
    }

    void badSendersAreDropped_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("waitMs");
        QTest::newRow("garbage") << QByteArray("hello there") << 1000;
        QTest::newRow("huge length") << QByteArray("QMT1\x7f\xff\xff\xff", 8) << 1000;
        QTest::newRow("two messages")
            << encodeHandOver({"/", "/a.png"}) + encodeHandOver({"/", "/b.png"}) << 1000;
        // Half a message and then nothing: cut off after the server's time-out.
        QTest::newRow("stalled") << encodeHandOver({"/", "/a.png"}).left(9)
                                 << InstanceServer::kMessageTimeoutMs + 2000;
    }
    void badSendersAreDropped()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, waitMs);
        InstanceServer server;
        QVERIFY(server.listen(socketPath()));
        QSignalSpy received(&server, &InstanceServer::commandLineReceived);
        QVERIFY(droppedAfterSending(socketPath(), bytes, waitMs));
        QCOMPARE(received.size(), 0);
        // The server still serves the next, well-behaved start.
        std::future<bool> sent = sendAsync(socketPath(), {"/", "/c.png"}, 5000);
        QTRY_COMPARE(received.size(), 1);
        QCOMPARE(received.at(0).at(0).toString(), QStringLiteral("/c.png"));
        QVERIFY(finishedIn(sent, 5000));
    }

    void theSocketIsTheUsersOnly()
    {
        InstanceServer server;
        QVERIFY(server.listen(socketPath()));
        const QFile::Permissions permissions = QFileInfo(socketPath()).permissions();
        QVERIFY(!(permissions &
                  (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther)));
        server.close();
        QVERIFY(!QFileInfo::exists(socketPath()));
    }
};

QTEST_GUILESS_MAIN(HandOverTest)
#include "handovertest.moc"
