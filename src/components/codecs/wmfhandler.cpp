#include "components/codecs/wmfhandler.h"

#include "components/codecs/metafilecommon.h"
#include "components/codecs/metafilecursor.h"
#include "components/codecs/metafiledib.h"
#include "components/codecs/metafilepainter.h"

#include <QIODevice>
#include <QtEndian>

#include <cmath>

namespace qmt {
namespace {

constexpr quint32 kPlaceableKey = 0x9AC6CDD7;
constexpr int kPlaceableSize = 22;
constexpr int kHeaderSize = 18;

// Record functions (the low byte names the call, the high byte counts its fixed parameters).
enum : quint16 {
    MetaEof = 0x0000,
    MetaSaveDc = 0x001E,
    MetaRealizePalette = 0x0035,
    MetaSetPalEntries = 0x0037,
    MetaCreatePalette = 0x00F7,
    MetaSetBkMode = 0x0102,
    MetaSetMapMode = 0x0103,
    MetaSetRop2 = 0x0104,
    MetaSetRelAbs = 0x0105,
    MetaSetPolyFillMode = 0x0106,
    MetaSetStretchBltMode = 0x0107,
    MetaSetTextCharExtra = 0x0108,
    MetaRestoreDc = 0x0127,
    MetaInvertRegion = 0x012A,
    MetaPaintRegion = 0x012B,
    MetaSelectClipRegion = 0x012C,
    MetaSelectObject = 0x012D,
    MetaSetTextAlign = 0x012E,
    MetaResizePalette = 0x0139,
    MetaDibCreatePatternBrush = 0x0142,
    MetaSetLayout = 0x0149,
    MetaDeleteObject = 0x01F0,
    MetaCreatePatternBrush = 0x01F9,
    MetaSetBkColor = 0x0201,
    MetaSetTextColor = 0x0209,
    MetaSetTextJustification = 0x020A,
    MetaSetWindowOrg = 0x020B,
    MetaSetWindowExt = 0x020C,
    MetaSetViewportOrg = 0x020D,
    MetaSetViewportExt = 0x020E,
    MetaOffsetWindowOrg = 0x020F,
    MetaOffsetViewportOrg = 0x0211,
    MetaLineTo = 0x0213,
    MetaMoveTo = 0x0214,
    MetaOffsetClipRgn = 0x0220,
    MetaFillRegion = 0x0228,
    MetaSetMapperFlags = 0x0231,
    MetaSelectPalette = 0x0234,
    MetaCreatePenIndirect = 0x02FA,
    MetaCreateFontIndirect = 0x02FB,
    MetaCreateBrushIndirect = 0x02FC,
    MetaPolygon = 0x0324,
    MetaPolyline = 0x0325,
    MetaScaleWindowExt = 0x0410,
    MetaScaleViewportExt = 0x0412,
    MetaExcludeClipRect = 0x0415,
    MetaIntersectClipRect = 0x0416,
    MetaEllipse = 0x0418,
    MetaFloodFill = 0x0419,
    MetaRectangle = 0x041B,
    MetaSetPixel = 0x041F,
    MetaFrameRegion = 0x0429,
    MetaAnimatePalette = 0x0436,
    MetaTextOut = 0x0521,
    MetaPolyPolygon = 0x0538,
    MetaExtFloodFill = 0x0548,
    MetaRoundRect = 0x061C,
    MetaPatBlt = 0x061D,
    MetaEscape = 0x0626,
    MetaCreateRegion = 0x06FF,
    MetaArc = 0x0817,
    MetaPie = 0x081A,
    MetaChord = 0x0830,
    MetaBitBlt = 0x0922,
    MetaDibBitBlt = 0x0940,
    MetaExtTextOut = 0x0A32,
    MetaStretchBlt = 0x0B23,
    MetaDibStretchBlt = 0x0B41,
    MetaSetDibToDev = 0x0D33,
    MetaStretchDib = 0x0F43,
};

QColor colorRef(quint32 v)
{
    return QColor(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF);
}

struct WmfHeader {
    bool placeable = false;
    QRectF box;         // placeable box, logical units
    double inch = 1440; // logical units per inch
    qint64 recordsAt = 0;
    int objects = 0;
};

bool parseHeader(MetafileCursor &in, WmfHeader *h)
{
    if (in.size() >= 4 && qFromLittleEndian<quint32>(in.data()) == kPlaceableKey) {
        in.u32();
        in.u16();
        const qint16 left = in.i16(), top = in.i16(), right = in.i16(), bottom = in.i16();
        const quint16 inch = in.u16();
        in.u32();
        in.u16();
        h->placeable = true;
        h->box = QRectF(QPointF(left, top), QPointF(right, bottom)).normalized();
        h->inch = inch > 0 ? inch : 1440;
    }
    const quint16 type = in.u16();
    const quint16 headerWords = in.u16();
    const quint16 version = in.u16();
    in.u32(); // size in words: often wrong in real files, the records are what counts
    h->objects = in.u16();
    in.u32();
    in.u16();
    h->recordsAt = in.pos();
    return in.ok() && (type == 1 || type == 2) && headerWords == 9 &&
           (version == 0x0100 || version == 0x0300);
}

QPointF pointYX(MetafileCursor &r)
{
    const double y = r.i16();
    return QPointF(r.i16(), y);
}

QRectF rectBRTL(MetafileCursor &r)
{
    const double bottom = r.i16(), right = r.i16(), top = r.i16(), left = r.i16();
    return QRectF(QPointF(left, top), QPointF(right, bottom));
}

QPolygonF points(MetafileCursor &r, qint64 count)
{
    QPolygonF poly;
    if (count < 0 || count * 4 > r.remaining())
        return poly;
    poly.reserve(count);
    for (qint64 i = 0; i < count; ++i) {
        const double x = r.i16();
        poly.append(QPointF(x, r.i16()));
    }
    return poly;
}

class WmfPlayer
{
public:
    WmfPlayer(MetafilePainter &painter) : m_p(painter) {}

    void play(quint16 function, MetafileCursor &r, quint32 recordWords);

private:
    void createObject(GdiObject object)
    {
        const int slot = m_p.firstFreeSlot();
        if (slot < 0)
            return m_p.reject();
        // A slot holding nothing stays free; palettes and unsupported objects take a slot too.
        m_p.putObject(slot, std::holds_alternative<std::monostate>(object) ? GdiObject(GdiOther())
                                                                           : std::move(object));
    }
    void bitmap(MetafileCursor &r, quint32 rop, QRectF src, QRectF dest, quint32 usage,
                bool srcSizeGiven)
    {
        const MetafileBitmap bmp = decodePackedMetafileDib(r.here(), r.remaining(), usage);
        if (bmp.image.isNull())
            return m_p.reject();
        if (!srcSizeGiven)
            src.setSize(dest.size());
        m_p.drawBitmap(bmp.image, bmp.bottomUp, dest, src, rop);
    }

    std::optional<QRegion> region(MetafileCursor &r);

    MetafilePainter &m_p;
};

// A region: a header (chain, type, count, size, scan count, largest scan, bounding box), then
// scans of horizontal bands, each a count of x coordinates, the band's top and bottom, that many
// x coordinates in left/right pairs, and the count again. Coordinates are logical units.
std::optional<QRegion> WmfPlayer::region(MetafileCursor &r)
{
    constexpr int kMaxRegionRects = 10000;
    r.u16();
    r.u16();
    r.u32();
    r.u16();
    const int scans = r.i16();
    r.u16();
    r.skip(8);
    if (!r.ok() || scans < 0)
        return std::nullopt;
    const QTransform t = m_p.logicalToImage();
    QList<QRect> rects;
    for (int i = 0; i < scans && rects.size() < kMaxRegionRects; ++i) {
        const quint16 count = r.u16();
        const double top = r.i16(), bottom = r.i16();
        if (!r.ok() || count % 2 || qint64(count) * 2 + 2 > r.remaining())
            break;
        for (int k = 0; k < count / 2; ++k) {
            const double left = r.i16(), right = r.i16();
            const QRectF mapped = t.mapRect(QRectF(QPointF(left, top), QPointF(right, bottom)));
            if (mapped.width() > 0 && mapped.height() > 0 && std::abs(mapped.left()) < 1e7 &&
                std::abs(mapped.top()) < 1e7 && mapped.width() < 1e7 && mapped.height() < 1e7)
                rects.append(mapped.toAlignedRect());
        }
        if (r.u16() != count)
            break;
    }
    QRegion region;
    region.setRects(rects.constData(), int(rects.size()));
    return region;
}

void WmfPlayer::play(quint16 function, MetafileCursor &r, quint32 recordWords)
{
    switch (function) {
    case MetaSaveDc:
        m_p.saveDc();
        break;
    case MetaRestoreDc:
        m_p.restoreDc(r.i16());
        break;
    case MetaSetBkMode:
        m_p.setBkMode(r.u16());
        break;
    case MetaSetMapMode:
        m_p.setMapMode(r.u16());
        break;
    case MetaSetRop2:
        m_p.setRop2(r.u16());
        break;
    case MetaSetPolyFillMode:
        m_p.setPolyFillMode(r.u16());
        break;
    case MetaSetTextAlign:
        m_p.setTextAlign(r.u16());
        break;
    case MetaSetBkColor:
        m_p.setBkColor(colorRef(r.u32()));
        break;
    case MetaSetTextColor:
        m_p.setTextColor(colorRef(r.u32()));
        break;
    case MetaSetWindowOrg:
        m_p.setWindowOrg(pointYX(r));
        break;
    case MetaSetWindowExt: {
        const double h = r.i16();
        m_p.setWindowExt(QSizeF(r.i16(), h));
        break;
    }
    case MetaSetViewportOrg:
        m_p.setViewportOrg(pointYX(r));
        break;
    case MetaSetViewportExt: {
        const double h = r.i16();
        m_p.setViewportExt(QSizeF(r.i16(), h));
        break;
    }
    case MetaOffsetWindowOrg:
        m_p.offsetWindowOrg(pointYX(r));
        break;
    case MetaOffsetViewportOrg:
        m_p.offsetViewportOrg(pointYX(r));
        break;
    case MetaScaleWindowExt:
    case MetaScaleViewportExt: {
        const double yDenom = r.i16(), yNum = r.i16(), xDenom = r.i16(), xNum = r.i16();
        if (!r.ok())
            return m_p.reject();
        if (function == MetaScaleWindowExt)
            m_p.scaleWindowExt(xNum, xDenom, yNum, yDenom);
        else
            m_p.scaleViewportExt(xNum, xDenom, yNum, yDenom);
        break;
    }
    case MetaLineTo: {
        const QPointF p = pointYX(r);
        if (r.ok())
            m_p.lineTo(p);
        break;
    }
    case MetaMoveTo:
        m_p.moveTo(pointYX(r));
        break;
    case MetaExcludeClipRect:
    case MetaIntersectClipRect: {
        const QRectF box = rectBRTL(r);
        if (!r.ok())
            return m_p.reject();
        if (function == MetaExcludeClipRect)
            m_p.excludeClipRect(box);
        else
            m_p.intersectClipRect(box);
        break;
    }
    case MetaOffsetClipRgn:
        m_p.offsetClip(pointYX(r));
        break;
    case MetaSelectClipRegion: {
        const GdiObject *o = m_p.object(r.u16());
        const auto *other = o ? std::get_if<GdiOther>(o) : nullptr;
        if (other && other->region)
            m_p.combineImageClip(*other->region, 5);
        else
            m_p.resetClip();
        break;
    }
    case MetaRectangle:
    case MetaEllipse: {
        const QRectF box = rectBRTL(r);
        if (!r.ok())
            return m_p.reject();
        if (function == MetaRectangle)
            m_p.rectangle(box);
        else
            m_p.ellipse(box);
        break;
    }
    case MetaRoundRect: {
        const double h = r.i16(), w = r.i16();
        const QRectF box = rectBRTL(r);
        if (r.ok())
            m_p.roundRect(box, QSizeF(w, h));
        break;
    }
    case MetaArc:
    case MetaPie:
    case MetaChord: {
        const QPointF end = pointYX(r);
        const QPointF start = pointYX(r);
        const QRectF box = rectBRTL(r);
        if (!r.ok())
            return m_p.reject();
        m_p.arc(box, start, end,
                function == MetaArc   ? MetafilePainter::Arc
                : function == MetaPie ? MetafilePainter::Pie
                                      : MetafilePainter::Chord);
        break;
    }
    case MetaSetPixel: {
        const QColor c = colorRef(r.u32());
        const QPointF p = pointYX(r);
        if (r.ok())
            m_p.setPixel(p, c);
        break;
    }
    case MetaPolygon:
    case MetaPolyline: {
        const QPolygonF poly = points(r, r.u16());
        if (poly.isEmpty())
            return m_p.reject();
        if (function == MetaPolygon)
            m_p.polygon(poly);
        else
            m_p.polyline(poly);
        break;
    }
    case MetaPolyPolygon: {
        const quint16 count = r.u16();
        if (qint64(count) * 2 > r.remaining())
            return m_p.reject();
        QList<quint16> sizes;
        qint64 total = 0;
        for (int i = 0; i < count; ++i) {
            sizes.append(r.u16());
            total += sizes.last();
        }
        if (total * 4 > r.remaining())
            return m_p.reject();
        QList<QPolygonF> polygons;
        qint64 budget = kMaxRecordPoints;
        for (quint16 n : sizes) {
            const qint64 take = qMin<qint64>(n, budget);
            polygons.append(points(r, take));
            budget -= take;
            if (budget <= 0)
                break;
        }
        m_p.polyPolygon(polygons);
        break;
    }
    case MetaTextOut: {
        const quint16 length = r.u16();
        if (length > r.remaining())
            return m_p.reject();
        const QString text = QString::fromLatin1(reinterpret_cast<const char *>(r.here()), length);
        r.skip(length + (length & 1));
        const QPointF p = pointYX(r);
        if (!r.ok())
            return m_p.reject();
        m_p.textOut(p, text, 0, std::nullopt, {});
        break;
    }
    case MetaExtTextOut: {
        const QPointF p = pointYX(r);
        const quint16 length = r.u16();
        const quint16 options = r.u16();
        std::optional<QRectF> box;
        if (options & 0x6) {
            const double left = r.i16(), top = r.i16(), right = r.i16(), bottom = r.i16();
            box = QRectF(QPointF(left, top), QPointF(right, bottom));
        }
        if (!r.ok() || length > r.remaining())
            return m_p.reject();
        const QString text = QString::fromLatin1(reinterpret_cast<const char *>(r.here()), length);
        r.skip(length + (length & 1));
        QList<double> dx;
        if (r.remaining() >= qint64(length) * 2) {
            for (int i = 0; i < length; ++i)
                dx.append(r.i16());
        }
        m_p.textOut(p, text, options, box, dx);
        break;
    }
    case MetaCreatePenIndirect: {
        GdiPen pen;
        pen.style = r.u16();
        pen.width = r.i16();
        r.i16();
        pen.color = colorRef(r.u32());
        if (!r.ok())
            pen = GdiPen();
        createObject(pen);
        break;
    }
    case MetaCreateBrushIndirect: {
        GdiBrush brush;
        brush.style = r.u16();
        brush.color = colorRef(r.u32());
        brush.hatch = r.u16();
        if (!r.ok())
            brush = GdiBrush();
        createObject(brush);
        break;
    }
    case MetaDibCreatePatternBrush: {
        GdiBrush brush;
        brush.style = r.u16();
        const quint16 usage = r.u16();
        if (brush.style == 3) {
            // A device-dependent bitmap; its bits cannot be trusted to mean anything here.
            brush.style = 0;
            brush.color = Qt::gray;
        } else {
            brush.pattern = decodePackedMetafileDib(r.here(), r.remaining(), usage).image;
            brush.style = 5;
        }
        createObject(brush);
        break;
    }
    case MetaCreateFontIndirect: {
        GdiFont font;
        font.height = r.i16();
        font.width = r.i16();
        font.escapement = r.i16();
        r.i16();
        font.weight = r.i16();
        font.italic = r.u8();
        font.underline = r.u8();
        font.strikeOut = r.u8();
        r.skip(5);
        if (r.ok()) {
            const qint64 n = qMin<qint64>(32, r.remaining());
            const char *name = reinterpret_cast<const char *>(r.here());
            font.face = QString::fromLatin1(name, qstrnlen(name, size_t(n)));
        }
        createObject(font);
        break;
    }
    case MetaCreatePatternBrush: {
        GdiBrush brush;
        brush.color = Qt::gray;
        createObject(brush);
        break;
    }
    case MetaCreatePalette:
        createObject(GdiOther());
        break;
    case MetaCreateRegion:
        createObject(GdiOther{region(r)});
        break;
    case MetaSelectObject:
        m_p.selectObject(r.u16());
        break;
    case MetaDeleteObject:
        m_p.deleteObject(r.u16());
        break;
    case MetaFillRegion:
    case MetaFrameRegion:
    case MetaInvertRegion:
    case MetaPaintRegion:
        // Region objects are kept as placeholders only; painting them is left out.
        break;
    case MetaPatBlt: {
        const quint32 rop = r.u32();
        const double h = r.i16(), w = r.i16();
        const QPointF p = pointYX(r);
        if (r.ok())
            m_p.patBlt(QRectF(p, QSizeF(w, h)), rop);
        break;
    }
    case MetaDibBitBlt:
    case MetaBitBlt: {
        const bool withBitmap = recordWords != quint32((function >> 8) + 3);
        const quint32 rop = r.u32();
        const double ySrc = r.i16(), xSrc = r.i16();
        if (!withBitmap)
            r.i16();
        const double h = r.i16(), w = r.i16();
        const QPointF dest = pointYX(r);
        if (!r.ok())
            return m_p.reject();
        if (!withBitmap)
            m_p.patBlt(QRectF(dest, QSizeF(w, h)), rop);
        else if (function == MetaDibBitBlt)
            bitmap(r, rop, QRectF(xSrc, ySrc, w, h), QRectF(dest, QSizeF(w, h)), 0, true);
        break;
    }
    case MetaDibStretchBlt:
    case MetaStretchBlt: {
        const bool withBitmap = recordWords != quint32((function >> 8) + 3);
        const quint32 rop = r.u32();
        const double srcH = r.i16(), srcW = r.i16(), ySrc = r.i16(), xSrc = r.i16();
        if (!withBitmap)
            r.i16();
        const double h = r.i16(), w = r.i16();
        const QPointF dest = pointYX(r);
        if (!r.ok())
            return m_p.reject();
        if (!withBitmap)
            m_p.patBlt(QRectF(dest, QSizeF(w, h)), rop);
        else if (function == MetaDibStretchBlt)
            bitmap(r, rop, QRectF(xSrc, ySrc, srcW, srcH), QRectF(dest, QSizeF(w, h)), 0, true);
        break;
    }
    case MetaStretchDib: {
        const quint32 rop = r.u32();
        const quint16 usage = r.u16();
        const double srcH = r.i16(), srcW = r.i16(), ySrc = r.i16(), xSrc = r.i16();
        const double h = r.i16(), w = r.i16();
        const QPointF dest = pointYX(r);
        if (!r.ok())
            return m_p.reject();
        bitmap(r, rop, QRectF(xSrc, ySrc, srcW, srcH), QRectF(dest, QSizeF(w, h)), usage, true);
        break;
    }
    case MetaSetDibToDev: {
        const quint16 usage = r.u16();
        r.u16(); // scan count
        r.u16(); // first scan
        const double yDib = r.i16(), xDib = r.i16(), h = r.i16(), w = r.i16();
        const QPointF dest = pointYX(r);
        if (!r.ok())
            return m_p.reject();
        bitmap(r, 0x00CC0020, QRectF(xDib, yDib, w, h), QRectF(dest, QSizeF(w, h)), usage, true);
        break;
    }
    default:
        // Palettes, escapes, layout, flood fills and the rest leave the picture as it is.
        break;
    }
    if (!r.ok())
        m_p.reject();
}

// The window a file without a placeable header sets up first: its picture box.
std::optional<QRectF> firstWindow(MetafileCursor in)
{
    std::optional<QPointF> org;
    for (int n = 0; n < 64 && in.remaining() >= 6; ++n) {
        const qint64 start = in.pos();
        const quint32 words = in.u32();
        const quint16 function = in.u16();
        if (words < 3 || qint64(words) * 2 > in.size() - start || function == MetaEof)
            break;
        if (function == MetaSetWindowOrg) {
            const double y = in.i16();
            org = QPointF(in.i16(), y);
        } else if (function == MetaSetWindowExt) {
            const double h = in.i16(), w = in.i16();
            if (w != 0 && h != 0)
                return QRectF(org.value_or(QPointF()), QSizeF(w, h)).normalized();
        }
        in.seek(start + qint64(words) * 2);
    }
    return std::nullopt;
}

void put16(QByteArray &out, quint16 v)
{
    out.append(char(v & 0xFF));
    out.append(char(v >> 8));
}
void put32(QByteArray &out, quint32 v)
{
    put16(out, quint16(v & 0xFFFF));
    put16(out, quint16(v >> 16));
}

} // namespace

bool WmfHandler::canRead(const QByteArray &head)
{
    MetafileCursor in(head);
    WmfHeader h;
    return parseHeader(in, &h);
}

bool WmfHandler::canRead(QIODevice *device)
{
    return device && canRead(device->peek(kPlaceableSize + kHeaderSize));
}

Result<QImage> WmfHandler::render(const QByteArray &data, const ReadOptions &options,
                                  QSize *fullSize)
{
    MetafileCursor in(data);
    WmfHeader h;
    if (!parseHeader(in, &h))
        return Result<QImage>::fail(QStringLiteral("The file is not a Windows metafile."));

    QRectF box = h.box;
    QSizeF natural;
    if (h.placeable) {
        if (box.isEmpty())
            return Result<QImage>::fail(QStringLiteral("The metafile's picture box is empty."));
        natural = QSizeF(box.width() * 96 / h.inch, box.height() * 96 / h.inch);
    } else {
        const std::optional<QRectF> window = firstWindow(in);
        if (!window)
            return Result<QImage>::fail(QStringLiteral("The metafile does not give its size."));
        box = *window;
        natural = box.size();
        const double longest = qMax(natural.width(), natural.height());
        if (longest > kMaxUnsizedMetafileSide)
            natural *= kMaxUnsizedMetafileSide / longest;
        h.inch = 96 * box.width() / natural.width();
    }
    const QSize size = metafileRenderSize(natural, options);
    if (fullSize)
        *fullSize = metafileRenderSize(natural, {});
    QImage canvas(size, QImage::Format_RGB32);
    if (canvas.isNull())
        return Result<QImage>::fail(QStringLiteral("There is not enough memory for the picture."));

    // Device units are the file's own logical units inside the picture box; the application
    // playing the file sets up an anisotropic window over that box, which the records adjust.
    QTransform deviceToImage;
    deviceToImage.scale(size.width() / box.width(), size.height() / box.height());
    deviceToImage.translate(-box.left(), -box.top());
    {
        MetafilePainter painter(&canvas, deviceToImage, QSizeF(h.inch / 25.4, h.inch / 25.4));
        painter.setObjectTableSize(h.objects);
        painter.setMapMode(MetafilePainter::MmAnisotropic);
        painter.setWindowOrg(box.topLeft());
        painter.setWindowExt(box.size());
        painter.setViewportOrg(box.topLeft());
        painter.setViewportExt(box.size());
        WmfPlayer player(painter);

        in.seek(h.recordsAt);
        for (int n = 0; n < kMaxMetafileRecords && in.remaining() >= 6; ++n) {
            const qint64 start = in.pos();
            const quint32 words = in.u32();
            const quint16 function = in.u16();
            // A record shorter than its own header or longer than the file ends the playback:
            // what was drawn so far is the picture.
            if (words < 3 || qint64(words) * 2 > in.size() - start || function == MetaEof)
                break;
            MetafileCursor record(in.data() + in.pos(), qint64(words) * 2 - 6);
            player.play(function, record, words);
            if (painter.expired())
                break;
            in.seek(start + qint64(words) * 2);
        }
    }
    return canvas;
}

Result<DecodedImage> WmfHandler::read(QIODevice *device, const ReadOptions &options)
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
    decoded.fullSize = fullSize;
    decoded.formatCode = FormatWmf;
    decoded.bitsPerPixel = 24;
    decoded.pages.append(std::move(*image));
    return decoded;
}

Result<QByteArray> WmfHandler::encode(const QImage &source)
{
    if (source.isNull())
        return Result<QByteArray>::fail(QStringLiteral("There is no image to save."));
    if (source.width() > 32767 || source.height() > 32767)
        return Result<QByteArray>::fail(
            QStringLiteral("A Windows metafile holds at most 32767 pixels a side."));
    // The bitmap is stored opaque: transparent parts are laid on white.
    QImage flat(source.size(), QImage::Format_RGB888);
    flat.fill(Qt::white);
    {
        QPainter p(&flat);
        p.drawImage(0, 0, source);
    }
    const int w = flat.width(), h = flat.height();
    const qint64 stride = (qint64(w) * 3 + 3) & ~qint64(3);
    const qint64 dibBytes = 40 + stride * h;
    const qint64 dibRecordWords = (6 + 22 + dibBytes) / 2;
    if (dibRecordWords > 0x7FFFFFFF)
        return Result<QByteArray>::fail(QStringLiteral("The image is too large for a metafile."));

    QByteArray out;
    out.reserve(kPlaceableSize + kHeaderSize + 20 + dibRecordWords * 2 + 6);
    // Placeable header: the box in pixels at 96 units per inch, and the checksum of its words.
    put32(out, kPlaceableKey);
    put16(out, 0);
    put16(out, 0);
    put16(out, 0);
    put16(out, quint16(w));
    put16(out, quint16(h));
    put16(out, 96);
    put32(out, 0);
    quint16 checksum = 0;
    for (int i = 0; i < 10; ++i)
        checksum ^= qFromLittleEndian<quint16>(out.constData() + 2 * i);
    put16(out, checksum);

    const qint64 totalWords = (kHeaderSize + 10 + 10 + dibRecordWords * 2 + 6) / 2;
    put16(out, 1);      // memory metafile
    put16(out, 9);      // header words
    put16(out, 0x0300); // version
    put32(out, quint32(totalWords));
    put16(out, 0); // objects
    put32(out, quint32(dibRecordWords));
    put16(out, 0);

    put32(out, 5);
    put16(out, MetaSetWindowOrg);
    put16(out, 0);
    put16(out, 0);
    put32(out, 5);
    put16(out, MetaSetWindowExt);
    put16(out, quint16(h));
    put16(out, quint16(w));

    put32(out, quint32(dibRecordWords));
    put16(out, MetaStretchDib);
    put32(out, 0x00CC0020); // SRCCOPY
    put16(out, 0);          // DIB_RGB_COLORS
    put16(out, quint16(h)); // source height, width, y, x
    put16(out, quint16(w));
    put16(out, 0);
    put16(out, 0);
    put16(out, quint16(h)); // destination height, width, y, x
    put16(out, quint16(w));
    put16(out, 0);
    put16(out, 0);
    // BITMAPINFOHEADER, 24 bits, bottom-up rows of BGR.
    put32(out, 40);
    put32(out, quint32(w));
    put32(out, quint32(h));
    put16(out, 1);
    put16(out, 24);
    put32(out, 0);
    put32(out, quint32(stride * h));
    put32(out, 3780); // 96 dots per inch in dots per metre
    put32(out, 3780);
    put32(out, 0);
    put32(out, 0);
    QByteArray row(stride, '\0');
    for (int y = h - 1; y >= 0; --y) {
        const uchar *src = flat.constScanLine(y);
        for (int x = 0; x < w; ++x) {
            row[3 * x] = char(src[3 * x + 2]);
            row[3 * x + 1] = char(src[3 * x + 1]);
            row[3 * x + 2] = char(src[3 * x]);
        }
        out.append(row);
    }

    put32(out, 3);
    put16(out, MetaEof);
    return out;
}

Status WmfHandler::writePages(const QList<QImage> &pages, QIODevice *device)
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
