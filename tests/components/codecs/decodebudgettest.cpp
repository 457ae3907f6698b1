#include "components/codecs/decodebudget.h"
#include "components/engine/imageio.h"

#include "hostilefiles.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <future>
#include <latch>
#include <thread>
#include <vector>

using namespace qmt;

class DecodeBudgetTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sharesAreGrantedWhileTheyFit()
    {
        DecodeBudget budget(100);
        QVERIFY(budget.tryAcquire(60));
        QVERIFY(!budget.tryAcquire(60));
        QVERIFY(budget.tryAcquire(40));
        QCOMPARE(budget.held(), 100);
        budget.release(60);
        QVERIFY(budget.tryAcquire(50));
        budget.release(90);
        QCOMPARE(budget.held(), 0);
        // Larger than the whole budget: granted alone, and nothing else beside it.
        QVERIFY(budget.tryAcquire(500));
        QVERIFY(!budget.tryAcquire(1));
        budget.release(500);
        QVERIFY(budget.tryAcquire(0));
        QCOMPARE(budget.held(), 0);
    }

    void aWaitingDecodeGoesOnWhenMemoryIsGivenBack()
    {
        DecodeBudget budget(100);
        DecodeBudgetShare first;
        first.take(budget, 60);
        std::atomic<bool> granted = false;
        std::thread second([&] {
            DecodeBudgetShare share;
            share.take(budget, 80);
            granted = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        QVERIFY(!granted);
        QCOMPARE(budget.held(), 60);
        first.release();
        second.join();
        QVERIFY(granted);
        // The second share went with its holder.
        QCOMPARE(budget.held(), 0);
    }

    // Shares that fit go ahead of a larger one waiting, a bounded number of times: then they
    // wait behind it, and it is granted as soon as memory is given back.
    void aWaitingShareIsPassedOnlySoOften()
    {
        DecodeBudget budget(1000);
        DecodeBudgetShare first;
        first.take(budget, 600);
        std::atomic<int> grants = 0;
        std::atomic<int> largeAt = 0;
        std::atomic<int> smallAt = 0;
        std::thread large([&] {
            DecodeBudgetShare share;
            share.take(budget, 800);
            largeAt = ++grants;
        });
        QTRY_COMPARE(budget.waiting(), 1);
        for (int i = 0; i < DecodeBudget::kMaxOvertakes; ++i)
            QVERIFY(budget.tryAcquire(10));
        // 10 more would still fit, but the large share has been passed often enough.
        QVERIFY(!budget.tryAcquire(10));
        // This one fits now (680 + 250) but not beside the large share: it comes after it.
        std::thread small([&] {
            DecodeBudgetShare share;
            share.take(budget, 250);
            smallAt = ++grants;
        });
        QTRY_COMPARE(budget.waiting(), 2);
        QCOMPARE(grants.load(), 0);
        first.release();
        budget.release(10 * DecodeBudget::kMaxOvertakes);
        large.join();
        small.join();
        QCOMPARE(largeAt.load(), 1);
        QCOMPARE(smallAt.load(), 2);
        QCOMPARE(budget.held(), 0);
        QCOMPARE(budget.waiting(), 0);
    }

    // A worker is told when its decode has to wait (and its pool may start another job), and
    // again when it goes on; a share granted at once says nothing.
    void aWaitingDecodeTellsItsWorker()
    {
        DecodeBudget budget(100);
        std::atomic<int> waited = 0;
        std::atomic<int> resumed = 0;
        const auto decode = [&](std::int64_t bytes) {
            const DecodeBudgetWaitNotice notice([&] { ++waited; }, [&] { ++resumed; });
            const DecodeBudgetScope scope(&budget);
            DecodeBudgetScope::reserve(bytes);
        };
        decode(80);
        QCOMPARE(waited.load(), 0);
        DecodeBudgetShare held;
        held.take(budget, 50);
        std::thread worker(decode, 80);
        QTRY_COMPARE(waited.load(), 1);
        QCOMPARE(resumed.load(), 0);
        held.release();
        worker.join();
        QCOMPARE(resumed.load(), 1);
        QCOMPARE(budget.held(), 0);
    }

    // A scope counts what the decode on its thread reserves: the most it said, taken once and
    // raised at once, given back at its end; a scope inside it adds no second share.
    void aScopeHoldsOneShareForItsDecode()
    {
        DecodeBudget budget(100);
        DecodeBudgetScope::reserve(500); // outside any scope: not counted
        QCOMPARE(budget.held(), 0);
        QCOMPARE(DecodeBudgetScope::reserved(), 0);
        DecodeBudgetShare other;
        other.take(budget, 40);
        {
            const DecodeBudgetScope scope(&budget);
            DecodeBudgetScope::reserve(50);
            QCOMPARE(budget.held(), 90);
            DecodeBudgetScope::reserve(30);
            QCOMPARE(budget.held(), 90);
            {
                DecodeBudget elsewhere(100);
                const DecodeBudgetScope inner(&elsewhere);
                // Past the budget, but this decode holds memory already: it does not wait.
                DecodeBudgetScope::reserve(70);
                QCOMPARE(elsewhere.held(), 0);
            }
            QCOMPARE(DecodeBudgetScope::reserved(), 70);
            QCOMPARE(budget.held(), 110);
        }
        QCOMPARE(budget.held(), 40);
        QCOMPARE(DecodeBudgetScope::reserved(), 0);
        {
            const DecodeBudgetScope uncounted(nullptr);
            DecodeBudgetScope::reserve(50);
            QCOMPARE(budget.held(), 40);
        }
    }

    // The interface thread's decode takes its share at once, beyond a full budget; decodes
    // that start meanwhile find no room and wait for it.
    void aScopeThatNeverWaitsGoesBeyondTheBudget()
    {
        DecodeBudget budget(100);
        DecodeBudgetShare worker;
        worker.take(budget, 80);
        auto shown = std::async(std::launch::async, [&budget] {
            const DecodeBudgetScope scope(&budget, DecodeBudgetScope::Wait::Never);
            DecodeBudgetScope::reserve(50);
            DecodeBudgetScope::reserve(70);
            return std::pair(budget.held(), budget.tryAcquire(10));
        });
        const bool withoutWaiting =
            shown.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        worker.release();
        const auto [during, newcomerGranted] = shown.get();
        QVERIFY(withoutWaiting);
        QCOMPARE(during, 150);
        QVERIFY(!newcomerGranted);
        QCOMPARE(budget.held(), 0);
        QCOMPARE(budget.highWaterMark(), 150);
    }

    // Huge pictures of every kind of reader decoded side by side: each decode takes what it
    // holds from the budget before allocating it (at least the picture it hands back), and with
    // a budget smaller than one such share they never run together. The most held at once is
    // then exactly one share; two decodes side by side would show twice as much.
    void hugeDecodesSideBySideTakeTurns_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");

        QImage rgba(1600, 1200, QImage::Format_ARGB32);
        for (int y = 0; y < rgba.height(); ++y)
            for (int x = 0; x < rgba.width(); ++x)
                rgba.setPixel(x, y, qRgba(x & 255, y & 255, (x ^ y) & 255, 200));
        const auto encoded = [&rgba](const char *format, bool progressive = false) {
            QByteArray bytes;
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            QImageWriter writer(&buffer, format);
            writer.setProgressiveScanWrite(progressive);
            writer.write(format == QByteArray("jpeg") ? rgba.convertToFormat(QImage::Format_RGB32)
                                                      : rgba);
            return bytes;
        };
        QTest::newRow("png through Qt's reader") << "p.png" << encoded("png");
        QTest::newRow("tiff through Qt's reader") << "p.tif" << encoded("tiff");
        QTest::newRow("bmp through the own reader") << "p.bmp" << encoded("bmp");
        QTest::newRow("progressive jpeg, reduced") << "p.jpg" << encoded("jpeg", true);
        QTest::newRow("icon of one large png entry") << "p.ico" << hostile::iconOfOnePng(3, 1500);
        QTest::newRow("metafile, played into a thumbnail")
            << "p.emf" << hostile::emfOfEllipsePath(20, 4000);
    }

    void hugeDecodesSideBySideTakeTurns()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QVERIFY(!bytes.isEmpty());
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();

        ReadOptions options;
        options.targetSize = QSize(256, 256);
        options.firstPageOnly = true;
        DecodeBudget alone(1);
        const auto decoded = [&] {
            const DecodeBudgetScope counted(&alone);
            return readImageFile(path, options);
        }();
        QVERIFY2(decoded.ok(), qPrintable(decoded.error()));
        const qint64 share = alone.highWaterMark();
        QVERIFY2(share >= decoded->pages.first().sizeInBytes(), qPrintable(QString::number(share)));
        QCOMPARE(alone.held(), 0);

        DecodeBudget budget(share - 1);
        constexpr int kWorkers = 3;
        std::latch start(kWorkers);
        std::atomic<int> failed = 0;
        std::vector<std::thread> workers;
        for (int i = 0; i < kWorkers; ++i) {
            workers.emplace_back([&] {
                start.arrive_and_wait();
                for (int round = 0; round < 2; ++round) {
                    const DecodeBudgetScope counted(&budget);
                    if (!readImageFile(path, options).ok())
                        ++failed;
                }
            });
        }
        for (std::thread &worker : workers)
            worker.join();
        QCOMPARE(failed.load(), 0);
        QCOMPARE(budget.highWaterMark(), share);
        QCOMPARE(budget.held(), 0);
    }

    // Every reduced decode of a progressive JPEG gives its share back, whether it succeeds or
    // libjpeg gives up on damaged data half way.
    void progressiveDecodesReturnTheirShare()
    {
        QImage source(640, 480, QImage::Format_RGB32);
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width(); ++x)
                source.setPixel(x, y, qRgb(x & 255, y & 255, (x ^ y) & 255));
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setProgressiveScanWrite(true);
        QVERIFY(writer.write(source));
        buffer.close();

        QTemporaryDir dir;
        const auto decode = [&](const QByteArray &bytes) {
            const QString path = dir.filePath(QStringLiteral("p.jpg"));
            QFile file(path);
            file.open(QIODevice::WriteOnly | QIODevice::Truncate);
            file.write(bytes);
            file.close();
            ReadOptions options;
            options.targetSize = QSize(100, 100);
            const DecodeBudgetScope counted(&DecodeBudget::reducedDecodes());
            return readImageFile(path, options);
        };
        DecodeBudget &budget = DecodeBudget::reducedDecodes();
        const auto whole = decode(jpeg);
        QVERIFY(whole.ok());
        QCOMPARE(whole->pages.first().width(), 160);
        QCOMPARE(budget.held(), 0);

        for (const qsizetype cut : {qsizetype(700), jpeg.size() / 3, jpeg.size() - 10}) {
            decode(jpeg.left(cut));
            QCOMPARE(budget.held(), 0);
        }
        for (int at = 300; at < jpeg.size(); at += 997) {
            QByteArray damaged = jpeg;
            for (int i = at; i < qMin(at + 40, int(damaged.size())); ++i)
                damaged[i] = char(0xff);
            decode(damaged);
            QCOMPARE(budget.held(), 0);
        }
    }
};

QTEST_MAIN(DecodeBudgetTest)
#include "decodebudgettest.moc"
