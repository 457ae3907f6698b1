#include "explorer/thumbnailgeometry.h"
#include "explorer/listingorder.h"

#include <QTest>

#include <algorithm>

using namespace qmt;

class ThumbnailGeometryTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void nearestGoesToEven_data()
    {
        QTest::addColumn<double>("x");
        QTest::addColumn<int>("expected");
        QTest::newRow("0.5") << 0.5 << 0;
        QTest::newRow("1.5") << 1.5 << 2;
        QTest::newRow("2.5") << 2.5 << 2;
        QTest::newRow("92.5") << 92.5 << 92;
        QTest::newRow("93.5") << 93.5 << 94;
        QTest::newRow("2.4999") << 2.4999 << 2;
        QTest::newRow("2.5001") << 2.5001 << 3;
        QTest::newRow("negative half") << -0.5 << 0;
        QTest::newRow("negative 1.5") << -1.5 << -2;
    }
    void nearestGoesToEven()
    {
        QFETCH(double, x);
        QFETCH(int, expected);
        QCOMPARE(nearestEven(x), expected);
    }

    void layout_data()
    {
        QTest::addColumn<QSize>("original");
        QTest::addColumn<QSize>("canvas");
        QTest::addColumn<QRect>("picture");
        QTest::newRow("wide 1000x200 on the square")
            << QSize(1000, 200) << QSize(140, 140) << QRect(0, 56, 140, 28);
        QTest::newRow("tall 200x1000 on the square")
            << QSize(200, 1000) << QSize(140, 140) << QRect(56, 0, 28, 140);
        QTest::newRow("landscape 300x200")
            << QSize(300, 200) << QSize(140, 93) << QRect(0, 0, 140, 93);
        QTest::newRow("portrait 200x300")
            << QSize(200, 300) << QSize(140, 210) << QRect(0, 0, 140, 210);
        QTest::newRow("square") << QSize(500, 500) << QSize(140, 140) << QRect(0, 0, 140, 140);
        // 140 / 112 * 74 = 92.5: the half goes to the even neighbour.
        QTest::newRow("half to even, keeps aspect")
            << QSize(112, 74) << QSize(140, 92) << QRect(0, 0, 140, 92);
        QTest::newRow("just under 1.8")
            << QSize(179, 100) << QSize(140, 78) << QRect(0, 0, 140, 78);
        QTest::newRow("exactly 1.8 goes on the square")
            << QSize(180, 100) << QSize(140, 140) << QRect(0, 31, 140, 78);
        QTest::newRow("exactly 1.8 tall")
            << QSize(100, 180) << QSize(140, 140) << QRect(31, 0, 78, 140);
        // 73 / 280 * 140 = 36.5 -> 36; (140 - 36) / 2 = 52.
        QTest::newRow("tall half to even")
            << QSize(73, 280) << QSize(140, 140) << QRect(52, 0, 36, 140);
        // 75 / 280 * 140 = 37.5 -> 38; (140 - 38) / 2 = 51.
        QTest::newRow("tall half up to even")
            << QSize(75, 280) << QSize(140, 140) << QRect(51, 0, 38, 140);
        QTest::newRow("wider than 32767")
            << QSize(40000, 1000) << QSize(140, 140) << QRect(0, 68, 140, 4);
        QTest::newRow("one pixel high")
            << QSize(5000, 1) << QSize(140, 140) << QRect(0, 70, 140, 1);
        QTest::newRow("tiny") << QSize(7, 5) << QSize(140, 100) << QRect(0, 0, 140, 100);
    }
    void layout()
    {
        QFETCH(QSize, original);
        QFETCH(QSize, canvas);
        QFETCH(QRect, picture);
        const ThumbnailLayout result = thumbnailLayout(original);
        QCOMPARE(result.canvas, canvas);
        QCOMPARE(result.picture, picture);
    }

    void squareIsWhiteAroundThePicture()
    {
        QImage source(1000, 200, QImage::Format_RGB32);
        source.fill(QColor(200, 0, 0));
        auto thumbnail = makeThumbnail(source, source.size());
        QVERIFY(thumbnail.ok());
        QCOMPARE(thumbnail->size(), QSize(140, 140));
        QCOMPARE(thumbnail->pixelColor(70, 10), QColor(Qt::white));
        QCOMPARE(thumbnail->pixelColor(70, 55), QColor(Qt::white));
        QCOMPARE(thumbnail->pixelColor(70, 84), QColor(Qt::white));
        QCOMPARE(thumbnail->pixelColor(70, 60), QColor(200, 0, 0));
        QCOMPARE(thumbnail->pixelColor(70, 83), QColor(200, 0, 0));
    }

    void reducedSourceKeepsTheOriginalGeometry()
    {
        // A cached copy of 256 x 51 stands for the 1000 x 200 original.
        QImage reduced(256, 51, QImage::Format_RGB32);
        reduced.fill(Qt::blue);
        auto thumbnail = makeThumbnail(reduced, QSize(1000, 200));
        QVERIFY(thumbnail.ok());
        QCOMPARE(thumbnail->size(), QSize(140, 140));
        QCOMPARE(thumbnail->pixelColor(70, 56), QColor(Qt::blue));
        QCOMPARE(thumbnail->pixelColor(70, 55), QColor(Qt::white));
    }

    void emptyImageFails()
    {
        QVERIFY(!makeThumbnail(QImage(), QSize(10, 10)).ok());
        QVERIFY(thumbnailLayout(QSize(0, 10)).canvas.isEmpty());
    }

    void listingOrder_data()
    {
        QTest::addColumn<QStringList>("shuffled");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("numbers by value") << QStringList{"img10.jpg", "img2.jpg", "img1.jpg"}
                                          << QStringList{"img1.jpg", "img2.jpg", "img10.jpg"};
        QTest::newRow("case ignored") << QStringList{"b.jpg", "C.jpg", "a.jpg", "B2.jpg"}
                                      << QStringList{"a.jpg", "b.jpg", "B2.jpg", "C.jpg"};
        QTest::newRow("ties broken by plain comparison")
            << QStringList{"a.jpg", "A.jpg", "a.JPG"} << QStringList{"A.jpg", "a.JPG", "a.jpg"};
        QTest::newRow("leading zeros")
            << QStringList{"x010", "x9", "x08", "x8"} << QStringList{"x08", "x8", "x9", "x010"};
        QTest::newRow("prefix first") << QStringList{"photo 2", "photo", "photo1"}
                                      << QStringList{"photo", "photo 2", "photo1"};
        QTest::newRow("long numbers")
            << QStringList{"n123456789012345678902", "n123456789012345678901", "n99"}
            << QStringList{"n99", "n123456789012345678901", "n123456789012345678902"};
    }
    void listingOrder()
    {
        QFETCH(QStringList, shuffled);
        QFETCH(QStringList, expected);
        std::sort(shuffled.begin(), shuffled.end(), listingLessThan);
        QCOMPARE(shuffled, expected);
        // The order is total: no two different names compare equal, and it is antisymmetric.
        for (const QString &a : expected) {
            for (const QString &b : expected) {
                QCOMPARE(compareListingNames(a, b) == 0, a == b);
                QCOMPARE(compareListingNames(a, b) < 0, compareListingNames(b, a) > 0);
            }
        }
    }
};

QTEST_GUILESS_MAIN(ThumbnailGeometryTest)
#include "thumbnailgeometrytest.moc"
