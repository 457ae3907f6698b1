#include "components/codecs/metafilepainter.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QtMath>

#include <cmath>

namespace qmt {
namespace {

// Saved states beyond this are refused: real files nest a handful.
constexpr int kMaxSavedStates = 1024;
// A region with more rectangles than this is replaced by its bounding box, so that a file
// excluding thousands of small rectangles cannot make every later call quadratic.
constexpr int kMaxClipRects = 1024;
// Shapes larger than this (image pixels) are stroked solid: a dash pattern along a line a
// million pixels long would produce millions of dashes.
constexpr double kMaxDashedExtent = 40'000;
constexpr double kMaxPenPixels = 10'000;
constexpr int kMaxTextChars = 8192;
constexpr int kMaxClipPathElements = 65'536;

bool finite(const QTransform &t)
{
    const double v[] = {t.m11(), t.m12(), t.m21(), t.m22(), t.dx(), t.dy()};
    for (double x : v) {
        if (!std::isfinite(x) || std::abs(x) > 1e12)
            return false;
    }
    return true;
}

// The millimetres of one logical unit in each metric mapping mode.
double unitMillimetres(int mode)
{
    switch (mode) {
    case MetafilePainter::MmLoMetric:
        return 0.1;
    case MetafilePainter::MmHiMetric:
        return 0.01;
    case MetafilePainter::MmLoEnglish:
        return 0.254;
    case MetafilePainter::MmHiEnglish:
        return 0.0254;
    case MetafilePainter::MmTwips:
        return 25.4 / 1440;
    default:
        return 1;
    }
}

QPainter::CompositionMode compositionForRop(quint32 rop, bool *skip)
{
    *skip = false;
    switch (rop) {
    case 0x008800C6: // SRCAND
        return QPainter::RasterOp_SourceAndDestination;
    case 0x00EE0086: // SRCPAINT
        return QPainter::RasterOp_SourceOrDestination;
    case 0x00660046: // SRCINVERT
        return QPainter::RasterOp_SourceXorDestination;
    case 0x00330008: // NOTSRCCOPY
        return QPainter::RasterOp_NotSource;
    case 0x00BB0226: // MERGEPAINT
        return QPainter::RasterOp_NotSourceOrDestination;
    case 0x00440328: // SRCERASE
        return QPainter::RasterOp_SourceAndNotDestination;
    case 0x001100A6: // NOTSRCERASE
        return QPainter::RasterOp_NotSourceAndNotDestination;
    case 0x00AA0029: // the destination unchanged
        *skip = true;
        return QPainter::CompositionMode_SourceOver;
    default:
        return QPainter::CompositionMode_SourceOver;
    }
}

} // namespace

MetafilePainter::MetafilePainter(QImage *canvas, const QTransform &deviceToImage,
                                 QSizeF deviceUnitsPerMm)
    : m_canvas(canvas), m_deviceToImage(deviceToImage), m_unitsPerMm(deviceUnitsPerMm),
      m_bounded(m_painter, canvas->rect(), [this] { return timeUp(); })
{
    m_canvas->fill(Qt::white);
    m_painter.begin(m_canvas);
    m_painter.setRenderHint(QPainter::TextAntialiasing, true);
    m_clock.start();
}

MetafilePainter::~MetafilePainter()
{
    m_painter.end();
}

bool MetafilePainter::expired()
{
    if (!m_expired && (++m_calls & 63) == 0 && m_clock.elapsed() > kTimeBudgetMs)
        m_expired = true;
    return m_expired;
}

bool MetafilePainter::timeUp()
{
    if (!m_expired && m_clock.elapsed() > kTimeBudgetMs)
        m_expired = true;
    return m_expired;
}

bool MetafilePainter::pathHasRoom(qint64 elements)
{
    if (m_path.elementCount() + elements <= kMaxPathElements)
        return true;
    reject();
    return false;
}

void MetafilePainter::setMapMode(int mode)
{
    if (mode < MmText || mode > MmAnisotropic)
        return reject();
    // Leaving the scalable modes resets the extents as GDI does; entering them keeps the
    // extents of the mode before, so the window and viewport must be set afterwards.
    if (mode != MmIsotropic && mode != MmAnisotropic) {
        m_dc.windowExt = m_dc.viewportExt = QSizeF(1, 1);
    }
    m_dc.mapMode = mode;
}

void MetafilePainter::setWindowExt(QSizeF ext)
{
    if (ext.width() == 0 || ext.height() == 0)
        return reject();
    m_dc.windowExt = ext;
}

void MetafilePainter::setViewportExt(QSizeF ext)
{
    if (ext.width() == 0 || ext.height() == 0)
        return reject();
    m_dc.viewportExt = ext;
}

void MetafilePainter::scaleWindowExt(double xNum, double xDenom, double yNum, double yDenom)
{
    if (xNum == 0 || xDenom == 0 || yNum == 0 || yDenom == 0)
        return reject();
    m_dc.windowExt =
        QSizeF(m_dc.windowExt.width() * xNum / xDenom, m_dc.windowExt.height() * yNum / yDenom);
}

void MetafilePainter::scaleViewportExt(double xNum, double xDenom, double yNum, double yDenom)
{
    if (xNum == 0 || xDenom == 0 || yNum == 0 || yDenom == 0)
        return reject();
    m_dc.viewportExt =
        QSizeF(m_dc.viewportExt.width() * xNum / xDenom, m_dc.viewportExt.height() * yNum / yDenom);
}

void MetafilePainter::setWorldTransform(const QTransform &t)
{
    if (!finite(t) || !t.isInvertible())
        return reject();
    m_dc.world = t;
}

void MetafilePainter::modifyWorldTransform(const QTransform &t, quint32 mode)
{
    QTransform next;
    switch (mode) {
    case 1:
        break;
    case 2:
        next = t * m_dc.world;
        break;
    case 3:
        next = m_dc.world * t;
        break;
    case 4:
        next = t;
        break;
    default:
        return reject();
    }
    setWorldTransform(next);
}

QTransform MetafilePainter::logicalToImage() const
{
    double sx = 1, sy = 1;
    switch (m_dc.mapMode) {
    case MmText:
        break;
    case MmIsotropic:
    case MmAnisotropic:
        sx = m_dc.viewportExt.width() / m_dc.windowExt.width();
        sy = m_dc.viewportExt.height() / m_dc.windowExt.height();
        if (m_dc.mapMode == MmIsotropic) {
            const double s = qMin(std::abs(sx), std::abs(sy));
            sx = std::copysign(s, sx);
            sy = std::copysign(s, sy);
        }
        break;
    default: {
        const double mm = unitMillimetres(m_dc.mapMode);
        sx = mm * m_unitsPerMm.width();
        sy = -mm * m_unitsPerMm.height();
    }
    }
    const QTransform page(sx, 0, 0, sy, m_dc.viewportOrg.x() - m_dc.windowOrg.x() * sx,
                          m_dc.viewportOrg.y() - m_dc.windowOrg.y() * sy);
    return m_dc.world * page * m_deviceToImage;
}

void MetafilePainter::saveDc()
{
    if (m_saved.size() >= kMaxSavedStates)
        return reject();
    m_saved.append(m_dc);
}

void MetafilePainter::restoreDc(int which)
{
    qsizetype index = -1;
    if (which < 0 && -qint64(which) <= m_saved.size())
        index = m_saved.size() + which;
    else if (which > 0 && which <= m_saved.size())
        index = which - 1;
    if (index < 0)
        return reject();
    m_dc = m_saved.at(index);
    m_saved.resize(index);
    m_clipApplied = false;
}

void MetafilePainter::setObjectTableSize(int size)
{
    m_objects.resize(qBound(0, size, 65536));
    m_freeHint = 0;
}

int MetafilePainter::firstFreeSlot() const
{
    // Slots below the hint are known to be taken, so a file that fills the table and keeps
    // creating objects costs one look each instead of a walk over the whole table.
    for (int i = m_freeHint; i < m_objects.size(); ++i) {
        if (std::holds_alternative<std::monostate>(m_objects.at(i))) {
            m_freeHint = i;
            return i;
        }
    }
    m_freeHint = int(m_objects.size());
    return -1;
}

bool MetafilePainter::putObject(int index, GdiObject object)
{
    if (index < 0 || index >= m_objects.size()) {
        reject();
        return false;
    }
    m_objects[index] = std::move(object);
    return true;
}

const GdiObject *MetafilePainter::object(int index) const
{
    return index >= 0 && index < m_objects.size() ? &m_objects.at(index) : nullptr;
}

bool MetafilePainter::selectObject(int index)
{
    const GdiObject *o = object(index);
    if (!o) {
        reject();
        return false;
    }
    if (const auto *pen = std::get_if<GdiPen>(o))
        m_dc.pen = *pen;
    else if (const auto *brush = std::get_if<GdiBrush>(o))
        m_dc.brush = *brush;
    else if (const auto *font = std::get_if<GdiFont>(o))
        m_dc.font = *font;
    else if (const auto *other = std::get_if<GdiOther>(o); other && other->region)
        combineImageClip(*other->region, 5);
    else if (std::holds_alternative<std::monostate>(*o)) {
        reject();
        return false;
    }
    return true;
}

bool MetafilePainter::deleteObject(int index)
{
    if (index < 0 || index >= m_objects.size()) {
        reject();
        return false;
    }
    m_objects[index] = std::monostate();
    m_freeHint = qMin(m_freeHint, index);
    return true;
}

bool MetafilePainter::selectStockObject(quint32 id)
{
    GdiBrush brush;
    GdiPen pen;
    switch (id & 0x7FFFFFFF) {
    case 0:   // WHITE_BRUSH
    case 1:   // LTGRAY_BRUSH
    case 2:   // GRAY_BRUSH
    case 3:   // DKGRAY_BRUSH
    case 4: { // BLACK_BRUSH
        static const int greys[] = {255, 192, 128, 64, 0};
        const int g = greys[id & 0x7FFFFFFF];
        brush.color = QColor(g, g, g);
        m_dc.brush = brush;
        return true;
    }
    case 5: // NULL_BRUSH
        brush.style = 1;
        m_dc.brush = brush;
        return true;
    case 6: // WHITE_PEN
        pen.color = Qt::white;
        m_dc.pen = pen;
        return true;
    case 7: // BLACK_PEN
        m_dc.pen = pen;
        return true;
    case 8: // NULL_PEN
        pen.style = 5;
        m_dc.pen = pen;
        return true;
    case 10: // the fixed and variable system fonts
    case 11:
    case 12:
    case 13:
    case 14:
    case 16:
    case 17:
        m_dc.font = GdiFont();
        return true;
    case 15: // DEFAULT_PALETTE
    case 18: // DC_BRUSH
    case 19: // DC_PEN
        return true;
    default:
        reject();
        return false;
    }
}

QRegion MetafilePainter::toImage(const QRectF &logical) const
{
    const QRectF r = logicalToImage().mapRect(logical.normalized());
    const double limit = 1e7;
    const QRectF bounded = r.intersected(QRectF(-limit, -limit, 2 * limit, 2 * limit));
    return QRegion(bounded.toAlignedRect().intersected(m_canvas->rect().adjusted(-1, -1, 1, 1)));
}

void MetafilePainter::setClip(std::optional<QRegion> clip)
{
    if (clip && clip->rectCount() > kMaxClipRects)
        clip = QRegion(clip->boundingRect());
    m_dc.clip = std::move(clip);
    m_clipApplied = false;
}

void MetafilePainter::intersectClipRect(const QRectF &r)
{
    const QRegion rect = toImage(r);
    setClip(m_dc.clip ? m_dc.clip->intersected(rect) : rect);
}

void MetafilePainter::excludeClipRect(const QRectF &r)
{
    const QRegion base = m_dc.clip ? *m_dc.clip : QRegion(m_canvas->rect());
    setClip(base.subtracted(toImage(r)));
}

void MetafilePainter::offsetClip(QPointF d)
{
    if (!m_dc.clip)
        return;
    const QTransform t = logicalToImage();
    const QPointF moved = t.map(d) - t.map(QPointF(0, 0));
    if (std::abs(moved.x()) > 1e7 || std::abs(moved.y()) > 1e7)
        return reject();
    setClip(m_dc.clip->translated(qRound(moved.x()), qRound(moved.y())));
}

void MetafilePainter::combineClip(const std::optional<QRegion> &deviceRegion, int mode)
{
    if (!deviceRegion) {
        // A missing region with RGN_COPY restores the default (no) clipping.
        if (mode == 5)
            resetClip();
        return;
    }
    combineImageClip(m_deviceToImage.map(*deviceRegion), mode);
}

void MetafilePainter::combineImageClip(const QRegion &r, int mode)
{
    const QRegion base = m_dc.clip ? *m_dc.clip : QRegion(m_canvas->rect());
    switch (mode) {
    case 1:
        setClip(base.intersected(r));
        break;
    case 2:
        setClip(base.united(r));
        break;
    case 3:
        setClip(base.xored(r));
        break;
    case 4:
        setClip(base.subtracted(r));
        break;
    case 5:
        setClip(r);
        break;
    default:
        reject();
    }
}

void MetafilePainter::resetClip()
{
    setClip(std::nullopt);
}

bool MetafilePainter::prepare()
{
    if (expired())
        return false;
    if (!m_clipApplied) {
        m_painter.resetTransform();
        if (m_dc.clip)
            m_painter.setClipRegion(*m_dc.clip);
        else
            m_painter.setClipping(false);
        m_clipApplied = true;
    }
    m_painter.setTransform(logicalToImage());
    m_painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    switch (m_dc.rop2) {
    case 6: // R2_NOT
        m_painter.setCompositionMode(QPainter::RasterOp_NotDestination);
        break;
    case 7: // R2_XORPEN
        m_painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        break;
    case 9: // R2_MASKPEN
        m_painter.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
        break;
    case 15: // R2_MERGEPEN
        m_painter.setCompositionMode(QPainter::RasterOp_SourceOrDestination);
        break;
    case 11: // R2_NOP
        return false;
    default:
        break;
    }
    m_painter.setBackgroundMode(m_dc.bkOpaque ? Qt::OpaqueMode : Qt::TransparentMode);
    m_painter.setBackground(m_dc.bkColor);
    return true;
}

double MetafilePainter::scaleOf(const QTransform &t) const
{
    return std::sqrt(std::abs(t.determinant()));
}

QPen MetafilePainter::qtPen(const QPainterPath *shape) const
{
    const GdiPen &p = m_dc.pen;
    const quint32 style = p.style & 0x0F;
    if (style == 5) // PS_NULL
        return Qt::NoPen;
    QColor color = p.color;
    if (m_dc.rop2 == 1)
        color = Qt::black;
    else if (m_dc.rop2 == 16)
        color = Qt::white;
    QPen pen(color);
    double width = p.width;
    const double scale = scaleOf(logicalToImage());
    // A pen wider than twice the canvas's diagonal covers the canvas wherever it passes near it;
    // wider ones only cost the stroker more.
    const double widest = qMin(
        kMaxPenPixels, 2 * std::hypot(double(m_canvas->width()), double(m_canvas->height())) + 2);
    if (width > 0 && scale > 0 && width * scale > widest)
        width = widest / scale;
    pen.setWidthF(width > 0 ? width : 0);
    pen.setCosmetic(width <= 0);
    bool dashed = true;
    switch (style) {
    case 1:
        pen.setStyle(Qt::DashLine);
        break;
    case 2:
    case 8:
        pen.setStyle(Qt::DotLine);
        break;
    case 3:
        pen.setStyle(Qt::DashDotLine);
        break;
    case 4:
        pen.setStyle(Qt::DashDotDotLine);
        break;
    default:
        dashed = false;
        pen.setStyle(Qt::SolidLine);
    }
    if (dashed && shape) {
        const QRectF extent = logicalToImage().mapRect(shape->controlPointRect());
        if (extent.width() + extent.height() > kMaxDashedExtent)
            pen.setStyle(Qt::SolidLine);
    }
    switch (p.style & 0x0F00) {
    case 0x100:
        pen.setCapStyle(Qt::SquareCap);
        break;
    case 0x200:
        pen.setCapStyle(Qt::FlatCap);
        break;
    default:
        pen.setCapStyle(Qt::RoundCap);
    }
    switch (p.style & 0xF000) {
    case 0x1000:
        pen.setJoinStyle(Qt::BevelJoin);
        break;
    case 0x2000:
        pen.setJoinStyle(Qt::MiterJoin);
        break;
    default:
        pen.setJoinStyle(Qt::RoundJoin);
    }
    return pen;
}

QBrush MetafilePainter::qtBrush(const GdiBrush &b) const
{
    switch (b.style) {
    case 1: // BS_NULL
        return Qt::NoBrush;
    case 2: { // BS_HATCHED
        static const Qt::BrushStyle hatches[] = {Qt::HorPattern,   Qt::VerPattern,
                                                 Qt::FDiagPattern, Qt::BDiagPattern,
                                                 Qt::CrossPattern, Qt::DiagCrossPattern};
        QBrush brush(b.color, b.hatch < 6 ? hatches[b.hatch] : Qt::CrossPattern);
        return brush;
    }
    case 3: // BS_PATTERN
    case 5: // BS_DIBPATTERN
    case 6: // BS_DIBPATTERNPT
        if (!b.pattern.isNull()) {
            QBrush brush(b.pattern);
            // The pattern repeats in device pixels, whatever the mapping.
            brush.setTransform(logicalToImage().inverted() * m_deviceToImage);
            return brush;
        }
        return QBrush(Qt::black);
    default:
        return QBrush(b.color);
    }
}

// The fill first, then the outline, as one drawing call would; each is handed to the raster
// engine in pieces it can take.
void MetafilePainter::paintPath(const QPainterPath &path, bool fill, bool stroke)
{
    if (!prepare())
        return;
    const QTransform t = logicalToImage();
    if (fill)
        m_bounded.fill(path, qtBrush(m_dc.brush), t);
    if (stroke)
        m_bounded.stroke(path, qtPen(&path), t);
}

void MetafilePainter::emitShape(QPainterPath shape, bool fill, bool stroke)
{
    shape.setFillRule(m_dc.winding ? Qt::WindingFill : Qt::OddEvenFill);
    if (m_pathOpen) {
        if (pathHasRoom(shape.elementCount()))
            m_path.addPath(shape);
        return;
    }
    paintPath(shape, fill, stroke);
}

void MetafilePainter::moveTo(QPointF p)
{
    m_dc.position = p;
    if (m_pathOpen && pathHasRoom(1))
        m_path.moveTo(p);
}

void MetafilePainter::lineTo(QPointF p)
{
    if (m_pathOpen) {
        if (!pathHasRoom(2))
            return;
        if (m_path.elementCount() == 0)
            m_path.moveTo(m_dc.position);
        m_path.lineTo(p);
    } else {
        QPainterPath line(m_dc.position);
        line.lineTo(p);
        paintPath(line, false, true);
    }
    m_dc.position = p;
}

void MetafilePainter::polyline(const QPolygonF &points)
{
    if (points.size() < 2)
        return;
    if (m_pathOpen) {
        if (pathHasRoom(points.size()))
            m_path.addPolygon(points);
        return;
    }
    QPainterPath path;
    path.addPolygon(points);
    paintPath(path, false, true);
}

void MetafilePainter::polylineTo(const QPolygonF &points)
{
    if (points.isEmpty())
        return;
    if (m_pathOpen) {
        if (!pathHasRoom(points.size() + 1))
            return;
        if (m_path.elementCount() == 0)
            m_path.moveTo(m_dc.position);
        for (const QPointF &p : points)
            m_path.lineTo(p);
    } else {
        QPainterPath path(m_dc.position);
        for (const QPointF &p : points)
            path.lineTo(p);
        paintPath(path, false, true);
    }
    m_dc.position = points.last();
}

void MetafilePainter::polygon(const QPolygonF &points)
{
    if (points.size() < 2)
        return;
    QPainterPath path;
    path.addPolygon(points);
    path.closeSubpath();
    emitShape(path, true, true);
}

void MetafilePainter::polyPolygon(const QList<QPolygonF> &polygons)
{
    QPainterPath path;
    for (const QPolygonF &points : polygons) {
        if (points.size() < 2)
            continue;
        path.addPolygon(points);
        path.closeSubpath();
    }
    emitShape(path, true, true);
}

void MetafilePainter::polyPolyline(const QList<QPolygonF> &polylines)
{
    QPainterPath path;
    for (const QPolygonF &points : polylines) {
        if (points.size() >= 2)
            path.addPolygon(points);
    }
    if (!m_pathOpen)
        paintPath(path, false, true);
    else if (pathHasRoom(path.elementCount()))
        m_path.addPath(path);
}

void MetafilePainter::polyBezier(const QPolygonF &points)
{
    if (points.size() < 4)
        return;
    QPainterPath path(points.first());
    for (qsizetype i = 1; i + 2 < points.size(); i += 3)
        path.cubicTo(points[i], points[i + 1], points[i + 2]);
    if (!m_pathOpen)
        paintPath(path, false, true);
    else if (pathHasRoom(path.elementCount()))
        m_path.addPath(path);
}

void MetafilePainter::polyBezierTo(const QPolygonF &points)
{
    if (points.size() < 3)
        return;
    QPainterPath path(m_dc.position);
    qsizetype i = 0;
    for (; i + 2 < points.size(); i += 3)
        path.cubicTo(points[i], points[i + 1], points[i + 2]);
    if (!m_pathOpen) {
        paintPath(path, false, true);
    } else if (pathHasRoom(path.elementCount() + 1)) {
        if (m_path.elementCount() == 0)
            m_path.moveTo(m_dc.position);
        m_path.connectPath(path);
    }
    m_dc.position = points[i - 1];
}

void MetafilePainter::rectangle(const QRectF &box)
{
    QPainterPath path;
    path.addRect(box.normalized());
    emitShape(path, true, true);
}

void MetafilePainter::roundRect(const QRectF &box, QSizeF corner)
{
    QPainterPath path;
    const QRectF r = box.normalized();
    path.addRoundedRect(r, qMin(std::abs(corner.width()) / 2, r.width() / 2),
                        qMin(std::abs(corner.height()) / 2, r.height() / 2));
    emitShape(path, true, true);
}

void MetafilePainter::ellipse(const QRectF &box)
{
    QPainterPath path;
    path.addEllipse(box.normalized());
    emitShape(path, true, true);
}

QPainterPath MetafilePainter::arcPath(const QRectF &box, QPointF start, QPointF end, ArcKind kind,
                                      bool *ok) const
{
    *ok = false;
    const QRectF r = box.normalized();
    if (r.width() <= 0 || r.height() <= 0)
        return {};
    const QPointF c = r.center();
    const double rx = r.width() / 2, ry = r.height() / 2;
    // GDI gives radial points; Qt takes parametric angles, counter-clockwise with y down.
    const auto angleOf = [&](QPointF p) {
        return qRadiansToDegrees(std::atan2(-(p.y() - c.y()) / ry, (p.x() - c.x()) / rx));
    };
    const double a0 = angleOf(start);
    const double a1 = angleOf(end);
    double sweep = a1 - a0;
    if (m_dc.clockwise) {
        while (sweep >= 0)
            sweep -= 360;
    } else {
        while (sweep <= 0)
            sweep += 360;
    }
    QPainterPath path;
    if (kind == Pie) {
        path.moveTo(c);
        path.arcTo(r, a0, sweep);
        path.closeSubpath();
    } else {
        path.arcMoveTo(r, a0);
        path.arcTo(r, a0, sweep);
        if (kind == Chord)
            path.closeSubpath();
    }
    *ok = true;
    return path;
}

void MetafilePainter::arc(const QRectF &box, QPointF start, QPointF end, ArcKind kind)
{
    bool ok = false;
    QPainterPath path = arcPath(box, start, end, kind, &ok);
    if (!ok)
        return reject();
    if (kind == ArcTo) {
        QPainterPath joined(m_dc.position);
        joined.connectPath(path);
        m_dc.position = path.currentPosition();
        path = joined;
    }
    if (kind == Arc || kind == ArcTo) {
        if (!m_pathOpen)
            paintPath(path, false, true);
        else if (pathHasRoom(path.elementCount()))
            m_path.connectPath(path);
        return;
    }
    emitShape(path, true, true);
}

void MetafilePainter::angleArc(QPointF center, double radius, double startDeg, double sweepDeg)
{
    if (!std::isfinite(startDeg) || !std::isfinite(sweepDeg) || radius < 0)
        return reject();
    const QRectF r(center.x() - radius, center.y() - radius, 2 * radius, 2 * radius);
    QPainterPath path(m_dc.position);
    path.arcTo(r, std::fmod(startDeg, 360.0), qBound(-3600.0, sweepDeg, 3600.0));
    m_dc.position = path.currentPosition();
    if (!m_pathOpen)
        paintPath(path, false, true);
    else if (pathHasRoom(path.elementCount()))
        m_path.connectPath(path);
}

void MetafilePainter::setPixel(QPointF p, QColor color)
{
    if (!prepare())
        return;
    const QPointF q = logicalToImage().map(p);
    m_painter.resetTransform();
    m_painter.fillRect(QRectF(std::floor(q.x()), std::floor(q.y()), 1, 1), color);
}

void MetafilePainter::gradientRect(QPointF a, QColor from, QPointF b, QColor to, bool vertical)
{
    if (!prepare())
        return;
    QLinearGradient gradient(a, vertical ? QPointF(a.x(), b.y()) : QPointF(b.x(), a.y()));
    gradient.setColorAt(0, from);
    gradient.setColorAt(1, to);
    m_painter.fillRect(QRectF(a, b).normalized(), gradient);
}

void MetafilePainter::gradientTriangle(const QPolygonF &corners, QColor mean)
{
    if (corners.size() != 3 || !prepare())
        return;
    m_painter.setPen(Qt::NoPen);
    m_painter.setBrush(mean);
    m_painter.drawPolygon(corners);
}

void MetafilePainter::patBlt(const QRectF &box, quint32 rop)
{
    if (!prepare())
        return;
    const QRectF r = box.normalized();
    switch (rop) {
    case 0x00000042: // BLACKNESS
        m_painter.fillRect(r, Qt::black);
        break;
    case 0x00FF0062: // WHITENESS
        m_painter.fillRect(r, Qt::white);
        break;
    case 0x00550009: // DSTINVERT
        m_painter.setCompositionMode(QPainter::RasterOp_NotDestination);
        m_painter.fillRect(r, Qt::white);
        break;
    case 0x005A0049: // PATINVERT
        m_painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        m_painter.fillRect(r, qtBrush(m_dc.brush));
        break;
    case 0x00AA0029:
        break;
    default: // PATCOPY and the rest
        m_painter.fillRect(r, qtBrush(m_dc.brush));
    }
}

void MetafilePainter::fillRegion(const QRegion &deviceRegion, const GdiBrush &brush)
{
    if (!prepare())
        return;
    const QBrush b = qtBrush(brush);
    m_painter.setTransform(m_deviceToImage);
    for (const QRect &r : deviceRegion)
        m_painter.fillRect(r, b);
}

void MetafilePainter::frameRegion(const QRegion &deviceRegion, const GdiBrush &brush,
                                  QSizeF logicalSize)
{
    if (!prepare())
        return;
    const QTransform t = logicalToImage();
    // Bounded before rounding: a lying size must not overflow the conversion to int.
    const int w = qRound(qBound(1.0, std::abs(logicalSize.width() * t.m11()), 1000.0));
    const int h = qRound(qBound(1.0, std::abs(logicalSize.height() * t.m22()), 1000.0));
    const QRegion image = m_deviceToImage.map(deviceRegion);
    const QRegion inner = image.translated(w, 0) & image.translated(-w, 0) &
                          image.translated(0, h) & image.translated(0, -h);
    m_painter.resetTransform();
    const QBrush b = qtBrush(brush);
    for (const QRect &r : image.subtracted(inner))
        m_painter.fillRect(r, b);
}

void MetafilePainter::invertRegion(const QRegion &deviceRegion)
{
    if (!prepare())
        return;
    m_painter.setTransform(m_deviceToImage);
    m_painter.setCompositionMode(QPainter::RasterOp_NotDestination);
    for (const QRect &r : deviceRegion)
        m_painter.fillRect(r, Qt::white);
}

void MetafilePainter::textOut(QPointF reference, const QString &textIn, quint32 options,
                              const std::optional<QRectF> &box, const QList<double> &dx)
{
    if (!prepare())
        return;
    const QString text = textIn.left(kMaxTextChars);
    const QTransform t = logicalToImage();
    const bool updateCp = m_dc.textAlign & 1;
    if (updateCp)
        reference = m_dc.position;

    m_painter.resetTransform();
    if (box && (options & 0x2)) { // ETO_OPAQUE
        m_painter.setPen(Qt::NoPen);
        m_painter.fillRect(t.mapRect(box->normalized()), m_dc.bkColor);
    }
    if (text.isEmpty())
        return;
    if (box && (options & 0x4)) // ETO_CLIPPED
        m_painter.setClipRect(t.mapRect(box->normalized()), Qt::IntersectClip);

    // The font's height in image pixels, measured along the logical y axis.
    const double yScale = QLineF(t.map(QPointF(0, 0)), t.map(QPointF(0, 1))).length();
    const double xScale = QLineF(t.map(QPointF(0, 0)), t.map(QPointF(1, 0))).length();
    const GdiFont &f = m_dc.font;
    double pixels = f.height == 0 ? 12 * scaleOf(m_deviceToImage) : std::abs(f.height) * yScale;
    if (f.height > 0)
        pixels *= 0.85; // a cell height holds the internal leading as well
    QFont font(f.face.isEmpty() ? QStringLiteral("Sans Serif") : f.face);
    font.setPixelSize(qRound(qBound(1.0, pixels, 4000.0)));
    font.setWeight(QFont::Weight(qBound(1, f.weight > 0 ? f.weight : 400, 1000)));
    font.setItalic(f.italic);
    font.setUnderline(f.underline);
    font.setStrikeOut(f.strikeOut);
    const QFontMetricsF metrics(font);

    // Each character is placed on its own, at the advance the file gives or else at the font's
    // advance for that character alone: text shaped as a whole would join letters into
    // ligatures ("fi") and kern them, which the recorded positions do not have.
    const auto unitsAt = [&text](qsizetype i) -> qsizetype {
        // A character outside the basic plane is a pair of units, measured and drawn together.
        return text.at(i).isHighSurrogate() && i + 1 < text.size() &&
                       text.at(i + 1).isLowSurrogate()
                   ? 2
                   : 1;
    };
    QList<double> advances;
    double width = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (dx.size() >= text.size())
            advances.append(dx[i] * xScale);
        else if (i > 0 && unitsAt(i - 1) == 2)
            advances.append(0);
        else
            advances.append(metrics.horizontalAdvance(text.mid(i, unitsAt(i))));
        width += advances.last();
    }
    double x = 0, y = 0;
    switch (m_dc.textAlign & 6) {
    case 2: // TA_RIGHT
        x = -width;
        break;
    case 6: // TA_CENTER
        x = -width / 2;
        break;
    default:
        break;
    }
    switch (m_dc.textAlign & 24) {
    case 8: // TA_BOTTOM
        y = -metrics.descent();
        break;
    case 24: // TA_BASELINE
        break;
    default: // TA_TOP
        y = metrics.ascent();
    }

    const QPointF origin = t.map(reference);
    const QPointF axis = t.map(QPointF(1, 0)) - t.map(QPointF(0, 0));
    double angle = -double(f.escapement) / 10.0; // any 32-bit value, the lowest too
    if (t.m12() != 0 || t.m21() != 0)
        angle += qRadiansToDegrees(std::atan2(axis.y(), axis.x()));
    m_painter.translate(origin);
    m_painter.rotate(angle);
    m_painter.setFont(font);
    m_painter.setPen(m_dc.textColor);
    if (m_dc.bkOpaque && !(box && (options & 0x2)))
        m_painter.fillRect(QRectF(x, y - metrics.ascent(), width, metrics.height()), m_dc.bkColor);
    m_painter.setBackgroundMode(Qt::TransparentMode);
    double pen = x;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype units = unitsAt(i);
        m_painter.drawText(QPointF(pen, y), text.mid(i, units));
        for (qsizetype k = 0; k < units; ++k)
            pen += advances[i + k];
        i += units - 1;
        if ((i & 63) == 63 && timeUp())
            break;
    }
    if (box && (options & 0x4))
        m_clipApplied = false;
    if (updateCp && xScale > 0)
        m_dc.position = reference + QPointF(width / xScale, 0);
}

void MetafilePainter::drawBitmap(const QImage &image, bool bottomUp, const QRectF &dest, QRectF src,
                                 quint32 rop, double opacity)
{
    if (image.isNull() || !prepare())
        return;
    bool skip = false;
    const QPainter::CompositionMode mode = compositionForRop(rop, &skip);
    if (skip)
        return;
    // The source rectangle of a bottom-up bitmap counts rows from the bottom.
    if (bottomUp)
        src.moveTop(image.height() - src.top() - src.height());
    src = src.normalized().intersected(QRectF(image.rect()));
    if (src.isEmpty())
        return reject();

    const QTransform t = logicalToImage();
    m_painter.setCompositionMode(mode);
    m_painter.setOpacity(qBound(0.0, opacity, 1.0));
    if (t.m12() == 0 && t.m21() == 0) {
        // Axis-aligned: snap to whole pixels, so that a bitmap drawn at its own size lands
        // exactly, and mirror when the destination runs backwards as GDI does.
        const QPointF p0 = t.map(dest.topLeft());
        const QPointF p1 = t.map(dest.bottomRight());
        const bool mirrorX = p1.x() < p0.x();
        const bool mirrorY = p1.y() < p0.y();
        const double limit = 1e7;
        const auto snap = [limit](double v) { return qRound(qBound(-limit, v, limit)); };
        const QRect target(QPoint(snap(qMin(p0.x(), p1.x())), snap(qMin(p0.y(), p1.y()))),
                           QPoint(snap(qMax(p0.x(), p1.x())) - 1, snap(qMax(p0.y(), p1.y())) - 1));
        if (target.isEmpty())
            return;
        QImage part = image.copy(src.toAlignedRect());
        if (mirrorX || mirrorY)
            part = part.mirrored(mirrorX, mirrorY);
        m_painter.resetTransform();
        m_painter.drawImage(target, part);
    } else {
        m_painter.drawImage(dest, image, src);
    }
    m_painter.setOpacity(1.0);
    m_painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void MetafilePainter::beginPath()
{
    m_path = QPainterPath();
    m_pathOpen = true;
}

void MetafilePainter::abortPath()
{
    m_path = QPainterPath();
    m_pathOpen = false;
}

void MetafilePainter::closeFigure()
{
    if (m_pathOpen)
        m_path.closeSubpath();
}

void MetafilePainter::fillPath()
{
    m_pathOpen = false;
    m_path.setFillRule(m_dc.winding ? Qt::WindingFill : Qt::OddEvenFill);
    paintPath(m_path, true, false);
    m_path = QPainterPath();
}

void MetafilePainter::strokePath()
{
    m_pathOpen = false;
    paintPath(m_path, false, true);
    m_path = QPainterPath();
}

void MetafilePainter::strokeAndFillPath()
{
    m_pathOpen = false;
    m_path.setFillRule(m_dc.winding ? Qt::WindingFill : Qt::OddEvenFill);
    paintPath(m_path, true, true);
    m_path = QPainterPath();
}

void MetafilePainter::selectClipPath(int mode)
{
    m_pathOpen = false;
    const QTransform t = logicalToImage();
    QRegion region;
    if (m_path.elementCount() > kMaxClipPathElements) {
        // A region is built scan line by scan line: a huge path clips to its bounds instead.
        region = QRegion(t.mapRect(m_path.controlPointRect())
                             .toAlignedRect()
                             .intersected(m_canvas->rect().adjusted(-1, -1, 1, 1)));
    } else {
        m_path.setFillRule(m_dc.winding ? Qt::WindingFill : Qt::OddEvenFill);
        const QPolygon polygon = t.map(m_path).toFillPolygon().toPolygon();
        region = QRegion(polygon, m_dc.winding ? Qt::WindingFill : Qt::OddEvenFill);
    }
    m_path = QPainterPath();
    combineImageClip(region, mode);
}

} // namespace qmt
