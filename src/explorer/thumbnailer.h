#pragma once

#include "components/thumbnailcache.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QThreadPool>

#include <memory>

namespace qmt {

// Makes the explorer's thumbnails in a pool of worker threads, one per core. The workers decode
// at reduced size and go through the shared thumbnail cache; they hand back QImages only, the
// explorer turns them into pixmaps. Results are delivered in the order the jobs were given, on
// the thread that owns the thumbnailer, and only a bounded number of jobs run ahead of the
// next one to deliver. Each batch carries a generation: results of an older batch are dropped.
class Thumbnailer : public QObject
{
    Q_OBJECT

public:
    struct Job {
        QString path;
        // Icons, cursors and bitmaps go through the platform picture path and keep their size.
        bool pictureLoader = false;
    };

    struct Outcome {
        QImage thumbnail;
        QString error; // why there is no thumbnail
        bool fromCache = false;
    };

    explicit Thumbnailer(QObject *parent = nullptr);
    ~Thumbnailer() override;

    // Where thumbnails are kept; an empty root means the desktop's shared cache. Without a
    // cache every thumbnail is made from its file.
    void setCacheRoot(const QString &root);
    void setCacheEnabled(bool enabled);
    QString cacheRoot() const;

    // Drops whatever runs and starts the batch `jobs` under `generation`.
    void start(quint64 generation, const QList<Job> &jobs);
    // Drops every job not started; results of running ones will be ignored.
    void cancel();
    // Whether a batch still has results to deliver.
    bool busy() const { return m_nextDeliver < m_jobs.size(); }
    int threadCount() const { return m_pool.maxThreadCount(); }

    // Makes one thumbnail on the calling thread, through the same cache.
    Outcome makeNow(const Job &job) const
    {
        return makeOne(job, m_cacheEnabled ? m_cache.get() : nullptr);
    }

    // The work of one job; safe on any thread. `cache` may be null.
    static Outcome makeOne(const Job &job, const ThumbnailCache *cache);

Q_SIGNALS:
    void ready(quint64 generation, int index, const QImage &thumbnail, const QString &error);

private:
    void feed();
    void onDone(quint64 generation, int index, const Outcome &outcome);
    void scheduleDelivery();
    void deliver();

    QThreadPool m_pool;
    std::shared_ptr<const ThumbnailCache> m_cache;
    bool m_cacheEnabled = true;
    quint64 m_generation = 0;
    QList<Job> m_jobs;
    qsizetype m_nextSubmit = 0;
    qsizetype m_nextDeliver = 0;
    qsizetype m_window = 8;
    QHash<qsizetype, Outcome> m_waiting; // finished, not handed on yet
    bool m_deliveryPosted = false;
};

} // namespace qmt
