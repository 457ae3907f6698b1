#include "components/nativefile.h"

#include "support/fifowatchdog.h"
#include "support/filesystemuser.h"
#include "support/sandbox.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qmt;

namespace {

bool writeBytes(const QByteArray &nativeName, const QByteArray &data)
{
    const int fd = ::open(nativeName.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, data.constData(), size_t(data.size())) == data.size();
    ::close(fd);
    return ok;
}

} // namespace

class NativeFileTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Every byte string is a name the program can hold and give back unchanged.
    void namesRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("undecodable");
        QTest::addColumn<QString>("shown");
        QTest::newRow("ascii") << QByteArray("/p/a b.jpg") << false << "/p/a b.jpg";
        QTest::newRow("utf-8") << QByteArray("/p/caf\xc3\xa9.jpg") << false
                               << QString::fromUtf8("/p/caf\xc3\xa9.jpg");
        QTest::newRow("four-byte character") << QByteArray("/p/\xf0\x9f\x93\xb7.png") << false
                                             << QString::fromUtf8("/p/\xf0\x9f\x93\xb7.png");
        QTest::newRow("latin-1") << QByteArray("/p/caf\xe9.jpg") << true
                                 << QString::fromUtf8("/p/caf\xef\xbf\xbd.jpg");
        QTest::newRow("lone continuation")
            << QByteArray("\x80x") << true << QString::fromUtf8("\xef\xbf\xbdx");
        QTest::newRow("cut sequence")
            << QByteArray("a\xe2\x82") << true << QString::fromUtf8("a\xef\xbf\xbd\xef\xbf\xbd");
        QTest::newRow("overlong slash")
            << QByteArray("\xc0\xaf") << true << QString::fromUtf8("\xef\xbf\xbd\xef\xbf\xbd");
        QTest::newRow("encoded surrogate")
            << QByteArray("\xed\xa0\x80") << true
            << QString::fromUtf8("\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd");
        QTest::newRow("above U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << true
                                        << QString::fromUtf8("\xef\xbf\xbd\xef\xbf\xbd"
                                                             "\xef\xbf\xbd\xef\xbf\xbd");
        // U+1F4F7 is a surrogate pair whose low half lies among the carried bytes: it stays one
        // character, and the byte after it stays a byte.
        QTest::newRow("byte after a surrogate pair")
            << QByteArray("\xf0\x9f\x93\xb7\xff") << true
            << QString::fromUtf8("\xf0\x9f\x93\xb7\xef\xbf\xbd");
    }
    void namesRoundTrip()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, undecodable);
        QFETCH(QString, shown);
        const QString name = pathFromNative(bytes);
        QCOMPARE(nativePath(name), bytes);
        QCOMPARE(hasUndecodableBytes(name), undecodable);
        QCOMPARE(displayName(name), shown);
        if (!undecodable)
            QCOMPARE(name, QString::fromUtf8(bytes));
    }

    void twoUndecodableNamesStayApart()
    {
        const QString a = pathFromNative("x\xe9.jpg");
        const QString b = pathFromNative("x\xe8.jpg");
        QVERIFY(a != b);
        QCOMPARE(displayName(a), displayName(b)); // they look alike, yet are different files
    }

    // Only regular files are opened; nothing else is waited on.
    void onlyRegularFilesOpen_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<bool>("followLinks");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<QString>("reason");
        QTest::newRow("file") << "file" << true << true << "";
        QTest::newRow("undecodable name") << "latin1" << true << true << "";
        QTest::newRow("link followed") << "link" << true << true << "";
        QTest::newRow("link refused") << "link" << false << false << "symbolic link";
        QTest::newRow("fifo") << "fifo" << true << false << "not a regular file";
        QTest::newRow("device") << "/dev/null" << true << false << "not a regular file";
        QTest::newRow("folder") << "folder" << true << false << "folder";
        QTest::newRow("missing") << "missing" << true << false << "does not exist";
    }
    void onlyRegularFilesOpen()
    {
        QFETCH(QString, what);
        QFETCH(bool, followLinks);
        QFETCH(bool, opens);
        QFETCH(QString, reason);
        test::Sandbox dir;
        test::FifoWatchdog watchdog(5000);
        const QString base = dir.path();
        QVERIFY(writeBytes(nativePath(base + "/file"), "contents"));
        QVERIFY(writeBytes(QFile::encodeName(base) + "/latin1-\xe9", "contents"));
        QVERIFY(QFile::link(base + "/file", base + "/link"));
        QVERIFY(watchdog.make(base + "/fifo"));
        QDir().mkpath(base + "/folder");
        QString path = what.startsWith('/') ? what : base + "/" + what;
        if (what == "latin1")
            path = pathFromNative(QFile::encodeName(base) + "/latin1-\xe9");

        QFile file;
        const Status status = openRegularFile(file, path, followLinks);
        QVERIFY(!watchdog.tripped());
        QCOMPARE(status.ok(), opens);
        QVERIFY2(status.error().contains(reason), qPrintable(status.error()));
        if (opens)
            QCOMPARE(file.readAll(), QByteArray("contents"));
    }

    void identityTellsFilesApart()
    {
        test::Sandbox dir;
        const QString a = dir.file("a");
        QVERIFY(writeBytes(nativePath(a), "x"));
        QVERIFY(::link(nativePath(a).constData(), nativePath(dir.file("hard")).constData()) == 0);
        QVERIFY(QFile::link(dir.path(), dir.file("linked")));
        QVERIFY(writeBytes(nativePath(dir.file("b")), "x"));
        const FileIdentity id = statPath(a).identity;
        QCOMPARE(statPath(dir.file("hard")).identity, id);
        QCOMPARE(statPath(dir.file("linked/a")).identity, id);
        QVERIFY(!(statPath(dir.file("b")).identity == id));
        QCOMPARE(statPath(dir.file("nothing")).error, ENOENT);
    }

    void folderEntriesKeepTheirBytes()
    {
        test::Sandbox sandbox;
        const QString folder = sandbox.makeDir("entries");
        const QByteArray base = QFile::encodeName(folder);
        QVERIFY(writeBytes(base + "/caf\xe9.jpg", "1"));
        QVERIFY(writeBytes(base + "/plain.jpg", "2"));
        QVERIFY(::mkdir((base + "/sub\xff").constData(), 0755) == 0);
        QVERIFY(::mkfifo((base + "/pipe.jpg").constData(), 0644) == 0);
        const auto entries = readFolderEntries(folder, 100);
        QVERIFY(entries);
        QHash<QByteArray, PathStatus::Kind> kinds;
        for (const FolderEntry &entry : *entries)
            kinds.insert(nativePath(entry.name), entry.status.kind);
        QCOMPARE(kinds.size(), 4);
        QCOMPARE(kinds.value("caf\xe9.jpg"), PathStatus::Kind::Regular);
        QCOMPARE(kinds.value("plain.jpg"), PathStatus::Kind::Regular);
        QCOMPARE(kinds.value("sub\xff"), PathStatus::Kind::Directory);
        QCOMPARE(kinds.value("pipe.jpg"), PathStatus::Kind::Other);
        // The count is bounded.
        QCOMPARE(readFolderEntries(folder, 2)->size(), 2);
    }

    // A folder that cannot be read, or read but not entered, says so.
    void closedFoldersSaySo_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("reason");
        QTest::newRow("chmod 000") << 0 << "no permission to open the folder";
        QTest::newRow("read, not enter") << 0444 << "can be read but not entered";
        QTest::newRow("enter, not read") << 0111 << "no permission to open the folder";
    }
    void closedFoldersSaySo()
    {
        QFETCH(int, mode);
        QFETCH(QString, reason);
        test::Sandbox dir;
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ReadOther | QFile::ExeOther);
        const QString closed = dir.file("closed");
        QDir().mkpath(closed);
        QVERIFY(writeBytes(nativePath(closed + "/a.jpg"), "x"));
        ::chmod(nativePath(closed).constData(), mode_t(mode));
        Result<QList<FolderEntry>> entries = QList<FolderEntry>();
        {
            test::FileSystemUser user;
            entries = readFolderEntries(closed, 100);
        }
        ::chmod(nativePath(closed).constData(), 0755);
        QVERIFY(!entries);
        QVERIFY2(entries.error().contains(reason), qPrintable(entries.error()));
        QVERIFY(entries.error().contains(closed));
    }
};

QTEST_GUILESS_MAIN(NativeFileTest)
#include "nativefiletest.moc"
