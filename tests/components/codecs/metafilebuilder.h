#pragma once

// Builds WMF and EMF files field by field for the tests, so that every header value and
// record length is exactly what a test says (including wrong ones).

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>
#include <QtEndian>

#include <initializer_list>

namespace qmt::test {

inline void put16(QByteArray &out, quint16 v)
{
    out.append(char(v & 0xFF));
    out.append(char(v >> 8));
}
inline void put32(QByteArray &out, quint32 v)
{
    put16(out, quint16(v & 0xFFFF));
    put16(out, quint16(v >> 16));
}
inline quint16 get16(const QByteArray &b, qint64 at)
{
    return qFromLittleEndian<quint16>(b.constData() + at);
}
inline quint32 get32(const QByteArray &b, qint64 at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}
inline quint32 colorRef(QColor c)
{
    return quint32(c.red() | (c.green() << 8) | (c.blue() << 16));
}

// A packed DIB: BITMAPINFOHEADER, colour table, rows. 24 bits unless a palette is given
// (then 8 bits with one index a pixel). Bottom-up unless topDown.
inline QByteArray packedDib(const QImage &source, bool topDown = false,
                            const QList<QColor> &palette = {})
{
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    const int bpp = palette.isEmpty() ? 24 : 8;
    const int stride = ((image.width() * bpp + 31) / 32) * 4;
    QByteArray out;
    put32(out, 40);
    put32(out, quint32(image.width()));
    put32(out, quint32(topDown ? -image.height() : image.height()));
    put16(out, 1);
    put16(out, quint16(bpp));
    put32(out, 0);
    put32(out, quint32(stride * image.height()));
    put32(out, 0);
    put32(out, 0);
    put32(out, quint32(palette.size()));
    put32(out, 0);
    for (const QColor &c : palette) {
        out.append(char(c.blue()));
        out.append(char(c.green()));
        out.append(char(c.red()));
        out.append(char(0));
    }
    for (int i = 0; i < image.height(); ++i) {
        const int y = topDown ? i : image.height() - 1 - i;
        QByteArray row(stride, '\0');
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (bpp == 8) {
                row[x] = char(palette.indexOf(QColor(p)));
            } else {
                row[3 * x] = char(qBlue(p));
                row[3 * x + 1] = char(qGreen(p));
                row[3 * x + 2] = char(qRed(p));
            }
        }
        out.append(row);
    }
    return out;
}

// WMF: placeable header (optional), the 18-byte header, records of 16-bit words.
class WmfBuilder
{
public:
    explicit WmfBuilder(QRect box = QRect(0, 0, 100, 100), int inch = 96, int objects = 16,
                        bool placeable = true)
        : m_box(box), m_inch(inch), m_objects(objects), m_placeable(placeable)
    {
    }
    // A record whose parameters are the given words, in file order.
    WmfBuilder &rec(quint16 function, std::initializer_list<int> words)
    {
        QByteArray params;
        for (int w : words)
            put16(params, quint16(w));
        return raw(function, params);
    }
    WmfBuilder &raw(quint16 function, const QByteArray &params)
    {
        QByteArray r;
        put32(r, quint32((6 + params.size() + 1) / 2));
        put16(r, function);
        r.append(params);
        if (r.size() % 2)
            r.append('\0');
        m_records.append(r);
        return *this;
    }
    // Bytes appended as they are (for records with lying sizes).
    WmfBuilder &bytes(const QByteArray &b)
    {
        m_records.append(b);
        return *this;
    }
    // Common records, parameters in the order a program calls them.
    WmfBuilder &brush(QColor c, int style = 0, int hatch = 0)
    {
        QByteArray p;
        put16(p, quint16(style));
        put32(p, colorRef(c));
        put16(p, quint16(hatch));
        return raw(0x02FC, p);
    }
    WmfBuilder &pen(QColor c, int width = 0, int style = 0)
    {
        QByteArray p;
        put16(p, quint16(style));
        put16(p, quint16(width));
        put16(p, 0);
        put32(p, colorRef(c));
        return raw(0x02FA, p);
    }
    WmfBuilder &select(int index) { return rec(0x012D, {index}); }
    WmfBuilder &rectangle(int l, int t, int r, int b) { return rec(0x041B, {b, r, t, l}); }
    WmfBuilder &windowOrg(int x, int y) { return rec(0x020B, {y, x}); }
    WmfBuilder &windowExt(int w, int h) { return rec(0x020C, {h, w}); }
    WmfBuilder &viewportOrg(int x, int y) { return rec(0x020D, {y, x}); }
    WmfBuilder &viewportExt(int w, int h) { return rec(0x020E, {h, w}); }
    WmfBuilder &mapMode(int m) { return rec(0x0103, {m}); }

    QByteArray build(bool withEof = true) const
    {
        QByteArray body;
        quint32 maxRecord = 3;
        for (const QByteArray &r : m_records) {
            body.append(r);
            if (r.size() >= 4)
                maxRecord = qMax(maxRecord, get32(r, 0));
        }
        if (withEof) {
            put32(body, 3);
            put16(body, 0);
        }
        QByteArray out;
        if (m_placeable) {
            put32(out, 0x9AC6CDD7);
            put16(out, 0);
            put16(out, quint16(m_box.left()));
            put16(out, quint16(m_box.top()));
            put16(out, quint16(m_box.left() + m_box.width()));
            put16(out, quint16(m_box.top() + m_box.height()));
            put16(out, quint16(m_inch));
            put32(out, 0);
            quint16 sum = 0;
            for (int i = 0; i < 10; ++i)
                sum ^= get16(out, 2 * i);
            put16(out, sum);
        }
        put16(out, 1);
        put16(out, 9);
        put16(out, 0x0300);
        put32(out, quint32((18 + body.size()) / 2));
        put16(out, quint16(m_objects));
        put32(out, maxRecord);
        put16(out, 0);
        out.append(body);
        return out;
    }

private:
    QRect m_box;
    int m_inch;
    int m_objects;
    bool m_placeable;
    QList<QByteArray> m_records;
};

// EMF: the 88-byte header (reference device of 960 pixels in 254 mm, so 96 dots per inch),
// records of 32-bit fields, the end record.
class EmfBuilder
{
public:
    // frame in hundredths of a millimetre; 2540 is one inch, 96 pixels.
    explicit EmfBuilder(QRect frame = QRect(0, 0, 2540, 2540), int handles = 16)
        : m_frame(frame), m_handles(handles)
    {
    }
    EmfBuilder &rec(quint32 type, std::initializer_list<qint64> fields)
    {
        QByteArray p;
        for (qint64 f : fields)
            put32(p, quint32(f));
        return raw(type, p);
    }
    EmfBuilder &raw(quint32 type, const QByteArray &params)
    {
        QByteArray r;
        put32(r, type);
        put32(r, quint32(8 + params.size()));
        r.append(params);
        m_records.append(r);
        return *this;
    }
    EmfBuilder &bytes(const QByteArray &b)
    {
        m_records.append(b);
        return *this;
    }
    EmfBuilder &brush(int index, QColor c, int style = 0, int hatch = 0)
    {
        return rec(39, {index, style, colorRef(c), hatch});
    }
    EmfBuilder &pen(int index, QColor c, int width = 0, int style = 0)
    {
        return rec(38, {index, style, width, 0, colorRef(c)});
    }
    EmfBuilder &select(qint64 index) { return rec(37, {index}); }
    EmfBuilder &rectangle(int l, int t, int r, int b) { return rec(43, {l, t, r, b}); }
    EmfBuilder &mapMode(int m) { return rec(17, {m}); }
    EmfBuilder &windowExt(int w, int h) { return rec(9, {w, h}); }
    EmfBuilder &windowOrg(int x, int y) { return rec(10, {x, y}); }
    EmfBuilder &viewportExt(int w, int h) { return rec(11, {w, h}); }
    EmfBuilder &viewportOrg(int x, int y) { return rec(12, {x, y}); }
    EmfBuilder &nullPen() { return select(0x80000008); }
    // A whole stretch-DIB record drawing `dib` (BITMAPINFOHEADER + table, rows) into dest.
    EmfBuilder &stretchDib(const QByteArray &packed, int headerAndTable, QRect dest, QRect src,
                           quint32 rop = 0x00CC0020)
    {
        QByteArray p;
        for (int v : {0, 0, 0, 0})
            put32(p, quint32(v));
        for (int v : {dest.x(), dest.y(), src.x(), src.y(), src.width(), src.height()})
            put32(p, quint32(v));
        const quint32 offBmi = 80;
        put32(p, offBmi);
        put32(p, quint32(headerAndTable));
        put32(p, offBmi + quint32(headerAndTable));
        put32(p, quint32(packed.size() - headerAndTable));
        put32(p, 0);
        put32(p, rop);
        put32(p, quint32(dest.width()));
        put32(p, quint32(dest.height()));
        p.append(packed);
        while (p.size() % 4)
            p.append('\0');
        return raw(81, p);
    }

    QByteArray build(bool withEof = true) const
    {
        QByteArray body;
        for (const QByteArray &r : m_records)
            body.append(r);
        if (withEof) {
            for (quint32 v : {14u, 20u, 0u, 16u, 20u})
                put32(body, v);
        }
        QByteArray out;
        put32(out, 1);
        put32(out, 88);
        for (int v : {0, 0, 95, 95})
            put32(out, quint32(v));
        for (int v : {m_frame.left(), m_frame.top(), m_frame.left() + m_frame.width(),
                      m_frame.top() + m_frame.height()})
            put32(out, quint32(v));
        put32(out, 0x464D4520);
        put32(out, 0x10000);
        put32(out, quint32(88 + body.size()));
        put32(out, quint32(m_records.size() + 2));
        put16(out, quint16(m_handles));
        put16(out, 0);
        for (int v : {0, 0, 0, 960, 960, 254, 254})
            put32(out, quint32(v));
        out.append(body);
        return out;
    }

private:
    QRect m_frame;
    int m_handles;
    QList<QByteArray> m_records;
};

// Counts the pixels of `image` inside `area` that are not white.
inline int inkIn(const QImage &image, const QRect &area)
{
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += (image.pixel(x, y) & 0xFFFFFF) != 0xFFFFFF;
    return n;
}

} // namespace qmt::test
