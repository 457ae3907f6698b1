#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QString>

namespace qmt {

class ImageDocument;

// Shows the current page of an ImageDocument zoomed, scrolled and centred, and reports the
// user's double clicks, keys, mouse presses and dropped files.
class ImageView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    enum MouseTool { ToolNone = 0, ToolPan = 2, ToolFit = 3 };

    explicit ImageView(QWidget *parent = nullptr);

    // The view owns a document of its own; another can be shown instead (not owned).
    ImageDocument *document() const { return m_document; }
    void setDocument(ImageDocument *document);

    double ZoomFactor() const { return m_zoom; }
    void setZoomFactor(double zoom);
    int MouseToolMode() const { return m_tool; }
    void setMouseToolMode(int mode);
    int ScrollX() const;
    int ScrollY() const;
    void setScrollX(int x);
    void setScrollY(int y);
    bool AntiAliasOn() const { return m_antiAlias; }
    void setAntiAliasOn(bool on);
    void setBackColor(const QColor &color);
    void setCenter(bool center);
    void setImageBorderThickness(int pixels);
    void setScrollBarsShown(bool shown);
    void setDropEnabled(bool enabled);

    // The zoom at which the current page fits the viewport (never above 1.0 unless asked).
    double fitZoom(bool allowEnlarge = false) const;
    // Where the page lies in viewport coordinates.
    QRect imageRect() const;
    // The page's pixel under a point of the viewport (it may lie outside the page); the origin
    // when nothing is shown.
    QPointF imagePointAt(const QPoint &viewportPos) const;
    // Scrolls so that the page's pixel `imagePoint` lies under `viewportPos`, as far as the
    // scroll range allows.
    void showImagePointAt(const QPointF &imagePoint, const QPoint &viewportPos);

    // A text drawn in the middle of the view while no image is shown (why a file could not be
    // shown, for instance); "" draws nothing.
    void setPlaceholderText(const QString &text);
    QString placeholderText() const { return m_placeholder; }
    // In mode 3 the page is drawn at the zoom factor, only reduced where it would not fit the
    // viewport (the viewer's zoom steps stay visible). Off: mode 3 always fits (the preview).
    void setZoomKeptWhenFitting(bool kept);
    // A copy of the current page already scaled for display (made off the UI thread). The next
    // paint uses it instead of scaling when it has the size and smoothing the view needs; any
    // change of the document drops it.
    void setPrescaled(const QImage &scaled, bool smooth);
    // A large reduction is first drawn sampled, at once, and smoothed right after; true until
    // the smooth drawing has been made.
    bool isRefinePending() const { return m_refinePending; }

Q_SIGNALS:
    void doubleClicked();                                                              // event 17
    void keyDown(int key, Qt::KeyboardModifiers shift);                                // event 18
    void mouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y); // event 21
    void imageChanged();                                                               // event 26
    void filesDropped(const QStringList &paths);                                       // event 38
    void zoomChanged(double zoom);
    // Emitted after a paint that showed the image (benchmarks wait for it).
    void imagePainted();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void onDocumentChanged();
    void updateGeometryOfContent();
    QSize scaledSize() const;
    bool lacksDetail() const;
    void completeIfLacking();
    double effectiveZoom() const;
    const QPixmap &scaledPixmap();

    ImageDocument *m_document = nullptr;
    ImageDocument *m_ownDocument = nullptr;
    double m_zoom = 1.0;
    int m_tool = ToolNone;
    bool m_antiAlias = true;
    bool m_center = true;
    int m_border = 0;
    QColor m_back = Qt::white;
    QPoint m_dragStart;
    QPoint m_scrollAtDragStart;
    bool m_dragging = false;
    // The page scaled to the displayed size, kept until page, zoom or smoothing changes, so
    // panning never scales again.
    QPixmap m_cache;
    QSize m_cacheSize;
    bool m_cacheSmooth = false;
    bool m_cacheValid = false;
    QString m_placeholder;
    QImage m_prescaled;
    qint64 m_prescaledKey = 0;
    bool m_prescaledSmooth = false;
    bool m_refinePending = false;
    bool m_refining = false;
    bool m_zoomKeptWhenFitting = false;
    bool m_completionQueued = false;
};

} // namespace qmt
