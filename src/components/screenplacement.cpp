#include "components/screenplacement.h"

#include <QApplication>
#include <QWidget>
#include <QWindow>

namespace qmt {
namespace {

// A typical desktop's title bar and border, for a window not yet shown.
constexpr QMargins kUsualFrame(4, 30, 4, 4);

// The last frame measured around a window of the program: the window manager gives its
// windows the same frame, also after the window measured is hidden.
QMargins &lastFrame()
{
    static QMargins frame = kUsualFrame;
    return frame;
}

QMargins measuredFrame(const QWidget *window)
{
    const QRect outer = window->frameGeometry();
    const QRect inner = window->geometry();
    return QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                    outer.right() - inner.right(), outer.bottom() - inner.bottom());
}

bool hasFrame(const QMargins &margins)
{
    return margins.top() > 0 || margins.left() > 0 || margins.right() > 0 || margins.bottom() > 0;
}

} // namespace

QRect placeInside(const QRect &frame, const QRect &area)
{
    if (!area.isValid())
        return frame;
    QRect placed(frame.topLeft(), frame.size().boundedTo(area.size()));
    if (placed.right() > area.right())
        placed.moveRight(area.right());
    if (placed.bottom() > area.bottom())
        placed.moveBottom(area.bottom());
    if (placed.left() < area.left())
        placed.moveLeft(area.left());
    if (placed.top() < area.top())
        placed.moveTop(area.top());
    return placed;
}

QMargins windowFrameMargins(const QWidget *window)
{
    if (window && window->isVisible()) {
        const QMargins own = measuredFrame(window);
        if (hasFrame(own))
            return lastFrame() = own;
    }
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (const QWidget *other : windows) {
        if (other == window || !other->isVisible() || other->isFullScreen() ||
            (other->windowFlags() & Qt::FramelessWindowHint) ||
            (other->windowType() != Qt::Window && other->windowType() != Qt::Dialog))
            continue;
        const QMargins theirs = measuredFrame(other);
        if (hasFrame(theirs))
            return lastFrame() = theirs;
    }
    return lastFrame();
}

void moveFrameTo(QWidget *window, const QPoint &topLeft)
{
    window->move(topLeft);
    // A move to where the widget already thinks it is does nothing, and a hidden window's place
    // reaches the window manager only as a position it chose itself: set on the native window,
    // it goes out as the user's position, which window managers keep.
    if (QWindow *handle = window->windowHandle())
        handle->setFramePosition(topLeft);
}

} // namespace qmt
