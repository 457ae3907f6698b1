#include "components/engine/imageview.h"

#include "components/engine/imagedocument.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QScrollBar>
#include <QTimer>

#include <cmath>

namespace qmt {
namespace {

// Scaled copies larger than this are not kept; such zooms draw the visible part directly.
constexpr qint64 kMaxCachedPixels = 48'000'000;
// Pages above this many pixels are drawn sampled first when much reduced, then smoothed.
constexpr qint64 kRefineAbovePixels = 4'000'000;

} // namespace

ImageView::ImageView(QWidget *parent) : QAbstractScrollArea(parent)
{
    m_ownDocument = new ImageDocument(this);
    setDocument(m_ownDocument);
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setAutoFillBackground(false);
    // paintEvent covers the whole viewport, so the window's background is not painted under it.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    horizontalScrollBar()->setSingleStep(20);
    verticalScrollBar()->setSingleStep(20);
}

void ImageView::setDocument(ImageDocument *document)
{
    if (m_document == document)
        return;
    if (m_document)
        disconnect(m_document, nullptr, this, nullptr);
    m_document = document ? document : m_ownDocument;
    connect(m_document, &ImageDocument::changed, this, &ImageView::onDocumentChanged);
    onDocumentChanged();
}

void ImageView::onDocumentChanged()
{
    m_prescaled = QImage();
    m_cacheValid = false;
    m_cache = QPixmap();
    updateGeometryOfContent();
    viewport()->update();
    Q_EMIT imageChanged();
}

void ImageView::setZoomFactor(double zoom)
{
    if (!(zoom > 0.0) || !std::isfinite(zoom))
        return;
    if (zoom == m_zoom)
        return;
    // Keep the point in the middle of the viewport where it is.
    const QSize before = scaledSize();
    const double cx =
        before.width() > 0
            ? (horizontalScrollBar()->value() + viewport()->width() / 2.0) / before.width()
            : 0.5;
    const double cy =
        before.height() > 0
            ? (verticalScrollBar()->value() + viewport()->height() / 2.0) / before.height()
            : 0.5;
    m_zoom = zoom;
    m_cacheValid = false;
    updateGeometryOfContent();
    const QSize after = scaledSize();
    horizontalScrollBar()->setValue(int(cx * after.width() - viewport()->width() / 2.0));
    verticalScrollBar()->setValue(int(cy * after.height() - viewport()->height() / 2.0));
    viewport()->update();
    Q_EMIT zoomChanged(m_zoom);
}

void ImageView::setMouseToolMode(int mode)
{
    if (m_tool == mode)
        return;
    m_tool = mode;
    m_cacheValid = false;
    viewport()->setCursor(mode == ToolPan ? Qt::OpenHandCursor : Qt::ArrowCursor);
    updateGeometryOfContent();
    viewport()->update();
}

int ImageView::ScrollX() const
{
    return horizontalScrollBar()->value();
}
int ImageView::ScrollY() const
{
    return verticalScrollBar()->value();
}
// The scroll bars' ranges keep the position inside the image.
void ImageView::setScrollX(int x)
{
    horizontalScrollBar()->setValue(x);
}
void ImageView::setScrollY(int y)
{
    verticalScrollBar()->setValue(y);
}

void ImageView::setAntiAliasOn(bool on)
{
    if (m_antiAlias == on)
        return;
    m_antiAlias = on;
    m_cacheValid = false;
    viewport()->update();
}

void ImageView::setBackColor(const QColor &color)
{
    m_back = color;
    viewport()->update();
}

void ImageView::setCenter(bool center)
{
    m_center = center;
    viewport()->update();
}

void ImageView::setImageBorderThickness(int pixels)
{
    m_border = qMax(0, pixels);
    viewport()->update();
}

void ImageView::setScrollBarsShown(bool shown)
{
    const Qt::ScrollBarPolicy policy = shown ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
    setHorizontalScrollBarPolicy(policy);
    setVerticalScrollBarPolicy(policy);
}

void ImageView::setDropEnabled(bool enabled)
{
    setAcceptDrops(enabled);
    viewport()->setAcceptDrops(enabled);
}

double ImageView::fitZoom(bool allowEnlarge) const
{
    if (m_document->image().isNull())
        return 1.0;
    const QSize area = viewport()->size();
    const double zx = double(area.width()) / m_document->ImageWidthPx();
    const double zy = double(area.height()) / m_document->ImageHeightPx();
    const double zoom = qMin(zx, zy);
    return allowEnlarge ? zoom : qMin(1.0, zoom);
}

double ImageView::effectiveZoom() const
{
    if (m_tool != ToolFit)
        return m_zoom;
    return m_zoomKeptWhenFitting ? qMin(m_zoom, fitZoom(true)) : fitZoom();
}

void ImageView::setPlaceholderText(const QString &text)
{
    if (m_placeholder == text)
        return;
    m_placeholder = text;
    viewport()->update();
}

void ImageView::setPrescaled(const QImage &scaled, bool smooth)
{
    m_prescaled = scaled;
    m_prescaledKey = m_document->image().cacheKey();
    m_prescaledSmooth = smooth;
}

void ImageView::setZoomKeptWhenFitting(bool kept)
{
    if (m_zoomKeptWhenFitting == kept)
        return;
    m_zoomKeptWhenFitting = kept;
    m_cacheValid = false;
    updateGeometryOfContent();
    viewport()->update();
}

QSize ImageView::scaledSize() const
{
    if (m_document->image().isNull())
        return {};
    // The picture's own size: a reduced stand-in is drawn where the full picture will be.
    const double zoom = effectiveZoom();
    return QSize(qMax(1, int(std::lround(m_document->ImageWidthPx() * zoom))),
                 qMax(1, int(std::lround(m_document->ImageHeightPx() * zoom))));
}

bool ImageView::lacksDetail() const
{
    // A stand-in is enough while it has at least the pixels drawn; a closer look needs the
    // picture itself.
    if (!m_document->isPreview())
        return false;
    const QSize size = scaledSize();
    const QImage &image = m_document->image();
    return size.width() > image.width() || size.height() > image.height();
}

void ImageView::completeIfLacking()
{
    m_completionQueued = false;
    if (lacksDetail())
        m_document->completePreview();
}

void ImageView::updateGeometryOfContent()
{
    const QSize size = scaledSize();
    const QSize area = viewport()->size();
    horizontalScrollBar()->setPageStep(area.width());
    verticalScrollBar()->setPageStep(area.height());
    horizontalScrollBar()->setRange(0, qMax(0, size.width() - area.width()));
    verticalScrollBar()->setRange(0, qMax(0, size.height() - area.height()));
}

QRect ImageView::imageRect() const
{
    const QSize size = scaledSize();
    if (size.isEmpty())
        return {};
    const QSize area = viewport()->size();
    int x = -horizontalScrollBar()->value();
    int y = -verticalScrollBar()->value();
    if (m_center && size.width() < area.width())
        x = (area.width() - size.width()) / 2;
    if (m_center && size.height() < area.height())
        y = (area.height() - size.height()) / 2;
    return QRect(QPoint(x, y), size);
}

QPointF ImageView::imagePointAt(const QPoint &viewportPos) const
{
    const QRect shown = imageRect();
    if (shown.isEmpty() || m_document->image().isNull())
        return {};
    // In the picture's own pixels, also while a reduced stand-in is drawn.
    const double scale = double(shown.width()) / m_document->ImageWidthPx();
    return QPointF((viewportPos.x() - shown.x()) / scale, (viewportPos.y() - shown.y()) / scale);
}

void ImageView::showImagePointAt(const QPointF &imagePoint, const QPoint &viewportPos)
{
    const QSize size = scaledSize();
    if (size.isEmpty() || m_document->image().isNull())
        return;
    const double scale = double(size.width()) / m_document->ImageWidthPx();
    setScrollX(int(std::lround(imagePoint.x() * scale - viewportPos.x())));
    setScrollY(int(std::lround(imagePoint.y() * scale - viewportPos.y())));
}

const QPixmap &ImageView::scaledPixmap()
{
    const QSize size = scaledSize();
    if (!m_cacheValid || m_cacheSize != size || m_cacheSmooth != m_antiAlias) {
        const QImage &image = m_document->image();
        const Qt::TransformationMode mode =
            m_antiAlias ? Qt::SmoothTransformation : Qt::FastTransformation;
        const qint64 sourcePixels = qint64(image.width()) * image.height();
        const bool largeReduction = m_antiAlias && sourcePixels > kRefineAbovePixels &&
                                    sourcePixels > 4 * qint64(size.width()) * size.height();
        if (size == image.size()) {
            m_cache = QPixmap::fromImage(image);
        } else if (m_prescaled.size() == size && m_prescaledSmooth == m_antiAlias &&
                   m_prescaledKey == image.cacheKey()) {
            m_cache = QPixmap::fromImage(m_prescaled);
        } else if (largeReduction && !m_refining) {
            // Sampled now, smoothed as soon as this paint is on screen.
            m_cache = QPixmap::fromImage(
                image.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation));
            if (!m_refinePending) {
                m_refinePending = true;
                QTimer::singleShot(0, this, [this] {
                    if (!m_refinePending)
                        return;
                    m_refinePending = false;
                    m_refining = true;
                    m_cacheValid = false;
                    viewport()->update();
                });
            }
        } else {
            m_cache = QPixmap::fromImage(image.scaled(size, Qt::IgnoreAspectRatio, mode));
            m_refinePending = false;
        }
        m_refining = false;
        m_cacheSize = size;
        m_cacheSmooth = m_antiAlias;
        m_cacheValid = true;
    }
    return m_cache;
}

void ImageView::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    const QImage &image = m_document->image();
    if (image.isNull()) {
        painter.fillRect(viewport()->rect(), m_back);
        if (!m_placeholder.isEmpty()) {
            painter.setPen(m_back.lightness() > 128 ? Qt::black : Qt::white);
            painter.drawText(viewport()->rect().adjusted(12, 12, -12, -12),
                             Qt::AlignCenter | Qt::TextWordWrap, m_placeholder);
        }
        return;
    }
    const QRect target = imageRect();
    const QSize size = target.size();
    // Drawn larger than a stand-in has pixels for: the full picture is fetched right after
    // this paint, which meanwhile shows the stand-in enlarged.
    if (!m_completionQueued && lacksDetail()) {
        m_completionQueued = true;
        QTimer::singleShot(0, this, &ImageView::completeIfLacking);
    }
    // The view paints every pixel itself (it is opaque to the window below): the back colour
    // only where the picture does not cover, so a large picture is not drawn over a full fill.
    QRegion back(viewport()->rect());
    if (!image.hasAlphaChannel())
        back -= target;
    for (const QRect &rect : back)
        painter.fillRect(rect, m_back);
    if (qint64(size.width()) * size.height() <= kMaxCachedPixels) {
        painter.drawPixmap(target.topLeft(), scaledPixmap());
    } else {
        // Very large zooms: scale only what is visible.
        const QRect visible = target.intersected(viewport()->rect());
        const double zoom = double(size.width()) / image.width();
        const QRectF source((visible.x() - target.x()) / zoom, (visible.y() - target.y()) / zoom,
                            visible.width() / zoom, visible.height() / zoom);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, m_antiAlias);
        painter.drawImage(QRectF(visible), image, source);
    }
    if (m_border > 0) {
        painter.setPen(QPen(Qt::black, m_border));
        painter.drawRect(target.adjusted(0, 0, -1, -1));
    }
    Q_EMIT imagePainted();
}

void ImageView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    if (m_tool == ToolFit)
        m_cacheValid = false;
    updateGeometryOfContent();
}

void ImageView::scrollContentsBy(int, int)
{
    viewport()->update();
}

void ImageView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        Q_EMIT doubleClicked();
}

void ImageView::mousePressEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    Q_EMIT mouseDown(event->button(), event->modifiers(), p.x(), p.y());
    if (event->button() == Qt::LeftButton && m_tool == ToolPan) {
        m_dragging = true;
        m_dragStart = p;
        m_scrollAtDragStart = QPoint(ScrollX(), ScrollY());
        viewport()->setCursor(Qt::ClosedHandCursor);
    }
}

void ImageView::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging)
        return;
    const QPoint delta = event->position().toPoint() - m_dragStart;
    setScrollX(m_scrollAtDragStart.x() - delta.x());
    setScrollY(m_scrollAtDragStart.y() - delta.y());
}

void ImageView::mouseReleaseEvent(QMouseEvent *)
{
    if (m_dragging) {
        m_dragging = false;
        viewport()->setCursor(m_tool == ToolPan ? Qt::OpenHandCursor : Qt::ArrowCursor);
    }
}

void ImageView::keyPressEvent(QKeyEvent *event)
{
    Q_EMIT keyDown(event->key(), event->modifiers());
    event->accept();
}

void ImageView::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void ImageView::dropEvent(QDropEvent *event)
{
    QStringList paths;
    for (const QUrl &url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    Q_EMIT filesDropped(paths);
}

} // namespace qmt
