#include "support/fifowatchdog.h"

#include "components/nativefile.h"

#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qmt::test {

FifoWatchdog::FifoWatchdog(int timeoutMs) : m_timeoutMs(timeoutMs)
{
    m_thread = std::thread([this] { watch(); });
}

FifoWatchdog::~FifoWatchdog()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_stop.notify_all();
    m_thread.join();
}

bool FifoWatchdog::make(const QString &path)
{
    const QByteArray native = nativePath(path);
    if (::mkfifo(native.constData(), 0644) != 0)
        return false;
    std::lock_guard lock(m_mutex);
    m_fifos.append(native);
    return true;
}

void FifoWatchdog::watch()
{
    std::unique_lock lock(m_mutex);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_timeoutMs);
    if (m_stop.wait_until(lock, deadline, [this] { return m_stopping; }))
        return;
    // Time is up: whoever waits on a FIFO gets a writer (which ends an open()) and then an end
    // of file (which ends a read()); keep at it until the test ends.
    while (!m_stopping) {
        for (const QByteArray &fifo : std::as_const(m_fifos)) {
            const int fd = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                m_tripped = true;
                ::close(fd);
            }
        }
        m_stop.wait_for(lock, std::chrono::milliseconds(100), [this] { return m_stopping; });
    }
}

} // namespace qmt::test
