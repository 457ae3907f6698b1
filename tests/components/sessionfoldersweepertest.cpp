#include "components/sessionfoldersweeper.h"

#include "components/nativefile.h"
#include "components/sessionthumbnails.h"
#include "support/fifowatchdog.h"
#include "support/sandbox.h"

#include <QFileInfo>
#include <QImage>
#include <QTest>

#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace qmt;

namespace {

constexpr char kLeftName[] = "pictavo-thumbnails-Ab12Cd";

bool writeFile(const QByteArray &path, const QByteArray &data = "x")
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, data.constData(), size_t(data.size())) == data.size();
    ::close(fd);
    return ok;
}

bool exists(const QByteArray &path)
{
    struct stat st {
    };
    return ::lstat(path.constData(), &st) == 0;
}

// Entries of a folder, "." and ".." left out; -1 when it cannot be listed.
int entryCount(const QByteArray &folder)
{
    DIR *dir = ::opendir(folder.constData());
    if (dir == nullptr)
        return -1;
    int count = 0;
    while (const dirent *entry = ::readdir(dir))
        count += std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0;
    ::closedir(dir);
    return count;
}

bool makeOld(const QByteArray &path)
{
    const std::time_t twoDaysAgo = std::time(nullptr) - 2 * 24 * 3600;
    const struct timespec times[2] = {{twoDaysAgo, 0}, {twoDaysAgo, 0}};
    return ::utimensat(AT_FDCWD, path.constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

// A folder as a store leaves it when its program is killed: thumbnails, a lock file nobody
// holds (unless `lock` is false), and a link to a file elsewhere, which must outlive it.
QByteArray makeLeftFolder(const QByteArray &parent, const QByteArray &outside,
                          const QByteArray &name = kLeftName, bool lock = true)
{
    const QByteArray folder = parent + '/' + name;
    if (::mkdir(folder.constData(), 0700) != 0 || ::chmod(folder.constData(), 0700) != 0)
        return {};
    for (const char *entry : {"/0", "/1", "/2"}) {
        if (!writeFile(folder + entry, "thumbnail"))
            return {};
    }
    // Made by a run before this one: no longer new.
    const QByteArray lockFile = folder + '/' + SessionThumbnails::kLockFileName;
    if (lock && (!writeFile(lockFile, "") || !makeOld(lockFile)))
        return {};
    if (::symlink(outside.constData(), (folder + "/link").constData()) != 0)
        return {};
    return folder;
}

} // namespace

class SessionFolderSweeperTest : public QObject
{
    Q_OBJECT

    enum Situation {
        Ended,
        NewLock,
        OldUnlocked,
        FreshUnlocked,
        LockHeld,
        LockFifo,
        PlantedLink,
        WrongMode,
        OtherUser,
        Subfolder,
        Crowded,
        Latin1Parent
    };

private Q_SLOTS:
    // A folder is removed only when it is plainly ours and its program has ended; whatever else
    // is found is left exactly as it was, and nothing outside the folder is touched.
    void removesOnlyFoldersOfEndedPrograms_data()
    {
        QTest::addColumn<int>("situation");
        QTest::addColumn<bool>("removed");
        QTest::newRow("lock free: its program ended") << int(Ended) << true;
        QTest::newRow("lock free, made just now: its store is about to lock it")
            << int(NewLock) << false;
        QTest::newRow("no lock file, idle for two days") << int(OldUnlocked) << true;
        QTest::newRow("no lock file, written just now") << int(FreshUnlocked) << false;
        QTest::newRow("lock held through another open file") << int(LockHeld) << false;
        QTest::newRow("lock file is a fifo") << int(LockFifo) << false;
        QTest::newRow("link named like ours to a folder") << int(PlantedLink) << false;
        QTest::newRow("mode 0755") << int(WrongMode) << false;
        QTest::newRow("folder of another user") << int(OtherUser) << false;
        QTest::newRow("holds a subfolder") << int(Subfolder) << false;
        QTest::newRow("more entries than a store makes") << int(Crowded) << false;
        QTest::newRow("parent named in Latin-1") << int(Latin1Parent) << true;
    }
    void removesOnlyFoldersOfEndedPrograms()
    {
        QFETCH(int, situation);
        QFETCH(bool, removed);
        test::Sandbox sandbox;
        test::FifoWatchdog watchdog(5000); // a sweep that waits on a fifo fails, never hangs
        QByteArray parent = nativePath(sandbox.makeDir("tmp"));
        if (situation == Latin1Parent) {
            parent += "/caf\xe9";
            QVERIFY(::mkdir(parent.constData(), 0700) == 0);
        }
        const QByteArray outside = nativePath(sandbox.file("outside.jpg"));
        QVERIFY(writeFile(outside, "keep me"));
        const bool locked =
            situation != OldUnlocked && situation != FreshUnlocked && situation != LockFifo;
        const QByteArray folder =
            situation == PlantedLink
                ? makeLeftFolder(nativePath(sandbox.path()), outside, "victim") // ours but its name
                : makeLeftFolder(parent, outside, kLeftName, locked);
        QVERIFY(!folder.isEmpty());
        const QByteArray lockFile = folder + '/' + SessionThumbnails::kLockFileName;
        QByteArray looked = folder; // what the sweep finds in the parent
        SessionFolderSweeper::Limits limits;
        int heldFd = -1;
        switch (situation) {
        case OldUnlocked:
            QVERIFY(makeOld(folder));
            break;
        case NewLock:
            QVERIFY(writeFile(lockFile, ""));
            break;
        case LockHeld:
            heldFd = ::open(lockFile.constData(), O_RDONLY | O_CLOEXEC);
            QVERIFY(heldFd >= 0 && ::flock(heldFd, LOCK_EX | LOCK_NB) == 0);
            break;
        case LockFifo:
            QVERIFY(watchdog.make(pathFromNative(lockFile)));
            break;
        case PlantedLink:
            looked = parent + "/pictavo-thumbnails-Zz99Yy";
            QVERIFY(::symlink(folder.constData(), looked.constData()) == 0);
            break;
        case WrongMode:
            QVERIFY(::chmod(folder.constData(), 0755) == 0);
            break;
        case OtherUser:
            if (::geteuid() != 0)
                QSKIP("giving a folder to another user needs the superuser");
            QVERIFY(::chown(folder.constData(), 65534, 65534) == 0);
            break;
        case Subfolder:
            QVERIFY(::mkdir((folder + "/sub").constData(), 0700) == 0);
            QVERIFY(writeFile(folder + "/sub/photo.jpg"));
            break;
        case Crowded:
            limits.maxEntries = 4; // it holds five
            break;
        }
        const int entriesBefore = entryCount(folder);

        QCOMPARE(SessionFolderSweeper::sweep(pathFromNative(parent), limits), removed ? 1 : 0);
        if (heldFd >= 0)
            ::close(heldFd);
        QVERIFY(!watchdog.tripped());
        QCOMPARE(exists(looked), !removed);
        QCOMPARE(entryCount(folder), removed ? -1 : entriesBefore);
        QVERIFY(exists(outside));
    }

    // The lock lives as long as any process holding its open file, such as a child the program
    // started: the folder is kept until the last of them ends.
    void lockHeldByAChildProcessKeepsTheFolder()
    {
        test::Sandbox sandbox;
        const QByteArray parent = nativePath(sandbox.makeDir("tmp"));
        const QByteArray folder = makeLeftFolder(parent, nativePath(sandbox.file("outside")));
        const QByteArray lockFile = folder + '/' + SessionThumbnails::kLockFileName;
        const int lockFd = ::open(lockFile.constData(), O_RDONLY);
        QVERIFY(lockFd >= 0 && ::flock(lockFd, LOCK_EX | LOCK_NB) == 0);
        int pipeFds[2];
        QCOMPARE(::pipe(pipeFds), 0);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) { // keeps the lock's file open until the parent closes the pipe
            ::close(pipeFds[1]);
            char byte = 0;
            while (::read(pipeFds[0], &byte, 1) < 0 && errno == EINTR) {
            }
            ::_exit(0);
        }
        ::close(pipeFds[0]);
        ::close(lockFd);
        QCOMPARE(SessionFolderSweeper::sweep(pathFromNative(parent)), 0);
        QVERIFY(exists(folder + "/0"));

        ::close(pipeFds[1]);
        QCOMPARE(::waitpid(child, nullptr, 0), child);
        QCOMPARE(SessionFolderSweeper::sweep(pathFromNative(parent)), 1);
        QVERIFY(!exists(folder));
    }

    // A store holds the lock on its folder for its life, so a sweep keeps it; the first store
    // of a parent sweeps it in the background.
    void storeHoldsItsFolderAndSweepsWhatWasLeft()
    {
        test::Sandbox sandbox;
        const QByteArray parent = nativePath(sandbox.makeDir("tmp"));
        const QByteArray left = makeLeftFolder(parent, nativePath(sandbox.file("outside")));
        QImage picture(140, 93, QImage::Format_RGB32);
        picture.fill(Qt::darkGreen);
        const QString photo = sandbox.file("photo.png");
        QVERIFY(picture.save(photo));
        QString folder;
        {
            SessionThumbnails session({pathFromNative(parent)});
            SessionFolderSweeper::waitForBackground();
            QVERIFY(!left.isEmpty() && !exists(left));
            QVERIFY(session.store(photo, picture));
            folder = session.folder();
            QVERIFY(exists(nativePath(folder) + '/' + SessionThumbnails::kLockFileName));
            QCOMPARE(SessionFolderSweeper::sweep(pathFromNative(parent)), 0);
            QVERIFY(session.lookup(photo));
        }
        QVERIFY(!folder.isEmpty() && !QFileInfo::exists(folder));
    }
};

QTEST_GUILESS_MAIN(SessionFolderSweeperTest)
#include "sessionfoldersweepertest.moc"
