#pragma once

#include "app/startup.h"
#include "components/skin.h"

#include <QMargins>
#include <QPointer>
#include <QRect>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

class QLabel;
class QPushButton;
class QSplashScreen;
class QSplitter;
class QTimer;

namespace qmt {

class FolderTree;
class ImageExplore;
class ImageView;
class PreviewDecoder;
struct PreviewPicture;
class frmViwer;

// The main browser window: the folder tree on the left, the thumbnails, and the preview with its
// six buttons, in one three-pane splitter. Its Load() is the program's start-up.
class frmMain : public QWidget
{
    Q_OBJECT

public:
    explicit frmMain(QWidget *parent = nullptr);
    ~frmMain() override;

    // The start-up after the single-instance check: splash, title, skin, extension list, the
    // command line. Returns false when the program is to end without a window (the switches;
    // EndMe has then been called).
    bool Load(const QString &commandLine);
    // When the command line names a file the viewer will open, starts decoding it at once, so
    // the picture is ready when the windows are.
    static void PreloadCommandLinePicture(const QString &commandLine);
    // A command line handed over by a later start of the program: acted on as that start would
    // have (a picture in the viewer on its folder's list, brought to the front; a folder or
    // nothing in the browser; the switches' association work, without ending). Kept until the
    // start-up is done and no modal dialog is open.
    void openHandedOver(const QString &commandLine);
    // Whether the skin has been put on the window (at once, or behind a picture named on the
    // command line).
    bool isSkinned() const { return m_skinApplied; }

    // Called by the viewer.
    void RefreshImages(const QString &sPath, const QString &pathTO);
    void CheckPath(const QString &path);
    // Unloads the viewer and the other windows and ends the process.
    void EndMe();
    // The first top-level window of the program whose title contains text; 0 when none does.
    static WId FindWin(const QString &text);

    // Handlers of the tree, the explorer, the preview and the buttons.
    void ShowPreview(const QString &path);
    void OpenFromExplorer(const QStringList &ImagePaths, int Index, const QString &sFolderPath);
    void ViewPreviewImage();
    void PreviewZoomIn();
    void PreviewZoomOut();
    void Toolbar_ButtonClick(int index, const QString &key);
    void onTreeEvent9();
    void onTreeEvent12();
    void onTreeEvent20();
    void onTreeEvent24();

    // How the process ends (the tests record it instead).
    static void setProcessEnder(std::function<void()> ender);

    QString CommandLine;
    bool TreeUsed = false;
    Skin Skin1;

    FolderTree *TV1 = nullptr;
    QSplitter *Splitter2 = nullptr;
    QWidget *container = nullptr;
    QWidget *Toolbar = nullptr;
    ImageExplore *ImageExplore1 = nullptr;
    ImageView *ImgX = nullptr;
    QPushButton *cmdNext = nullptr;
    QPushButton *cmdPrev = nullptr;
    QPushButton *cmdZoomOut = nullptr;
    QPushButton *cmdZoomIn = nullptr;
    QPushButton *cmdWallPaper = nullptr;
    QPushButton *cmdView = nullptr;

    // The folder of the first listing when it is not the desktop (a folder on the command line).
    QString startFolder() const { return m_startFolder; }
    // Whether the preview is still decoding the selected picture.
    bool isPreviewPending() const;

Q_SIGNALS:
    // The preview shows what ShowPreview was last asked for: the picture, or nothing for a
    // folder, an empty selection or a file that cannot be read.
    void previewShown(const QString &path);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildWindow();
    void listFolder(const QString &folder);
    void listTreeFolder();
    void openViewerOnCommandLine(const QString &file);
    void showInViewer(const QString &file);
    void dispatchHandedOver();
    void runHandedOver(const QString &commandLine);
    void browseHandedOver(const QString &folder);
    void listStartFolder();
    void shutdown();
    frmViwer *viewer();
    void finishSplash();
    void setProgramIcon();
    void applySkin();
    void finishStartBehindPicture();
    // The preview follows the explorer's selection after the program moved or changed it.
    void previewSelection();
    void showDecodedPreview(const PreviewPicture &picture);
    void clearPreview(const QString &path);
    // Whether the picture on show is the selected one, not one left on show while the selected
    // one decodes.
    bool previewIsCurrent() const;
    // The browser steps aside for the viewer and comes back where it was.
    void hideForViewer();
    void showAfterViewer();
    void checkAssociationsAndTools();

    QLabel *m_folderLabel = nullptr;
    std::unique_ptr<QSplashScreen> m_splash;
    bool m_skinApplied = false;
    bool m_startFinished = false;
    QPointer<frmViwer> m_connectedViewer;
    QString m_startFolder;
    QString m_previewPath; // the file the preview was last asked to show
    PreviewDecoder *m_previewDecoder = nullptr;
    QTimer *m_previewBlank = nullptr; // clears a picture left on show while the next decodes
    QRect m_placeBeforeViewer;        // the window's frame when the viewer took over
    QMargins m_frameBeforeViewer;     // and the frame around its inside
    bool m_shuttingDown = false;
    bool m_listedOnce = false;
    bool m_treeReady = false;
    bool m_loaded = false;
    bool m_dispatching = false;
    QStringList m_handedOver; // command lines of later starts not acted on yet
    QTimer *m_handOverRetry = nullptr;
};

} // namespace qmt
