#include "components/engine/imageview.h"
#include "components/engine/imagedocument.h"
#include "components/twips.h"

#include <QMimeData>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

using namespace qmt;

namespace {

// Qt delivers a drop only to the widget that accepted the drag's entry.
void dragAndDrop(QWidget *target, QMimeData *data)
{
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
}

} // namespace

class ImageViewTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_view = std::make_unique<ImageView>();
        m_view->resize(200, 150);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
        QImage image(400, 300, QImage::Format_RGB32);
        image.fill(Qt::darkGreen);
        QVERIFY(m_view->document()->LoadFromPicture(image));
    }
    void cleanup() { m_view.reset(); }

    void scrollStaysInsideTheImage()
    {
        m_view->setScrollX(-50);
        m_view->setScrollY(-50);
        QCOMPARE(m_view->ScrollX(), 0);
        QCOMPARE(m_view->ScrollY(), 0);
        m_view->setScrollX(100000);
        m_view->setScrollY(100000);
        const QSize area = m_view->viewport()->size();
        QCOMPARE(m_view->ScrollX(), 400 - area.width());
        QCOMPARE(m_view->ScrollY(), 300 - area.height());
    }

    void zoomChangesTheDisplayedSizeAndScrollRange()
    {
        m_view->setZoomFactor(2.0);
        QCOMPARE(m_view->imageRect().size(), QSize(800, 600));
        m_view->setScrollX(100000);
        QCOMPARE(m_view->ScrollX(), 800 - m_view->viewport()->width());
        m_view->setZoomFactor(0.25);
        QCOMPARE(m_view->imageRect().size(), QSize(100, 75));
        // Points are given in the picture's pixels, not the stand-in's.
        const QRect shown = m_view->imageRect();
        QCOMPARE(m_view->imagePointAt(shown.topLeft() + QPoint(50, 40)), QPointF(200, 160));
        QCOMPARE(m_view->ScrollX(), 0);
        // A small image is centred.
        const QRect r = m_view->imageRect();
        QCOMPARE(r.center().x(), m_view->viewport()->rect().center().x());
        m_view->setZoomFactor(0.0);
        m_view->setZoomFactor(-1.0);
        QCOMPARE(m_view->ZoomFactor(), 0.25);
    }

    void fitModeShowsTheWholeImage()
    {
        m_view->setMouseToolMode(ImageView::ToolFit);
        const QRect r = m_view->imageRect();
        QVERIFY(m_view->viewport()->rect().contains(r));
        QVERIFY(r.width() == m_view->viewport()->width() ||
                r.height() == m_view->viewport()->height());
    }

    void draggingPansOnlyInPanMode()
    {
        m_view->setMouseToolMode(ImageView::ToolNone);
        QTest::mousePress(m_view->viewport(), Qt::LeftButton, {}, QPoint(100, 100));
        QTest::mouseMove(m_view->viewport(), QPoint(60, 70));
        QTest::mouseRelease(m_view->viewport(), Qt::LeftButton, {}, QPoint(60, 70));
        QCOMPARE(m_view->ScrollX(), 0);

        m_view->setMouseToolMode(ImageView::ToolPan);
        QTest::mousePress(m_view->viewport(), Qt::LeftButton, {}, QPoint(100, 100));
        QMouseEvent move(QEvent::MouseMove, QPointF(60, 70),
                         m_view->viewport()->mapToGlobal(QPointF(60, 70)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_view->viewport(), &move);
        QTest::mouseRelease(m_view->viewport(), Qt::LeftButton, {}, QPoint(60, 70));
        QCOMPARE(m_view->ScrollX(), 40);
        QCOMPARE(m_view->ScrollY(), 30);
    }

    void reportsUserInput()
    {
        QSignalSpy doubleClicks(m_view.get(), &ImageView::doubleClicked);
        QSignalSpy keys(m_view.get(), &ImageView::keyDown);
        QSignalSpy presses(m_view.get(), &ImageView::mouseDown);
        QTest::mouseDClick(m_view->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
        QCOMPARE(doubleClicks.count(), 1);
        QTest::mousePress(m_view->viewport(), Qt::RightButton, Qt::ControlModifier, QPoint(12, 34));
        QCOMPARE(presses.count(), 1);
        QCOMPARE(presses.first().at(0).value<Qt::MouseButton>(), Qt::RightButton);
        QCOMPARE(presses.first().at(2).toInt(), 12);
        QCOMPARE(presses.first().at(3).toInt(), 34);
        QTest::keyClick(m_view.get(), Qt::Key_Left, Qt::ShiftModifier);
        // The Shift key itself is reported too, as every key that goes down.
        QVERIFY(!keys.isEmpty());
        QCOMPARE(keys.last().at(0).toInt(), int(Qt::Key_Left));
        QCOMPARE(keys.last().at(1).value<Qt::KeyboardModifiers>(),
                 Qt::KeyboardModifiers(Qt::ShiftModifier));
    }

    void dropsReportLocalFilesOnly()
    {
        m_view->setDropEnabled(true);
        QSignalSpy drops(m_view.get(), &ImageView::filesDropped);
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile("/tmp/a.jpg"), QUrl("https://example.invalid/b.png")});
        dragAndDrop(m_view->viewport(), &data);
        QCOMPARE(drops.count(), 1);
        QCOMPARE(drops.first().first().toStringList(), QStringList{"/tmp/a.jpg"});

        QMimeData remoteOnly;
        remoteOnly.setUrls({QUrl("https://example.invalid/b.png")});
        dragAndDrop(m_view->viewport(), &remoteOnly);
        QCOMPARE(drops.count(), 1);
    }

    void marginsAreBackAndThePictureIsDrawnOnce_data()
    {
        QTest::addColumn<bool>("alpha");
        QTest::newRow("opaque") << false;
        QTest::newRow("with alpha") << true;
    }
    void marginsAreBackAndThePictureIsDrawnOnce()
    {
        // A picture smaller than the view, centred: the view paints every pixel itself.
        QImage small(40, 30, QImage::Format_ARGB32);
        small.fill(QColor(0, 0, 255, 255));
        QFETCH(bool, alpha);
        if (alpha)
            small.setPixelColor(20, 15, QColor(0, 0, 0, 0));
        else
            small = small.convertToFormat(QImage::Format_RGB32);
        QVERIFY(m_view->document()->LoadFromPicture(small));
        m_view->setBackColor(QColor(250, 240, 10));
        const QImage shot = m_view->viewport()->grab().toImage();
        const QRect inside = m_view->imageRect();
        QCOMPARE(shot.pixelColor(2, 2), QColor(250, 240, 10));
        QCOMPARE(shot.pixelColor(shot.width() - 3, shot.height() - 3), QColor(250, 240, 10));
        QCOMPARE(shot.pixelColor(inside.center() + QPoint(5, 5)), QColor(0, 0, 255));
        // A transparent pixel shows the back colour, not what was there before.
        if (alpha)
            QCOMPARE(shot.pixelColor(inside.topLeft() + QPoint(20, 15)), QColor(250, 240, 10));
    }

    void aStandInDrawnLargerThanItsPixelsFetchesThePicture()
    {
        QImage full(400, 300, QImage::Format_RGB32);
        full.fill(Qt::darkRed);
        DecodedImage reduced;
        reduced.pages = {full.scaled(100, 75)};
        reduced.formatCode = FormatJpeg;
        reduced.fullSize = full.size();
        int completions = 0;
        m_view->document()->adoptPreview(reduced, QStringLiteral("/tmp/p.jpg"), [&] {
            ++completions;
            DecodedImage picture = reduced;
            picture.pages = {full};
            return Result<DecodedImage>(picture);
        });
        // Laid out at the picture's size; drawn at a quarter, the stand-in is enough.
        m_view->setZoomFactor(0.25);
        QCOMPARE(m_view->imageRect().size(), QSize(100, 75));
        // Points are given in the picture's pixels, not the stand-in's.
        const QRect shown = m_view->imageRect();
        QCOMPARE(m_view->imagePointAt(shown.topLeft() + QPoint(50, 40)), QPointF(200, 160));
        m_view->viewport()->grab();
        QCoreApplication::processEvents();
        QCOMPARE(completions, 0);
        // A closer look needs the picture's own pixels.
        m_view->setZoomFactor(1.0);
        QCOMPARE(m_view->imageRect().size(), QSize(400, 300));
        m_view->viewport()->grab();
        QTRY_COMPARE(completions, 1);
        QCOMPARE(m_view->document()->image().size(), QSize(400, 300));
    }

    void twipsFollowTheOverride()
    {
        twips::setOverride(15.0, 12.0);
        QCOMPARE(twips::toPixelsX(3700), 247);
        QCOMPARE(twips::toPixelsY(2400), 200);
        QCOMPARE(twips::fromPixelsX(100), 1500);
        QCOMPARE(twips::fromPixelsY(100), 1200);
        twips::clearOverride();
        QVERIFY(twips::perPixelX() > 0.0);
    }

private:
    std::unique_ptr<ImageView> m_view;
};

QTEST_MAIN(ImageViewTest)
#include "imageviewtest.moc"
