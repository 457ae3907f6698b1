#include "components/thumbnailcache.h"
#include "components/nativefile.h"
#include "components/sessionthumbnails.h"
#include "explorer/thumbnailer.h"
#include "support/fifowatchdog.h"
#include "support/sandbox.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qmt;

namespace {

QString makeImage(const QString &path, QSize size, QColor colour = Qt::darkGreen)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    if (!image.save(path))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void setMTime(const QString &path, const QDateTime &when)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite) ||
        !file.setFileTime(when, QFileDevice::FileModificationTime))
        qFatal("cannot set the time of %s", qPrintable(path));
}

// A thumbnail-sized picture with some detail, so that a lossy copy can be told from another.
QImage photoThumbnail(QColor colour)
{
    QImage image(140, 93, QImage::Format_RGB888);
    image.fill(colour);
    for (int x = 0; x < 140; ++x)
        for (int y = 0; y < 93 && x % 10 < 4; ++y)
            image.setPixelColor(x, y, Qt::white);
    return image;
}

bool near(const QColor &a, const QColor &b)
{
    return qAbs(a.red() - b.red()) < 24 && qAbs(a.green() - b.green()) < 24 &&
           qAbs(a.blue() - b.blue()) < 24;
}

// A place where no folder can be made, whoever runs the test: it would sit under a file.
QString underAFile(const test::Sandbox &sandbox)
{
    const QString file = sandbox.file("a-file");
    QFile blocker(file);
    if (!blocker.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(file));
    return file + "/below";
}

} // namespace

class ThumbnailCacheTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void namesFollowTheStandard()
    {
        // The example of the Thumbnail Managing Standard.
        QCOMPARE(ThumbnailCache::uriFor("/home/jens/photos/me.png"),
                 QStringLiteral("file:///home/jens/photos/me.png"));
        QCOMPARE(ThumbnailCache::fileNameFor("/home/jens/photos/me.png"),
                 QStringLiteral("c6ee772d9e49320e97ec29a7eb5b1697.png"));
        QCOMPARE(ThumbnailCache::uriFor("/tmp/a b/ü.jpg"),
                 QStringLiteral("file:///tmp/a%20b/%C3%BC.jpg"));
    }

    void rootFollowsXdgCacheHome()
    {
        test::Sandbox sandbox;
        QCOMPARE(ThumbnailCache().root(), sandbox.file("cache/thumbnails"));
    }

    void hitThenStaleAfterChange()
    {
        test::Sandbox sandbox;
        const QString photo = makeImage(sandbox.file("photo.png"), QSize(1000, 200));
        const ThumbnailCache cache;
        Thumbnailer::Job job{photo, false};

        const auto made = Thumbnailer::makeOne(job, &cache);
        QVERIFY(made.error.isEmpty());
        QVERIFY(!made.fromCache);
        QCOMPARE(made.thumbnail.size(), QSize(140, 140));

        // The stored thumbnail is a large one with the keys other programs check.
        const QImage stored(cache.largePath(photo));
        QCOMPARE(stored.text("Thumb::URI"), ThumbnailCache::uriFor(photo));
        QCOMPARE(stored.text("Thumb::MTime").toLongLong(),
                 QFileInfo(photo).lastModified().toSecsSinceEpoch());
        QCOMPARE(stored.size(), QSize(256, 51));
        QCOMPARE(QFileInfo(cache.largePath(photo)).permissions() &
                     (QFile::ReadOther | QFile::ReadGroup),
                 QFile::Permissions());

        const auto again = Thumbnailer::makeOne(job, &cache);
        QVERIFY(again.fromCache);
        QCOMPARE(again.thumbnail.size(), made.thumbnail.size());
        QCOMPARE(again.thumbnail.pixelColor(70, 70), made.thumbnail.pixelColor(70, 70));

        // The file changes: the stale thumbnail is not used, a new one is made and stored.
        makeImage(photo, QSize(200, 300), Qt::red);
        setMTime(photo, QDateTime::currentDateTime().addSecs(60));
        QVERIFY(!cache.lookup(photo));
        const auto changed = Thumbnailer::makeOne(job, &cache);
        QVERIFY(!changed.fromCache);
        QCOMPARE(changed.thumbnail.size(), QSize(140, 210));
        QCOMPARE(changed.thumbnail.pixelColor(70, 100), QColor(Qt::red));
        QVERIFY(cache.lookup(photo));
        QCOMPARE(cache.lookup(photo)->originalSize, QSize(200, 300));
    }

    void thumbnailOfAnotherProgramIsUsed()
    {
        // A thumbnail without the image size (made by a file manager) still serves.
        test::Sandbox sandbox;
        const QString photo = makeImage(sandbox.file("shared.png"), QSize(600, 400));
        const ThumbnailCache cache;
        QImage foreign(256, 171, QImage::Format_RGB32);
        foreign.fill(Qt::yellow);
        foreign.setText("Thumb::URI", ThumbnailCache::uriFor(photo));
        foreign.setText("Thumb::MTime",
                        QString::number(QFileInfo(photo).lastModified().toSecsSinceEpoch()));
        QDir().mkpath(sandbox.file("cache/thumbnails/large"));
        QVERIFY(foreign.save(cache.largePath(photo)));

        const auto outcome = Thumbnailer::makeOne({photo, false}, &cache);
        QVERIFY(outcome.fromCache);
        QCOMPARE(outcome.thumbnail.pixelColor(70, 40), QColor(Qt::yellow));

        // One whose URI names another file is not.
        foreign.setText("Thumb::URI", QStringLiteral("file:///elsewhere.png"));
        QVERIFY(foreign.save(cache.largePath(photo)));
        QVERIFY(!cache.lookup(photo));
    }

    void failureIsRecordedAndRetriedAfterChange()
    {
        test::Sandbox sandbox;
        const QString bad = sandbox.file("bad.jpg");
        {
            QFile file(bad);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("this is not a picture at all, just text");
        }
        const ThumbnailCache cache;
        const auto first = Thumbnailer::makeOne({bad, false}, &cache);
        QVERIFY(first.thumbnail.isNull());
        QVERIFY(!first.error.isEmpty());
        QVERIFY(cache.failurePath(bad).contains("/fail/pictavo-"));
        QVERIFY(QFileInfo::exists(cache.failurePath(bad)));
        QCOMPARE(cache.failure(bad), std::optional<QString>(first.error));

        // Made into a picture with a new time, the file is tried again.
        makeImage(bad + ".png", QSize(50, 50));
        QFile::remove(bad);
        QVERIFY(QFile::rename(bad + ".png", bad));
        setMTime(bad, QDateTime::currentDateTime().addSecs(120));
        QVERIFY(!cache.failure(bad));
        const auto second = Thumbnailer::makeOne({bad, false}, &cache);
        QVERIFY(second.error.isEmpty());
        QCOMPARE(second.thumbnail.size(), QSize(140, 140));
    }

    void followsMoveAndRemove()
    {
        test::Sandbox sandbox;
        const QString photo = makeImage(sandbox.file("a.png"), QSize(300, 200));
        const ThumbnailCache cache;
        Thumbnailer::makeOne({photo, false}, &cache);
        QVERIFY(QFileInfo::exists(cache.largePath(photo)));

        const QString moved = sandbox.makeDir("other") + "/b.png";
        QVERIFY(QFile::rename(photo, moved));
        QVERIFY(cache.move(photo, moved));
        QVERIFY(!QFileInfo::exists(cache.largePath(photo)));
        QVERIFY(cache.lookup(moved)); // the URI inside follows the file

        cache.remove(moved);
        QVERIFY(!QFileInfo::exists(cache.largePath(moved)));
    }

    void cacheItselfIsNotThumbnailed()
    {
        test::Sandbox sandbox;
        const ThumbnailCache cache;
        const QString inside = sandbox.makeDir("cache/thumbnails/large") + "/x.png";
        makeImage(inside, QSize(40, 40));
        QVERIFY(cache.isInsideCache(inside));
        QVERIFY(
            !cache.store(inside, *ThumbnailCache::stampOf(inside), QImage(inside), QSize(40, 40)));
        QVERIFY(!cache.isInsideCache(sandbox.file("cache/thumbnailsX/y.png")));
    }

    // A link planted at an entry's name is replaced by the new entry, never written through.
    void plantedLinksAreNotFollowed_data()
    {
        QTest::addColumn<bool>("failure");
        QTest::newRow("large thumbnail") << false;
        QTest::newRow("failure record") << true;
    }
    void plantedLinksAreNotFollowed()
    {
        QFETCH(bool, failure);
        test::Sandbox sandbox;
        const QString photo = makeImage(sandbox.file("photo.png"), QSize(300, 200));
        const QString victim = sandbox.file("victim.txt");
        {
            QFile file(victim);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("precious");
        }
        QFile::setPermissions(victim, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
        const ThumbnailCache cache;
        const QString entry = failure ? cache.failurePath(photo) : cache.largePath(photo);
        QDir().mkpath(QFileInfo(entry).path());
        QVERIFY(QFile::link(victim, entry));
        const QString dangling = sandbox.file("created-by-link.png");

        const auto stamp = ThumbnailCache::stampOf(photo);
        QVERIFY(stamp);
        QImage large(256, 171, QImage::Format_RGB32);
        large.fill(Qt::blue);
        QVERIFY(failure ? cache.storeFailure(photo, *stamp, "broken")
                        : cache.store(photo, *stamp, large, QSize(300, 200)));
        QFile file(victim);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("precious"));
        QCOMPARE(QFileInfo(victim).permissions() & QFile::ReadOther, QFile::ReadOther);
        QVERIFY(!QFileInfo(entry).isSymLink());
        QVERIFY(failure ? bool(cache.failure(photo)) : bool(cache.lookup(photo)));

        // A link pointing nowhere does not create its target either.
        QFile::remove(entry);
        QVERIFY(QFile::link(dangling, entry));
        QVERIFY(failure ? cache.storeFailure(photo, *stamp, "broken")
                        : cache.store(photo, *stamp, large, QSize(300, 200)));
        QVERIFY(!QFileInfo::exists(dangling));
        QVERIFY(!QFileInfo(entry).isSymLink());
    }

    // The cache's folders are the user's alone; a linked folder planted there gets nothing.
    void foldersArePrivateAndNotLinks()
    {
        test::Sandbox sandbox;
        const QString photo = makeImage(sandbox.file("photo.png"), QSize(300, 200));
        const ThumbnailCache cache;
        QImage large(256, 171, QImage::Format_RGB32);
        large.fill(Qt::blue);
        QVERIFY(cache.store(photo, *ThumbnailCache::stampOf(photo), large, QSize(300, 200)));
        const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                            QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
        for (const QString &dir : {cache.root(), cache.root() + "/large"})
            QCOMPARE(QFileInfo(dir).permissions() & others, QFile::Permissions());

        const QString elsewhere = sandbox.makeDir("elsewhere");
        QVERIFY(QDir(cache.root() + "/large").removeRecursively());
        QVERIFY(QFile::link(elsewhere, cache.root() + "/large"));
        QVERIFY(!cache.store(photo, *ThumbnailCache::stampOf(photo), large, QSize(300, 200)));
        QVERIFY(QDir(elsewhere).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }

    // Only regular files in the cache are read: a FIFO would stop the reader for good, a link
    // would show another file.
    void entriesThatAreNotFilesAreIgnored_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("fifo") << "fifo";
        QTest::newRow("link to a good thumbnail") << "link";
        QTest::newRow("folder") << "folder";
        QTest::newRow("oversized file") << "huge";
    }
    void entriesThatAreNotFilesAreIgnored()
    {
        QFETCH(QString, kind);
        test::Sandbox sandbox;
        test::FifoWatchdog watchdog(5000);
        const QString photo = makeImage(sandbox.file("photo.png"), QSize(300, 200));
        const ThumbnailCache cache;
        const QString entry = cache.largePath(photo);
        const QString failureEntry = cache.failurePath(photo);
        QDir().mkpath(QFileInfo(entry).path());
        QDir().mkpath(QFileInfo(failureEntry).path());
        // A genuine thumbnail elsewhere, as a link target.
        QImage good(256, 171, QImage::Format_RGB32);
        good.fill(Qt::yellow);
        good.setText("Thumb::URI", ThumbnailCache::uriFor(photo));
        good.setText("Thumb::MTime",
                     QString::number(QFileInfo(photo).lastModified().toSecsSinceEpoch()));
        const QString genuine = sandbox.file("genuine.png");
        QVERIFY(good.save(genuine));
        for (const QString &path : {entry, failureEntry}) {
            if (kind == "fifo") {
                QVERIFY(watchdog.make(path));
            } else if (kind == "link") {
                QVERIFY(QFile::link(genuine, path));
            } else if (kind == "folder") {
                QVERIFY(QDir().mkpath(path));
            } else {
                QFile::copy(genuine, path);
                QFile file(path);
                QVERIFY(file.open(QIODevice::Append));
                file.write(QByteArray(5 << 20, '\0'));
            }
        }
        QVERIFY(!cache.lookup(photo));
        QVERIFY(!cache.failure(photo));
        const auto outcome = Thumbnailer::makeOne({photo, false}, &cache);
        QVERIFY(!watchdog.tripped());
        QVERIFY(!outcome.fromCache);
        QCOMPARE(outcome.thumbnail.size(), QSize(140, 93));
    }

    // The fuzz seed describes its file; what the fuzzer found is refused before decoding (a
    // chunk claiming 2 GB in a file of 289 bytes made the PNG reader allocate them).
    void keptFuzzInputs_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("entry");
        const QDir dir(qEnvironmentVariable("QMT_TEST_DATA") + "/thumbnailcache");
        const QStringList names = dir.entryList(QDir::Files);
        QVERIFY(names.contains("seed-thumbnail.png"));
        for (const QString &name : names)
            QTest::newRow(qPrintable(name)) << dir.filePath(name) << name.startsWith("seed");
    }
    void keptFuzzInputs()
    {
        QFETCH(QString, file);
        QFETCH(bool, entry);
        const QString uri = QStringLiteral("file:///fuzz/photo.jpg");
        const ThumbnailCache::FileStamp stamp{1700000000, 4096};
        QFile in(file);
        QVERIFY(in.open(QIODevice::ReadOnly));
        const auto read = ThumbnailCache::readEntry(&in, uri, stamp);
        QCOMPARE(bool(read), entry);
        if (entry)
            QCOMPARE(read->originalSize, QSize(160, 120));
        QVERIFY(in.seek(0));
        QCOMPARE(bool(ThumbnailCache::readFailure(&in, uri, stamp)), entry);
    }

    void undecodableNamesGetTheirBytesInTheUri()
    {
        test::Sandbox sandbox;
        const QString photo = pathFromNative(QFile::encodeName(sandbox.path()) + "/caf\xe9.png");
        QCOMPARE(ThumbnailCache::uriFor(photo),
                 QStringLiteral("file://") +
                     QString::fromLatin1(QFile::encodeName(sandbox.path()).toPercentEncoding("/")) +
                     QStringLiteral("/caf%E9.png"));
        QImage image(300, 200, QImage::Format_RGB32);
        image.fill(Qt::green);
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(image.save(&buffer, "png"));
        const int fd = ::open(nativePath(photo).constData(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, buffer.data().constData(), size_t(buffer.size())), buffer.size());
        ::close(fd);
        const ThumbnailCache cache;
        const auto made = Thumbnailer::makeOne({photo, false}, &cache);
        QVERIFY2(made.error.isEmpty(), qPrintable(made.error));
        QCOMPARE(made.thumbnail.size(), QSize(140, 93));
        QVERIFY(Thumbnailer::makeOne({photo, false}, &cache).fromCache);
    }

    // Each job of the newest batch is delivered once, those named by prefer() handed to the
    // workers first; results of an older batch never arrive.
    void deliversEachJobOnceWishesFirstAndDropsOlderBatches()
    {
        test::Sandbox sandbox;
        QList<Thumbnailer::Job> jobs;
        for (int i = 0; i < 30; ++i)
            jobs.append(
                {makeImage(sandbox.file(QStringLiteral("p%1.png").arg(i)), QSize(100 + i, 80)),
                 false});
        Thumbnailer thumbnailer;
        thumbnailer.setCacheEnabled(false);
        QSignalSpy spy(&thumbnailer, &Thumbnailer::ready);
        QSignalSpy finished(&thumbnailer, &Thumbnailer::finished);
        QList<int> handed;
        connect(&thumbnailer, &Thumbnailer::handedOut, this,
                [&handed](quint64 generation, int index) {
                    if (generation == 2)
                        handed.append(index);
                });
        thumbnailer.start(1, jobs.mid(0, 10));
        thumbnailer.start(2, jobs);
        thumbnailer.prefer({29, 28, 27});
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 30, 20000);
        QTest::qWait(50);
        QCOMPARE(spy.size(), 30);
        QList<int> order;
        for (const QList<QVariant> &call : std::as_const(spy)) {
            QCOMPARE(call.at(0).toULongLong(), 2ull);
            order.append(call.at(1).toInt());
            QCOMPARE(call.at(2).value<QImage>().width(), 140);
        }
        // Only the jobs handed to the pool before the wish come before the wished ones, in
        // the order they were wished. The order the workers end in is the machine's.
        QCOMPARE(handed.size(), 30);
        const qsizetype before = thumbnailer.threadCount() + 1;
        QCOMPARE(handed.mid(before, 3), (QList<int>{29, 28, 27}));
        std::sort(order.begin(), order.end());
        for (int i = 0; i < 30; ++i)
            QCOMPARE(order.at(i), i);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.at(0).at(0).toULongLong(), 2ull);
        QCOMPARE(thumbnailer.decodedCount(), 30);
        QVERIFY(!thumbnailer.busy());
        QVERIFY(!QFileInfo::exists(sandbox.file("cache/thumbnails/large")));
    }

    // A delivered thumbnail asked for again comes from the cache: the picture is not decoded a
    // second time. One that cannot be had again without decoding says so.
    void rereadComesFromTheCache()
    {
        test::Sandbox sandbox;
        const QList<Thumbnailer::Job> jobs = {
            {makeImage(sandbox.file("a.png"), QSize(300, 200), Qt::red), false},
            {makeImage(sandbox.file("b.png"), QSize(300, 200), Qt::blue), false}};
        Thumbnailer thumbnailer;
        QSignalSpy spy(&thumbnailer, &Thumbnailer::ready);
        thumbnailer.start(7, jobs);
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 2, 20000);
        QVERIFY(spy.at(0).at(4).toBool()); // stored: it can be read again
        thumbnailer.reread(1);
        thumbnailer.reread(5); // no such job
        QVERIFY(thumbnailer.busy());
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 3, 20000);
        QCOMPARE(spy.at(2).at(1).toInt(), 1);
        QCOMPARE(spy.at(2).at(2).value<QImage>().pixelColor(70, 46), QColor(Qt::blue));
        QCOMPARE(thumbnailer.decodedCount(), 2);
        QVERIFY(!thumbnailer.busy());

        // Without the cache a thumbnail is only had again by decoding.
        Thumbnailer uncached;
        uncached.setCacheEnabled(false);
        QSignalSpy plain(&uncached, &Thumbnailer::ready);
        uncached.start(1, jobs.mid(0, 1));
        QTRY_COMPARE_WITH_TIMEOUT(plain.size(), 1, 20000);
        QVERIFY(!plain.at(0).at(4).toBool());
    }

    // Without a writable cache, thumbnails are kept for the session in a private folder of
    // their own: given back while the file is unchanged, never read through a link, and gone
    // with the store.
    void sessionKeepsThumbnailsInAPrivateFolder()
    {
        test::Sandbox sandbox;
        const QString photo = makeImage(sandbox.file("p.png"), QSize(300, 200));
        const QString other = makeImage(sandbox.file("other.png"), QSize(300, 200));
        const QString parent = sandbox.makeDir("tmp");
        QString folder;
        {
            SessionThumbnails session({underAFile(sandbox), parent});
            QCOMPARE(session.folder(), QString()); // nothing is made before it is needed
            QVERIFY(!session.lookup(photo));
            QVERIFY(session.store(photo, photoThumbnail(Qt::red)));
            QVERIFY(session.store(other, photoThumbnail(Qt::blue)));
            folder = session.folder();
            QCOMPARE(QFileInfo(folder).absolutePath(), parent);
            QCOMPARE(session.memoryBytes(), 0);
            struct stat st {
            };
            QCOMPARE(::lstat(QFile::encodeName(folder).constData(), &st), 0);
            QCOMPARE(st.st_mode & 07777, mode_t(0700));
            QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden);
            // Beside the entries, the lock file the store holds for its life.
            QVERIFY(files.removeOne(QLatin1String(SessionThumbnails::kLockFileName)));
            QCOMPARE(files.size(), 2);
            for (const QString &name : files) {
                QCOMPARE(::lstat(QFile::encodeName(folder + "/" + name).constData(), &st), 0);
                QCOMPARE(st.st_mode & 07777, mode_t(0600));
            }

            const auto kept = session.lookup(photo);
            QVERIFY(kept);
            QCOMPARE(kept->size(), QSize(140, 93));
            QVERIFY(near(kept->pixelColor(7, 40), Qt::red));
            QVERIFY(near(kept->pixelColor(11, 40), Qt::white));

            // A link planted in place of an entry shows nothing of what it points to.
            for (const QString &name : files) {
                QVERIFY(QFile::remove(folder + "/" + name));
                QVERIFY(QFile::link(sandbox.file("p.png"), folder + "/" + name));
            }
            QVERIFY(!session.lookup(other));

            // A changed file has no thumbnail until it is kept again.
            setMTime(photo, QDateTime::currentDateTime().addSecs(60));
            QVERIFY(!session.lookup(photo));
            QVERIFY(session.store(photo, photoThumbnail(Qt::green)));
            QVERIFY(near(session.lookup(photo)->pixelColor(7, 40), Qt::green));
        }
        QVERIFY(!QFileInfo::exists(folder));
        QVERIFY(QFileInfo::exists(sandbox.file("p.png")));

        // A program that ends without destroying its stores removes their folders first; one
        // still used afterwards keeps what it is given in memory.
        SessionThumbnails session({parent});
        QVERIFY(session.store(photo, photoThumbnail(Qt::red)));
        folder = session.folder();
        QVERIFY(QFileInfo::exists(folder));
        SessionThumbnails::removeAllFolders();
        QVERIFY(!QFileInfo::exists(folder));
        QVERIFY(!session.lookup(photo));
        QVERIFY(session.store(photo, photoThumbnail(Qt::red)));
        QVERIFY(session.memoryBytes() > 0);
        QVERIFY(session.lookup(photo));
        QCOMPARE(session.folder(), QString());
    }

    // When no private folder can be made, thumbnails are kept compressed in memory up to the
    // cap, and no further.
    void sessionFallsBackToMemoryUpToItsCap()
    {
        test::Sandbox sandbox;
        QStringList photos;
        for (int i = 0; i < 12; ++i)
            photos.append(makeImage(sandbox.file(QStringLiteral("p%1.png").arg(i)), QSize(30, 20)));
        const qint64 cap = 40 * 1024;
        SessionThumbnails session({underAFile(sandbox), sandbox.file("missing/folder")}, cap);
        int kept = 0;
        for (const QString &photo : std::as_const(photos))
            kept += session.store(photo, photoThumbnail(Qt::darkCyan)) ? 1 : 0;
        QCOMPARE(session.folder(), QString());
        QVERIFY2(kept > 0 && kept < photos.size(), qPrintable(QString::number(kept)));
        QCOMPARE(session.count(), kept);
        QVERIFY(session.memoryBytes() > 0 && session.memoryBytes() <= cap);
        QVERIFY(near(session.lookup(photos.first())->pixelColor(7, 40), Qt::darkCyan));
        QVERIFY(!session.lookup(photos.last()));
        QVERIFY(
            QDir(sandbox.path()).entryList({"pictavo-thumbnails-*"}, QDir::AllEntries).isEmpty());
    }

    // With a cache that cannot be written, a thumbnail asked for again comes from the session:
    // the picture is not decoded a second time.
    void rereadWithoutAWritableCacheComesFromTheSession()
    {
        test::Sandbox sandbox;
        const QList<Thumbnailer::Job> jobs = {
            {makeImage(sandbox.file("a.png"), QSize(300, 200), Qt::red), false},
            {makeImage(sandbox.file("b.png"), QSize(300, 200), Qt::blue), false}};
        Thumbnailer thumbnailer;
        thumbnailer.setCacheRoot(underAFile(sandbox));
        thumbnailer.setSessionThumbnails(
            std::make_shared<SessionThumbnails>(QStringList{sandbox.makeDir("tmp")}));
        QSignalSpy spy(&thumbnailer, &Thumbnailer::ready);
        thumbnailer.start(1, jobs);
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 2, 20000);
        QVERIFY(spy.at(0).at(4).toBool() && spy.at(1).at(4).toBool());
        QCOMPARE(thumbnailer.sessionThumbnails().count(), 2);
        thumbnailer.reread(1);
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 3, 20000);
        QVERIFY(near(spy.at(2).at(2).value<QImage>().pixelColor(70, 46), Qt::blue));
        QCOMPARE(thumbnailer.decodedCount(), 2);
    }

    // A file renamed before its thumbnail is made is made from its new name.
    void renamedJobIsMadeFromItsNewName()
    {
        test::Sandbox sandbox;
        QList<Thumbnailer::Job> jobs;
        for (int i = 0; i < 12; ++i)
            jobs.append(
                {makeImage(sandbox.file(QStringLiteral("r%1.png").arg(i)), QSize(90, 60)), false});
        Thumbnailer thumbnailer;
        thumbnailer.setCacheEnabled(false);
        QSignalSpy spy(&thumbnailer, &Thumbnailer::ready);
        thumbnailer.start(3, jobs);
        const QString renamed = sandbox.file("renamed.png");
        QVERIFY(QFile::rename(jobs.last().path, renamed));
        thumbnailer.renameJob(11, renamed);
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 12, 20000);
        for (const QList<QVariant> &call : std::as_const(spy)) {
            QVERIFY2(call.at(3).toString().isEmpty(), qPrintable(call.at(3).toString()));
            QCOMPARE(call.at(2).value<QImage>().size(), QSize(140, 93));
        }
    }

    // Normal thumbnails are 128 pixels on their long side (a smaller picture's own size) and
    // are never made by enlarging.
    void normalThumbnailsAreNeverEnlarged_data()
    {
        QTest::addColumn<QSize>("original");
        QTest::addColumn<QSize>("given");
        QTest::addColumn<QSize>("stored"); // invalid when nothing may be stored
        QTest::newRow("camera thumbnail") << QSize(4000, 3000) << QSize(160, 120) << QSize(128, 96);
        QTest::newRow("portrait") << QSize(3000, 4000) << QSize(120, 160) << QSize(96, 128);
        QTest::newRow("exactly the size") << QSize(1280, 960) << QSize(128, 96) << QSize(128, 96);
        QTest::newRow("too small") << QSize(4000, 3000) << QSize(80, 60) << QSize();
        QTest::newRow("small picture kept whole")
            << QSize(100, 50) << QSize(100, 50) << QSize(100, 50);
    }
    void normalThumbnailsAreNeverEnlarged()
    {
        QFETCH(QSize, original);
        QFETCH(QSize, given);
        QFETCH(QSize, stored);
        test::Sandbox sandbox;
        const QString photo = makeImage(sandbox.file("p.png"), QSize(8, 8));
        const ThumbnailCache cache;
        QImage image(given, QImage::Format_RGB32);
        image.fill(Qt::cyan);
        const auto stamp = ThumbnailCache::stampOf(photo);
        QVERIFY(stamp);
        const Status status = cache.storeNormal(photo, *stamp, image, original);
        QCOMPARE(bool(status), stored.isValid());
        QCOMPARE(QFileInfo::exists(cache.normalPath(photo)), stored.isValid());
        QVERIFY(!QFileInfo::exists(cache.largePath(photo)));
        if (!stored.isValid())
            return;
        const QImage written(cache.normalPath(photo));
        QCOMPARE(written.size(), stored);
        QCOMPARE(written.text("Thumb::URI"), ThumbnailCache::uriFor(photo));
        QCOMPARE(written.text("Thumb::Image::Width").toInt(), original.width());
    }
};

QTEST_GUILESS_MAIN(ThumbnailCacheTest)
#include "thumbnailcachetest.moc"
