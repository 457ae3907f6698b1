#include "viewer/frmviwer.h"

#include "components/codecs/decodebudget.h"
#include "components/engine/imagedocument.h"
#include "components/engine/imageview.h"
#include "components/nativefile.h"
#include "components/pictureinfo.h"
#include "components/prompts.h"
#include "components/screenplacement.h"
#include "components/skin.h"
#include "components/twips.h"
#include "viewer/imageprefetcher.h"
#include "viewer/propertieswindow.h"
#include "viewer/viewerformat.h"
#include "viewer/viewericons.h"
#include "viewer/viewersettings.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMovie>
#include <QPrinter>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QToolBar>
#include <QWheelEvent>

#include <cmath>

namespace qmt {
namespace {

// The picture shown is decoded on the interface thread: it counts against the memory of the
// background decodes without ever waiting for it, and the look-ahead and thumbnail decodes that
// start meanwhile wait for it instead.
Result<DecodedImage> readShownPicture(const QString &path, const ReadOptions &options = {})
{
    const DecodeBudgetScope counted(&DecodeBudget::reducedDecodes(),
                                    DecodeBudgetScope::Wait::Never);
    return readImageFile(path, options);
}

QPointer<frmViwer> &theInstance()
{
    static QPointer<frmViwer> window;
    return window;
}

QString boolSetting(bool value)
{
    return value ? QStringLiteral("-1") : QStringLiteral("0");
}

// Decodes started before the window exists: they are handed to the window when it is made.
std::unique_ptr<ImagePrefetcher> &earlyPrefetcher()
{
    static std::unique_ptr<ImagePrefetcher> prefetcher;
    return prefetcher;
}

} // namespace

frmViwer *frmViwer::instance()
{
    if (!theInstance())
        theInstance() = new frmViwer();
    return theInstance();
}

bool frmViwer::isLoaded()
{
    return !theInstance().isNull();
}

void frmViwer::unload()
{
    frmViwer *window = theInstance();
    if (!window)
        return;
    window->m_unloading = true;
    window->close();
    theInstance() = nullptr;
    delete window;
}

frmViwer::frmViwer(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("frmViwer"));
    setAttribute(Qt::WA_DeleteOnClose, false);

    m_view = new ImageView(this);
    m_view->setObjectName(QStringLiteral("ImgX"));
    m_document = m_view->document();
    // The engine's design settings: tool 1, white back, centred, a thin border, scroll bars,
    // drops handled by the window.
    m_view->setMouseToolMode(1);
    m_view->setBackColor(Qt::white);
    m_view->setCenter(true);
    m_view->setImageBorderThickness(1);
    m_view->setScrollBarsShown(true);
    m_view->setDropEnabled(true);
    m_view->setZoomKeptWhenFitting(true);
    setCentralWidget(m_view);
    m_view->installEventFilter(this);
    m_view->viewport()->installEventFilter(this);

    m_prefetcher = earlyPrefetcher() ? earlyPrefetcher().release() : new ImagePrefetcher;
    m_prefetcher->setParent(this);

    buildToolbar();
    buildMenus();
    buildStatusBar();
    applySkin();

    m_tmrSlideShow.setParent(this);
    m_tmrSlideShow.setInterval(1000);
    connect(&m_tmrSlideShow, &QTimer::timeout, this, &frmViwer::onSlideTimer);

    connect(m_view, &ImageView::imageChanged, this, &frmViwer::onImageChanged);
    connect(m_view, &ImageView::zoomChanged, this, [this] { UpdateStatusBar(); });
    connect(m_view, &ImageView::doubleClicked, this, &frmViwer::ReturnToBrowser);
    connect(m_view, &ImageView::mouseDown, this, &frmViwer::onMouseDown);
    connect(m_view, &ImageView::filesDropped, this, &frmViwer::dropFiles);
    connect(&m_frameTimer, &QTimer::timeout, this, &frmViwer::showNextFrame);
    connect(m_prefetcher, &ImagePrefetcher::decoded, this, &frmViwer::onDecoded);

    LoadSettings();
    m_PathList.clear();
}

frmViwer::~frmViwer()
{
    stopAnimation();
    m_tmrSlideShow.stop();
}

ImageView *frmViwer::ImgX() const
{
    return m_view;
}

QPrinter &frmViwer::printer()
{
    if (!m_printer)
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *m_printer;
}

// ---------------------------------------------------------------------------------------------
// Building the window

QAction *frmViwer::addMenuItem(QMenu *menu, const char *name, const QString &caption,
                               const QKeySequence &shortcut, void (frmViwer::*command)())
{
    QAction *action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    if (!shortcut.isEmpty()) {
        action->setShortcut(shortcut);
        // Held by the window too, so shortcuts work while the menu bar is hidden (full screen).
        addAction(action);
    }
    if (command)
        connect(action, &QAction::triggered, this, command);
    return action;
}

void frmViwer::buildMenus()
{
    QMenuBar *bar = menuBar();
    bar->setProperty("skinElement", QStringLiteral("Toolbar"));

    QMenu *file = bar->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    addMenuItem(file, "mnuopen", QStringLiteral("Open     "), QKeySequence(Qt::CTRL | Qt::Key_O),
                nullptr);
    connect(file->actions().last(), &QAction::triggered, this, [this] { LoadImage(); });
    addMenuItem(file, "mnuBrowse", QStringLiteral("Browse     "),
                QKeySequence(Qt::CTRL | Qt::Key_B), &frmViwer::ReturnToBrowser);
    addMenuItem(file, "mnuSaveAs", QStringLiteral("Save As     "),
                QKeySequence(Qt::CTRL | Qt::Key_S), &frmViwer::SaveAs);
    addMenuItem(file, "mnuPageSetup", QStringLiteral("Page Setup"), {}, &frmViwer::PageSetup);
    QMenu *print = file->addMenu(QStringLiteral("Print"));
    print->menuAction()->setObjectName(QStringLiteral("mnuPrint"));
    connect(addMenuItem(print, "mnuTopLeft", QStringLiteral("Top Left"), {}, nullptr),
            &QAction::triggered, this, [this] { PrintImage(0); });
    connect(addMenuItem(print, "mnuCentered", QStringLiteral("Centered"), {}, nullptr),
            &QAction::triggered, this, [this] { PrintImage(1); });
    connect(addMenuItem(print, "mnuFitToPage", QStringLiteral("Fit To Page"), {}, nullptr),
            &QAction::triggered, this, [this] { PrintImage(2); });
    addMenuItem(file, "mnuExit", QStringLiteral("Exit         "),
                QKeySequence(Qt::CTRL | Qt::Key_Q), &frmViwer::ReturnToBrowser);

    QMenu *edit = bar->addMenu(QStringLiteral("Edit"));
    edit->setObjectName(QStringLiteral("mnuEdit"));
    connect(addMenuItem(edit, "mnuCopyTo", QStringLiteral("Copy To"),
                        QKeySequence(Qt::CTRL | Qt::Key_C), nullptr),
            &QAction::triggered, this, [this] { DoFileOperation(1); });
    connect(addMenuItem(edit, "mnuMoveTo", QStringLiteral("Move To"),
                        QKeySequence(Qt::CTRL | Qt::Key_M), nullptr),
            &QAction::triggered, this, [this] { DoFileOperation(4); });
    addMenuItem(edit, "mnuCopyImage", QStringLiteral("Copy Image"),
                QKeySequence(Qt::CTRL | Qt::Key_G), &frmViwer::CopyImage);
    addMenuItem(edit, "mnuDelete", QStringLiteral("Delete     "), QKeySequence(Qt::Key_Delete),
                &frmViwer::DeleteImage);
    connect(
        addMenuItem(edit, "mnuRename", QStringLiteral("Rename"), QKeySequence(Qt::Key_F2), nullptr),
        &QAction::triggered, this, [this] { DoFileOperation(5); });

    QMenu *view = bar->addMenu(QStringLiteral("View"));
    view->setObjectName(QStringLiteral("mnuView"));
    addMenuItem(view, "mnuFullScreen", QStringLiteral("Full Screen"),
                QKeySequence(Qt::CTRL | Qt::Key_F), &frmViwer::ToggleFullScreen);
    addMenuItem(view, "mnuZoomIn", QStringLiteral("Zoom In     "),
                QKeySequence(Qt::CTRL | Qt::Key_N), &frmViwer::ZoomIn);
    addMenuItem(view, "mnuZoomOut", QStringLiteral("Zoom Out     "),
                QKeySequence(Qt::CTRL | Qt::Key_U), &frmViwer::ZoomOut);
    QMenu *image = view->addMenu(QStringLiteral("Image"));
    image->menuAction()->setObjectName(QStringLiteral("mnuImage"));
    addMenuItem(image, "mnuNext", QStringLiteral("Next"), {}, &frmViwer::NextImage);
    addMenuItem(image, "mnuPrevious", QStringLiteral("Previous"), {}, &frmViwer::PreviousImage);
    // Besides the window's own commands: the picture whole or at its own size, and its facts.
    view->addSeparator();
    addMenuItem(view, "mnuFit", QStringLiteral("Fit"), QKeySequence(Qt::CTRL | Qt::Key_0),
                &frmViwer::FitToWindow)
        ->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_0), QKeySequence(Qt::Key_0)});
    addMenuItem(view, "mnuActualSize", QStringLiteral("Actual Size"),
                QKeySequence(Qt::CTRL | Qt::Key_1), &frmViwer::ActualSize)
        ->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_1), QKeySequence(Qt::Key_1)});
    view->addSeparator();
    addMenuItem(view, "mnuProperties", QStringLiteral("Properties"), QKeySequence(Qt::Key_I),
                &frmViwer::ShowProperties);

    QMenu *tools = bar->addMenu(QStringLiteral("Tools"));
    tools->setObjectName(QStringLiteral("mnuTools"));
    addMenuItem(tools, "mnuSlideShow", QStringLiteral("Slide Show"), {},
                &frmViwer::ToggleSlideShow);
    addMenuItem(tools, "mnuSlideShowDelay", QStringLiteral("Slide Show Delay"), {},
                &frmViwer::AskSlideDelay);
    m_mnuAntiAliasDisplay =
        addMenuItem(tools, "mnuAntiAliasDisplay", QStringLiteral("AntiAlias Display"), {}, nullptr);
    m_mnuAntiAliasDisplay->setCheckable(true);
    // The check mark follows the display state, not the click.
    connect(m_mnuAntiAliasDisplay, &QAction::triggered, this, &frmViwer::ToggleAntiAlias);
    addMenuItem(tools, "mnuRotate1", QStringLiteral("Rotate +90"), {}, &frmViwer::RotateRight);
    addMenuItem(tools, "mnuRotate2", QStringLiteral("Rotate -90"), {}, &frmViwer::RotateLeft);
    addMenuItem(tools, "mnuSetAsWallpaper", QStringLiteral("Set As Wallpaper"), {},
                &frmViwer::SetAsWallpaper);
    tools->addSeparator();
    addMenuItem(tools, "mnuEncrypt", QStringLiteral("Encrypt..."), {}, &frmViwer::Encrypt);
    addMenuItem(tools, "mnuDecrypt", QStringLiteral("Decrypt..."), {}, &frmViwer::Decrypt);

    QMenu *help = bar->addMenu(QStringLiteral("Help"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    addMenuItem(help, "mnuAbout", QStringLiteral("About"), {}, &frmViwer::ShowAbout);
    addMenuItem(help, "mnuHelpIndex", QStringLiteral("Help Index"), {}, &frmViwer::ShowHelpIndex);
    addMenuItem(help, "mnuupdate", QStringLiteral("update"), {}, &frmViwer::RunUpdate);

    m_topMenus = {file, edit, view, tools, help};
}

void frmViwer::buildToolbar()
{
    m_toolbar = addToolBar(QStringLiteral("Toolbar"));
    m_toolbar->setObjectName(QStringLiteral("Toolbar"));
    m_toolbar->setMovable(false);
    m_toolbar->setIconSize(QSize(32, 32));
    // One height, skinned or not, so the full-screen image area is known before the window is.
    m_toolbar->setFixedHeight(kToolbarHeight);
    struct Button {
        const char *key;
        const char *tip;
        void (frmViwer::*command)();
    };
    const Button buttons[8] = {
        {"open32", "Open", nullptr},
        {"browsed32", "Browse", &frmViwer::ReturnToBrowser},
        {"previous32", "Prevoius", &frmViwer::PreviousImage},
        {"next32", "Next", &frmViwer::NextImage},
        {"slidshow32", "Slide Show", &frmViwer::ToggleSlideShow},
        {"zoomin32", "Zoom In", &frmViwer::ZoomIn},
        {"zoomiout32", "Zoom Out", &frmViwer::ZoomOut},
        {"fullscreen32", "Full Screen", &frmViwer::ToggleFullScreen},
    };
    for (int i = 0; i < 8; ++i) {
        const QString key = QString::fromLatin1(buttons[i].key);
        QAction *action =
            m_toolbar->addAction(viewer::toolbarIcon(key), QString::fromLatin1(buttons[i].tip));
        action->setObjectName(key);
        action->setToolTip(QString::fromLatin1(buttons[i].tip));
        if (buttons[i].command)
            connect(action, &QAction::triggered, this, buttons[i].command);
        m_toolButtons[i] = action;
    }
    connect(m_toolButtons[0], &QAction::triggered, this, [this] { LoadImage(); });
    m_toolButtons[4]->setCheckable(true);
}

void frmViwer::buildStatusBar()
{
    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setProperty("skinElement", QStringLiteral("StatusBar"));
    const int stretch[5] = {0, 3, 1, 2, 0};
    for (int i = 0; i < 5; ++i) {
        m_panels[i] = new QLabel(bar);
        m_panels[i]->setObjectName(QStringLiteral("panel%1").arg(i + 1));
        m_panels[i]->setMinimumWidth(i == 1 ? 120 : 60);
        bar->addPermanentWidget(m_panels[i], stretch[i]);
    }
}

QString frmViwer::statusPanel(int panel) const
{
    if (panel < 1 || panel > 5)
        return QString();
    return m_panels[panel - 1]->text();
}

void frmViwer::applySkin()
{
    // The main window's skin, and the element names of the status bar and the menu bar.
    const Skin *skin = Skin::current();
    if (!skin || !skin->isLoaded())
        return;
    skin->applyToWindow(this);
    Skin::applyElement(statusBar(), QStringLiteral("StatusBar"));
    Skin::applyElement(menuBar(), QStringLiteral("Toolbar"));
}

// ---------------------------------------------------------------------------------------------
// Settings

void frmViwer::LoadSettings()
{
    const bool antiAlias =
        viewer::settingToBool(viewer::readSetting("AntiAlias", QStringLiteral("1")), true);
    m_view->setAntiAliasOn(antiAlias);
    m_mnuAntiAliasDisplay->setChecked(antiAlias);
    setSlideDelay(viewer::delayFromSetting(
        viewer::readSetting("Slide Show Delay", QStringLiteral("2000")), 2000));
    m_FullScreenOn =
        viewer::settingToBool(viewer::readSetting("FullScreen", QStringLiteral("1")), true);
}

void frmViwer::saveFullScreenSetting()
{
    saveSetting("FullScreen", boolSetting(m_FullScreenOn));
}

void frmViwer::saveSetting(const char *name, const QString &value)
{
    if (viewer::saveSetting(name, value))
        return;
    if (const std::optional<QString> notice = viewer::unsavedSettingsNotice())
        prompts().message(*notice, PromptIcon::Exclamation, PromptButtons::Ok);
}

// ---------------------------------------------------------------------------------------------
// Geometry in twips

int frmViwer::windowWidthTwips() const
{
    return twips::fromPixelsX(width());
}
int frmViwer::windowHeightTwips() const
{
    return twips::fromPixelsY(height());
}
int frmViwer::toolbarHeightTwips() const
{
    // The toolbar keeps its one height, shown or hidden.
    return twips::fromPixelsY(kToolbarHeight);
}

void frmViwer::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (m_ResizeSuppressed)
        return;
    // The layout keeps the image area between the bars; the tool mode follows the new size.
    UpdateToolMode();
}

QMargins frmViwer::fullScreenMargins() const
{
    // In full screen the image area keeps its place below the (hidden) toolbar and ends 600
    // twips above the bottom of the screen.
    return QMargins(0, twips::toPixelsY(toolbarHeightTwips()), 0, twips::toPixelsY(600));
}

QRect frmViwer::availableArea() const
{
    QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

void frmViwer::ToggleFullScreen()
{
    QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!m_FullScreenOn) {
        m_FullScreenOn = true;
        // The geometry to come back to, taken each time full screen is entered: also when a new
        // image is shown in full screen, which records the full-screen window itself.
        m_SavedLeft = twips::fromPixelsX(x());
        m_SavedTop = twips::fromPixelsY(y());
        m_SavedWidth = windowWidthTwips();
        m_SavedHeight = windowHeightTwips();
        ReloadCurrent();
        const QMargins margins = fullScreenMargins();
        m_toolbar->hide();
        statusBar()->hide();
        menuBar()->hide();
        setContentsMargins(margins);
        Qt::WindowStates state = windowState();
        state &= ~(Qt::WindowMaximized | Qt::WindowMinimized);
        setWindowState(state | Qt::WindowFullScreen);
        if (screen && !isVisible())
            setGeometry(screen->geometry());
    } else {
        m_FullScreenOn = false;
        applySkin();
        setWindowTitle(QString());
        setContentsMargins(QMargins());
        menuBar()->show();
        m_toolbar->show();
        statusBar()->show();
        setWindowState(windowState() & ~(Qt::WindowFullScreen | Qt::WindowMaximized));
        // 510 twips below where it was, its frame kept on the screen.
        const QMargins frame = windowFrameMargins(this);
        QRect outer(
            QPoint(twips::toPixelsX(m_SavedLeft), twips::toPixelsY(m_SavedTop + 510)),
            QSize(twips::toPixelsX(m_SavedWidth), twips::toPixelsY(m_SavedHeight)).grownBy(frame));
        outer = placeInside(outer, availableArea());
        resize(outer.size().shrunkBy(frame));
        moveFrameTo(this, outer.topLeft());
        ReloadCurrent();
    }
    update();
}

void frmViwer::ReturnToBrowser()
{
    hide();
    const QString current = m_PathList.value(m_CurrentIndex);
    Q_EMIT returnedToBrowser(current);
}

void frmViwer::CloseViewer()
{
    close();
}

void frmViwer::closeEvent(QCloseEvent *event)
{
    saveFullScreenSetting();
    m_PathList.clear();
    if (m_slideShowRunning)
        setSlideTimerEnabled(false);
    stopAnimation();
    m_prefetcher->keep({});
    event->accept();
    if (m_unloading)
        return;
    if (bCommand) {
        Q_EMIT endProgramRequested();
        return;
    }
    // The window is unloaded; the browser comes back.
    Q_EMIT closedToBrowser();
    if (theInstance() == this)
        theInstance() = nullptr;
    deleteLater();
}

// ---------------------------------------------------------------------------------------------
// Loading and showing

void frmViwer::stopAnimation()
{
    if (m_movie) {
        m_movie->stop();
        delete m_movie;
    }
    m_frameTimer.stop();
    m_frames.clear();
    m_frameDelays.clear();
}

// Frames shown for no time at all (or for less than a screen refresh or two) are drawn for a
// tenth of a second, as browsers do with such GIF frames.
static int shownDelay(int milliseconds)
{
    return milliseconds < 20 ? 100 : milliseconds;
}

void frmViwer::showNextFrame()
{
    if (m_frames.size() < 2 || m_document->PageCount() == 0) {
        stopAnimation();
        return;
    }
    m_frameIndex = (m_frameIndex + 1) % int(m_frames.size());
    m_document->replaceCurrentPage(m_frames.at(m_frameIndex));
    m_frameTimer.start(shownDelay(m_frameDelays.value(m_frameIndex)));
}

void frmViwer::startAnimationIfAny(const QString &path)
{
    const QList<int> &delays = m_document->frameDelays();
    if (delays.size() >= 2 && delays.size() == m_document->PageCount()) {
        m_frames.clear();
        for (int i = 0; i < m_document->PageCount(); ++i)
            m_frames.append(m_document->GetPage(i));
        m_frameDelays = delays;
        m_frameIndex = 0;
        m_frameTimer.setSingleShot(true);
        m_frameTimer.start(shownDelay(m_frameDelays.first()));
        return;
    }
    if (m_document->ImageFormatCode() != FormatGif || m_document->PageCount() < 2)
        return;
    // The file is opened as the picture was: only a regular file, by its bytes.
    auto *file = new QFile;
    if (!openRegularFile(*file, path)) {
        delete file;
        return;
    }
    auto *movie = new QMovie(file, QByteArray(), this);
    file->setParent(movie);
    if (!movie->isValid()) {
        delete movie;
        return;
    }
    m_movie = movie;
    connect(movie, &QMovie::frameChanged, this, [this] {
        if (m_movie && m_document->PageCount() > 0)
            m_document->replaceCurrentPage(m_movie->currentImage());
    });
    movie->start();
}

void frmViwer::showLoadFailure(const QString &path, const QString &why)
{
    m_lastLoadError = why.isEmpty() ? QStringLiteral("The file could not be read.") : why;
    m_document->ClearImage();
    m_view->setPlaceholderText(QStringLiteral("%1 cannot be shown.\n%2")
                                   .arg(displayName(QFileInfo(path).fileName()), m_lastLoadError));
}

Status frmViwer::LoadPictureFile(const QString &path)
{
    stopAnimation();
    m_lastLoadError.clear();
    m_view->setPlaceholderText(QString());
    Status status;
    if (viewer::takesPicturePath(path)) {
        // Icons, cursors and bitmaps go through the picture loader and reach the engine as one
        // picture.
        Result<DecodedImage> decoded = readShownPicture(path, ReadOptions{{}, true});
        if (decoded && !decoded->pages.isEmpty())
            status = m_document->LoadFromPicture(decoded->pages.first(), path);
        else
            status = Status::fail(decoded.error());
    } else if (m_prefetcher->finishPending(path);
               std::optional<DecodedImage> ready = m_prefetcher->take(path)) {
        m_document->adoptDecoded(std::move(*ready), path);
    } else if (std::optional<DecodedImage> preview = m_prefetcher->takePreview(path)) {
        m_document->adoptPreview(std::move(*preview), path, fullPictureOf(path));
    } else {
        Result<DecodedImage> decoded = readShownPicture(path);
        if (decoded) {
            m_prefetcher->store(path, *decoded);
            m_document->adoptDecoded(std::move(*decoded), path);
        } else {
            status = Status::fail(decoded.error());
        }
    }
    if (!status) {
        showLoadFailure(path, status.error());
        return status;
    }
    startAnimationIfAny(path);
    return status;
}

std::function<Result<DecodedImage>()> frmViwer::fullPictureOf(const QString &path)
{
    return [prefetcher = QPointer<ImagePrefetcher>(m_prefetcher), path] {
        if (prefetcher) {
            prefetcher->finishPending(path);
            if (std::optional<DecodedImage> ready = prefetcher->take(path))
                return Result<DecodedImage>(std::move(*ready));
        }
        return readShownPicture(path);
    };
}

void frmViwer::onDecoded(const QString &path)
{
    // The full picture behind the preview on screen has arrived.
    if (!m_document->isPreview() || m_PathList.value(m_CurrentIndex) != path)
        return;
    m_document->completePreview();
    offerPrescaled(path);
}

quint64 frmViwer::ViewImageWhileListing(const QString &path)
{
    ViewImage({path}, 0);
    m_listPending = true;
    m_pendingSteps = 0;
    UpdateStatusBar();
    return m_listTicket;
}

void frmViwer::FolderListReady(quint64 ticket, const QStringList &list, int index)
{
    if (!m_listPending || ticket != m_listTicket || index < 0 || index >= list.size())
        return;
    m_listPending = false;
    m_PathList = list;
    m_CurrentIndex = index;
    if (m_slideShowRunning)
        m_SlideIndex = index + 1;
    // Next and Previous pressed meanwhile take effect now, together.
    const int target = qBound(0, index + m_pendingSteps, int(list.size()) - 1);
    m_pendingSteps = 0;
    if (target != index) {
        m_view->setZoomFactor(1.0);
        ViewImage(m_PathList, target);
        return;
    }
    UpdateStatusBar();
    prefetchAround(index);
}

void frmViwer::ViewImage(const QStringList &list, int index)
{
    // A new list: a folder's list still being read for the old one no longer belongs.
    ++m_listTicket;
    m_listPending = false;
    m_PathList = list;
    if (m_PathList.isEmpty()) {
        m_document->ClearImage();
        return;
    }
    const int upper = int(m_PathList.size()) - 1;
    if (index == upper + 1)
        index = 0;
    else if (index == -1)
        index = upper;
    // Never index outside the list.
    index = qBound(0, index, upper);
    if (m_PathList.at(index).isEmpty()) {
        stopAnimation();
        m_document->ClearImage();
        return;
    }
    m_CurrentIndex = index;
    // Nothing is drawn until the window has its size for the new image.
    setUpdatesEnabled(false);
    LoadPictureFile(m_PathList.at(index));
    setWindowTitle(viewer::windowCaption(m_PathList.at(index)));
    if (m_FullScreenOn) {
        FitZoomIfLarger();
        m_FullScreenOn = false;
        ToggleFullScreen();
        show();
    } else {
        SizeWindowToImage();
        // The window's image area is laid out once it is shown.
        show();
        FitZoomIfLarger();
    }
    setUpdatesEnabled(true);
    UpdateToolMode();
    UpdateStatusBar();
    offerPrescaled(m_PathList.at(index));
    refreshProperties();
    disconnect(m_prefetchAfterPaint);
    if (m_document->isPreview()) {
        // A preview is on its way to the screen: the full picture and the neighbours decode
        // once it is there, not beside it.
        m_prefetchAfterPaint = connect(
            m_view, &ImageView::imagePainted, this, [this] { prefetchAround(m_CurrentIndex); },
            Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
        return;
    }
    // The neighbours decode in the background while this one is drawn.
    prefetchAround(index);
}

void frmViwer::ShowProperties()
{
    if (!m_properties)
        m_properties = new PropertiesWindow(this);
    m_properties->show();
    refreshProperties();
    m_properties->raise();
    m_properties->activateWindow();
}

PropertiesWindow *frmViwer::propertiesWindow() const
{
    return m_properties;
}

void frmViwer::refreshProperties()
{
    if (!m_properties || !m_properties->isVisible())
        return;
    // The file of the picture shown (a slide show shows another than the list's position).
    QString path = m_document->ImageFileName();
    if (path.isEmpty())
        path = m_PathList.value(m_slideShowRunning ? m_SlideIndex - 1 : m_CurrentIndex);
    PictureFacts facts;
    if (m_document->PageCount() > 0) {
        facts.pixelSize = QSize(m_document->ImageWidthPx(), m_document->ImageHeightPx());
        facts.bitsPerPixel = m_document->BitsPerPixel();
        facts.formatCode = m_document->ImageFormatCode();
        facts.pages = m_document->PageCount();
    }
    m_properties->showInfo(path.isEmpty() ? PictureInfo() : describePicture(path, facts));
}

void frmViwer::offerPrescaled(const QString &path)
{
    bool smooth = false;
    const QImage scaled = m_prefetcher->displayCopy(path, &smooth);
    if (!scaled.isNull())
        m_view->setPrescaled(scaled, smooth);
}

void frmViwer::prefetchAround(int index)
{
    const int count = int(m_PathList.size());
    if (count == 0)
        return;
    QStringList keep{m_PathList.value(index)};
    // The images Next and Previous would show (one hole skipped, no wrap at the ends).
    if (index + 1 < count)
        keep.append(m_PathList.at(index + 1).isEmpty() ? m_PathList.value(index + 2)
                                                       : m_PathList.at(index + 1));
    if (index - 1 >= 0)
        keep.append(m_PathList.at(index - 1).isEmpty() ? m_PathList.value(index - 2)
                                                       : m_PathList.at(index - 1));
    m_prefetcher->setDisplayTarget(displayTarget());
    // Picture-path files are read by the window itself.
    keep.removeIf(
        [](const QString &path) { return path.isEmpty() || viewer::takesPicturePath(path); });
    m_prefetcher->keep(keep);
}

DisplayTarget frmViwer::displayTarget() const
{
    return targetFor(displayWindowSize(), imageArea(), m_view->AntiAliasOn());
}

QSize frmViwer::imageArea() const
{
    // In full screen the window covers the screen, or is about to: the window system may not
    // have applied it yet.
    if (m_FullScreenOn)
        return displayWindowSize().shrunkBy(fullScreenMargins());
    return m_view->viewport()->size();
}

DisplayTarget frmViwer::targetFor(const QSize &window, const QSize &viewport, bool smooth)
{
    DisplayTarget target;
    target.windowWidthTwips = twips::fromPixelsX(window.width());
    target.windowHeightTwips = twips::fromPixelsY(window.height());
    target.viewport = viewport;
    target.tx = twips::perPixelX();
    target.ty = twips::perPixelY();
    target.smooth = smooth;
    return target;
}

void frmViwer::PreloadImage(const QString &path)
{
    if (path.isEmpty() || viewer::takesPicturePath(path))
        return;
    ImagePrefetcher *prefetcher = theInstance() ? theInstance()->m_prefetcher : nullptr;
    if (!prefetcher) {
        if (!earlyPrefetcher())
            earlyPrefetcher() = std::make_unique<ImagePrefetcher>();
        prefetcher = earlyPrefetcher().get();
    }
    const DisplayTarget target = startDisplayTarget();
    prefetcher->setDisplayTarget(target);
    // Where the picture will be shown is known: a large photo is first decoded to about that.
    if (target.isValid())
        prefetcher->preview(path);
    else
        prefetcher->keep({path});
}

DisplayTarget frmViwer::startDisplayTarget()
{
    // Only a full-screen window knows its image area before the picture is in it: the screen.
    // Otherwise the window is sized to the picture, which is scaled when first drawn.
    QScreen *screen = QGuiApplication::primaryScreen();
    if (theInstance())
        return theInstance()->m_FullScreenOn ? theInstance()->displayTarget() : DisplayTarget();
    if (!screen ||
        !viewer::settingToBool(viewer::readSetting("FullScreen", QStringLiteral("1")), true))
        return {};
    // The image area of a full-screen window not made yet: below the toolbar's place, 600 twips
    // above the bottom.
    const QSize window = screen->geometry().size();
    const QMargins margins(0, kToolbarHeight, 0, twips::toPixelsY(600));
    return targetFor(
        window, window.shrunkBy(margins),
        viewer::settingToBool(viewer::readSetting("AntiAlias", QStringLiteral("1")), true));
}

void frmViwer::SizeWindowToImage()
{
    // Only the size counts: a reduced stand-in gives the picture's own without its full decode.
    const QSize page0 = m_document->isPreview()
                            ? QSize(m_document->ImageWidthPx(), m_document->ImageHeightPx())
                            : m_document->GetPage(0).size();
    const double tx = twips::perPixelX();
    const double ty = twips::perPixelY();
    const int w0 = page0.width();
    const int h0 = page0.height();
    double engineWidth = tx * w0;
    double engineHeight = ty * h0 + 200;
    if (engineWidth < 6000)
        engineWidth = 7590;
    if (h0 < 100)
        engineHeight = 4000;
    m_windowCapped = false;
    if (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized)) {
        UpdateToolMode();
        return;
    }
    const double heightTwips =
        h0 >= 100 ? toolbarHeightTwips() + (ty * h0 + 400) + 1000 : engineHeight + 600;
    int widthPx = twips::toPixelsX(engineWidth);
    int heightPx = twips::toPixelsY(heightTwips);
    // A border the skin may give the image area comes on top, so the picture keeps its size.
    ensurePolished();
    widthPx += 2 * m_view->frameWidth();
    heightPx += 2 * m_view->frameWidth();
    // The window, frame included, stays inside the screen's free area (panels left out). A
    // picture the screen cannot hold that way is fitted into the window (FitZoomIfLarger).
    const QRect area = availableArea();
    const QMargins frame = windowFrameMargins(this);
    if (area.isValid()) {
        const QSize room = area.size().shrunkBy(frame);
        m_windowCapped = widthPx > room.width() || heightPx > room.height();
        widthPx = qMin(widthPx, room.width());
        heightPx = qMin(heightPx, room.height());
    }
    resize(widthPx, heightPx);
    if (area.isValid()) {
        const QSize outer = QSize(widthPx, heightPx).grownBy(frame);
        moveFrameTo(this, QPoint(area.x() + (area.width() - outer.width()) / 2,
                                 area.y() + (area.height() - outer.height()) / 2));
    }
}

QSize frmViwer::displayWindowSize() const
{
    QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (m_FullScreenOn && screen)
        return screen->geometry().size();
    return size();
}

void frmViwer::FitZoomIfLarger()
{
    const int w = m_document->ImageWidthPx();
    const int h = m_document->ImageHeightPx();
    if (w <= 0 || h <= 0)
        return;
    // A picture larger than the image area both ways is shown whole; so is one the window could
    // not grow enough for because the screen is too small.
    const std::optional<double> zoom =
        DisplayTarget::openingFitZoom(QSize(w, h), imageArea(), !m_FullScreenOn && m_windowCapped);
    if (zoom)
        m_view->setZoomFactor(*zoom);
}

void frmViwer::ReloadCurrent()
{
    if (m_PathList.isEmpty())
        return;
    int index = m_CurrentIndex;
    const int upper = int(m_PathList.size()) - 1;
    if (index == upper + 1)
        index = 0;
    else if (index == -1)
        index = upper;
    index = qBound(0, index, upper);
    if (m_PathList.at(index).isEmpty())
        return;
    LoadPictureFile(m_PathList.at(index));
}

bool frmViwer::LoadImage()
{
    FileDialogRequest request;
    request.filters = viewer::qtFilters(QString::fromLatin1(viewer::kOpenFilter));
    request.filterIndex = qBound(1, m_dialogFilterIndex, int(request.filters.size()));
    request.multiple = true;
    if (const QString current = m_PathList.value(m_CurrentIndex); !current.isEmpty())
        request.directory = QFileInfo(current).absolutePath();
    const std::optional<FileDialogResult> chosen = prompts().openFiles(request);
    if (!chosen || chosen->files.isEmpty())
        return false;
    m_dialogFilterIndex = chosen->filterIndex;
    ++m_listTicket;
    m_listPending = false;
    // The first chosen file is shown and names the window; all are appended to the list, and
    // the position is the shown file's, so the status bar and Next and Previous go on from it.
    m_document->ClearImage();
    LoadPictureFile(chosen->files.first());
    m_CurrentIndex = int(m_PathList.size());
    m_PathList.append(chosen->files);
    m_document->SelectPage(0);
    setWindowTitle(viewer::windowCaption(chosen->files.first()));
    UpdateStatusBar();
    refreshProperties();
    return true;
}

void frmViwer::dropFiles(const QStringList &paths)
{
    QStringList images;
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (!info.isDir() && viewer::isViewableImageFile(path))
            images.append(info.absoluteFilePath());
    }
    // A drop without an image leaves everything as it was.
    if (images.isEmpty())
        return;
    ViewImage(images, 0);
}

void frmViwer::onImageChanged()
{
    UpdateToolMode();
    UpdateStatusBar();
}

// ---------------------------------------------------------------------------------------------
// Zoom, rotation, display

void frmViwer::UpdateToolMode()
{
    const int w = m_document->ImageWidthPx();
    const int h = m_document->ImageHeightPx();
    const double zoom = m_view->ZoomFactor();
    const bool fits = zoom * w * twips::perPixelX() <= windowWidthTwips() &&
                      zoom * h * twips::perPixelY() <= windowHeightTwips();
    m_view->setMouseToolMode(fits ? 3 : 2);
}

void frmViwer::ZoomIn()
{
    if (m_view->ZoomFactor() * 100 > 1600)
        return;
    m_view->setZoomFactor(m_view->ZoomFactor() * 1.25);
    UpdateToolMode();
}

void frmViwer::ZoomOut()
{
    if (m_view->ZoomFactor() * 100 < 0.5)
        return;
    // The step back of Zoom In, so that in and out again comes back to the same percentage.
    m_view->setZoomFactor(m_view->ZoomFactor() / 1.25);
    UpdateToolMode();
}

void frmViwer::FitToWindow()
{
    const int w = m_document->ImageWidthPx();
    const int h = m_document->ImageHeightPx();
    const QSize area = imageArea();
    if (w <= 0 || h <= 0 || area.isEmpty())
        return;
    // The whole picture; a picture smaller than the area is not blown up.
    m_view->setZoomFactor(qMin(1.0, qMin(double(area.width()) / w, double(area.height()) / h)));
    UpdateToolMode();
}

void frmViwer::ActualSize()
{
    m_view->setZoomFactor(1.0);
    UpdateToolMode();
}

void frmViwer::zoomAround(bool in, const QPoint &viewportPos)
{
    const QPointF anchor = m_view->imagePointAt(viewportPos);
    if (in)
        ZoomIn();
    else
        ZoomOut();
    m_view->showImagePointAt(anchor, viewportPos);
}

bool frmViwer::handleWheel(QWheelEvent *event)
{
    const QPoint delta = event->angleDelta();
    if (delta.isNull() || m_document->PageCount() == 0)
        return false;
    const QPoint pointer = event->position().toPoint(); // in the image area
    // Wheels with finer steps than a notch add up to one.
    auto notches = [](int &sum, int amount) {
        sum += amount;
        const int whole = sum / kWheelNotch;
        sum -= whole * kWheelNotch;
        return whole;
    };
    if (event->modifiers() & Qt::ControlModifier) {
        for (int n = notches(m_wheelZoom, delta.y() != 0 ? delta.y() : delta.x()); n != 0;
             n += n > 0 ? -1 : 1)
            zoomAround(n > 0, pointer);
        return true;
    }
    QScrollBar *horizontal = m_view->horizontalScrollBar();
    QScrollBar *vertical = m_view->verticalScrollBar();
    if (horizontal->maximum() > 0 || vertical->maximum() > 0) {
        // A picture larger than its area: the wheel scrolls it, sideways with Shift.
        const bool sideways = (event->modifiers() & Qt::ShiftModifier) || delta.y() == 0;
        const int amount = delta.y() != 0 ? delta.y() : delta.x();
        QScrollBar *bar = sideways ? horizontal : vertical;
        bar->setValue(bar->value() - amount * kWheelScrollPixels / kWheelNotch);
        return true;
    }
    // A picture shown whole: the wheel steps through the pictures, down for the next one.
    for (int n = notches(m_wheelStep, delta.y()); n != 0; n += n > 0 ? -1 : 1) {
        if (n > 0)
            PreviousImage();
        else
            NextImage();
    }
    return true;
}

void frmViwer::RotateRight()
{
    stopAnimation();
    m_document->RotateImage(90.0);
}

void frmViwer::RotateLeft()
{
    stopAnimation();
    m_document->RotateImage(-90.0);
}

void frmViwer::ToggleAntiAlias()
{
    m_view->setAntiAliasOn(!m_view->AntiAliasOn());
    m_mnuAntiAliasDisplay->setChecked(m_view->AntiAliasOn());
    saveSetting("AntiAlias", boolSetting(m_view->AntiAliasOn()));
}

// ---------------------------------------------------------------------------------------------
// Keys, mouse, context menu

bool frmViwer::handleKey(int key, Qt::KeyboardModifiers)
{
    switch (key) {
    case Qt::Key_Escape:
        CloseViewer();
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        ReturnToBrowser();
        return true;
    case Qt::Key_Space:
    case Qt::Key_PageDown:
        NextImage();
        for (int i = 0; i < 8; ++i)
            QCoreApplication::processEvents();
        return true;
    case Qt::Key_Backspace:
    case Qt::Key_PageUp:
        PreviousImage();
        for (int i = 0; i < 2; ++i)
            QCoreApplication::processEvents();
        return true;
    case Qt::Key_Delete:
        if (m_FullScreenOn)
            DeleteImage();
        return true;
    case Qt::Key_F:
        ToggleFullScreen();
        return true;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        ZoomIn();
        return true;
    case Qt::Key_Minus:
        // The numeric pad's and the main keyboard's minus alike.
        ZoomOut();
        return true;
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
        // Scrolling by keys only while the zoomed image is larger than the window.
        if (m_view->MouseToolMode() == 2) {
            if (key == Qt::Key_Left)
                m_view->setScrollX(m_view->ScrollX() - 5);
            else if (key == Qt::Key_Right)
                m_view->setScrollX(m_view->ScrollX() + 5);
            else if (key == Qt::Key_Up)
                m_view->setScrollY(m_view->ScrollY() - 5);
            else
                m_view->setScrollY(m_view->ScrollY() + 5);
        }
        return true;
    default:
        return false;
    }
}

void frmViwer::keyPressEvent(QKeyEvent *event)
{
    if (!handleKey(event->key(), event->modifiers()))
        QMainWindow::keyPressEvent(event);
}

bool frmViwer::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == m_view || watched == m_view->viewport()) && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (handleKey(key->key(), key->modifiers()))
            return true;
    }
    if (watched == m_view->viewport() && event->type() == QEvent::Wheel &&
        handleWheel(static_cast<QWheelEvent *>(event)))
        return true;
    return QMainWindow::eventFilter(watched, event);
}

void frmViwer::onMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, int x, int y)
{
    if (button == Qt::RightButton)
        ShowViewerMenu(x, y);
}

QMenu *frmViwer::buildViewerMenu(QWidget *parent)
{
    auto *menu = new QMenu(parent);
    auto item = [this, menu](const QString &caption, void (frmViwer::*command)()) {
        QAction *action = menu->addAction(caption);
        connect(action, &QAction::triggered, this, command);
        return action;
    };
    item(QStringLiteral("Full Screen"), &frmViwer::ToggleFullScreen)
        ->setEnabled(m_toolButtons[7]->isEnabled());
    item(QStringLiteral("Next"), &frmViwer::NextImage)->setEnabled(m_toolButtons[3]->isEnabled());
    item(QStringLiteral("Previous"), &frmViwer::PreviousImage)
        ->setEnabled(m_toolButtons[2]->isEnabled());
    menu->addSeparator();
    QAction *slide = item(QStringLiteral("Slide Show"), &frmViwer::ToggleSlideShow);
    slide->setCheckable(true);
    slide->setChecked(m_slideShowRunning);
    QAction *smooth = item(QStringLiteral("Antialias Display"), &frmViwer::ToggleAntiAlias);
    smooth->setCheckable(true);
    smooth->setChecked(m_mnuAntiAliasDisplay->isChecked());
    menu->addSeparator();
    item(QStringLiteral("Rotate +90"), &frmViwer::RotateRight);
    item(QStringLiteral("Rotate -90"), &frmViwer::RotateLeft);
    menu->addSeparator();
    item(QStringLiteral("Zoom In"), &frmViwer::ZoomIn);
    item(QStringLiteral("Zoom Out"), &frmViwer::ZoomOut);
    menu->addSeparator();
    item(QStringLiteral("Set As Wallpaper"), &frmViwer::SetAsWallpaper);
    menu->addSeparator();
    item(QStringLiteral("Properties"), &frmViwer::ShowProperties);
    return menu;
}

void frmViwer::ShowViewerMenu(int x, int y)
{
    QMenu *menu = buildViewerMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(m_view->viewport()->mapToGlobal(QPoint(x, y)));
}

// ---------------------------------------------------------------------------------------------
// Next, previous, slide show

void frmViwer::NextImage()
{
    if (m_listPending) {
        ++m_pendingSteps;
        return;
    }
    const int upper = int(m_PathList.size()) - 1;
    if (upper < 0 || m_CurrentIndex >= upper)
        return;
    int i = m_CurrentIndex + 1;
    if (m_PathList.at(i).isEmpty())
        ++i; // one hole is skipped; one past the end wraps in ViewImage
    m_view->setZoomFactor(1.0);
    ViewImage(m_PathList, i);
}

void frmViwer::PreviousImage()
{
    if (m_listPending) {
        --m_pendingSteps;
        return;
    }
    const int upper = int(m_PathList.size()) - 1;
    if (upper < 0 || m_CurrentIndex <= 0)
        return;
    int i = m_CurrentIndex - 1;
    if (m_PathList.at(i).isEmpty())
        --i;
    m_view->setZoomFactor(1.0);
    ViewImage(m_PathList, i);
}

void frmViwer::ToggleSlideShow()
{
    m_slideShowRunning = !m_slideShowRunning;
    m_toolButtons[4]->setChecked(m_slideShowRunning);
    if (!m_slideShowRunning)
        setSlideTimerEnabled(false);
    else
        SlideStep(false);
    UpdateStatusBar();
}

void frmViwer::setSlideTimerEnabled(bool enabled)
{
    m_slideTimerEnabled = enabled;
    // An interval of 0 gives no ticks.
    if (enabled && m_slideDelay > 0)
        m_tmrSlideShow.start(m_slideDelay);
    else
        m_tmrSlideShow.stop();
}

void frmViwer::setSlideDelay(int milliseconds)
{
    m_slideDelay = qBound(0, milliseconds, int(viewer::kMaxTimerInterval));
    if (m_slideDelay > 0)
        m_tmrSlideShow.setInterval(m_slideDelay);
    setSlideTimerEnabled(m_slideTimerEnabled);
}

void frmViwer::onSlideTimer()
{
    m_SlideTickPending = true;
    SlideStep(true);
}

void frmViwer::SlideStep(bool tick)
{
    if (!tick) {
        setSlideTimerEnabled(true);
        m_SlideIndex = m_CurrentIndex + 1;
        m_SlideTickPending = false;
        prefetchAround(m_SlideIndex - 1);
        return;
    }
    if (!m_SlideTickPending)
        return;
    const int count = int(m_PathList.size());
    bool shown = false;
    // A hole or an unreadable file is passed over; a list with nothing readable ends the show.
    for (int attempt = 0; attempt < count && !shown; ++attempt) {
        if (m_SlideIndex >= count || m_SlideIndex < 0)
            m_SlideIndex = 0;
        const QString path = m_PathList.at(m_SlideIndex);
        if (!path.isEmpty() && LoadPictureFile(path)) {
            setWindowTitle(viewer::windowCaption(path));
            shown = true;
        }
        ++m_SlideIndex;
    }
    if (!shown) {
        m_SlideTickPending = false;
        if (m_slideShowRunning)
            ToggleSlideShow();
        return;
    }
    if (!m_FullScreenOn) {
        m_ResizeSuppressed = true;
        SizeWindowToImage();
        m_ResizeSuppressed = false;
        UpdateToolMode();
    }
    FitZoomIfLarger();
    offerPrescaled(m_PathList.value(m_SlideIndex - 1));
    prefetchAround(m_SlideIndex - 1);
    refreshProperties();
    m_SlideTickPending = false;
}

void frmViwer::AskSlideDelay()
{
    const std::optional<QString> answer =
        prompts().input(QStringLiteral("Delay in Milliseconds(1000=1 Second):"),
                        QStringLiteral("Slide Show Delay"), QString::number(m_slideDelay));
    if (!answer || answer->isEmpty())
        return;
    const std::optional<qint64> delay = viewer::delayFromAnswer(*answer);
    if (!delay)
        return;
    if (m_slideShowRunning)
        ToggleSlideShow();
    if (*delay < 0 || *delay > viewer::kMaxTimerInterval) {
        prompts().message(QStringLiteral("The delay must be between 0 and 65535 milliseconds."),
                          PromptIcon::Exclamation, PromptButtons::Ok);
        return;
    }
    setSlideDelay(int(*delay));
    saveSetting("Slide Show Delay", QString::number(m_slideDelay));
}

// ---------------------------------------------------------------------------------------------
// Status bar

void frmViwer::UpdateStatusBar()
{
    const int n = (m_slideShowRunning ? m_SlideIndex : m_CurrentIndex) + 1;
    // No position until the folder's list is known.
    m_panels[0]->setText(m_listPending ? QString()
                                       : QStringLiteral("%1/%2").arg(n).arg(m_PathList.size()));
    const QString entry = m_PathList.value(m_CurrentIndex);
    const QString extension = QFileInfo(entry).suffix().toLower();
    if (QStringLiteral("ico dib").contains(extension) && !entry.isEmpty()) {
        // Icons and headerless bitmaps: name and size of the file only.
        const PathStatus file = statPath(entry);
        m_panels[1]->setText(displayName(QFileInfo(entry).fileName()));
        if (!file.exists())
            return;
        m_panels[2]->setText(viewer::FormatSize(double(file.size)));
        m_panels[3]->setText(QString());
    } else {
        // The list's entry names a picture that carries no file name in the engine.
        const QString fileName =
            m_document->ImageFileName().isEmpty() ? entry : m_document->ImageFileName();
        const PathStatus file = statPath(fileName);
        m_panels[1]->setText(displayName(m_document->ImageFileName().isEmpty()
                                             ? QFileInfo(fileName).fileName()
                                             : m_document->ImageFileTitle()));
        if (!file.exists())
            return;
        m_panels[2]->setText(viewer::FormatSize(double(file.size)));
        m_panels[3]->setText(m_document->PageCount() == 0 ? QString()
                                                          : QStringLiteral("%1x%2x%3b %4")
                                                                .arg(m_document->ImageWidthPx())
                                                                .arg(m_document->ImageHeightPx())
                                                                .arg(m_document->BitsPerPixel())
                                                                .arg(QFileInfo(fileName).suffix()));
    }
    m_panels[4]->setText(QStringLiteral("%1 %").arg(std::llround(m_view->ZoomFactor() * 100)));
}

} // namespace qmt
