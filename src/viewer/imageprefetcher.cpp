#include "viewer/imageprefetcher.h"

#include <QFileInfo>

#include <cmath>

namespace qmt {

QSize DisplayTarget::displaySizeFor(const QSize &image) const
{
    if (!isValid() || image.isEmpty())
        return {};
    const double w = image.width();
    const double h = image.height();
    double zoom = openingFitZoom(image, viewport, false).value_or(1.0);
    const bool fits = zoom * w * tx <= windowWidthTwips && zoom * h * ty <= windowHeightTwips;
    if (fits)
        zoom = qMin(zoom, qMin(viewport.width() / w, viewport.height() / h));
    return QSize(qMax(1, int(std::lround(w * zoom))), qMax(1, int(std::lround(h * zoom))));
}

std::optional<double> DisplayTarget::openingFitZoom(const QSize &image, const QSize &area,
                                                    bool eitherWay)
{
    if (image.isEmpty() || area.isEmpty())
        return std::nullopt;
    const bool wider = image.width() > area.width();
    const bool taller = image.height() > area.height();
    if (!(wider && taller) && !(eitherWay && (wider || taller)))
        return std::nullopt;
    return qMin(double(area.width()) / image.width(), double(area.height()) / image.height());
}

ImagePrefetcher::ImagePrefetcher(QObject *parent) : QObject(parent)
{
    // Two workers: both neighbours of a new image decode side by side.
    m_pool.setMaxThreadCount(2);
}

ImagePrefetcher::~ImagePrefetcher()
{
    m_pool.clear();
    m_pool.waitForDone();
}

ImagePrefetcher::Stamp ImagePrefetcher::stampOf(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    return {info.lastModified(), info.size()};
}

void ImagePrefetcher::keep(const QStringList &paths)
{
    m_kept.clear();
    for (const QString &path : paths)
        if (!path.isEmpty())
            m_kept.insert(path);
    for (auto it = m_ready.begin(); it != m_ready.end();) {
        if (m_kept.contains(it.key()))
            ++it;
        else
            it = m_ready.erase(it);
    }
    for (const QString &path : std::as_const(m_kept))
        if (!m_ready.contains(path) && !m_pending.contains(path))
            start(path);
}

void ImagePrefetcher::store(const QString &path, const DecodedImage &image)
{
    m_ready.insert(path, Entry{image, stampOf(path), QImage(), false});
}

std::optional<DecodedImage> ImagePrefetcher::take(const QString &path) const
{
    const auto it = m_ready.constFind(path);
    if (it == m_ready.constEnd() || !(it->stamp == stampOf(path)))
        return std::nullopt;
    return it->image;
}

QImage ImagePrefetcher::displayCopy(const QString &path, bool *smooth) const
{
    const auto it = m_ready.constFind(path);
    if (it == m_ready.constEnd())
        return {};
    if (smooth)
        *smooth = it->displaySmooth;
    return it->display;
}

void ImagePrefetcher::waitForIdle()
{
    m_pool.waitForDone();
}

void ImagePrefetcher::finishPending(const QString &path)
{
    const std::shared_ptr<Job> job = m_pending.value(path);
    if (!job)
        return;
    {
        std::unique_lock lock(job->mutex);
        if (job->state == Job::State::Queued) {
            job->state = Job::State::CalledOff;
            m_pending.remove(path);
            return;
        }
        job->done.wait(lock, [&job] { return job->state == Job::State::Done; });
    }
    finished(job);
}

void ImagePrefetcher::start(const QString &path)
{
    auto job = std::make_shared<Job>();
    job->path = path;
    job->target = m_target;
    m_pending.insert(path, job);
    // The destructor waits for the pool, so the worker may use `this`; a result queued to a
    // destroyed prefetcher is discarded by Qt with it.
    m_pool.start([this, job] {
        {
            std::lock_guard lock(job->mutex);
            if (job->state == Job::State::CalledOff)
                return;
            job->state = Job::State::Running;
        }
        run(*job);
        QMetaObject::invokeMethod(
            this, [this, job] { finished(job); }, Qt::QueuedConnection);
    });
}

void ImagePrefetcher::run(Job &job)
{
    const Stamp stamp = stampOf(job.path);
    Result<DecodedImage> result = readImageFile(job.path);
    // Worker threads make QImage only; the window turns it into pixels on screen.
    QImage display;
    if (result && !result->pages.isEmpty()) {
        const QImage &page = result->pages.first();
        const QSize size = job.target.displaySizeFor(page.size());
        if (size.isValid() && size != page.size())
            display =
                page.scaled(size, Qt::IgnoreAspectRatio,
                            job.target.smooth ? Qt::SmoothTransformation : Qt::FastTransformation);
    }
    {
        std::lock_guard lock(job.mutex);
        job.stamp = stamp;
        job.result = std::move(result);
        job.display = std::move(display);
        job.state = Job::State::Done;
    }
    job.done.notify_all();
}

void ImagePrefetcher::finished(const std::shared_ptr<Job> &job)
{
    // A job the window already waited for arrives here a second time, from the worker's queued
    // call, and is ignored then.
    if (m_pending.value(job->path) != job)
        return;
    m_pending.remove(job->path);
    // Unreadable files are left to the window, which says why when it shows them; a decode
    // whose path is no longer kept is stale and dropped.
    if (!job->result || !job->result->ok() || !m_kept.contains(job->path))
        return;
    m_ready.insert(job->path, Entry{**job->result, job->stamp, job->display, job->target.smooth});
    Q_EMIT decoded(job->path);
}

} // namespace qmt
