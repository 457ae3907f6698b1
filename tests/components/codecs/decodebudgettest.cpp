#include "components/codecs/decodebudget.h"
#include "components/engine/imageio.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <thread>

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
