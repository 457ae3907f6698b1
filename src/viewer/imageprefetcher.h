#pragma once

#include "components/engine/imageio.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QThreadPool>

#include <optional>

namespace qmt {

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
    // the kept ones not decoded yet.
    void keep(const QStringList &paths);
    // Stores an image the window decoded itself (the shown one), when its path is kept.
    void store(const QString &path, const DecodedImage &image);
    // The decoded image of `path`, if ready and the file has not changed since.
    std::optional<DecodedImage> take(const QString &path) const;
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
    };
    static Stamp stampOf(const QString &path);
    void start(const QString &path);
    void finished(const QString &path, const Stamp &stamp, const Result<DecodedImage> &result);

    QThreadPool m_pool;
    QHash<QString, Entry> m_ready;
    QSet<QString> m_pending;
    QSet<QString> m_kept;
};

} // namespace qmt
