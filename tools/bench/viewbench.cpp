// qmt-bench view FILE...: opens the real viewer offscreen on the files as one list and prints
// the milliseconds from ViewImage (or Next) to the first completed paint of the image.
#include "benches.h"

#include "components/engine/imageview.h"
#include "viewer/frmviwer.h"
#include "viewer/imageprefetcher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

// Resident memory of this process in megabytes (VmRSS), or -1.
long residentMegabytes(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toLong() / 1024;
    return -1;
}

// Runs the event loop until the view has painted the image once more; the time in ms, or -1.
qint64 timeToPaint(qmt::ImageView *view, const std::function<void()> &show)
{
    QEventLoop loop;
    bool painted = false;
    const QMetaObject::Connection connection =
        QObject::connect(view, &qmt::ImageView::imagePainted, &loop, [&] {
            painted = true;
            loop.quit();
        });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    show();
    if (!painted)
        loop.exec();
    const qint64 elapsed = clock.elapsed();
    QObject::disconnect(connection);
    return painted ? elapsed : -1;
}

// Gives the prefetcher time to decode the image Next will show.
void waitForPrefetch(qmt::frmViwer *viewer, const QString &path)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 30000 && !viewer->prefetcher()->take(path).has_value()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (!viewer->prefetcher()->isPending(path) && !viewer->prefetcher()->take(path).has_value())
            viewer->prefetcher()->waitForIdle();
    }
    QCoreApplication::processEvents();
}

} // namespace

int runViewBench(const QStringList &arguments)
{
    QStringList files;
    for (const QString &argument : arguments)
        if (QFileInfo(argument).isFile())
            files.append(QFileInfo(argument).absoluteFilePath());
    if (files.isEmpty()) {
        std::fprintf(stderr, "usage: qmt-bench view FILE...\n");
        return 2;
    }
    // The viewer's settings live in a registry of the bench's own, so a run never changes the
    // user's settings and always starts from the defaults (full screen, anti-aliased).
    QTemporaryDir registry;
    qputenv("QMT_REGISTRY_DIR", registry.path().toLocal8Bit());

    qmt::frmViwer *viewer = qmt::frmViwer::instance();
    qmt::ImageView *view = viewer->ImgX();
    view->setZoomFactor(1.0);

    QElapsedTimer sinceShown;
    sinceShown.start();
    const qint64 first = timeToPaint(view, [&] { viewer->ViewImage(files, 0); });
    std::printf("%s: %lld ms\n", qPrintable(QFileInfo(files.first()).fileName()),
                static_cast<long long>(first));
    // A much reduced photo is drawn sampled first and smoothed right after: when it is smooth.
    qint64 firstSmooth = first;
    if (view->isRefinePending() && timeToPaint(view, [] {}) >= 0)
        firstSmooth = sinceShown.elapsed();
    std::fflush(stdout);

    QList<qint64> nexts;
    for (int i = 1; i < files.size(); ++i) {
        waitForPrefetch(viewer, files.at(i));
        const qint64 ms = timeToPaint(view, [&] { viewer->NextImage(); });
        std::printf("%s: %lld ms (next)\n", qPrintable(QFileInfo(files.at(i)).fileName()),
                    static_cast<long long>(ms));
        std::fflush(stdout);
        nexts.append(ms);
    }
    std::printf("first: %lld ms\n", static_cast<long long>(first));
    std::printf("first smooth: %lld ms\n", static_cast<long long>(firstSmooth));
    if (!nexts.isEmpty()) {
        std::sort(nexts.begin(), nexts.end());
        const qint64 median =
            nexts.size() % 2 ? nexts.at(nexts.size() / 2)
                             : (nexts.at(nexts.size() / 2 - 1) + nexts.at(nexts.size() / 2)) / 2;
        std::printf("next median: %lld ms\n", static_cast<long long>(median));
    }
    std::printf("rss: %ld MB\n", residentMegabytes("VmRSS:"));
    std::printf("rss peak: %ld MB\n", residentMegabytes("VmHWM:"));
    qmt::frmViwer::unload();
    return first < 0 ? 1 : 0;
}
