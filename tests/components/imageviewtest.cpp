#include "components/engine/imagedocument.h"
#include "components/engine/imageview.h"
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
        QVERIFY(r.width() == m_view->viewport()->width() || r.height() == m_view->viewport()->height());
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
        QMouseEvent move(QEvent::MouseMove, QPointF(60, 70), m_view->viewport()->mapToGlobal(QPointF(60, 70)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
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
        QCOMPARE(keys.last().at(1).value<Qt::KeyboardModifiers>(), Qt::KeyboardModifiers(Qt::ShiftModifier));
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
