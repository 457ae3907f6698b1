#pragma once

#include "components/engine/imageio.h"
#include "components/result.h"

#include <QObject>
#include <QString>

#include <memory>

class QThreadPool;

namespace qmt {

// A picture decoded for the browser's preview.
struct PreviewPicture {
    QString path;
    // Icons, cursors and bitmaps come from the platform's picture loader: one page, taken as a
    // picture that cannot be read again. Other files come from the engine's readers, first page
    // decoded and the others counted, to be read from the file when shown.
    bool fromPlatformLoader = false;
    DecodedImage decoded;
};

// Decodes the picture the browser's preview is to show on a worker thread, counted against the
// memory the thumbnail workers share (DecodeBudget::reducedDecodes()), so that a huge picture
// neither freezes the window nor decodes beside thumbnails beyond that memory.
//
// Only the latest request counts. At most kMaxRunning decodes run at once; a request made while
// they run waits in a single place, which a later request takes over, so clicking through many
// items never queues many decodes. A decode whose request is no longer the latest when it would
// start is skipped, and one that ends after a later request is dropped: ready() and failed()
// come only for the latest request, and never after cancel().
//
// The workers belong to the program rather than to this object: it can go away while a decode
// runs (the window closes), and the decode's result then goes nowhere.
class PreviewDecoder : public QObject
{
    Q_OBJECT

public:
    static constexpr int kMaxRunning = 2;

    explicit PreviewDecoder(QObject *parent = nullptr);
    ~PreviewDecoder() override;

    // Starts decoding `path` for the preview; earlier requests stop counting. Asked again for
    // the path it is decoding, it goes on with that decode.
    void request(const QString &path);
    // Earlier requests stop counting; nothing more is delivered until the next request.
    void cancel();
    // Whether the latest request has not been answered yet.
    bool isPending() const { return m_pending; }
    // The path of the latest request (empty after cancel()).
    QString pendingPath() const { return m_pending ? m_latestPath : QString(); }

    // Whether the preview takes `path` from the platform's picture loader (see PreviewPicture).
    static bool usesPlatformLoader(const QString &path);
    // Decodes `path` as the preview shows it, on the calling thread, counted against the
    // budget of this thread's DecodeBudgetScope if there is one.
    static Result<PreviewPicture> decode(const QString &path);
    // Waits until no preview decode of the program runs (tests, and nothing else: a decode may
    // take seconds).
    static void waitForIdle();

Q_SIGNALS:
    // A decode began on a worker: the request was still the latest when its turn came (it may
    // wait for memory still, and end stale).
    void started(const QString &path);
    void ready(const PreviewPicture &picture);
    void failed(const QString &path, const QString &reason);

private:
    struct Shared;
    struct Job;

    static QThreadPool &workers();
    void start(const std::shared_ptr<Job> &job);
    void jobStarted(const std::shared_ptr<Job> &job);
    void jobEnded(const std::shared_ptr<Job> &job);

    std::shared_ptr<Shared> m_shared;
    std::shared_ptr<Job> m_waiting; // the request that waits for a worker, if any
    quint64 m_generation = 0;
    QString m_latestPath;
    int m_running = 0;
    bool m_pending = false;
};

} // namespace qmt
