#include "viewer/frmviwer.h"
#include "components/codecs/decodebudget.h"
#include "components/engine/imagedocument.h"
#include "components/engine/imageview.h"
#include "components/nativefile.h"
#include "components/skin.h"
#include "components/twips.h"
#include "dialogs/frmdialog.h"
#include "shell/cregister.h"
#include "support/fifowatchdog.h"
#include "support/modaldriver.h"
#include "support/recordinglauncher.h"
#include "support/sandbox.h"
#include "support/scriptedprompts.h"
#include "viewer/imageprefetcher.h"
#include "viewer/propertieswindow.h"
#include "viewer/viewerformat.h"
#include "viewer/viewersettings.h"

#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QWheelEvent>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <thread>

using namespace qmt;
using qmt::test::ScriptedPrompts;

namespace {

// What the viewer's caption puts after the file name: the build's major and minor version.
const QString kCaptionTail =
    QStringLiteral("- Pictavo ") + QStringLiteral(QMT_VERSION).section(QLatin1Char('.'), 0, 1);

const QString kSection = QString(kSettingsSection);

QString setting(const char *name)
{
    return CRegister().REGGetSetting(kSettingsRoot, kSection, QString::fromLatin1(name),
                                     QStringLiteral("<none>"));
}

void store(const char *name, const QString &value)
{
    QVERIFY(CRegister().REGSaveSetting(kSettingsRoot, kSection, QString::fromLatin1(name), value));
}

QImage pattern(int w, int h, QColor colour = QColor(200, 30, 30))
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    // A mark in the top-left corner tells orientation.
    for (int y = 0; y < qMin(h, 4); ++y)
        for (int x = 0; x < qMin(w, 4); ++x)
            image.setPixel(x, y, qRgb(0, 0, 255));
    return image;
}

// A turn of the wheel over the image area: `angle` in eighths of a degree (120 a notch; down is
// negative).
void turnWheel(frmViwer *window, QPoint angle, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
               QPoint at = QPoint(10, 10))
{
    QWidget *viewport = window->ImgX()->viewport();
    QWheelEvent event(at, viewport->mapToGlobal(at), QPoint(), angle, Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &event);
}

bool samePixels(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return false;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                return false;
    return true;
}

} // namespace

class FrmViwerTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<test::Sandbox> m_sandbox;
    std::unique_ptr<ScriptedPrompts> m_prompts;

    QString image(const QString &name, int w, int h, QColor colour = QColor(200, 30, 30))
    {
        const QString path = m_sandbox->file(name);
        const char *format = name.endsWith(".ico") || name.endsWith(".cur") ? "ico" : nullptr;
        if (!pattern(w, h, colour).save(path, format))
            qFatal("cannot write %s", qPrintable(path));
        if (name.endsWith(".cur")) {
            // An icon file becomes a cursor file by its type field.
            QFile file(path);
            file.open(QIODevice::ReadWrite);
            file.seek(2);
            file.write(QByteArray("\x02\x00", 2));
        }
        return path;
    }

    // A window in normal (not full screen) mode unless the test stored otherwise.
    frmViwer *viewer(bool normalMode = true)
    {
        if (normalMode)
            store("FullScreen", "0");
        frmViwer *window = frmViwer::instance();
        window->ImgX()->setZoomFactor(1.0);
        return window;
    }

    QAction *action(frmViwer *window, const char *name)
    {
        QAction *found = window->findChild<QAction *>(QString::fromLatin1(name));
        if (!found)
            qFatal("no action %s", name);
        return found;
    }

private Q_SLOTS:
    void init()
    {
        m_sandbox = std::make_unique<test::Sandbox>();
        m_prompts = std::make_unique<ScriptedPrompts>();
        twips::setOverride(15, 15);
    }
    void cleanup()
    {
        frmViwer::unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        viewer::resetUnsavedSettings();
        twips::clearOverride();
        m_prompts.reset();
        m_sandbox.reset();
    }

    void firstStartDefaults()
    {
        frmViwer *window = frmViwer::instance();
        QVERIFY(window->ImgX()->AntiAliasOn());
        QVERIFY(action(window, "mnuAntiAliasDisplay")->isChecked());
        QCOMPARE(window->slideShowDelay(), 2000);
        QVERIFY(window->FullScreenOn());
    }

    void storedSettings_data()
    {
        QTest::addColumn<QString>("antiAlias");
        QTest::addColumn<QString>("delay");
        QTest::addColumn<QString>("fullScreen");
        QTest::addColumn<bool>("antiAliasOn");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<bool>("fullScreenOn");
        QTest::newRow("all off") << "0"
                                 << "1500"
                                 << "0" << false << 1500 << false;
        QTest::newRow("true as -1") << "-1"
                                    << "300"
                                    << "-1" << true << 300 << true;
        QTest::newRow("delay above 16 bits") << "0"
                                             << "40000"
                                             << "0" << false << 40000 << false;
        QTest::newRow("damaged values take defaults") << "on"
                                                      << "two seconds"
                                                      << "x" << true << 2000 << true;
        QTest::newRow("delay beyond the timer") << "0"
                                                << "99999"
                                                << "0" << false << 2000 << false;
    }
    void storedSettings()
    {
        QFETCH(QString, antiAlias);
        QFETCH(QString, delay);
        QFETCH(QString, fullScreen);
        store("AntiAlias", antiAlias);
        store("Slide Show Delay", delay);
        store("FullScreen", fullScreen);
        frmViwer *window = frmViwer::instance();
        QTEST(window->ImgX()->AntiAliasOn(), "antiAliasOn");
        QTEST(action(window, "mnuAntiAliasDisplay")->isChecked(), "antiAliasOn");
        QTEST(window->slideShowDelay(), "delayMs");
        QTEST(window->FullScreenOn(), "fullScreenOn");
    }

    void antiAliasToggleIsSaved()
    {
        frmViwer *window = viewer();
        window->ToggleAntiAlias();
        QCOMPARE(setting("AntiAlias"), QStringLiteral("0"));
        QVERIFY(!window->ImgX()->AntiAliasOn());
        QVERIFY(!action(window, "mnuAntiAliasDisplay")->isChecked());
        window->ToggleAntiAlias();
        QCOMPARE(setting("AntiAlias"), QStringLiteral("-1"));
        QVERIFY(action(window, "mnuAntiAliasDisplay")->isChecked());
    }

    // A read-only registry: the user is told once, the changes hold for the rest of the run, and
    // they are written with the first change that can be saved.
    void unsavedSettingsAreToldOnceAndKept()
    {
        frmViwer *window = viewer();
        const QString dir = m_sandbox->registryDir();
        QVERIFY(QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner));
        window->ToggleAntiAlias();
        window->ToggleAntiAlias();
        window->ToggleAntiAlias();
        m_prompts->answerInput(QStringLiteral("750"));
        window->AskSlideDelay();
        const auto told = m_prompts->asked(ScriptedPrompts::Kind::Message);
        QCOMPARE(told.size(), 1);
        QCOMPARE(told.first().icon, PromptIcon::Exclamation);
        QVERIFY2(told.first().text.contains(QStringLiteral("could not be saved")) &&
                     told.first().text.contains(QStringLiteral("read-only")) &&
                     told.first().text.contains(dir),
                 qPrintable(told.first().text));
        QCOMPARE(setting("AntiAlias"), QStringLiteral("<none>"));

        // A viewer made again in the same run starts from the changes.
        frmViwer::unload();
        window = frmViwer::instance();
        QVERIFY(!window->ImgX()->AntiAliasOn());
        QCOMPARE(window->slideShowDelay(), 750);
        QVERIFY(!window->FullScreenOn());
        QCOMPARE(m_prompts->asked(ScriptedPrompts::Kind::Message).size(), 1);

        QVERIFY(QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        window->ToggleAntiAlias();
        QCOMPARE(setting("AntiAlias"), QStringLiteral("-1"));
        QCOMPARE(setting("Slide Show Delay"), QStringLiteral("750"));
        QCOMPARE(setting("FullScreen"), QStringLiteral("0"));
    }

    // The picture shown is decoded on the interface thread: it counts with the background
    // decodes and never waits for them, even when they hold all their memory.
    void theShownPictureCountsWithoutWaiting_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("side");
        QTest::newRow("png") << "a.png" << 700;
        QTest::newRow("icon") << "i.ico" << 256;
    }
    void theShownPictureCountsWithoutWaiting()
    {
        QFETCH(QString, name);
        QFETCH(int, side);
        DecodeBudget &budget = DecodeBudget::reducedDecodes();
        frmViwer *window = viewer();
        const QString path = image(name, side, side);
        QCOMPARE(budget.held(), 0);
        const qint64 before = budget.highWaterMark();
        DecodeBudgetShare held;
        held.take(budget, qMax(qint64(1) << 30, before));
        window->ViewImage({path}, 0);
        QCOMPARE(window->ImgX()->document()->ImageWidthPx(), side);
        QVERIFY(budget.highWaterMark() >= held.bytes() + qint64(side) * side * 4);
        QCOMPARE(budget.held(), held.bytes());
    }

    void closeWritesFullScreenAndGoesBack()
    {
        frmViwer *window = viewer();
        window->ViewImage({image("a.png", 50, 50)}, 0);
        window->ToggleFullScreen();
        QSignalSpy back(window, &frmViwer::closedToBrowser);
        QSignalSpy end(window, &frmViwer::endProgramRequested);
        QTest::keyClick(window->ImgX(), Qt::Key_Escape);
        QCOMPARE(setting("FullScreen"), QStringLiteral("-1"));
        QCOMPARE(back.count(), 1);
        QCOMPARE(end.count(), 0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!frmViwer::isLoaded());
    }

    void closeFromCommandLineEndsProgram()
    {
        frmViwer *window = viewer();
        window->bCommand = true;
        window->ViewImage({image("a.png", 50, 50)}, 0);
        QSignalSpy back(window, &frmViwer::closedToBrowser);
        QSignalSpy end(window, &frmViwer::endProgramRequested);
        window->close();
        QCOMPARE(end.count(), 1);
        QCOMPARE(back.count(), 0);
        QCOMPARE(setting("FullScreen"), QStringLiteral("0"));
    }

    void returnToBrowserNamesImage()
    {
        frmViwer *window = viewer();
        const QStringList list{image("a.png", 20, 20), image("b.png", 20, 20)};
        window->ViewImage(list, 1);
        QSignalSpy back(window, &frmViwer::returnedToBrowser);
        QTest::keyClick(window->ImgX(), Qt::Key_Return);
        QCOMPARE(back.count(), 1);
        QCOMPARE(back.first().first().toString(), list.at(1));
        QVERIFY(!window->isVisible());
    }

    void windowSizeInTwips_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::addColumn<int>("widthTwips");
        QTest::addColumn<int>("extraHeightTwips"); // besides the toolbar
        QTest::newRow("narrow image gets 7590") << 40 << 120 << 7590 << 120 * 15 + 1400;
        QTest::newRow("short image gets 4600") << 300 << 50 << 7590 << 4600 - 1000000;
        QTest::newRow("wide enough keeps its width") << 420 << 200 << 420 * 15 << 200 * 15 + 1400;
    }
    void windowSizeInTwips()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        QFETCH(int, widthTwips);
        QFETCH(int, extraHeightTwips);
        frmViwer *window = viewer();
        window->ViewImage({image("s.png", w, h)}, 0);
        QCOMPARE(window->width(), widthTwips / 15);
        const int toolbar = window->findChild<QToolBar *>("Toolbar")->height() * 15;
        // Images under 100 pixels high get a fixed 4000 + 600 twips, toolbar or not.
        const int heightTwips = extraHeightTwips < 0 ? 4600 : toolbar + extraHeightTwips;
        QCOMPARE(window->height(), int(std::lround(heightTwips / 15.0)));
        QCOMPARE(window->windowTitle(), "s.png" + kCaptionTail);
        QVERIFY(window->isVisible());
    }

    void leavingFullScreenComesBackLower()
    {
        frmViwer *window = viewer();
        window->ViewImage({image("a.png", 420, 200)}, 0);
        const QPoint before = window->pos();
        const QSize size = window->size();
        window->ToggleFullScreen();
        QVERIFY(window->FullScreenOn());
        QVERIFY(!window->menuBar()->isVisible());
        QVERIFY(!window->findChild<QToolBar *>("Toolbar")->isVisible());
        window->ToggleFullScreen();
        QVERIFY(!window->FullScreenOn());
        QCOMPARE(window->pos(), before + QPoint(0, 510 / 15));
        QCOMPARE(window->size(), size);
        QCOMPARE(window->windowTitle(), QString());
    }

    void newImageInFullScreenRecordsTheWayBackAgain()
    {
        frmViwer *window = viewer();
        const QString a = image("a.png", 420, 200), b = image("b.png", 430, 210);
        window->ViewImage({a, b}, 0);
        const QSize size = window->size();
        window->ToggleFullScreen();
        QTRY_COMPARE(window->geometry(), window->screen()->geometry());
        window->NextImage(); // full screen is entered again, and the window's place taken again
        QVERIFY(window->FullScreenOn());
        window->ToggleFullScreen();
        // The place recorded last was the whole screen: the window comes back that large, 510
        // twips lower, but with its frame kept inside the screen's free area.
        const QRect area = window->screen()->availableGeometry();
        QVERIFY(window->width() > size.width() && window->height() > size.height());
        QVERIFY2(area.contains(window->frameGeometry()),
                 qPrintable(QStringLiteral("%1,%2 %3x%4")
                                .arg(window->frameGeometry().x())
                                .arg(window->frameGeometry().y())
                                .arg(window->frameGeometry().width())
                                .arg(window->frameGeometry().height())));
    }

    void fullScreenImageAreaLeavesRoomForToolbarAndBottom()
    {
        frmViwer *window = frmViwer::instance(); // full screen by default
        window->ImgX()->setZoomFactor(1.0);
        window->ViewImage({image("a.png", 300, 200)}, 0);
        const QRect screen = window->screen()->geometry();
        QTRY_COMPARE(window->geometry(), screen);
        const int toolbar = window->findChild<QToolBar *>("Toolbar")->height();
        QCOMPARE(toolbar, frmViwer::kToolbarHeight);
        // The window height less the toolbar less 600 twips, below the toolbar's place.
        QTRY_COMPARE(window->ImgX()->geometry(),
                     QRect(0, toolbar, screen.width(), screen.height() - toolbar - 600 / 15));
        window->ToggleFullScreen();
        QCOMPARE(window->contentsMargins(), QMargins());
        QTRY_COMPARE(window->ImgX()->geometry().top(),
                     window->findChild<QToolBar *>("Toolbar")->geometry().bottom() + 1);
    }

    void largePicturesShowWhole_data()
    {
        QTest::addColumn<bool>("fullScreen");
        QTest::addColumn<QSize>("picture"); // in screens of the offscreen platform
        QTest::addColumn<bool>("fitted");
        QTest::newRow("photo in a window") << false << QSize(2736, 1824) << true;
        QTest::newRow("portrait in a window") << false << QSize(1824, 2736) << true;
        QTest::newRow("too tall for the screen only") << false << QSize(300, 2000) << true;
        QTest::newRow("photo in full screen") << true << QSize(2736, 1824) << true;
        QTest::newRow("portrait in full screen") << true << QSize(1824, 2736) << true;
        // Larger one way only: shown at its own size and scrolled (the Fit command shows it whole).
        QTest::newRow("panorama in full screen") << true << QSize(4000, 120) << false;
    }
    void largePicturesShowWhole()
    {
        QFETCH(bool, fullScreen);
        QFETCH(QSize, picture);
        QFETCH(bool, fitted);
        store("FullScreen", fullScreen ? "1" : "0");
        frmViwer *window = frmViwer::instance();
        window->ImgX()->setZoomFactor(1.0);
        window->ViewImage({image("large.png", picture.width(), picture.height())}, 0);
        QVERIFY(window->isVisible());
        const QRect area = window->screen()->availableGeometry();
        if (fullScreen)
            QTRY_COMPARE(window->geometry(), window->screen()->geometry());
        else
            QVERIFY2(area.contains(window->frameGeometry()),
                     "the window's frame leaves the screen");
        ImageView *view = window->ImgX();
        const QRect shown = view->imageRect();
        const QRect viewport = view->viewport()->rect();
        QCOMPARE(viewport.contains(shown), fitted);
        QCOMPARE(view->horizontalScrollBar()->maximum() == 0 &&
                     view->verticalScrollBar()->maximum() == 0,
                 fitted);
        if (fitted) {
            // Whole, and as large as the image area allows on one side.
            QVERIFY(shown.width() >= viewport.width() - 1 ||
                    shown.height() >= viewport.height() - 1);
            const double zoom = qMin(double(viewport.width()) / picture.width(),
                                     double(viewport.height()) / picture.height());
            QVERIFY(std::fabs(view->ZoomFactor() - zoom) < 1e-9);
            QCOMPARE(view->MouseToolMode(), 3);
        } else {
            QCOMPARE(view->ZoomFactor(), 1.0);
            QCOMPARE(view->MouseToolMode(), 2);
        }
    }

    void skinnedViewerDrawsInTheSkinsColours()
    {
        Skin skin;
        QVERIFY(skin.load(qEnvironmentVariable("QMT_BUILD_DIR") + "/QMTMain.skn"));
        Skin::setCurrent(&skin);
        auto restore = qScopeGuard([] { Skin::setCurrent(nullptr); });
        frmViwer *window = viewer();
        window->ViewImage({image("a.png", 420, 200)}, 0);
        QVERIFY(QTest::qWaitForWindowExposed(window));
        // Most of each bar is drawn in the skin's bar colour.
        const QRgb bar = QColor(0xe8, 0xed, 0xf5).rgb();
        auto share = [bar](QWidget *widget) {
            const QImage shot = widget->grab().toImage();
            qint64 count = 0;
            for (int y = 0; y < shot.height(); ++y)
                for (int x = 0; x < shot.width(); ++x)
                    count += (shot.pixel(x, y) | 0xff000000u) == bar ? 1 : 0;
            return double(count) / (qint64(shot.width()) * shot.height());
        };
        QToolBar *toolbar = window->findChild<QToolBar *>("Toolbar");
        QVERIFY2(share(window->statusBar()) > 0.5, "status bar");
        QVERIFY2(share(toolbar) > 0.4, "toolbar");
        QVERIFY2(share(window->menuBar()) > 0.5, "menu bar");
        // Skinned again when coming back from full screen; the image area keeps no border.
        window->ToggleFullScreen();
        window->ToggleFullScreen();
        QVERIFY2(share(window->statusBar()) > 0.5, "status bar after full screen");
        QCOMPARE(window->ImgX()->frameWidth(), 0);
        QCOMPARE(window->ImgX()->viewport()->width(), window->width());
    }

    void indexWrapAndHoles()
    {
        frmViwer *window = viewer();
        const QStringList list{image("a.png", 10, 10), image("b.png", 11, 10),
                               image("c.png", 12, 10)};
        window->ViewImage(list, 3);
        QCOMPARE(window->CurrentIndex(), 0);
        window->ViewImage(list, -1);
        QCOMPARE(window->CurrentIndex(), 2);
        QCOMPARE(window->ImgX()->document()->ImageWidthPx(), 12);
        window->ViewImage(list, 57);
        QVERIFY(window->CurrentIndex() >= 0 && window->CurrentIndex() < 3);
        // A hole empties the display and keeps the index and the caption.
        const QString caption = window->windowTitle();
        window->ViewImage({list.at(0), QString(), list.at(2)}, 1);
        QCOMPARE(window->ImgX()->document()->PageCount(), 0);
        QCOMPARE(window->windowTitle(), caption);
        window->ViewImage({}, 0);
        QCOMPARE(window->ImgX()->document()->PageCount(), 0);
    }

    void nextPreviousAtEndsAndHoles()
    {
        frmViwer *window = viewer();
        const QString a = image("a.png", 10, 10), b = image("b.png", 11, 10),
                      c = image("c.png", 12, 10);
        window->ViewImage({a, b, c}, 2);
        window->NextImage();
        QCOMPARE(window->CurrentIndex(), 2);
        window->PreviousImage();
        QCOMPARE(window->CurrentIndex(), 1);
        window->PreviousImage();
        window->PreviousImage();
        QCOMPARE(window->CurrentIndex(), 0);
        window->ViewImage({a, QString(), c}, 0);
        QTest::keyClick(window->ImgX(), Qt::Key_Space);
        QCOMPARE(window->CurrentIndex(), 2);
        QTest::keyClick(window->ImgX(), Qt::Key_Backspace);
        QCOMPARE(window->CurrentIndex(), 0);
        // Two holes: the second one is shown, which empties the display.
        window->ViewImage({a, QString(), QString(), c}, 0);
        window->NextImage();
        QCOMPARE(window->CurrentIndex(), 0);
        QCOMPARE(window->ImgX()->document()->PageCount(), 0);
    }

    // A picture shown while its folder's list is still being read: no position, Next and
    // Previous kept until the list comes, and a list that no longer belongs is dropped.
    void folderListArrivesAfterThePicture_data()
    {
        QTest::addColumn<int>("steps");     // Next (+1) or Previous (-1) pressed meanwhile
        QTest::addColumn<bool>("replaced"); // the viewer shows another list meanwhile
        QTest::addColumn<int>("expectedIndex");
        QTest::addColumn<QString>("position");
        QTest::newRow("nothing pressed") << 0 << false << 1 << "2/3";
        QTest::newRow("next twice, stops at the end") << 2 << false << 2 << "3/3";
        QTest::newRow("previous") << -1 << false << 0 << "1/3";
        QTest::newRow("next then previous") << 0 << false << 1 << "2/3";
        QTest::newRow("another list meanwhile") << 1 << true << 0 << "1/1";
    }
    void folderListArrivesAfterThePicture()
    {
        QFETCH(int, steps);
        QFETCH(bool, replaced);
        QFETCH(int, expectedIndex);
        QFETCH(QString, position);
        frmViwer *window = viewer();
        const QString a = image("a.png", 10, 10), b = image("b.png", 11, 10),
                      c = image("c.png", 12, 10), other = image("other.png", 13, 10);
        const quint64 ticket = window->ViewImageWhileListing(b);
        QVERIFY(window->isVisible());
        QCOMPARE(window->ImgX()->document()->ImageWidthPx(), 11);
        QVERIFY(window->folderListPending());
        QCOMPARE(window->statusPanel(1), QString());
        if (QTest::currentDataTag() == QByteArray("next then previous")) {
            window->NextImage();
            window->PreviousImage();
        }
        for (int i = 0; i < qAbs(steps); ++i)
            steps > 0 ? window->NextImage() : window->PreviousImage();
        QCOMPARE(window->ImgX()->document()->ImageWidthPx(), 11); // nothing moved yet
        if (replaced)
            window->ViewImage({other}, 0);

        window->FolderListReady(ticket, {a, b, c}, 1);
        QVERIFY(!window->folderListPending());
        QCOMPARE(window->CurrentIndex(), expectedIndex);
        QCOMPARE(window->statusPanel(1), position);
        const QStringList expectedList = replaced ? QStringList{other} : QStringList{a, b, c};
        QCOMPARE(window->PathList(), expectedList);
        QCOMPARE(window->ImgX()->document()->ImageWidthPx(), replaced ? 13 : 10 + expectedIndex);
        // Next and Previous answer at once from now on.
        if (!replaced) {
            window->ViewImage(window->PathList(), 0);
            window->NextImage();
            QCOMPARE(window->CurrentIndex(), 1);
        }
    }

    void unreadableFileIsNamedAndNextGoesOn()
    {
        frmViwer *window = viewer();
        const QString broken = m_sandbox->file("broken.jpg");
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("this is no picture");
        file.close();
        const QString good = image("good.png", 30, 30);
        window->ViewImage({broken, good}, 0);
        QVERIFY(window->isVisible());
        QVERIFY(!window->lastLoadError().isEmpty());
        QVERIFY(window->ImgX()->placeholderText().contains("broken.jpg"));
        QCOMPARE(window->windowTitle(), "broken.jpg" + kCaptionTail);
        window->NextImage();
        QCOMPARE(window->CurrentIndex(), 1);
        QVERIFY(window->lastLoadError().isEmpty());
        QVERIFY(window->ImgX()->placeholderText().isEmpty());
        QCOMPARE(window->ImgX()->document()->ImageWidthPx(), 30);
    }

    // A pipe named like a picture is refused at once, by the viewer and by its look-ahead,
    // instead of waiting for a writer for ever.
    void nextOntoAPipe()
    {
        test::FifoWatchdog watchdog(10000);
        frmViwer *window = viewer();
        const QString pipe = m_sandbox->file("x.jpg");
        QVERIFY(watchdog.make(pipe));
        const QString a = image("a.png", 30, 30);
        const QString b = image("b.png", 40, 30);
        window->ViewImage({a, pipe, b}, 0);
        window->NextImage();
        QCOMPARE(window->CurrentIndex(), 1);
        QVERIFY2(window->lastLoadError().contains("not a regular file"),
                 qPrintable(window->lastLoadError()));
        window->NextImage();
        QCOMPARE(window->ImgX()->document()->ImageWidthPx(), 40);
        frmViwer::unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!watchdog.tripped());
    }

    void dropsKeepOnlyImages()
    {
        frmViwer *window = viewer();
        const QString a = image("a.png", 10, 10);
        window->ViewImage({a}, 0);
        const QString text = m_sandbox->file("notes.txt");
        QFile(text).open(QIODevice::WriteOnly);
        window->dropFiles({text, m_sandbox->makeDir("folder.jpg")});
        QCOMPARE(window->PathList(), QStringList{a});
        const QString b = image("b.png", 12, 10);
        window->dropFiles({text, b, a});
        QCOMPARE(window->PathList(), (QStringList{b, a}));
        QCOMPARE(window->CurrentIndex(), 0);
        QCOMPARE(window->ImgX()->document()->ImageWidthPx(), 12);
    }

    void openAppendsChosenFiles()
    {
        frmViwer *window = viewer();
        const QString a = image("a.png", 10, 10);
        window->ViewImage({a}, 0);
        const QString b = image("b.png", 12, 10), c = image("c.png", 13, 10);
        m_prompts->answerOpen(FileDialogResult{{b, c}, 1});
        QVERIFY(window->LoadImage());
        const auto asked = m_prompts->asked(ScriptedPrompts::Kind::OpenFiles);
        QCOMPARE(asked.size(), 1);
        QVERIFY(asked.first().file.multiple);
        QCOMPARE(asked.first().file.filters.size(), 14);
        QCOMPARE(window->PathList(), (QStringList{a, b, c}));
        QCOMPARE(window->windowTitle(), "b.png" + kCaptionTail);
        // The position is the shown file's: the status bar says so and Next and Previous go on
        // from there.
        QCOMPARE(window->CurrentIndex(), 1);
        QCOMPARE(window->statusPanel(1), QStringLiteral("2/3"));
        QCOMPARE(window->ImgX()->document()->ImageWidthPx(), 12);
        window->NextImage();
        QCOMPARE(window->CurrentIndex(), 2);
        QCOMPARE(window->ImgX()->document()->ImageWidthPx(), 13);
        window->PreviousImage();
        window->PreviousImage();
        QCOMPARE(window->CurrentIndex(), 0);
        QCOMPARE(window->ImgX()->document()->ImageWidthPx(), 10);
        m_prompts->answerOpen(std::nullopt);
        QVERIFY(!window->LoadImage());
        QCOMPARE(window->PathList().size(), 3);
    }

    void zoomBounds()
    {
        frmViwer *window = viewer();
        window->ViewImage({image("a.png", 20, 20)}, 0);
        for (int i = 0; i < 13; ++i)
            window->ZoomIn();
        QCOMPARE(std::lround(window->ImgX()->ZoomFactor() * 100), 1819L);
        window->ZoomIn();
        QCOMPARE(std::lround(window->ImgX()->ZoomFactor() * 100), 1819L);
        QCOMPARE(window->statusPanel(5), QStringLiteral("1819 %"));
        window->ImgX()->setZoomFactor(16.0);
        window->ZoomIn();
        QCOMPARE(window->ImgX()->ZoomFactor(), 20.0);
        window->ZoomIn();
        QCOMPARE(window->ImgX()->ZoomFactor(), 20.0);
        // Zoom Out takes back one Zoom In step: it is refused only below 0.5 %, which 1.25^-24
        // (0.47 %) is.
        window->ImgX()->setZoomFactor(1.0);
        for (int i = 0; i < 24; ++i)
            window->ZoomOut();
        QVERIFY(std::fabs(window->ImgX()->ZoomFactor() - std::pow(1.25, -24)) < 1e-12);
        window->ZoomOut();
        QVERIFY(std::fabs(window->ImgX()->ZoomFactor() - std::pow(1.25, -24)) < 1e-12);
    }

    void zoomInThenOutComesBack_data()
    {
        QTest::addColumn<double>("start");
        QTest::addColumn<int>("steps");
        QTest::newRow("100 %, one step") << 1.0 << 1;
        QTest::newRow("100 %, five steps") << 1.0 << 5;
        QTest::newRow("a fitted 29 %, three steps") << 0.2924 << 3;
        QTest::newRow("3 %, ten steps") << 0.03 << 10;
    }
    void zoomInThenOutComesBack()
    {
        QFETCH(double, start);
        QFETCH(int, steps);
        frmViwer *window = viewer();
        window->ViewImage({image("a.png", 40, 30)}, 0);
        window->ImgX()->setZoomFactor(start);
        const QString before = window->statusPanel(5);
        for (int i = 0; i < steps; ++i)
            QTest::keyClick(window->ImgX(), Qt::Key_Plus);
        QVERIFY(window->statusPanel(5) != before);
        // The main keyboard's minus zooms out as the numeric pad's does.
        for (int i = 0; i < steps; ++i)
            QTest::keyClick(window->ImgX(), Qt::Key_Minus,
                            i % 2 ? Qt::KeypadModifier : Qt::NoModifier);
        QCOMPARE(window->statusPanel(5), before);
        QVERIFY(std::fabs(window->ImgX()->ZoomFactor() - start) < 1e-12);
    }

    void keyboardScrollsOnlyWhenPanning()
    {
        frmViwer *window = viewer();
        window->ViewImage({image("small.png", 200, 150)}, 0);
        QCOMPARE(window->ImgX()->MouseToolMode(), 3);
        for (int i = 0; i < 6; ++i)
            window->ZoomIn();
        QCOMPARE(window->ImgX()->MouseToolMode(), 2);
        window->ImgX()->setScrollX(20);
        window->ImgX()->setScrollY(20);
        QTest::keyClick(window->ImgX(), Qt::Key_Right);
        QCOMPARE(window->ImgX()->ScrollX(), 25);
        QTest::keyClick(window->ImgX(), Qt::Key_Left);
        QTest::keyClick(window->ImgX(), Qt::Key_Left);
        QCOMPARE(window->ImgX()->ScrollX(), 15);
        QTest::keyClick(window->ImgX(), Qt::Key_Down);
        QCOMPARE(window->ImgX()->ScrollY(), 25);
        QTest::keyClick(window->ImgX(), Qt::Key_Up);
        QCOMPARE(window->ImgX()->ScrollY(), 20);
        for (int i = 0; i < 8; ++i)
            QTest::keyClick(window->ImgX(), Qt::Key_Minus, Qt::KeypadModifier);
        QCOMPARE(window->ImgX()->MouseToolMode(), 3);
        const int x = window->ImgX()->ScrollX();
        QTest::keyClick(window->ImgX(), Qt::Key_Right);
        QCOMPARE(window->ImgX()->ScrollX(), x);
    }

    void rotationThereAndBack()
    {
        frmViwer *window = viewer();
        window->ViewImage({image("r.png", 30, 20)}, 0);
        const QImage loaded = window->ImgX()->document()->image();
        action(window, "mnuRotate1")->trigger();
        QCOMPARE(window->ImgX()->document()->image().size(), QSize(20, 30));
        QVERIFY(window->ImgX()->document()->image() != loaded);
        action(window, "mnuRotate2")->trigger();
        QVERIFY(samePixels(window->ImgX()->document()->image(), loaded));
    }

    void toolbarAndMenuTexts()
    {
        frmViwer *window = viewer();
        const QList<QAction *> buttons = window->findChild<QToolBar *>("Toolbar")->actions();
        QStringList tips;
        for (QAction *button : buttons) {
            tips.append(button->toolTip());
            QVERIFY(!button->icon().isNull());
        }
        QCOMPARE(tips, (QStringList{"Open", "Browse", "Prevoius", "Next", "Slide Show", "Zoom In",
                                    "Zoom Out", "Full Screen"}));
        QCOMPARE(action(window, "mnuopen")->text(), QStringLiteral("Open     "));
        QCOMPARE(action(window, "mnuExit")->text(), QStringLiteral("Exit         "));
        QCOMPARE(action(window, "mnuZoomOut")->text(), QStringLiteral("Zoom Out     "));
        QCOMPARE(action(window, "mnuCopyImage")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_G));
        QCOMPARE(action(window, "mnuRename")->shortcut(), QKeySequence(Qt::Key_F2));
    }

    void contextMenuStates()
    {
        frmViwer *window = viewer();
        window->ViewImage({image("a.png", 20, 20), image("b.png", 20, 20)}, 0);
        auto states = [window] {
            std::unique_ptr<QMenu> menu(window->buildViewerMenu(window));
            QStringList out;
            for (QAction *item : menu->actions())
                out.append(item->isSeparator() ? QStringLiteral("-")
                                               : QStringLiteral("%1%2%3").arg(
                                                     item->text(), item->isEnabled() ? "" : " grey",
                                                     item->isChecked() ? " checked" : ""));
            return out;
        };
        QCOMPARE(states(),
                 (QStringList{"Full Screen", "Next", "Previous", "-", "Slide Show",
                              "Antialias Display checked", "-", "Rotate +90", "Rotate -90", "-",
                              "Zoom In", "Zoom Out", "-", "Set As Wallpaper", "-", "Properties"}));
        window->ToggleSlideShow();
        window->ToggleAntiAlias();
        QVERIFY(states().contains("Slide Show checked"));
        QVERIFY(states().contains("Antialias Display"));
        window->ToggleSlideShow();
    }

    void slideShowSteps()
    {
        frmViwer *window = viewer();
        const QString broken = m_sandbox->file("broken.png");
        QFile(broken).open(QIODevice::WriteOnly);
        const QString a = image("a.png", 10, 10), b = image("b.png", 11, 10),
                      c = image("c.png", 12, 10);
        // Long enough for each image to be seen by the checks below, short for a test.
        m_prompts->answerInput(QStringLiteral("150"));
        window->AskSlideDelay();
        QCOMPARE(window->slideShowDelay(), 150);
        window->ViewImage({a, QString(), broken, b, c}, 0);
        window->ToggleSlideShow();
        QVERIFY(window->slideShowRunning());
        QCOMPARE(window->SlideIndex(), 1);
        // Nothing changes before the first tick.
        QCOMPARE(window->windowTitle(), "a.png" + kCaptionTail);
        // The hole and the unreadable file are passed over.
        QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(), "b.png" + kCaptionTail, 3000);
        // The position follows the slide show, not the image next and previous start from.
        QCOMPARE(window->statusPanel(1), QStringLiteral("4/5"));
        QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(), "c.png" + kCaptionTail, 3000);
        QTRY_COMPARE_WITH_TIMEOUT(window->windowTitle(), "a.png" + kCaptionTail, 3000);
        QCOMPARE(window->CurrentIndex(), 0);
        window->ToggleSlideShow();
        QVERIFY(!window->slideTimerActive());
        QCOMPARE(window->statusPanel(1), QStringLiteral("1/5"));
    }

    void slideShowWithNothingReadableStops()
    {
        frmViwer *window = viewer();
        const QString a = image("a.png", 10, 10);
        window->ViewImage({a}, 0);
        QFile::remove(a);
        m_prompts->answerInput(QStringLiteral("20"));
        window->AskSlideDelay();
        window->ToggleSlideShow();
        QTRY_VERIFY_WITH_TIMEOUT(!window->slideShowRunning(), 3000);
        QVERIFY(!window->slideTimerActive());
    }

    void zeroDelayGivesNoTicks()
    {
        frmViwer *window = viewer();
        window->ViewImage({image("a.png", 10, 10), image("b.png", 11, 10)}, 0);
        m_prompts->answerInput(QStringLiteral("0"));
        window->AskSlideDelay();
        window->ToggleSlideShow();
        QVERIFY(window->slideShowRunning());
        QVERIFY(!window->slideTimerActive());
        QTest::qWait(100);
        QCOMPARE(window->windowTitle(), "a.png" + kCaptionTail);
        window->ToggleSlideShow();
    }

    void delayPrompt_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("delay");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("stopsShow");
        QTest::newRow("half to even") << "1500.5" << 1500 << "1500" << true;
        QTest::newRow("above 16 bits") << "50000" << 50000 << "50000" << true;
        QTest::newRow("word") << "soon" << 2000 << "<none>" << false;
        QTest::newRow("cancel") << "" << 2000 << "<none>" << false;
        QTest::newRow("beyond the timer") << "70000" << 2000 << "<none>" << true;
    }
    void delayPrompt()
    {
        QFETCH(QString, answer);
        QFETCH(int, delay);
        QFETCH(QString, stored);
        QFETCH(bool, stopsShow);
        frmViwer *window = viewer();
        window->ViewImage({image("a.png", 10, 10), image("b.png", 11, 10)}, 0);
        window->ToggleSlideShow();
        m_prompts->answerInput(answer.isEmpty() ? std::nullopt : std::optional<QString>(answer));
        window->AskSlideDelay();
        const auto asked = m_prompts->asked(ScriptedPrompts::Kind::Input);
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.first().text, QStringLiteral("Delay in Milliseconds(1000=1 Second):"));
        QCOMPARE(asked.first().title, QStringLiteral("Slide Show Delay"));
        QCOMPARE(window->slideShowDelay(), delay);
        QCOMPARE(setting("Slide Show Delay"), stored);
        QCOMPARE(window->slideShowRunning(), !stopsShow);
        if (window->slideShowRunning())
            window->ToggleSlideShow();
    }

    void statusPanels_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("panel4");
        QTest::newRow("ico") << "i.ico"
                             << "";
        QTest::newRow("cur") << "c.cur"
                             << "16x16x32b cur";
        QTest::newRow("jpg") << "p.jpg"
                             << "16x16x24b jpg";
    }
    void statusPanels()
    {
        QFETCH(QString, name);
        frmViwer *window = viewer();
        const QString other = image("other.png", 5, 5);
        const QString path = image(name, 16, 16);
        window->ViewImage({other, path, other}, 1);
        QCOMPARE(window->statusPanel(1), QStringLiteral("2/3"));
        QCOMPARE(window->statusPanel(2), name);
        QCOMPARE(window->statusPanel(3), viewer::FormatSize(QFileInfo(path).size()));
        QTEST(window->statusPanel(4), "panel4");
        QCOMPARE(window->statusPanel(5), QStringLiteral("100 %"));
    }

    // A name that is not valid UTF-8 is shown, read and named readably.
    void undecodableName()
    {
        frmViwer *window = viewer();
        const QString png = image("plain.png", 16, 12);
        const QByteArray native = QFile::encodeName(m_sandbox->path()) + "/caf\xe9.png";
        QCOMPARE(::rename(QFile::encodeName(png).constData(), native.constData()), 0);
        window->ViewImage({pathFromNative(native)}, 0);
        QCOMPARE(window->ImgX()->document()->ImageWidthPx(), 16);
        const QString shown = QString::fromUtf8("caf\xef\xbf\xbd.png");
        QCOMPARE(window->windowTitle(), shown + kCaptionTail);
        QCOMPARE(window->statusPanel(2), shown);
        QCOMPARE(window->statusPanel(4), QStringLiteral("16x12x24b png"));
    }

    void neighboursArePrefetched()
    {
        frmViwer *window = viewer();
        QStringList list;
        for (int i = 0; i < 6; ++i)
            list.append(image(QStringLiteral("n%1.png").arg(i), 40 + i, 30));
        window->ViewImage(list, 2);
        window->prefetcher()->waitForIdle();
        QCoreApplication::processEvents();
        QVERIFY(window->prefetcher()->take(list.at(1)).has_value());
        QVERIFY(window->prefetcher()->take(list.at(3)).has_value());
        QVERIFY(!window->prefetcher()->take(list.at(5)).has_value());
        window->NextImage();
        window->NextImage();
        window->prefetcher()->waitForIdle();
        QCoreApplication::processEvents();
        QVERIFY(window->prefetcher()->heldCount() <= 3);
        QVERIFY(!window->prefetcher()->take(list.at(1)).has_value());
        QCOMPARE(window->ImgX()->document()->ImageWidthPx(), 44);
        // A neighbour changed on disk is read again, not taken from memory.
        QVERIFY(pattern(77, 30).save(list.at(5)));
        QFile file(list.at(5));
        file.open(QIODevice::ReadWrite);
        file.setFileTime(QDateTime::currentDateTime().addSecs(60),
                         QFileDevice::FileModificationTime);
        file.close();
        QVERIFY(!window->prefetcher()->take(list.at(5)).has_value());
        window->NextImage();
        QCOMPARE(window->ImgX()->document()->ImageWidthPx(), 77);
    }

    // A look-ahead decode that waits for memory the others hold is not waited for: the window
    // decodes the picture itself, and the late result is dropped.
    void aDecodeWaitingForMemoryIsNotWaitedFor()
    {
        DecodeBudget &budget = DecodeBudget::reducedDecodes();
        ImagePrefetcher prefetcher;
        QSignalSpy decoded(&prefetcher, &ImagePrefetcher::decoded);
        const QString a = image("a.png", 64, 48);
        DecodeBudgetShare held;
        held.take(budget, qint64(1) << 30);
        prefetcher.keep({a});
        QTRY_COMPARE(budget.waiting(), 1);
        // Should the window wait after all, the memory comes back after a while and the test
        // fails rather than hang.
        std::atomic<bool> freed = false;
        std::thread watchdog([&] {
            for (int i = 0; i < 200 && budget.waiting() > 0 && !freed; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (!freed.exchange(true))
                held.release();
        });
        prefetcher.finishPending(a);
        const bool waited = freed.exchange(true);
        watchdog.join();
        QVERIFY(!waited);
        QVERIFY(!prefetcher.isPending(a));
        QVERIFY(!prefetcher.take(a).has_value());
        held.release();
        prefetcher.waitForIdle();
        QCoreApplication::processEvents();
        QCOMPARE(decoded.count(), 0);
        QVERIFY(!prefetcher.take(a).has_value());
    }

    void waitingForARunningDecodeKeepsItsResultOnce()
    {
        ImagePrefetcher prefetcher;
        QSignalSpy decoded(&prefetcher, &ImagePrefetcher::decoded);
        const QString a = image("a.png", 64, 48);
        prefetcher.keep({a});
        QVERIFY(prefetcher.isPending(a));
        prefetcher.waitForIdle();
        // The worker's own report is still queued: the wait takes the result at once.
        prefetcher.finishPending(a);
        QVERIFY(!prefetcher.isPending(a));
        QVERIFY(prefetcher.take(a).has_value());
        QCOMPARE(prefetcher.take(a)->pages.first().size(), QSize(64, 48));
        QCoreApplication::processEvents();
        QCOMPARE(decoded.count(), 1);
        QVERIFY(prefetcher.take(a).has_value());

        // Waiting on a path nobody decodes does nothing; a decode waited for while queued or
        // running never leaves the path pending or held twice.
        prefetcher.finishPending(m_sandbox->file("none.png"));
        QStringList paths;
        for (int i = 0; i < 4; ++i)
            paths.append(image(QStringLiteral("q%1.png").arg(i), 900, 700));
        prefetcher.keep(paths);
        prefetcher.finishPending(paths.last());
        QVERIFY(!prefetcher.isPending(paths.last()));
        prefetcher.waitForIdle();
        QCoreApplication::processEvents();
        QVERIFY(prefetcher.heldCount() <= 4);
        for (const QString &path : std::as_const(paths))
            QVERIFY(!prefetcher.isPending(path));
    }

    void aPreloadBeforeTheWindowExistsIsShownWithoutDecodingAgain()
    {
        frmViwer::unload();
        const QString path = image("start.png", 3000, 2000);
        frmViwer::PreloadImage(path);
        QVERIFY(!frmViwer::isLoaded());
        frmViwer *window = frmViwer::instance();
        QVERIFY(window->prefetcher()->isPending(path) || window->prefetcher()->take(path));
        window->prefetcher()->waitForIdle();
        QCoreApplication::processEvents();
        QVERIFY(window->prefetcher()->take(path).has_value());
        // Full screen by default: the copy for display is made for the screen.
        bool smooth = false;
        const QImage display = window->prefetcher()->displayCopy(path, &smooth);
        QVERIFY(!display.isNull());
        QVERIFY(smooth);
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        QVERIFY(display.width() <= screen.width() && display.height() <= screen.height());
        window->ViewImage({path}, 0);
        QCOMPARE(window->ImgX()->document()->ImageWidthPx(), 3000);
        QCOMPARE(window->ImgX()->document()->ImageHeightPx(), 2000);
    }

    void aLargePhotoIsShownFromAReducedDecodeThenInFull()
    {
        frmViwer::unload();
        // Full screen by default: the photo is much larger than the screen.
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        const QSize photo = screen * 5 / 2;
        const QString path = image("big.jpg", photo.width(), photo.height());
        const QString next = image("next.png", 30, 20);
        frmViwer::PreloadImage(path);
        frmViwer *window = frmViwer::instance();
        window->prefetcher()->waitForIdle();
        QCoreApplication::processEvents();
        // Decoded by the decoder's own scaling to no less than the screen, not in full.
        const std::optional<DecodedImage> reduced = window->prefetcher()->takePreview(path);
        QVERIFY(reduced.has_value());
        QCOMPARE(reduced->fullSize, photo);
        const QSize pixels = reduced->pages.first().size();
        QVERIFY2(pixels.width() < photo.width() && pixels.width() >= screen.width(),
                 qPrintable(QStringLiteral("%1x%2").arg(pixels.width()).arg(pixels.height())));
        QVERIFY(!window->prefetcher()->take(path).has_value());

        window->ViewImage({path, next}, 0);
        ImageDocument *document = window->ImgX()->document();
        QVERIFY(document->isPreview());
        // The picture's own size everywhere a size is given.
        QCOMPARE(document->ImageWidthPx(), photo.width());
        QVERIFY(window->statusPanel(4).startsWith(
            QStringLiteral("%1x%2").arg(photo.width()).arg(photo.height())));
        // Once it is on screen, the full picture and the neighbours follow.
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QTRY_VERIFY(!document->isPreview());
        QCOMPARE(document->image().size(), photo);
        QTRY_VERIFY(window->prefetcher()->take(next).has_value());
        window->NextImage();
        QCOMPARE(document->ImageWidthPx(), 30);
    }

    void aPhotoNotMuchLargerThanTheScreenIsDecodedWhole()
    {
        frmViwer::unload();
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        const QString path = image("near.jpg", screen.width() * 3 / 2, screen.height() * 3 / 2);
        frmViwer::PreloadImage(path);
        frmViwer *window = frmViwer::instance();
        window->prefetcher()->waitForIdle();
        QCoreApplication::processEvents();
        QVERIFY(!window->prefetcher()->takePreview(path).has_value());
        QVERIFY(window->prefetcher()->take(path).has_value());
        window->ViewImage({path}, 0);
        QVERIFY(!window->ImgX()->document()->isPreview());
    }

    void aPreloadIsDroppedForFilesTheWindowReadsItselfAndStaleFiles()
    {
        frmViwer::unload();
        const QString icon = image("p.ico", 16, 16);
        frmViwer::PreloadImage(icon);
        frmViwer::PreloadImage(QString());
        frmViwer *window = frmViwer::instance();
        QVERIFY(!window->prefetcher()->isPending(icon));
        QCOMPARE(window->prefetcher()->heldCount(), 0);

        // A file changed after its preload is read again when shown.
        const QString path = image("changes.png", 30, 20);
        frmViwer::PreloadImage(path);
        window->prefetcher()->waitForIdle();
        QCoreApplication::processEvents();
        QVERIFY(pattern(50, 20).save(path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        file.setFileTime(QDateTime::currentDateTime().addSecs(60),
                         QFileDevice::FileModificationTime);
        file.close();
        window->ViewImage({path}, 0);
        QCOMPARE(window->ImgX()->document()->ImageWidthPx(), 50);
    }

    void animatedGifPlays()
    {
        const QString gif = QFINDTESTDATA("data/blink.gif");
        QVERIFY(!gif.isEmpty());
        frmViwer *window = viewer();
        window->ViewImage({gif}, 0);
        QVERIFY(window->ImgX()->document()->PageCount() >= 2);
        const QRgb first = window->ImgX()->document()->image().pixel(4, 4);
        QTRY_VERIFY_WITH_TIMEOUT(window->ImgX()->document()->image().pixel(4, 4) != first, 3000);
    }

    // Animated WebP and AVIF files, made by their own encoders, play like GIFs; the status bar
    // and the caption name the format, and a frame can be saved in a classic format.
    void animatedModernPicturesPlay_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("command"); // %1 first frame, %2 second, %3 the file
        QTest::newRow("webp") << "moving.webp"
                              << QStringList{"img2webp", "-lossless", "-d", "80", "%1",
                                             "-d",       "80",        "%2", "-o", "%3"};
        QTest::newRow("avif") << "moving.avif"
                              << QStringList{"avifenc", "--timescale", "10", "%1", "%2", "%3"};
    }
    void animatedModernPicturesPlay()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, command);
        if (QStandardPaths::findExecutable(command.first()).isEmpty())
            QSKIP(qPrintable(command.first() + " is missing (tools/setup.sh installs it)"));
        const QString first = image("frame1.png", 24, 16, Qt::red);
        const QString second = image("frame2.png", 24, 16, Qt::blue);
        const QString file = m_sandbox->file(name);
        for (QString &arg : command)
            arg = arg.replace("%1", first).replace("%2", second).replace("%3", file);
        QProcess encoder;
        encoder.start(command.first(), command.mid(1));
        QVERIFY(encoder.waitForFinished(60000) && encoder.exitCode() == 0);

        frmViwer *window = viewer();
        window->ViewImage({file}, 0);
        ImageDocument *document = window->ImgX()->document();
        QCOMPARE(document->PageCount(), 2);
        // The frames are written with an alpha channel, which both encoders keep.
        QCOMPARE(window->statusPanel(4),
                 QStringLiteral("24x16x32b %1").arg(QFileInfo(name).suffix()));
        QVERIFY2(window->windowTitle().startsWith(name), qPrintable(window->windowTitle()));
        const QRgb shown = document->image().pixel(12, 8);
        QTRY_VERIFY_WITH_TIMEOUT(document->image().pixel(12, 8) != shown, 3000);
        QTRY_VERIFY_WITH_TIMEOUT(document->image().pixel(12, 8) == shown, 3000);

        const QString saved = m_sandbox->file("frame.png");
        QVERIFY(document->SaveImageFile(saved, FormatPng));
        QCOMPARE(QImage(saved).size(), QSize(24, 16));
        // Moving on stops the animation: the next picture stays as it is.
        const QString still = image("still.png", 10, 10, Qt::green);
        window->ViewImage({still}, 0);
        const QImage stillShown = document->image();
        QTest::qWait(250);
        QCOMPARE(document->PageCount(), 1);
        QCOMPARE(document->image(), stillShown);
    }

    // ------------------------------------------------------------------ Save As
    void saveAsPreselection_data()
    {
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("jpg") << "p.jpg" << 1 << "jpg";
        QTest::newRow("png") << "p.png" << 2 << "png";
        QTest::newRow("bmp") << "p.bmp" << 8 << "bmp";
        QTest::newRow("tif") << "p.tif" << 4 << "tif";
    }
    void saveAsPreselection()
    {
        QFETCH(QString, shown);
        frmViwer *window = viewer();
        window->ViewImage({image(shown, 12, 12)}, 0);
        window->SaveAs();
        const auto asked = m_prompts->asked(ScriptedPrompts::Kind::SaveFile);
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.first().file.filters.size(), 10);
        QTEST(asked.first().file.filterIndex, "position");
        QTEST(asked.first().file.defaultSuffix, "suffix");
    }

    void saveAsGifKeepsLastPosition()
    {
        frmViwer *window = viewer();
        window->ViewImage({image("p.png", 12, 12)}, 0);
        m_prompts->answerSave(FileDialogResult{{m_sandbox->file("out.tga")}, 6});
        window->SaveAs();
        // A GIF cannot be saved as GIF: the dialog opens where it was left.
        window->ImgX()->document()->adoptDecoded(
            DecodedImage{{pattern(8, 8)}, FormatGif, 8, QSize(8, 8), 0, {}},
            m_sandbox->file("x.gif"));
        window->SaveAs();
        const auto asked = m_prompts->asked(ScriptedPrompts::Kind::SaveFile);
        QCOMPARE(asked.size(), 2);
        QCOMPARE(asked.at(1).file.filterIndex, 6);
        QCOMPARE(asked.at(1).file.defaultSuffix, QStringLiteral("tga"));
    }

    void saveAsFormatFollowsFilter()
    {
        frmViwer *window = viewer();
        window->ViewImage({image("p.png", 12, 12)}, 0);
        const QString target = m_sandbox->file("a.bmp");
        m_prompts->answerSave(FileDialogResult{{target}, 1});
        window->SaveAs();
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.read(3).startsWith("\xFF\xD8\xFF"));
        QVERIFY(m_prompts->asked(ScriptedPrompts::Kind::Message).isEmpty());
    }

    void failedSaveKeepsOldFile()
    {
        frmViwer *window = viewer();
        // Wider than JPEG can hold.
        window->ViewImage({image("wide.png", 70000, 2)}, 0);
        const QString target = m_sandbox->file("old.jpg");
        {
            QFile old(target);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("OLD CONTENT");
        }
        m_prompts->answerSave(FileDialogResult{{target}, 1});
        window->SaveAs();
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("OLD CONTENT"));
        const auto messages = m_prompts->asked(ScriptedPrompts::Kind::Message);
        QCOMPARE(messages.size(), 1);
        QVERIFY(messages.first().text.contains("old.jpg"));
        QCOMPARE(QDir(m_sandbox->path()).entryList({"old.jpg*"}, QDir::Files).size(), 1);
    }

    // ------------------------------------------------------------------ printing
    void printing_data()
    {
        QTest::addColumn<int>("pages");
        QTest::addColumn<int>("range"); // QPrinter::PrintRange
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("placement");
        QTest::addColumn<int>("sheets");
        QTest::addColumn<QString>("where");
        QTest::newRow("single top left")
            << 1 << int(QPrinter::AllPages) << 0 << 0 << 0 << 1 << "topleft";
        QTest::newRow("single centred")
            << 1 << int(QPrinter::AllPages) << 0 << 0 << 1 << 1 << "centre";
        QTest::newRow("single fitted") << 1 << int(QPrinter::AllPages) << 0 << 0 << 2 << 1 << "fit";
        QTest::newRow("four pages all")
            << 4 << int(QPrinter::AllPages) << 0 << 0 << 2 << 4 << "fit";
        QTest::newRow("four pages range")
            << 4 << int(QPrinter::PageRange) << 2 << 3 << 0 << 2 << "topleft";
        QTest::newRow("selection centred not fitted")
            << 4 << int(QPrinter::Selection) << 0 << 0 << 2 << 1 << "centre";
    }
    void printing()
    {
        QFETCH(int, pages);
        QFETCH(int, range);
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, placement);
        QFETCH(int, sheets);
        QFETCH(QString, where);
        frmViwer *window = viewer();
        QList<QImage> images;
        for (int i = 0; i < pages; ++i)
            images.append(pattern(192, 96, QColor(220, 0, 0)));
        window->ImgX()->document()->adoptDecoded(
            DecodedImage{images, FormatTiff, 24, QSize(192, 96), 0, {}},
            m_sandbox->file("pages.tif"));
        const QString pdf = m_sandbox->file("out.pdf");
        m_prompts->answerPrint([&](QPrinter &printer, int minPage, int maxPage) {
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            printer.setPageSize(QPageSize(QPageSize::A4));
            printer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter);
            printer.setPrintRange(QPrinter::PrintRange(range));
            if (from > 0)
                printer.setFromTo(from, to);
            return minPage == 1 && maxPage == pages;
        });
        window->PrintImage(placement);
        QCOMPARE(window->printer().docName(), QStringLiteral("Tessimo"));
        QVERIFY(m_prompts->asked(ScriptedPrompts::Kind::Message).isEmpty());
        QProcess info;
        info.start("pdfinfo", {pdf});
        QVERIFY(info.waitForFinished(20000));
        QVERIFY(QString::fromLatin1(info.readAllStandardOutput())
                    .contains(QRegularExpression(QStringLiteral("Pages:\\s+%1\\n").arg(sheets))));
        // Render the first sheet at 25 DPI and find the red image on it.
        QProcess render;
        render.start("pdftoppm", {"-r", "25", "-f", "1", "-l", "1", "-png", "-singlefile", pdf,
                                  m_sandbox->file("sheet")});
        QVERIFY(render.waitForFinished(20000));
        const QImage sheet(m_sandbox->file("sheet.png"));
        QVERIFY(!sheet.isNull());
        QRect red;
        for (int y = 0; y < sheet.height(); ++y)
            for (int x = 0; x < sheet.width(); ++x) {
                const QColor c = sheet.pixelColor(x, y);
                if (c.red() > 150 && c.green() < 100 && c.blue() < 100)
                    red |= QRect(x, y, 1, 1);
            }
        QVERIFY(!red.isEmpty());
        const double mm = 25 / 25.4; // pixels per millimetre at 25 DPI
        const QRectF printable(20 * mm, 20 * mm, (210 - 40) * mm, (297 - 40) * mm);
        const QSizeF natural(192 / 96.0 * 25, 96 / 96.0 * 25); // 2 x 1 inch
        auto near = [](double a, double b) { return std::fabs(a - b) <= 2.5; };
        if (where == "topleft") {
            QVERIFY(near(red.left(), printable.left()) && near(red.top(), printable.top()));
            QVERIFY(near(red.width(), natural.width()));
        } else if (where == "centre") {
            QVERIFY(near(red.center().x(), printable.center().x()));
            QVERIFY(near(red.center().y(), printable.center().y()));
            QVERIFY(near(red.width(), natural.width()));
        } else {
            QVERIFY2(near(red.width(), printable.width()),
                     qPrintable(QString::number(red.width())));
            QVERIFY(near(red.height(), printable.width() / 2));
            QVERIFY(near(red.center().y(), printable.center().y()));
        }
    }

    void printCancelledDoesNothing()
    {
        frmViwer *window = viewer();
        window->ViewImage({image("p.png", 12, 12)}, 0);
        const QString pdf = m_sandbox->file("never.pdf");
        window->printer().setOutputFileName(pdf);
        window->PrintImage(1);
        QCOMPARE(m_prompts->asked(ScriptedPrompts::Kind::Print).size(), 1);
        QVERIFY(!QFile::exists(pdf));
        window->PageSetup();
        QCOMPARE(m_prompts->asked(ScriptedPrompts::Kind::PageSetup).size(), 1);
    }

    // ------------------------------------------------------------------ encryption, wheel, fit
    void encryptAndDecryptFromTheToolsMenu()
    {
        frmViwer *window = viewer();
        window->ViewImage({image("p.png", 40, 30)}, 0);
        QStringList tools;
        for (QAction *item : window->findChild<QMenu *>("mnuTools")->actions())
            tools.append(item->isSeparator() ? QStringLiteral("-") : item->text());
        QCOMPARE(tools.mid(tools.indexOf("Set As Wallpaper")),
                 (QStringList{"Set As Wallpaper", "-", "Encrypt...", "Decrypt..."}));

        ImageDocument *document = window->ImgX()->document();
        const QImage shown = document->image();
        // The key typed into the real prompt, then OK or Cancel.
        auto withKey = [window, this](const char *command, const QString &key, bool ok) {
            test::ModalDriver driver;
            driver.then<frmDialog>([key, ok](frmDialog *dialog) {
                QTest::keyClicks(dialog->txtText(0), key);
                (ok ? dialog->cmdOK() : dialog->cmdCancel())->click();
            });
            action(window, command)->trigger();
            QVERIFY2(driver.finished(), qPrintable(driver.failures().join("; ")));
        };
        withKey("mnuEncrypt", QStringLiteral("secret"), false);
        QVERIFY(samePixels(document->image(), shown));
        withKey("mnuEncrypt", QStringLiteral("secret"), true);
        QVERIFY(!samePixels(document->image(), shown));

        // Kept in a PNG and opened again: a wrong key gives noise, the right one the picture.
        const QString kept = m_sandbox->file("kept.png");
        m_prompts->answerSave(FileDialogResult{{kept}, 2});
        window->SaveAs();
        window->ViewImage({kept}, 0);
        QVERIFY(!samePixels(document->image(), shown));
        withKey("mnuDecrypt", QStringLiteral("wrong"), true);
        QVERIFY(!samePixels(document->image(), shown));
        window->ViewImage({kept}, 0);
        withKey("mnuDecrypt", QStringLiteral("secret"), true);
        QVERIFY(samePixels(document->image(), shown));
    }

    void wheelStepsThroughPicturesThatFit()
    {
        frmViwer *window = viewer();
        window->ViewImage({image("a.png", 40, 30), image("b.png", 41, 30), image("c.png", 42, 30)},
                          1);
        turnWheel(window, QPoint(0, -120));
        QCOMPARE(window->CurrentIndex(), 2);
        turnWheel(window, QPoint(0, 120));
        QCOMPARE(window->CurrentIndex(), 1);
        // A fine wheel's small turns add up to one notch.
        for (int i = 0; i < 3; ++i)
            turnWheel(window, QPoint(0, -40));
        QCOMPARE(window->CurrentIndex(), 2);
        turnWheel(window, QPoint(0, -120)); // the last picture: no wrap
        QCOMPARE(window->CurrentIndex(), 2);
    }

    void wheelScrollsAPictureLargerThanItsArea()
    {
        frmViwer *window = viewer();
        window->ViewImage({image("a.png", 300, 200), image("b.png", 30, 20)}, 0);
        for (int i = 0; i < 6; ++i)
            window->ZoomIn();
        QScrollBar *down = window->ImgX()->verticalScrollBar();
        QScrollBar *across = window->ImgX()->horizontalScrollBar();
        QVERIFY(down->maximum() > 200 && across->maximum() > 200);
        down->setValue(100);
        across->setValue(100);
        turnWheel(window, QPoint(0, -120));
        QCOMPARE(down->value(), 160);
        turnWheel(window, QPoint(0, 120), Qt::ShiftModifier);
        QCOMPARE(across->value(), 40);
        QCOMPARE(down->value(), 160);
        QCOMPARE(window->CurrentIndex(), 0);
    }

    void ctrlWheelZoomsAroundThePointer()
    {
        frmViwer *window = viewer();
        window->ViewImage({image("a.png", 600, 400)}, 0);
        ImageView *view = window->ImgX();
        const QPoint pointer = view->imageRect().topLeft() + QPoint(200, 150);
        const QPointF under = view->imagePointAt(pointer);
        for (int i = 1; i <= 3; ++i) {
            turnWheel(window, QPoint(0, 120), Qt::ControlModifier, pointer);
            QVERIFY(std::fabs(view->ZoomFactor() - std::pow(1.25, i)) < 1e-12);
            const QPointF now = view->imagePointAt(pointer);
            QVERIFY2(std::fabs(now.x() - under.x()) <= 1 && std::fabs(now.y() - under.y()) <= 1,
                     qPrintable(QStringLiteral("%1,%2").arg(now.x()).arg(now.y())));
        }
        for (int i = 0; i < 3; ++i)
            turnWheel(window, QPoint(0, -120), Qt::ControlModifier, pointer);
        QCOMPARE(window->statusPanel(5), QStringLiteral("100 %"));
        QCOMPARE(window->CurrentIndex(), 0);
    }

    void fitAndActualSize_data()
    {
        QTest::addColumn<bool>("fullScreen");
        QTest::addColumn<QSize>("picture");
        QTest::newRow("landscape in a window") << false << QSize(900, 400);
        QTest::newRow("portrait in a window") << false << QSize(300, 650);
        QTest::newRow("tiny in a window") << false << QSize(24, 16);
        QTest::newRow("landscape in full screen") << true << QSize(3000, 900);
        QTest::newRow("portrait in full screen") << true << QSize(700, 2400);
        QTest::newRow("tiny in full screen") << true << QSize(24, 16);
    }
    void fitAndActualSize()
    {
        QFETCH(bool, fullScreen);
        QFETCH(QSize, picture);
        store("FullScreen", fullScreen ? "1" : "0");
        frmViwer *window = frmViwer::instance();
        window->ImgX()->setZoomFactor(1.0);
        window->ViewImage({image("p.png", picture.width(), picture.height())}, 0);
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        ImageView *view = window->ImgX();
        auto checkWhole = [&] {
            const QRect area = view->viewport()->rect();
            const QRect shown = view->imageRect();
            QVERIFY(area.contains(shown));
            // As large as the area allows, but never blown up.
            const double fit = qMin(1.0, qMin(double(area.width()) / picture.width(),
                                              double(area.height()) / picture.height()));
            QVERIFY(std::fabs(view->ZoomFactor() - fit) < 1e-9);
            QCOMPARE(view->verticalScrollBar()->maximum(), 0);
            QCOMPARE(view->horizontalScrollBar()->maximum(), 0);
        };
        // Keys 0 and Ctrl+0, and the View menu's Fit; 1 and Ctrl+1, and Actual Size.
        for (const QKeyCombination key :
             {QKeyCombination(Qt::Key_0), QKeyCombination(Qt::ControlModifier, Qt::Key_0)}) {
            for (int i = 0; i < 5; ++i)
                window->ZoomIn();
            QTest::keyClick(view, key.key(), key.keyboardModifiers());
            checkWhole();
        }
        window->ZoomIn();
        action(window, "mnuFit")->trigger();
        checkWhole();
        for (const QKeyCombination key :
             {QKeyCombination(Qt::Key_1), QKeyCombination(Qt::ControlModifier, Qt::Key_1)}) {
            window->ZoomOut();
            QTest::keyClick(view, key.key(), key.keyboardModifiers());
            QCOMPARE(view->ZoomFactor(), 1.0);
            QCOMPARE(view->imageRect().size(), picture);
        }
        window->ZoomOut();
        action(window, "mnuActualSize")->trigger();
        QCOMPARE(window->statusPanel(5), QStringLiteral("100 %"));
        QCOMPARE(action(window, "mnuFit")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_0));
        QCOMPARE(action(window, "mnuActualSize")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_1));
    }

    // ------------------------------------------------------------------ Properties
    void propertiesWindowShowsEveryFieldAndFollows()
    {
        test::RecordingLauncher launcher;
        const QString photo = image("photo.jpg", 320, 240);
        QProcess exiftool;
        exiftool.start("exiftool", {"-q", "-overwrite_original", "-Make=Nikon", "-Model=Z 6",
                                    "-LensModel=NIKKOR Z 24-70mm f/4 S", "-ExposureTime=1/60",
                                    "-FNumber=8", "-ISO=400", "-FocalLength=24", "-Orientation#=1",
                                    "-DateTimeOriginal=2022:01:02 03:04:05", "-GPSLatitude=33.8568",
                                    "-GPSLatitudeRef=S", "-GPSLongitude=151.2153",
                                    "-GPSLongitudeRef=E", "-Comment=Harbour", photo});
        QVERIFY(exiftool.waitForFinished(60000) && exiftool.exitCode() == 0);
        const QString plain = image("plain.png", 30, 20);
        frmViwer *window = viewer();
        window->ViewImage({photo, plain}, 0);
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));

        QTest::keyClick(window->ImgX(), Qt::Key_I);
        PropertiesWindow *properties = window->propertiesWindow();
        QVERIFY(properties && properties->isVisible());
        QCOMPARE(properties->windowTitle(), QStringLiteral("Properties"));
        const QList<std::pair<QString, QString>> expected{
            {"File name", "photo.jpg"},
            {"Pixel size", "320 x 240"},
            {"Format", "JPEG"},
            {"Pages", "1"},
            {"Date taken", "2022-01-02 03:04:05"},
            {"Camera make", "Nikon"},
            {"Camera model", "Z 6"},
            {"Lens", "NIKKOR Z 24-70mm f/4 S"},
            {"Exposure time", "1/60 s"},
            {"F-number", "f/8"},
            {"ISO", "400"},
            {"Focal length", "24 mm"},
            {"Orientation", "Horizontal (normal)"},
            {"GPS position", QString::fromUtf8("33.856800\u00b0 S, 151.215300\u00b0 E")},
            {"Comment", "Harbour"}};
        for (const auto &[key, value] : expected)
            QCOMPARE(properties->shownValue(key), value);

        // The link opens a map of the place in the browser.
        QLabel *link = properties->mapLink();
        QVERIFY(link);
        QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(8, link->height() / 2));
        QCOMPARE(launcher.calls().size(), 1);
        QVERIFY(launcher.calls().first().program.contains("mlat=-33.856800&mlon=151.215300"));

        // It follows Next: a picture without metadata has its file's facts only.
        window->NextImage();
        QCOMPARE(properties->shownValue("File name"), QStringLiteral("plain.png"));
        QCOMPARE(properties->shownValue("Pixel size"), QStringLiteral("30 x 20"));
        QCOMPARE(properties->shownValue("Camera make"), QString());
        QVERIFY(!properties->mapLink());

        // The context menu opens it too.
        properties->close();
        std::unique_ptr<QMenu> menu(window->buildViewerMenu(window));
        QCOMPARE(menu->actions().last()->text(), QStringLiteral("Properties"));
        menu->actions().last()->trigger();
        QVERIFY(properties->isVisible());
        QCOMPARE(action(window, "mnuProperties")->shortcut(), QKeySequence(Qt::Key_I));
    }

    void copyImageFullSize()
    {
        frmViwer *window = viewer();
        window->ViewImage({image("big.png", 900, 700)}, 0);
        window->ImgX()->setZoomFactor(0.25);
        QTest::keyClick(window->ImgX(), Qt::Key_G, Qt::ControlModifier);
        action(window, "mnuCopyImage")->trigger();
        const QImage copied = QGuiApplication::clipboard()->image();
        QCOMPARE(copied.size(), QSize(900, 700));
        QVERIFY(samePixels(copied, window->ImgX()->document()->image()));
    }
};

QTEST_MAIN(FrmViwerTest)
#include "frmviwertest.moc"
