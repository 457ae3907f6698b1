#pragma once

#include <QMargins>
#include <QRect>

class QWidget;

namespace qmt {

// The outer rectangle (frame included) moved, and shrunk where it is larger, so that it lies
// wholly inside `area` (a screen's available geometry). A rectangle already inside is returned
// as it is.
QRect placeInside(const QRect &frame, const QRect &area);

// The frame the window system puts around a top-level window: measured once the window has been
// shown; before that, the frame of another visible window of the program; failing that, the
// last frame measured, or a usual title bar and border.
QMargins windowFrameMargins(const QWidget *window);

// Moves a top-level window's frame to `topLeft` and tells the window manager the place was the
// program's choice. Without that, a window manager that places windows itself (openbox, for
// one) puts a hidden window that is shown again wherever its own placement says: in the middle
// of the screen, or in a corner when a full-screen window covers it.
void moveFrameTo(QWidget *window, const QPoint &topLeft);

} // namespace qmt
