#pragma once

#include "components/result.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <optional>

class QIODevice;

namespace qmt {

// The thumbnail cache shared with the desktop's file managers and viewers
// ($XDG_CACHE_HOME/thumbnails, freedesktop Thumbnail Managing Standard). The program keeps its
// thumbnails in the "large" size: PNGs of at most 256 pixels named by the MD5 of the file's
// URI, carrying the URI and the file's modification time so that a changed file is noticed.
// Files that cannot be thumbnailed are recorded under fail/pictavo-<version>/. Entries are
// written under a fresh name and renamed into place, so a link planted at an entry's name is
// replaced, never written through; only regular files are read, never through a link; the
// cache's folders are made 0700 and must be real folders of the user.
// Every member may be called from any thread.
class ThumbnailCache
{
public:
    static constexpr int kLargeSize = 256;
    static constexpr int kNormalSize = 128;

    // An empty root means $XDG_CACHE_HOME/thumbnails (~/.cache/thumbnails without it).
    explicit ThumbnailCache(const QString &root = QString());

    static QString defaultRoot();
    QString root() const { return m_root; }

    // The file's URI as the standard spells it (file:///..., percent-encoded).
    static QString uriFor(const QString &path);
    // The thumbnail's file name: the MD5 of the URI in hex, then ".png".
    static QString fileNameFor(const QString &path);
    QString largePath(const QString &path) const;
    QString normalPath(const QString &path) const;
    QString failurePath(const QString &path) const;

    struct Entry {
        QImage image;       // at most 256 x 256
        QSize originalSize; // of the file's image, when the thumbnail says
    };
    // What tells one state of a file from another: its modification time and size.
    struct FileStamp {
        qint64 mtime = 0; // seconds since the epoch, as stat gives it
        qint64 size = 0;
    };
    static std::optional<FileStamp> stampOf(const QString &path);

    // The stored thumbnail of `path`, when there is one made from the file as it is now.
    std::optional<Entry> lookup(const QString &path) const;
    // The reason recorded for a file that could not be thumbnailed as it is now.
    std::optional<QString> failure(const QString &path) const;

    // What a stored thumbnail, or failure record, read from `device` says about the file `uri`
    // in the state `stamp`: nothing unless it describes that file as it is. Any bytes may come
    // in; only small PNGs are decoded.
    static std::optional<Entry> readEntry(QIODevice *device, const QString &uri,
                                          const FileStamp &stamp);
    static std::optional<QString> readFailure(QIODevice *device, const QString &uri,
                                              const FileStamp &stamp);

    // Stores a thumbnail of at most 256 pixels made from the file in the state `stamp` (taken
    // before it was read, so that a change made meanwhile is noticed next time).
    Status store(const QString &path, const FileStamp &stamp, const QImage &large,
                 const QSize &originalSize) const;
    // Stores a thumbnail of the normal size (128 pixels), for a picture whose only copy at hand
    // is too small for a large one: `image` is fitted into 128 x 128 and must fill it (a smaller
    // picture, as large as the file's image, is kept whole).
    Status storeNormal(const QString &path, const FileStamp &stamp, const QImage &image,
                       const QSize &originalSize) const;
    Status storeFailure(const QString &path, const FileStamp &stamp, const QString &reason) const;

    // Follows a file that was renamed or moved: its thumbnails take the new name and URI.
    Status move(const QString &from, const QString &to) const;
    // Forgets every thumbnail and failure record of a deleted file.
    void remove(const QString &path) const;

    // Files inside the cache itself are never thumbnailed into it.
    bool isInsideCache(const QString &path) const;

    // The large thumbnail of a decoded image: fitted into 256 x 256, never enlarged. A picture
    // handed over whole (moved in) is scaled without a second copy of its pixels.
    static QImage makeLarge(QImage image);

    // Decodes `bytes` as a stored thumbnail of `format`: a picture no larger than a few large
    // thumbnails, or nothing.
    static QImage decodeStored(QByteArray bytes, const char *format);

private:
    Status storeTagged(const QString &folder, const QString &path, const FileStamp &stamp,
                       const QImage &image, const QSize &originalSize) const;

    QString m_root;
};

} // namespace qmt
