#include "explorer/explorermodel.h"

#include <QTest>

using namespace qmt;

namespace {

QImage photo(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, qRgb((x * 7) & 255, (y * 5) & 255, (x + y) & 255));
    return image;
}

} // namespace

class ExplorerModelTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void picturesAreHeldCompactlyWithoutChangingAPixel()
    {
        ExplorerModel model;
        const QImage thumbnail = photo(140, 93);
        model.setPicture(QStringLiteral("/p/a.jpg"), thumbnail);
        const QImage held = model.picture(QStringLiteral("/p/a.jpg"));
        QCOMPARE(held.format(), QImage::Format_RGB888);
        QCOMPARE(held.sizeInBytes() <= 140 * 3 * 93 + 93 * 4, true);
        QCOMPARE(held.convertToFormat(QImage::Format_RGB32), thumbnail);

        // Transparency is kept where a picture has it.
        QImage icon(32, 32, QImage::Format_ARGB32_Premultiplied);
        icon.fill(Qt::transparent);
        model.setPicture(QStringLiteral("Folder"), icon);
        QVERIFY(model.picture(QStringLiteral("Folder")).hasAlphaChannel());
        QCOMPARE(model.pictureCount(), 2);
        model.clearPictures();
        QCOMPARE(model.pictureCount(), 0);
        QVERIFY(model.picture(QStringLiteral("/p/a.jpg")).isNull());
    }

    void cellsAreDrawnCentredAndTheirCacheStaysBounded()
    {
        ExplorerModel model;
        const int count = ExplorerModel::kCellCacheSize + 40;
        model.resetPlaceholders(count);
        for (int row = 0; row < count; ++row) {
            const QString path = QStringLiteral("/p/%1.jpg").arg(row);
            model.setPicture(path, photo(140, 93));
            model.setItem(row, {path, QStringLiteral("%1.jpg").arg(row), path, QString()});
        }
        for (int row = 0; row < count; ++row) {
            const QPixmap cell = model.data(model.index(row), Qt::DecorationRole).value<QPixmap>();
            QCOMPARE(cell.size(), QSize(140, 140));
        }
        QCOMPARE(model.cachedCellCount(), ExplorerModel::kCellCacheSize);

        // The 140 x 93 picture sits in the middle of its cell, its pixels unchanged.
        const QImage cell =
            model.data(model.index(0), Qt::DecorationRole).value<QPixmap>().toImage();
        QCOMPARE(qAlpha(cell.pixel(70, 10)), 0);
        QCOMPARE(cell.pixel(0, 23) | 0xff000000, photo(140, 93).pixel(0, 0));
        QCOMPARE(cell.pixel(139, 115) | 0xff000000, photo(140, 93).pixel(139, 92));

        // A new picture for a key replaces the drawn cell too.
        QImage red(140, 93, QImage::Format_RGB32);
        red.fill(Qt::red);
        model.setPicture(QStringLiteral("/p/0.jpg"), red);
        const QImage redrawn =
            model.data(model.index(0), Qt::DecorationRole).value<QPixmap>().toImage();
        QCOMPARE(QColor(redrawn.pixel(70, 70)), QColor(Qt::red));
    }

    // A picture let go shows the loading picture in its cell until it is set again.
    void droppedPictureShowsTheLoadingPicture()
    {
        ExplorerModel model;
        QImage loading(125, 125, QImage::Format_RGB32);
        loading.fill(Qt::yellow);
        model.setPicture(QStringLiteral("A"), loading);
        model.resetPlaceholders(1);
        const QString path = QStringLiteral("/p/a.jpg");
        model.setItem(0, {path, QStringLiteral("a.jpg"), path, QString()});
        QImage red(140, 93, QImage::Format_RGB32);
        red.fill(Qt::red);
        model.setPicture(path, red);
        const auto centre = [&] {
            return QColor(model.data(model.index(0), Qt::DecorationRole)
                              .value<QPixmap>()
                              .toImage()
                              .pixel(70, 70));
        };
        QCOMPARE(centre(), QColor(Qt::red));
        model.dropPicture(path);
        QVERIFY(!model.hasPicture(path));
        QCOMPARE(model.pictureCount(), 1);
        QCOMPARE(centre(), QColor(Qt::yellow));
        model.setPicture(path, red);
        QCOMPARE(centre(), QColor(Qt::red));
    }
};

QTEST_MAIN(ExplorerModelTest)
#include "explorermodeltest.moc"
