// qmt-bench explore [--no-cache | --unwritable-cache] [--scroll] DIR: lists DIR in the real
// explorer control and prints how long the placeholders, the filled list and all of its thumbnails
// took, the longest time the event loop was kept waiting (with what ran meanwhile, the longest a
// thread that only sleeps was kept waiting by the machine, and the most processor time the
// interface thread spent between two turns of its loop), and the peak memory of the process. With
// --scroll the list is scrolled to its middle as soon as it is filled, and the time until every
// cell on screen there shows its thumbnail is printed too.

#include "benches.h"
#include "eventtimer.h"

#include "app/browserextensions.h"

#include "explorer/explorermodel.h"
#include "explorer/imageexplore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QListView>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

// Peak resident set size in megabytes, from the kernel's own count.
double peakRssMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

// A thread that only sleeps a millisecond at a time: the longest it waited beyond that is how
// long the machine itself kept a thread that wanted to run from running (other programs, the
// virtual machine's host). A stall of the event loop no longer than this is not the program's.
class MachineStallWatch
{
public:
    void start()
    {
        m_thread = std::thread([this] {
            using Clock = std::chrono::steady_clock;
            auto last = Clock::now();
            while (!m_stop.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                const auto now = Clock::now();
                m_longestNs = std::max<qint64>(
                    m_longestNs,
                    std::chrono::duration_cast<std::chrono::nanoseconds>(now - last).count());
                last = now;
            }
        });
    }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    ~MachineStallWatch() { stop(); }
    qint64 longestNs() const { return m_longestNs; }

private:
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    qint64 m_longestNs = 0;
};

} // namespace

int runExploreBench(const QStringList &arguments)
{
    bool noCache = false;
    bool unwritableCache = false;
    bool scroll = false;
    QString dir;
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--no-cache"))
            noCache = true;
        else if (argument == QLatin1String("--unwritable-cache"))
            unwritableCache = true;
        else if (argument == QLatin1String("--scroll"))
            scroll = true;
        else
            dir = argument;
    }
    if (dir.isEmpty() || !QFileInfo(dir).isDir()) {
        std::fprintf(stderr,
                     "usage: qmt-bench explore [--no-cache | --unwritable-cache] [--scroll] DIR\n");
        return 2;
    }

    qmt::ImageExplore explorer;
    QTemporaryDir emptyCache;
    if (noCache)
        explorer.setThumbnailCacheRoot(emptyCache.path() + QStringLiteral("/thumbnails"));
    if (unwritableCache) {
        // A cache that cannot be made, whoever runs the bench: its folder would sit under a file.
        QFile blocker(emptyCache.filePath(QStringLiteral("file")));
        if (!blocker.open(QIODevice::WriteOnly))
            return 1;
        explorer.setThumbnailCacheRoot(blocker.fileName() + QStringLiteral("/thumbnails"));
    }
    explorer.resize(1200, 800);
    // The browser's own list, so that a folder of any type it lists is timed.
    explorer.SetExt(QString::fromLatin1(qmt::kBrowserExtensions));
    explorer.show();

    QElapsedTimer clock;
    qint64 placeholdersMs = -1;
    qint64 listedMs = -1;
    qint64 completeMs = -1;
    qint64 scrolledMs = -1;
    qint64 lastTick = -1;
    qint64 longestStall = 0;

    // A fast timer: the longest gap between its ticks is the longest the loop was kept busy.
    MachineStallWatch machine;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (lastTick >= 0)
            longestStall = qMax(longestStall, now - lastTick);
        lastTick = now;
        BenchApplication::instance()->tick();
    });
    QObject::connect(&explorer, &qmt::ImageExplore::placeholdersShown,
                     [&] { placeholdersMs = clock.elapsed(); });

    // Whether every cell on screen shows its own thumbnail (or its broken picture).
    QListView *list = explorer.listView();
    auto screenFilled = [&] {
        const QRect area = list->viewport()->rect();
        const QSize step = list->gridSize() / 2;
        for (int y = area.top() + 1; y < area.bottom(); y += qMax(1, step.height())) {
            for (int x = area.left() + 1; x < area.right(); x += qMax(1, step.width())) {
                const QModelIndex index = list->indexAt(QPoint(x, y));
                if (index.isValid() &&
                    index.data(qmt::ExplorerModel::IconKeyRole).toString() !=
                        QLatin1String("Folder") &&
                    index.data(qmt::ExplorerModel::PictureRole).value<QImage>().isNull())
                    return false;
            }
        }
        return true;
    };
    QTimer scrollWatch;
    scrollWatch.setInterval(2);
    qint64 scrolledAt = -1;
    QObject::connect(&scrollWatch, &QTimer::timeout, [&] {
        if (screenFilled()) {
            scrolledMs = clock.elapsed() - scrolledAt;
            scrollWatch.stop();
        }
    });

    auto finish = [&] {
        completeMs = clock.elapsed();
        if (scrollWatch.isActive() && screenFilled())
            scrolledMs = completeMs - scrolledAt;
        // The last stretch, from the final event-loop turn to the end of the work.
        longestStall = qMax(longestStall, clock.nsecsElapsed() - lastTick);
        ticker.stop();
        machine.stop();
        BenchApplication::instance()->stopWatching();
        QCoreApplication::quit();
    };
    QObject::connect(&explorer, &qmt::ImageExplore::thumbnailsDone, [&] {
        if (listedMs >= 0)
            finish();
    });
    QTimer::singleShot(50, [&] {
        ticker.start();
        machine.start();
        clock.start();
        BenchApplication::instance()->watchEvents();
        lastTick = 0;
        explorer.ExplorePath(dir);
        listedMs = clock.elapsed();
        if (scroll) {
            QScrollBar *bar = list->verticalScrollBar();
            bar->setValue((bar->minimum() + bar->maximum()) / 2);
            scrolledAt = clock.elapsed();
            scrollWatch.start();
        }
        if (!explorer.isMakingThumbnails())
            finish();
    });
    QApplication::exec();

    int broken = 0;
    int folders = 0;
    for (int row = 0; row < explorer.model()->rowCount(); ++row) {
        const qmt::ExplorerModel::Item &item = explorer.model()->item(row);
        if (!item.toolTip.isEmpty())
            ++broken;
        if (item.iconKey == QLatin1String("Folder"))
            ++folders;
    }
    std::printf("items: %d\n", explorer.itemCount());
    std::printf("folders: %d\n", folders);
    std::printf("images: %lld\n", static_cast<long long>(explorer.imagePaths().size()));
    std::printf("unreadable: %d\n", broken);
    std::printf("cache: %s\n", noCache           ? "empty"
                               : unwritableCache ? "unwritable"
                                                 : qPrintable(explorer.thumbnailCacheRoot()));
    std::printf("placeholders_ms: %lld\n", static_cast<long long>(placeholdersMs));
    std::printf("listed_ms: %lld\n", static_cast<long long>(listedMs));
    if (scroll)
        std::printf("scrolled_screen_ms: %lld\n", static_cast<long long>(scrolledMs));
    std::printf("complete_ms: %lld\n", static_cast<long long>(completeMs));
    std::printf("longest_stall_ms: %.1f\n", longestStall / 1e6);
    // What ran while the event loop was kept waiting longest.
    const BenchApplication *app = BenchApplication::instance();
    std::printf("longest_stall_at: %.1f ms, monotonic %.6f s\n", app->longestGapStartNs() / 1e6,
                app->longestGapMonotonicNs() / 1e9);
    std::printf("longest_stall_contents: %s\n", qPrintable(app->longestGapContents()));
    std::printf("machine_stall_ms: %.1f\n", machine.longestNs() / 1e6);
    std::printf("busiest_stall_cpu_ms: %.1f\n", app->busiestGapCpuNs() / 1e6);
    std::printf("busiest_stall_at: monotonic %.6f s\n", app->busiestGapMonotonicNs() / 1e9);
    std::printf("busiest_stall_contents: %s\n", qPrintable(app->busiestGapContents()));
    std::printf("decoded: %d\n", explorer.decodedPictureCount());
    std::printf("kept_pictures: %d\n", explorer.keptPictureCount());
    std::printf("peak_rss_mb: %.1f\n", peakRssMb());
    return 0;
}
