#pragma once

#include <QMainWindow>
#include <QStringList>

namespace qmt {

class ImageView;

// The viewer window. It exists once, is created on first use through instance() and unloaded
// at shutdown through unload().
class frmViwer : public QMainWindow
{
    Q_OBJECT

public:
    static frmViwer *instance();
    static bool isLoaded();
    // Closes and destroys the window (its close writes the "FullScreen" setting).
    static void unload();

    // Shows list[index] (the index wraps into the list) and makes the window visible.
    void ViewImage(const QStringList &list, int index);

    // True when the viewer was opened from the command line: closing it ends the program.
    bool bCommand = false;

    // The viewer's image engine view; the browser sets its ZoomFactor before ViewImage.
    ImageView *ImgX() const;

Q_SIGNALS:
    // The user went back to the browser: show it and bring it to this image (CheckPath).
    void returnedToBrowser(const QString &currentImage);
    // The viewer was closed while the browser lives: show the browser again.
    void closedToBrowser();
    // The viewer was closed while opened from the command line: end the program.
    void endProgramRequested();
    // A file operation changed the shown image's file (RefreshImages on the browser).
    void filesChanged(const QString &sPath, const QString &pathTO);

private:
    explicit frmViwer(QWidget *parent = nullptr);
};

} // namespace qmt
