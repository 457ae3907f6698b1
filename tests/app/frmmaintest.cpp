#include "../components/codecs/hostilefiles.h"

#include "app/foldertree.h"
#include "app/foldertreemodel.h"
#include "app/frmmain.h"
#include "components/codecs/decodebudget.h"
#include "components/engine/imagedocument.h"
#include "components/engine/imageview.h"
#include "components/twips.h"
#include "explorer/explorermodel.h"
#include "explorer/imageexplore.h"
#include "explorer/previewdecoder.h"
#include "shell/modassoc.h"
#include "support/fifowatchdog.h"
#include "support/sandbox.h"
#include "support/scriptedprompts.h"
#include "viewer/frmviwer.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QListView>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QSplitter>
#include <QStandardPaths>
#include <QTest>

using namespace qmt;

// The main window driven offscreen in a sandboxed home: its start-up, layout, tree reactions,
// preview and the way it hands pictures to the viewer.
class FrmMainTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<test::Sandbox> m_sandbox;
    std::unique_ptr<test::ScriptedPrompts> m_prompts;
    int m_ended = 0;
    bool m_viewerLoadedAtEnd = true;
    QString m_home;
    QString m_pictures; // two pictures and a sub-folder
    QString m_other;    // one picture

    static void picture(const QString &path, int w = 64, int h = 48, const char *format = "PNG")
    {
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(QColor(30, 120, 200));
        QVERIFY2(image.save(path, format), qPrintable(path));
    }

    // Asks the preview for `path` and waits until it shows what it was asked for.
    static bool showPreview(frmMain &window, const QString &path)
    {
        QSignalSpy shown(&window, &frmMain::previewShown);
        window.ShowPreview(path);
        return (!shown.isEmpty() || shown.wait(10000)) && shown.last().first().toString() == path &&
               !window.isPreviewPending();
    }

    std::unique_ptr<frmMain> loaded(const QString &commandLine, bool *keepsRunning = nullptr)
    {
        auto window = std::make_unique<frmMain>();
        const bool running = window->Load(commandLine);
        if (keepsRunning)
            *keepsRunning = running;
        return window;
    }

private Q_SLOTS:
    void init()
    {
        m_sandbox = std::make_unique<test::Sandbox>();
        m_prompts = std::make_unique<test::ScriptedPrompts>();
        m_home = m_sandbox->file(QStringLiteral("home"));
        m_pictures = m_sandbox->makeDir(QStringLiteral("home/Pictures"));
        m_sandbox->makeDir(QStringLiteral("home/Pictures/Trips"));
        picture(m_pictures + QStringLiteral("/b2.png"));
        picture(m_pictures + QStringLiteral("/b10.png"));
        m_other = m_sandbox->makeDir(QStringLiteral("home/Other"));
        picture(m_other + QStringLiteral("/only.png"));
        m_ended = 0;
        m_viewerLoadedAtEnd = true;
        frmMain::setProcessEnder([this] {
            ++m_ended;
            m_viewerLoadedAtEnd = frmViwer::isLoaded();
        });
        twips::clearOverride();
    }

    void cleanup()
    {
        if (frmViwer::isLoaded())
            frmViwer::unload();
        twips::clearOverride();
        m_prompts.reset();
        m_sandbox.reset();
    }

    void windowParts()
    {
        frmMain window;
        QCOMPARE(window.windowTitle(), QStringLiteral("Lumisk"));
        QCOMPARE(window.Splitter2->count(), 3);
        QCOMPARE(window.Splitter2->widget(0), static_cast<QWidget *>(window.TV1));
        QCOMPARE(window.Splitter2->widget(1), static_cast<QWidget *>(window.ImageExplore1));
        QCOMPARE(window.Splitter2->widget(2), window.container);
        QStringList captions;
        for (QPushButton *b : {window.cmdNext, window.cmdPrev, window.cmdZoomOut, window.cmdZoomIn,
                               window.cmdWallPaper, window.cmdView}) {
            QCOMPARE(b->parentWidget(), window.Toolbar);
            captions.append(b->text());
        }
        QCOMPARE(captions, (QStringList{"Next", "Previous", "Zoom Out", "Zoom In",
                                        "Set as wallpaper", "View Image"}));
    }

    void layoutSnapsInTwips_data()
    {
        QTest::addColumn<double>("twipsPerPixel");
        QTest::addColumn<QSize>("asked");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("96 dpi, too small") << 15.0 << QSize(10, 10) << QSize(247, 160);
        QTest::newRow("96 dpi, too narrow") << 15.0 << QSize(100, 500) << QSize(247, 500);
        QTest::newRow("96 dpi, too low") << 15.0 << QSize(800, 100) << QSize(800, 160);
        QTest::newRow("96 dpi, large") << 15.0 << QSize(900, 600) << QSize(900, 600);
        QTest::newRow("120 dpi, too small") << 12.0 << QSize(10, 10) << QSize(308, 200);
    }
    void layoutSnapsInTwips()
    {
        QFETCH(double, twipsPerPixel);
        QFETCH(QSize, asked);
        QFETCH(QSize, expected);
        twips::setOverride(twipsPerPixel, twipsPerPixel);
        frmMain window;
        window.setMinimumSize(0, 0); // the resize handler itself must snap
        window.show();
        window.resize(asked);
        QTRY_COMPARE(window.size(), expected);
        QCOMPARE(window.Splitter2->width(), expected.width() - twips::toPixelsX(300));
        QCOMPARE(window.Splitter2->height(), expected.height() - twips::toPixelsY(1000));
        QVERIFY(window.Splitter2->geometry().right() < window.width());
        QVERIFY(window.Splitter2->geometry().bottom() < window.height());
    }

    void switchesEndWithoutWindow_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<bool>("ends");
        QTest::newRow("/Associate") << "/Associate" << true;
        QTest::newRow("/DeAssociate") << "/DeAssociate" << true;
        QTest::newRow("/associate") << "/associate" << false;
        QTest::newRow("/DEASSOCIATE") << "/DEASSOCIATE" << false;
        QTest::newRow("missing path") << "/no/such/picture.jpg" << false;
    }
    void switchesEndWithoutWindow()
    {
        QFETCH(QString, commandLine);
        QFETCH(bool, ends);
        bool running = false;
        auto window = loaded(commandLine, &running);
        QCOMPARE(running, !ends);
        QCOMPARE(m_ended, ends ? 1 : 0);
        QCOMPARE(window->isVisible(), !ends);
        QCOMPARE(window->CommandLine, commandLine);
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("ZEB Orvanta"));
        QCOMPARE(frmViwer::isLoaded(), false);
    }

    void firstListing_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<bool>("desktop");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<int>("images");
        QTest::newRow("desktop") << QString() << true << "home/Desktop/" << 1;
        QTest::newRow("no desktop folder") << QString() << false << "home/" << 0;
        QTest::newRow("folder") << "home/Pictures" << true << "home/Pictures/" << 2;
        QTest::newRow("folder with slash") << "home/Other/" << false << "home/Other/" << 1;
    }
    void firstListing()
    {
        QFETCH(QString, commandLine);
        QFETCH(bool, desktop);
        QFETCH(QString, selected);
        QFETCH(int, images);
        if (desktop) {
            m_sandbox->makeDir(QStringLiteral("home/Desktop"));
            picture(m_home + QStringLiteral("/Desktop/d.png"));
        } else {
            QFile dirs(m_sandbox->file(QStringLiteral("config/user-dirs.dirs")));
            QVERIFY(dirs.open(QIODevice::WriteOnly));
            dirs.write("XDG_DESKTOP_DIR=\"$HOME/Nowhere\"\n");
        }
        const QString line = commandLine.isEmpty() ? QString() : m_sandbox->file(commandLine);
        auto window = loaded(line);
        QVERIFY(window->isVisible());
        QTRY_COMPARE(window->TV1->SelectedPath(), m_sandbox->file(selected));
        QTRY_COMPARE(window->ImageExplore1->imagePaths().size(), images);
        // The Desktop node is there only when the desktop folder is.
        const QModelIndex first = window->TV1->model()->index(0, 0);
        QCOMPARE(first.data().toString() == QLatin1String("Desktop"), desktop);
        QCOMPARE(m_ended, 0);
    }

    // Phone, camera and web pictures, their extensions in any case, made by each format's own
    // encoder: the browser lists them with thumbnails, and a viewer started on one of them gets
    // the whole folder as its list.
    void modernPicturesListedInAnyCase()
    {
        const QString dir = m_sandbox->makeDir(QStringLiteral("home/Phone"));
        const QString source = dir + QStringLiteral("/.source.png");
        picture(source, 40, 30);
        const QList<QStringList> encodes{
            {"cwebp", "-q", "80", source, "-o", dir + "/a.WEBP"},
            {"avifenc", source, dir + "/b.Avif"},
            {"heif-enc", "-q", "60", source, "-o", dir + "/c.HEIC"},
            {"heif-enc", "-q", "60", source, "-o", dir + "/d.heif"},
            {"cjxl", source, dir + "/e.JXL"},
        };
        for (const QStringList &encode : encodes) {
            if (QStandardPaths::findExecutable(encode.first()).isEmpty())
                QSKIP(qPrintable(encode.first() + " is missing (tools/setup.sh installs it)"));
            QProcess process;
            process.start(encode.first(), encode.mid(1));
            QVERIFY(process.waitForFinished(60000) && process.exitCode() == 0);
        }
        picture(dir + QStringLiteral("/notes.txt"));
        const QStringList expected{dir + "/a.WEBP", dir + "/b.Avif", dir + "/c.HEIC",
                                   dir + "/d.heif", dir + "/e.JXL"};

        auto window = loaded(dir);
        QTRY_COMPARE(window->ImageExplore1->imagePaths(), expected);
        const auto centreOf = [&window](int row) {
            const QImage thumbnail =
                window->ImageExplore1->model()
                    ->data(window->ImageExplore1->model()->index(row), ExplorerModel::PictureRole)
                    .value<QImage>();
            return thumbnail.isNull()
                       ? QRgb(0)
                       : thumbnail.pixel(thumbnail.width() / 2, thumbnail.height() / 2);
        };
        // Each thumbnail shows the picture's blue, not a broken-file icon.
        for (int row = 0; row < expected.size(); ++row)
            QTRY_VERIFY2_WITH_TIMEOUT(qBlue(centreOf(row)) > 150 && qRed(centreOf(row)) < 90,
                                      qPrintable(expected.at(row)), 20000);
        window.reset();

        auto viewing = loaded(dir + QStringLiteral("/c.HEIC"));
        QVERIFY(frmViwer::isLoaded());
        // The folder's list follows the picture, from a worker.
        QTRY_COMPARE(frmViwer::instance()->PathList(), expected);
        QCOMPARE(frmViwer::instance()->CurrentIndex(), 2);
    }

    void rootOnTheCommandLine()
    {
        auto window = loaded(QStringLiteral("/"));
        QVERIFY(window->isVisible());
        QTRY_COMPARE(window->TV1->SelectedPath(), QStringLiteral("/"));
        QVERIFY(!frmViwer::isLoaded());
    }

    void fileOpensTheViewer()
    {
        auto window = loaded(m_pictures + QStringLiteral("//b10.png"));
        QVERIFY(!window->isVisible());
        QVERIFY(frmViwer::isLoaded());
        QVERIFY(frmViwer::instance()->isVisible());
        QVERIFY(frmViwer::instance()->bCommand);
        QCOMPARE(m_ended, 0);
    }

    void aPictureIsDrawnBeforeTheHiddenBrowserIsSkinned()
    {
        auto window = loaded(m_pictures + QStringLiteral("/b10.png"));
        QVERIFY(frmViwer::instance()->isVisible());
        // The browser is skinned and the types checked once the picture is up, not before the
        // viewer is shown.
        QTRY_VERIFY_WITH_TIMEOUT(window->isSkinned(), 3000);
        QCOMPARE(IsAssociated(QStringLiteral(".png"), QStringLiteral("Orvanta.png")), 1);
    }

    void aPictureThatCannotBeShownHoldsNothingBack()
    {
        const QString bad = m_other + QStringLiteral("/bad.jpg");
        QFile file(bad);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\xff\xd8 not really a picture");
        file.close();
        auto window = loaded(bad);
        QVERIFY(!window->isVisible());
        // No picture will be drawn: the rest of the start-up does not wait for one.
        QTRY_VERIFY_WITH_TIMEOUT(window->isSkinned(), 1500);
        QCOMPARE(IsAssociated(QStringLiteral(".png"), QStringLiteral("Orvanta.png")), 1);
    }

    void aBrowserShownEarlyIsSkinnedFirst()
    {
        frmMain window;
        QVERIFY(!window.isSkinned());
        window.show();
        QVERIFY(window.isSkinned());
    }

    void backFromACommandLineViewer()
    {
        m_sandbox->makeDir(QStringLiteral("home/Desktop"));
        auto window = loaded(m_other + QStringLiteral("/only.png"));
        QVERIFY(!window->isVisible());
        Q_EMIT frmViwer::instance()->returnedToBrowser(m_other + QStringLiteral("/only.png"));
        QVERIFY(window->isVisible());
        QTest::qWait(50); // the tree's ready event comes after the first show
        QCOMPARE(window->TV1->SelectedPath(), m_other + QLatin1Char('/'));
        QCOMPARE(window->ImageExplore1->imagePaths(), QStringList{m_other + "/only.png"});
    }

    void cursorsAreListed()
    {
        const QString cursor = m_other + QStringLiteral("/pointer.cur");
        picture(cursor, 32, 32, "ICO");
        {
            // An icon file becomes a cursor file by its type field.
            QFile file(cursor);
            QVERIFY(file.open(QIODevice::ReadWrite));
            file.seek(2);
            file.write(QByteArray("\x02\x00", 2));
        }
        const QStringList both{m_other + "/only.png", cursor};
        {
            auto window = loaded(m_other);
            QTRY_COMPARE(window->ImageExplore1->imagePaths(), both);
        }
        // The viewer's list of a picture named on the command line has it too.
        auto window = loaded(m_other + QStringLiteral("/only.png"));
        QTRY_COMPARE(frmViwer::instance()->PathList(), both);
        frmViwer::instance()->NextImage();
        QCOMPARE(frmViwer::instance()->ImgX()->document()->ImageWidthPx(), 32);
    }

    void openingANodeListsNothing()
    {
        auto window = loaded(m_pictures);
        QTRY_COMPARE(window->ImageExplore1->imagePaths().size(), 2);
        FolderTree *tree = window->TV1;
        // A click on the folder: listed, and the tree counts as used.
        const QModelIndex pictures = tree->folderModel()->indexForPath(m_pictures);
        tree->scrollTo(pictures);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                          tree->visualRect(pictures).center());
        QVERIFY(window->TreeUsed);
        // The user picks a picture.
        QListView *lv = window->ImageExplore1->listView();
        const QString b10 = m_pictures + QStringLiteral("/b10.png");
        const QRect cell = lv->visualRect(window->ImageExplore1->model()->index(2));
        QTest::mouseClick(lv->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(window->ImageExplore1->selectedPath(), b10);
        QTRY_COMPARE(window->ImgX->document()->ImageFileName(), b10);

        // Opening and closing the node, with the keys and with its branch, lists nothing again.
        QSignalSpy selected(window->ImageExplore1, &ImageExplore::ItemSelected);
        tree->setFocus();
        tree->collapse(pictures);
        QTest::keyClick(tree, Qt::Key_Right);
        QVERIFY(tree->isExpanded(pictures));
        QTest::keyClick(tree, Qt::Key_Left);
        const QRect row = tree->visualRect(pictures);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                          QPoint(row.left() - tree->indentation() / 2, row.center().y()));
        QVERIFY(tree->isExpanded(pictures));
        QCOMPARE(selected.count(), 0);
        QCOMPARE(window->ImageExplore1->selectedPath(), b10);
        QCOMPARE(window->ImgX->document()->ImageFileName(), b10);
    }

    void thePreviewShowsTheSelection()
    {
        // Started on a picture, then back to the browser: the picture is selected and previewed.
        const QString b2 = m_pictures + QStringLiteral("/b2.png");
        const QString b10 = m_pictures + QStringLiteral("/b10.png");
        auto window = loaded(b10);
        frmViwer *viewer = frmViwer::instance();
        viewer->findChild<QAction *>(QStringLiteral("mnuBrowse"))->trigger();
        QVERIFY(window->isVisible());
        QCOMPARE(window->ImageExplore1->selectedPath(), b10);
        QTRY_COMPARE(window->ImgX->document()->ImageFileName(), b10);

        // Opened from the list, deleted in the viewer, back again: the picture left the list and
        // the preview; nothing is selected, nothing shown.
        QListView *lv = window->ImageExplore1->listView();
        lv->setFocus();
        QTest::keyClick(lv, Qt::Key_Return);
        QVERIFY(viewer->isVisible());
        QCOMPARE(viewer->PathList(), (QStringList{b2, b10}));
        m_prompts->answerMessage(PromptAnswer::Yes);
        viewer->findChild<QAction *>(QStringLiteral("mnuDelete"))->trigger();
        QVERIFY(!QFileInfo::exists(b10));
        viewer->findChild<QAction *>(QStringLiteral("mnuBrowse"))->trigger();
        QVERIFY(window->isVisible());
        QCOMPARE(window->ImageExplore1->imagePaths(), QStringList{b2});
        QCOMPARE(window->ImageExplore1->selectedPath(), QString());
        QCOMPARE(window->ImgX->document()->PageCount(), 0);

        // A picture renamed in the viewer is previewed under its new name.
        lv->setFocus();
        window->ImageExplore1->SetSelectedFocus(b2);
        QTest::keyClick(lv, Qt::Key_Return);
        QVERIFY(viewer->isVisible());
        m_prompts->answerInput(QStringLiteral("renamed.png"));
        viewer->findChild<QAction *>(QStringLiteral("mnuRename"))->trigger();
        const QString renamed = m_pictures + QStringLiteral("/renamed.png");
        QVERIFY(QFileInfo::exists(renamed));
        QCOMPARE(window->ImageExplore1->selectedPath(), renamed);
        QTRY_COMPARE(window->ImgX->document()->ImageFileName(), renamed);
    }

    void theBrowserComesBackWhereItWas()
    {
        // Placed by the window system (and moved by the user there), not by the program.
        frmMain window;
        window.resize(700, 450);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(!window.testAttribute(Qt::WA_Moved));
        const QRect before = window.frameGeometry();
        window.OpenFromExplorer({m_other + QStringLiteral("/only.png")}, 0, QString());
        QVERIFY(!window.isVisible());
        frmViwer::instance()->findChild<QAction *>(QStringLiteral("mnuBrowse"))->trigger();
        QVERIFY(window.isVisible());
        QCOMPARE(window.frameGeometry(), before);
        // The place goes to the window system with the window, rather than leaving it free to
        // choose another.
        QVERIFY(window.testAttribute(Qt::WA_Moved));
    }

    void theBrowserFirstShownByTheViewerIsOnTheScreen()
    {
        auto window = loaded(m_other + QStringLiteral("/only.png"));
        frmViwer::instance()->findChild<QAction *>(QStringLiteral("mnuBrowse"))->trigger();
        QVERIFY(window->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        const QRect area = window->screen()->availableGeometry();
        const QRect frame = window->frameGeometry();
        QVERIFY(area.contains(frame));
        // In the middle of the screen, not where the window system first thought of.
        QVERIFY(std::abs(frame.center().x() - area.center().x()) <= 2);
        QVERIFY(std::abs(frame.center().y() - area.center().y()) <= 2);
    }

    void event20BeforeEvent9ListsNothing()
    {
        frmMain window;
        window.ImageExplore1->SetExt(QStringLiteral("PNG JPG"));
        QVERIFY(window.TV1->setSelectedPath(m_pictures));
        QSignalSpy selected(window.ImageExplore1, &ImageExplore::ItemSelected);
        Q_EMIT window.TV1->event20(window.TV1->currentIndex());
        QCOMPARE(selected.count(), 0);
        QVERIFY(!window.TreeUsed);

        Q_EMIT window.TV1->event9();
        QVERIFY(window.TreeUsed);
        QVERIFY(selected.count() > 0);
        QCOMPARE(selected.first().first().toString(), QString());
        QCOMPARE(window.ImageExplore1->imagePaths().size(), 2);

        QVERIFY(window.TV1->setSelectedPath(m_other));
        selected.clear();
        Q_EMIT window.TV1->event20(window.TV1->currentIndex());
        QVERIFY(selected.count() > 0);
        QCOMPARE(window.ImageExplore1->imagePaths(), QStringList{m_other + "/only.png"});
    }

    void event12Lists()
    {
        frmMain window;
        window.ImageExplore1->SetExt(QStringLiteral("PNG JPG"));
        QVERIFY(window.TV1->setSelectedPath(m_other));
        Q_EMIT window.TV1->event12(window.TV1->currentIndex());
        QCOMPARE(window.ImageExplore1->imagePaths(), QStringList{m_other + "/only.png"});
        QVERIFY(!window.TreeUsed);
    }

    void checkPath()
    {
        frmMain window;
        window.ImageExplore1->SetExt(QStringLiteral("PNG JPG"));
        QVERIFY(window.TV1->setSelectedPath(m_pictures));
        Q_EMIT window.TV1->event9();
        QSignalSpy selected(window.ImageExplore1, &ImageExplore::ItemSelected);

        // The folder the tree shows: nothing at all happens.
        window.CheckPath(m_pictures + QStringLiteral("/b2.png"));
        QCOMPARE(selected.count(), 0);
        QCOMPARE(window.TV1->SelectedPath(), m_pictures + QLatin1Char('/'));

        // Another folder: the tree and the listing follow the picture.
        window.CheckPath(m_other + QStringLiteral("/only.png"));
        QCOMPARE(window.TV1->SelectedPath(), m_other + QLatin1Char('/'));
        QVERIFY(selected.count() > 0);
        QCOMPARE(window.ImageExplore1->imagePaths(), QStringList{m_other + "/only.png"});
    }

    void openingAFolderThumbnailMovesTheTree()
    {
        frmMain window;
        window.ImageExplore1->SetExt(QStringLiteral("PNG JPG"));
        window.OpenFromExplorer({}, 0, m_pictures + QStringLiteral("/Trips"));
        QCOMPARE(window.TV1->SelectedPath(), m_pictures + QStringLiteral("/Trips/"));
        QVERIFY(!frmViwer::isLoaded());
    }

    void openingAnImageShowsTheViewer()
    {
        frmMain window;
        window.show();
        const QStringList list{m_pictures + "/b2.png", m_pictures + "/b10.png"};
        window.OpenFromExplorer(list, 1, QString());
        QVERIFY(!window.isVisible());
        QVERIFY(frmViwer::isLoaded());
        QVERIFY(frmViwer::instance()->isVisible());
        QVERIFY(!frmViwer::instance()->bCommand);

        // Back to the browser through the viewer's signal.
        Q_EMIT frmViwer::instance()->returnedToBrowser(m_other + QStringLiteral("/only.png"));
        QVERIFY(window.isVisible());
        QCOMPARE(window.TV1->SelectedPath(), m_other + QLatin1Char('/'));
    }

    void preview_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("pages");
        QTest::addColumn<bool>("fromFile");
        QTest::newRow("png") << "p.png" << 1 << true;
        QTest::newRow("ico") << "i.ico" << 1 << false;
        QTest::newRow("bmp as dib") << "d.dib" << 1 << false;
        // The first page decoded, the others read from the file when shown.
        QTest::newRow("multi-page tiff") << "t.tif" << 3 << true;
        QTest::newRow("damaged jpg") << "bad.jpg" << 0 << true;
        QTest::newRow("folder") << "Trips" << 0 << false;
        QTest::newRow("nothing") << "" << 0 << false;
        QTest::newRow("fifo named like a picture") << "f.jpg" << 0 << false;
    }
    void preview()
    {
        QFETCH(QString, name);
        QFETCH(int, pages);
        QFETCH(bool, fromFile);
        picture(m_pictures + QStringLiteral("/p.png"));
        picture(m_pictures + QStringLiteral("/i.ico"), 32, 32, "ICO");
        picture(m_pictures + QStringLiteral("/d.dib"), 20, 10, "BMP");
        QFile bad(m_pictures + QStringLiteral("/bad.jpg"));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("\xff\xd8\xff\xe0 broken");
        bad.close();
        test::FifoWatchdog watchdog;
        QVERIFY(watchdog.make(m_pictures + QStringLiteral("/f.jpg")));
        QFile tiff(m_pictures + QStringLiteral("/t.tif"));
        QVERIFY(tiff.open(QIODevice::WriteOnly));
        tiff.write(hostile::tiffOfHugePages(2, 64));
        tiff.close();

        frmMain window;
        ImageDocument *doc = window.ImgX->document();
        QVERIFY(showPreview(window, m_pictures + QStringLiteral("/p.png")));
        QCOMPARE(doc->PageCount(), 1);
        window.ImgX->setMouseToolMode(ImageView::ToolPan);
        QVERIFY(
            showPreview(window, name.isEmpty() ? QString() : m_pictures + QLatin1Char('/') + name));
        QCOMPARE(doc->PageCount(), pages);
        QCOMPARE(doc->ImageFileName().isEmpty(), pages == 0);
        if (pages > 0) {
            QCOMPARE(doc->LoadSourceFlag, fromFile);
            QCOMPARE(window.ImgX->MouseToolMode(), int(ImageView::ToolNone));
            QVERIFY(!doc->GetPage(pages - 1).isNull());
        }
        QVERIFY(m_prompts->asked().isEmpty());
        QVERIFY(!watchdog.tripped());
    }

    void thePreviewDecodesAwayFromTheWindow()
    {
        for (const char *name : {"c1.png", "c2.png", "c3.png", "c4.png"})
            picture(m_pictures + QLatin1Char('/') + QLatin1String(name), 120, 90);
        auto window = loaded(m_pictures);
        ImageExplore *explore = window->ImageExplore1;
        QTRY_COMPARE(explore->imagePaths().size(), 6);
        explore->SetSelectedFocus(explore->imagePaths().first());
        QVERIFY(showPreview(*window, explore->imagePaths().first()));
        ImageDocument *document = window->ImgX->document();
        QTRY_VERIFY(!explore->isMakingThumbnails());

        // The memory the decodes share is taken: the window answers while the preview's decode
        // waits for it, and follows the selection.
        DecodeBudgetShare held;
        held.take(DecodeBudget::reducedDecodes(), qint64(1) << 30);
        QSignalSpy shown(window.get(), &frmMain::previewShown);
        QListView *lv = explore->listView();
        for (int step = 1; step <= 4; ++step) {
            QTest::mouseClick(window->cmdNext, Qt::LeftButton);
            QTRY_COMPARE(explore->selectedPath(), explore->imagePaths().at(step));
        }
        lv->setFocus();
        QTest::keyClick(lv, Qt::Key_End);
        const QString last = explore->imagePaths().last();
        QTRY_COMPARE(explore->selectedPath(), last);
        QVERIFY(window->isPreviewPending());
        QTRY_VERIFY(DecodeBudget::reducedDecodes().waiting() > 0);
        QVERIFY(shown.isEmpty());
        QVERIFY(document->ImageFileName() != last);
        // Meanwhile the picture that was on show goes: it is no longer the selected one.
        QTRY_COMPARE(document->PageCount(), 0);

        // Given the memory, the preview shows the last selection, and nothing before it.
        held.release();
        QTRY_COMPARE(document->ImageFileName(), last);
        PreviewDecoder::waitForIdle();
        QCoreApplication::processEvents();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first().first().toString(), last);
        QVERIFY(document->LoadSourceFlag);
        QCOMPARE(document->ImageWidthPx(), 120);
    }

    void aFolderSelectedWhileThePreviewDecodesIsNotOverwritten()
    {
        auto window = loaded(m_pictures);
        ImageExplore *explore = window->ImageExplore1;
        QTRY_COMPARE(explore->imagePaths().size(), 2);
        const QString b2 = m_pictures + QStringLiteral("/b2.png");
        QVERIFY(showPreview(*window, b2));
        QTRY_VERIFY(!explore->isMakingThumbnails());

        DecodeBudgetShare held;
        held.take(DecodeBudget::reducedDecodes(), qint64(1) << 30);
        window->ShowPreview(m_pictures + QStringLiteral("/b10.png"));
        QTRY_VERIFY(DecodeBudget::reducedDecodes().waiting() > 0);
        // View Image before the decoded picture is taken shows the selected picture, not the
        // one still on show.
        held.release();
        PreviewDecoder::waitForIdle();
        QVERIFY(window->isPreviewPending());
        QCOMPARE(window->ImgX->document()->ImageFileName(), b2);
        window->ViewPreviewImage();
        QTRY_COMPARE(frmViwer::instance()->ImgX()->document()->ImageFileName(),
                     m_pictures + QStringLiteral("/b10.png"));
        frmViwer::instance()->findChild<QAction *>(QStringLiteral("mnuBrowse"))->trigger();

        // A folder selected while a picture decodes: the picture never shows.
        held.take(DecodeBudget::reducedDecodes(), qint64(1) << 30);
        window->ShowPreview(b2);
        QTRY_VERIFY(DecodeBudget::reducedDecodes().waiting() > 0);
        QVERIFY(showPreview(*window, m_pictures + QStringLiteral("/Trips")));
        held.release();
        PreviewDecoder::waitForIdle();
        QCoreApplication::processEvents();
        QCOMPARE(window->ImgX->document()->PageCount(), 0);
        QVERIFY(!window->isPreviewPending());
    }

    void theWindowMayCloseWhileThePreviewDecodes()
    {
        picture(m_pictures + QStringLiteral("/large.png"), 1600, 1200);
        DecodeBudgetShare held;
        {
            auto window = loaded(m_pictures);
            QTRY_COMPARE(window->ImageExplore1->imagePaths().size(), 3);
            QTRY_VERIFY(!window->ImageExplore1->isMakingThumbnails());
            held.take(DecodeBudget::reducedDecodes(), qint64(1) << 30);
            window->ShowPreview(m_pictures + QStringLiteral("/large.png"));
            QTRY_VERIFY(DecodeBudget::reducedDecodes().waiting() > 0);
            window->close();
            QCOMPARE(m_ended, 1);
        }
        // The decode ends after the window went away; its result goes nowhere.
        held.release();
        PreviewDecoder::waitForIdle();
        QCoreApplication::processEvents();
        QCOMPARE(DecodeBudget::reducedDecodes().held(), 0);
    }

    void viewPreviewImage()
    {
        picture(m_pictures + QStringLiteral("/i.ico"), 32, 32, "ICO");
        frmMain window;
        window.show();
        window.ViewPreviewImage(); // nothing previewed: nothing happens
        QVERIFY(!frmViwer::isLoaded());
        QVERIFY(window.isVisible());

        QVERIFY(showPreview(window, m_pictures + QStringLiteral("/i.ico")));
        frmViwer::instance()->bCommand = true;
        window.ViewPreviewImage();
        QVERIFY(!window.isVisible());
        QVERIFY(frmViwer::instance()->isVisible());
        QVERIFY(frmViwer::instance()->bCommand); // kept as it was
    }

    void previewZoomBounds()
    {
        twips::setOverride(15, 15);
        frmMain window;
        window.resize(1000, 700);
        window.show();
        picture(m_pictures + QStringLiteral("/big.png"), 2000, 1500);
        ImageView *view = window.ImgX;

        // No picture: the buttons do nothing.
        view->setZoomFactor(1.0);
        window.PreviewZoomIn();
        window.PreviewZoomOut();
        QCOMPARE(view->ZoomFactor(), 1.0);

        QVERIFY(showPreview(window, m_pictures + QStringLiteral("/big.png")));
        window.PreviewZoomIn();
        QCOMPARE(view->ZoomFactor(), 1.25);
        QCOMPARE(view->MouseToolMode(), int(ImageView::ToolPan));
        // Zooming out until the picture fits gives back the plain mouse.
        while (view->ZoomFactor() * 2000 * 15 > twips::fromPixelsX(view->width()) ||
               view->ZoomFactor() * 1500 * 15 > twips::fromPixelsY(view->height())) {
            const double before = view->ZoomFactor();
            window.PreviewZoomOut();
            QCOMPARE(view->ZoomFactor(), before * 0.75);
        }
        QCOMPARE(view->MouseToolMode(), int(ImageView::ToolNone));

        view->setZoomFactor(16.0);
        window.PreviewZoomIn(); // exactly 1600 %: still allowed
        QCOMPARE(view->ZoomFactor(), 20.0);
        window.PreviewZoomIn(); // above 1600 %: refused
        QCOMPARE(view->ZoomFactor(), 20.0);

        view->setZoomFactor(0.005);
        window.PreviewZoomOut(); // exactly 0.5 %: still allowed
        QCOMPARE(view->ZoomFactor(), 0.00375);
        window.PreviewZoomOut(); // below 0.5 %: refused
        QCOMPARE(view->ZoomFactor(), 0.00375);

        // The bar's own indexes.
        view->setZoomFactor(1.0);
        window.Toolbar_ButtonClick(4, QString());
        QCOMPARE(view->ZoomFactor(), 1.25);
        window.Toolbar_ButtonClick(5, QString());
        QCOMPARE(view->ZoomFactor(), 1.25 * 0.75);
        window.Toolbar_ButtonClick(6, QString());
        QCOMPARE(view->ZoomFactor(), 1.25 * 0.75);
    }

    void findWin()
    {
        frmMain window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(frmMain::FindWin(QStringLiteral("umis")) != 0);
        QCOMPARE(frmMain::FindWin(QStringLiteral("umis")), window.windowHandle()->winId());
        QCOMPARE(frmMain::FindWin(QStringLiteral("lumisk")), WId(0));
        QCOMPARE(frmMain::FindWin(QStringLiteral("no window has this title")), WId(0));
    }

    // What the running program does with the command line of a later start.
    void handedOverCommandLine_data()
    {
        QTest::addColumn<QString>("startedOn"); // relative to the sandbox, "" for nothing
        QTest::addColumn<QString>("handedOver");
        QTest::addColumn<QString>("shown");  // the viewer's picture, "" when the browser shows
        QTest::addColumn<QString>("listed"); // the browser's folder, when it shows
        QTest::addColumn<int>("listSize");
        QTest::newRow("picture while browsing") << ""
                                                << "home/Pictures/b10.png"
                                                << "home/Pictures/b10.png"
                                                << "" << 2;
        QTest::newRow("picture while viewing another folder") << "home/Other/only.png"
                                                              << "home/Pictures//b2.png"
                                                              << "home/Pictures/b2.png"
                                                              << "" << 2;
        QTest::newRow("folder while viewing") << "home/Other/only.png"
                                              << "home/Pictures"
                                              << ""
                                              << "home/Pictures/" << 0;
        QTest::newRow("folder while browsing") << ""
                                               << "home/Other/"
                                               << ""
                                               << "home/Other/" << 0;
        QTest::newRow("nothing while viewing") << "home/Other/only.png"
                                               << ""
                                               << ""
                                               << "home/Desktop/" << 0;
        QTest::newRow("missing file while browsing another folder") << "home/Other"
                                                                    << "home/Other/gone.png"
                                                                    << ""
                                                                    << "home/Desktop/" << 0;
    }
    void handedOverCommandLine()
    {
        QFETCH(QString, startedOn);
        QFETCH(QString, handedOver);
        QFETCH(QString, shown);
        QFETCH(QString, listed);
        QFETCH(int, listSize);
        m_sandbox->makeDir(QStringLiteral("home/Desktop"));
        const auto inSandbox = [this](const QString &relative) {
            return relative.isEmpty() ? QString() : m_sandbox->file(relative);
        };
        auto window = loaded(inSandbox(startedOn));
        QTest::qWait(50); // the tree's ready event of a shown browser
        window->openHandedOver(inSandbox(handedOver));
        if (!shown.isEmpty()) {
            frmViwer *viewer = frmViwer::instance();
            QVERIFY(viewer->isVisible());
            QVERIFY(!window->isVisible());
            // The folder's list follows the picture, from a worker.
            QTRY_COMPARE(viewer->PathList().size(), listSize);
            QCOMPARE(viewer->PathList().value(viewer->CurrentIndex()), inSandbox(shown));
            QCOMPARE(viewer->ImgX()->document()->ImageFileName(), inSandbox(shown));
            // Closing it ends the program, as for a picture named at start-up.
            QVERIFY(viewer->bCommand);
        } else {
            QVERIFY(window->isVisible());
            QVERIFY(!frmViwer::isLoaded() || !frmViwer::instance()->isVisible());
            QTRY_COMPARE(window->TV1->SelectedPath(), inSandbox(listed));
        }
        QCOMPARE(m_ended, 0);
    }

    void handedOverSwitchesKeepTheProgramRunning()
    {
        auto window = loaded(QString()); // the first start associates every type
        QCOMPARE(IsAssociated(QStringLiteral(".png"), QStringLiteral("Orvanta.png")), 1);
        window->openHandedOver(QStringLiteral("/DeAssociate"));
        QCOMPARE(IsAssociated(QStringLiteral(".png"), QStringLiteral("Orvanta.png")), 0);
        m_prompts->answerMessage(PromptAnswer::Yes);
        window->openHandedOver(QStringLiteral("/Associate"));
        QCOMPARE(m_prompts->asked(test::ScriptedPrompts::Kind::Message).size(), 1);
        QCOMPARE(IsAssociated(QStringLiteral(".png"), QStringLiteral("Orvanta.png")), 1);
        QCOMPARE(m_ended, 0);
        QVERIFY(window->isVisible());
    }

    void handedOverWaitsForTheStartUpAndForQuestions()
    {
        frmMain window;
        // Before the program has loaded, a later start's picture waits.
        window.openHandedOver(m_other + QStringLiteral("/only.png"));
        QVERIFY(!frmViwer::isLoaded());
        QVERIFY(window.Load(QString()));
        QTRY_VERIFY(frmViwer::isLoaded() && frmViwer::instance()->isVisible());
        QCOMPARE(frmViwer::instance()->PathList(), QStringList{m_other + "/only.png"});

        // A question on screen is answered before the next picture replaces this one.
        QMessageBox box(QMessageBox::Question, QStringLiteral("ZEB Orvanta"),
                        QStringLiteral("A question"), QMessageBox::Yes | QMessageBox::No);
        box.setWindowModality(Qt::ApplicationModal);
        box.show();
        QTRY_VERIFY(QApplication::activeModalWidget() == &box);
        window.openHandedOver(m_pictures + QStringLiteral("/b2.png"));
        QTest::qWait(500);
        QCOMPARE(frmViwer::instance()->PathList(), QStringList{m_other + "/only.png"});
        QTest::mouseClick(box.button(QMessageBox::No), Qt::LeftButton);
        QTRY_COMPARE(frmViwer::instance()->PathList().value(frmViwer::instance()->CurrentIndex()),
                     m_pictures + QStringLiteral("/b2.png"));
    }

    void shutdownUnloadsTheViewerFirst()
    {
        frmMain window;
        window.show();
        frmViwer::instance()->show();
        QVERIFY(frmViwer::isLoaded());
        window.close();
        QCOMPARE(m_ended, 1);
        QCOMPARE(m_viewerLoadedAtEnd, false);
        window.EndMe(); // already ending: once is enough
        QCOMPARE(m_ended, 1);
    }

    void viewerEndingTheProgram()
    {
        frmMain window;
        window.OpenFromExplorer({m_other + QStringLiteral("/only.png")}, 0, QString());
        Q_EMIT frmViwer::instance()->endProgramRequested();
        QCOMPARE(m_ended, 1);
    }
};

QTEST_MAIN(FrmMainTest)
#include "frmmaintest.moc"
