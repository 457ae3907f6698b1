#include "components/codecs/emfhandler.h"

#include "components/codecs/metafilecommon.h"
#include "components/codecs/metafilecursor.h"
#include "components/codecs/metafiledib.h"
#include "components/codecs/metafilepainter.h"

#include <QIODevice>
#include <QtEndian>

#include <cmath>

namespace qmt {
namespace {

constexpr quint32 kEmfSignature = 0x464D4520; // " EMF"
constexpr int kMinHeaderSize = 88;

enum : quint32 {
    EmrHeader = 1,
    EmrPolyBezier = 2,
    EmrPolygon = 3,
    EmrPolyline = 4,
    EmrPolyBezierTo = 5,
    EmrPolylineTo = 6,
    EmrPolyPolyline = 7,
    EmrPolyPolygon = 8,
    EmrSetWindowExtEx = 9,
    EmrSetWindowOrgEx = 10,
    EmrSetViewportExtEx = 11,
    EmrSetViewportOrgEx = 12,
    EmrEof = 14,
    EmrSetPixelV = 15,
    EmrSetMapMode = 17,
    EmrSetBkMode = 18,
    EmrSetPolyFillMode = 19,
    EmrSetRop2 = 20,
    EmrSetTextAlign = 22,
    EmrSetTextColor = 24,
    EmrSetBkColor = 25,
    EmrOffsetClipRgn = 26,
    EmrMoveToEx = 27,
    EmrExcludeClipRect = 29,
    EmrIntersectClipRect = 30,
    EmrScaleViewportExtEx = 31,
    EmrScaleWindowExtEx = 32,
    EmrSaveDc = 33,
    EmrRestoreDc = 34,
    EmrSetWorldTransform = 35,
    EmrModifyWorldTransform = 36,
    EmrSelectObject = 37,
    EmrCreatePen = 38,
    EmrCreateBrushIndirect = 39,
    EmrDeleteObject = 40,
    EmrAngleArc = 41,
    EmrEllipse = 42,
    EmrRectangle = 43,
    EmrRoundRect = 44,
    EmrArc = 45,
    EmrChord = 46,
    EmrPie = 47,
    EmrCreatePalette = 49,
    EmrLineTo = 54,
    EmrArcTo = 55,
    EmrPolyDraw = 56,
    EmrSetArcDirection = 57,
    EmrSetMiterLimit = 58,
    EmrBeginPath = 59,
    EmrEndPath = 60,
    EmrCloseFigure = 61,
    EmrFillPath = 62,
    EmrStrokeAndFillPath = 63,
    EmrStrokePath = 64,
    EmrFlattenPath = 65,
    EmrWidenPath = 66,
    EmrSelectClipPath = 67,
    EmrAbortPath = 68,
    EmrFillRgn = 71,
    EmrFrameRgn = 72,
    EmrInvertRgn = 73,
    EmrPaintRgn = 74,
    EmrExtSelectClipRgn = 75,
    EmrBitBlt = 76,
    EmrStretchBlt = 77,
    EmrSetDiBitsToDevice = 80,
    EmrStretchDiBits = 81,
    EmrExtCreateFontIndirectW = 82,
    EmrExtTextOutA = 83,
    EmrExtTextOutW = 84,
    EmrPolyBezier16 = 85,
    EmrPolygon16 = 86,
    EmrPolyline16 = 87,
    EmrPolyBezierTo16 = 88,
    EmrPolylineTo16 = 89,
    EmrPolyPolyline16 = 90,
    EmrPolyPolygon16 = 91,
    EmrPolyDraw16 = 92,
    EmrCreateMonoBrush = 93,
    EmrCreateDibPatternBrushPt = 94,
    EmrExtCreatePen = 95,
    EmrSmallTextOut = 108,
    EmrAlphaBlend = 114,
    EmrGradientFill = 118,
    EmrTransparentBlt = 116,
};

QColor colorRef(quint32 v)
{
    return QColor(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF);
}

QPointF pointL(MetafileCursor &r)
{
    const double x = r.i32();
    return QPointF(x, r.i32());
}

QRectF rectL(MetafileCursor &r)
{
    const double left = r.i32(), top = r.i32(), right = r.i32(), bottom = r.i32();
    return QRectF(QPointF(left, top), QPointF(right, bottom));
}

QSizeF sizeL(MetafileCursor &r)
{
    const double w = r.i32();
    return QSizeF(w, r.i32());
}

QTransform xform(MetafileCursor &r)
{
    const double m11 = r.f32(), m12 = r.f32(), m21 = r.f32(), m22 = r.f32(), dx = r.f32(),
                 dy = r.f32();
    return QTransform(m11, m12, m21, m22, dx, dy);
}

QPolygonF readPoints(MetafileCursor &r, qint64 count, bool small)
{
    QPolygonF poly;
    const int size = small ? 4 : 8;
    if (count <= 0 || count * size > r.remaining())
        return poly;
    count = qMin(count, kMaxRecordPoints);
    poly.reserve(count);
    for (qint64 i = 0; i < count; ++i) {
        if (small) {
            const double x = r.i16();
            poly.append(QPointF(x, r.i16()));
        } else {
            poly.append(pointL(r));
        }
    }
    return poly;
}

// Region data: a 32-byte header (size, type, rectangle count, bytes, bounds) and the
// rectangles, in device units.
std::optional<QRegion> readRegion(MetafileCursor &r, quint32 bytes)
{
    if (bytes < 32 || bytes > r.remaining())
        return std::nullopt;
    MetafileCursor data(r.here(), bytes);
    data.u32();
    data.u32();
    const quint32 count = data.u32();
    data.u32();
    rectL(data);
    if (!data.ok() || qint64(count) * 16 > data.remaining())
        return std::nullopt;
    QList<QRect> rects;
    rects.reserve(count);
    for (quint32 i = 0; i < count; ++i) {
        const qint32 l = data.i32(), t = data.i32(), rr = data.i32(), b = data.i32();
        const qint64 w = qint64(rr) - l, h = qint64(b) - t;
        if (w > 0 && h > 0 && w < (1 << 24) && h < (1 << 24) && std::abs(l) < (1 << 24) &&
            std::abs(t) < (1 << 24))
            rects.append(QRect(l, t, int(w), int(h)));
    }
    QRegion region;
    region.setRects(rects.constData(), int(rects.size()));
    return region;
}

struct EmfHeader {
    QRectF bounds; // device units, inclusive
    QRectF frame;  // hundredths of a millimetre, inclusive
    quint32 handles = 0;
    QSizeF unitsPerMm{96 / 25.4, 96 / 25.4};
    quint32 headerSize = 0;
};

bool parseHeader(MetafileCursor &in, EmfHeader *h)
{
    const quint32 type = in.u32();
    h->headerSize = in.u32();
    h->bounds = rectL(in);
    h->frame = rectL(in);
    const quint32 signature = in.u32();
    in.u32(); // version
    in.u32(); // bytes
    in.u32(); // records
    h->handles = in.u16();
    in.u16();
    in.u32(); // description
    in.u32();
    in.u32(); // palette entries
    const QSizeF device = sizeL(in);
    const QSizeF millimetres = sizeL(in);
    if (!in.ok() || type != EmrHeader || signature != kEmfSignature ||
        h->headerSize < kMinHeaderSize || h->headerSize > in.size() || h->headerSize % 4)
        return false;
    QSizeF micrometres;
    if (h->headerSize >= 108) {
        in.skip(12);
        micrometres = sizeL(in);
    }
    if (device.width() > 0 && device.height() > 0) {
        if (micrometres.width() > 0 && micrometres.height() > 0)
            h->unitsPerMm = QSizeF(device.width() * 1000 / micrometres.width(),
                                   device.height() * 1000 / micrometres.height());
        else if (millimetres.width() > 0 && millimetres.height() > 0)
            h->unitsPerMm = QSizeF(device.width() / millimetres.width(),
                                   device.height() / millimetres.height());
    }
    return true;
}

class EmfPlayer
{
public:
    explicit EmfPlayer(MetafilePainter &painter) : m_p(painter) {}
    void play(quint32 type, MetafileCursor &r);

private:
    // The bitmap at (offBmi, cbBmi, offBits, cbBits) of the record, checked to lie inside it
    // after its fixed part.
    MetafileBitmap bitmapAt(MetafileCursor &r, quint32 offBmi, quint32 cbBmi, quint32 offBits,
                            quint32 cbBits, quint32 usage, bool keepAlpha = false)
    {
        const qint64 fixed = r.pos();
        const qint64 size = r.size();
        if (cbBmi == 0 || cbBits == 0 || offBmi < fixed || offBits < fixed ||
            qint64(offBmi) + cbBmi > size || qint64(offBits) + cbBits > size)
            return {};
        return decodeMetafileDib(r.data() + offBmi, cbBmi, r.data() + offBits, cbBits, usage,
                                 keepAlpha);
    }
    void text(MetafileCursor &r, bool wide);
    void blt(quint32 type, MetafileCursor &r);
    void polyDraw(MetafileCursor &r, bool small);
    void gradientFill(MetafileCursor &r);
    const GdiBrush *brushAt(quint32 index)
    {
        const GdiObject *o = m_p.object(int(qMin<quint32>(index, 0x7FFFFFFF)));
        return o ? std::get_if<GdiBrush>(o) : nullptr;
    }

    MetafilePainter &m_p;
};

void EmfPlayer::text(MetafileCursor &r, bool wide)
{
    rectL(r); // bounds
    r.u32();  // graphics mode
    r.f32();
    r.f32();
    const QPointF reference = pointL(r);
    const quint32 chars = r.u32();
    const quint32 offString = r.u32();
    const quint32 options = r.u32();
    const QRectF box = rectL(r);
    const quint32 offDx = r.u32();
    const qint64 charBytes = wide ? 2 : 1;
    if (!r.ok() || offString > r.size() || qint64(chars) * charBytes > r.size() - offString)
        return m_p.reject();
    const uchar *s = r.data() + offString;
    QString string;
    if (wide) {
        string.resize(chars);
        for (quint32 i = 0; i < chars; ++i)
            string[i] = QChar(qFromLittleEndian<quint16>(s + 2 * i));
    } else {
        string = QString::fromLatin1(reinterpret_cast<const char *>(s), chars);
    }
    QList<double> dx;
    const qint64 step = (options & 0x2000) ? 8 : 4; // ETO_PDY: x and y advances
    if (offDx >= r.pos() && offDx <= r.size() && qint64(chars) * step <= r.size() - offDx) {
        MetafileCursor d(r.data() + offDx, qint64(chars) * step);
        for (quint32 i = 0; i < chars; ++i) {
            dx.append(d.i32());
            if (step == 8)
                d.i32();
        }
    }
    const bool hasBox = !(options & 0x100) && !box.isNull();
    m_p.textOut(reference, string, options, hasBox ? std::optional<QRectF>(box) : std::nullopt, dx);
}

void EmfPlayer::blt(quint32 type, MetafileCursor &r)
{
    rectL(r); // bounds
    if (type == EmrStretchDiBits || type == EmrSetDiBitsToDevice) {
        const double xDest = r.i32(), yDest = r.i32(), xSrc = r.i32(), ySrc = r.i32();
        const double cxSrc = r.i32(), cySrc = r.i32();
        const quint32 offBmi = r.u32(), cbBmi = r.u32(), offBits = r.u32(), cbBits = r.u32();
        const quint32 usage = r.u32();
        quint32 rop = 0x00CC0020;
        double cxDest = cxSrc, cyDest = cySrc;
        if (type == EmrStretchDiBits) {
            rop = r.u32();
            cxDest = r.i32();
            cyDest = r.i32();
        } else {
            r.u32(); // first scan
            r.u32(); // scan count
        }
        if (!r.ok())
            return m_p.reject();
        const QRectF dest(xDest, yDest, cxDest, cyDest);
        const MetafileBitmap bmp = bitmapAt(r, offBmi, cbBmi, offBits, cbBits, usage);
        if (bmp.image.isNull()) {
            if (cbBmi == 0)
                m_p.patBlt(dest, rop);
            else
                m_p.reject();
            return;
        }
        m_p.drawBitmap(bmp.image, bmp.bottomUp, dest, QRectF(xSrc, ySrc, cxSrc, cySrc), rop);
        return;
    }

    // BitBlt, StretchBlt, AlphaBlend and TransparentBlt share one layout.
    const double xDest = r.i32(), yDest = r.i32(), cxDest = r.i32(), cyDest = r.i32();
    const quint32 rop = r.u32(); // or the blend function, or the transparent colour
    const double xSrc = r.i32(), ySrc = r.i32();
    xform(r);
    r.u32(); // background colour
    const quint32 usage = r.u32();
    const quint32 offBmi = r.u32(), cbBmi = r.u32(), offBits = r.u32(), cbBits = r.u32();
    double cxSrc = cxDest, cySrc = cyDest;
    if (type != EmrBitBlt) {
        cxSrc = r.i32();
        cySrc = r.i32();
    }
    if (!r.ok())
        return m_p.reject();
    const QRectF dest(xDest, yDest, cxDest, cyDest);
    const bool blend = type == EmrAlphaBlend;
    MetafileBitmap bmp =
        bitmapAt(r, offBmi, cbBmi, offBits, cbBits, usage, blend && ((rop >> 24) & 1));
    if (bmp.image.isNull()) {
        if (cbBmi == 0 && type != EmrAlphaBlend && type != EmrTransparentBlt)
            m_p.patBlt(dest, rop);
        else
            m_p.reject();
        return;
    }
    const QRectF src(xSrc, ySrc, cxSrc, cySrc);
    if (blend) {
        m_p.drawBitmap(bmp.image, bmp.bottomUp, dest, src, 0x00CC0020,
                       ((rop >> 16) & 0xFF) / 255.0);
    } else if (type == EmrTransparentBlt) {
        // The colour given is left out of the copy.
        QImage keyed = bmp.image.convertToFormat(QImage::Format_ARGB32);
        const QRgb key = colorRef(rop).rgb() | 0xFF000000;
        for (int y = 0; y < keyed.height(); ++y) {
            QRgb *line = reinterpret_cast<QRgb *>(keyed.scanLine(y));
            for (int x = 0; x < keyed.width(); ++x) {
                if ((line[x] | 0xFF000000) == key)
                    line[x] = 0;
            }
        }
        m_p.drawBitmap(keyed, bmp.bottomUp, dest, src, 0x00CC0020);
    } else {
        m_p.drawBitmap(bmp.image, bmp.bottomUp, dest, src, rop);
    }
}

void EmfPlayer::polyDraw(MetafileCursor &r, bool small)
{
    rectL(r);
    const quint32 stored = r.u32();
    const qint64 pointsAt = r.pos();
    const QPolygonF pts = readPoints(r, stored, small);
    // The point types follow every stored point; only the points read are drawn.
    if (pts.isEmpty() || !r.seek(pointsAt + qint64(stored) * (small ? 4 : 8)) ||
        qint64(stored) > r.remaining())
        return m_p.reject();
    const uchar *types = r.here();
    const quint32 count = quint32(pts.size());
    for (quint32 i = 0; i < count; ++i) {
        const uchar t = types[i] & ~1;
        if (t == 6) { // PT_MOVETO
            m_p.moveTo(pts[i]);
        } else if (t == 2) { // PT_LINETO
            m_p.lineTo(pts[i]);
        } else if (t == 4 && i + 2 < count) { // PT_BEZIERTO: three points
            m_p.polyBezierTo(QPolygonF({pts[i], pts[i + 1], pts[i + 2]}));
            i += 2;
        }
        if (types[qMin(i, count - 1)] & 1)
            m_p.closeFigure();
    }
}

// Bounds, vertex count, shape count, mode (0 rectangles shaded across, 1 down, 2 triangles), the
// vertices (x, y and four 16-bit colour channels), then the shapes as vertex indexes.
void EmfPlayer::gradientFill(MetafileCursor &r)
{
    rectL(r);
    const quint32 vertices = r.u32();
    const quint32 shapes = r.u32();
    const quint32 mode = r.u32();
    const qint64 perShape = mode == 2 ? 12 : 8;
    if (!r.ok() || mode > 2 || qint64(vertices) * 16 > r.remaining() ||
        qint64(shapes) * perShape > r.remaining() - qint64(vertices) * 16)
        return m_p.reject();
    QList<QPointF> points;
    QList<QColor> colours;
    for (quint32 i = 0; i < vertices; ++i) {
        points.append(pointL(r));
        const int red = r.u16() >> 8, green = r.u16() >> 8, blue = r.u16() >> 8;
        r.u16();
        colours.append(QColor(red, green, blue));
    }
    for (quint32 i = 0; i < shapes; ++i) {
        if (mode == 2) {
            const quint32 a = r.u32(), b = r.u32(), c = r.u32();
            if (a >= vertices || b >= vertices || c >= vertices) {
                m_p.reject();
                continue;
            }
            const QColor mean((colours[a].red() + colours[b].red() + colours[c].red()) / 3,
                              (colours[a].green() + colours[b].green() + colours[c].green()) / 3,
                              (colours[a].blue() + colours[b].blue() + colours[c].blue()) / 3);
            m_p.gradientTriangle(QPolygonF({points[a], points[b], points[c]}), mean);
        } else {
            const quint32 a = r.u32(), b = r.u32();
            if (a >= vertices || b >= vertices) {
                m_p.reject();
                continue;
            }
            m_p.gradientRect(points[a], colours[a], points[b], colours[b], mode == 1);
        }
    }
}

void EmfPlayer::play(quint32 type, MetafileCursor &r)
{
    switch (type) {
    case EmrPolyBezier:
    case EmrPolygon:
    case EmrPolyline:
    case EmrPolyBezierTo:
    case EmrPolylineTo:
    case EmrPolyBezier16:
    case EmrPolygon16:
    case EmrPolyline16:
    case EmrPolyBezierTo16:
    case EmrPolylineTo16: {
        const bool small = type >= EmrPolyBezier16;
        const quint32 base = small ? type - EmrPolyBezier16 + EmrPolyBezier : type;
        rectL(r);
        const QPolygonF pts = readPoints(r, r.u32(), small);
        if (pts.isEmpty())
            return m_p.reject();
        switch (base) {
        case EmrPolyBezier:
            m_p.polyBezier(pts);
            break;
        case EmrPolygon:
            m_p.polygon(pts);
            break;
        case EmrPolyline:
            m_p.polyline(pts);
            break;
        case EmrPolyBezierTo:
            m_p.polyBezierTo(pts);
            break;
        default:
            m_p.polylineTo(pts);
        }
        break;
    }
    case EmrPolyPolyline:
    case EmrPolyPolygon:
    case EmrPolyPolyline16:
    case EmrPolyPolygon16: {
        const bool small = type >= EmrPolyPolyline16;
        rectL(r);
        const quint32 polys = r.u32();
        const quint32 total = r.u32();
        if (!r.ok() || qint64(polys) * 4 > r.remaining())
            return m_p.reject();
        QList<quint32> counts;
        qint64 sum = 0;
        for (quint32 i = 0; i < polys; ++i) {
            counts.append(r.u32());
            sum += counts.last();
        }
        if (sum != total || sum * (small ? 4 : 8) > r.remaining())
            return m_p.reject();
        QList<QPolygonF> list;
        qint64 budget = kMaxRecordPoints;
        for (quint32 n : counts) {
            const qint64 take = qMin<qint64>(n, budget);
            list.append(readPoints(r, take, small));
            budget -= take;
            if (budget <= 0)
                break;
        }
        if (type == EmrPolyPolygon || type == EmrPolyPolygon16)
            m_p.polyPolygon(list);
        else
            m_p.polyPolyline(list);
        break;
    }
    case EmrPolyDraw:
    case EmrPolyDraw16:
        polyDraw(r, type == EmrPolyDraw16);
        break;
    case EmrSetWindowExtEx:
        m_p.setWindowExt(sizeL(r));
        break;
    case EmrSetWindowOrgEx:
        m_p.setWindowOrg(pointL(r));
        break;
    case EmrSetViewportExtEx:
        m_p.setViewportExt(sizeL(r));
        break;
    case EmrSetViewportOrgEx:
        m_p.setViewportOrg(pointL(r));
        break;
    case EmrScaleViewportExtEx:
    case EmrScaleWindowExtEx: {
        const double xNum = r.i32(), xDenom = r.i32(), yNum = r.i32(), yDenom = r.i32();
        if (!r.ok())
            return m_p.reject();
        if (type == EmrScaleWindowExtEx)
            m_p.scaleWindowExt(xNum, xDenom, yNum, yDenom);
        else
            m_p.scaleViewportExt(xNum, xDenom, yNum, yDenom);
        break;
    }
    case EmrSetPixelV: {
        const QPointF p = pointL(r);
        const QColor c = colorRef(r.u32());
        if (r.ok())
            m_p.setPixel(p, c);
        break;
    }
    case EmrSetMapMode:
        m_p.setMapMode(int(r.u32()));
        break;
    case EmrSetBkMode:
        m_p.setBkMode(int(r.u32()));
        break;
    case EmrSetPolyFillMode:
        m_p.setPolyFillMode(int(r.u32()));
        break;
    case EmrSetRop2:
        m_p.setRop2(int(r.u32()));
        break;
    case EmrSetTextAlign:
        m_p.setTextAlign(r.u32());
        break;
    case EmrSetTextColor:
        m_p.setTextColor(colorRef(r.u32()));
        break;
    case EmrSetBkColor:
        m_p.setBkColor(colorRef(r.u32()));
        break;
    case EmrOffsetClipRgn:
        m_p.offsetClip(pointL(r));
        break;
    case EmrMoveToEx:
        m_p.moveTo(pointL(r));
        break;
    case EmrLineTo: {
        const QPointF p = pointL(r);
        if (r.ok())
            m_p.lineTo(p);
        break;
    }
    case EmrExcludeClipRect:
    case EmrIntersectClipRect: {
        const QRectF box = rectL(r);
        if (!r.ok())
            return m_p.reject();
        if (type == EmrExcludeClipRect)
            m_p.excludeClipRect(box);
        else
            m_p.intersectClipRect(box);
        break;
    }
    case EmrSaveDc:
        m_p.saveDc();
        break;
    case EmrRestoreDc:
        m_p.restoreDc(r.i32());
        break;
    case EmrSetWorldTransform: {
        const QTransform t = xform(r);
        if (r.ok())
            m_p.setWorldTransform(t);
        break;
    }
    case EmrModifyWorldTransform: {
        const QTransform t = xform(r);
        const quint32 mode = r.u32();
        if (r.ok())
            m_p.modifyWorldTransform(t, mode);
        break;
    }
    case EmrSelectObject: {
        const quint32 index = r.u32();
        if (!r.ok())
            return m_p.reject();
        if (index & 0x80000000)
            m_p.selectStockObject(index);
        else
            m_p.selectObject(int(index));
        break;
    }
    case EmrDeleteObject: {
        const quint32 index = r.u32();
        if (r.ok() && !(index & 0x80000000))
            m_p.deleteObject(int(index));
        break;
    }
    case EmrCreatePen: {
        const quint32 index = r.u32();
        GdiPen pen;
        pen.style = r.u32();
        pen.width = r.i32();
        r.i32();
        pen.color = colorRef(r.u32());
        if (r.ok())
            m_p.putObject(int(qMin<quint32>(index, 0x7FFFFFFF)), pen);
        break;
    }
    case EmrExtCreatePen: {
        const quint32 index = r.u32();
        r.skip(16); // pattern bitmap
        GdiPen pen;
        pen.style = r.u32();
        pen.width = r.u32();
        const quint32 brushStyle = r.u32();
        pen.color = colorRef(r.u32());
        if (brushStyle == 1)
            pen.style = (pen.style & ~0x0Fu) | 5;
        // A cosmetic pen (no PS_GEOMETRIC bit) is one pixel wide whatever its width says.
        if (!(pen.style & 0x00010000))
            pen.width = 0;
        if (r.ok())
            m_p.putObject(int(qMin<quint32>(index, 0x7FFFFFFF)), pen);
        break;
    }
    case EmrCreateBrushIndirect: {
        const quint32 index = r.u32();
        GdiBrush brush;
        brush.style = r.u32();
        brush.color = colorRef(r.u32());
        brush.hatch = r.u32();
        if (r.ok())
            m_p.putObject(int(qMin<quint32>(index, 0x7FFFFFFF)), brush);
        break;
    }
    case EmrCreateMonoBrush:
    case EmrCreateDibPatternBrushPt: {
        const quint32 index = r.u32();
        const quint32 usage = r.u32();
        const quint32 offBmi = r.u32(), cbBmi = r.u32(), offBits = r.u32(), cbBits = r.u32();
        if (!r.ok())
            return m_p.reject();
        GdiBrush brush;
        brush.style = 5;
        brush.pattern = bitmapAt(r, offBmi, cbBmi, offBits, cbBits, usage).image;
        m_p.putObject(int(qMin<quint32>(index, 0x7FFFFFFF)), brush);
        break;
    }
    case EmrCreatePalette: {
        const quint32 index = r.u32();
        if (r.ok())
            m_p.putObject(int(qMin<quint32>(index, 0x7FFFFFFF)), GdiOther());
        break;
    }
    case EmrExtCreateFontIndirectW: {
        const quint32 index = r.u32();
        GdiFont font;
        font.height = r.i32();
        font.width = r.i32();
        font.escapement = r.i32();
        r.i32();
        font.weight = r.i32();
        font.italic = r.u8();
        font.underline = r.u8();
        font.strikeOut = r.u8();
        r.skip(5);
        if (!r.ok())
            return m_p.reject();
        const qint64 n = qMin<qint64>(32, r.remaining() / 2);
        for (qint64 i = 0; i < n; ++i) {
            const quint16 c = r.u16();
            if (c == 0)
                break;
            font.face.append(QChar(c));
        }
        m_p.putObject(int(qMin<quint32>(index, 0x7FFFFFFF)), font);
        break;
    }
    case EmrAngleArc: {
        const QPointF center = pointL(r);
        const double radius = r.u32();
        const double start = r.f32(), sweep = r.f32();
        if (r.ok())
            m_p.angleArc(center, radius, start, sweep);
        break;
    }
    case EmrEllipse:
    case EmrRectangle: {
        const QRectF box = rectL(r);
        if (!r.ok())
            return m_p.reject();
        if (type == EmrEllipse)
            m_p.ellipse(box);
        else
            m_p.rectangle(box);
        break;
    }
    case EmrRoundRect: {
        const QRectF box = rectL(r);
        const QSizeF corner = sizeL(r);
        if (r.ok())
            m_p.roundRect(box, corner);
        break;
    }
    case EmrArc:
    case EmrChord:
    case EmrPie:
    case EmrArcTo: {
        const QRectF box = rectL(r);
        const QPointF start = pointL(r);
        const QPointF end = pointL(r);
        if (!r.ok())
            return m_p.reject();
        m_p.arc(box, start, end,
                type == EmrArc     ? MetafilePainter::Arc
                : type == EmrChord ? MetafilePainter::Chord
                : type == EmrPie   ? MetafilePainter::Pie
                                   : MetafilePainter::ArcTo);
        break;
    }
    case EmrSetArcDirection:
        m_p.setArcDirection(int(r.u32()));
        break;
    case EmrBeginPath:
        m_p.beginPath();
        break;
    case EmrEndPath:
        m_p.endPath();
        break;
    case EmrCloseFigure:
        m_p.closeFigure();
        break;
    case EmrFillPath:
        m_p.fillPath();
        break;
    case EmrStrokeAndFillPath:
        m_p.strokeAndFillPath();
        break;
    case EmrStrokePath:
        m_p.strokePath();
        break;
    case EmrAbortPath:
        m_p.abortPath();
        break;
    case EmrSelectClipPath:
        m_p.selectClipPath(int(r.u32()));
        break;
    case EmrFillRgn:
    case EmrFrameRgn:
    case EmrInvertRgn:
    case EmrPaintRgn: {
        rectL(r);
        const quint32 bytes = r.u32();
        const GdiBrush *brush = nullptr;
        QSizeF frame;
        if (type == EmrFillRgn || type == EmrFrameRgn) {
            brush = brushAt(r.u32());
            if (!brush)
                return m_p.reject();
        }
        if (type == EmrFrameRgn)
            frame = sizeL(r);
        const std::optional<QRegion> region = readRegion(r, bytes);
        if (!r.ok() || !region)
            return m_p.reject();
        if (type == EmrInvertRgn)
            m_p.invertRegion(*region);
        else if (type == EmrFrameRgn)
            m_p.frameRegion(*region, *brush, frame);
        else if (brush)
            m_p.fillRegion(*region, *brush);
        break;
    }
    case EmrExtSelectClipRgn: {
        const quint32 bytes = r.u32();
        const quint32 mode = r.u32();
        if (!r.ok())
            return m_p.reject();
        m_p.combineClip(bytes ? readRegion(r, bytes) : std::nullopt, int(mode));
        break;
    }
    case EmrBitBlt:
    case EmrStretchBlt:
    case EmrSetDiBitsToDevice:
    case EmrStretchDiBits:
    case EmrAlphaBlend:
    case EmrTransparentBlt:
        blt(type, r);
        break;
    case EmrGradientFill:
        gradientFill(r);
        break;
    case EmrExtTextOutA:
    case EmrExtTextOutW:
        text(r, type == EmrExtTextOutW);
        break;
    case EmrSmallTextOut: {
        const QPointF reference = pointL(r);
        const quint32 chars = r.u32();
        const quint32 options = r.u32();
        r.u32();
        r.f32();
        r.f32();
        std::optional<QRectF> box;
        if (!(options & 0x100))
            box = rectL(r);
        const bool narrow = options & 0x200;
        if (!r.ok() || qint64(chars) * (narrow ? 1 : 2) > r.remaining())
            return m_p.reject();
        QString string;
        for (quint32 i = 0; i < chars; ++i)
            string.append(QChar(narrow ? r.u8() : r.u16()));
        m_p.textOut(reference, string, options, box, {});
        break;
    }
    default:
        // Palettes, colour management, comments (EMF+ among them) and the rest change nothing
        // that is drawn here.
        break;
    }
}

void put32(QByteArray &out, quint32 v)
{
    uchar b[4];
    qToLittleEndian(v, b);
    out.append(reinterpret_cast<const char *>(b), 4);
}

} // namespace

bool EmfHandler::canRead(const QByteArray &head)
{
    if (head.size() < 44)
        return false;
    const uchar *d = reinterpret_cast<const uchar *>(head.constData());
    return qFromLittleEndian<quint32>(d) == EmrHeader &&
           qFromLittleEndian<quint32>(d + 40) == kEmfSignature;
}

bool EmfHandler::canRead(QIODevice *device)
{
    return device && canRead(device->peek(44));
}

Result<QImage> EmfHandler::render(const QByteArray &data, const ReadOptions &options,
                                  QSize *fullSize)
{
    MetafileCursor in(data);
    EmfHeader h;
    if (!parseHeader(in, &h))
        return Result<QImage>::fail(QStringLiteral("The file is not an enhanced metafile."));

    // The picture is the frame; where it is missing, the bounds in device units.
    const QSizeF perMm = h.unitsPerMm;
    QRectF frameDevice;
    const QRectF frame = h.frame.normalized();
    if (frame.width() > 0 && frame.height() > 0) {
        frameDevice =
            QRectF(frame.left() / 100 * perMm.width(), frame.top() / 100 * perMm.height(),
                   frame.width() / 100 * perMm.width(), frame.height() / 100 * perMm.height());
    } else {
        // Inclusive bounds: right below left means there is nothing.
        const QRectF b = h.bounds;
        frameDevice = QRectF(b.left(), b.top(), b.width() + 1, b.height() + 1);
    }
    if (!(frameDevice.width() > 0 && frameDevice.height() > 0) ||
        !std::isfinite(frameDevice.width()) || !std::isfinite(frameDevice.height()))
        return Result<QImage>::fail(QStringLiteral("The metafile's picture frame is empty."));
    const QSizeF natural(frameDevice.width() / perMm.width() * 96 / 25.4,
                         frameDevice.height() / perMm.height() * 96 / 25.4);
    const QSize size = metafileRenderSize(natural, options);
    if (fullSize)
        *fullSize = metafileRenderSize(natural, {});
    QImage canvas(size, QImage::Format_RGB32);
    if (canvas.isNull())
        return Result<QImage>::fail(QStringLiteral("There is not enough memory for the picture."));

    QTransform deviceToImage;
    deviceToImage.scale(size.width() / frameDevice.width(), size.height() / frameDevice.height());
    deviceToImage.translate(-frameDevice.left(), -frameDevice.top());
    {
        MetafilePainter painter(&canvas, deviceToImage, perMm);
        painter.setObjectTableSize(int(qMax<quint32>(h.handles, 1)));
        EmfPlayer player(painter);
        in.seek(h.headerSize);
        for (int n = 0; n < kMaxMetafileRecords && in.remaining() >= 8; ++n) {
            const qint64 start = in.pos();
            const quint32 type = in.u32();
            const quint32 size = in.u32();
            // A record shorter than its own header, not a whole number of words, or running
            // past the end stops the playback; what was drawn so far is the picture.
            if (size < 8 || size % 4 || size > in.size() - start || type == EmrEof)
                break;
            MetafileCursor record(in.data() + start, size);
            record.seek(8);
            player.play(type, record);
            if (painter.expired())
                break;
            in.seek(start + size);
        }
    }
    return canvas;
}

Result<DecodedImage> EmfHandler::read(QIODevice *device, const ReadOptions &options)
{
    QString error;
    reserveMetafilePlayback(device, options);
    const QByteArray data = readMetafileBytes(device, &error);
    if (data.isEmpty())
        return Result<DecodedImage>::fail(error);
    QSize fullSize;
    Result<QImage> image = render(data, options, &fullSize);
    if (!image)
        return Result<DecodedImage>::fail(image.error());
    DecodedImage decoded;
    decoded.formatCode = FormatEmf;
    decoded.bitsPerPixel = 24;
    decoded.fullSize = fullSize;
    decoded.pages.append(std::move(*image));
    return decoded;
}

Result<QByteArray> EmfHandler::encode(const QImage &source)
{
    if (source.isNull())
        return Result<QByteArray>::fail(QStringLiteral("There is no image to save."));
    QImage flat(source.size(), QImage::Format_RGB888);
    flat.fill(Qt::white);
    {
        QPainter p(&flat);
        p.drawImage(0, 0, source);
    }
    const qint64 w = flat.width(), h = flat.height();
    const qint64 stride = (w * 3 + 3) & ~qint64(3);
    const qint64 bitsBytes = stride * h;
    constexpr qint64 headerBytes = 108, stretchFixed = 80, infoBytes = 40, eofBytes = 20;
    const qint64 stretchBytes = stretchFixed + infoBytes + bitsBytes;
    const qint64 total = headerBytes + stretchBytes + eofBytes;
    if (total > 0x7FFFFFFF)
        return Result<QByteArray>::fail(QStringLiteral("The image is too large for a metafile."));

    // The reference device: 1920 x 1080 pixels at exactly 96 dots per inch (given in
    // micrometres), so that the frame below maps back to the image's own pixel size.
    constexpr qint32 deviceW = 1920, deviceH = 1080;
    constexpr qint32 micronsW = 508000, micronsH = 285750;
    const qint32 frameW = qint32(std::lround(w * 2540.0 / 96));
    const qint32 frameH = qint32(std::lround(h * 2540.0 / 96));

    QByteArray out;
    out.reserve(total);
    // EMR_HEADER
    put32(out, EmrHeader);
    put32(out, headerBytes);
    put32(out, 0); // bounds, device pixels, inclusive
    put32(out, 0);
    put32(out, quint32(w - 1));
    put32(out, quint32(h - 1));
    put32(out, 0); // frame, hundredths of a millimetre
    put32(out, 0);
    put32(out, quint32(frameW));
    put32(out, quint32(frameH));
    put32(out, kEmfSignature);
    put32(out, 0x00010000);
    put32(out, quint32(total));
    put32(out, 3); // records
    put32(out, 1); // handles (slot 0 is reserved) and the reserved half-word
    put32(out, 0); // description: none
    put32(out, 0);
    put32(out, 0); // palette entries
    put32(out, deviceW);
    put32(out, deviceH);
    put32(out, quint32(std::lround(micronsW / 1000.0)));
    put32(out, quint32(std::lround(micronsH / 1000.0)));
    put32(out, 0); // pixel format: none
    put32(out, 0);
    put32(out, 0); // not OpenGL
    put32(out, micronsW);
    put32(out, micronsH);

    // EMR_STRETCHDIBITS
    put32(out, EmrStretchDiBits);
    put32(out, quint32(stretchBytes));
    put32(out, 0);
    put32(out, 0);
    put32(out, quint32(w - 1));
    put32(out, quint32(h - 1));
    put32(out, 0); // destination x, y
    put32(out, 0);
    put32(out, 0); // source x, y, width, height
    put32(out, 0);
    put32(out, quint32(w));
    put32(out, quint32(h));
    put32(out, stretchFixed); // bitmap header offset and size
    put32(out, infoBytes);
    put32(out, stretchFixed + infoBytes); // rows offset and size
    put32(out, quint32(bitsBytes));
    put32(out, 0);          // DIB_RGB_COLORS
    put32(out, 0x00CC0020); // SRCCOPY
    put32(out, quint32(w)); // destination width, height
    put32(out, quint32(h));
    put32(out, infoBytes); // BITMAPINFOHEADER: 24 bits, bottom-up rows of BGR
    put32(out, quint32(w));
    put32(out, quint32(h));
    put32(out, 1 | (24 << 16));
    put32(out, 0);
    put32(out, quint32(bitsBytes));
    put32(out, 3780);
    put32(out, 3780);
    put32(out, 0);
    put32(out, 0);
    QByteArray row(stride, '\0');
    for (qint64 y = h - 1; y >= 0; --y) {
        const uchar *src = flat.constScanLine(int(y));
        for (qint64 x = 0; x < w; ++x) {
            row[3 * x] = char(src[3 * x + 2]);
            row[3 * x + 1] = char(src[3 * x + 1]);
            row[3 * x + 2] = char(src[3 * x]);
        }
        out.append(row);
    }

    // EMR_EOF: no palette; the last word repeats the record's size.
    put32(out, EmrEof);
    put32(out, eofBytes);
    put32(out, 0);
    put32(out, 16);
    put32(out, eofBytes);
    return out;
}

Status EmfHandler::writePages(const QList<QImage> &pages, QIODevice *device)
{
    if (pages.isEmpty())
        return Status::fail(QStringLiteral("There is no image to save."));
    Result<QByteArray> bytes = encode(pages.first());
    if (!bytes)
        return Status::fail(bytes.error());
    if (device->write(*bytes) != bytes->size())
        return Status::fail(
            QStringLiteral("The file cannot be written: %1").arg(device->errorString()));
    return {};
}

} // namespace qmt
