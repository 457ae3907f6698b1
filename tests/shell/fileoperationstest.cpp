#include "shell/fileoperations.h"

#include "components/thumbnailcache.h"
#include "support/sandbox.h"
#include "support/scriptedprompts.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
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

} // namespace

class FileOperationsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Sandbox> m_sandbox;
    ScriptedProgress m_script;
    ScriptedProgress *m_progress = nullptr; // the script, once an operation asked for one
    int m_cancelAfter = -1;
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
        FileOperations::setProgressFactory([this]() -> std::unique_ptr<FileProgress> {
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
        if (::geteuid() == 0)
            QSKIP("permissions do not bind the superuser");
        ScriptedPrompts prompts;
        writeFile(src + "/a.jpg", "data");
        QFile::setPermissions(dst, QFile::ReadOwner | QFile::ExeOwner);
        FileOperations ops;
        const auto result = ops.moveTo({src + "/a.jpg"}, dst);
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
