#include "components/thumbnailcache.h"
#include "explorer/thumbnailer.h"
#include "support/sandbox.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QSignalSpy>
#include <QTest>

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

    void deliversInOrderAndDropsOlderBatches()
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
        thumbnailer.start(1, jobs.mid(0, 10));
        thumbnailer.start(2, jobs);
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 30, 20000);
        QTest::qWait(50);
        QCOMPARE(spy.size(), 30);
        for (int i = 0; i < 30; ++i) {
            QCOMPARE(spy.at(i).at(0).toULongLong(), 2ull);
            QCOMPARE(spy.at(i).at(1).toInt(), i);
        }
        QVERIFY(!QFileInfo::exists(sandbox.file("cache/thumbnails/large")));
    }
};

QTEST_GUILESS_MAIN(ThumbnailCacheTest)
#include "thumbnailcachetest.moc"
