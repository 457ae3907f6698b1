#pragma once

#include "components/engine/formatcodes.h"
#include "components/engine/imageio.h"
#include "components/result.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QObject>

#include <functional>

namespace qmt {

// One image of one or more pages, with the operations the windows use to read, transform and
// write it. It knows nothing of windows; ImageView shows it.
//
// A file's pages are decoded when they are first asked for (the first on loading, the others
// when selected, fetched or printed), and the pixels held for all pages together stay within
// kMaxImagePixels: pages decoded earlier are dropped to make room and decoded again from the
// file when needed. A page that was changed (rotated, resized, encrypted, an animation frame)
// cannot be read again and is always kept.
class ImageDocument : public QObject
{
    Q_OBJECT

public:
    explicit ImageDocument(QObject *parent = nullptr);

    // Reads the first page of the file and counts the others; page 0 becomes current. On
    // failure the document keeps what it had and the result says why.
    Status LoadImageFile(const QString &path);
    // Takes a picture the platform loader decoded (icons, cursors, bitmaps) as the one page.
    // `sourcePath`, when given, is the file it was read from: the picture keeps that name (for
    // the wallpaper copy and Save As) while its format stays unknown.
    Status LoadFromPicture(const QImage &picture, const QString &sourcePath = QString());
    // Takes an already decoded first page (from a background decode) as if loaded from `path`;
    // the file's other pages are read from `path` when asked for.
    void adoptDecoded(DecodedImage decoded, const QString &path);
    // Takes a reduced decode of `path` (its fullSize set) as a stand-in until the full picture
    // is there, so that it can be shown before the whole file is decoded. Sizes, depth and format
    // are those of the full picture; only image() gives the reduced pixels, for display.
    // Everything else that needs pixels (pages, saving, turning, the clipboard, the cipher)
    // first completes the picture through `complete`, which returns the full decode of the same
    // file; when that fails the document empties rather than work on the reduced pixels.
    void adoptPreview(DecodedImage preview, const QString &path,
                      std::function<Result<DecodedImage>()> complete);
    bool isPreview() const { return bool(m_complete); }
    // Replaces a stand-in by the full picture; true when the document then holds full pixels.
    bool completePreview();
    void ClearImage();

    int PageCount() const { return int(m_pages.size()); }
    // The page, decoded from the file when it is not held; a null image when there is no such
    // page or it cannot be decoded (fetchPage says why).
    QImage GetPage(int index);
    Result<QImage> fetchPage(int index);
    Status SelectPage(int index);
    int currentPage() const { return m_current; }

    int ImageWidthPx() const { return isPreview() ? m_previewOf.width() : image().width(); }
    int ImageHeightPx() const { return isPreview() ? m_previewOf.height() : image().height(); }
    int BitsPerPixel() const { return m_bitsPerPixel; }
    QString ImageFileName() const { return m_fileName; }
    QString ImageFileTitle() const;
    // The file the image was loaded from was renamed or moved: the image now belongs to `path`.
    // The pixels stay as they are.
    void fileRenamed(const QString &path);
    int ImageFormatCode() const { return m_formatCode; }

    // A high-quality resample of the current page; a dimension of 0 keeps the aspect ratio.
    Status ResizeImage(int width, int height);
    static QColor MakeColour(QRgb rgb, int alpha);
    // A new canvas of width x height filled with `fill`, the old page drawn with its top-left
    // corner at (x, y).
    Status ResizeCanvas(int width, int height, const QColor &fill, int x, int y);
    // Turns the current page by 90 or -90 degrees.
    Status RotateImage(double degrees);
    // Replaces the current page (decryption, edits made elsewhere).
    void replaceCurrentPage(const QImage &page);

    // Encrypts or decrypts every page in place with the key derived from `key` (see
    // imagecipher.h). An empty key is refused; a wrong key gives noise, not an error. Every
    // page is decoded for it: pages too large to be held together are refused.
    Status EncryptImage(const QString &key);
    Status DecryptImage(const QString &key);
    // Set by EncryptImage, cleared by DecryptImage and by loading or clearing: a picture in this
    // state survives only a lossless save.
    bool isEncrypted() const { return m_encrypted; }

    Status SaveImageFile(const QString &path, int formatCode) const;
    Status CopyToClipboard() const;
    QImage GetPicture() const;

    // The current page; a null image when nothing is loaded. The reduced pixels while a preview
    // stands in (see adoptPreview).
    const QImage &image() const;
    // The pixels of the pages held now, and the most they may come to (kMaxImagePixels; the
    // tests set a smaller one).
    qint64 heldPixels() const;
    void setHeldPixelLimit(qint64 pixels) { m_heldPixelLimit = pixels; }
    // How long each page of an animation the reader composed (WebP, AVIF, JPEG XL) is shown,
    // in milliseconds; empty for other pictures.
    const QList<int> &frameDelays() const { return m_frameDelays; }

    bool LoadSourceFlag = false;

Q_SIGNALS:
    // The displayed image changed: loaded, cleared, transformed or another page selected.
    void changed();

private:
    struct Page {
        QImage image; // null while not decoded
        bool changed = false;
    };

    Status applyCipher(const QString &key, bool encrypted, const QString &noImage);
    void take(DecodedImage decoded, const QString &path);
    // Completes a preview before its pixels are read or changed.
    void completeForPixels() const;
    void takePages(QList<Page> pages, int bitsPerPixel, int formatCode, const QString &fileName,
                   QList<int> frameDelays = {});
    void setCurrentImage(QImage image);
    // Drops pages that can be decoded again, other than `keep` and the current one, until
    // `pixels` more fit within the limit; false when they still do not.
    bool makeRoom(qint64 pixels, int keep);
    QList<Page> m_pages;
    QList<int> m_frameDelays;
    qint64 m_heldPixelLimit = kMaxImagePixels;
    int m_current = 0;
    int m_bitsPerPixel = 0;
    int m_formatCode = FormatUnknown;
    QString m_fileName;
    bool m_encrypted = false;
    // While a preview stands in: how to get the full picture, and its size.
    std::function<Result<DecodedImage>()> m_complete;
    QSize m_previewOf;
};

} // namespace qmt
