#include "components/screenplacement.h"

#include <QApplication>
#include <QWidget>

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

} // namespace qmt
