#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>

class QEvent;
class QObject;

// The application of the benchmarks. Besides delivering events it can name what kept the event
// loop from turning. Between two ticks of the caller's fast timer (tick()), the time from one
// event boundary to the next (an event starting or ending, nested ones too) is put down to the
// innermost event being delivered then, or to the loop itself between events; for the longest
// gap between ticks it keeps what took that time.
class BenchApplication : public QApplication
{
public:
    BenchApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;

    // Starts watching from now.
    void watchEvents();
    void stopWatching();
    // The caller's timer ticked: the event loop turned.
    void tick();

    qint64 longestGapNs() const { return m_longestGapNs; }
    // The most processor time the interface thread spent in one gap: the part of a stall that
    // is the program's own work, whatever else the machine was doing.
    qint64 busiestGapCpuNs() const { return m_busiestGapCpuNs; }
    QString busiestGapContents() const { return contents(m_busiestGap); }
    qint64 busiestGapMonotonicNs() const
    {
        return m_clock.msecsSinceReference() * 1000000 + m_busiestGapStart;
    }
    // When it began, from watchEvents(), and on the system's monotonic clock (to find it in a
    // profiler's record).
    qint64 longestGapStartNs() const { return m_longestGapStart; }
    qint64 longestGapMonotonicNs() const
    {
        return m_clock.msecsSinceReference() * 1000000 + m_longestGapStart;
    }
    // What ran during the longest gap, the longest share first: "12.3 ms (cpu 12.0) in 40 x
    // MetaCall to qmt::Thumbnailer; ...". A processor time far below the share's length means
    // the interface thread was waiting (for a lock, the disk or a core).
    QString longestGapContents() const { return contents(m_longestGap); }

    static BenchApplication *instance();

private:
    struct Delivery {
        const char *receiverClass;
        QString receiverName;
        int type;
    };
    struct Share {
        qint64 ns = 0;
        qint64 cpuNs = 0;
        int count = 0;
    };

    QString describe(const Delivery &delivery) const;
    static QString contents(const QHash<QString, Share> &gap);
    void closeStretch();

    bool m_watching = false;
    QElapsedTimer m_clock;
    qint64 m_stretchStart = 0;
    qint64 m_stretchCpuStart = 0;
    qint64 m_gapStart = 0;
    QList<Delivery> m_stack;
    QHash<QString, Share> m_gap;
    qint64 m_longestGapNs = 0;
    qint64 m_longestGapStart = 0;
    QHash<QString, Share> m_longestGap;
    qint64 m_busiestGapCpuNs = 0;
    qint64 m_busiestGapStart = 0;
    QHash<QString, Share> m_busiestGap;
};
