#include "explorer/thumbnailer.h"

#include "components/engine/imageio.h"
#include "explorer/thumbnailgeometry.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>
#include <QThread>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace qmt {
namespace {

// Workers give way to the interface thread when the cores are contended, so that a busy
// machine delays thumbnails rather than the window.
void yieldToInterface()
{
    thread_local bool lowered = false;
    if (lowered)
        return;
    lowered = true;
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    const int current = ::getpriority(PRIO_PROCESS, tid);
    ::setpriority(PRIO_PROCESS, tid, qMin(current + 4, 19));
}

} // namespace

Thumbnailer::Thumbnailer(QObject *parent) : QObject(parent)
{
    const int cores = qMax(1, QThread::idealThreadCount());
    m_pool.setMaxThreadCount(cores);
    // Enough jobs in flight to keep every core busy while one slow file holds up delivery.
    m_window = qMax(8, cores * 4);
    m_cache = std::make_shared<const ThumbnailCache>();
}

Thumbnailer::~Thumbnailer()
{
    cancel();
    m_pool.waitForDone();
}

void Thumbnailer::setCacheRoot(const QString &root)
{
    m_cache = std::make_shared<const ThumbnailCache>(root);
}

void Thumbnailer::setCacheEnabled(bool enabled)
{
    m_cacheEnabled = enabled;
}

QString Thumbnailer::cacheRoot() const
{
    return m_cache->root();
}

void Thumbnailer::start(quint64 generation, const QList<Job> &jobs)
{
    cancel();
    m_generation = generation;
    m_jobs = jobs;
    feed();
}

void Thumbnailer::cancel()
{
    m_pool.clear();
    m_jobs.clear();
    m_waiting.clear();
    m_nextSubmit = 0;
    m_nextDeliver = 0;
}

void Thumbnailer::feed()
{
    while (m_nextSubmit < m_jobs.size() && m_nextSubmit < m_nextDeliver + m_window) {
        const qsizetype index = m_nextSubmit++;
        const Job job = m_jobs.at(index);
        const quint64 generation = m_generation;
        std::shared_ptr<const ThumbnailCache> cache = m_cacheEnabled ? m_cache : nullptr;
        Thumbnailer *self = this;
        m_pool.start([self, job, generation, index, cache] {
            yieldToInterface();
            Outcome outcome = makeOne(job, cache.get());
            // The explorer keeps opaque thumbnails at 3 bytes a pixel; converting here spares
            // the interface thread.
            if (!outcome.thumbnail.isNull() && !outcome.thumbnail.hasAlphaChannel())
                outcome.thumbnail.convertTo(QImage::Format_RGB888);
            // The thumbnailer waits for its workers before it goes, so it is alive here; the
            // queued call is dropped with it should it be destroyed before delivery.
            QMetaObject::invokeMethod(
                self,
                [self, generation, index, outcome] {
                    self->onDone(generation, int(index), outcome);
                },
                Qt::QueuedConnection);
        });
    }
}

void Thumbnailer::onDone(quint64 generation, int index, const Outcome &outcome)
{
    if (generation != m_generation || index < m_nextDeliver || index >= m_jobs.size())
        return;
    m_waiting.insert(index, outcome);
    scheduleDelivery();
}

void Thumbnailer::scheduleDelivery()
{
    // Results that arrive together are handed on in slices from one queued call, so that the
    // event loop gets its turn between slices (timers, input, paints).
    if (m_deliveryPosted)
        return;
    m_deliveryPosted = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_deliveryPosted = false;
            deliver();
        },
        Qt::QueuedConnection);
}

void Thumbnailer::deliver()
{
    constexpr int kSliceMs = 8;
    QElapsedTimer slice;
    slice.start();
    const quint64 generation = m_generation;
    QPointer<Thumbnailer> guard(this);
    while (m_waiting.contains(m_nextDeliver)) {
        const Outcome next = m_waiting.take(m_nextDeliver);
        const int delivered = int(m_nextDeliver++);
        Q_EMIT ready(generation, delivered, next.thumbnail, next.error);
        // A receiver may have started another batch or destroyed us.
        if (!guard || generation != m_generation)
            return;
        if (slice.elapsed() >= kSliceMs && m_waiting.contains(m_nextDeliver)) {
            scheduleDelivery();
            break;
        }
    }
    feed();
}

Thumbnailer::Outcome Thumbnailer::makeOne(const Job &job, const ThumbnailCache *cache)
{
    Outcome outcome;
    if (job.pictureLoader) {
        ReadOptions options;
        options.firstPageOnly = true;
        auto decoded = readImageFile(job.path, options);
        if (!decoded) {
            outcome.error = decoded.error();
            return outcome;
        }
        // The picture keeps its own size; an absurdly large bitmap is fitted into the
        // thumbnail size rather than kept whole.
        outcome.thumbnail = ThumbnailCache::makeLarge(decoded->pages.first());
        return outcome;
    }

    const auto stamp = ThumbnailCache::stampOf(job.path);
    if (cache && stamp) {
        if (auto hit = cache->lookup(job.path)) {
            auto thumbnail = makeThumbnail(hit->image, hit->originalSize);
            if (thumbnail) {
                outcome.thumbnail = *thumbnail;
                outcome.fromCache = true;
                return outcome;
            }
        }
        if (auto reason = cache->failure(job.path)) {
            outcome.error = *reason;
            return outcome;
        }
    }

    ReadOptions options;
    options.targetSize = QSize(ThumbnailCache::kLargeSize, ThumbnailCache::kLargeSize);
    options.firstPageOnly = true;
    auto decoded = readImageFile(job.path, options);
    QString error;
    QImage large;
    QSize original;
    if (!decoded) {
        error = decoded.error();
    } else {
        const QImage &page = decoded->pages.first();
        original = decoded->fullSize.isValid() ? decoded->fullSize : page.size();
        if (page.isNull() || original.isEmpty())
            error = QStringLiteral("The image has no pixels.");
        else
            large = ThumbnailCache::makeLarge(page);
    }
    if (!error.isEmpty()) {
        // Only a file that could be read is recorded as one that is not an image; a file we may
        // not open is tried again next time.
        if (cache && stamp && QFileInfo(job.path).isReadable())
            cache->storeFailure(job.path, *stamp, error);
        outcome.error = error;
        return outcome;
    }
    if (cache && stamp)
        cache->store(job.path, *stamp, large, original);
    auto thumbnail = makeThumbnail(large, original);
    if (!thumbnail)
        outcome.error = thumbnail.error();
    else
        outcome.thumbnail = *thumbnail;
    return outcome;
}

} // namespace qmt
