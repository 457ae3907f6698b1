#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace qmt::test {

// Makes FIFOs for a test and, should the code under test block on one of them (an open() or a
// read() that waits for a writer for ever), frees it after the time-out by writing to it from
// another thread, so that the test fails instead of hanging.
class FifoWatchdog
{
public:
    explicit FifoWatchdog(int timeoutMs = 10000);
    ~FifoWatchdog();
    FifoWatchdog(const FifoWatchdog &) = delete;
    FifoWatchdog &operator=(const FifoWatchdog &) = delete;

    // Creates a FIFO at `path` (the bytes of nativePath) and watches it. False when mkfifo fails.
    bool make(const QString &path);
    // Whether a FIFO had to be freed: something waited on it.
    bool tripped() const { return m_tripped; }

private:
    void watch();

    int m_timeoutMs;
    QList<QByteArray> m_fifos;
    std::mutex m_mutex;
    std::condition_variable m_stop;
    bool m_stopping = false;
    std::atomic<bool> m_tripped{false};
    std::thread m_thread;
};

} // namespace qmt::test
