#pragma once

#include "explorer/explorermodel.h"

#include <QFuture>
#include <QHash>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <memory>

class QAction;
class QEventLoop;
class QLabel;
class QListView;
class QMenu;
class QTimer;

namespace qmt {

class SessionThumbnails;
class Thumbnailer;

// The thumbnail explorer: lists one folder as a grid of sub-folders and image thumbnails and
// tells its host about selection and opening through ItemSelected and ItemOpened.
class ImageExplore : public QWidget
{
    Q_OBJECT

public:
    explicit ImageExplore(QWidget *parent = nullptr);
    ~ImageExplore() override;

    void SetExt(const QString &s);
    // Lists the folder: placeholders for every entry at once, then sub-folders and images in
    // the program's name order. The folder is read on a worker thread while the event loop
    // runs; returns when every item is filled, or at once when a newer listing started
    // meanwhile. The thumbnails are made after that, those of the cells on screen first, and
    // thumbnailsDone() says when all of them are.
    void ExplorePath(const QString &path);
    void AddImage(const QString &strPath, bool bIsFolder);
    QStringList GetImageList(const QString &path, const QString &SearchStr);
    // The same list read and sorted on a worker thread, for a folder that may be large.
    QFuture<QStringList> GetImageListLater(const QString &path, const QString &SearchStr);
    void NextItem();
    void PrevItem();
    void SetSelectedFocus(const QString &sPath);
    void UpdateAfterOperation(const QString &path, const QString &pathTO);

    // The control's state, read by its host and the tests.
    QString extensionList() const;
    QStringList imagePaths() const;
    int itemCount() const;
    bool stopFlag() const;
    bool isListing() const { return !m_stopFlag && m_listingDepth > 0; }
    // Whether thumbnails of the listed folder are still being made.
    bool isMakingThumbnails() const;
    // How many thumbnails the list holds in memory at most: a few screens' worth. Those of
    // cells far off screen are let go and read again when they come back into view: from the
    // thumbnail cache, the photo's embedded preview or the session's own store when the cache
    // cannot be written, and by decoding the picture only when none of them has it.
    int keptPictureLimit() const;
    int keptPictureCount() const { return int(m_kept.size()); }
    // How many pictures of the listing were decoded to make their thumbnails.
    int decodedPictureCount() const;

    // The child parts, for the host's styling and the tests.
    QListView *listView() const { return m_lv; }
    // The path of the selected item; "" when nothing (or a placeholder) is selected.
    QString selectedPath() const { return selectedTag(); }
    QMenu *contextMenu() const { return m_mnuMenu; }
    QLabel *noticeLabel() const { return m_text1; }
    ExplorerModel *model() const { return m_model; }

    // Where thumbnails are kept between listings (default: the desktop's shared cache), and
    // whether they are kept at all.
    void setThumbnailCacheRoot(const QString &root);
    void setThumbnailCacheEnabled(bool enabled);
    // Where thumbnails the cache cannot take are kept for the session.
    void setSessionThumbnails(std::shared_ptr<SessionThumbnails> session);
    QString thumbnailCacheRoot() const;

    // The largest number of entries one listing shows.
    static constexpr int kMaxItems = 32767;

Q_SIGNALS:
    void ItemSelected(const QString &path);
    void ItemOpened(const QStringList &ImagePaths, int Index, const QString &sFolderPath);
    // Every entry of the folder being listed has its placeholder on screen.
    void placeholdersShown(int count);
    // Every thumbnail of the listing has been made.
    void thumbnailsDone();

protected:
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

private:
    // What the thumbnail of one listed image is doing.
    enum class Picture : quint8 {
        Waiting, // not made yet
        Held,    // in the list's memory, and can be had again without decoding
        Costly,  // in the list's memory, and could only be had again by decoding
        Dropped, // let go; read again when it comes back into view
        Failed,  // no thumbnail: the broken picture shows
    };

    bool IsListedImage(const QString &path) const;
    static bool isListedName(const QString &name, const QString &extensionList);
    // GetImageList's work; safe on any thread.
    static QStringList imageList(const QString &path, const QString &SearchStr,
                                 const QString &extensionList);
    // A folder read and prepared for listing on a worker thread (see the .cpp).
    struct Listing;
    static Listing readFolder(const QString &folder, const QString &extensionList);
    // Shows the listing's items from `next` on, `count` of them, in place of their
    // placeholders; `next` moves past them.
    void fillNextItems(const Listing &listing, int &next, int count);
    void fillItem(int number, const QString &path, bool isFolder, const QImage &thumbnail,
                  const QString &error);
    void onThumbnail(quint64 generation, int index, const QImage &thumbnail, const QString &error,
                     bool rereadable);
    void onThumbnailsFinished(quint64 generation);
    // The rows the list shows now, first and last (-1, -1 when none).
    std::pair<int, int> visibleRows() const;
    int jobAt(int row) const;
    int rowOfJob(int job) const;
    void scheduleVisibleUpdate();
    void updateVisible();
    void keepPicturesBounded();
    void followRename(const ExplorerModel::Item &item);
    void layoutChildren();
    void updateGridSize();

    // Selection helpers; item numbers count from 1, positions from 0.
    int SelectedPosition() const;
    int ImageIndexAt(int position) const;
    // The item of exactly that path (see the .cpp for another spelling), or -1.
    int FindItem(const QString &path) const;
    // The one item whose path is `path` ignoring case, or -1 (none, or several).
    int FindSpelling(const QString &path) const;
    void SelectItem(int n, bool raise);
    void SetAllSelected(bool flag);
    void StepSelectionLater(int step);
    bool leavesRow(int key) const;
    void OpenSelected(int position);
    QString selectedTag() const;
    QStringList SelectedPaths() const;

    bool handleKeyPress(QKeyEvent *event);
    void handleKeyRelease(QKeyEvent *event);
    void handleMouseRelease(QMouseEvent *event);

    // Context-menu actions and the file operations behind them.
    void onView();
    void onCopyImage();
    void onCopyTo();
    void onMoveTo();
    void onDelete();
    void onRename();
    void FileOperation(int code, const QString &target);
    void RemoveItemAt(int position);

    QListView *m_lv = nullptr;
    ExplorerModel *m_model = nullptr;
    QLabel *m_text1 = nullptr;
    QMenu *m_mnuMenu = nullptr;
    Thumbnailer *m_thumbnailer = nullptr;

    QString m_extensionList;
    QStringList m_imagePaths;
    int m_itemCount = 0;
    bool m_stopFlag = false;

    // The listing in progress: its generation, the images it makes thumbnails of (one job
    // each, in list order) and its event loop.
    quint64 m_generation = 0;
    QStringList m_jobPaths;
    QHash<QString, int> m_jobOfPath;
    QList<Picture> m_pictures; // by job
    QList<int> m_kept;         // jobs whose pictures are Held
    int m_firstImageRow = 0;   // the row of the first image when listed
    std::pair<int, int> m_visible{-1, -1};
    QTimer *m_visibleTimer = nullptr;
    int m_listingDepth = 0;
    QPointer<QEventLoop> m_loop;
};

} // namespace qmt
