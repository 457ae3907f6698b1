#include "shell/fileoperations.h"

#include "components/nativefile.h"
#include "components/thumbnailcache.h"
#include "support/fifowatchdog.h"
#include "support/filesystemuser.h"
#include "support/sandbox.h"
#include "support/scriptedprompts.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMap>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qmt;
using test::Sandbox;
using test::ScriptedPrompts;

namespace {

// Stands in for the progress dialog: counts calls and presses Cancel after a given number.
class ScriptedProgress final : public FileProgress
{
public:
    int cancelAfter = -1; // advance() calls before Cancel; -1 never
    int advances = 0;
    bool started = false;
    bool finished = false;
    qint64 total = 0;
    void start(const QString &, qint64 totalBytes) override
    {
        started = true;
        total = totalBytes;
    }
    bool advance(qint64, const QString &) override
    {
        return cancelAfter < 0 || ++advances <= cancelAfter;
    }
    void finish() override { finished = true; }
};

// What the operation owns and deletes; the test keeps the script it forwards to.
class Forwarder final : public FileProgress
{
public:
    explicit Forwarder(FileProgress *to) : m_to(to) {}
    void start(const QString &title, qint64 totalBytes) override { m_to->start(title, totalBytes); }
    bool advance(qint64 done, const QString &file) override { return m_to->advance(done, file); }
    void finish() override { m_to->finish(); }

private:
    FileProgress *m_to;
};

QByteArray pattern(int size, char seed)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 31 + seed) & 0xff);
    return data;
}

void writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(data), data.size());
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Every entry of the folder, hidden ones (half-written copies) included.
QStringList entries(const QString &folder)
{
    QStringList names;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        names.append(QDir(folder).relativeFilePath(it.next()));
    names.sort();
    return names;
}

// Every entry below the folder as the bytes of its relative path, with the contents of files.
QMap<QByteArray, QByteArray> treeBytes(const QString &folder)
{
    QMap<QByteArray, QByteArray> tree;
    std::function<void(const QByteArray &, const QByteArray &)> walk =
        [&](const QByteArray &dir, const QByteArray &relative) {
            DIR *handle = ::opendir(dir.constData());
            if (!handle)
                return;
            while (const dirent *entry = ::readdir(handle)) {
                const QByteArray name(entry->d_name);
                if (name == "." || name == "..")
                    continue;
                const QByteArray path = dir + '/' + name;
                const QByteArray rel = relative.isEmpty() ? name : relative + '/' + name;
                struct stat st {
                };
                ::lstat(path.constData(), &st);
                if (S_ISDIR(st.st_mode)) {
                    tree.insert(rel + '/', QByteArray());
                    walk(path, rel);
                } else if (S_ISREG(st.st_mode)) {
                    QFile in;
                    tree.insert(rel, openRegularFile(in, pathFromNative(path)) ? in.readAll()
                                                                               : QByteArray("?"));
                } else {
                    tree.insert(rel, S_ISFIFO(st.st_mode) ? "<fifo>" : "<other>");
                }
            }
            ::closedir(handle);
        };
    walk(QFile::encodeName(folder), QByteArray());
    return tree;
}

void writeNative(const QByteArray &path, const QByteArray &data)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, data.constData(), size_t(data.size())), ssize_t(data.size()));
    ::close(fd);
}

// A mount of its own for a test (a second file system, a second path to a folder), when the
// test may mount: as the superuser with the right to. Unmounted when it goes.
class TestMount
{
public:
    static std::unique_ptr<TestMount> tmpfs(const QString &at, const char *options)
    {
        return make(at, "tmpfs", "tmpfs", 0, options);
    }
    static std::unique_ptr<TestMount> bind(const QString &from, const QString &at)
    {
        return make(at, QFile::encodeName(from), nullptr, MS_BIND, nullptr);
    }
    ~TestMount() { ::umount2(m_at.constData(), MNT_DETACH); }

private:
    static std::unique_ptr<TestMount> make(const QString &at, const QByteArray &source,
                                           const char *type, unsigned long flags,
                                           const char *options)
    {
        QDir().mkpath(at);
        const QByteArray target = QFile::encodeName(at);
        if (::geteuid() != 0 ||
            ::mount(source.constData(), target.constData(), type, flags, options) != 0)
            return nullptr;
        auto mount = std::unique_ptr<TestMount>(new TestMount);
        mount->m_at = target;
        return mount;
    }
    QByteArray m_at;
};

} // namespace

class FileOperationsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Sandbox> m_sandbox;
    ScriptedProgress m_script;
    ScriptedProgress *m_progress = nullptr; // the script, once an operation asked for one
    int m_cancelAfter = -1;
    int m_questionsBeforeProgress = -1; // questions asked when the progress display was made
    QString src, dst;

private Q_SLOTS:
    void init()
    {
        m_sandbox = std::make_unique<Sandbox>();
        src = m_sandbox->makeDir("tree/src");
        dst = m_sandbox->makeDir("tree/dst");
        m_cancelAfter = -1;
        m_script = ScriptedProgress();
        m_progress = nullptr;
        m_questionsBeforeProgress = -1;
        FileOperations::setProgressFactory([this]() -> std::unique_ptr<FileProgress> {
            if (auto *scripted = dynamic_cast<ScriptedPrompts *>(&prompts()))
                m_questionsBeforeProgress = int(scripted->asked().size());
            m_script.cancelAfter = m_cancelAfter;
            m_progress = &m_script;
            return std::make_unique<Forwarder>(&m_script);
        });
    }

    void cleanup()
    {
        FileOperations::setForceCopyForMoves(false);
        FileOperations::setProgressFactory(nullptr);
        m_sandbox.reset();
    }

    void trailingSeparator_data()
    {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("typed") << "/home/me/Pics"
                               << "/home/me/Pics/";
        QTest::newRow("from tree") << "/home/me/Pics/"
                                   << "/home/me/Pics/";
        QTest::newRow("empty") << ""
                               << "";
    }
    void trailingSeparator()
    {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QCOMPARE(FileOperations::withTrailingSeparator(in), out);
    }

    void copySeveralIntoFolderWithoutSeparator()
    {
        ScriptedPrompts prompts;
        writeFile(src + "/a.jpg", pattern(5000, 1));
        writeFile(src + "/b.png", pattern(70, 2));
        FileOperations ops;
        const auto result = ops.copyTo({src + "/a.jpg", src + "/b.png"}, dst); // no trailing "/"
        QVERIFY(result.ok());
        QCOMPARE(entries(dst), QStringList({"a.jpg", "b.png"}));
        QCOMPARE(readFile(dst + "/a.jpg"), pattern(5000, 1));
        QCOMPARE(readFile(src + "/a.jpg"), pattern(5000, 1));
        QCOMPARE(result.copied.size(), 2);
        QVERIFY(prompts.asked().isEmpty());
        QVERIFY(m_progress && m_progress->started && m_progress->finished);
        QCOMPARE(m_progress->total, qint64(5070));
        QVERIFY(!QFileInfo::exists(m_sandbox->file("tree/dsta.jpg")));
    }

    void collisions_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QByteArray>("expectedFirst");
        QTest::addColumn<bool>("secondCopied");
        QTest::addColumn<bool>("cancelled");
        QTest::newRow("replace") << int(ReplaceAnswer::Replace) << pattern(100, 1) << true << false;
        QTest::newRow("skip") << int(ReplaceAnswer::Skip) << QByteArray("old") << true << false;
        QTest::newRow("cancel") << int(ReplaceAnswer::Cancel) << QByteArray("old") << false << true;
    }

    void collisions()
    {
        QFETCH(int, answer);
        QFETCH(QByteArray, expectedFirst);
        QFETCH(bool, secondCopied);
        QFETCH(bool, cancelled);
        ScriptedPrompts prompts;
        prompts.answerReplace(ReplaceAnswer(answer));
        writeFile(src + "/a.jpg", pattern(100, 1));
        writeFile(src + "/b.jpg", pattern(100, 2));
        writeFile(dst + "/a.jpg", "old");
        FileOperations ops;
        const auto result = ops.copyTo({src + "/a.jpg", src + "/b.jpg"}, dst + "/");
        QCOMPARE(prompts.asked(ScriptedPrompts::Kind::Replace).size(), 1);
        QCOMPARE(prompts.asked(ScriptedPrompts::Kind::Replace).first().text, dst + "/a.jpg");
        QCOMPARE(readFile(dst + "/a.jpg"), expectedFirst);
        QCOMPARE(QFileInfo::exists(dst + "/b.jpg"), secondCopied);
        QCOMPARE(result.cancelled, cancelled);
        QVERIFY(result.errors.isEmpty());
        for (const QString &name : entries(dst))
            QVERIFY2(!name.startsWith('.'), qPrintable(name));
    }

    void moveCollisionSkipKeepsSource()
    {
        ScriptedPrompts prompts;
        prompts.answerReplace(ReplaceAnswer::Skip);
        writeFile(src + "/a.jpg", "new");
        writeFile(dst + "/a.jpg", "old");
        FileOperations ops;
        const auto result = ops.moveFile(src + "/a.jpg", dst + "/a.jpg");
        QVERIFY(result.moved.isEmpty());
        QCOMPARE(readFile(src + "/a.jpg"), QByteArray("new"));
        QCOMPARE(readFile(dst + "/a.jpg"), QByteArray("old"));
    }

    void move_data()
    {
        QTest::addColumn<bool>("forceCopy");
        QTest::newRow("same file system") << false;
        QTest::newRow("copy road") << true;
    }

    void move()
    {
        QFETCH(bool, forceCopy);
        ScriptedPrompts prompts;
        FileOperations::setForceCopyForMoves(forceCopy);
        writeFile(src + "/a.jpg", pattern(3 << 20, 5)); // several chunks
        writeFile(src + "/album/x.png", pattern(10, 6));
        writeFile(src + "/album/deep/y.png", pattern(20, 7));
        QFile::setPermissions(src + "/a.jpg",
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        const QDateTime stamp = QFileInfo(src + "/a.jpg").lastModified();
        FileOperations ops;
        const auto result = ops.moveTo({src + "/a.jpg", src + "/album"}, dst);
        QVERIFY(result.ok());
        QCOMPARE(result.moved.size(), 2);
        QCOMPARE(result.moved.first(), std::make_pair(src + "/a.jpg", dst + "/a.jpg"));
        QVERIFY(entries(src).isEmpty());
        QCOMPARE(entries(dst),
                 QStringList({"a.jpg", "album", "album/deep", "album/deep/y.png", "album/x.png"}));
        QCOMPARE(readFile(dst + "/a.jpg"), pattern(3 << 20, 5));
        QCOMPARE(readFile(dst + "/album/deep/y.png"), pattern(20, 7));
        const auto ownerGroupOther = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                     QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                     QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
        QCOMPARE(QFileInfo(dst + "/a.jpg").permissions() & ownerGroupOther,
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        QCOMPARE(QFileInfo(dst + "/a.jpg").lastModified().toSecsSinceEpoch(),
                 stamp.toSecsSinceEpoch());
    }

    void moveToAnotherFileSystem()
    {
        const QString shm = QStringLiteral("/dev/shm");
        if (!QFileInfo(shm).isWritable() ||
            QStorageInfo(shm).device() == QStorageInfo(src).device())
            QSKIP("no second writable file system here");
        QTemporaryDir other(shm + "/qmt-move-XXXXXX");
        QVERIFY(other.isValid());
        ScriptedPrompts prompts;
        writeFile(src + "/a.jpg", pattern(2 << 20, 8));
        FileOperations ops;
        const auto result = ops.moveFile(src + "/a.jpg", other.path() + "/a.jpg");
        QVERIFY(result.ok());
        QVERIFY(!QFileInfo::exists(src + "/a.jpg"));
        QCOMPARE(readFile(other.path() + "/a.jpg"), pattern(2 << 20, 8));
        QCOMPARE(entries(other.path()), QStringList({"a.jpg"}));
    }

    void cancelHalfWay_data()
    {
        QTest::addColumn<bool>("move");
        QTest::addColumn<bool>("replacing");
        QTest::newRow("copy") << false << false;
        QTest::newRow("move by copy") << true << false;
        QTest::newRow("copy over an existing file") << false << true;
    }

    void cancelHalfWay()
    {
        QFETCH(bool, move);
        QFETCH(bool, replacing);
        ScriptedPrompts prompts;
        if (replacing) {
            writeFile(dst + "/big.tif", "previous");
            prompts.answerReplace(ReplaceAnswer::Replace);
        }
        FileOperations::setForceCopyForMoves(true);
        m_cancelAfter = 1; // Cancel after the first megabyte
        writeFile(src + "/big.tif", pattern(4 << 20, 9));
        FileOperations ops;
        const auto result =
            move ? ops.moveTo({src + "/big.tif"}, dst) : ops.copyTo({src + "/big.tif"}, dst);
        QVERIFY(result.cancelled);
        QVERIFY(result.moved.isEmpty() && result.copied.isEmpty());
        QCOMPARE(readFile(src + "/big.tif"), pattern(4 << 20, 9));
        QCOMPARE(entries(dst), replacing ? QStringList({"big.tif"}) : QStringList());
        if (replacing)
            QCOMPARE(readFile(dst + "/big.tif"), QByteArray("previous"));
    }

    void writeFailsHalfWay()
    {
        // The file-size limit makes the writes fail part way, as a full disk would.
        ScriptedPrompts prompts;
        FileOperations::setForceCopyForMoves(true);
        writeFile(src + "/big.psd", pattern(3 << 20, 10));
        struct rlimit saved {
        };
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limited = saved;
        limited.rlim_cur = 1 << 20;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
        FileOperations ops;
        const auto result = ops.moveTo({src + "/big.psd"}, dst);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(!result.ok());
        QCOMPARE(result.errors.size(), 1);
        QCOMPARE(prompts.asked(ScriptedPrompts::Kind::Message).size(), 1);
        QCOMPARE(prompts.asked().first().icon, PromptIcon::Critical);
        QVERIFY(result.errors.first().contains("big.psd"));
        QCOMPARE(readFile(src + "/big.psd"), pattern(3 << 20, 10));
        QCOMPARE(entries(dst), QStringList());
    }

    void unwritableDestination()
    {
        ScriptedPrompts prompts;
        ::chmod(QFile::encodeName(m_sandbox->path()).constData(), 0755);
        writeFile(src + "/a.jpg", "data");
        QFile::setPermissions(dst, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther |
                                       QFile::ExeOther);
        FileOperationResult result;
        {
            test::FileSystemUser user; // permissions bind the superuser too
            FileOperations ops;
            result = ops.moveTo({src + "/a.jpg"}, dst);
        }
        QFile::setPermissions(dst, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(!result.ok());
        QCOMPARE(readFile(src + "/a.jpg"), QByteArray("data"));
        QCOMPARE(entries(dst), QStringList());
    }

    void refusedTransfers_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("move");
        QTest::newRow("missing source") << "src/none.jpg"
                                        << "dst/none.jpg" << false;
        QTest::newRow("missing folder") << "src/a.jpg"
                                        << "dst/nowhere/a.jpg" << false;
        QTest::newRow("copy onto itself") << "src/a.jpg"
                                          << "src/a.jpg" << false;
        QTest::newRow("folder into itself") << "src"
                                            << "src/inner" << true;
        QTest::newRow("file over a folder") << "src/a.jpg"
                                            << "dst/sub" << true;
    }

    void refusedTransfers()
    {
        QFETCH(QString, source);
        QFETCH(QString, target);
        QFETCH(bool, move);
        ScriptedPrompts prompts;
        writeFile(src + "/a.jpg", "keep");
        QDir().mkpath(dst + "/sub");
        const QString root = m_sandbox->file("tree/");
        FileOperations ops;
        const auto result = move ? ops.moveFile(root + source, root + target)
                                 : ops.copyFile(root + source, root + target);
        QVERIFY(!result.ok());
        QCOMPARE(result.errors.size(), 1);
        QCOMPARE(prompts.asked(ScriptedPrompts::Kind::Message).size(), 1);
        QCOMPARE(readFile(src + "/a.jpg"), QByteArray("keep"));
        QCOMPARE(entries(dst), QStringList({"sub"}));
    }

    // Every question of a copy comes before the progress display, which comes only when bytes
    // move (a rename moves none).
    void questionsComeBeforeProgress_data()
    {
        QTest::addColumn<bool>("move");
        QTest::addColumn<bool>("progressShown");
        QTest::newRow("copy") << false << true;
        QTest::newRow("move by rename") << true << false;
    }
    void questionsComeBeforeProgress()
    {
        QFETCH(bool, move);
        QFETCH(bool, progressShown);
        ScriptedPrompts prompts;
        prompts.answerReplace(ReplaceAnswer::Replace);
        prompts.answerReplace(ReplaceAnswer::Replace);
        writeFile(src + "/a.jpg", "new a");
        writeFile(src + "/b.jpg", "new b");
        writeFile(dst + "/a.jpg", "old a");
        writeFile(dst + "/b.jpg", "old b");
        FileOperations ops;
        const auto result = move ? ops.moveTo({src + "/a.jpg", src + "/b.jpg"}, dst)
                                 : ops.copyTo({src + "/a.jpg", src + "/b.jpg"}, dst);
        QVERIFY(result.ok());
        QCOMPARE(prompts.asked(ScriptedPrompts::Kind::Replace).size(), 2);
        QCOMPARE(m_questionsBeforeProgress, progressShown ? 2 : -1);
        QCOMPARE(readFile(dst + "/b.jpg"), QByteArray("new b"));
    }

    // A file reached through a second path (a linked folder, a hard link, a second mount of its
    // folder) is the same file: a copy or move onto it is refused and it stays as it was.
    void sameFileThroughAnotherPath_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("move");
        QTest::addColumn<bool>("forceCopy");
        QTest::newRow("linked folder, move") << "link" << true << false;
        QTest::newRow("linked folder, move by copy") << "link" << true << true;
        QTest::newRow("linked folder, copy") << "link" << false << false;
        QTest::newRow("hard link, move by copy") << "hard" << true << true;
        QTest::newRow("hard link, copy") << "hard" << false << false;
        QTest::newRow("bind mount, move") << "bind" << true << false;
        QTest::newRow("bind mount, copy") << "bind" << false << false;
    }
    void sameFileThroughAnotherPath()
    {
        QFETCH(QString, how);
        QFETCH(bool, move);
        QFETCH(bool, forceCopy);
        ScriptedPrompts prompts;
        prompts.answerReplace(ReplaceAnswer::Replace);
        FileOperations::setForceCopyForMoves(forceCopy);
        writeFile(src + "/a.jpg", "precious");
        QString folder;
        std::unique_ptr<TestMount> mount;
        if (how == "link") {
            folder = m_sandbox->file("tree/alias");
            QVERIFY(QFile::link(src, folder));
        } else if (how == "hard") {
            folder = dst;
            QCOMPARE(::link(QFile::encodeName(src + "/a.jpg").constData(),
                            QFile::encodeName(dst + "/a.jpg").constData()),
                     0);
        } else {
            folder = dst + "/bound";
            mount = TestMount::bind(src, folder);
            if (!mount)
                QSKIP("no bind mount here (needs the superuser)");
        }
        FileOperations ops;
        const auto result = move ? ops.moveFile(src + "/a.jpg", folder + "/a.jpg")
                                 : ops.copyFile(src + "/a.jpg", folder + "/a.jpg");
        QVERIFY(!result.ok());
        QVERIFY(result.moved.isEmpty() && result.copied.isEmpty());
        QCOMPARE(result.errors.size(), 1);
        QVERIFY2(result.errors.first().contains("same file"), qPrintable(result.errors.first()));
        QVERIFY(prompts.asked(ScriptedPrompts::Kind::Replace).isEmpty());
        QCOMPARE(readFile(src + "/a.jpg"), QByteArray("precious"));
        QCOMPARE(entries(src), QStringList{"a.jpg"});
    }

    void folderIntoItselfThroughALink()
    {
        ScriptedPrompts prompts;
        writeFile(src + "/album/a.jpg", "A");
        QVERIFY(QFile::link(src + "/album", dst + "/alias"));
        FileOperations ops;
        const auto result = ops.moveFile(src + "/album", dst + "/alias/album");
        QCOMPARE(result.errors.size(), 1);
        QCOMPARE(readFile(src + "/album/a.jpg"), QByteArray("A"));
    }

    // Names that are not valid UTF-8 are files like any other: folders are copied and moved
    // with them, by their bytes.
    void undecodableNamesTravel_data()
    {
        QTest::addColumn<bool>("move");
        QTest::addColumn<bool>("forceCopy");
        QTest::addColumn<bool>("otherFileSystem");
        QTest::newRow("copy") << false << false << false;
        QTest::newRow("move") << true << false << false;
        QTest::newRow("move by copy") << true << true << false;
        QTest::newRow("move to another file system") << true << false << true;
    }
    void undecodableNamesTravel()
    {
        QFETCH(bool, move);
        QFETCH(bool, forceCopy);
        QFETCH(bool, otherFileSystem);
        ScriptedPrompts prompts;
        FileOperations::setForceCopyForMoves(forceCopy);
        std::unique_ptr<TestMount> mount;
        QString destination = dst;
        if (otherFileSystem) {
            destination = m_sandbox->file("tree/other");
            mount = TestMount::tmpfs(destination, "size=4m");
            if (!mount)
                QSKIP("no second file system here (needs the superuser)");
        }
        const QByteArray album = QFile::encodeName(src) + "/album\xe9";
        QCOMPARE(::mkdir(album.constData(), 0755), 0);
        QCOMPARE(::mkdir((album + "/sub\xff").constData(), 0755), 0);
        writeNative(album + "/caf\xe9.jpg", "latin-1 name");
        writeNative(album + "/plain.jpg", "plain name");
        writeNative(album + "/sub\xff/n\xfe.png", "deep");
        const QMap<QByteArray, QByteArray> before = treeBytes(src);

        const QString source = pathFromNative(album);
        FileOperations ops;
        const auto result =
            move ? ops.moveTo({source}, destination) : ops.copyTo({source}, destination);
        QVERIFY2(result.ok(), qPrintable(result.errors.join('\n')));
        QCOMPARE(treeBytes(destination), before);
        QCOMPARE(treeBytes(src).isEmpty(), move);
        if (move)
            QCOMPARE(result.moved.first().second,
                     pathFromNative(QFile::encodeName(destination) + "/album\xe9"));
    }

    // Pipes, devices and sockets in a folder are not copied (reading a pipe would never end);
    // the user is told, and a move leaves them where they were.
    void pipesAndDevicesInFolders_data()
    {
        QTest::addColumn<bool>("move");
        QTest::newRow("copy") << false;
        QTest::newRow("move by copy") << true;
    }
    void pipesAndDevicesInFolders()
    {
        QFETCH(bool, move);
        ScriptedPrompts prompts;
        test::FifoWatchdog watchdog(5000);
        FileOperations::setForceCopyForMoves(true);
        writeFile(src + "/album/a.jpg", "A");
        writeFile(src + "/album/sub/b.jpg", "B");
        QVERIFY(watchdog.make(src + "/album/sub/pipe.jpg"));
        FileOperations ops;
        const auto result =
            move ? ops.moveTo({src + "/album"}, dst) : ops.copyTo({src + "/album"}, dst);
        QVERIFY(!watchdog.tripped());
        QVERIFY2(result.ok(), qPrintable(result.errors.join('\n')));
        QCOMPARE(result.leftOut, QStringList{src + "/album/sub/pipe.jpg"});
        const auto told = prompts.asked(ScriptedPrompts::Kind::Message);
        QCOMPARE(told.size(), 1);
        QVERIFY(told.first().text.contains(src + "/album/sub/pipe.jpg"));
        QCOMPARE(treeBytes(dst).keys(),
                 QList<QByteArray>({"album/", "album/a.jpg", "album/sub/", "album/sub/b.jpg"}));
        QCOMPARE(treeBytes(src).keys(),
                 move ? QList<QByteArray>({"album/", "album/sub/", "album/sub/pipe.jpg"})
                      : QList<QByteArray>({"album/", "album/a.jpg", "album/sub/", "album/sub/b.jpg",
                                           "album/sub/pipe.jpg"}));
    }

    void copyOfAPipeIsRefused()
    {
        ScriptedPrompts prompts;
        test::FifoWatchdog watchdog(5000);
        QVERIFY(watchdog.make(src + "/x.jpg"));
        FileOperations ops;
        const auto result = ops.copyTo({src + "/x.jpg"}, dst);
        QVERIFY(!watchdog.tripped());
        QCOMPARE(result.errors.size(), 1);
        QVERIFY(result.errors.first().contains("not a regular file"));
        QCOMPARE(entries(dst), QStringList());
    }

    // Partial copies left by a copy that was killed are removed when found; a partial copy that
    // a running copy holds, a recent one, and names not of that pattern stay.
    void staleParts()
    {
        ScriptedPrompts prompts;
        writeFile(src + "/new.jpg", "new");
        // An hour old, as a copy killed long ago leaves it.
        auto age = [](const QString &path) {
            const timespec old{QDateTime::currentSecsSinceEpoch() - 3600, 0};
            const timespec times[2] = {old, old};
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times,
                                 AT_SYMLINK_NOFOLLOW),
                     0);
        };
        auto plant = [&](const QString &name, bool aged) {
            writeFile(dst + "/" + name, pattern(1000, 3));
            if (aged)
                age(dst + "/" + name);
        };
        plant(".a.jpg.Ab12Cd.part", true);                 // left by a killed copy
        plant(".b.jpg.Xy34Zw.part", true);                 // held by a running copy
        plant(".c.jpg.Qw56Er.part", false);                // being written just now
        plant("keep.part", true);                          // not ours
        plant(".d.jpg.part", true);                        // not ours
        writeFile(dst + "/.e.Zz99Yy.part/inner.jpg", "x"); // a killed folder copy
        age(dst + "/.e.Zz99Yy.part");
        writeFile(m_sandbox->file("victim.jpg"), "victim");
        QVERIFY(QFile::link(m_sandbox->file("victim.jpg"), dst + "/.f.jpg.Ab12Cd.part"));
        age(dst + "/.f.jpg.Ab12Cd.part");
        const int held =
            ::open(QFile::encodeName(dst + "/.b.jpg.Xy34Zw.part").constData(), O_RDONLY);
        QVERIFY(held >= 0);
        QCOMPARE(::flock(held, LOCK_EX), 0);

        FileOperations ops;
        QVERIFY(ops.copyTo({src + "/new.jpg"}, dst).ok());
        ::close(held);
        QCOMPARE(entries(dst),
                 QStringList({".b.jpg.Xy34Zw.part", ".c.jpg.Qw56Er.part", ".d.jpg.part",
                              ".f.jpg.Ab12Cd.part", "keep.part", "new.jpg"}));
        QCOMPARE(readFile(m_sandbox->file("victim.jpg")), QByteArray("victim"));
    }

    // A full disk is named as such, and leaves nothing half-written behind.
    void noSpaceLeftOnDevice()
    {
        const QString small = m_sandbox->file("tree/small");
        const auto mount = TestMount::tmpfs(small, "size=64k");
        if (!mount)
            QSKIP("no small file system here (needs the superuser)");
        ScriptedPrompts prompts;
        writeFile(src + "/big.jpg", pattern(512 << 10, 4));
        FileOperations ops;
        const auto result = ops.moveTo({src + "/big.jpg"}, small);
        QCOMPARE(result.errors.size(), 1);
        QVERIFY2(result.errors.first().contains("No space left on device"),
                 qPrintable(result.errors.first()));
        QCOMPARE(entries(small), QStringList());
        QCOMPARE(readFile(src + "/big.jpg"), pattern(512 << 10, 4));
    }

    // Folders that may not be entered or read give a message that says so.
    void closedFolders_data()
    {
        QTest::addColumn<QString>("closed");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("reason");
        QTest::newRow("source folder read, not entered") << "src" << 0444 << "no permission";
        QTest::newRow("source folder chmod 000") << "src" << 0 << "no permission";
        QTest::newRow("destination chmod 000") << "dst" << 0 << "Permission denied";
    }
    void closedFolders()
    {
        QFETCH(QString, closed);
        QFETCH(int, mode);
        QFETCH(QString, reason);
        ScriptedPrompts prompts;
        ::chmod(QFile::encodeName(m_sandbox->path()).constData(), 0755);
        writeFile(src + "/a.jpg", "A");
        const QString folder = closed == "src" ? src : dst;
        ::chmod(QFile::encodeName(folder).constData(), mode_t(mode));
        FileOperationResult result;
        {
            test::FileSystemUser user;
            FileOperations ops;
            result = ops.copyTo({src + "/a.jpg"}, dst);
        }
        ::chmod(QFile::encodeName(folder).constData(), 0755);
        QCOMPARE(result.errors.size(), 1);
        QVERIFY2(result.errors.first().contains(reason), qPrintable(result.errors.first()));
        QCOMPARE(entries(dst), QStringList());
    }

    void rename_data()
    {
        QTest::addColumn<QString>("newName");
        QTest::addColumn<bool>("renamed");
        QTest::addColumn<bool>("message");
        QTest::newRow("plain") << "d.jpg" << true << false;
        QTest::newRow("same name") << "a.jpg" << false << false;
        QTest::newRow("existing folder") << "sub" << false << false;
        QTest::newRow("existing file") << "b.jpg" << false << true;
        QTest::newRow("empty") << "" << false << true;
        QTest::newRow("blank") << " \t " << false << true;
        QTest::newRow("spaces around a name") << " e.jpg " << true << false;
        QTest::newRow("separator") << "../d.jpg" << false << true;
        QTest::newRow("dot dot") << ".." << false << true;
    }

    void rename()
    {
        QFETCH(QString, newName);
        QFETCH(bool, renamed);
        QFETCH(bool, message);
        ScriptedPrompts prompts;
        writeFile(src + "/a.jpg", "A");
        writeFile(src + "/b.jpg", "B");
        QDir().mkpath(src + "/sub");
        FileOperations ops;
        const auto result = ops.rename(src + "/a.jpg", newName);
        QCOMPARE(prompts.asked(ScriptedPrompts::Kind::Message).size(), message ? 1 : 0);
        QCOMPARE(result.moved.size(), renamed ? 1 : 0);
        QCOMPARE(QFileInfo::exists(src + "/a.jpg"), !renamed);
        QCOMPARE(readFile(src + "/b.jpg"), QByteArray("B"));
        if (renamed) {
            QCOMPARE(result.moved.first().second, src + "/" + newName);
            QCOMPARE(readFile(src + "/" + newName), QByteArray("A"));
        }
        QVERIFY(!QFileInfo::exists(m_sandbox->file("tree/d.jpg")));
    }

    void permanentDelete_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("deleted");
        QTest::newRow("yes") << int(PromptAnswer::Yes) << true;
        QTest::newRow("no") << int(PromptAnswer::No) << false;
    }

    void permanentDelete()
    {
        QFETCH(int, answer);
        QFETCH(bool, deleted);
        ScriptedPrompts prompts;
        prompts.answerMessage(PromptAnswer(answer));
        writeFile(src + "/a.jpg", "A");
        writeFile(src + "/album/b.jpg", "B");
        FileOperations ops;
        const auto result = ops.remove({src + "/a.jpg", src + "/album"}, true);
        QCOMPARE(prompts.asked().size(), 1);
        QVERIFY(prompts.asked().first().text.contains("permanently"));
        QVERIFY(prompts.asked().first().text.contains("2"));
        QCOMPARE(result.cancelled, !deleted);
        QCOMPARE(QFileInfo::exists(src + "/a.jpg"), !deleted);
        QCOMPARE(QFileInfo::exists(src + "/album"), !deleted);
        QCOMPARE(result.removed.size(), deleted ? 2 : 0);
        // Nothing went to the trash.
        QVERIFY(!QFileInfo::exists(m_sandbox->file("data/Trash/files/a.jpg")));
    }

    void thumbnailsFollowTheFile()
    {
        ScriptedPrompts prompts;
        writeFile(src + "/a.png", "png");
        const ThumbnailCache cache;
        QImage thumb(8, 8, QImage::Format_RGB32);
        thumb.fill(Qt::red);
        const auto stamp = ThumbnailCache::stampOf(src + "/a.png");
        QVERIFY(stamp);
        QVERIFY(cache.store(src + "/a.png", *stamp, thumb, QSize(8, 8)));
        QVERIFY(QFileInfo::exists(cache.largePath(src + "/a.png")));
        FileOperations ops;
        QVERIFY(ops.rename(src + "/a.png", "b.png").ok());
        QVERIFY(!QFileInfo::exists(cache.largePath(src + "/a.png")));
        QVERIFY(QFileInfo::exists(cache.largePath(src + "/b.png")));
        FileOperations::setForceCopyForMoves(true);
        QVERIFY(ops.moveTo({src + "/b.png"}, dst).ok());
        QVERIFY(QFileInfo::exists(cache.largePath(dst + "/b.png")));
        prompts.answerMessage(PromptAnswer::Yes);
        QVERIFY(ops.remove({dst + "/b.png"}, true).ok());
        QVERIFY(!QFileInfo::exists(cache.largePath(dst + "/b.png")));
    }
};

QTEST_MAIN(FileOperationsTest)
#include "fileoperationstest.moc"
