#include "components/codecs/boundedpathpainter.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace qmt {
namespace {

// The crossing of the segment a-b with the row line `y` (a and b on either side).
QPointF crossing(QPointF a, QPointF b, double y)
{
    const double t = (y - a.y()) / (b.y() - a.y());
    return QPointF(a.x() + t * (b.x() - a.x()), y);
}

// One step of Sutherland-Hodgman: the part of the closed polygon on the kept side of row `y`.
QPolygonF clipAtRow(const QPolygonF &polygon, double y, bool keepBelow)
{
    QPolygonF out;
    const qsizetype n = polygon.size();
    if (n == 0)
        return out;
    out.reserve(n + 4);
    const auto inside = [y, keepBelow](QPointF p) { return keepBelow ? p.y() >= y : p.y() <= y; };
    QPointF previous = polygon.at(n - 1);
    bool previousInside = inside(previous);
    for (const QPointF &point : polygon) {
        const bool pointInside = inside(point);
        if (pointInside != previousInside)
            out.append(crossing(previous, point, y));
        if (pointInside)
            out.append(point);
        previous = point;
        previousInside = pointInside;
    }
    return out;
}

double scaleOf(const QTransform &t)
{
    return std::sqrt(std::abs(t.determinant()));
}

} // namespace

BoundedPathPainter::BoundedPathPainter(QPainter &painter, const QRect &canvas,
                                       std::function<bool()> timeUp, qint64 cellsPerPass)
    : m_painter(painter), m_canvas(canvas), m_timeUp(std::move(timeUp)),
      m_cellsPerPass(cellsPerPass)
{
}

QList<QPolygonF> BoundedPathPainter::flatten(const QPainterPath &path, const QTransform &toImage,
                                             bool *complete)
{
    QList<QPolygonF> polygons;
    QPolygonF current;
    qint64 points = 0;
    if (complete)
        *complete = true;
    const int count = path.elementCount();
    for (int i = 0; i < count; ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        if (points >= kMaxFlattenedPoints) {
            if (complete)
                *complete = false;
            break;
        }
        if (e.isMoveTo()) {
            if (current.size() > 1)
                polygons.append(current);
            current = QPolygonF();
            current.append(toImage.map(QPointF(e)));
            ++points;
        } else if (e.isLineTo()) {
            current.append(toImage.map(QPointF(e)));
            ++points;
        } else if (e.isCurveTo() && i > 0 && i + 2 < count) {
            // The curve is flattened as Qt flattens it when drawing.
            QPainterPath curve(QPointF(path.elementAt(i - 1)));
            curve.cubicTo(QPointF(e), QPointF(path.elementAt(i + 1)),
                          QPointF(path.elementAt(i + 2)));
            for (const QPolygonF &part : curve.toSubpathPolygons(toImage)) {
                if (current.isEmpty())
                    current.append(part.first());
                current.append(part.mid(1));
                points += part.size();
            }
            i += 2;
        }
    }
    if (current.size() > 1)
        polygons.append(current);
    return polygons;
}

qint64 BoundedPathPainter::fillCells(const QList<QPolygonF> &polygons, double top,
                                     double bottom) const
{
    const double left = m_canvas.left();
    const double right = m_canvas.right() + 1.0;
    qint64 cells = 0;
    for (const QPolygonF &polygon : polygons) {
        const qsizetype n = polygon.size();
        for (qsizetype i = 0; i < n; ++i) {
            const QPointF a = polygon.at(i);
            const QPointF b = polygon.at((i + 1) % n);
            const double dy = std::clamp(std::max(a.y(), b.y()), top, bottom) -
                              std::clamp(std::min(a.y(), b.y()), top, bottom);
            const double dx =
                std::abs(std::clamp(a.x(), left, right) - std::clamp(b.x(), left, right));
            if (dy > 0 || (a.y() >= top && a.y() <= bottom))
                cells += qint64(dx + dy) + 1;
        }
    }
    return cells;
}

QPolygonF BoundedPathPainter::clipToRows(const QPolygonF &polygon, double top, double bottom)
{
    return clipAtRow(clipAtRow(polygon, top, true), bottom, false);
}

void BoundedPathPainter::fill(const QPainterPath &path, const QBrush &brush,
                              const QTransform &toImage)
{
    if (path.isEmpty() || brush.style() == Qt::NoBrush || m_timeUp())
        return;
    m_painter.setPen(Qt::NoPen);
    // Most shapes are small: no element of the outline can cross more cells than the extent
    // of the whole shape on the canvas.
    const QRectF extent = toImage.mapRect(path.controlPointRect()).intersected(QRectF(m_canvas));
    if (double(path.elementCount()) * (extent.width() + extent.height() + 2) <= m_cellsPerPass) {
        m_painter.setTransform(toImage);
        m_painter.setBrush(brush);
        m_painter.drawPath(path);
        ++m_drawCalls;
        return;
    }
    bool complete = true;
    const QList<QPolygonF> polygons = flatten(path, toImage, &complete);
    const double top = m_canvas.top();
    const double bottom = m_canvas.bottom() + 1.0;
    if (complete && fillCells(polygons, top, bottom) <= m_cellsPerPass) {
        m_painter.setTransform(toImage);
        m_painter.setBrush(brush);
        m_painter.drawPath(path);
        ++m_drawCalls;
        return;
    }
    QList<QRectF> bounds;
    bounds.reserve(polygons.size());
    for (const QPolygonF &polygon : polygons)
        bounds.append(polygon.boundingRect());
    // The polygons are in canvas pixels now; a pattern keeps its place on the canvas.
    QBrush onCanvas(brush);
    onCanvas.setTransform(brush.transform() * toImage);
    m_painter.resetTransform();
    m_painter.setBrush(onCanvas);
    fillRows(polygons, bounds, path.fillRule(), top, bottom);
}

// Strips of whole rows, each with about as many cells as one pass holds (a row with more is a
// strip of its own), found from the cells each row gets.
void BoundedPathPainter::fillRows(const QList<QPolygonF> &polygons, const QList<QRectF> &bounds,
                                  Qt::FillRule rule, double top, double bottom)
{
    const int rows = int(bottom - top);
    if (rows <= 0)
        return;
    // How many cells each row gets, spread evenly over the rows of each edge.
    QList<double> change(rows + 1, 0.0);
    for (const QPolygonF &polygon : polygons) {
        const qsizetype n = polygon.size();
        for (qsizetype i = 0; i < n; ++i) {
            const QPointF a = polygon.at(i);
            const QPointF b = polygon.at((i + 1) % n);
            const double y0 = std::clamp(std::min(a.y(), b.y()), top, bottom);
            const double y1 = std::clamp(std::max(a.y(), b.y()), top, bottom);
            const int r0 = std::clamp(int(y0 - top), 0, rows - 1);
            const int r1 = std::clamp(int(std::ceil(y1 - top)), r0 + 1, rows);
            const double cells = std::abs(a.x() - b.x()) + (y1 - y0) + 1;
            const double perRow = std::min(cells, double(m_canvas.width()) + 2) / (r1 - r0);
            change[r0] += perRow;
            change[r1] -= perRow;
        }
    }

    QList<int> order(polygons.size());
    for (int i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(),
              [&bounds](int a, int b) { return bounds.at(a).top() < bounds.at(b).top(); });
    QList<int> active;
    qsizetype next = 0;
    double density = 0;
    int row = 0;
    while (row < rows) {
        if (m_timeUp())
            return;
        // The rows of this strip.
        const int first = row;
        double cells = 0;
        while (row < rows) {
            density += change[row];
            if (row > first && cells + density > m_cellsPerPass) {
                density -= change[row];
                break;
            }
            cells += density;
            ++row;
        }
        const double stripTop = top + first;
        const double stripBottom = top + row;
        while (next < order.size() && bounds.at(order.at(next)).top() < stripBottom)
            active.append(order.at(next++));
        QPainterPath strip;
        strip.setFillRule(rule);
        active.removeIf([&](int i) { return bounds.at(i).bottom() < stripTop; });
        for (int i : active) {
            const QPolygonF part = clipToRows(polygons.at(i), stripTop, stripBottom);
            if (part.size() >= 3) {
                strip.addPolygon(part);
                strip.closeSubpath();
            }
        }
        if (!strip.isEmpty()) {
            m_painter.drawPath(strip);
            ++m_drawCalls;
        }
    }
}

qint64 BoundedPathPainter::strokeCells(QPointF from, QPointF to, double width) const
{
    // Both sides of the segment and a join; the canvas clips what lies beyond it.
    const double length = QLineF(from, to).length();
    const double cells = 2 * (length + width) + 4 * width;
    const double most = 4.0 * (m_canvas.width() + m_canvas.height());
    return qint64(std::min(cells, most)) + 1;
}

void BoundedPathPainter::drawStrokePiece(const QPainterPath &piece)
{
    if (piece.elementCount() < 2)
        return;
    m_painter.drawPath(piece);
    ++m_drawCalls;
}

void BoundedPathPainter::stroke(const QPainterPath &path, const QPen &pen,
                                const QTransform &toImage)
{
    if (path.isEmpty() || pen.style() == Qt::NoPen || m_timeUp())
        return;
    const double width =
        pen.isCosmetic() || pen.widthF() <= 0 ? 1 : pen.widthF() * scaleOf(toImage);
    m_painter.setTransform(toImage);
    m_painter.setPen(pen);
    m_painter.setBrush(Qt::NoBrush);
    const int count = path.elementCount();
    const QRectF extent = toImage.mapRect(path.controlPointRect())
                              .adjusted(-width, -width, width, width)
                              .intersected(QRectF(m_canvas));
    if (count <= kMaxPieceElements &&
        double(count) * (2 * (extent.width() + extent.height()) + 6 * width) <= m_cellsPerPass) {
        drawStrokePiece(path);
        return;
    }

    QPainterPath piece;
    qint64 cells = 0;
    QPointF last;
    for (int i = 0; i < count; ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        if (e.isMoveTo()) {
            if (piece.elementCount() > 1)
                piece.moveTo(e);
            else
                piece = QPainterPath(QPointF(e));
            last = e;
            continue;
        }
        if (piece.elementCount() == 0)
            piece.moveTo(last);
        if (e.isLineTo()) {
            cells += strokeCells(toImage.map(last), toImage.map(QPointF(e)), width);
            piece.lineTo(e);
            last = e;
        } else if (e.isCurveTo() && i + 2 < count) {
            const QPointF c1 = e, c2 = path.elementAt(i + 1), end = path.elementAt(i + 2);
            cells += strokeCells(toImage.map(last), toImage.map(c1), width) +
                     strokeCells(toImage.map(c1), toImage.map(c2), width) +
                     strokeCells(toImage.map(c2), toImage.map(end), width);
            piece.cubicTo(c1, c2, end);
            last = end;
            i += 2;
        }
        if (cells >= m_cellsPerPass || piece.elementCount() >= kMaxPieceElements) {
            drawStrokePiece(piece);
            if (m_timeUp())
                return;
            piece = QPainterPath();
            cells = 0;
        }
    }
    drawStrokePiece(piece);
}

} // namespace qmt
