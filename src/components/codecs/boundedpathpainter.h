#pragma once

#include <QBrush>
#include <QList>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
#include <QRect>
#include <QTransform>

#include <functional>

class QPainter;

namespace qmt {

// Hands Qt's raster engine the paths of a metafile in pieces whose work it can take. The engine
// rasterizes an outline in passes over the whole outline, each pass holding a bounded number of
// cells (one for each pixel an edge crosses): an outline with many more cells than one pass
// holds is walked again for every band, so its cost grows with the square of its size, and
// what it allocates on the way is not checked. Here a large fill is cut into horizontal strips
// (each clipped exactly, so the fill rule holds inside every strip) and a long stroke into
// pieces along its path; the playback deadline is checked between strips and pieces, and the
// points a path flattens into are capped.
class BoundedPathPainter
{
public:
    // Cells one pass of the raster engine holds (a pool of a megabyte at most), with margin.
    static constexpr qint64 kCellsPerPass = 65'536;
    // Path elements stroked in one piece.
    static constexpr int kMaxPieceElements = 1024;
    // Points a path is flattened into before the rest is left out (128 MB of points).
    static constexpr qint64 kMaxFlattenedPoints = 8'000'000;

    // `canvas`: the pixels that can be painted; `timeUp`: whether playback must stop;
    // `cellsPerPass`: the size of the pieces (smaller in the tests).
    BoundedPathPainter(QPainter &painter, const QRect &canvas, std::function<bool()> timeUp,
                       qint64 cellsPerPass = kCellsPerPass);

    // Fills `path` (given in the units `toImage` maps onto the canvas) with `brush`.
    void fill(const QPainterPath &path, const QBrush &brush, const QTransform &toImage);
    // Strokes `path` with `pen`; a stroke cut into pieces loses the joins between them.
    void stroke(const QPainterPath &path, const QPen &pen, const QTransform &toImage);

    // The subpaths of `path` as polygons in canvas pixels, curves flattened; false in
    // `complete` when kMaxFlattenedPoints cut it short.
    static QList<QPolygonF> flatten(const QPainterPath &path, const QTransform &toImage,
                                    bool *complete = nullptr);
    // The cells the raster engine makes for `polygons` filled, within rows [top, bottom).
    qint64 fillCells(const QList<QPolygonF> &polygons, double top, double bottom) const;
    // The part of a closed polygon between the rows `top` and `bottom`.
    static QPolygonF clipToRows(const QPolygonF &polygon, double top, double bottom);

    // Calls made on the raster engine so far (for the tests).
    int drawCalls() const { return m_drawCalls; }

private:
    void fillRows(const QList<QPolygonF> &polygons, const QList<QRectF> &bounds, Qt::FillRule rule,
                  double top, double bottom);
    qint64 strokeCells(QPointF from, QPointF to, double width) const;
    void drawStrokePiece(const QPainterPath &piece);

    QPainter &m_painter;
    QRect m_canvas;
    std::function<bool()> m_timeUp;
    qint64 m_cellsPerPass;
    int m_drawCalls = 0;
};

} // namespace qmt
