#include "components/engine/imageio.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <thread>

using namespace qmt;

namespace {

// The anonymous memory mappings of this process.
int anonymousMappings()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return -1;
    int count = 0;
    for (const QByteArray &line : maps.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() == 5 && fields.at(4) == "0")
            ++count;
    }
    return count;
}

} // namespace

// Large pictures live in memory mappings of their own, which a helper thread fills with pages
// while the decoder works.
class ImageMemoryTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void largePicturesAreWholeAndTheirMemoryIsGivenBack()
    {
        if (anonymousMappings() < 0)
            QSKIP("no /proc/self/maps");
        QImage source(2400, 1600, QImage::Format_RGB32);
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width(); ++x)
                source.setPixel(x, y, qRgb(x & 255, y & 255, (x >> 8) * 20));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("big.bmp"));
        QVERIFY(source.save(path, "BMP"));

        // One decode first: the thread pools and caches of the process exist from then on.
        QVERIFY(readImageFile(path).ok());
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const int before = anonymousMappings();
        for (int i = 0; i < 12; ++i) {
            const auto decoded = readImageFile(path);
            QVERIFY(decoded.ok());
            const QImage &page = decoded->pages.first();
            QCOMPARE(page.size(), source.size());
            QCOMPARE(page.pixel(0, 0), source.pixel(0, 0));
            QCOMPARE(page.pixel(2399, 1599), source.pixel(2399, 1599));
            QCOMPARE(page.pixel(1234, 777), source.pixel(1234, 777));
        }
        // The helpers end soon after their pictures are dropped, and the mappings go with them.
        // (A few finished helpers may leave their thread stacks cached by the C library; twelve
        // pictures kept would leave twelve mappings.)
        QTRY_VERIFY_WITH_TIMEOUT(anonymousMappings() <= before + 6, 5000);
    }
};

QTEST_MAIN(ImageMemoryTest)
#include "imagememorytest.moc"
