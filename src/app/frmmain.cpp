#include "app/frmmain.h"

#include "app/associationcalls.h"
#include "app/browserextensions.h"
#include "app/foldertree.h"
#include "app/x11clients.h"
#include "components/engine/imagedocument.h"
#include "components/engine/imageio.h"
#include "components/engine/imageview.h"
#include "components/nativefile.h"
#include "components/screenplacement.h"
#include "components/sessionthumbnails.h"
#include "components/splash.h"
#include "components/twips.h"
#include "dialogs/frmabout.h"
#include "dialogs/frmfile.h"
#include "explorer/imageexplore.h"
#include "explorer/previewdecoder.h"
#include "shell/modmain.h"
#include "shell/sysinfo.h"
#include "shell/wallpaper.h"
#include "viewer/frmviwer.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QGridLayout>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSplashScreen>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace qmt {
namespace {

// Window geometry, in twips.
constexpr int kMinWidth = 3700;
constexpr int kMinHeight = 2400;
constexpr int kSplitterNarrower = 300;
constexpr int kSplitterLower = 1000;
constexpr int kSideMargin = kSplitterNarrower / 2;
constexpr int kBottomMargin = 150;

// Preview zoom bounds, in percent, tested before each step.
constexpr double kZoomInLimit = 1600.0;
constexpr double kZoomOutLimit = 0.5;
constexpr int kPendingMessagePasses = 9;
// How long the start-up behind a picture named on the command line waits for its first paint
// (a window that is never exposed paints nothing); generous, as a busy machine can take a
// second to draw it, and the work that waits must not go before it.
constexpr int kStartBehindPictureMs = 3000;
// Command lines of later starts waiting to be acted on; more are not taken.
constexpr int kMaxHandedOver = 16;
// How often a command line waiting behind a modal dialog looks again.
constexpr int kHandOverRetryMs = 200;
// How long the picture on show stays while the next one decodes: stepping through small
// pictures shows one after the other without a blank between them, while a large one that takes
// longer leaves the preview empty rather than showing what is no longer selected.
constexpr int kPreviewKeptWhileDecodingMs = 150;

std::function<void()> &processEnder()
{
    static std::function<void()> ender = [] {
        SessionThumbnails::removeAllFolders();
        std::fflush(nullptr);
        std::_Exit(0);
    };
    return ender;
}

QString withSlash(const QString &folder)
{
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

// The browser's first folder: the desktop, or home when there is no desktop folder.
QString desktopOrHome()
{
    const QString desktop = GetSpecialFolder(CsidlDesktop);
    return desktop.isEmpty() ? withSlash(QDir::cleanPath(QDir::homePath())) : desktop;
}

QPushButton *makeButton(const QString &caption, QWidget *parent)
{
    auto *button = new QPushButton(caption, parent);
    button->setFocusPolicy(Qt::TabFocus);
    Skin::applyElement(button, QStringLiteral("Button"));
    return button;
}

} // namespace

frmMain::frmMain(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Lumisk"));
    buildWindow();
    m_handOverRetry = new QTimer(this);
    m_handOverRetry->setSingleShot(true);
    m_handOverRetry->setInterval(kHandOverRetryMs);
    connect(m_handOverRetry, &QTimer::timeout, this, &frmMain::dispatchHandedOver);
    m_previewDecoder = new PreviewDecoder(this);
    connect(m_previewDecoder, &PreviewDecoder::ready, this, &frmMain::showDecodedPreview);
    connect(m_previewDecoder, &PreviewDecoder::failed, this,
            [this](const QString &path, const QString &) { clearPreview(path); });
    m_previewBlank = new QTimer(this);
    m_previewBlank->setSingleShot(true);
    m_previewBlank->setInterval(kPreviewKeptWhileDecodingMs);
    connect(m_previewBlank, &QTimer::timeout, this, [this] {
        if (m_previewDecoder->isPending())
            ImgX->document()->ClearImage();
    });
}

frmMain::~frmMain()
{
    if (Skin::current() == &Skin1)
        Skin::setCurrent(nullptr);
}

void frmMain::buildWindow()
{
    setMinimumSize(twips::toPixelsX(kMinWidth), twips::toPixelsY(kMinHeight));

    m_folderLabel = new QLabel(this);
    m_folderLabel->setObjectName(QStringLiteral("folderCaption"));
    m_folderLabel->setTextFormat(Qt::PlainText);
    Skin::applyElement(m_folderLabel, QStringLiteral("Label"));

    Splitter2 = new QSplitter(Qt::Horizontal, this);
    Splitter2->setObjectName(QStringLiteral("Splitter2"));
    Splitter2->setChildrenCollapsible(false);
    Splitter2->setHandleWidth(6);

    TV1 = new FolderTree(Splitter2);
    TV1->setObjectName(QStringLiteral("Pane A"));

    ImageExplore1 = new ImageExplore(Splitter2);
    ImageExplore1->setObjectName(QStringLiteral("Pane B"));

    container = new QWidget(Splitter2);
    container->setObjectName(QStringLiteral("Pane C"));
    auto *previewLayout = new QVBoxLayout(container);
    previewLayout->setContentsMargins(0, 0, 0, 0);
    previewLayout->setSpacing(6);

    ImgX = new ImageView(container);
    ImgX->setObjectName(QStringLiteral("ImgX"));
    ImgX->setBackColor(Qt::white);
    ImgX->setCenter(true);
    ImgX->setImageBorderThickness(1);
    ImgX->setAntiAliasOn(true);
    ImgX->setMouseToolMode(ImageView::ToolNone);
    previewLayout->addWidget(ImgX, 1);

    Toolbar = new QWidget(container);
    Toolbar->setObjectName(QStringLiteral("Toolbar"));
    auto *buttons = new QGridLayout(Toolbar);
    buttons->setContentsMargins(6, 6, 6, 6);
    buttons->setSpacing(6);
    cmdPrev = makeButton(QStringLiteral("Previous"), Toolbar);
    cmdNext = makeButton(QStringLiteral("Next"), Toolbar);
    cmdZoomOut = makeButton(QStringLiteral("Zoom Out"), Toolbar);
    cmdZoomIn = makeButton(QStringLiteral("Zoom In"), Toolbar);
    cmdWallPaper = makeButton(QStringLiteral("Set as wallpaper"), Toolbar);
    cmdView = makeButton(QStringLiteral("View Image"), Toolbar);
    cmdView->setDefault(false);
    buttons->addWidget(cmdPrev, 0, 0);
    buttons->addWidget(cmdNext, 0, 1);
    buttons->addWidget(cmdZoomOut, 1, 0);
    buttons->addWidget(cmdZoomIn, 1, 1);
    buttons->addWidget(cmdWallPaper, 2, 0);
    buttons->addWidget(cmdView, 2, 1);
    previewLayout->addWidget(Toolbar, 0);
    Skin::applyElement(Toolbar, QStringLiteral("Toolbar"));

    Splitter2->addWidget(TV1);
    Splitter2->addWidget(ImageExplore1);
    Splitter2->addWidget(container);
    Splitter2->setStretchFactor(0, 0);
    Splitter2->setStretchFactor(1, 1);
    Splitter2->setStretchFactor(2, 0);
    Splitter2->setSizes({230, 530, 340});

    container->installEventFilter(this);

    connect(TV1, &FolderTree::event9, this, &frmMain::onTreeEvent9);
    connect(TV1, &FolderTree::event12, this, &frmMain::onTreeEvent12);
    connect(TV1, &FolderTree::event20, this, &frmMain::onTreeEvent20);
    connect(TV1, &FolderTree::event24, this, &frmMain::onTreeEvent24);
    connect(ImageExplore1, &ImageExplore::ItemSelected, this, &frmMain::ShowPreview);
    connect(ImageExplore1, &ImageExplore::ItemOpened, this, &frmMain::OpenFromExplorer);
    connect(ImgX, &ImageView::doubleClicked, this, &frmMain::ViewPreviewImage);
    connect(cmdNext, &QPushButton::clicked, ImageExplore1, &ImageExplore::NextItem);
    connect(cmdPrev, &QPushButton::clicked, ImageExplore1, &ImageExplore::PrevItem);
    connect(cmdZoomIn, &QPushButton::clicked, this, &frmMain::PreviewZoomIn);
    connect(cmdZoomOut, &QPushButton::clicked, this, &frmMain::PreviewZoomOut);
    connect(cmdWallPaper, &QPushButton::clicked, this, [this] { Toolbar_ButtonClick(7, {}); });
    connect(cmdView, &QPushButton::clicked, this, &frmMain::ViewPreviewImage);

    resize(1120, 720);
}

bool frmMain::Load(const QString &commandLine)
{
    CommandLine = commandLine;
    const StartupDecision decision = decideStartup(CommandLine);
    // Started on a picture, the program shows it before anything the hidden browser needs: its
    // window icon and its skin follow once the picture is drawn.
    const bool pictureFirst = decision.action == StartupDecision::OpenViewer;
    if (!pictureFirst)
        setProgramIcon();
    const QPixmap splash = loadSplashPicture(programFolder() + QStringLiteral("/viewer.spl"));
    if (!splash.isNull()) {
        m_splash = std::make_unique<QSplashScreen>(splash);
        m_splash->show();
        QCoreApplication::processEvents();
    }

    QCoreApplication::setApplicationName(QStringLiteral("ZEB Orvanta"));

    Skin1.load(programFolder() + QStringLiteral("/QMTMain.skn"));
    Skin::setCurrent(&Skin1);
    if (!pictureFirst)
        applySkin();

    ImageExplore1->SetExt(QString::fromLatin1(kBrowserExtensions));

    switch (decision.action) {
    case StartupDecision::RemoveAssociations:
        runRemoveAssociations();
        EndMe();
        return false;
    case StartupDecision::CheckAssociations:
        runCheckAssociations();
        EndMe();
        return false;
    default:
        // Started on a picture, these wait until it is on screen.
        if (!pictureFirst)
            checkAssociationsAndTools();
        break;
    }

    if (pictureFirst) {
        openViewerOnCommandLine(decision.path);
    } else {
        if (decision.action == StartupDecision::BrowseFolder)
            m_startFolder = decision.path;
        show();
        finishSplash();
    }
    m_loaded = true;
    // Later starts that came while this one was loading.
    if (!m_handedOver.isEmpty())
        QTimer::singleShot(0, this, &frmMain::dispatchHandedOver);
    return true;
}

void frmMain::setProgramIcon()
{
    const QIcon icon(programFolder() + QStringLiteral("/icons/icon.ico"));
    if (!icon.availableSizes().isEmpty())
        QApplication::setWindowIcon(icon);
}

void frmMain::applySkin()
{
    if (m_skinApplied)
        return;
    m_skinApplied = true;
    Skin::applyElement(Toolbar, QStringLiteral("Toolbar"));
    Skin1.applyToWindow(this);
    Skin::applyElement(Toolbar, QStringLiteral("Toolbar"));
}

void frmMain::checkAssociationsAndTools()
{
    runCheckAssociations();
    // The about box's system-information program: recorded on the first start that finds one.
    RecordSystemInfoTool();
}

void frmMain::finishStartBehindPicture()
{
    if (m_startFinished)
        return;
    m_startFinished = true;
    setProgramIcon();
    applySkin();
    checkAssociationsAndTools();
}

void frmMain::PreloadCommandLinePicture(const QString &commandLine)
{
    const StartupDecision decision = decideStartup(commandLine);
    if (decision.action == StartupDecision::OpenViewer)
        frmViwer::PreloadImage(decision.path);
}

void frmMain::showInViewer(const QString &file)
{
    hideForViewer();
    frmViwer *v = viewer();
    v->ImgX()->setZoomFactor(1.0);
    QString folder = parentFolderName(file);
    if (folder.isEmpty())
        folder = QStringLiteral("/");
    v->bCommand = true;
    // The picture is shown at once, alone; its folder's list, which may hold tens of thousands
    // of names to read and sort, comes from a worker and then gives Next, Previous and the
    // position in the status bar.
    const quint64 ticket = v->ViewImageWhileListing(file);
    auto *listing = new QFutureWatcher<QStringList>(this);
    connect(listing, &QFutureWatcherBase::finished, this, [listing, file, ticket] {
        listing->deleteLater();
        if (!frmViwer::isLoaded())
            return;
        QStringList list = listing->result();
        for (QString &entry : list)
            entry = QDir::cleanPath(entry);
        const ViewerStart start = viewerStartFor(file, list);
        frmViwer::instance()->FolderListReady(ticket, start.list, start.index);
    });
    listing->setFuture(ImageExplore1->GetImageListLater(withSlash(folder), QStringLiteral("*.*")));
}

void frmMain::openViewerOnCommandLine(const QString &file)
{
    // The rest of the start-up waits for the picture's first paint to reach the screen (queued,
    // so the paint is flushed first).
    connect(viewer()->ImgX(), &ImageView::imagePainted, this, &frmMain::finishStartBehindPicture,
            Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
    QTimer::singleShot(kStartBehindPictureMs, this, &frmMain::finishStartBehindPicture);
    showInViewer(file);
    // A file that cannot be shown paints no picture: nothing to wait for.
    if (viewer()->ImgX()->document()->PageCount() == 0)
        QTimer::singleShot(0, this, &frmMain::finishStartBehindPicture);
    // The viewer covers the splash as soon as it is drawn; waiting for the viewer's window to
    // be exposed first (what QSplashScreen::finish does) would only hold its first paint back.
    if (m_splash)
        m_splash->close();
    for (int i = 0; i < kPendingMessagePasses; ++i)
        QCoreApplication::processEvents();
}

void frmMain::openHandedOver(const QString &commandLine)
{
    if (m_shuttingDown || m_handedOver.size() >= kMaxHandedOver)
        return;
    m_handedOver.append(commandLine);
    dispatchHandedOver();
}

void frmMain::dispatchHandedOver()
{
    if (!m_loaded || m_shuttingDown || m_dispatching)
        return;
    // A question on screen is answered first: what it asks about must not change under it.
    if (QApplication::activeModalWidget()) {
        m_handOverRetry->start();
        return;
    }
    m_dispatching = true;
    while (!m_handedOver.isEmpty() && !m_shuttingDown) {
        runHandedOver(m_handedOver.takeFirst());
        if (QApplication::activeModalWidget() && !m_handedOver.isEmpty()) {
            m_handOverRetry->start();
            break;
        }
    }
    m_dispatching = false;
}

void frmMain::runHandedOver(const QString &commandLine)
{
    const StartupDecision decision = decideStartup(commandLine);
    switch (decision.action) {
    case StartupDecision::RemoveAssociations:
        runRemoveAssociations();
        return;
    case StartupDecision::CheckAssociations:
        runCheckAssociations();
        return;
    case StartupDecision::OpenViewer: {
        showInViewer(decision.path);
        // The viewer replaces whatever it showed and comes to the front.
        frmViwer *v = viewer();
        v->setWindowState(v->windowState() & ~Qt::WindowMinimized);
        v->show();
        v->raise();
        v->activateWindow();
        return;
    }
    case StartupDecision::BrowseFolder:
        browseHandedOver(decision.path);
        return;
    case StartupDecision::Browse:
        browseHandedOver(QString());
        return;
    }
}

void frmMain::browseHandedOver(const QString &folder)
{
    // The browser takes the viewer's place, as when the user goes back to it.
    if (frmViwer::isLoaded() && frmViwer::instance()->isVisible())
        frmViwer::instance()->hide();
    m_startFolder = folder.isEmpty() ? desktopOrHome() : folder;
    setWindowState(windowState() & ~Qt::WindowMinimized);
    showAfterViewer();
    // Before the tree is ready, its ready event lists the folder.
    if (m_treeReady)
        listStartFolder();
    raise();
    activateWindow();
}

void frmMain::finishSplash()
{
    if (m_splash)
        m_splash->finish(this);
}

frmViwer *frmMain::viewer()
{
    frmViwer *v = frmViwer::instance();
    if (m_connectedViewer != v) {
        m_connectedViewer = v;
        connect(v, &frmViwer::returnedToBrowser, this, [this](const QString &image) {
            showAfterViewer();
            CheckPath(image);
        });
        connect(v, &frmViwer::closedToBrowser, this, &frmMain::showAfterViewer);
        connect(v, &frmViwer::endProgramRequested, this, &frmMain::EndMe);
        connect(v, &frmViwer::filesChanged, this, &frmMain::RefreshImages);
    }
    return v;
}

void frmMain::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    const int minWidth = twips::toPixelsX(kMinWidth);
    const int minHeight = twips::toPixelsY(kMinHeight);
    if (width() < minWidth || height() < minHeight) {
        resize(std::max(width(), minWidth), std::max(height(), minHeight));
        return; // the resize comes back here with the new size
    }
    const int left = twips::toPixelsX(kSideMargin);
    const int splitterHeight = height() - twips::toPixelsY(kSplitterLower);
    const int top = height() - splitterHeight - twips::toPixelsY(kBottomMargin);
    Splitter2->setGeometry(left, top, width() - twips::toPixelsX(kSplitterNarrower),
                           std::max(0, splitterHeight));
    m_folderLabel->setGeometry(left, 0, Splitter2->width(), top);
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    // The button bar keeps the preview's width.
    if (watched == container && event->type() == QEvent::Resize)
        Toolbar->setMaximumWidth(std::max(ImgX->width(), Toolbar->minimumSizeHint().width()));
    return QWidget::eventFilter(watched, event);
}

void frmMain::showEvent(QShowEvent *event)
{
    // The browser never appears without its skin, however early it is called back.
    applySkin();
    QWidget::showEvent(event);
}

void frmMain::closeEvent(QCloseEvent *event)
{
    event->accept();
    shutdown();
}

void frmMain::EndMe()
{
    shutdown();
}

void frmMain::shutdown()
{
    if (m_shuttingDown)
        return;
    m_shuttingDown = true;
    m_previewDecoder->cancel();
    if (frmViwer::isLoaded())
        frmViwer::unload();
    if (frmFile::isLoaded())
        frmFile::unload();
    frmAbout::unload();
    // The copy/move dialog and any other window of the program.
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (window != this && window->isVisible() && window != m_splash.get())
            window->close();
    }
    processEnder()();
}

void frmMain::setProcessEnder(std::function<void()> ender)
{
    processEnder() = std::move(ender);
}

WId frmMain::FindWin(const QString &text)
{
    // On X11 the window manager knows every top-level window of the desktop.
    if (const std::optional<WId> client = findX11Client(text))
        return *client;
    for (QWindow *window : QGuiApplication::topLevelWindows()) {
        if (window->title().left(255).contains(text, Qt::CaseSensitive))
            return window->winId();
    }
    return 0;
}

void frmMain::listFolder(const QString &folder)
{
    m_listedOnce = true;
    m_folderLabel->setText(folder);
    ImageExplore1->ExplorePath(folder);
}

void frmMain::listTreeFolder()
{
    const QString folder = TV1->SelectedPath();
    if (!folder.isEmpty())
        listFolder(folder);
}

void frmMain::onTreeEvent9()
{
    if (TV1->SelectedPath().isEmpty())
        return;
    listTreeFolder();
    TreeUsed = true;
}

void frmMain::onTreeEvent12()
{
    listTreeFolder();
}

void frmMain::onTreeEvent20()
{
    if (TreeUsed)
        listTreeFolder();
}

void frmMain::onTreeEvent24()
{
    m_treeReady = true;
    // A browser first shown by the viewer's way back already follows the viewer's picture.
    if (m_listedOnce && m_startFolder.isEmpty())
        return;
    listStartFolder();
}

void frmMain::listStartFolder()
{
    QString folder = m_startFolder;
    m_startFolder.clear();
    if (folder.isEmpty())
        folder = desktopOrHome();
    if (TV1->setSelectedPath(folder))
        listTreeFolder();
    else
        listFolder(withSlash(folder));
}

void frmMain::ShowPreview(const QString &path)
{
    m_previewPath = path;
    if (path.isEmpty() || QFileInfo(path).isDir()) {
        clearPreview(path);
        return;
    }
    // Decoded on a worker, beside the thumbnails and within the memory they share; the window
    // stays free meanwhile, and only the latest selection is shown.
    ImgX->document()->LoadSourceFlag = !PreviewDecoder::usesPlatformLoader(path);
    m_previewDecoder->request(path);
    if (!previewIsCurrent())
        m_previewBlank->start();
}

void frmMain::showDecodedPreview(const PreviewPicture &picture)
{
    m_previewBlank->stop();
    ImageDocument *document = ImgX->document();
    if (picture.fromPlatformLoader) {
        document->LoadSourceFlag = false;
        if (!document->LoadFromPicture(picture.decoded.pages.first(), picture.path))
            return clearPreview(picture.path);
    } else {
        document->LoadSourceFlag = true;
        // The file's other pages are read from it when they are shown.
        document->adoptDecoded(picture.decoded, picture.path);
    }
    ImgX->setMouseToolMode(ImageView::ToolNone);
    Q_EMIT previewShown(picture.path);
}

void frmMain::clearPreview(const QString &path)
{
    m_previewDecoder->cancel();
    m_previewBlank->stop();
    ImgX->document()->ClearImage();
    Q_EMIT previewShown(path);
}

bool frmMain::isPreviewPending() const
{
    return m_previewDecoder->isPending();
}

bool frmMain::previewIsCurrent() const
{
    // The selected picture read again (an item reported twice, a file changed) is current while
    // it decodes; another is not.
    return !m_previewDecoder->isPending() ||
           ImgX->document()->ImageFileName() == QFileInfo(m_previewPath).absoluteFilePath();
}

void frmMain::previewSelection()
{
    // The preview shows the selected thumbnail's picture, or nothing when none is selected; a
    // picture whose file went away is not kept on show.
    const QString selected = ImageExplore1->selectedPath();
    if (selected != m_previewPath || !QFileInfo::exists(m_previewPath))
        ShowPreview(selected);
}

void frmMain::hideForViewer()
{
    if (isVisible()) {
        m_placeBeforeViewer = frameGeometry();
        m_frameBeforeViewer = windowFrameMargins(this);
    }
    hide();
}

void frmMain::showAfterViewer()
{
    if (isVisible())
        return;
    QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect();
    if (m_placeBeforeViewer.isValid()) {
        // Where it was when the viewer took over, kept on the screen.
        const QRect placed = placeInside(m_placeBeforeViewer, area);
        resize(placed.size().shrunkBy(m_frameBeforeViewer));
        moveFrameTo(this, placed.topLeft());
    } else if (area.isValid()) {
        // First shown after a picture named on the command line: in the middle of the screen.
        const QMargins frame = windowFrameMargins(this);
        const QSize outer = size().grownBy(frame).boundedTo(area.size());
        resize(outer.shrunkBy(frame));
        moveFrameTo(this, QPoint(area.x() + (area.width() - outer.width()) / 2,
                                 area.y() + (area.height() - outer.height()) / 2));
    }
    show();
}

void frmMain::OpenFromExplorer(const QStringList &ImagePaths, int Index, const QString &sFolderPath)
{
    if (!sFolderPath.isEmpty()) {
        TV1->setSelectedPath(sFolderPath);
        listTreeFolder();
        return;
    }
    if (Index >= 0 && Index < ImagePaths.size() && !ImagePaths.at(Index).isEmpty()) {
        hideForViewer();
        frmViwer *v = viewer();
        v->ImgX()->setZoomFactor(1.0);
        v->bCommand = false;
        v->ViewImage(ImagePaths, Index);
        return;
    }
    ImgX->document()->ClearImage();
}

void frmMain::ViewPreviewImage()
{
    ImageDocument *document = ImgX->document();
    QString file;
    if (!previewIsCurrent()) {
        // The selected file: the picture still on show in the preview is no longer selected.
        file = m_previewPath;
    } else if (document->PageCount() > 0) {
        // The previewed file; the listed path when the picture carries no file name.
        file = document->ImageFileName().isEmpty() ? m_previewPath : document->ImageFileName();
    }
    if (file.isEmpty())
        return;
    hideForViewer();
    frmViwer *v = viewer();
    v->ImgX()->setZoomFactor(1.0);
    v->ViewImage({file}, 0);
}

void frmMain::PreviewZoomIn()
{
    ImageDocument *document = ImgX->document();
    if (document->PageCount() == 0)
        return;
    if (ImgX->ZoomFactor() * 100.0 > kZoomInLimit)
        return;
    ImgX->setZoomFactor(ImgX->ZoomFactor() * 1.25);
    const float neededWidth =
        float(ImgX->ZoomFactor() * document->ImageWidthPx() * twips::perPixelX());
    const float neededHeight =
        float(ImgX->ZoomFactor() * document->ImageHeightPx() * twips::perPixelY());
    const bool larger = twips::fromPixelsX(ImgX->width()) < neededWidth ||
                        twips::fromPixelsY(ImgX->height()) < neededHeight;
    ImgX->setMouseToolMode(larger ? ImageView::ToolPan : ImageView::ToolNone);
}

void frmMain::PreviewZoomOut()
{
    ImageDocument *document = ImgX->document();
    if (document->PageCount() == 0)
        return;
    if (ImgX->ZoomFactor() * 100.0 < kZoomOutLimit)
        return;
    ImgX->setZoomFactor(ImgX->ZoomFactor() * 0.75);
    const float neededWidth =
        float(ImgX->ZoomFactor() * document->ImageWidthPx() * twips::perPixelX());
    const float neededHeight =
        float(ImgX->ZoomFactor() * document->ImageHeightPx() * twips::perPixelY());
    const bool larger = twips::fromPixelsX(ImgX->width()) < neededWidth ||
                        twips::fromPixelsY(ImgX->height()) < neededHeight;
    ImgX->setMouseToolMode(larger ? ImageView::ToolPan : ImageView::ToolNone);
}

void frmMain::Toolbar_ButtonClick(int index, const QString &)
{
    switch (index) {
    case 4:
        PreviewZoomIn();
        break;
    case 5:
        PreviewZoomOut();
        break;
    case 7:
        // Not the picture still on show while the selected one decodes.
        if (previewIsCurrent())
            SetWallpaper(ImgX);
        break;
    default:
        break;
    }
}

void frmMain::RefreshImages(const QString &sPath, const QString &pathTO)
{
    ImageExplore1->UpdateAfterOperation(sPath, pathTO);
    previewSelection();
}

void frmMain::CheckPath(const QString &path)
{
    const QString parent = parentFolderName(path);
    if (parent + QLatin1Char('/') == TV1->SelectedPath())
        return;
    TV1->setSelectedPath(parent.isEmpty() ? QStringLiteral("/") : parent);
    listTreeFolder();
    ImageExplore1->SetSelectedFocus(path);
    previewSelection();
}

} // namespace qmt
