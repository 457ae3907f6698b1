#include "explorer/imageexplore.h"
#include "components/nativefile.h"
#include "components/sessionthumbnails.h"
#include "components/skin.h"
#include "components/thumbnailcache.h"
#include "components/twips.h"
#include "dialogs/frmfile.h"
#include "explorer/explorermodel.h"
#include "explorer/thumbnaildelegate.h"
#include "support/fifowatchdog.h"
#include "support/filesystemuser.h"
#include "support/sandbox.h"
#include "support/scriptedprompts.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#include <functional>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

using namespace qmt;
using qmt::test::Sandbox;
using qmt::test::ScriptedPrompts;

namespace {

const QString kHostList =
    QStringLiteral("JPG JPEG GIF BMP PNG PSD TIF TIFF PCX TGA WBMP PCD WMF EMF ICO DIB");

QString makeImage(const QString &path, QSize size = QSize(60, 40), QColor colour = Qt::darkCyan)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    const QByteArray format =
        path.endsWith(".jpg", Qt::CaseInsensitive) || path.endsWith(".jpeg", Qt::CaseInsensitive)
            ? "jpeg"
            : "png";
    if (!image.save(path, format.constData()))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void writeText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    file.write(text);
}

QStringList tags(const ImageExplore &explorer)
{
    QStringList result;
    for (int row = 0; row < explorer.model()->rowCount(); ++row)
        result.append(explorer.model()->item(row).tag);
    return result;
}

QStringList strings(const QSignalSpy &spy, int argument = 0)
{
    QStringList result;
    for (const QList<QVariant> &call : spy)
        result.append(call.at(argument).toString());
    return result;
}

QImage picture(const ImageExplore &explorer, int row)
{
    return explorer.model()
        ->data(explorer.model()->index(row), ExplorerModel::PictureRole)
        .value<QImage>();
}

QSize pictureSize(const ImageExplore &explorer, int row)
{
    return picture(explorer, row).size();
}

QByteArray jpegBytes(QSize size, QColor colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 90);
    return bytes;
}

// A photo as a camera writes it: an EXIF block with the orientation and a JPEG thumbnail of
// another colour, so that a thumbnail in the list tells which of the two it was made from.
void writeCameraPhoto(const QString &path, QSize size, int orientation, QSize thumbnailSize)
{
    const QByteArray photo = jpegBytes(size, Qt::blue);
    const QByteArray thumbnail = jpegBytes(thumbnailSize, Qt::green);
    QByteArray tiff("II\x2A\x00", 4);
    const auto put = [&tiff](quint32 value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            tiff.append(char((value >> (8 * i)) & 0xFF));
    };
    const auto entry = [&](quint16 tag, quint16 type, quint32 value) {
        put(tag, 2);
        put(type, 2);
        put(1, 4);
        put(value, 4);
    };
    put(8, 4);
    put(1, 2); // IFD0 at 8: the orientation
    entry(0x0112, 3, quint32(orientation));
    put(26, 4);
    put(3, 2); // IFD1 at 26: a JPEG thumbnail at 26 + 2 + 3 * 12 + 4 = 68
    entry(0x0103, 3, 6);
    entry(0x0201, 4, 68);
    entry(0x0202, 4, quint32(thumbnail.size()));
    put(0, 4);
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff + thumbnail;
    QByteArray app1("\xFF\xE1", 2);
    app1.append(char((payload.size() + 2) >> 8));
    app1.append(char((payload.size() + 2) & 0xFF));
    writeText(path, photo.left(2) + app1 + payload + photo.mid(2));
}

bool near(const QColor &a, const QColor &b)
{
    return qAbs(a.red() - b.red()) < 40 && qAbs(a.green() - b.green()) < 40 &&
           qAbs(a.blue() - b.blue()) < 40;
}

// The explorer reads a folder on a worker of the global thread pool. While this lives, the pool
// keeps a single worker, which reaches the file system as the ordinary user (see FileSystemUser).
class PoolAsFileSystemUser
{
public:
    PoolAsFileSystemUser()
    {
        QThreadPool *pool = QThreadPool::globalInstance();
        m_threads = pool->maxThreadCount();
        m_expiry = pool->expiryTimeout();
        pool->waitForDone();
        pool->setMaxThreadCount(1);
        pool->setExpiryTimeout(-1);
        runOnWorker([this] { m_user = std::make_unique<test::FileSystemUser>(); });
    }
    ~PoolAsFileSystemUser()
    {
        runOnWorker([this] { m_user.reset(); });
        QThreadPool *pool = QThreadPool::globalInstance();
        pool->setExpiryTimeout(m_expiry);
        pool->setMaxThreadCount(m_threads);
    }
    PoolAsFileSystemUser(const PoolAsFileSystemUser &) = delete;
    PoolAsFileSystemUser &operator=(const PoolAsFileSystemUser &) = delete;

private:
    static void runOnWorker(const std::function<void()> &work)
    {
        QSemaphore done;
        QThreadPool::globalInstance()->start([&] {
            work();
            done.release();
        });
        done.acquire();
    }

    std::unique_ptr<test::FileSystemUser> m_user;
    int m_threads = 1;
    int m_expiry = 0;
};

} // namespace

class ImageExploreTest : public QObject
{
    Q_OBJECT

private:
    // A shown explorer with the host's extension list, in a sandbox of its own.
    struct Fixture {
        Sandbox sandbox;
        ScriptedPrompts prompts;
        ImageExplore explorer;
        Fixture()
        {
            explorer.resize(900, 600);
            explorer.SetExt(kHostList);
            explorer.show();
            explorer.activateWindow();
            if (!QTest::qWaitForWindowExposed(&explorer))
                qFatal("explorer not shown");
        }
        QString folder(const QString &name) const { return sandbox.makeDir(name); }
        // Lists the folder and waits for its thumbnails, which come after the listing.
        bool explore(const QString &dir)
        {
            explorer.ExplorePath(dir);
            return QTest::qWaitFor([this] { return !explorer.isMakingThumbnails(); }, 30000);
        }
        // Lists a folder of `count` copies of one small picture (p000.png, p001.png...) and
        // waits for its thumbnails.
        bool exploreLongFolder(int count)
        {
            const QString dir = folder("long");
            const QString first = makeImage(dir + "/p000.png", QSize(120, 90));
            for (int i = 1; i < count; ++i) {
                if (!QFile::copy(first, dir + QStringLiteral("/p%1.png").arg(i, 3, 10, QChar('0'))))
                    return false;
            }
            return explore(dir);
        }
        // Whether a listing of `count` pictures keeps fewer than all of them, within the
        // explorer's limit (the model also holds the folder and loading pictures).
        bool keepsPicturesWithinLimit(int count) const
        {
            const int limit = explorer.keptPictureLimit();
            return limit < count && explorer.keptPictureCount() <= limit &&
                   explorer.model()->pictureCount() <= limit + 2;
        }
        // The first row of a long listing whose picture was let go (far below the screen,
        // which is at the top); -1 when every picture is kept.
        int firstLetGoRow(int count) const
        {
            for (int row = 0; row < count; ++row) {
                if (picture(explorer, row).isNull())
                    return row;
            }
            return -1;
        }
        // Scrolls to `row` and waits until its thumbnail is back and no more are being made.
        bool bringBack(int row)
        {
            explorer.listView()->scrollTo(explorer.model()->index(row));
            return QTest::qWaitFor([&] { return !picture(explorer, row).isNull(); }, 30000) &&
                   QTest::qWaitFor([&] { return !explorer.isMakingThumbnails(); }, 30000);
        }
    };

    // Three images a, b, c listed and the first selected.
    static QString listThree(Fixture &f)
    {
        const QString dir = f.folder("three");
        makeImage(dir + "/a.png");
        makeImage(dir + "/b.png");
        makeImage(dir + "/c.png");
        f.explorer.ExplorePath(dir);
        return dir;
    }

private Q_SLOTS:
    void setExtStoresLowerCase()
    {
        Sandbox sandbox;
        ScriptedPrompts prompts;
        ImageExplore explorer;
        explorer.SetExt("JPG Gif");
        QCOMPARE(explorer.extensionList(), QStringLiteral("jpg gif"));
        QVERIFY(prompts.asked().isEmpty());
    }

    void emptySetExtWarnsAndListingRefuses()
    {
        Sandbox sandbox;
        ScriptedPrompts prompts;
        ImageExplore explorer;
        explorer.SetExt("JPG");
        explorer.SetExt("");
        QCOMPARE(explorer.extensionList(), QString());
        QCOMPARE(prompts.asked().size(), 1);
        QCOMPARE(
            prompts.asked().at(0).text,
            QStringLiteral(
                "Extrsntions should be exist and separtated by spaces only like 'bmp jpg gif'"));
        QCOMPARE(prompts.asked().at(0).icon, PromptIcon::Exclamation);

        makeImage(sandbox.file("a.png"));
        QSignalSpy selected(&explorer, &ImageExplore::ItemSelected);
        explorer.ExplorePath(sandbox.path());
        QCOMPARE(prompts.asked().size(), 2);
        QCOMPARE(prompts.asked().at(1).text,
                 QStringLiteral("You must call function 'SetExt' first"));
        QCOMPARE(prompts.asked().at(1).icon, PromptIcon::Exclamation);
        QCOMPARE(selected.size(), 0);
        QCOMPARE(explorer.model()->rowCount(), 0);
    }

    void childPartsAndMenu()
    {
        Sandbox sandbox;
        ImageExplore explorer;
        QVERIFY(explorer.findChild<QListView *>("lv"));
        QCOMPARE(explorer.noticeLabel()->text(), QStringLiteral("there are no items to show."));
        QCOMPARE(explorer.contextMenu()->title(), QStringLiteral("MENU"));
        QStringList captions;
        QStringList names;
        for (QAction *action : explorer.contextMenu()->actions()) {
            captions.append(action->isSeparator() ? QStringLiteral("-") : action->text());
            names.append(action->objectName());
        }
        QCOMPARE(captions, (QStringList{"View", "Copy Image", "-", "Copy To", "Move To", "Delete",
                                        "Rename"}));
        QCOMPARE(names, (QStringList{"mnuView", "mnuCopyImage", "mnuSep1", "mnuCopyTo", "mnuMoveTo",
                                     "mnuDelete", "mnuRename"}));
    }

    void layoutInTwips()
    {
        Sandbox sandbox;
        twips::setOverride(15, 15);
        {
            QWidget host;
            host.resize(800, 600);
            ImageExplore explorer(&host);
            host.show();
            QVERIFY(QTest::qWaitForWindowExposed(&host));
            explorer.resize(60, 300); // below 1600 twips (about 107 pixels)
            QCOMPARE(explorer.width(), 107);
            QCOMPARE(explorer.listView()->geometry(), QRect(0, 0, 107, 300));
            QCOMPARE(explorer.noticeLabel()->width(), 107 - 27);
            explorer.resize(500, 400);
            QCOMPARE(explorer.listView()->geometry(), QRect(0, 0, 500, 400));
            QCOMPARE(explorer.noticeLabel()->width(), 500 - 27);
        }
        twips::clearOverride();
    }

    void listingOrderHiddenAndEvents()
    {
        Fixture f;
        const QString dir = f.folder("pics");
        QDir().mkpath(dir + "/b");
        QDir().mkpath(dir + "/a");
        QDir().mkpath(dir + "/Folder10");
        QDir().mkpath(dir + "/folder9");
        QDir().mkpath(dir + "/.hidden");
        makeImage(dir + "/img10.png");
        makeImage(dir + "/img2.png");
        makeImage(dir + "/IMG3.PNG");
        makeImage(dir + "/.secret.png");
        makeImage(dir + "/photo.jpeg");
        makeImage(dir + "/scan.tiff.png");
        writeText(dir + "/notes.txt", "text");
        writeText(dir + "/a.ps", "%!PS");
        writeText(dir + "/noextension", "x");

        QSignalSpy selected(&f.explorer, &ImageExplore::ItemSelected);
        QSignalSpy shown(&f.explorer, &ImageExplore::placeholdersShown);
        QVERIFY(f.explore(dir));

        const QStringList expected = {
            dir + "/a",         dir + "/b",          dir + "/folder9",
            dir + "/Folder10",  dir + "/img2.png",   dir + "/IMG3.PNG",
            dir + "/img10.png", dir + "/photo.jpeg", dir + "/scan.tiff.png"};
        QCOMPARE(tags(f.explorer), expected);
        QCOMPARE(f.explorer.imagePaths(), expected.mid(4));
        QCOMPARE(f.explorer.itemCount(), 9);
        QVERIFY(f.explorer.stopFlag());
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.at(0).at(0).toInt(), 9);
        QCOMPARE(strings(selected), (QStringList{QString(), dir + "/a"}));
        QCOMPARE(f.explorer.model()->item(0).text, QStringLiteral("a"));
        QCOMPARE(f.explorer.model()->item(4).text, QStringLiteral("img2.png"));
        QCOMPARE(f.explorer.model()->item(0).iconKey, QStringLiteral("Folder"));
        QCOMPARE(f.explorer.model()->item(4).iconKey, dir + "/img2.png");
        QCOMPARE(f.explorer.model()->pictureCount(), 2 + 5);
        QVERIFY(f.explorer.noticeLabel()->isHidden());
        QCOMPARE(f.explorer.listView()->currentIndex().row(), 0);

        // The same folder with a trailing separator lists the same.
        f.explorer.ExplorePath(dir + "/");
        QCOMPARE(tags(f.explorer), expected);

        // GetImageList gives the same images in the same order.
        QCOMPARE(f.explorer.GetImageList(dir, "*.*"), expected.mid(4));
    }

    void emptyAndMissingFolders_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::newRow("only other files") << true;
        QTest::newRow("missing") << false;
    }
    void emptyAndMissingFolders()
    {
        QFETCH(bool, exists);
        Fixture f;
        QString dir = f.sandbox.file("nothing");
        if (exists) {
            f.folder("nothing");
            writeText(dir + "/readme.txt", "x");
        }
        QSignalSpy selected(&f.explorer, &ImageExplore::ItemSelected);
        f.explorer.ExplorePath(dir);
        QCOMPARE(strings(selected), QStringList{QString()});
        QCOMPARE(f.explorer.model()->rowCount(), 0);
        QVERIFY(f.explorer.noticeLabel()->isVisible());
        QVERIFY(f.explorer.stopFlag());
        QVERIFY(f.prompts.asked().isEmpty());
    }

    void thumbnailGeometryInTheList()
    {
        Fixture f;
        const QString dir = f.folder("shapes");
        makeImage(dir + "/1wide.png", QSize(1000, 200), Qt::red);
        makeImage(dir + "/2tall.png", QSize(200, 1000), Qt::blue);
        makeImage(dir + "/3land.png", QSize(300, 200));
        makeImage(dir + "/4port.png", QSize(200, 300));
        makeImage(dir + "/5huge.png", QSize(40000, 8), Qt::green);
        QVERIFY(f.explore(dir));
        QCOMPARE(f.explorer.itemCount(), 5);
        QCOMPARE(pictureSize(f.explorer, 0), QSize(140, 140));
        QCOMPARE(pictureSize(f.explorer, 1), QSize(140, 140));
        QCOMPARE(pictureSize(f.explorer, 2), QSize(140, 93));
        QCOMPARE(pictureSize(f.explorer, 3), QSize(140, 210));
        // In the list every picture, the tall one too, is drawn inside the same 140 x 140 cell.
        for (int row = 0; row < 4; ++row) {
            const QPixmap cell = f.explorer.model()
                                     ->data(f.explorer.model()->index(row), Qt::DecorationRole)
                                     .value<QPixmap>();
            QCOMPARE(cell.size(), QSize(140, 140));
        }
        const QImage wide = picture(f.explorer, 0);
        QCOMPARE(wide.pixelColor(70, 55), QColor(Qt::white));
        QCOMPARE(wide.pixelColor(70, 60), QColor(Qt::red));
        QCOMPARE(wide.pixelColor(70, 84), QColor(Qt::white));
        const QImage tall = picture(f.explorer, 1);
        QCOMPARE(tall.pixelColor(55, 70), QColor(Qt::white));
        QCOMPARE(tall.pixelColor(60, 70), QColor(Qt::blue));
        // Wider than 32767 pixels: a thumbnail like any other.
        QCOMPARE(pictureSize(f.explorer, 4), QSize(140, 140));
        QVERIFY(f.explorer.model()->data(f.explorer.model()->index(4), Qt::ToolTipRole).isNull());
        QCOMPARE(picture(f.explorer, 4).pixelColor(70, 70), QColor(Qt::green));
    }

    void damagedFileGetsBrokenPictureAndListingGoesOn()
    {
        Fixture f;
        const QString dir = f.folder("damaged");
        makeImage(dir + "/a.png", QSize(300, 200));
        writeText(dir + "/b.png", "\x89PNG\r\n\x1a\n broken beyond repair");
        writeText(dir + "/c.jpg", "");
        makeImage(dir + "/d.png", QSize(300, 200));
        QSignalSpy selected(&f.explorer, &ImageExplore::ItemSelected);
        QVERIFY(f.explore(dir));

        QCOMPARE(f.explorer.itemCount(), 4);
        QCOMPARE(f.explorer.imagePaths(),
                 (QStringList{dir + "/a.png", dir + "/b.png", dir + "/c.jpg", dir + "/d.png"}));
        QCOMPARE(tags(f.explorer), f.explorer.imagePaths());
        QCOMPARE(f.explorer.model()->item(1).text, QStringLiteral("b.png"));
        const QString reasonB =
            f.explorer.model()->data(f.explorer.model()->index(1), Qt::ToolTipRole).toString();
        const QString reasonC =
            f.explorer.model()->data(f.explorer.model()->index(2), Qt::ToolTipRole).toString();
        QVERIFY(!reasonB.isEmpty());
        QCOMPARE(reasonC, QStringLiteral("The file is empty."));
        QCOMPARE(pictureSize(f.explorer, 1), QSize(140, 140)); // the broken picture
        QCOMPARE(pictureSize(f.explorer, 3), QSize(140, 93));  // the listing went on
        QVERIFY(f.prompts.asked().isEmpty());                  // and asked nothing
        QCOMPARE(strings(selected), (QStringList{QString(), dir + "/a.png"}));

        // Opening the damaged item still hands its index to the host.
        QSignalSpy opened(&f.explorer, &ImageExplore::ItemOpened);
        f.explorer.SetSelectedFocus(dir + "/b.png");
        QTest::keyClick(f.explorer.listView(), Qt::Key_Return);
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened.at(0).at(1).toInt(), 1);
    }

    // A large folder is handed to the list whole: one reset with every entry as a placeholder,
    // then the entries shown a long run at a time, never told to the list one by one.
    void largeFolderIsToldToTheListInRuns()
    {
        Fixture f;
        const QString dir = f.folder("large");
        for (const char *sub : {"b", "a", "c"})
            QVERIFY(QDir().mkpath(dir + "/" + sub));
        const QString first = makeImage(dir + "/p0000.png", QSize(8, 6));
        const int images = 3000;
        for (int i = 1; i < images; ++i) {
            const QString link = dir + QStringLiteral("/p%1.png").arg(i, 4, 10, QChar('0'));
            QCOMPARE(
                ::link(QFile::encodeName(first).constData(), QFile::encodeName(link).constData()),
                0);
        }
        ExplorerModel *model = f.explorer.model();
        QSignalSpy resets(model, &QAbstractItemModel::modelReset);
        QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
        int itemChanges = 0;
        int changedRows = 0;
        connect(model, &QAbstractItemModel::dataChanged,
                [&](const QModelIndex &from, const QModelIndex &to, const QList<int> &roles) {
                    if (roles.isEmpty()) {
                        ++itemChanges;
                        changedRows += to.row() - from.row() + 1;
                    }
                });
        bool allPlaceholders = false;
        connect(&f.explorer, &ImageExplore::placeholdersShown, [&](int count) {
            allPlaceholders = count == model->rowCount();
            for (int row = 0; row < model->rowCount() && allPlaceholders; ++row)
                allPlaceholders = model->item(row).tag.isEmpty() &&
                                  model->item(row).iconKey == QLatin1String("A");
        });
        f.explorer.ExplorePath(dir);

        QVERIFY(allPlaceholders);
        QCOMPARE(resets.size(), 1);
        QCOMPARE(inserted.size(), 0);
        QCOMPARE(changedRows, images + 3);
        QVERIFY2(itemChanges <= 8, qPrintable(QString::number(itemChanges)));
        QCOMPARE(f.explorer.itemCount(), images + 3);
        QCOMPARE(model->item(0).tag, dir + "/a");
        QCOMPARE(model->item(3).tag, first);
        QCOMPARE(model->item(images + 2).tag, dir + "/p2999.png");
        QCOMPARE(f.explorer.imagePaths().size(), images);
        QCOMPARE(f.explorer.imagePaths().constLast(), dir + "/p2999.png");
    }

    void newerListingOvertakesOlder()
    {
        Fixture f;
        const QString older = f.folder("older");
        for (int i = 0; i < 60; ++i)
            makeImage(older + QStringLiteral("/old%1.png").arg(i), QSize(900, 700));
        const QString newer = f.folder("newer");
        QDir().mkpath(newer + "/sub");
        makeImage(newer + "/n1.png");
        makeImage(newer + "/n2.png");

        QSignalSpy selected(&f.explorer, &ImageExplore::ItemSelected);
        bool overtookWhileListing = false;
        int olderFilledWhenOvertaken = -1;
        // The newer listing starts as soon as the older one waits for its thumbnails.
        QTimer::singleShot(0, &f.explorer, [&] {
            overtookWhileListing = f.explorer.isListing();
            olderFilledWhenOvertaken = f.explorer.itemCount();
            f.explorer.ExplorePath(newer);
        });
        f.explorer.ExplorePath(older);

        QVERIFY(overtookWhileListing);
        QVERIFY(olderFilledWhenOvertaken < 60);
        QCOMPARE(tags(f.explorer),
                 (QStringList{newer + "/sub", newer + "/n1.png", newer + "/n2.png"}));
        QCOMPARE(f.explorer.imagePaths(), (QStringList{newer + "/n1.png", newer + "/n2.png"}));
        QCOMPARE(f.explorer.itemCount(), 3);
        QVERIFY(f.explorer.stopFlag());
        QVERIFY(!f.explorer.isListing());
        QCOMPARE(strings(selected), (QStringList{QString(), QString(), newer + "/sub"}));

        // Nothing of the older listing arrives later.
        QTest::qWait(300);
        QCOMPARE(tags(f.explorer).size(), 3);
        QCOMPARE(f.explorer.imagePaths().size(), 2);
        QCOMPARE(selected.size(), 3);
    }

    void controlDestroyedDuringListing()
    {
        Sandbox sandbox;
        auto *explorer = new ImageExplore;
        explorer->SetExt(kHostList);
        for (int i = 0; i < 30; ++i)
            makeImage(sandbox.file(QStringLiteral("p%1.png").arg(i)), QSize(800, 600));
        QTimer::singleShot(0, [explorer] { delete explorer; });
        explorer->ExplorePath(sandbox.path());
        // Reaching this line without a crash is the test; the sandbox must be untouched.
        QVERIFY(QFileInfo::exists(sandbox.file("p0.png")));
    }

    void getImageListLeavesOutFolders()
    {
        Sandbox sandbox;
        ScriptedPrompts prompts;
        ImageExplore explorer;
        explorer.SetExt(kHostList);
        const QString dir = sandbox.makeDir("g");
        QDir().mkpath(dir + "/x.jpg");
        makeImage(dir + "/b10.jpg");
        makeImage(dir + "/b9.JPG");
        makeImage(dir + "/.h.jpg");
        writeText(dir + "/t.txt", "x");
        QCOMPARE(explorer.GetImageList(dir, "*.*"),
                 (QStringList{dir + "/b9.JPG", dir + "/b10.jpg"}));
        QCOMPARE(explorer.GetImageList(dir + "/", "*.jpg"),
                 (QStringList{dir + "/b9.JPG", dir + "/b10.jpg"}));
        QCOMPARE(explorer.GetImageList(dir, "b1*"), QStringList{dir + "/b10.jpg"});
        QCOMPARE(explorer.GetImageList(sandbox.file("missing"), "*.*"), QStringList());
        QCOMPARE(explorer.itemCount(), 0);
        QCOMPARE(explorer.model()->rowCount(), 0);
    }

    void cacheServesTheNextListing()
    {
        Fixture f;
        const QString dir = f.folder("cached");
        const QString photo = makeImage(dir + "/p.png", QSize(300, 200), Qt::magenta);
        const QDateTime stamp = QFileInfo(photo).lastModified();
        QVERIFY(f.explore(dir));
        QCOMPARE(pictureSize(f.explorer, 0), QSize(140, 93));
        QVERIFY(!QDir(f.sandbox.file("cache/thumbnails/large")).isEmpty());

        // Same size and time but unreadable content: only the cache can still give a thumbnail.
        QFile file(photo);
        QVERIFY(file.open(QIODevice::ReadWrite));
        const qint64 size = file.size();
        file.seek(0);
        file.write(QByteArray(size, 'x'));
        file.flush(); // written before the time is set back, not after
        file.setFileTime(stamp, QFileDevice::FileModificationTime);
        file.close();
        QVERIFY(f.explore(dir));
        QCOMPARE(pictureSize(f.explorer, 0), QSize(140, 93));
        QCOMPARE(picture(f.explorer, 0).pixelColor(70, 46), QColor(Qt::magenta));

        // A new time: the stale thumbnail is not used and the damage shows.
        QVERIFY(file.open(QIODevice::ReadWrite));
        file.setFileTime(stamp.addSecs(30), QFileDevice::FileModificationTime);
        file.close();
        QVERIFY(f.explore(dir));
        QVERIFY(!f.explorer.model()
                     ->data(f.explorer.model()->index(0), Qt::ToolTipRole)
                     .toString()
                     .isEmpty());
    }

    // A camera's thumbnail that fills the cell stands in for the photo, turned as the photo is,
    // and goes to the cache's normal size only; a portrait photo's 160 x 120 thumbnail, 120
    // pixels wide when upright, cannot fill a 140-pixel cell and the photo is decoded.
    void embeddedPreviewsStandInForThePhoto()
    {
        Fixture f;
        const QString dir = f.folder("camera");
        writeCameraPhoto(dir + "/a.jpg", QSize(640, 480), 1, QSize(160, 120));
        writeCameraPhoto(dir + "/b.jpg", QSize(640, 480), 6, QSize(160, 120));
        writeCameraPhoto(dir + "/c.jpg", QSize(640, 480), 1, QSize(80, 60));
        QVERIFY(f.explore(dir));

        QCOMPARE(pictureSize(f.explorer, 0), QSize(140, 105));
        QVERIFY(near(picture(f.explorer, 0).pixelColor(70, 52), Qt::green));
        QCOMPARE(pictureSize(f.explorer, 1), QSize(140, 187));
        QVERIFY(near(picture(f.explorer, 1).pixelColor(70, 93), Qt::blue));
        QCOMPARE(pictureSize(f.explorer, 2), QSize(140, 105));
        QVERIFY(near(picture(f.explorer, 2).pixelColor(70, 52), Qt::blue));
        QCOMPARE(f.explorer.decodedPictureCount(), 2);

        const ThumbnailCache cache(f.sandbox.file("cache/thumbnails"));
        QVERIFY(QFileInfo::exists(cache.normalPath(dir + "/a.jpg")));
        QVERIFY(!QFileInfo::exists(cache.largePath(dir + "/a.jpg")));
        QCOMPARE(QImage(cache.normalPath(dir + "/a.jpg")).size(), QSize(128, 96));
        QVERIFY(QFileInfo::exists(cache.largePath(dir + "/b.jpg")));
        QVERIFY(!QFileInfo::exists(cache.normalPath(dir + "/b.jpg")));
    }

    // Scrolled to the end as soon as it is listed, the list makes the cells on screen there
    // before the ones it passed over.
    void cellsOnScreenComeFirst()
    {
        Fixture f;
        const QString dir = f.folder("scrolled");
        const QString first = makeImage(dir + "/p000.png", QSize(800, 600));
        for (int i = 1; i < 300; ++i)
            QVERIFY(QFile::copy(first, dir + QStringLiteral("/p%1.png").arg(i, 3, 10, QChar('0'))));
        f.explorer.ExplorePath(dir);
        QVERIFY(f.explorer.isMakingThumbnails());
        QScrollBar *bar = f.explorer.listView()->verticalScrollBar();
        bar->setValue(bar->maximum());
        QVERIFY(QTest::qWaitFor([&] { return !picture(f.explorer, 299).isNull(); }, 30000));
        int passedOver = 0;
        for (int row = 100; row < 200; ++row)
            passedOver += picture(f.explorer, row).isNull() ? 0 : 1;
        QVERIFY2(passedOver < 50, qPrintable(QString::number(passedOver)));
        QVERIFY(QTest::qWaitFor([&] { return !f.explorer.isMakingThumbnails(); }, 60000));
        QCOMPARE(f.explorer.decodedPictureCount(), 300);
    }

    // Pictures far off screen are let go, so that memory follows the screen and not the folder;
    // scrolled back into view they come from the thumbnail cache, never decoded a second time.
    void picturesOffScreenAreLetGoAndComeBack()
    {
        Fixture f;
        const int count = 800;
        QVERIFY(f.exploreLongFolder(count));
        QVERIFY(f.keepsPicturesWithinLimit(count));
        // The screen is at the top: pictures far below it went and show the loading picture.
        const int gone = f.firstLetGoRow(count);
        QVERIFY(gone > 100);

        QVERIFY(f.bringBack(gone));
        QCOMPARE(pictureSize(f.explorer, gone), QSize(140, 105));
        QCOMPARE(f.explorer.decodedPictureCount(), count);
        QVERIFY(f.explorer.keptPictureCount() <= f.explorer.keptPictureLimit());
    }

    // A thumbnail cache that cannot be written (here its folder would sit under a file) does
    // not make memory grow with the folder: pictures far off screen are let go all the same.
    // They come back from the session's own store, on disk or in memory, without decoding;
    // only when it has no room left are they decoded again.
    void unwritableCacheStillBoundsMemory_data()
    {
        QTest::addColumn<bool>("onDisk");
        QTest::addColumn<qint64>("memoryCap");
        QTest::addColumn<bool>("decodedAgain");
        QTest::newRow("kept in a private folder") << true << SessionThumbnails::kMemoryCap << false;
        QTest::newRow("kept in memory") << false << SessionThumbnails::kMemoryCap << false;
        QTest::newRow("no room to keep them") << false << qint64(0) << true;
    }
    void unwritableCacheStillBoundsMemory()
    {
        QFETCH(bool, onDisk);
        QFETCH(qint64, memoryCap);
        QFETCH(bool, decodedAgain);
        Fixture f;
        writeText(f.sandbox.file("a-file"), "x");
        f.explorer.setThumbnailCacheRoot(f.sandbox.file("a-file/thumbnails"));
        const QString places = onDisk ? f.sandbox.makeDir("tmp") : f.sandbox.file("a-file/tmp");
        auto session = std::make_shared<SessionThumbnails>(QStringList{places}, memoryCap);
        f.explorer.setSessionThumbnails(session);
        const int count = 800;
        QVERIFY(f.exploreLongFolder(count));
        QVERIFY(f.keepsPicturesWithinLimit(count));
        QCOMPARE(session->folder().isEmpty(), !onDisk);
        QVERIFY(session->memoryBytes() <= memoryCap);
        const int gone = f.firstLetGoRow(count);
        QVERIFY(gone > 100);

        QVERIFY(f.bringBack(gone));
        QCOMPARE(pictureSize(f.explorer, gone), QSize(140, 105));
        QCOMPARE(f.explorer.decodedPictureCount() > count, decodedAgain);
        QVERIFY(f.explorer.keptPictureCount() <= f.explorer.keptPictureLimit());
        QVERIFY(f.explorer.model()->pictureCount() <= f.explorer.keptPictureLimit() + 2);
    }

    void arrowKeysReportOnceAndNeverWrap()
    {
        Fixture f;
        const QString dir = listThree(f);
        QListView *lv = f.explorer.listView();
        lv->setFocus();
        QSignalSpy selected(&f.explorer, &ImageExplore::ItemSelected);

        QTest::keyClick(lv, Qt::Key_Right);
        QCOMPARE(strings(selected), QStringList{dir + "/b.png"});
        QTest::keyClick(lv, Qt::Key_Right);
        QTest::keyClick(lv, Qt::Key_Right); // at the end: stays
        QCOMPARE(strings(selected), (QStringList{dir + "/b.png", dir + "/c.png", dir + "/c.png"}));
        selected.clear();

        // Control alone reports nothing.
        QTest::keyPress(lv, Qt::Key_Control);
        QTest::keyRelease(lv, Qt::Key_Control);
        QCOMPARE(selected.size(), 0);

        // With Control held, a released key reports the list's item.
        QTest::keyClick(lv, Qt::Key_Left, Qt::ControlModifier);
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected.at(0).at(0).toString(), dir + "/" + lv->currentIndex().data().toString());
        selected.clear();

        f.explorer.SetSelectedFocus(dir + "/a.png");
        QTest::keyClick(lv, Qt::Key_Left); // at the start: stays
        QCOMPARE(strings(selected), QStringList{dir + "/a.png"});
    }

    void arrowKeysStayInTheirRow()
    {
        Fixture f;
        const QString dir = f.folder("rows");
        const QStringList names{"a", "b", "c", "d", "e", "f", "g"};
        for (const QString &name : names)
            makeImage(dir + "/" + name + ".png");
        auto path = [&](int row) { return dir + "/" + names.at(row) + ".png"; };
        QListView *lv = f.explorer.listView();
        // Room for three cells a row.
        f.explorer.resize(3 * lv->gridSize().width() + 2 * lv->frameWidth() +
                              lv->verticalScrollBar()->sizeHint().width() + 8,
                          600);
        f.explorer.ExplorePath(dir);
        auto top = [&](int row) { return lv->visualRect(f.explorer.model()->index(row)).top(); };
        int rowEnd = 0;
        while (rowEnd + 1 < names.size() && top(rowEnd + 1) == top(0))
            ++rowEnd;
        QVERIFY2(rowEnd > 0 && rowEnd + 1 < names.size(), "the cells must fill several rows");
        QSignalSpy selected(&f.explorer, &ImageExplore::ItemSelected);

        // Right on the last cell of a row and Left on the first of the next stay where they are,
        // and say so once.
        f.explorer.SetSelectedFocus(path(rowEnd));
        QTest::keyClick(lv, Qt::Key_Right);
        QCOMPARE(strings(selected), QStringList{path(rowEnd)});
        QCOMPARE(lv->currentIndex().row(), rowEnd);
        selected.clear();
        f.explorer.SetSelectedFocus(path(rowEnd + 1));
        QTest::keyClick(lv, Qt::Key_Left);
        QCOMPARE(strings(selected), QStringList{path(rowEnd + 1)});
        QCOMPARE(lv->currentIndex().row(), rowEnd + 1);
        // Up and Down change rows; Left and Right inside a row move.
        QTest::keyClick(lv, Qt::Key_Up);
        QCOMPARE(lv->currentIndex().row(), 0);
        QTest::keyClick(lv, Qt::Key_Right);
        QCOMPARE(lv->currentIndex().row(), 1);

        // Next and Previous go on from the end of one row to the start of the next and back.
        f.explorer.SetSelectedFocus(path(rowEnd));
        selected.clear();
        f.explorer.NextItem();
        QTRY_COMPARE(selected.size(), 2);
        QCOMPARE(strings(selected), (QStringList{path(rowEnd), path(rowEnd + 1)}));
        selected.clear();
        f.explorer.PrevItem();
        QTRY_COMPARE(selected.size(), 2);
        QCOMPARE(strings(selected), (QStringList{path(rowEnd + 1), path(rowEnd)}));
        QCOMPARE(lv->selectionModel()->selectedIndexes().size(), 1);
    }

    void selectionShowsOnlyWithTheFocus_data()
    {
        QTest::addColumn<bool>("skinned");
        QTest::newRow("plain") << false;
        QTest::newRow("skinned") << true; // the skin has a rule for selected items
    }
    void selectionShowsOnlyWithTheFocus()
    {
        QFETCH(bool, skinned);
        Sandbox sandbox;
        ScriptedPrompts prompts;
        QWidget host;
        auto *layout = new QHBoxLayout(&host);
        auto *explorer = new ImageExplore(&host);
        auto *other = new QLineEdit(&host);
        layout->addWidget(explorer);
        layout->addWidget(other);
        Skin skin;
        if (skinned) {
            QVERIFY(skin.load(qEnvironmentVariable("QMT_BUILD_DIR") + "/QMTMain.skn"));
            skin.applyToWindow(&host);
        }
        host.resize(900, 500);
        host.show();
        host.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&host));
        explorer->SetExt(kHostList);
        const QString dir = sandbox.makeDir("one");
        makeImage(dir + "/only.png", QSize(120, 120), Qt::black);
        explorer->ExplorePath(dir);
        QListView *lv = explorer->listView();
        const QRect cell = lv->visualRect(explorer->model()->index(0));
        QVERIFY(lv->selectionModel()->isSelected(explorer->model()->index(0)));

        // The cell drawn with its item selected and with it unselected.
        const QModelIndex item = explorer->model()->index(0);
        auto shot = [&] { return lv->viewport()->grab(cell).toImage(); };
        auto selectedAndNot = [&] {
            const QImage selected = shot();
            lv->selectionModel()->select(item, QItemSelectionModel::Deselect);
            const QImage unselected = shot();
            lv->selectionModel()->select(item, QItemSelectionModel::Select);
            return std::make_pair(selected, unselected);
        };
        lv->setFocus();
        QTRY_VERIFY(lv->hasFocus());
        const auto focused = selectedAndNot();
        QVERIFY(focused.first != focused.second);
        // Without the focus the selected item looks like an unselected one.
        other->setFocus();
        QTRY_VERIFY(!lv->hasFocus());
        const auto unfocused = selectedAndNot();
        QCOMPARE(unfocused.first, unfocused.second);
        QVERIFY(lv->selectionModel()->isSelected(explorer->model()->index(0)));
    }

    void captionLinesShowAsMuchAsFits_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("short") << "a.png";
        QTest::newRow("two lines with spaces") << "holiday by the sea.png";
        QTest::newRow("no spaces") << "bmp-24bit-with-alpha-and-no-compression-at-all-test.bmp";
        QTest::newRow("one long word") << "abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuv.dib";
        QTest::newRow("very long with spaces")
            << "the very long name of a picture taken on a summer evening by the lake.jpg";
        QTest::newRow("outside the BMP") << QString::fromUtf8("ð·ð·ð· camera "
                                                              "ð·ð·ð· roll.png");
    }
    void captionLinesShowAsMuchAsFits()
    {
        QFETCH(QString, name);
        const QFontMetrics metrics(QApplication::font());
        const int width = metrics.horizontalAdvance(QStringLiteral("abcdefghijklmnop"));
        const QString caption = ThumbnailDelegate::captionLines(name, metrics, width, 2);
        const QStringList lines = caption.split(QChar(QChar::LineSeparator));
        QVERIFY(lines.size() <= 2);
        for (const QString &line : lines)
            QVERIFY2(metrics.horizontalAdvance(line) <= width, qPrintable(line));
        const QString ellipsis(QChar(0x2026));
        const QString joined = lines.join(QString());
        QVERIFY(joined.count(ellipsis) <= (name.contains(ellipsis) ? 1 : 0) + 1);
        if (metrics.horizontalAdvance(name) <= width)
            QCOMPARE(caption, name);
        if (!joined.contains(ellipsis)) {
            QCOMPARE(joined, name);
        } else {
            // Shortened once, in the middle of the last line: the start and the extension show.
            const qsizetype cut = joined.indexOf(ellipsis);
            QVERIFY(name.startsWith(joined.left(cut)));
            QVERIFY(name.endsWith(joined.mid(cut + 1)));
            QVERIFY(joined.endsWith(name.right(3)));
            QCOMPARE(lines.size(), 2);
        }
        // A first line that is not full ends at a natural break in its later half.
        const qsizetype firstSize = lines.first().size();
        const QString next =
            lines.size() == 2
                ? joined.mid(firstSize, joined.at(firstSize).isHighSurrogate() ? 2 : 1)
                : QString();
        if (!next.isEmpty() && metrics.horizontalAdvance(lines.first() + next) <= width) {
            const QChar last = lines.first().back();
            QVERIFY(last.isSpace() || last == '-' || last == '_' || last == '.');
        }
    }

    void everyCellHasRoomForWholeCaptions_data()
    {
        QTest::addColumn<bool>("skinned"); // the skin draws the list in a larger font
        QTest::newRow("plain") << false;
        QTest::newRow("skinned") << true;
    }
    void everyCellHasRoomForWholeCaptions()
    {
        QFETCH(bool, skinned);
        Fixture f;
        Skin skin;
        if (skinned) {
            QVERIFY(skin.load(qEnvironmentVariable("QMT_BUILD_DIR") + "/QMTMain.skn"));
            skin.applyToWindow(&f.explorer);
        }
        const QString dir = f.folder("names");
        // The first cell, whose size all cells take, has a short name.
        makeImage(dir + "/a.png", QSize(140, 140), Qt::white);
        makeImage(dir + "/b very long name of a picture to show on two lines.png", QSize(140, 140),
                  Qt::white);
        f.explorer.ExplorePath(dir);
        QListView *lv = f.explorer.listView();
        QVERIFY(qobject_cast<ThumbnailDelegate *>(lv->itemDelegate()));
        lv->clearFocus(); // no selection drawn

        // The caption of the long name is drawn on two lines of text under the thumbnail.
        const QRect cell = lv->visualRect(f.explorer.model()->index(1));
        const QImage shot = lv->viewport()->grab(cell).toImage();
        int bands = 0;
        bool inBand = false;
        for (int y = lv->iconSize().height(); y < shot.height(); ++y) {
            bool ink = false;
            for (int x = 0; x < shot.width() && !ink; ++x)
                ink = qGray(shot.pixel(x, y)) < 128;
            bands += ink && !inBand ? 1 : 0;
            inBand = ink;
        }
        QCOMPARE(bands, 2);
        QCOMPARE(lv->visualRect(f.explorer.model()->index(0)).size(), cell.size());
    }

    void nextAndPreviousReportTwice()
    {
        Fixture f;
        const QString dir = listThree(f);
        QSignalSpy selected(&f.explorer, &ImageExplore::ItemSelected);

        f.explorer.NextItem();
        QCOMPARE(strings(selected), QStringList{dir + "/a.png"});
        QTRY_COMPARE(selected.size(), 2);
        QCOMPARE(selected.at(1).at(0).toString(), dir + "/b.png");

        selected.clear();
        f.explorer.SetSelectedFocus(dir + "/c.png");
        f.explorer.NextItem();
        QTRY_COMPARE(selected.size(), 2);
        QCOMPARE(strings(selected), (QStringList{dir + "/c.png", dir + "/c.png"}));

        selected.clear();
        f.explorer.PrevItem();
        QTRY_COMPARE(selected.size(), 2);
        QCOMPARE(strings(selected), (QStringList{dir + "/c.png", dir + "/b.png"}));
        QTest::qWait(50);
        QCOMPARE(selected.size(), 2);
    }

    void nextOnEmptyListDoesNothing()
    {
        Fixture f;
        QSignalSpy selected(&f.explorer, &ImageExplore::ItemSelected);
        f.explorer.NextItem();
        f.explorer.PrevItem();
        QTest::qWait(50);
        QCOMPARE(selected.size(), 0);
    }

    void setSelectedFocusSelectsWithoutEvent()
    {
        Fixture f;
        const QString dir = listThree(f);
        QSignalSpy selected(&f.explorer, &ImageExplore::ItemSelected);
        f.explorer.SetSelectedFocus(dir.toUpper() + "/B.PNG");
        QCOMPARE(selected.size(), 0);
        const QModelIndexList rows = f.explorer.listView()->selectionModel()->selectedIndexes();
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.at(0).row(), 1);

        f.explorer.SetSelectedFocus(dir + "/missing.png");
        QCOMPARE(selected.size(), 0);
        QVERIFY(f.explorer.listView()->selectionModel()->selectedIndexes().isEmpty());
    }

    void openingFoldersAndImages()
    {
        Fixture f;
        const QString dir = f.folder("open");
        QDir().mkpath(dir + "/sub");
        makeImage(dir + "/x.png");
        makeImage(dir + "/y.png");
        f.explorer.ExplorePath(dir);
        QSignalSpy opened(&f.explorer, &ImageExplore::ItemOpened);
        QListView *lv = f.explorer.listView();

        QTest::keyClick(lv, Qt::Key_Return);
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened.at(0).at(0).toStringList(), f.explorer.imagePaths());
        QCOMPARE(opened.at(0).at(1).toInt(), 0);
        QCOMPARE(opened.at(0).at(2).toString(), dir + "/sub");

        f.explorer.SetSelectedFocus(dir + "/y.png");
        QTest::keyClick(lv, Qt::Key_Enter);
        QCOMPARE(opened.size(), 2);
        QCOMPARE(opened.at(1).at(1).toInt(), 1);
        QCOMPARE(opened.at(1).at(2).toString(), QString());

        // Double click opens the item under the pointer.
        const QRect xRect = lv->visualRect(f.explorer.model()->index(1));
        QTest::mouseClick(lv->viewport(), Qt::LeftButton, {}, xRect.center());
        QTest::mouseDClick(lv->viewport(), Qt::LeftButton, {}, xRect.center());
        QCOMPARE(opened.size(), 3);
        QCOMPARE(opened.at(2).at(1).toInt(), 0);
        QCOMPARE(opened.at(2).at(2).toString(), QString());

        // The View menu item opens too.
        f.explorer.contextMenu()->actions().at(0)->trigger();
        QCOMPARE(opened.size(), 4);
    }

    void mouseButtons()
    {
        Fixture f;
        const QString dir = listThree(f);
        QListView *lv = f.explorer.listView();
        QSignalSpy selected(&f.explorer, &ImageExplore::ItemSelected);

        const QRect cRect = lv->visualRect(f.explorer.model()->index(2));
        QTest::mouseClick(lv->viewport(), Qt::LeftButton, {}, cRect.center());
        QCOMPARE(strings(selected), QStringList{dir + "/c.png"});
        QVERIFY(!f.explorer.contextMenu()->isVisible());

        // Right click over an item: the menu at the pointer, over empty space: nothing.
        const QRect bRect = lv->visualRect(f.explorer.model()->index(1));
        QTest::mouseClick(lv->viewport(), Qt::RightButton, {}, bRect.center());
        QTRY_VERIFY(f.explorer.contextMenu()->isVisible());
        QCOMPARE(lv->currentIndex().row(), 1);
        QCOMPARE(selected.size(), 1);
        f.explorer.contextMenu()->hide();

        QTest::mouseClick(lv->viewport(), Qt::RightButton, {},
                          QPoint(lv->viewport()->width() - 5, lv->viewport()->height() - 5));
        QTest::qWait(20);
        QVERIFY(!f.explorer.contextMenu()->isVisible());
    }

    void deleteToTrashSelectsTheItemBefore()
    {
        Fixture f;
        const QString dir = listThree(f);
        f.explorer.SetSelectedFocus(dir + "/b.png");
        QSignalSpy selected(&f.explorer, &ImageExplore::ItemSelected);
        f.prompts.answerMessage(PromptAnswer::Yes);
        f.explorer.contextMenu()->actions().at(5)->trigger(); // Delete

        QCOMPARE(f.prompts.asked().size(), 1);
        QVERIFY(f.prompts.asked().at(0).text.contains("trash"));
        QVERIFY(!QFileInfo::exists(dir + "/b.png"));
        QCOMPARE(QDir(f.sandbox.file("data/Trash/files")).entryList(QDir::Files),
                 QStringList{"b.png"});
        QCOMPARE(strings(selected), QStringList{dir + "/a.png"});
        QCOMPARE(tags(f.explorer), (QStringList{dir + "/a.png", dir + "/c.png"}));
        QCOMPARE(f.explorer.imagePaths(), (QStringList{dir + "/a.png", dir + "/c.png"}));
        // The count still holds the removed item.
        QCOMPARE(f.explorer.itemCount(), 3);

        // The Delete key does the same; its release reports the selection once more.
        selected.clear();
        f.prompts.answerMessage(PromptAnswer::Yes);
        f.explorer.SetSelectedFocus(dir + "/c.png");
        QTest::keyClick(f.explorer.listView(), Qt::Key_Delete);
        QCOMPARE(strings(selected), (QStringList{dir + "/a.png", dir + "/a.png"}));
        QCOMPARE(f.explorer.imagePaths(), QStringList{dir + "/a.png"});
        QCOMPARE(f.explorer.itemCount(), 2);
    }

    void shiftDeleteOfTheFirstIsPermanentAndSelectsNothing()
    {
        Fixture f;
        const QString dir = listThree(f);
        QSignalSpy selected(&f.explorer, &ImageExplore::ItemSelected);
        f.prompts.answerMessage(PromptAnswer::Yes);
        QTest::keyClick(f.explorer.listView(), Qt::Key_Delete, Qt::ShiftModifier);

        QVERIFY(f.prompts.asked().at(0).text.contains("permanently"));
        QVERIFY(!QFileInfo::exists(dir + "/a.png"));
        QVERIFY(!QFileInfo::exists(f.sandbox.file("data/Trash/files/a.png")));
        QCOMPARE(selected.size(), 0);
        QCOMPARE(f.explorer.imagePaths(), (QStringList{dir + "/b.png", dir + "/c.png"}));
    }

    void declinedDeleteChangesNothing()
    {
        Fixture f;
        const QString dir = listThree(f);
        f.prompts.answerMessage(PromptAnswer::No);
        f.explorer.contextMenu()->actions().at(5)->trigger(); // Delete
        QVERIFY(QFileInfo::exists(dir + "/a.png"));
        QCOMPARE(tags(f.explorer).size(), 3);
    }

    void deletingTheOnlyItem()
    {
        Fixture f;
        const QString dir = f.folder("one");
        makeImage(dir + "/only.png");
        f.explorer.ExplorePath(dir);
        QSignalSpy selected(&f.explorer, &ImageExplore::ItemSelected);
        f.prompts.answerMessage(PromptAnswer::Yes);
        f.explorer.contextMenu()->actions().at(5)->trigger(); // Delete
        QCOMPARE(strings(selected), QStringList{dir + "/only.png"});
        QCOMPARE(f.explorer.model()->rowCount(), 0);
        QVERIFY(f.explorer.imagePaths().isEmpty());
    }

    void renameTakesTheNewName()
    {
        Fixture f;
        const QString dir = listThree(f);
        QDir().mkpath(dir + "/taken");
        QAction *rename = f.explorer.contextMenu()->actions().at(6);

        f.prompts.answerInput(std::nullopt); // Cancel
        rename->trigger();
        f.prompts.answerInput(QStringLiteral("taken")); // an existing folder
        rename->trigger();
        QVERIFY(QFileInfo::exists(dir + "/a.png"));
        QCOMPARE(f.prompts.asked().size(), 2);
        QCOMPARE(f.prompts.asked().at(0).text, QStringLiteral("File Name:"));
        QCOMPARE(f.prompts.asked().at(0).title, QStringLiteral("Rename File"));

        f.prompts.answerInput(QStringLiteral("d.png"));
        rename->trigger();
        QVERIFY(QFileInfo::exists(dir + "/d.png"));
        QCOMPARE(tags(f.explorer), (QStringList{dir + "/d.png", dir + "/b.png", dir + "/c.png"}));
        QCOMPARE(f.explorer.model()->item(0).text, QStringLiteral("d.png"));
        QSignalSpy opened(&f.explorer, &ImageExplore::ItemOpened);
        QTest::keyClick(f.explorer.listView(), Qt::Key_Return);
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened.at(0).at(0).toStringList().value(opened.at(0).at(1).toInt()),
                 dir + "/d.png");
    }

    void moveToTakesTheItemOutCopyToLeavesIt()
    {
        Fixture f;
        const QString dir = listThree(f);
        const QString target = f.folder("target");
        auto answerDialog = [target] {
            QTimer::singleShot(0, [target] {
                frmFile *dialog = frmFile::instance();
                dialog->txtDestination()->setText(target + "/");
                dialog->cmdOk()->click();
            });
        };
        f.explorer.SetSelectedFocus(dir + "/b.png");
        answerDialog();
        f.explorer.contextMenu()->actions().at(3)->trigger(); // Copy To
        QVERIFY(QFileInfo::exists(target + "/b.png"));
        QCOMPARE(tags(f.explorer).size(), 3);

        f.explorer.SetSelectedFocus(dir + "/c.png");
        QSignalSpy selected(&f.explorer, &ImageExplore::ItemSelected);
        answerDialog();
        f.explorer.contextMenu()->actions().at(4)->trigger(); // Move To
        QVERIFY(QFileInfo::exists(target + "/c.png"));
        QVERIFY(!QFileInfo::exists(dir + "/c.png"));
        QCOMPARE(tags(f.explorer), (QStringList{dir + "/a.png", dir + "/b.png"}));
        QCOMPARE(strings(selected), QStringList{dir + "/b.png"});
        frmFile::unload();
    }

    void updateAfterOperationRenamesAndRemoves()
    {
        Fixture f;
        const QString dir = listThree(f);
        QSignalSpy selected(&f.explorer, &ImageExplore::ItemSelected);
        const int countBefore = f.explorer.itemCount();

        // Known under another spelling (as on a case-insensitive file system) and gone.
        QVERIFY(QFile::rename(dir + "/a.png", dir + "/x.png"));
        f.explorer.UpdateAfterOperation(dir.toUpper() + "/A.PNG", dir + "/x.png");
        QCOMPARE(tags(f.explorer), (QStringList{dir + "/x.png", dir + "/b.png", dir + "/c.png"}));
        QCOMPARE(f.explorer.model()->item(0).text, QStringLiteral("x.png"));
        QCOMPARE(f.explorer.imagePaths(),
                 (QStringList{dir + "/x.png", dir + "/b.png", dir + "/c.png"}));

        f.explorer.UpdateAfterOperation(dir + "/b.png", QString());
        QCOMPARE(tags(f.explorer), (QStringList{dir + "/x.png", dir + "/c.png"}));
        QCOMPARE(f.explorer.imagePaths(), (QStringList{dir + "/x.png", dir + "/c.png"}));

        // A path no item carries changes nothing.
        f.explorer.UpdateAfterOperation(dir + "/elsewhere.png", QString());
        QCOMPARE(tags(f.explorer).size(), 2);
        QCOMPARE(selected.size(), 0);
        QCOMPARE(f.explorer.itemCount(), countBefore);

        // Opening the renamed item hands the new path.
        QSignalSpy opened(&f.explorer, &ImageExplore::ItemOpened);
        f.explorer.SetSelectedFocus(dir + "/x.png");
        QTest::keyClick(f.explorer.listView(), Qt::Key_Return);
        QCOMPARE(opened.size(), 1);
        QCOMPARE(opened.at(0).at(0).toStringList().value(opened.at(0).at(1).toInt()),
                 dir + "/x.png");
    }

    // Last of all: once the application has been told to quit, no event loop runs again.
    // Names that differ only in case are two files: each operation changes its own item.
    void sameNameInAnotherCase()
    {
        Fixture f;
        const QString dir = f.folder("case");
        makeImage(dir + "/CASE.JPG", QSize(60, 40), Qt::blue);
        makeImage(dir + "/case.jpg", QSize(60, 40), Qt::red);
        makeImage(dir + "/z.jpg");
        f.explorer.ExplorePath(dir);
        QCOMPARE(tags(f.explorer),
                 (QStringList{dir + "/CASE.JPG", dir + "/case.jpg", dir + "/z.jpg"}));

        f.explorer.SetSelectedFocus(dir + "/case.jpg");
        f.prompts.answerInput(QStringLiteral("x.jpg"));
        f.explorer.contextMenu()->actions().at(6)->trigger(); // Rename
        QVERIFY(QFileInfo::exists(dir + "/x.jpg"));
        QCOMPARE(tags(f.explorer),
                 (QStringList{dir + "/CASE.JPG", dir + "/x.jpg", dir + "/z.jpg"}));

        // Delete on the renamed item deletes the renamed file, never the other one.
        f.explorer.SetSelectedFocus(dir + "/x.jpg");
        f.prompts.answerMessage(PromptAnswer::Yes);
        QTest::keyClick(f.explorer.listView(), Qt::Key_Delete, Qt::ShiftModifier);
        QVERIFY(!QFileInfo::exists(dir + "/x.jpg"));
        QVERIFY(QFileInfo::exists(dir + "/CASE.JPG"));
        QCOMPARE(tags(f.explorer), (QStringList{dir + "/CASE.JPG", dir + "/z.jpg"}));

        // The viewer reports a file by its exact path; a spelling whose own file is still
        // there is another file and changes nothing.
        f.explorer.UpdateAfterOperation(dir + "/case.jpg", QString());
        f.explorer.UpdateAfterOperation(dir + "/z.JPG", QString());
        QCOMPARE(tags(f.explorer), (QStringList{dir + "/CASE.JPG", dir + "/z.jpg"}));
    }

    // Pipes named like pictures, pipes planted in the thumbnail cache and names that are not
    // valid UTF-8: the listing completes and shows every picture with a readable name.
    void listingWithPipesAndOddNames()
    {
        Fixture f;
        test::FifoWatchdog watchdog(10000);
        const QString dir = f.folder("odd");
        makeImage(dir + "/a.png");
        makeImage(dir + "/b.png");
        QVERIFY(watchdog.make(dir + "/pipe.jpg"));
        const QByteArray latin = QFile::encodeName(dir) + "/caf\xe9.png";
        QVERIFY(QFile::copy(dir + "/a.png", dir + "/tmp.png"));
        QCOMPARE(::rename(QFile::encodeName(dir + "/tmp.png").constData(), latin.constData()), 0);
        QCOMPARE(::mkdir((QFile::encodeName(dir) + "/sub\xff").constData(), 0755), 0);
        // The cached thumbnail of b.png and its failure record are pipes.
        const ThumbnailCache cache(f.explorer.thumbnailCacheRoot());
        QDir().mkpath(QFileInfo(cache.largePath(dir + "/b.png")).path());
        QDir().mkpath(QFileInfo(cache.failurePath(dir + "/b.png")).path());
        QVERIFY(watchdog.make(cache.largePath(dir + "/b.png")));
        QVERIFY(watchdog.make(cache.failurePath(dir + "/b.png")));

        QVERIFY(f.explore(dir));
        QVERIFY(!watchdog.tripped());
        const QString oddFolder = pathFromNative(QFile::encodeName(dir) + "/sub\xff");
        const QString oddPicture = pathFromNative(latin);
        QCOMPARE(tags(f.explorer),
                 (QStringList{oddFolder, dir + "/a.png", dir + "/b.png", oddPicture}));
        QCOMPARE(f.explorer.model()->item(0).text, QString::fromUtf8("sub\xef\xbf\xbd"));
        QCOMPARE(f.explorer.model()->item(3).text, QString::fromUtf8("caf\xef\xbf\xbd.png"));
        QCOMPARE(pictureSize(f.explorer, 2), QSize(140, 93));
        QCOMPARE(pictureSize(f.explorer, 3), QSize(140, 93));
        QCOMPARE(f.explorer.imagePaths(),
                 (QStringList{dir + "/a.png", dir + "/b.png", oddPicture}));
        QCOMPARE(f.explorer.GetImageList(dir, "*.*"),
                 (QStringList{dir + "/a.png", dir + "/b.png", oddPicture}));
        QVERIFY(f.prompts.asked().isEmpty());
    }

    // A folder the user may not read, or may read but not enter, says so in the empty list.
    void closedFolderSaysSo_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("reason");
        QTest::newRow("chmod 000") << 0 << "no permission to open the folder";
        QTest::newRow("read, not enter") << 0444 << "can be read but not entered";
    }
    void closedFolderSaysSo()
    {
        QFETCH(int, mode);
        QFETCH(QString, reason);
        Fixture f;
        ::chmod(QFile::encodeName(f.sandbox.path()).constData(), 0755);
        const QString dir = f.folder("closed");
        makeImage(dir + "/a.png");
        ::chmod(QFile::encodeName(dir).constData(), mode_t(mode));
        {
            test::FileSystemUser user;
            PoolAsFileSystemUser worker;
            f.explorer.ExplorePath(dir);
        }
        ::chmod(QFile::encodeName(dir).constData(), 0755);
        QCOMPARE(f.explorer.model()->rowCount(), 0);
        QVERIFY(f.explorer.noticeLabel()->isVisible());
        QVERIFY2(f.explorer.noticeLabel()->text().contains(reason),
                 qPrintable(f.explorer.noticeLabel()->text()));

        // The next folder that is merely empty shows the usual words again.
        f.explorer.ExplorePath(f.folder("empty"));
        QCOMPARE(f.explorer.noticeLabel()->text(), QStringLiteral("there are no items to show."));
    }

    void applicationQuittingEndsTheListing()
    {
        Fixture f;
        const QString dir = f.folder("quitting");
        for (int i = 0; i < 40; ++i)
            makeImage(dir + QStringLiteral("/q%1.png").arg(i), QSize(1200, 900));
        QSignalSpy selected(&f.explorer, &ImageExplore::ItemSelected);
        // The folder is read on the shared pool: kept busy, the reading cannot end before the
        // quit, however the machine schedules the threads.
        QThreadPool *pool = QThreadPool::globalInstance();
        const int busy = pool->maxThreadCount();
        QSemaphore release;
        for (int i = 0; i < busy; ++i)
            pool->start([&release] { release.acquire(); });
        const auto freePool = qScopeGuard([&] {
            release.release(busy);
            pool->waitForDone();
        });
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        f.explorer.ExplorePath(dir);
        QVERIFY(f.explorer.stopFlag());
        QVERIFY(!f.explorer.isListing());
        const int filled = f.explorer.itemCount();
        QVERIFY(filled < 40);
        QCOMPARE(strings(selected), QStringList{QString()}); // no "complete" report
        QTest::qWait(200);
        QCOMPARE(f.explorer.itemCount(), filled);
    }
};

QTEST_MAIN(ImageExploreTest)
#include "imageexploretest.moc"
