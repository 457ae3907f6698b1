#include "viewer/imageprefetcher.h"

#include <QFileInfo>

namespace qmt {

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
    if (m_kept.contains(path))
        m_ready.insert(path, Entry{image, stampOf(path)});
}

std::optional<DecodedImage> ImagePrefetcher::take(const QString &path) const
{
    const auto it = m_ready.constFind(path);
    if (it == m_ready.constEnd() || !(it->stamp == stampOf(path)))
        return std::nullopt;
    return it->image;
}

void ImagePrefetcher::waitForIdle()
{
    m_pool.waitForDone();
}

void ImagePrefetcher::start(const QString &path)
{
    m_pending.insert(path);
    // The destructor waits for the pool, so the worker may use `this`; a result queued to a
    // destroyed prefetcher is discarded by Qt with it.
    m_pool.start([this, path] {
        const Stamp stamp = stampOf(path);
        Result<DecodedImage> result = readImageFile(path);
        // Worker threads make QImage only; the window turns it into pixels on screen.
        QMetaObject::invokeMethod(
            this,
            [this, path, stamp, result = std::move(result)] { finished(path, stamp, result); },
            Qt::QueuedConnection);
    });
}

void ImagePrefetcher::finished(const QString &path, const Stamp &stamp,
                               const Result<DecodedImage> &result)
{
    m_pending.remove(path);
    // Unreadable files are left to the window, which says why when it shows them; a decode
    // whose path is no longer kept is stale and dropped.
    if (!result.ok() || !m_kept.contains(path))
        return;
    m_ready.insert(path, Entry{*result, stamp});
    Q_EMIT decoded(path);
}

} // namespace qmt
