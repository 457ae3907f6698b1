#pragma once

#include <QString>
#include <QStringList>

namespace qmt {

class ImageDocument;
class ImageView;

// Makes the image shown in an image view the desktop wallpaper: a Windows-bitmap copy named like
// the image is written into GetWindowsFolder() and the desktop is pointed at it. Nothing happens
// when the view shows no image; a hidden copy in the way, a failed save or a desktop that cannot
// take the picture are told to the user through prompts().
void SetWallpaper(ImageView *ImgX);
void SetWallpaper(const ImageDocument *image);

// Points the running desktop's wallpaper at an image file: the desktop portal first, then the
// desktop named by XDG_CURRENT_DESKTOP, then feh or xwallpaper on an X11 session. Every outside
// command goes through launcher(). Returns whether one of them took it; `tried` receives a short
// description of every mechanism attempted, in order.
bool applyDesktopWallpaper(const QString &file, QStringList *tried = nullptr);

} // namespace qmt
