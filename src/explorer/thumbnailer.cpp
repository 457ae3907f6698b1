#include "explorer/thumbnailer.h"

#include "components/codecs/decodebudget.h"
#include "components/codecs/embeddedpreview.h"
#include "components/engine/imageio.h"
#include "explorer/thumbnailgeometry.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QThread>

#include <cmath>

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

// The preview a camera embedded in a JPEG file, when it fills the explorer's cell. A thumbnail
// is 140 pixels wide and, for a portrait photo, up to 1.8 times as tall: a preview fitted into
// that box is never enlarged to make it (a square's picture of an elongated photo asks less).
std::optional<EmbeddedPreview> embeddedPreviewOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QSize box(kThumbnailWidth, int(std::ceil(kThumbnailWidth * kElongation)));
    return readEmbeddedPreview(&file, box);
}

} // namespace

Thumbnailer::Thumbnailer(QObject *parent) : QObject(parent)
{
    const int cores = qMax(1, QThread::idealThreadCount());
    m_pool.setMaxThreadCount(cores);
    // Every core busy and one job waiting; few enough that a scroll changes what comes next
    // within a job's time.
    m_inFlight = cores + 1;
    m_cache = std::make_shared<const ThumbnailCache>();
    m_session = std::make_shared<SessionThumbnails>();
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

void Thumbnailer::setSessionThumbnails(std::shared_ptr<SessionThumbnails> session)
{
    if (session)
        m_session = std::move(session);
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
    m_states = QList<State>(jobs.size(), State::Waiting);
    m_outstanding = int(jobs.size());
    feed();
}

void Thumbnailer::cancel()
{
    // Jobs not started are dropped; results of running ones find no batch to go to.
    m_pool.clear();
    m_jobs.clear();
    m_states.clear();
    m_preferred.clear();
    m_rereads.clear();
    m_nextInOrder = 0;
    m_running = 0;
    m_outstanding = 0;
    m_decoded = 0;
}

void Thumbnailer::prefer(const QList<int> &indexes)
{
    m_preferred.clear();
    for (const int index : indexes) {
        if (index >= 0 && index < m_states.size() && m_states.at(index) == State::Waiting)
            m_preferred.append(index);
    }
    feed();
}

void Thumbnailer::reread(int index)
{
    if (index < 0 || index >= m_states.size() || m_states.at(index) != State::Done)
        return;
    m_states[index] = State::Reread;
    m_rereads.append(index);
    ++m_outstanding;
    feed();
}

void Thumbnailer::renameJob(int index, const QString &path)
{
    if (index >= 0 && index < m_jobs.size())
        m_jobs[index].path = path;
}

int Thumbnailer::nextJob()
{
    while (!m_rereads.isEmpty()) {
        const int index = m_rereads.takeFirst();
        if (m_states.at(index) == State::Reread)
            return index;
    }
    while (!m_preferred.isEmpty()) {
        const int index = m_preferred.takeFirst();
        if (m_states.at(index) == State::Waiting)
            return index;
    }
    while (m_nextInOrder < m_states.size()) {
        const int index = int(m_nextInOrder++);
        if (m_states.at(index) == State::Waiting)
            return index;
    }
    return -1;
}

void Thumbnailer::feed()
{
    while (m_running < m_inFlight) {
        const int index = nextJob();
        if (index < 0)
            return;
        submit(index);
    }
}

void Thumbnailer::submit(int index)
{
    m_states[index] = State::Running;
    ++m_running;
    const Job job = m_jobs.at(index);
    const quint64 generation = m_generation;
    std::shared_ptr<const ThumbnailCache> cache = m_cacheEnabled ? m_cache : nullptr;
    // A disabled cache keeps nothing anywhere.
    std::shared_ptr<SessionThumbnails> session = m_cacheEnabled ? m_session : nullptr;
    Thumbnailer *self = this;
    m_pool.start([self, job, generation, index, cache, session] {
        yieldToInterface();
        // A worker waiting for memory that another decode holds lets the pool start the next
        // job meanwhile.
        const DecodeBudgetWaitNotice notice([self] { self->m_pool.releaseThread(); },
                                            [self] { self->m_pool.reserveThread(); });
        Outcome outcome = makeKept(job, cache.get(), session.get());
        // The explorer keeps opaque thumbnails at 3 bytes a pixel; converting here spares the
        // interface thread.
        if (!outcome.thumbnail.isNull() && !outcome.thumbnail.hasAlphaChannel())
            outcome.thumbnail.convertTo(QImage::Format_RGB888);
        // The thumbnailer waits for its workers before it goes, so it is alive here; the queued
        // call is dropped with it should it be destroyed before delivery.
        QMetaObject::invokeMethod(
            self, [self, generation, index, outcome] { self->onDone(generation, index, outcome); },
            Qt::QueuedConnection);
    });
    Q_EMIT handedOut(generation, index);
}

void Thumbnailer::onDone(quint64 generation, int index, const Outcome &outcome)
{
    if (generation != m_generation || index < 0 || index >= m_states.size() ||
        m_states.at(index) != State::Running)
        return;
    --m_running;
    --m_outstanding;
    m_states[index] = State::Done;
    if (outcome.decoded)
        ++m_decoded;
    QPointer<Thumbnailer> guard(this);
    Q_EMIT ready(generation, index, outcome.thumbnail, outcome.error, outcome.rereadable());
    // A receiver may have started another batch or destroyed us.
    if (!guard || generation != m_generation)
        return;
    feed();
    if (m_outstanding == 0)
        Q_EMIT finished(generation);
}

Thumbnailer::Outcome Thumbnailer::makeKept(const Job &job, const ThumbnailCache *cache,
                                           SessionThumbnails *session)
{
    Outcome outcome;
    if (session) {
        if (auto kept = session->lookup(job.path)) {
            outcome.thumbnail = std::move(*kept);
            outcome.fromSession = true;
            return outcome;
        }
    }
    outcome = makeOne(job, cache);
    // Without a place in the cache the thumbnail could only come back by decoding the picture
    // again: the session keeps it instead, as long as it has room.
    if (session && !outcome.thumbnail.isNull() && !outcome.rereadable())
        outcome.kept = session->store(job.path, outcome.thumbnail);
    return outcome;
}

Thumbnailer::Outcome Thumbnailer::makeOne(const Job &job, const ThumbnailCache *cache)
{
    Outcome outcome;
    if (job.pictureLoader) {
        const DecodeBudgetScope counted(&DecodeBudget::reducedDecodes());
        ReadOptions options;
        options.firstPageOnly = true;
        auto decoded = readImageFile(job.path, options);
        if (!decoded) {
            outcome.error = decoded.error();
            return outcome;
        }
        // The picture keeps its own size; an absurdly large bitmap is fitted into the
        // thumbnail size rather than kept whole.
        outcome.thumbnail = ThumbnailCache::makeLarge(std::move(decoded->pages.first()));
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

    // A camera's own small copy of the photo, when it shows the photo as large as the cell does.
    if (auto preview = embeddedPreviewOf(job.path)) {
        auto thumbnail = makeThumbnail(preview->image, preview->fullSize);
        if (thumbnail) {
            outcome.thumbnail = *thumbnail;
            outcome.fromPreview = true;
            // Too small for the cache's large thumbnails, which other programs would then show
            // blurred; the normal size (128 pixels) it fills.
            if (cache && stamp)
                cache->storeNormal(job.path, *stamp, preview->image, preview->fullSize);
            return outcome;
        }
    }

    // The workers decode side by side: huge pictures take turns instead of together, and each
    // holds its share until its picture has been scaled down and let go.
    const DecodeBudgetScope counted(&DecodeBudget::reducedDecodes());
    ReadOptions options;
    options.targetSize = QSize(ThumbnailCache::kLargeSize, ThumbnailCache::kLargeSize);
    options.firstPageOnly = true;
    auto decoded = readImageFile(job.path, options);
    outcome.decoded = true;
    QString error;
    QImage large;
    QSize original;
    // A picture whose reader is not installed is no failure of the file: not recorded, it gets
    // its thumbnail once the reader is there.
    bool fileAtFault = true;
    if (!decoded) {
        error = decoded.error();
        fileAtFault = decoded.failureInFile();
    } else {
        QImage &page = decoded->pages.first();
        original = decoded->fullSize.isValid() ? decoded->fullSize : page.size();
        if (page.isNull() || original.isEmpty())
            error = QStringLiteral("The image has no pixels.");
        else
            large = ThumbnailCache::makeLarge(std::move(page));
    }
    if (!error.isEmpty()) {
        // Only a file that could be read is recorded as one that is not an image; a file we may
        // not open is tried again next time.
        if (cache && stamp && fileAtFault && QFileInfo(job.path).isReadable())
            cache->storeFailure(job.path, *stamp, error);
        outcome.error = error;
        return outcome;
    }
    if (cache && stamp)
        outcome.stored = bool(cache->store(job.path, *stamp, large, original));
    auto thumbnail = makeThumbnail(large, original);
    if (!thumbnail)
        outcome.error = thumbnail.error();
    else
        outcome.thumbnail = *thumbnail;
    return outcome;
}

} // namespace qmt
