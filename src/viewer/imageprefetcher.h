#pragma once

#include "components/engine/imageio.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QThreadPool>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

namespace qmt {

// Where a newly shown image will be drawn: the window's size in twips, the image area in
// pixels and the twips per pixel. The viewer opens an image at zoom 1, shown whole when larger
// than the image area both ways, and drawn no larger than the image area while it fits.
struct DisplayTarget {
    int windowWidthTwips = 0;
    int windowHeightTwips = 0;
    QSize viewport;
    double tx = 15.0;
    double ty = 15.0;
    bool smooth = true;

    bool isValid() const
    {
        return windowWidthTwips > 0 && windowHeightTwips > 0 && !viewport.isEmpty();
    }
    // The size the image will be drawn at; invalid when unknown.
    QSize displaySizeFor(const QSize &image) const;
    // The zoom at which a picture opens when it is larger than its image area both ways (or,
    // with `eitherWay`, in one of them): the whole picture fills the area on one side. nullopt
    // when the picture keeps the zoom it was given.
    static std::optional<double> openingFitZoom(const QSize &image, const QSize &area,
                                                bool eitherWay);
};

// Decodes the images around the shown one on worker threads, so that Next and Previous show
// at once. It holds at most the images it was last asked to keep (the shown one and its two
// neighbours); a decode that finishes after its path stopped being wanted is dropped, and a
// kept image is only handed out while its file is unchanged.
class ImagePrefetcher : public QObject
{
    Q_OBJECT

public:
    explicit ImagePrefetcher(QObject *parent = nullptr);
    ~ImagePrefetcher() override;

    // Keeps these paths (empty strings are ignored) and forgets every other; starts decoding
    // the kept ones not decoded yet, in the order given.
    void keep(const QStringList &paths);
    // Keeps only `path` and decodes it for a first look: a JPEG much larger than where it will
    // be shown (the display target) is decoded reduced, by the decoder's own scaling, to a
    // preview that still covers the display size; anything else is decoded whole. A later
    // keep() of the path decodes the full picture in the background.
    void preview(const QString &path);
    // Where the next images will be shown: decodes also scale their first page for it.
    void setDisplayTarget(const DisplayTarget &target) { m_target = target; }
    // Stores an image the window decoded itself (the shown one); the next keep() decides
    // whether it stays.
    void store(const QString &path, const DecodedImage &image);
    // The decoded image of `path`, if ready and the file has not changed since.
    std::optional<DecodedImage> take(const QString &path) const;
    // The reduced preview of `path` (pages reduced, fullSize the picture's), if that is what is
    // ready and the file has not changed since.
    std::optional<DecodedImage> takePreview(const QString &path) const;
    // When `path` is being decoded, waits for that decode and keeps its result, so the window
    // never decodes the same file a second time beside it; a decode not started yet is called
    // off instead, as the window is quicker doing it at once, and so is one that waits for memory
    // other decodes hold (the window never waits for them; the result is dropped).
    void finishPending(const QString &path);
    // The first page of a ready image already scaled for display (null when none was made).
    QImage displayCopy(const QString &path, bool *smooth) const;
    bool isPending(const QString &path) const { return m_pending.contains(path); }
    int heldCount() const { return int(m_ready.size()); }
    // Waits for running decodes (tests, shutdown).
    void waitForIdle();

Q_SIGNALS:
    void decoded(const QString &path);

private:
    struct Stamp {
        QDateTime modified;
        qint64 size = -1;
        bool operator==(const Stamp &other) const = default;
    };
    struct Entry {
        DecodedImage image;
        Stamp stamp;
        QImage display;
        bool displaySmooth = false;
        bool preview = false; // reduced: the full picture is still to be decoded
    };
    // One decode, shared by the worker doing it and the window, which may wait for it.
    struct Job {
        enum class State { Queued, Running, Done, CalledOff };
        QString path;
        DisplayTarget target;
        bool mayReduce = false;
        std::mutex mutex;
        std::condition_variable done;
        State state = State::Queued;
        bool waitingForMemory = false;
        Stamp stamp;
        std::optional<Result<DecodedImage>> result;
        QImage display;
    };
    static Stamp stampOf(const QString &path);
    static bool isPreview(const DecodedImage &image);
    std::optional<DecodedImage> ready(const QString &path, bool preview) const;
    void start(const QString &path, bool mayReduce = false);
    static void run(Job &job);
    void finished(const std::shared_ptr<Job> &job);

    QThreadPool m_pool;
    QHash<QString, Entry> m_ready;
    QHash<QString, std::shared_ptr<Job>> m_pending;
    QSet<QString> m_kept;
    DisplayTarget m_target;
};

} // namespace qmt
