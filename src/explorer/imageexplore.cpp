#include "explorer/imageexplore.h"

#include "components/codecs/decodebudget.h"
#include "components/engine/imagedocument.h"
#include "components/engine/imageio.h"
#include "components/memorypolicy.h"
#include "components/nativefile.h"
#include "components/prompts.h"
#include "components/twips.h"
#include "dialogs/frmfile.h"
#include "explorer/explorermodel.h"
#include "explorer/explorerpictures.h"
#include "explorer/listingorder.h"
#include "explorer/thumbnaildelegate.h"
#include "explorer/thumbnailer.h"
#include "shell/fileoperations.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QPixmap>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace qmt {
namespace {

const QString kFolderKey = QStringLiteral("Folder");
const QString kLoadingKey = QStringLiteral("A");
const QString kNoItemsText = QStringLiteral("there are no items to show.");

// A folder may hold more entries than the list shows; reading stops well past that.
constexpr qsizetype kMaxScannedEntries = qsizetype(1) << 20;

// Icons, cursors and bitmaps go through the platform picture path.
bool usesPictureLoader(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return !suffix.isEmpty() && QStringLiteral("ico cur dib").contains(suffix);
}

QString withSeparator(const QString &folder)
{
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

// Event-loop turns during long work on the interface thread come at least this often.
constexpr int kYieldMs = 8;
// Items filled at a time between checks of the time.
constexpr int kFillRun = 1024;

} // namespace

ImageExplore::ImageExplore(QWidget *parent) : QWidget(parent)
{
    m_model = new ExplorerModel(this);

    m_lv = new QListView(this);
    m_lv->setObjectName(QStringLiteral("lv"));
    m_lv->setModel(m_model);
    m_lv->setViewMode(QListView::IconMode);
    m_lv->setFlow(QListView::LeftToRight);
    m_lv->setWrapping(true);
    m_lv->setResizeMode(QListView::Adjust);
    m_lv->setMovement(QListView::Static);
    m_lv->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_lv->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_lv->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    m_lv->setWordWrap(true);
    m_lv->setTextElideMode(Qt::ElideMiddle);
    m_lv->setIconSize(QSize(140, 140));
    updateGridSize();
    m_lv->setUniformItemSizes(true);
    m_lv->setContextMenuPolicy(Qt::NoContextMenu);
    // Captions as long as the cell allows; the selection shows only while the list has the focus.
    m_lv->setItemDelegate(new ThumbnailDelegate(m_lv));
    m_lv->installEventFilter(this);
    m_lv->viewport()->installEventFilter(this);

    m_text1 = new QLabel(kNoItemsText, this);
    m_text1->setWordWrap(true);
    m_text1->setObjectName(QStringLiteral("Text1"));
    m_text1->hide();

    m_mnuMenu = new QMenu(QStringLiteral("MENU"), this);
    m_mnuMenu->setObjectName(QStringLiteral("mnuMenu"));
    auto addItem = [this](const char *name, const QString &caption, void (ImageExplore::*slot)()) {
        QAction *action = m_mnuMenu->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        connect(action, &QAction::triggered, this, slot);
    };
    addItem("mnuView", QStringLiteral("View"), &ImageExplore::onView);
    addItem("mnuCopyImage", QStringLiteral("Copy Image"), &ImageExplore::onCopyImage);
    m_mnuMenu->addSeparator()->setObjectName(QStringLiteral("mnuSep1"));
    addItem("mnuCopyTo", QStringLiteral("Copy To"), &ImageExplore::onCopyTo);
    addItem("mnuMoveTo", QStringLiteral("Move To"), &ImageExplore::onMoveTo);
    addItem("mnuDelete", QStringLiteral("Delete"), &ImageExplore::onDelete);
    addItem("mnuRename", QStringLiteral("Rename"), &ImageExplore::onRename);

    m_thumbnailer = new Thumbnailer(this);
    connect(m_thumbnailer, &Thumbnailer::ready, this, &ImageExplore::onThumbnail);
    connect(m_thumbnailer, &Thumbnailer::finished, this, &ImageExplore::onThumbnailsFinished);
    // Scrolling and resizing change what is on screen: its thumbnails come next.
    m_visibleTimer = new QTimer(this);
    m_visibleTimer->setSingleShot(true);
    m_visibleTimer->setInterval(0);
    connect(m_visibleTimer, &QTimer::timeout, this, &ImageExplore::updateVisible);
    connect(m_lv->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &ImageExplore::scheduleVisibleUpdate);

    setMinimumWidth(twips::toPixelsX(1600));
    setFocusProxy(m_lv);
    layoutChildren();
}

ImageExplore::~ImageExplore()
{
    // A listing waiting for thumbnails further up the stack sees the new generation and leaves.
    ++m_generation;
    if (m_loop)
        m_loop->quit();
    m_imagePaths.clear();
}

void ImageExplore::setThumbnailCacheRoot(const QString &root)
{
    m_thumbnailer->setCacheRoot(root);
}

void ImageExplore::setThumbnailCacheEnabled(bool enabled)
{
    m_thumbnailer->setCacheEnabled(enabled);
}

void ImageExplore::setSessionThumbnails(std::shared_ptr<SessionThumbnails> session)
{
    m_thumbnailer->setSessionThumbnails(std::move(session));
}

QString ImageExplore::thumbnailCacheRoot() const
{
    return m_thumbnailer->cacheRoot();
}

QString ImageExplore::extensionList() const
{
    return m_extensionList;
}
QStringList ImageExplore::imagePaths() const
{
    return m_imagePaths;
}
int ImageExplore::itemCount() const
{
    return m_itemCount;
}
bool ImageExplore::stopFlag() const
{
    return m_stopFlag;
}

// ---- Layout ---------------------------------------------------------------------------------

void ImageExplore::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    const int minimum = twips::toPixelsX(1600);
    if (width() <= minimum && width() != minimum) {
        resize(minimum, height());
        return;
    }
    layoutChildren();
    scheduleVisibleUpdate();
}

void ImageExplore::updateGridSize()
{
    // A thumbnail and the lines of its caption, with the margins the cell keeps around them.
    const QSize grid(
        164, 140 + ThumbnailDelegate::kCaptionLines * m_lv->fontMetrics().lineSpacing() + 20);
    if (m_lv->gridSize() != grid)
        m_lv->setGridSize(grid);
}

void ImageExplore::layoutChildren()
{
    m_lv->setGeometry(0, 0, width(), height());
    const int margin = twips::toPixelsX(200);
    m_text1->setGeometry(margin, twips::toPixelsY(200), qMax(0, width() - twips::toPixelsX(400)),
                         m_text1->sizeHint().height());
}

// ---- Extensions -----------------------------------------------------------------------------

void ImageExplore::SetExt(const QString &s)
{
    if (s.isEmpty())
        prompts().message(
            QStringLiteral("Extrsntions should be exist and separtated by spaces only "
                           "like 'bmp jpg gif'"),
            PromptIcon::Exclamation, PromptButtons::Ok);
    m_extensionList = s.toLower();
}

bool ImageExplore::isListedName(const QString &name, const QString &extensionList)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    const QString extension = name.mid(dot + 1).toLower();
    if (extension.size() < 3)
        return false;
    return extensionList.contains(extension);
}

bool ImageExplore::IsListedImage(const QString &path) const
{
    return isListedName(path.section(QLatin1Char('/'), -1), m_extensionList);
}

// ---- Listing --------------------------------------------------------------------------------

// What a listing shows, prepared on the worker that reads the folder: the interface thread
// only hands it to the list.
struct ImageExplore::Listing {
    QList<ExplorerModel::Item> items; // sub-folders, then pictures, in listing order
    int folders = 0;
    QStringList imagePaths;        // the pictures' paths, in listing order
    QHash<QString, int> jobOfPath; // a picture's index in imagePaths
    QList<Thumbnailer::Job> jobs;  // one per picture, in listing order
    QString problem;               // why a folder that is there gives nothing
};

ImageExplore::Listing ImageExplore::readFolder(const QString &folder, const QString &extensionList)
{
    Listing listing;
    // Names are read as the bytes they are, so that a name that is not valid UTF-8 is listed too.
    const auto read = readFolderEntries(folder, kMaxScannedEntries);
    if (!read) {
        // A folder that is not there shows the plain empty list; one that is there but closed
        // to the user says so.
        if (statPath(folder).exists())
            listing.problem = read.error();
        return listing;
    }
    QStringList folders;
    QStringList images;
    for (const FolderEntry &entry : *read) {
        const QString &name = entry.name;
        if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
            continue; // hidden
        // An entry whose attributes cannot be read (a dangling link) counts as a folder. Only
        // regular files are pictures: a pipe or a device named like one is left out.
        if (entry.status.isDirectory() || !entry.status.exists())
            folders.append(name);
        else if (entry.status.isRegular() && isListedName(name, extensionList))
            images.append(name);
    }
    std::sort(folders.begin(), folders.end(), listingLessThan);
    std::sort(images.begin(), images.end(), listingLessThan);
    if (folders.size() > kMaxItems)
        folders.resize(kMaxItems);
    images.resize(qMin(images.size(), kMaxItems - folders.size()));

    listing.folders = int(folders.size());
    listing.items.reserve(folders.size() + images.size());
    for (const QString &name : std::as_const(folders)) {
        listing.items.append(
            ExplorerModel::Item{folder + name, displayName(name), kFolderKey, QString()});
    }
    listing.imagePaths.reserve(images.size());
    listing.jobOfPath.reserve(images.size());
    listing.jobs.reserve(images.size());
    for (const QString &name : std::as_const(images)) {
        const QString path = folder + name;
        // An image shows its thumbnail as soon as it is made, the loading picture until then.
        listing.items.append(ExplorerModel::Item{path, displayName(name), path, QString()});
        listing.jobOfPath.insert(path, int(listing.imagePaths.size()));
        listing.imagePaths.append(path);
        listing.jobs.append(Thumbnailer::Job{path, usesPictureLoader(path)});
    }
    return listing;
}

void ImageExplore::ExplorePath(const QString &path)
{
    if (m_extensionList.isEmpty()) {
        prompts().message(QStringLiteral("You must call function 'SetExt' first"),
                          PromptIcon::Exclamation, PromptButtons::Ok);
        return;
    }

    // A listing still waiting further up the stack ends at its next check.
    const quint64 generation = ++m_generation;
    if (m_loop)
        m_loop->quit();
    m_thumbnailer->cancel();
    QPointer<ImageExplore> self(this);
    auto current = [&] { return self && generation == m_generation; };

    Q_EMIT ItemSelected(QString());
    if (!current())
        return;
    m_stopFlag = false;
    ++m_listingDepth;
    struct DepthGuard {
        QPointer<ImageExplore> self;
        int ImageExplore::*depth;
        ~DepthGuard()
        {
            if (self)
                --(self.data()->*depth);
        }
    } depthGuard{self, &ImageExplore::m_listingDepth};

    // One reading of the folder serves both passes, so entries that come or go meanwhile
    // cannot upset the listing. A folder of tens of thousands of entries takes a while to read,
    // sort and prepare: a worker does it while the window goes on answering.
    const QString folder = withSeparator(path);
    QFuture<Listing> reading =
        QtConcurrent::run(&ImageExplore::readFolder, folder, m_extensionList);
    {
        // The event loop runs meanwhile, even for a folder read at once: input that came with
        // the request (another folder chosen) is seen before the list is filled.
        QFutureWatcher<Listing> watcher;
        QEventLoop loop;
        bool read = false;
        connect(&watcher, &QFutureWatcherBase::finished, &loop, [&read, &loop] {
            read = true;
            loop.quit();
        });
        watcher.setFuture(reading);
        m_loop = &loop;
        loop.exec();
        if (!current())
            return; // a newer listing took over, or the control is gone
        m_loop = nullptr;
        // Whether the reading is over by now is the machine's timing; what ended the wait is
        // not.
        if (!read) {
            // The application is quitting: the listing ends before anything was listed.
            m_stopFlag = true;
            return;
        }
    }
    Listing listing = reading.takeResult();
    const int count = int(listing.items.size());

    // Count pass: a placeholder with the loading picture for every entry at once.
    static const QImage folderImage = folderPicture();
    static const QImage loadingImage = loadingPicture();
    m_imagePaths.clear();
    m_model->clearPictures();
    m_text1->hide();
    m_model->setPicture(kFolderKey, folderImage);
    m_model->setPicture(kLoadingKey, loadingImage);
    m_jobPaths = listing.imagePaths;
    m_jobOfPath = std::move(listing.jobOfPath);
    m_kept.clear();
    m_pictures = QList<Picture>(m_jobPaths.size(), Picture::Waiting);
    m_firstImageRow = listing.folders;
    m_model->resetHidden(std::exchange(listing.items, {}));
    if (m_lv->isVisible()) {
        m_lv->doItemsLayout();
        m_lv->viewport()->repaint();
    }
    Q_EMIT placeholdersShown(count);
    if (!current())
        return;

    // The thumbnails are made from now on, those of the cells on screen first.
    m_visible = {-1, -1};
    if (!listing.jobs.isEmpty()) {
        m_thumbnailer->start(generation, std::exchange(listing.jobs, {}));
        updateVisible();
    }

    // Fill pass: sub-folders first, then the images, in list order. Rows are filled a run at a
    // time, each run told to the list at once; the event loop turns between runs.
    m_itemCount = 0;
    int next = 0;
    QElapsedTimer sinceYield;
    sinceYield.start();
    while (next < count) {
        fillNextItems(listing, next, kFillRun);
        if (next < count && sinceYield.elapsed() >= kYieldMs) {
            QCoreApplication::processEvents();
            if (!current())
                return;
            sinceYield.restart();
        }
    }

    if (m_itemCount == 0) {
        // An empty list says why when the folder could not be read.
        m_text1->setText(listing.problem.isEmpty() ? kNoItemsText : listing.problem);
        layoutChildren();
        m_text1->show();
    }
    m_stopFlag = true;
    if (m_itemCount > 0)
        SelectItem(1, true);
    if (current() && m_jobPaths.isEmpty())
        Q_EMIT thumbnailsDone();
}

void ImageExplore::fillNextItems(const Listing &listing, int &next, int count)
{
    const int start = next;
    next =
        int(qMin(qsizetype(start) + count, qsizetype(listing.folders) + listing.imagePaths.size()));
    const int firstImage = qMax(start, listing.folders);
    if (next > firstImage)
        m_imagePaths.append(
            listing.imagePaths.mid(firstImage - listing.folders, next - firstImage));
    m_model->revealNext(next - start);
    m_itemCount += next - start;
}

bool ImageExplore::isMakingThumbnails() const
{
    return m_thumbnailer->busy();
}

int ImageExplore::decodedPictureCount() const
{
    return m_thumbnailer->decodedCount();
}

int ImageExplore::keptPictureLimit() const
{
    // A few screens' worth, and enough for a large screen full of small cells.
    constexpr int kMinKept = 512;
    const int shown = m_visible.first < 0 ? 0 : m_visible.second - m_visible.first + 1;
    return qMax(kMinKept, 4 * shown);
}

void ImageExplore::onThumbnail(quint64 generation, int index, const QImage &thumbnail,
                               const QString &error, bool rereadable)
{
    if (generation != m_generation || index < 0 || index >= m_jobPaths.size())
        return;
    const QString path = m_jobPaths.at(index);
    const int row = rowOfJob(index);
    if (thumbnail.isNull()) {
        // One broken picture, shared by every file that has no thumbnail.
        static const QImage broken = brokenPicture().hasAlphaChannel()
                                         ? brokenPicture()
                                         : brokenPicture().convertToFormat(QImage::Format_RGB888);
        m_model->setPicture(path, broken);
        m_pictures[index] = Picture::Failed;
        const QString reason =
            error.isEmpty() ? QStringLiteral("The file cannot be read as an image.") : error;
        if (row >= 0) {
            // A row not shown yet shows the reason when it is.
            ExplorerModel::Item item = m_model->heldItem(row);
            item.toolTip = reason;
            m_model->setItem(row, item);
        }
        return;
    }
    m_model->setPicture(path, thumbnail);
    if (row >= 0)
        m_model->refreshRow(row);
    // Memory follows the screen even when a thumbnail could only come back by decoding its
    // picture again (no cache, and no room left to keep it for the session).
    if (m_pictures.at(index) != Picture::Held && m_pictures.at(index) != Picture::Costly)
        m_kept.append(index);
    m_pictures[index] = rereadable ? Picture::Held : Picture::Costly;
    if (m_kept.size() > keptPictureLimit())
        keepPicturesBounded();
}

void ImageExplore::onThumbnailsFinished(quint64 generation)
{
    if (generation != m_generation)
        return;
    // The decodes of a large folder leave much freed memory behind.
    releaseFreeMemory();
    Q_EMIT thumbnailsDone();
}

int ImageExplore::rowOfJob(int job) const
{
    // Filled rows carry their image's path as their picture key. An item taken out of the list
    // moves the ones after it up: the row is at or before where it was listed.
    const QString &path = m_jobPaths.at(job);
    for (int row = qMin(m_firstImageRow + job, m_model->rowCount() - 1); row >= 0; --row) {
        if (m_model->heldItem(row).iconKey == path)
            return row;
    }
    return -1;
}

int ImageExplore::jobAt(int row) const
{
    if (row < 0 || row >= m_model->rowCount())
        return -1;
    return m_jobOfPath.value(m_model->heldItem(row).iconKey, -1);
}

std::pair<int, int> ImageExplore::visibleRows() const
{
    const int rows = m_model->rowCount();
    if (rows == 0 || !m_lv->isVisible())
        return {-1, -1};
    // The cells sit on a grid, row after row: the first line tells how many go in a row.
    const QRect first = m_lv->visualRect(m_model->index(0));
    const int lineHeight = m_lv->gridSize().height();
    if (first.isEmpty() || lineHeight <= 0)
        return {0, qMin(rows, 64) - 1};
    int columns = 1;
    while (columns < rows && m_lv->visualRect(m_model->index(columns)).top() == first.top())
        ++columns;
    const QRect area = m_lv->viewport()->rect();
    const int firstLine = qMax(0, (area.top() - first.top()) / lineHeight);
    const int lastLine = qMax(firstLine, (area.bottom() - first.top()) / lineHeight);
    const qint64 from = qint64(firstLine) * columns;
    const qint64 to = (qint64(lastLine) + 1) * columns - 1;
    if (from >= rows)
        return {-1, -1};
    return {int(from), int(qMin<qint64>(to, rows - 1))};
}

void ImageExplore::scheduleVisibleUpdate()
{
    if (!m_jobPaths.isEmpty() && !m_visibleTimer->isActive())
        m_visibleTimer->start();
}

void ImageExplore::updateVisible()
{
    m_visible = visibleRows();
    if (m_jobPaths.isEmpty() || m_visible.first < 0)
        return;
    const auto [first, last] = m_visible;
    const int span = last - first + 1;
    // What is on screen comes first (pictures let go come back from the cache), then the
    // screen below, then the one above, then the rest in list order.
    QList<int> wanted;
    auto want = [&](int row, bool onScreen) {
        const int job = jobAt(row);
        if (job < 0)
            return;
        if (m_pictures.at(job) == Picture::Waiting)
            wanted.append(job);
        else if (onScreen && m_pictures.at(job) == Picture::Dropped)
            m_thumbnailer->reread(job);
    };
    for (int row = first; row <= last; ++row)
        want(row, true);
    for (int row = last + 1; row <= last + span; ++row)
        want(row, false);
    for (int row = first - 1; row >= qMax(0, first - span); --row)
        want(row, false);
    m_thumbnailer->prefer(wanted);
}

void ImageExplore::keepPicturesBounded()
{
    // Let go of the pictures farthest from the screen, down to three quarters of the limit so
    // that this runs seldom; what is on screen or next to it stays.
    const int limit = keptPictureLimit();
    const int first = qMax(0, m_visible.first);
    const int last = qMax(first, m_visible.second);
    const int span = last - first + 1;
    const auto distance = [&](int job) {
        const int row = m_firstImageRow + job;
        return row < first ? first - row : (row > last ? row - last : 0);
    };
    // Farthest first; at the same distance, those that come back without decoding go first.
    const auto order = [&](int job) {
        return std::pair(distance(job), m_pictures.at(job) == Picture::Held);
    };
    std::sort(m_kept.begin(), m_kept.end(), [&](int a, int b) { return order(a) > order(b); });
    qsizetype dropped = 0;
    while (m_kept.size() - dropped > limit * 3 / 4 && distance(m_kept.at(dropped)) > span) {
        const int job = m_kept.at(dropped++);
        m_model->dropPicture(m_jobPaths.at(job));
        m_pictures[job] = Picture::Dropped;
    }
    m_kept.remove(0, dropped);
}

void ImageExplore::fillItem(int number, const QString &path, bool isFolder, const QImage &thumbnail,
                            const QString &error)
{
    const int row = number - 1;
    if (row < 0 || row >= m_model->rowCount())
        return;
    ExplorerModel::Item item;
    item.tag = path;
    item.text = displayName(path.section(QLatin1Char('/'), -1));
    if (isFolder) {
        item.iconKey = kFolderKey;
    } else {
        item.iconKey = path;
        if (thumbnail.isNull()) {
            static const QImage broken = brokenPicture();
            m_model->setPicture(path, broken);
            item.toolTip =
                error.isEmpty() ? QStringLiteral("The file cannot be read as an image.") : error;
        } else {
            m_model->setPicture(path, thumbnail);
        }
    }
    m_model->setItem(row, item);
}

void ImageExplore::AddImage(const QString &strPath, bool bIsFolder)
{
    if (bIsFolder) {
        fillItem(m_itemCount + 1, strPath, true, QImage(), QString());
        return;
    }
    const Thumbnailer::Outcome outcome =
        m_thumbnailer->makeNow(Thumbnailer::Job{strPath, usesPictureLoader(strPath)});
    fillItem(m_itemCount + 1, strPath, false, outcome.thumbnail, outcome.error);
}

QStringList ImageExplore::GetImageList(const QString &path, const QString &SearchStr)
{
    m_itemCount = 0;
    return imageList(path, SearchStr, m_extensionList);
}

QFuture<QStringList> ImageExplore::GetImageListLater(const QString &path, const QString &SearchStr)
{
    m_itemCount = 0;
    return QtConcurrent::run(&ImageExplore::imageList, path, SearchStr, m_extensionList);
}

QStringList ImageExplore::imageList(const QString &path, const QString &SearchStr,
                                    const QString &extensionList)
{
    const QString folder = withSeparator(path);
    QString pattern = SearchStr.trimmed();
    // "*.*" meant every file, with an extension or without.
    if (pattern.isEmpty() || pattern == QLatin1String("*.*"))
        pattern = QStringLiteral("*");
    const QRegularExpression matches(QRegularExpression::wildcardToRegularExpression(pattern),
                                     QRegularExpression::CaseInsensitiveOption);
    const auto read = readFolderEntries(folder, kMaxScannedEntries);
    QStringList names;
    for (const FolderEntry &entry : read ? *read : QList<FolderEntry>()) {
        const QString &name = entry.name;
        // Only regular files are pictures the viewer may open: a pipe named like one would
        // stop it for good.
        if (name.startsWith(QLatin1Char('.')) || !entry.status.isRegular())
            continue;
        if (matches.match(displayName(name)).hasMatch() && isListedName(name, extensionList))
            names.append(name);
    }
    std::sort(names.begin(), names.end(), listingLessThan);
    if (names.size() > kMaxItems)
        names.resize(kMaxItems);
    QStringList result;
    result.reserve(names.size());
    for (const QString &name : names)
        result.append(folder + name);
    return result;
}

// ---- Selection ------------------------------------------------------------------------------

int ImageExplore::SelectedPosition() const
{
    if (m_model->rowCount() == 0)
        return -1;
    const QModelIndex current = m_lv->currentIndex();
    return current.isValid() ? current.row() : -1;
}

QString ImageExplore::selectedTag() const
{
    const QModelIndex current = m_lv->currentIndex();
    if (!current.isValid() || !m_lv->selectionModel()->isSelected(current))
        return QString();
    return m_model->item(current.row()).tag;
}

int ImageExplore::ImageIndexAt(int position) const
{
    if (position < 0 || position >= m_model->rowCount() || m_imagePaths.isEmpty())
        return -1;
    const QString tag = m_model->item(position).tag;
    if (tag.isEmpty())
        return -1;
    return int(m_imagePaths.indexOf(tag));
}

int ImageExplore::FindItem(const QString &path) const
{
    if (path.isEmpty())
        return -1;
    for (int row = 0; row < m_model->rowCount(); ++row) {
        if (m_model->item(row).tag == path)
            return row + 1;
    }
    // Names that differ only in case are different files here. Another spelling is taken
    // only when one item alone has it and that item's own path names nothing any more (the
    // file was known under that spelling, as on a case-insensitive file system); otherwise the
    // item of another file would be changed.
    const int other = FindSpelling(path);
    if (other > 0 && !statPath(m_model->item(other - 1).tag, false).exists())
        return other;
    return -1;
}

int ImageExplore::FindSpelling(const QString &path) const
{
    int found = -1;
    for (int row = 0; row < m_model->rowCount(); ++row) {
        if (m_model->item(row).tag.compare(path, Qt::CaseInsensitive) == 0) {
            if (found > 0)
                return -1; // several: none is meant more than another
            found = row + 1;
        }
    }
    return found;
}

void ImageExplore::SelectItem(int n, bool raise)
{
    if (n <= 0)
        return;
    if (n <= m_model->rowCount()) {
        m_lv->selectionModel()->setCurrentIndex(m_model->index(n - 1), QItemSelectionModel::Select);
        if (raise)
            Q_EMIT ItemSelected(m_model->item(n - 1).tag);
    }
    m_lv->setFocus();
}

void ImageExplore::SetAllSelected(bool flag)
{
    if (m_model->rowCount() == 0)
        return;
    if (flag)
        m_lv->selectAll();
    else
        m_lv->clearSelection();
    m_lv->setFocus();
}

QStringList ImageExplore::SelectedPaths() const
{
    QStringList paths;
    for (int row = 0; row < m_model->rowCount(); ++row) {
        if (m_lv->selectionModel()->isSelected(m_model->index(row)) &&
            !m_model->item(row).tag.isEmpty())
            paths.append(m_model->item(row).tag);
    }
    return paths;
}

void ImageExplore::StepSelectionLater(int step)
{
    // Next and Previous go through the list in its order, from one row to the next, and stop at
    // either end. Like a key press the move comes once the caller has returned, and it is
    // reported as a released key is.
    QTimer::singleShot(0, this, [this, step] {
        const int rows = m_model->rowCount();
        if (rows == 0)
            return;
        const QModelIndex current = m_lv->currentIndex();
        const int row = current.isValid() ? qBound(0, current.row() + step, rows - 1) : 0;
        m_lv->selectionModel()->setCurrentIndex(m_model->index(row),
                                                QItemSelectionModel::ClearAndSelect);
        Q_EMIT ItemSelected(m_model->item(row).tag);
        m_lv->setFocus();
    });
}

void ImageExplore::NextItem()
{
    if (m_model->rowCount() == 0)
        return;
    m_lv->setFocus();
    StepSelectionLater(1);
    Q_EMIT ItemSelected(selectedTag());
}

void ImageExplore::PrevItem()
{
    if (m_model->rowCount() == 0)
        return;
    m_lv->setFocus();
    StepSelectionLater(-1);
    Q_EMIT ItemSelected(selectedTag());
}

void ImageExplore::SetSelectedFocus(const QString &sPath)
{
    // Selecting changes nothing on disk: a path given in another case finds its item.
    int n = FindItem(sPath);
    if (n <= 0)
        n = FindSpelling(sPath);
    SetAllSelected(false);
    if (n > 0)
        m_lv->selectionModel()->setCurrentIndex(m_model->index(n - 1),
                                                QItemSelectionModel::ClearAndSelect);
    else
        m_lv->selectionModel()->clear();
}

void ImageExplore::OpenSelected(int position)
{
    const QString tag = selectedTag();
    if (tag.isEmpty())
        return; // nothing selected, or a placeholder
    if (QFileInfo(tag).isDir())
        Q_EMIT ItemOpened(m_imagePaths, 0, tag);
    else
        Q_EMIT ItemOpened(m_imagePaths, ImageIndexAt(position), QString());
}

// ---- Keys and mouse -------------------------------------------------------------------------

bool ImageExplore::handleKeyPress(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Delete:
        FileOperation(event->modifiers().testFlag(Qt::ShiftModifier) ? 3 : 2, QString());
        m_lv->viewport()->update();
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        OpenSelected(SelectedPosition());
        return true;
    case Qt::Key_Left:
    case Qt::Key_Right:
        // At the end of a row the selection stays; the release still reports it.
        return event->modifiers() == Qt::NoModifier && leavesRow(event->key());
    default:
        return false;
    }
}

bool ImageExplore::leavesRow(int key) const
{
    const QModelIndex current = m_lv->currentIndex();
    if (!current.isValid())
        return false;
    const QModelIndex next = m_model->index(current.row() + (key == Qt::Key_Right ? 1 : -1));
    // Past either end of the list the list itself stays where it is.
    if (!next.isValid())
        return false;
    return m_lv->visualRect(next).top() != m_lv->visualRect(current).top();
}

void ImageExplore::handleKeyRelease(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Control)
        return;
    const QModelIndex current = m_lv->currentIndex();
    if (event->modifiers() == Qt::ControlModifier) {
        // Control with an arrow moves the list's cursor without selecting: that item is
        // reported as it is.
        if (current.isValid())
            Q_EMIT ItemSelected(m_model->item(current.row()).tag);
    } else if (current.isValid() && m_lv->selectionModel()->isSelected(current)) {
        // Only a selected item is reported: after its item was deleted the list has none.
        SelectItem(current.row() + 1, true);
    }
    m_lv->setFocus();
}

void ImageExplore::handleMouseRelease(QMouseEvent *event)
{
    if (m_model->rowCount() == 0)
        return;
    if (event->button() == Qt::LeftButton) {
        const QModelIndex current = m_lv->currentIndex();
        if (current.isValid() && m_lv->selectionModel()->isSelected(current))
            Q_EMIT ItemSelected(m_model->item(current.row()).tag);
    }
    const QModelIndex under = m_lv->indexAt(event->position().toPoint());
    if (under.isValid() && event->button() == Qt::RightButton)
        m_mnuMenu->popup(event->globalPosition().toPoint());
}

bool ImageExplore::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_lv) {
        // The selection is drawn with the focus only: every selected cell is drawn again.
        if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)
            m_lv->viewport()->update();
        // A skin may give the list another font: the cells keep room for whole captions.
        if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
            updateGridSize();
        if (event->type() == QEvent::KeyPress && handleKeyPress(static_cast<QKeyEvent *>(event)))
            return true;
        if (event->type() == QEvent::KeyRelease) {
            // The list moved its selection when the key went down; the report comes now, once
            // (the release must not travel on to the control itself).
            handleKeyRelease(static_cast<QKeyEvent *>(event));
            return true;
        }
    } else if (watched == m_lv->viewport()) {
        if (event->type() == QEvent::MouseButtonRelease) {
            handleMouseRelease(static_cast<QMouseEvent *>(event));
        } else if (event->type() == QEvent::MouseButtonDblClick &&
                   static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
            OpenSelected(SelectedPosition());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ImageExplore::keyPressEvent(QKeyEvent *event)
{
    if (!handleKeyPress(event))
        QWidget::keyPressEvent(event);
}

void ImageExplore::keyReleaseEvent(QKeyEvent *event)
{
    handleKeyRelease(event);
}

// ---- Menu actions and file operations -------------------------------------------------------

void ImageExplore::onView()
{
    OpenSelected(SelectedPosition());
}

void ImageExplore::onCopyImage()
{
    const QString path = selectedTag();
    if (path.isEmpty() || QFileInfo(path).isDir())
        return;
    ImageDocument document;
    Status loaded;
    // Decoded on the interface thread: counted with the thumbnails' decodes, never waiting for
    // them (those that start meanwhile wait for this one).
    const DecodeBudgetScope counted(&DecodeBudget::reducedDecodes(),
                                    DecodeBudgetScope::Wait::Never);
    if (usesPictureLoader(path)) {
        ReadOptions options;
        options.firstPageOnly = true;
        auto picture = readImageFile(path, options);
        loaded = picture ? document.LoadFromPicture(picture->pages.first())
                         : Status::fail(picture.error());
    } else {
        loaded = document.LoadImageFile(path);
    }
    if (loaded)
        loaded = document.CopyToClipboard();
    if (!loaded)
        prompts().message(loaded.error(), PromptIcon::Exclamation, PromptButtons::Ok);
}

void ImageExplore::onCopyTo()
{
    FileOperation(1, QString());
}
void ImageExplore::onMoveTo()
{
    FileOperation(4, QString());
}
void ImageExplore::onRename()
{
    FileOperation(5, QString());
}

void ImageExplore::onDelete()
{
    const bool shift = QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
    FileOperation(shift ? 3 : 2, QString());
}

void ImageExplore::FileOperation(int code, const QString &target)
{
    const QString selected = selectedTag();
    if (selected.isEmpty())
        return; // nothing selected, or a placeholder
    QStringList sources = SelectedPaths();
    if (sources.isEmpty())
        sources = {selected};
    FileOperations operations;
    FileOperationResult result;
    QString newPath = target;

    switch (code) {
    case 1:
    case 4: {
        // Every selected item goes into the chosen folder under its own name.
        const QString folder = ShowFileForm(code, selected);
        if (folder.isEmpty())
            return;
        result =
            code == 1 ? operations.copyTo(sources, folder) : operations.moveTo(sources, folder);
        break;
    }
    case 2:
    case 3:
        result = operations.remove(sources, code == 3);
        break;
    case 5: {
        const QString name = selected.section(QLatin1Char('/'), -1);
        const std::optional<QString> answer =
            prompts().input(QStringLiteral("File Name:"), QStringLiteral("Rename File"), name);
        if (!answer)
            return; // cancelled
        // An empty or blank name is refused by the rename with a message, as in the viewer.
        if (!answer->trimmed().isEmpty()) {
            newPath =
                QDir::cleanPath(QFileInfo(selected).absolutePath() + QLatin1Char('/') + *answer);
            if (QFileInfo(newPath).isDir() || newPath == selected)
                return;
        }
        result = operations.rename(selected, *answer);
        break;
    }
    default:
        return;
    }

    if (code == 5) {
        for (const auto &[from, to] : result.moved) {
            const int n = FindItem(from);
            if (n <= 0)
                continue;
            const int i = ImageIndexAt(n - 1);
            ExplorerModel::Item item = m_model->item(n - 1);
            item.tag = QDir::cleanPath(to);
            item.text = displayName(item.tag.section(QLatin1Char('/'), -1));
            m_model->setItem(n - 1, item); // the thumbnail keeps its old key
            followRename(item);
            if (i >= 0)
                m_imagePaths[i] = item.tag;
        }
        return;
    }

    // Other selected items whose files went away leave the list quietly; the selected one goes
    // last, so that the item before it becomes the selection.
    QStringList gone = result.removed;
    for (const auto &[from, to] : result.moved)
        gone.append(from);
    for (const QString &path : std::as_const(gone)) {
        const int n = FindItem(path);
        if (n > 0 && n - 1 != SelectedPosition() && !statPath(path, false).exists())
            UpdateAfterOperation(path, QString());
    }
    // A copy, or an operation that left the selected entry in place, changes nothing more.
    if (statPath(selected, false).exists())
        return;
    if (code == 2 || code == 3 || code == 4)
        RemoveItemAt(SelectedPosition());
}

void ImageExplore::RemoveItemAt(int position)
{
    if (position < 0 || position >= m_model->rowCount())
        return;
    const int k = position + 1;
    int t = position;
    if (m_itemCount <= 1)
        t = 1;
    SetAllSelected(false);
    SelectItem(t, true);
    // The count keeps the removed item: it is taken before the item leaves the list.
    m_itemCount = m_model->rowCount();
    const int i = ImageIndexAt(position);
    if (i >= 0)
        m_imagePaths.removeAt(i);
    m_model->removeItem(k - 1);
}

void ImageExplore::followRename(const ExplorerModel::Item &item)
{
    // A thumbnail still to be made, or let go and read again later, is made from the new name.
    const int job = m_jobOfPath.value(item.iconKey, -1);
    if (job >= 0)
        m_thumbnailer->renameJob(job, item.tag);
}

void ImageExplore::UpdateAfterOperation(const QString &path, const QString &pathTO)
{
    const int n = FindItem(path);
    if (n > 0) {
        const int position = n - 1;
        const int i = ImageIndexAt(position);
        if (!pathTO.isEmpty()) {
            if (i >= 0)
                m_imagePaths[i] = pathTO;
            ExplorerModel::Item item = m_model->item(position);
            item.text = displayName(pathTO.section(QLatin1Char('/'), -1));
            item.tag = pathTO;
            m_model->setItem(position, item); // the thumbnail keeps its old key
            followRename(item);
        } else {
            if (i >= 0)
                m_imagePaths.removeAt(i);
            m_model->removeItem(position);
        }
    }
    m_lv->viewport()->update();
}

} // namespace qmt
