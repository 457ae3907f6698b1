#pragma once

#include "components/engine/imageio.h"
#include "components/result.h"

#include <QMainWindow>
#include <QMargins>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QMovie;
class QPrinter;
class QToolBar;
class QWheelEvent;

namespace qmt {

class ImageDocument;
class ImagePrefetcher;
struct DisplayTarget;
class frmDialog;
class ImageView;
class PropertiesWindow;

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
    ~frmViwer() override;

    // Shows list[index] (the index wraps into the list) and makes the window visible.
    void ViewImage(const QStringList &list, int index);
    // Shows `path` alone while the list of its folder is still being read elsewhere, and returns
    // the ticket that list must come back with. Until it does, the status bar shows no position
    // and Next and Previous are kept for it.
    quint64 ViewImageWhileListing(const QString &path);
    // The folder's list for the picture shown by ViewImageWhileListing(), with that picture's
    // index in it. Dropped when the viewer's list changed meanwhile (another picture, a drop,
    // File > Open, a rename, move or delete): the list is then no longer the one it completes.
    void FolderListReady(quint64 ticket, const QStringList &list, int index);
    // Whether a folder's list is still to come.
    bool folderListPending() const { return m_listPending; }
    // Starts decoding `path` in the background, before the window is asked to show it: a
    // picture named on the command line decodes while the program builds its windows.
    // Works with or without the window made yet.
    static void PreloadImage(const QString &path);

    // The toolbar's height in pixels.
    static constexpr int kToolbarHeight = 48;

    // True when the viewer was opened from the command line: closing it ends the program.
    bool bCommand = false;

    // The viewer's image engine view; the browser sets its ZoomFactor before ViewImage.
    ImageView *ImgX() const;

    // The Open dialog: the chosen files are appended to the list; false when cancelled.
    bool LoadImage();
    // Saves the shown image in the format of the chosen file type.
    void SaveAs();
    // Ask for a key and encrypt or decrypt the shown image in place.
    void Encrypt();
    void Decrypt();
    // The key prompt while Encrypt or Decrypt shows it (its ControlChanged can be followed).
    frmDialog *frmDlg = nullptr;
    // Reads "AntiAlias", "Slide Show Delay" and "FullScreen" (run once at creation).
    void LoadSettings();

    // The window's state.
    const QStringList &PathList() const { return m_PathList; }
    int CurrentIndex() const { return m_CurrentIndex; }
    int SlideIndex() const { return m_SlideIndex; }
    bool FullScreenOn() const { return m_FullScreenOn; }
    bool slideShowRunning() const { return m_slideShowRunning; }
    // The slide-show delay in milliseconds (0..65535; 0 gives no ticks).
    int slideShowDelay() const { return m_slideDelay; }
    bool slideTimerActive() const { return m_tmrSlideShow.isActive(); }
    // Text of status panel 1..5.
    QString statusPanel(int panel) const;
    // Why the last image could not be shown ("" when it was).
    QString lastLoadError() const { return m_lastLoadError; }
    // The printer of Print and Page Setup; it keeps its settings between uses.
    QPrinter &printer();
    // The prefetcher of the neighbouring images.
    ImagePrefetcher *prefetcher() const { return m_prefetcher; }

    // Commands, as the menus, the toolbar, the keys and the context menu run them.
    void ToggleFullScreen();
    void ReturnToBrowser();
    void CloseViewer();
    void ZoomIn();
    void ZoomOut();
    // The whole picture in the image area (never enlarged), and the picture at 100 %.
    void FitToWindow();
    void ActualSize();
    // The Properties window of the shown picture (it follows the pictures shown while open).
    void ShowProperties();
    void RotateRight();
    void RotateLeft();
    void ToggleAntiAlias();
    void UpdateToolMode();
    void NextImage();
    void PreviousImage();
    void ToggleSlideShow();
    void AskSlideDelay();
    // Placement 0 top left, 1 centred, 2 fitted to the page.
    void PrintImage(int placement);
    void PageSetup();
    void CopyImage();
    void UpdateStatusBar();
    // The window's key handler (it sees keys before the image area); true when handled.
    bool handleKey(int key, Qt::KeyboardModifiers modifiers);
    // The wheel over the image area: scrolls a picture larger than the area (sideways with
    // Shift), zooms around the pointer with Ctrl, and otherwise steps to the next picture (down)
    // or the previous one (up). True when handled.
    bool handleWheel(QWheelEvent *event);
    // The Properties window while it exists (tests).
    PropertiesWindow *propertiesWindow() const;
    // Files dropped on the image area become the list.
    void dropFiles(const QStringList &paths);
    // The context menu as ShowViewerMenu shows it (caller owns it).
    QMenu *buildViewerMenu(QWidget *parent);
    void ShowViewerMenu(int x, int y);

Q_SIGNALS:
    // The user went back to the browser: show it and bring it to this image (CheckPath).
    void returnedToBrowser(const QString &currentImage);
    // The viewer was closed while the browser lives: show the browser again.
    void closedToBrowser();
    // The viewer was closed while opened from the command line: end the program.
    void endProgramRequested();
    // A file operation changed the shown image's file (RefreshImages on the browser).
    void filesChanged(const QString &sPath, const QString &pathTO);

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit frmViwer(QWidget *parent = nullptr);

    void buildMenus();
    void buildToolbar();
    void buildStatusBar();
    void applySkin();
    QAction *addMenuItem(QMenu *menu, const char *name, const QString &caption,
                         const QKeySequence &shortcut, void (frmViwer::*command)());

    Status LoadPictureFile(const QString &path);
    void showLoadFailure(const QString &path, const QString &why);
    void startAnimationIfAny(const QString &path);
    void stopAnimation();
    void showNextFrame();
    void SizeWindowToImage();
    void FitZoomIfLarger();
    void ReloadCurrent();
    void SlideStep(bool tick);
    void onSlideTimer();
    void setSlideTimerEnabled(bool enabled);
    void setSlideDelay(int milliseconds);
    void prefetchAround(int index);
    // How a preview of `path` on screen gets its full picture when something needs the pixels.
    std::function<Result<DecodedImage>()> fullPictureOf(const QString &path);
    void onDecoded(const QString &path);
    void offerPrescaled(const QString &path);
    void onImageChanged();
    void onMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    // The Properties window, while open, shows the picture now shown.
    void refreshProperties();
    // One Zoom In or Zoom Out step that keeps the picture's point under the pointer in place.
    void zoomAround(bool in, const QPoint &viewportPos);
    void saveFullScreenSetting();
    // Saves one setting; the first failure of a run is told to the user.
    void saveSetting(const char *name, const QString &value);
    QSize displayWindowSize() const;
    // Where the picture is drawn: the view's viewport, or in full screen the screen less the
    // full-screen margins.
    QSize imageArea() const;
    QMargins fullScreenMargins() const;
    QRect availableArea() const;
    DisplayTarget displayTarget() const;
    static DisplayTarget startDisplayTarget();
    static DisplayTarget targetFor(const QSize &window, const QSize &viewport, bool smooth);
    int windowWidthTwips() const;
    int windowHeightTwips() const;
    int toolbarHeightTwips() const;

    // File operations, wallpaper, help, update and about (viewerfileoperations.cpp).
    void DoFileOperation(int opType);
    void DeleteImage() { DoFileOperation(2); }
    void SetAsWallpaper();
    void ShowHelpIndex();
    void RunUpdate();
    void ShowAbout();

    ImageView *m_view = nullptr;
    ImageDocument *m_document = nullptr;
    ImagePrefetcher *m_prefetcher = nullptr;
    QToolBar *m_toolbar = nullptr;
    QAction *m_toolButtons[8] = {};
    QList<QMenu *> m_topMenus;
    QAction *m_mnuAntiAliasDisplay = nullptr;
    QLabel *m_panels[5] = {};
    QTimer m_tmrSlideShow;
    QPointer<QMovie> m_movie;
    QPointer<PropertiesWindow> m_properties;
    // Animations the reader composed itself (WebP, AVIF, JPEG XL): their frames, the one shown
    // and the timer that moves on.
    QList<QImage> m_frames;
    QList<int> m_frameDelays;
    int m_frameIndex = 0;
    QTimer m_frameTimer;
    std::unique_ptr<QPrinter> m_printer;

    QStringList m_PathList;
    int m_CurrentIndex = 0;
    // A folder's list being read for the picture shown: its ticket, and Next (+1) and Previous
    // (-1) pressed before it came.
    quint64 m_listTicket = 0;
    bool m_listPending = false;
    int m_pendingSteps = 0;
    int m_SlideIndex = 0;
    bool m_FullScreenOn = true;
    bool m_SlideTickPending = false;
    int m_SavedLeft = 0;
    int m_SavedTop = 0;
    int m_SavedWidth = 0;
    int m_SavedHeight = 0;
    bool m_ResizeSuppressed = false;
    // The last SizeWindowToImage kept the window smaller than the picture needed.
    bool m_windowCapped = false;
    // Wheel turns not yet making a whole notch, for zooming and for stepping.
    int m_wheelZoom = 0;
    int m_wheelStep = 0;
    static constexpr int kWheelNotch = 120;
    static constexpr int kWheelScrollPixels = 60;
    bool m_slideShowRunning = false;
    bool m_slideTimerEnabled = false;
    int m_slideDelay = 1000;
    // The file dialog's type position, shared by Open and Save As (1-based).
    int m_dialogFilterIndex = 1;
    QString m_lastLoadError;
    QMetaObject::Connection m_prefetchAfterPaint;
    bool m_unloading = false;
};

} // namespace qmt
