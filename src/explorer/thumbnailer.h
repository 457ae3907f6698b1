#pragma once

#include "components/sessionthumbnails.h"
#include "components/thumbnailcache.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QThreadPool>

#include <memory>

namespace qmt {

// Makes the explorer's thumbnails in a pool of worker threads, one per core. The workers decode
// at reduced size, take a preview the camera embedded in the file when it is large enough, and
// go through the shared thumbnail cache; they hand back QImages only, the explorer turns them
// into pixmaps.
//
// A batch holds the jobs of one listing, in list order. Only a few jobs are handed to the pool
// at a time, so that the order of what comes next can still change: jobs named by prefer() (the
// cells on screen) come first, then the others in list order. Each job is done once; a
// thumbnail the explorer dropped from memory is read again with reread(), from the cache or the
// embedded preview, never by decoding the photo again. Results arrive as they are made, each
// with its job's index, on the thread that owns the thumbnailer; results of an older batch
// (another generation) are dropped.
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
        bool fromPreview = false; // made from a preview embedded in the file
        bool stored = false;      // written to the thumbnail cache
        bool decoded = false;     // the picture itself was decoded
        bool kept = false;        // kept for the session (the cache could not take it)
        bool fromSession = false; // given back from there
        // Whether the thumbnail can be had again without decoding the picture.
        bool rereadable() const
        {
            return fromCache || fromPreview || stored || kept || fromSession;
        }
    };

    explicit Thumbnailer(QObject *parent = nullptr);
    ~Thumbnailer() override;

    // Where thumbnails are kept; an empty root means the desktop's shared cache. Without a
    // cache every thumbnail is made from its file.
    void setCacheRoot(const QString &root);
    void setCacheEnabled(bool enabled);
    // Where thumbnails the cache could not take are kept for the session (by default a private
    // folder under the temporary folder, removed with the thumbnailer); unused while the cache
    // is disabled.
    void setSessionThumbnails(std::shared_ptr<SessionThumbnails> session);
    const SessionThumbnails &sessionThumbnails() const { return *m_session; }
    bool cacheEnabled() const { return m_cacheEnabled; }
    QString cacheRoot() const;

    // Drops whatever runs and starts the batch `jobs` under `generation`.
    void start(quint64 generation, const QList<Job> &jobs);
    // Drops every job not started; results of running ones will be ignored.
    void cancel();
    // The jobs to do before any other, most urgent first; replaces the previous wish. Jobs done
    // already are left out.
    void prefer(const QList<int> &indexes);
    // Makes the thumbnail of a job that was delivered again, ahead of the other jobs.
    void reread(int index);
    // The file of a job was renamed: what is still to be made of it is made from `path`.
    void renameJob(int index, const QString &path);
    // Whether jobs of the batch are still to be made or delivered.
    bool busy() const { return m_outstanding > 0; }
    int threadCount() const { return m_pool.maxThreadCount(); }
    // How many times a job of the current batch was made by decoding its picture.
    int decodedCount() const { return m_decoded; }

    // Makes one thumbnail on the calling thread, through the same cache.
    Outcome makeNow(const Job &job) const
    {
        return makeOne(job, m_cacheEnabled ? m_cache.get() : nullptr);
    }

    // The work of one job; safe on any thread. `cache` may be null. The cache comes first, then
    // a large enough preview embedded in the file, then the picture itself.
    static Outcome makeOne(const Job &job, const ThumbnailCache *cache);
    // makeOne, after a look in the session's thumbnails, and what it made and could not store
    // in the cache kept there. `session` may be null.
    static Outcome makeKept(const Job &job, const ThumbnailCache *cache,
                            SessionThumbnails *session);

Q_SIGNALS:
    void ready(quint64 generation, int index, const QImage &thumbnail, const QString &error,
               bool rereadable);
    // Every job of the batch `generation` has been delivered.
    void finished(quint64 generation);
    // Job `index` of the batch `generation` has been handed to a worker: the order of these is
    // the order of the work, whatever order the workers then end in.
    void handedOut(quint64 generation, int index);

private:
    enum class State : quint8 { Waiting, Running, Done, Reread };

    void feed();
    int nextJob();
    void submit(int index);
    void onDone(quint64 generation, int index, const Outcome &outcome);

    QThreadPool m_pool;
    std::shared_ptr<const ThumbnailCache> m_cache;
    std::shared_ptr<SessionThumbnails> m_session;
    bool m_cacheEnabled = true;
    quint64 m_generation = 0;
    QList<Job> m_jobs;
    QList<State> m_states;
    QList<int> m_preferred; // most urgent first
    QList<int> m_rereads;
    qsizetype m_nextInOrder = 0; // no job before it is Waiting
    int m_running = 0;
    int m_inFlight = 4;    // jobs handed to the pool at a time
    int m_outstanding = 0; // jobs not delivered yet, rereads included
    int m_decoded = 0;
};

} // namespace qmt
