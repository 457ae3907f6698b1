#pragma once

#include "components/codecs/boundedpathpainter.h"

#include <QColor>
#include <QElapsedTimer>
#include <QFont>
#include <QImage>
#include <QList>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QTransform>

#include <optional>
#include <variant>

namespace qmt {

// The drawing objects of a Windows device context as metafiles create them.
struct GdiPen {
    quint32 style = 0; // PS_* with end-cap and join bits
    double width = 0;  // logical units; 0 is one device pixel
    QColor color = Qt::black;
};
struct GdiBrush {
    quint32 style = 0; // BS_SOLID, BS_NULL, BS_HATCHED, BS_PATTERN, BS_DIBPATTERN...
    QColor color = Qt::white;
    quint32 hatch = 0;
    QImage pattern;
};
struct GdiFont {
    QString face;
    double height = 0; // logical units; negative is the character height, positive the cell
    double width = 0;
    int escapement = 0; // tenths of a degree, counter-clockwise
    int weight = 400;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
};
// Palettes and regions take a slot in the object table; a region can become the clip.
struct GdiOther {
    std::optional<QRegion> region; // in image pixels, mapped when the region was created
};
using GdiObject = std::variant<std::monostate, GdiPen, GdiBrush, GdiFont, GdiOther>;

// Plays the drawing calls of a WMF or EMF file onto an image: a Windows device context (mapping
// modes, window and viewport, world transform, selected objects, clipping, paths, saved states)
// over a QPainter. Coordinates given to the drawing calls are logical units; `deviceToImage`
// maps the recording device's units to the image's pixels. Nothing here trusts its input:
// object indexes are bounded, saved states are capped, transforms with non-finite values are
// refused, paths are capped and painted in pieces Qt's rasterizer can take (see
// BoundedPathPainter), pens are no wider than the canvas needs, and playback has a time budget,
// checked inside long drawing calls as well, after which every call is ignored.
class MetafilePainter
{
public:
    enum MapMode {
        MmText = 1,
        MmLoMetric,
        MmHiMetric,
        MmLoEnglish,
        MmHiEnglish,
        MmTwips,
        MmIsotropic,
        MmAnisotropic
    };
    enum ArcKind { Arc, Chord, Pie, ArcTo };

    // `deviceUnitsPerMm`: the recording device's resolution, for the metric mapping modes.
    MetafilePainter(QImage *canvas, const QTransform &deviceToImage, QSizeF deviceUnitsPerMm);
    ~MetafilePainter();

    // Playback stops (every call is ignored) once this much time has passed.
    static constexpr int kTimeBudgetMs = 10'000;
    // Elements an open path (BeginPath ... EndPath) may collect; further figures are refused.
    static constexpr int kMaxPathElements = 2'000'000;
    bool expired();
    // The same, reading the clock on every call: for the steps of one long drawing call.
    bool timeUp();

    // Mapping.
    void setMapMode(int mode);
    void setWindowOrg(QPointF org) { m_dc.windowOrg = org; }
    void setWindowExt(QSizeF ext);
    void setViewportOrg(QPointF org) { m_dc.viewportOrg = org; }
    void setViewportExt(QSizeF ext);
    void offsetWindowOrg(QPointF d) { m_dc.windowOrg += d; }
    void offsetViewportOrg(QPointF d) { m_dc.viewportOrg += d; }
    void scaleWindowExt(double xNum, double xDenom, double yNum, double yDenom);
    void scaleViewportExt(double xNum, double xDenom, double yNum, double yDenom);
    void setWorldTransform(const QTransform &t);
    // mode: 1 identity, 2 left-multiply, 3 right-multiply, 4 set.
    void modifyWorldTransform(const QTransform &t, quint32 mode);
    QTransform logicalToImage() const;
    QTransform deviceToImage() const { return m_deviceToImage; }

    // Attributes.
    void setTextColor(QColor c) { m_dc.textColor = c; }
    void setBkColor(QColor c) { m_dc.bkColor = c; }
    void setBkMode(int mode) { m_dc.bkOpaque = mode == 2; }
    void setTextAlign(quint32 align) { m_dc.textAlign = align; }
    void setPolyFillMode(int mode) { m_dc.winding = mode == 2; }
    void setRop2(int rop) { m_dc.rop2 = rop; }
    void setArcDirection(int dir) { m_dc.clockwise = dir == 2; }
    void setMiterLimit(double) {}

    // Saved states: SaveDC and RestoreDC (negative: relative; positive: absolute).
    void saveDc();
    void restoreDc(int which);

    // The object table. WMF files fill the lowest free slot; EMF files name the slot.
    void setObjectTableSize(int size);
    int objectTableSize() const { return int(m_objects.size()); }
    int firstFreeSlot() const;
    bool putObject(int index, GdiObject object);
    bool selectObject(int index);
    bool deleteObject(int index);
    bool selectStockObject(quint32 id);
    const GdiObject *object(int index) const;

    // Clipping, in logical units except where said.
    void intersectClipRect(const QRectF &r);
    void excludeClipRect(const QRectF &r);
    void offsetClip(QPointF d);
    // RGN_AND 1, RGN_OR 2, RGN_XOR 3, RGN_DIFF 4, RGN_COPY 5; the region is in device units.
    void combineClip(const std::optional<QRegion> &deviceRegion, int mode);
    void resetClip();
    // The same with a region already in image pixels.
    void combineImageClip(const QRegion &imageRegion, int mode);

    // Drawing.
    QPointF currentPosition() const { return m_dc.position; }
    void moveTo(QPointF p);
    void lineTo(QPointF p);
    void polyline(const QPolygonF &points);
    void polylineTo(const QPolygonF &points);
    void polygon(const QPolygonF &points);
    void polyPolygon(const QList<QPolygonF> &polygons);
    void polyPolyline(const QList<QPolygonF> &polylines);
    void polyBezier(const QPolygonF &points);
    void polyBezierTo(const QPolygonF &points);
    void rectangle(const QRectF &box);
    void roundRect(const QRectF &box, QSizeF corner);
    void ellipse(const QRectF &box);
    void arc(const QRectF &box, QPointF start, QPointF end, ArcKind kind);
    void angleArc(QPointF center, double radius, double startDeg, double sweepDeg);
    void setPixel(QPointF p, QColor color);
    // A rectangle shaded from `from` at corner `a` to `to` at the opposite corner `b`, across
    // (horizontal) or down (vertical); a triangle is filled with the mean of its corner colours.
    void gradientRect(QPointF a, QColor from, QPointF b, QColor to, bool vertical);
    void gradientTriangle(const QPolygonF &corners, QColor mean);
    void patBlt(const QRectF &box, quint32 rop);
    void fillRegion(const QRegion &deviceRegion, const GdiBrush &brush);
    void frameRegion(const QRegion &deviceRegion, const GdiBrush &brush, QSizeF logicalSize);
    void invertRegion(const QRegion &deviceRegion);
    // ETO_OPAQUE 2, ETO_CLIPPED 4 use `box`; `dx` are the advances in logical units, if given.
    void textOut(QPointF reference, const QString &text, quint32 options,
                 const std::optional<QRectF> &box, const QList<double> &dx);
    // Draws `src` of the bitmap into the logical rectangle `dest` with a ternary raster operation.
    void drawBitmap(const QImage &image, bool bottomUp, const QRectF &dest, QRectF src, quint32 rop,
                    double opacity = 1.0);

    // Paths.
    void beginPath();
    void endPath() { m_pathOpen = false; }
    void abortPath();
    void closeFigure();
    void fillPath();
    void strokePath();
    void strokeAndFillPath();
    void selectClipPath(int mode);
    void flattenPath() {}
    void widenPath() {}

    // Calls ignored because of bad values (for the tests and the log).
    int rejectedCalls() const { return m_rejected; }
    void reject() { ++m_rejected; }

private:
    struct DcState {
        int mapMode = MmText;
        QPointF windowOrg, viewportOrg;
        QSizeF windowExt{1, 1}, viewportExt{1, 1};
        QTransform world;
        GdiPen pen;
        GdiBrush brush;
        GdiFont font;
        QColor textColor = Qt::black;
        QColor bkColor = Qt::white;
        bool bkOpaque = true;
        quint32 textAlign = 0;
        bool winding = false;
        int rop2 = 13;
        bool clockwise = false;
        QPointF position;
        std::optional<QRegion> clip; // image pixels
    };

    void emitShape(QPainterPath shape, bool fill, bool stroke);
    void paintPath(const QPainterPath &path, bool fill, bool stroke);
    bool prepare(); // clip and transform for a drawing call; false when playback stopped
    QPen qtPen(const QPainterPath *shape) const;
    QBrush qtBrush(const GdiBrush &brush) const;
    double scaleOf(const QTransform &t) const;
    void setClip(std::optional<QRegion> clip);
    QRegion toImage(const QRectF &logical) const;
    // Whether the open path can take `elements` more; a refused figure counts as rejected.
    bool pathHasRoom(qint64 elements);
    QPainterPath arcPath(const QRectF &box, QPointF start, QPointF end, ArcKind kind,
                         bool *ok) const;

    QImage *m_canvas;
    QPainter m_painter;
    QTransform m_deviceToImage;
    QSizeF m_unitsPerMm;
    DcState m_dc;
    QList<DcState> m_saved;
    QList<GdiObject> m_objects;
    mutable int m_freeHint = 0;
    QPainterPath m_path;
    bool m_pathOpen = false;
    bool m_clipApplied = false;
    QElapsedTimer m_clock;
    bool m_expired = false;
    int m_calls = 0;
    int m_rejected = 0;
    BoundedPathPainter m_bounded;
};

} // namespace qmt
