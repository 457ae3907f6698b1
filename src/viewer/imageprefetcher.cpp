#include "viewer/imageprefetcher.h"

#include "components/codecs/codechandler.h"
#include "components/codecs/decodebudget.h"

#include <QColorSpace>
#include <QFileInfo>
#include <QPainter>

#include <cmath>

namespace qmt {
namespace {

// The copy drawn on screen. A mild reduction (a preview the decoder already brought close to the
// size) is filtered bilinearly, as good as averaging at that ratio and several times cheaper,
// into memory taken in large pages; stronger reductions are averaged.
QImage scaledForDisplay(const QImage &page, const QSize &size, bool smooth)
{
    const bool mild = size.width() * 2 >= page.width() && size.height() * 2 >= page.height() &&
                      size.width() <= page.width() && size.height() <= page.height();
    if (smooth && mild && !page.hasAlphaChannel()) {
        QString error;
        QImage copy =
            CodecHandler::allocate(size.width(), size.height(), QImage::Format_RGB32, &error);
        if (!copy.isNull()) {
            QPainter painter(&copy);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.drawImage(QRect(QPoint(0, 0), size), page);
            painter.end();
            copy.setColorSpace(page.colorSpace());
            return copy;
        }
    }
    return page.scaled(size, Qt::IgnoreAspectRatio,
                       smooth ? Qt::SmoothTransformation : Qt::FastTransformation);
}

} // namespace

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
    // A preview still wants its full picture.
    for (const QString &path : paths) {
        const auto it = m_ready.constFind(path);
        if (!path.isEmpty() && (it == m_ready.constEnd() || it->preview) &&
            !m_pending.contains(path))
            start(path);
    }
}

void ImagePrefetcher::preview(const QString &path)
{
    m_kept = {path};
    for (auto it = m_ready.begin(); it != m_ready.end();)
        it = it.key() == path ? std::next(it) : m_ready.erase(it);
    if (!path.isEmpty() && !m_ready.contains(path) && !m_pending.contains(path))
        start(path, true);
}

void ImagePrefetcher::store(const QString &path, const DecodedImage &image)
{
    m_ready.insert(path, Entry{image, stampOf(path), QImage(), false});
}

std::optional<DecodedImage> ImagePrefetcher::ready(const QString &path, bool preview) const
{
    const auto it = m_ready.constFind(path);
    if (it == m_ready.constEnd() || it->preview != preview || !(it->stamp == stampOf(path)))
        return std::nullopt;
    return it->image;
}

std::optional<DecodedImage> ImagePrefetcher::take(const QString &path) const
{
    return ready(path, false);
}

std::optional<DecodedImage> ImagePrefetcher::takePreview(const QString &path) const
{
    return ready(path, true);
}

bool ImagePrefetcher::isPreview(const DecodedImage &image)
{
    return image.formatCode == FormatJpeg && image.pages.size() == 1 && image.fullSize.isValid() &&
           image.pages.first().size() != image.fullSize;
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
        job->done.wait(lock,
                       [&job] { return job->state == Job::State::Done || job->waitingForMemory; });
        if (job->state != Job::State::Done) {
            m_pending.remove(path);
            return;
        }
    }
    finished(job);
}

void ImagePrefetcher::start(const QString &path, bool mayReduce)
{
    auto job = std::make_shared<Job>();
    job->path = path;
    job->target = m_target;
    job->mayReduce = mayReduce && m_target.isValid();
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
    // A window waiting for this decode stops waiting when it has to wait for memory.
    const DecodeBudgetWaitNotice notice(
        [&job] {
            {
                std::lock_guard lock(job.mutex);
                job.waitingForMemory = true;
            }
            job.done.notify_all();
        },
        [&job] {
            std::lock_guard lock(job.mutex);
            job.waitingForMemory = false;
        });
    // Read ahead beside the browser's thumbnail workers: the same budget keeps a huge picture
    // from being decoded, and scaled for display, beside another.
    const DecodeBudgetScope counted(&DecodeBudget::reducedDecodes());
    ReadOptions options;
    if (job.mayReduce) {
        options.targetForFullSize = [target = job.target](const QSize &full) {
            // Worth it when the decoder can at least halve the picture both ways.
            const QSize shown = target.displaySizeFor(full);
            const bool halved = shown.isValid() && qint64(shown.width()) * 2 <= full.width() &&
                                qint64(shown.height()) * 2 <= full.height();
            return halved ? shown : QSize();
        };
    }
    Result<DecodedImage> result = readImageFile(job.path, options);
    // Worker threads make QImage only; the window turns it into pixels on screen.
    QImage display;
    if (result && !result->pages.isEmpty()) {
        const QImage &page = result->pages.first();
        // A preview is shown at the size of the picture it stands for.
        const QSize size =
            job.target.displaySizeFor(isPreview(*result) ? result->fullSize : page.size());
        if (size.isValid() && size != page.size())
            display = scaledForDisplay(page, size, job.target.smooth);
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
    const bool preview = isPreview(**job->result);
    m_ready.insert(job->path,
                   Entry{**job->result, job->stamp, job->display, job->target.smooth, preview});
    Q_EMIT decoded(job->path);
}

} // namespace qmt
