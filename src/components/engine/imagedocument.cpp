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
    m_pages = std::move(decoded.pages);
    m_frameDelays = decoded.frameDelays.size() == m_pages.size() ? std::move(decoded.frameDelays)
                                                                 : QList<int>();
    m_current = 0;
    m_bitsPerPixel = decoded.bitsPerPixel;
    m_formatCode = decoded.formatCode;
    m_fileName = QFileInfo(path).absoluteFilePath();
    m_encrypted = false;
    m_complete = nullptr;
    m_previewOf = QSize();
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
    m_complete = nullptr;
    m_previewOf = QSize();
    m_pages = {picture};
    m_frameDelays.clear();
    m_current = 0;
    m_bitsPerPixel =
        picture.depth() == 32 ? (picture.hasAlphaChannel() ? 32 : 24) : picture.depth();
    m_formatCode = FormatUnknown;
    m_fileName = sourcePath.isEmpty() ? QString() : QFileInfo(sourcePath).absoluteFilePath();
    m_encrypted = false;
    Q_EMIT changed();
    return {};
}

void ImageDocument::ClearImage()
{
    m_complete = nullptr;
    m_previewOf = QSize();
    m_pages.clear();
    m_frameDelays.clear();
    m_current = 0;
    m_bitsPerPixel = 0;
    m_formatCode = FormatUnknown;
    m_fileName.clear();
    m_encrypted = false;
    Q_EMIT changed();
}

QImage ImageDocument::GetPage(int index) const
{
    completeForPixels();
    return index >= 0 && index < m_pages.size() ? m_pages.at(index) : QImage();
}

Status ImageDocument::SelectPage(int index)
{
    completeForPixels();
    if (index < 0 || index >= m_pages.size())
        return Status::fail(QStringLiteral("There is no page %1.").arg(index + 1));
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
    return m_pages.isEmpty() ? nullImage() : m_pages.at(m_current);
}

const QList<QImage> &ImageDocument::pages() const
{
    completeForPixels();
    return m_pages;
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
    m_pages[m_current] = std::move(scaled);
    Q_EMIT changed();
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
    m_pages[m_current] = std::move(canvas);
    Q_EMIT changed();
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
    m_pages[m_current] = source.transformed(QTransform().rotate(degrees));
    Q_EMIT changed();
    return {};
}

void ImageDocument::replaceCurrentPage(const QImage &page)
{
    completeForPixels();
    if (m_pages.isEmpty())
        return;
    m_pages[m_current] = page;
    Q_EMIT changed();
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
    if (Status applied = ImageCipher::apply(m_pages, *derived); !applied)
        return applied;
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
    // Formats that hold several pages (TIFF) get them all, in their order.
    return writeImageFile(m_pages, path, formatCode);
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
