// grabloop START_MS COLOUR TIMEOUT_MS: grabs the X screen back to back and prints the time
// (ms since START_MS, a wall-clock time in ms since the epoch) of the first grab on which at
// least a fifth of the screen shows COLOUR (within 12 %), or -1. Built by launch.sh.
#include <QDateTime>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc < 4)
        return 2;
    const qint64 start = QByteArray(argv[1]).toLongLong();
    const QColor colour(QString::fromLatin1(argv[2]));
    const qint64 timeout = QByteArray(argv[3]).toLongLong();
    QScreen *screen = QGuiApplication::primaryScreen();
    int grabs = 0;
    while (QDateTime::currentMSecsSinceEpoch() - start < timeout) {
        const qint64 at = QDateTime::currentMSecsSinceEpoch() - start;
        const QImage shot = screen->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
        ++grabs;
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
        if (total > 0 && match * 5 >= total) {
            std::printf("%lld %d\n", at, grabs);
            return 0;
        }
    }
    std::printf("-1 %d\n", grabs);
    return 1;
}
