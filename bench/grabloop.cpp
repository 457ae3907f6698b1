// grabloop COLOUR TIMEOUT_MS PROGRAM [ARGS...]: starts PROGRAM once the watcher itself is ready,
// grabs the X screen back to back and prints the time (ms since the start of PROGRAM) of the
// first grab on which at least a fifth of the middle of the screen shows COLOUR (within 12 %), or
// -1, and the number of grabs. PROGRAM is ended afterwards. Built by launch.sh.
//
// Starting the program from here, after the connection to the X server is up and one grab was
// made, keeps the watcher's own start-up out of the figure.
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

bool showsColour(const QImage &shot, const QColor &colour)
{
    qint64 match = 0;
    qint64 total = 0;
    for (int y = 0; y < shot.height(); y += 8)
        for (int x = 0; x < shot.width(); x += 8) {
            const QRgb p = shot.pixel(x, y);
            ++total;
            if (std::abs(qRed(p) - colour.red()) < 31 &&
                std::abs(qGreen(p) - colour.green()) < 31 &&
                std::abs(qBlue(p) - colour.blue()) < 31)
                ++match;
        }
    return total > 0 && match * 5 >= total;
}

// The middle of the screen, half its width and height: a full-screen grab takes tens of
// milliseconds, which would blur the figure; a picture shown anywhere big covers the middle.
QImage grab(QScreen *screen)
{
    const QRect area = screen->geometry();
    const QRect middle(area.width() / 4, area.height() / 4, area.width() / 2, area.height() / 2);
    return screen->grabWindow(0, middle.x(), middle.y(), middle.width(), middle.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc < 4)
        return 2;
    const QColor colour(QString::fromLatin1(argv[1]));
    const qint64 timeout = QByteArray(argv[2]).toLongLong();
    QScreen *screen = QGuiApplication::primaryScreen();
    if (showsColour(grab(screen), colour)) {
        std::fprintf(stderr, "grabloop: the screen already shows the colour\n");
        return 2;
    }

    QElapsedTimer clock;
    clock.start();
    pid_t child = 0;
    if (posix_spawnp(&child, argv[3], nullptr, nullptr, argv + 3, environ) != 0) {
        std::fprintf(stderr, "grabloop: cannot start %s\n", argv[3]);
        return 2;
    }
    int grabs = 0;
    qint64 found = -1;
    while (clock.elapsed() < timeout) {
        const qint64 at = clock.elapsed();
        const QImage shot = grab(screen);
        ++grabs;
        if (showsColour(shot, colour)) {
            found = at;
            break;
        }
        // A pause between grabs leaves the processor to the program and the X server.
        usleep(3000);
    }
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    std::printf("%lld %d\n", found, grabs);
    return found < 0 ? 1 : 0;
}
