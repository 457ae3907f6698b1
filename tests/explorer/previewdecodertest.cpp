#include "../components/codecs/hostilefiles.h"

#include "components/codecs/decodebudget.h"
#include "explorer/previewdecoder.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace qmt;

// The browser's preview decoded on a worker within the thumbnails' memory: only the latest
// request is shown, stale ones are dropped, and the decode waits for its share of memory.
class PreviewDecoderTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    DecodeBudget &m_budget = DecodeBudget::reducedDecodes();
    static constexpr qint64 kWholeBudget = qint64(1) << 30;

    QString path(const QString &name) const { return m_dir.filePath(name); }

    QString picture(const QString &name, int w, int h, const char *format = "PNG")
    {
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(QColor(200, 40, 90));
        const QString file = path(name);
        if (!image.save(file, format))
            qWarning("cannot write %s", qPrintable(file));
        return file;
    }

    QString bytes(const QString &name, const QByteArray &data)
    {
        QFile file(path(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
            qWarning("cannot write %s", qPrintable(file.fileName()));
        return file.fileName();
    }

    static QStringList firstArguments(const QSignalSpy &spy)
    {
        QStringList out;
        for (const QList<QVariant> &call : spy)
            out.append(call.first().toString());
        return out;
    }

private Q_SLOTS:
    void cleanup()
    {
        // Decodes left waiting by a failed test must not hold the next one up.
        PreviewDecoder::waitForIdle();
        QCOMPARE(m_budget.held(), 0);
    }

    void onlyTheLatestRequestIsDecoded()
    {
        QStringList files;
        for (int i = 0; i < 10; ++i)
            files.append(picture(QStringLiteral("s%1.png").arg(i), 16 + i, 16));
        const QString last = picture(QStringLiteral("last.png"), 50, 20);

        // The memory is taken: the decodes started wait for it.
        DecodeBudgetShare held;
        held.take(m_budget, kWholeBudget);
        PreviewDecoder decoder;
        QSignalSpy started(&decoder, &PreviewDecoder::started);
        QSignalSpy ready(&decoder, &PreviewDecoder::ready);
        QSignalSpy failed(&decoder, &PreviewDecoder::failed);
        for (int i = 0; i < PreviewDecoder::kMaxRunning; ++i) {
            decoder.request(files.at(i));
            QTRY_COMPARE(started.count(), i + 1);
        }
        QTRY_COMPARE(m_budget.waiting(), PreviewDecoder::kMaxRunning);
        // A hundred more selections while both workers wait.
        for (int i = 0; i < 100; ++i)
            decoder.request(files.at(i % files.size()));
        decoder.request(last);
        QCOMPARE(decoder.pendingPath(), last);

        held.release();
        QTRY_COMPARE(ready.count(), 1);
        QCOMPARE(ready.first().first().value<PreviewPicture>().path, last);
        PreviewDecoder::waitForIdle();
        QCoreApplication::processEvents();
        // The two that were waiting ended stale and were dropped; of the hundred queued only
        // the last was decoded.
        QCOMPARE(ready.count(), 1);
        QCOMPARE(failed.count(), 0);
        QCOMPARE(firstArguments(started), (QStringList{files.at(0), files.at(1), last}));
    }

    void theSameItemReportedAgainGoesOnWithItsDecode()
    {
        const QString file = picture("again.png", 60, 40);
        DecodeBudgetShare held;
        held.take(m_budget, kWholeBudget);
        PreviewDecoder decoder;
        QSignalSpy started(&decoder, &PreviewDecoder::started);
        QSignalSpy ready(&decoder, &PreviewDecoder::ready);
        decoder.request(file);
        QTRY_COMPARE(started.count(), 1);
        decoder.request(file);
        held.release();
        QTRY_COMPARE(ready.count(), 1);
        PreviewDecoder::waitForIdle();
        QCoreApplication::processEvents();
        QCOMPARE(started.count(), 1);
        QCOMPARE(ready.count(), 1);
    }

    void theDecodeWaitsForItsShareOfMemory_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<qint64>("needs");
        // The engine's reader and the platform loader (an icon whose entries point at one PNG:
        // the first entry's pixels and data) both take what the picture holds before decoding.
        QTest::newRow("png") << picture("m.png", 1024, 1024) << qint64(1024) * 1024 * 4;
        QTest::newRow("icon of one png")
            << bytes("m.ico", hostile::iconOfOnePng(3, 1024)) << qint64(1024) * 1024 * 4;
        QTest::newRow("bitmap as dib")
            << picture("m.dib", 1024, 1024, "BMP") << qint64(1024) * 1024 * 4;
    }
    void theDecodeWaitsForItsShareOfMemory()
    {
        QFETCH(QString, file);
        QFETCH(qint64, needs);
        PreviewDecoder decoder;
        QSignalSpy ready(&decoder, &PreviewDecoder::ready);

        // Room for less than the picture: it waits until the memory is given back.
        DecodeBudgetShare held;
        held.take(m_budget, kWholeBudget - needs / 2);
        decoder.request(file);
        QTRY_COMPARE(m_budget.waiting(), 1);
        QCOMPARE(ready.count(), 0);
        QVERIFY(decoder.isPending());
        held.release();
        QTRY_COMPARE(ready.count(), 1);
        QCOMPARE(ready.first().first().value<PreviewPicture>().path, file);

        // Room for it beside what is held: it goes ahead.
        held.take(m_budget, kWholeBudget - needs * 2);
        decoder.request(file);
        QTRY_COMPARE(ready.count(), 2);
        QCOMPARE(m_budget.waiting(), 0);
    }
};

QTEST_MAIN(PreviewDecoderTest)
#include "previewdecodertest.moc"
