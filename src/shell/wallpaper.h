#pragma once

#include <QString>
#include <QStringList>

namespace qmt {

class ImageDocument;
class ImageView;

// Makes the image shown in an image view the desktop wallpaper: a PNG copy of the shown page,
// named like the image with the extension ".png", is written into GetWindowsFolder() and the
// desktop is pointed at it; once the desktop took it, the copies made for earlier wallpapers
// are removed. Nothing happens when the view shows no image; a hidden copy in the way, a failed
// save or a desktop that cannot take the picture are told to the user through prompts().
void SetWallpaper(ImageView *ImgX);
void SetWallpaper(const ImageDocument *image);
// The name of the copy kept for a picture named pictureName: "DSC01203.JPG" gives
// "DSC01203.png".
QString wallpaperCopyName(const QString &pictureName);

// Points the running desktop's wallpaper at an image file: the desktop portal first, then the
// desktop named by XDG_CURRENT_DESKTOP, then feh or xwallpaper on an X11 session. Every outside
// command goes through launcher(). Returns whether one of them took it; `tried` receives a short
// description of every mechanism attempted, in order.
bool applyDesktopWallpaper(const QString &file, QStringList *tried = nullptr);

} // namespace qmt
