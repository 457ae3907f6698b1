#include "shell/modassoc.h"
#include "support/sandbox.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTest>

#include <optional>

#ifdef QMT_HAVE_XCB
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#endif

namespace {

#ifdef QMT_HAVE_XCB
struct FreeReply {
    void operator()(void *p) const { std::free(p); }
};

// The colour at the middle of the first viewable top-level window of the X display whose title
// starts with `title`; nullopt when there is no such window (yet).
std::optional<QRgb> middleOfWindow(const QByteArray &display, const QByteArray &title)
{
    xcb_connection_t *c = xcb_connect(display.constData(), nullptr);
    const std::unique_ptr<xcb_connection_t, void (*)(xcb_connection_t *)> owner(c, xcb_disconnect);
    if (xcb_connection_has_error(c))
        return std::nullopt;
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    std::unique_ptr<xcb_query_tree_reply_t, FreeReply> tree(
        xcb_query_tree_reply(c, xcb_query_tree(c, screen->root), nullptr));
    if (!tree)
        return std::nullopt;
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        std::unique_ptr<xcb_get_window_attributes_reply_t, FreeReply> attributes(
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, children[i]), nullptr));
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
            continue;
        std::unique_ptr<xcb_get_property_reply_t, FreeReply> name(xcb_get_property_reply(
            c, xcb_get_property(c, 0, children[i], XCB_ATOM_WM_NAME, XCB_ATOM_ANY, 0, 256),
            nullptr));
        if (!name)
            continue;
        const QByteArray text(static_cast<const char *>(xcb_get_property_value(name.get())),
                              xcb_get_property_value_length(name.get()));
        if (!text.startsWith(title))
            continue;
        std::unique_ptr<xcb_get_geometry_reply_t, FreeReply> geometry(
            xcb_get_geometry_reply(c, xcb_get_geometry(c, children[i]), nullptr));
        if (!geometry)
            continue;
        std::unique_ptr<xcb_get_image_reply_t, FreeReply> image(
            xcb_get_image_reply(c,
                                xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, children[i],
                                              geometry->width / 2, geometry->height / 2, 1, 1, ~0u),
                                nullptr));
        if (!image || xcb_get_image_data_length(image.get()) < 4)
            continue;
        const uint8_t *bgrx = xcb_get_image_data(image.get());
        return qRgb(bgrx[2], bgrx[1], bgrx[0]);
    }
    return std::nullopt;
}
#endif

// An X server of the test's own (Xvfb on a free display), optionally with a window manager; the
// program's processes started meanwhile show their windows on it.
class XServer
{
public:
    explicit XServer(const QString &screen) : m_screen(screen) {}
    XServer(const XServer &) = delete;
    XServer &operator=(const XServer &) = delete;
    ~XServer()
    {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        for (QProcess *process : {&m_windowManager, &m_xvfb}) {
            process->terminate();
            if (!process->waitForFinished(5000))
                process->kill();
        }
    }

    bool start()
    {
        // Xvfb picks a free display and writes its number to our end of the pipe.
        m_xvfb.start(QStandardPaths::findExecutable(QStringLiteral("Xvfb")),
                     {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                      QStringLiteral("0"), m_screen, QStringLiteral("-nolisten"),
                      QStringLiteral("tcp"), QStringLiteral("-noreset")});
        if (!m_xvfb.waitForReadyRead(15000))
            return false;
        m_display = ':' + m_xvfb.readLine().trimmed();
        if (m_display.size() < 2)
            return false;
        qputenv("DISPLAY", m_display);
        qputenv("QT_QPA_PLATFORM", "xcb");
        return true;
    }

    // Starts openbox and waits until it manages the screen. A busy machine sometimes has the
    // new server refuse the first connection; openbox then ends at once and is started again.
    bool startWindowManager()
    {
        QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired()) {
            if (m_windowManager.state() == QProcess::NotRunning) {
                m_windowManager.start(QStandardPaths::findExecutable(QStringLiteral("openbox")),
                                      {});
                if (!m_windowManager.waitForStarted(10000))
                    return false;
            }
            if (windowManagerRuns())
                return true;
            QTest::qWait(100);
        }
        return false;
    }

    QByteArray display() const { return m_display; }

private:
    // A window manager that follows the freedesktop conventions names its check window on the
    // root window.
    bool windowManagerRuns() const
    {
#ifdef QMT_HAVE_XCB
        xcb_connection_t *c = xcb_connect(m_display.constData(), nullptr);
        const std::unique_ptr<xcb_connection_t, void (*)(xcb_connection_t *)> owner(c,
                                                                                    xcb_disconnect);
        if (xcb_connection_has_error(c))
            return false;
        static const char name[] = "_NET_SUPPORTING_WM_CHECK";
        std::unique_ptr<xcb_intern_atom_reply_t, FreeReply> atom(
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, sizeof name - 1, name), nullptr));
        if (!atom || atom->atom == XCB_ATOM_NONE)
            return false;
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        std::unique_ptr<xcb_get_property_reply_t, FreeReply> check(xcb_get_property_reply(
            c, xcb_get_property(c, 0, screen->root, atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr));
        return check && xcb_get_property_value_length(check.get()) == 4;
#else
        return false;
#endif
    }

    QString m_screen;
    QProcess m_xvfb;
    QProcess m_windowManager;
    QByteArray m_display;
};

// Runs xdotool with `arguments`; its output, or nothing when it failed or took too long.
std::optional<QString> xdotool(const QStringList &arguments)
{
    QProcess process;
    process.start(QStandardPaths::findExecutable(QStringLiteral("xdotool")), arguments);
    if (!process.waitForFinished(15000)) {
        process.kill();
        process.waitForFinished(5000);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

// The first visible window whose title matches the regular expression `title`, waiting for it.
QString visibleWindow(const QString &title)
{
    return xdotool({QStringLiteral("search"), QStringLiteral("--sync"),
                    QStringLiteral("--onlyvisible"), QStringLiteral("--name"), title})
        .value_or(QString())
        .section(QLatin1Char('\n'), 0, 0);
}

// Where the window manager put a window: its client area's top left on the screen.
QPoint placeOf(const QString &window)
{
    const QString shell =
        xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window})
            .value_or(QString());
    QPoint place(-1, -1);
    for (const QString &line : shell.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("X=")))
            place.setX(line.mid(2).toInt());
        else if (line.startsWith(QLatin1String("Y=")))
            place.setY(line.mid(2).toInt());
    }
    return place;
}

} // namespace

// The real program, started as a process in a sandboxed home: what its command line does to
// the process, and that only one of it runs at a time.
class StartupProcessTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<qmt::test::Sandbox> m_sandbox;

    static QString program()
    {
        return qEnvironmentVariable("QMT_BUILD_DIR") + QStringLiteral("/qmt");
    }

    QString lockFile() const { return m_sandbox->file(QStringLiteral("runtime/pictavo.lock")); }
    QString socketFile() const { return m_sandbox->file(QStringLiteral("runtime/pictavo.socket")); }

    // Starts the running program and waits until it listens for later starts.
    void startListening(QProcess &process, const QStringList &arguments)
    {
        start(process, arguments);
        QDeadlineTimer deadline(15000);
        while (!QFile::exists(socketFile()) && !deadline.hasExpired())
            QTest::qWait(50);
        QVERIFY(QFile::exists(socketFile()));
    }

    // A second start: it must end by itself, successfully, leaving the first one running.
    static void secondStartEnds(QProcess &second, const QProcess &first)
    {
        QVERIFY(second.waitForFinished(15000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);
    }

    static void start(QProcess &process, const QStringList &arguments)
    {
        process.setProgram(program());
        process.setArguments(arguments);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start();
        QVERIFY(process.waitForStarted(10000));
    }

    // True when the process is still running after a while: it opened a window and waits.
    static bool staysRunning(QProcess &process)
    {
        return !process.waitForFinished(3000) && process.state() == QProcess::Running;
    }

    static void stop(QProcess &process)
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000)) {
                process.kill();
                process.waitForFinished(5000);
            }
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(program()).isExecutable(), qPrintable(program()));
        qputenv("QMT_NONINTERACTIVE", "1");
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }

    void init() { m_sandbox = std::make_unique<qmt::test::Sandbox>(); }
    void cleanup() { m_sandbox.reset(); }

    void switchesEndAtOnce_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("/Associate") << QStringList{"/Associate"};
        QTest::newRow("/DeAssociate") << QStringList{"/DeAssociate"};
    }
    void switchesEndAtOnce()
    {
        QFETCH(QStringList, arguments);
        QProcess process;
        start(process, arguments);
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        // The lock is given back on the way out.
        QVERIFY(!QFile::exists(lockFile()));
    }

    void otherTextStartsTheBrowser_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("switch in lower case") << QStringList{"/associate"};
        QTest::newRow("missing path") << QStringList{"/no/such/file.jpg"};
        QTest::newRow("nothing") << QStringList{};
        QTest::newRow("folder") << QStringList{"/"};
    }
    void otherTextStartsTheBrowser()
    {
        QFETCH(QStringList, arguments);
        QProcess process;
        start(process, arguments);
        QVERIFY(staysRunning(process));
        QVERIFY(QFile::exists(lockFile()));
        stop(process);
    }

    void pictureStartsTheViewer()
    {
        const QString picture = m_sandbox->file(QStringLiteral("home/a picture.png"));
        QImage image(20, 20, QImage::Format_RGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(picture));
        QProcess process;
        // The two halves of an unquoted name with a space make one path again.
        start(process, picture.split(QLatin1Char(' ')));
        QVERIFY(staysRunning(process));
        stop(process);
    }

    void secondInstanceEndsSilently()
    {
        QProcess first;
        start(first, {});
        QDeadlineTimer deadline(15000);
        while (!QFile::exists(lockFile()) && !deadline.hasExpired())
            QTest::qWait(50);
        QVERIFY(QFile::exists(lockFile()));

        QProcess second;
        start(second, {QStringLiteral("/no/such/file.jpg")});
        QVERIFY(second.waitForFinished(15000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);
        // The running one keeps its lock.
        QVERIFY(QFile::exists(lockFile()));
        stop(first);
    }

    void secondStartHandsOverASwitch()
    {
        QProcess first;
        startListening(first, {});
        // The first start of a clean home associates every type without asking.
        QTRY_COMPARE_WITH_TIMEOUT(
            qmt::IsAssociated(QStringLiteral(".png"), QStringLiteral("Orvanta.png")), 1, 15000);
        QProcess second;
        start(second, {QStringLiteral("/DeAssociate")});
        secondStartEnds(second, first);
        // The running program gave the types back, and runs on.
        QTRY_COMPARE_WITH_TIMEOUT(
            qmt::IsAssociated(QStringLiteral(".png"), QStringLiteral("Orvanta.png")), 0, 10000);
        QCOMPARE(first.state(), QProcess::Running);
        stop(first);
    }

    void secondStartShowsItsPictureInTheRunningProgram()
    {
#ifndef QMT_HAVE_XCB
        QSKIP("built without libxcb: no way to look at the screen");
#else
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
            QSKIP("Xvfb is not installed");
        XServer server(QStringLiteral("1024x768x24"));
        QVERIFY(server.start());
        const QByteArray display = server.display();

        const QString folder = m_sandbox->makeDir(QStringLiteral("home/Pictures"));
        QImage image(400, 300, QImage::Format_RGB32);
        image.fill(QColor(200, 30, 40));
        QVERIFY(image.save(folder + QStringLiteral("/a picture.png")));
        image.fill(QColor(30, 30, 200));
        QVERIFY(image.save(folder + QStringLiteral("/b.png")));

        QProcess first;
        startListening(first, {});
        // Started in the picture's folder with the name alone, in two words.
        QProcess second;
        second.setWorkingDirectory(folder);
        start(second, {QStringLiteral("a"), QStringLiteral("picture.png")});
        secondStartEnds(second, first);
        QTRY_VERIFY_WITH_TIMEOUT(middleOfWindow(display, "a picture.png") == qRgb(200, 30, 40),
                                 15000);

        // A third start replaces the picture the viewer shows.
        QProcess third;
        start(third, {folder + QStringLiteral("/b.png")});
        secondStartEnds(third, first);
        QTRY_VERIFY_WITH_TIMEOUT(middleOfWindow(display, "b.png") == qRgb(30, 30, 200), 15000);
        QVERIFY(!middleOfWindow(display, "a picture.png"));
        stop(first);
#endif
    }

    void browserComesBackWhereItWasUnderAWindowManager()
    {
#ifndef QMT_HAVE_XCB
        QSKIP("built without libxcb: no way to look at the screen");
#else
        for (const char *tool : {"Xvfb", "openbox", "xdotool"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(QLatin1String(tool))));
        }
        XServer server(QStringLiteral("1600x1000x24"));
        QVERIFY(server.start());
        QVERIFY(server.startWindowManager());

        const QString folder = m_sandbox->makeDir(QStringLiteral("home/Pictures"));
        QImage image(400, 300, QImage::Format_RGB32);
        image.fill(QColor(40, 160, 60));
        QVERIFY(image.save(folder + QStringLiteral("/first.png")));
        QVERIFY(image.save(folder + QStringLiteral("/second.png")));

        QProcess browser;
        start(browser, {folder});
        const QString window = visibleWindow(QStringLiteral("^Lumisk$"));
        QVERIFY(!window.isEmpty());
        const QPoint place = placeOf(window);
        QVERIFY(place.x() >= 0);

        // The viewer, full screen over the browser, is left with Return (back to the browser)
        // and then with Escape (the viewer closes). Each time the window manager maps the
        // browser again; it must land where it was, not where the manager would place a new
        // window (the middle of the screen, or its corner beside a full-screen window).
        for (const char *leave : {"Return", "Escape"}) {
            QVERIFY(xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), window}));
            // Return opens the selected picture once the listing has selected it.
            QDeadlineTimer deadline(15000);
            QString viewer;
            while (viewer.isEmpty() && !deadline.hasExpired()) {
                xdotool({QStringLiteral("key"), QStringLiteral("Return")});
                QTest::qWait(300);
                viewer = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                  QStringLiteral("--name"), QStringLiteral("first\\.png")})
                             .value_or(QString());
            }
            QVERIFY2(!viewer.isEmpty(), leave);
            QVERIFY(xdotool({QStringLiteral("key"), QString::fromLatin1(leave)}));
            QCOMPARE(visibleWindow(QStringLiteral("^Lumisk$")), window);
            // The manager places a window as it maps it; give it time to settle.
            QTest::qWait(500);
            QCOMPARE(placeOf(window), place);
        }
        stop(browser);
#endif
    }

    void staleLockIsRecovered()
    {
        // A lock left behind by a program that is gone.
        QProcess gone;
        gone.start(QStringLiteral("/bin/sleep"), {QStringLiteral("0.1")});
        QVERIFY(gone.waitForStarted(5000));
        const qint64 deadPid = gone.processId();
        QVERIFY(gone.waitForFinished(5000));
        QFile lock(lockFile());
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(QByteArray::number(deadPid) + "\nqmt\n" + QSysInfo::machineHostName().toUtf8() +
                   "\n");
        lock.close();

        QProcess process;
        start(process, {});
        QVERIFY(staysRunning(process));
        stop(process);
    }
};

QTEST_GUILESS_MAIN(StartupProcessTest)
#include "startupprocesstest.moc"
