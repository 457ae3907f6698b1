#include "eventtimer.h"

#include <QEvent>
#include <QMetaEnum>
#include <QThread>

#include <algorithm>
#include <ctime>

namespace {

qint64 threadCpuNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

const QString kBetweenEvents = QStringLiteral("the event loop between events");

} // namespace

BenchApplication::BenchApplication(int &argc, char **argv) : QApplication(argc, argv) {}

BenchApplication *BenchApplication::instance()
{
    return static_cast<BenchApplication *>(QCoreApplication::instance());
}

void BenchApplication::watchEvents()
{
    m_watching = true;
    m_clock.start();
    m_stretchStart = 0;
    m_stretchCpuStart = threadCpuNs();
    m_gapStart = 0;
    m_gap.clear();
    m_longestGapNs = 0;
    m_longestGap.clear();
    m_busiestGapCpuNs = 0;
    m_busiestGap.clear();
}

void BenchApplication::stopWatching()
{
    if (!m_watching)
        return;
    tick(); // the last stretch counts too
    m_watching = false;
}

QString BenchApplication::describe(const Delivery &delivery) const
{
    const char *type = QMetaEnum::fromType<QEvent::Type>().valueToKey(delivery.type);
    QString text = type ? QString::fromLatin1(type) : QString::number(delivery.type);
    text += QStringLiteral(" to ") + QString::fromLatin1(delivery.receiverClass);
    if (!delivery.receiverName.isEmpty())
        text += QStringLiteral(" \"") + delivery.receiverName + QLatin1Char('"');
    return text;
}

void BenchApplication::closeStretch()
{
    const qint64 now = m_clock.nsecsElapsed();
    const qint64 cpu = threadCpuNs();
    Share &share = m_gap[m_stack.isEmpty() ? kBetweenEvents : describe(m_stack.constLast())];
    share.ns += now - m_stretchStart;
    // The thread's clock may jump on a virtual machine: never more than the time that passed.
    share.cpuNs += qBound<qint64>(0, cpu - m_stretchCpuStart, now - m_stretchStart);
    m_stretchStart = now;
    m_stretchCpuStart = cpu;
}

void BenchApplication::tick()
{
    if (!m_watching)
        return;
    closeStretch();
    const qint64 gap = m_stretchStart - m_gapStart;
    if (gap > m_longestGapNs) {
        m_longestGapNs = gap;
        m_longestGapStart = m_gapStart;
        m_longestGap = m_gap;
    }
    qint64 cpu = 0;
    for (const Share &share : std::as_const(m_gap))
        cpu += share.cpuNs;
    if (cpu > m_busiestGapCpuNs) {
        m_busiestGapCpuNs = cpu;
        m_busiestGapStart = m_gapStart;
        m_busiestGap = m_gap;
    }
    m_gap.clear();
    m_gapStart = m_stretchStart;
}

QString BenchApplication::contents(const QHash<QString, Share> &gap)
{
    QList<std::pair<QString, Share>> shares;
    for (auto it = gap.cbegin(); it != gap.cend(); ++it)
        shares.append({it.key(), it.value()});
    std::sort(shares.begin(), shares.end(),
              [](const auto &a, const auto &b) { return a.second.ns > b.second.ns; });
    QStringList parts;
    for (const auto &[what, share] : shares) {
        if (share.ns < 1000000 && parts.size() >= 3)
            break;
        parts.append(QStringLiteral("%1 ms (cpu %2) in %3 x %4")
                         .arg(share.ns / 1e6, 0, 'f', 1)
                         .arg(share.cpuNs / 1e6, 0, 'f', 1)
                         .arg(share.count)
                         .arg(what));
    }
    return parts.join(QStringLiteral("; "));
}

bool BenchApplication::notify(QObject *receiver, QEvent *event)
{
    // Workers send events too (a plugin loaded on a thumbnail worker moves its objects to that
    // thread); only the interface thread's are timed, and only it touches the watch's state.
    if (QThread::currentThread() != thread() || !m_watching)
        return QApplication::notify(receiver, event);
    closeStretch();
    const Delivery delivery{receiver->metaObject()->className(), receiver->objectName(),
                            int(event->type())};
    m_gap[describe(delivery)].count += 1;
    m_stack.append(delivery);
    const bool result = QApplication::notify(receiver, event);
    closeStretch();
    m_stack.removeLast();
    return result;
}
