#include "components/engine/imagedocument.h"

#include "components/engine/imagecipher.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QTransform>

namespace qmt {
namespace {

const QImage &nullImage()
{
    static const QImage empty;
    return empty;
}

} // namespace

ImageDocument::ImageDocument(QObject *parent) : QObject(parent) {}

Status ImageDocument::LoadImageFile(const QString &path)
{
    Result<DecodedImage> decoded = readImageFile(path);
    if (!decoded)
        return Status::fail(decoded.error());
    adoptDecoded(std::move(*decoded), path);
    return {};
}

void ImageDocument::take(DecodedImage decoded, const QString &path)
{
    QList<Page> pages;
    if (decoded.pageCount > 0) {
        // The pages decoded (the first, or every frame of an animation the reader composed);
        // the others are read from the file when asked for.
        pages.resize(decoded.pageCount);
        for (qsizetype i = 0; i < qMin(decoded.pages.size(), pages.size()); ++i)
            pages[i].image = std::move(decoded.pages[i]);
    } else {
        // Pages made elsewhere, all of them: nothing says they can be read again.
        for (QImage &image : decoded.pages)
            pages.append(Page{std::move(image), true});
    }
    QList<int> delays =
        decoded.frameDelays.size() == pages.size() ? std::move(decoded.frameDelays) : QList<int>();
    takePages(std::move(pages), decoded.bitsPerPixel, decoded.formatCode,
              QFileInfo(path).absoluteFilePath(), std::move(delays));
}

void ImageDocument::adoptDecoded(DecodedImage decoded, const QString &path)
{
    take(std::move(decoded), path);
    Q_EMIT changed();
}

void ImageDocument::adoptPreview(DecodedImage preview, const QString &path,
                                 std::function<Result<DecodedImage>()> complete)
{
    const QSize full = preview.fullSize;
    const bool reduced = !preview.pages.isEmpty() && full.isValid() && complete &&
                         preview.pages.first().size() != full;
    take(std::move(preview), path);
    if (reduced) {
        m_complete = std::move(complete);
        m_previewOf = full;
    }
    Q_EMIT changed();
}

bool ImageDocument::completePreview()
{
    if (!m_complete)
        return !m_pages.isEmpty();
    const std::function<Result<DecodedImage>()> complete = std::move(m_complete);
    m_complete = nullptr;
    m_previewOf = QSize();
    Result<DecodedImage> full = complete();
    if (!full || full->pages.isEmpty()) {
        ClearImage();
        return false;
    }
    take(std::move(*full), m_fileName);
    Q_EMIT changed();
    return true;
}

void ImageDocument::completeForPixels() const
{
    // Completing changes what the document holds but not what it stands for.
    if (m_complete)
        const_cast<ImageDocument *>(this)->completePreview();
}

Status ImageDocument::LoadFromPicture(const QImage &picture, const QString &sourcePath)
{
    if (picture.isNull())
        return Status::fail(QStringLiteral("The picture is empty."));
    // Nothing to read again: the one page is kept as it is.
    takePages({Page{picture, true}},
              picture.depth() == 32 ? (picture.hasAlphaChannel() ? 32 : 24) : picture.depth(),
              FormatUnknown,
              sourcePath.isEmpty() ? QString() : QFileInfo(sourcePath).absoluteFilePath());
    Q_EMIT changed();
    return {};
}

void ImageDocument::ClearImage()
{
    takePages({}, 0, FormatUnknown, QString());
    Q_EMIT changed();
}

void ImageDocument::takePages(QList<Page> pages, int bitsPerPixel, int formatCode,
                              const QString &fileName, QList<int> frameDelays)
{
    m_complete = nullptr;
    m_previewOf = QSize();
    m_pages = std::move(pages);
    m_frameDelays = std::move(frameDelays);
    m_current = 0;
    m_bitsPerPixel = bitsPerPixel;
    m_formatCode = formatCode;
    m_fileName = fileName;
    m_encrypted = false;
}

qint64 ImageDocument::heldPixels() const
{
    qint64 pixels = 0;
    for (const Page &page : m_pages)
        pixels += qint64(page.image.width()) * page.image.height();
    return pixels;
}

bool ImageDocument::makeRoom(qint64 pixels, int keep)
{
    qint64 held = heldPixels();
    for (int i = 0; i < m_pages.size() && held + pixels > m_heldPixelLimit; ++i) {
        Page &page = m_pages[i];
        if (i == keep || i == m_current || page.changed || page.image.isNull())
            continue;
        held -= qint64(page.image.width()) * page.image.height();
        page.image = QImage();
    }
    return held + pixels <= m_heldPixelLimit;
}

Result<QImage> ImageDocument::fetchPage(int index)
{
    completeForPixels();
    if (index < 0 || index >= m_pages.size())
        return Result<QImage>::fail(QStringLiteral("There is no page %1.").arg(index + 1));
    if (!m_pages.at(index).image.isNull())
        return m_pages.at(index).image;
    if (m_fileName.isEmpty())
        return Result<QImage>::fail(QStringLiteral("Page %1 is not available.").arg(index + 1));
    ReadOptions options;
    options.page = index;
    options.firstPageOnly = true;
    Result<DecodedImage> decoded = readImageFile(m_fileName, options);
    if (!decoded)
        return Result<QImage>::fail(decoded.error());
    QImage page = std::move(decoded->pages.first());
    if (!makeRoom(qint64(page.width()) * page.height(), index))
        return Result<QImage>::fail(
            QStringLiteral("Page %1 does not fit in memory beside the pages that were changed.")
                .arg(index + 1));
    m_pages[index].image = page;
    return page;
}

QImage ImageDocument::GetPage(int index)
{
    Result<QImage> page = fetchPage(index);
    return page ? *page : QImage();
}

Status ImageDocument::SelectPage(int index)
{
    Result<QImage> page = fetchPage(index);
    if (!page)
        return Status::fail(page.error());
    m_current = index;
    Q_EMIT changed();
    return {};
}

void ImageDocument::fileRenamed(const QString &path)
{
    if (!m_fileName.isEmpty())
        m_fileName = QFileInfo(path).absoluteFilePath();
}

QString ImageDocument::ImageFileTitle() const
{
    return QFileInfo(m_fileName).fileName();
}

const QImage &ImageDocument::image() const
{
    return m_pages.isEmpty() ? nullImage() : m_pages.at(m_current).image;
}

void ImageDocument::setCurrentImage(QImage image)
{
    Page &page = m_pages[m_current];
    page.image = std::move(image);
    page.changed = true;
    Q_EMIT changed();
}

QImage ImageDocument::GetPicture() const
{
    completeForPixels();
    return image();
}

Status ImageDocument::ResizeImage(int width, int height)
{
    completeForPixels();
    const QImage &source = image();
    if (source.isNull())
        return Status::fail(QStringLiteral("There is no image to resize."));
    if (width < 0 || height < 0 || (width == 0 && height == 0))
        return Status::fail(
            QStringLiteral("The new size %1 x %2 is not valid.").arg(width).arg(height));
    if (width == 0)
        width = qMax(1, int(qRound64(double(source.width()) * height / source.height())));
    if (height == 0)
        height = qMax(1, int(qRound64(double(source.height()) * width / source.width())));
    if (width > kMaxImageSide || height > kMaxImageSide || qint64(width) * height > kMaxImagePixels)
        return Status::fail(
            QStringLiteral("The new size %1 x %2 is too large.").arg(width).arg(height));
    QImage scaled = source.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (scaled.isNull())
        return Status::fail(QStringLiteral("There is not enough memory to resize the image."));
    setCurrentImage(std::move(scaled));
    return {};
}

QColor ImageDocument::MakeColour(QRgb rgb, int alpha)
{
    return QColor(qRed(rgb), qGreen(rgb), qBlue(rgb), qBound(0, alpha, 255));
}

Status ImageDocument::ResizeCanvas(int width, int height, const QColor &fill, int x, int y)
{
    completeForPixels();
    const QImage &source = image();
    if (source.isNull())
        return Status::fail(QStringLiteral("There is no image."));
    if (width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide ||
        qint64(width) * height > kMaxImagePixels)
        return Status::fail(
            QStringLiteral("The canvas size %1 x %2 is not valid.").arg(width).arg(height));
    const bool alpha = fill.alpha() < 255 || source.hasAlphaChannel();
    QImage canvas(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (canvas.isNull())
        return Status::fail(QStringLiteral("There is not enough memory for the canvas."));
    canvas.fill(fill);
    {
        QPainter painter(&canvas);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(QPoint(x, y), source);
    }
    setCurrentImage(std::move(canvas));
    return {};
}

Status ImageDocument::RotateImage(double degrees)
{
    completeForPixels();
    const QImage &source = image();
    if (source.isNull())
        return Status::fail(QStringLiteral("There is no image to rotate."));
    if (degrees != 90.0 && degrees != -90.0)
        return Status::fail(QStringLiteral("Only quarter turns are supported."));
    setCurrentImage(source.transformed(QTransform().rotate(degrees)));
    return {};
}

void ImageDocument::replaceCurrentPage(const QImage &page)
{
    completeForPixels();
    if (m_pages.isEmpty())
        return;
    setCurrentImage(page);
}

Status ImageDocument::EncryptImage(const QString &key)
{
    return applyCipher(key, true, QStringLiteral("There is no image to encrypt."));
}

Status ImageDocument::DecryptImage(const QString &key)
{
    return applyCipher(key, false, QStringLiteral("There is no image to decrypt."));
}

// The cipher is its own inverse: encrypting and decrypting differ only in the state left.
Status ImageDocument::applyCipher(const QString &key, bool encrypted, const QString &noImage)
{
    completeForPixels();
    if (m_pages.isEmpty())
        return Status::fail(noImage);
    Result<QByteArray> derived = ImageCipher::deriveKey(key);
    if (!derived)
        return Status::fail(derived.error());
    // Every page takes part, so every page must be held: a page changed here can never be read
    // from the file again.
    QList<QImage> images;
    qint64 pixels = 0;
    for (int i = 0; i < m_pages.size(); ++i) {
        Result<QImage> page = fetchPage(i);
        if (!page)
            return Status::fail(page.error());
        pixels += qint64(page->width()) * page->height();
        if (pixels > m_heldPixelLimit)
            return Status::fail(
                QStringLiteral("The pages of this image are too large to be changed together."));
        images.append(*page);
    }
    if (Status applied = ImageCipher::apply(images, *derived); !applied)
        return applied;
    for (int i = 0; i < m_pages.size(); ++i)
        m_pages[i] = Page{std::move(images[i]), true};
    m_bitsPerPixel = 32;
    m_encrypted = encrypted;
    Q_EMIT changed();
    return {};
}

Status ImageDocument::SaveImageFile(const QString &path, int formatCode) const
{
    completeForPixels();
    if (m_pages.isEmpty())
        return Status::fail(QStringLiteral("There is no image to save."));
    // The formats written hold one picture: the page shown.
    return writeImageFile({image()}, path, formatCode);
}

Status ImageDocument::CopyToClipboard() const
{
    completeForPixels();
    if (image().isNull())
        return Status::fail(QStringLiteral("There is no image to copy."));
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return Status::fail(QStringLiteral("The clipboard is not available."));
    clipboard->setImage(image());
    return {};
}

} // namespace qmt
