#pragma once

#include "components/engine/formatcodes.h"
#include "components/engine/imageio.h"
#include "components/result.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QObject>

namespace qmt {

// One image of one or more pages, with the operations the windows use to read, transform and
// write it. It knows nothing of windows; ImageView shows it.
class ImageDocument : public QObject
{
    Q_OBJECT

public:
    explicit ImageDocument(QObject *parent = nullptr);

    // Reads every page of the file; page 0 becomes current. On failure the document keeps what
    // it had and the result says why.
    Status LoadImageFile(const QString &path);
    // Takes a picture the platform loader decoded (icons, cursors, bitmaps) as the one page.
    // `sourcePath`, when given, is the file it was read from: the picture keeps that name (for
    // the wallpaper copy and Save As) while its format stays unknown.
    Status LoadFromPicture(const QImage &picture, const QString &sourcePath = QString());
    // Takes already decoded pages (from a background decode) as if loaded from `path`.
    void adoptDecoded(DecodedImage decoded, const QString &path);
    void ClearImage();

    int PageCount() const { return int(m_pages.size()); }
    QImage GetPage(int index) const;
    Status SelectPage(int index);
    int currentPage() const { return m_current; }

    int ImageWidthPx() const { return image().width(); }
    int ImageHeightPx() const { return image().height(); }
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
    // imagecipher.h). An empty key is refused; a wrong key gives noise, not an error.
    Status EncryptImage(const QString &key);
    Status DecryptImage(const QString &key);
    // Set by EncryptImage, cleared by DecryptImage and by loading or clearing: a picture in this
    // state survives only a lossless save.
    bool isEncrypted() const { return m_encrypted; }

    Status SaveImageFile(const QString &path, int formatCode) const;
    Status CopyToClipboard() const;
    QImage GetPicture() const { return image(); }

    // The current page; a null image when nothing is loaded.
    const QImage &image() const;
    const QList<QImage> &pages() const { return m_pages; }
    // How long each page of an animation the reader composed (WebP, AVIF, JPEG XL) is shown,
    // in milliseconds; empty for other pictures.
    const QList<int> &frameDelays() const { return m_frameDelays; }

    bool LoadSourceFlag = false;

Q_SIGNALS:
    // The displayed image changed: loaded, cleared, transformed or another page selected.
    void changed();

private:
    Status applyCipher(const QString &key, bool encrypted, const QString &noImage);
    QList<QImage> m_pages;
    QList<int> m_frameDelays;
    int m_current = 0;
    int m_bitsPerPixel = 0;
    int m_formatCode = FormatUnknown;
    QString m_fileName;
    bool m_encrypted = false;
};

} // namespace qmt
