#pragma once

// Hostile pictures built byte by byte: small files that claim or cause enormous work. Each is
// a sound file of its format; only its proportions are absurd.

#include "codectestutil.h"
#include "metafilebuilder.h"

#include <QByteArray>
#include <QtEndian>

#include <array>

namespace hostile {

using codectest::Bytes;

// A zlib stream (deflate with fixed codes) of `count` zero bytes: one literal zero, then
// copies of 258 bytes from one byte back, 13 bits each.
inline QByteArray zlibZeros(qint64 count)
{
    QByteArray out("\x78\x01", 2);
    quint64 bits = 0;
    int used = 0;
    const auto put = [&](quint32 value, int width) {
        bits |= quint64(value) << used;
        used += width;
        while (used >= 8) {
            out.append(char(bits & 0xFF));
            bits >>= 8;
            used -= 8;
        }
    };
    // Fixed codes are written from their top bit; the stream takes bits from the bottom.
    const auto code = [&](quint32 value, int width) {
        quint32 reversed = 0;
        for (int i = 0; i < width; ++i)
            reversed |= ((value >> i) & 1) << (width - 1 - i);
        put(reversed, width);
    };
    put(1, 1); // the last block
    put(1, 2); // fixed codes
    const auto literalZero = [&] { code(0x30, 8); };
    qint64 left = count;
    if (left > 0) {
        literalZero();
        --left;
    }
    while (left >= 258) {
        code(0xC5, 8); // length 258 (code 285)
        code(0, 5);    // distance 1
        left -= 258;
    }
    while (left-- > 0)
        literalZero();
    code(0, 7); // end of block
    if (used > 0)
        put(0, 8 - used);
    // Adler-32 of zeros: the first sum stays 1, the second counts the bytes.
    const quint32 adler = quint32((count % 65521) << 16 | 1);
    Bytes tail;
    tail.be32(adler);
    return out + tail.data;
}

inline quint32 crc32(const QByteArray &data)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    quint32 c = 0xFFFFFFFFu;
    for (const char b : data)
        c = table[(c ^ uchar(b)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

// A transparent black RGBA PNG of side x side pixels.
inline QByteArray emptyPng(int side)
{
    const auto chunk = [](const char *type, const QByteArray &body) {
        Bytes c;
        c.be32(quint32(body.size()));
        const QByteArray typed = QByteArray(type, 4) + body;
        c.raw(typed).be32(crc32(typed));
        return c.data;
    };
    Bytes header;
    header.be32(quint32(side)).be32(quint32(side)).u8(8).u8(6).u8(0).u8(0).u8(0);
    return QByteArray("\x89PNG\r\n\x1A\n", 8) + chunk("IHDR", header.data) +
           chunk("IDAT", zlibZeros((qint64(side) * 4 + 1) * side)) + chunk("IEND", {});
}

// An icon whose `entries` entries all point at one huge PNG.
inline QByteArray iconOfOnePng(int entries, int side)
{
    const QByteArray png = emptyPng(side);
    Bytes out;
    out.u16(0).u16(1).u16(entries);
    const quint32 at = quint32(6 + 16 * entries);
    for (int i = 0; i < entries; ++i)
        out.u8(0).u8(0).u8(0).u8(0).u16(1).u16(32).u32(quint32(png.size())).u32(at);
    return out.data + png;
}

// A GIF with a screen of side x side and `frames` frames of one pixel each.
inline QByteArray gifOfTinyFrames(int side, int frames)
{
    Bytes out;
    out.raw("GIF89a").u16(side).u16(side).u8(0x80).u8(0).u8(0);
    out.u8(0).u8(0).u8(0).u8(255).u8(255).u8(255);
    for (int i = 0; i < frames; ++i) {
        out.u8(0x21).u8(0xF9).u8(4).u8(0).u16(1).u8(0).u8(0);
        out.u8(0x2C).u16((i * 37) % side).u16((i * 91) % side).u16(1).u16(1).u8(0);
        // Code size 2: clear, pixel 0, end (three 3-bit codes).
        out.u8(2).u8(2).u8(0x44).u8(0x01).u8(0);
    }
    out.u8(0x3B);
    return out.data;
}

// A little-endian TIFF: a 1 x 1 page, then `pages` RGB pages of side x side sharing one
// deflated strip of zeros.
inline QByteArray tiffOfHugePages(int pages, int side)
{
    const QByteArray small = zlibZeros(3);
    const QByteArray strip = zlibZeros(qint64(side) * side * 3);
    Bytes out;
    out.raw("II*").u8(0).u32(0);
    const quint32 smallAt = quint32(out.data.size());
    out.raw(small);
    const quint32 stripAt = quint32(out.data.size());
    out.raw(strip);
    if (out.data.size() % 2)
        out.u8(0);
    const auto ifd = [&](quint32 w, quint32 h, quint32 at, quint32 bytes, bool last) {
        const quint32 here = quint32(out.data.size());
        const QList<std::array<quint32, 3>> tags = {{256, 4, w}, {257, 4, h}, {258, 3, 8},
                                                    {259, 3, 8}, {262, 3, 2}, {273, 4, at},
                                                    {277, 3, 3}, {278, 4, h}, {279, 4, bytes}};
        out.u16(int(tags.size()));
        for (const auto &t : tags) {
            out.u16(int(t[0])).u16(int(t[1])).u32(1);
            if (t[1] == 3)
                out.u16(int(t[2])).u16(0);
            else
                out.u32(t[2]);
        }
        out.u32(last ? 0 : here + 2 + 12 * quint32(tags.size()) + 4);
    };
    qToLittleEndian<quint32>(quint32(out.data.size()), out.data.data() + 4);
    ifd(1, 1, smallAt, quint32(small.size()), pages == 0);
    for (int i = 0; i < pages; ++i)
        ifd(quint32(side), quint32(side), stripAt, quint32(strip.size()), i == pages - 1);
    return out.data;
}

// A PSD header and empty sections: the size, depth, mode and channels it claims, no pixels.
inline QByteArray psdWithoutPixels(int side, int depth, int mode, int channels)
{
    Bytes out;
    out.raw("8BPS").be16(1).fill(6, 0).be16(channels).be32(quint32(side)).be32(quint32(side));
    out.be16(depth).be16(mode).be32(0).be32(0).be32(0).be16(0);
    return out.data;
}

// One polygon-set record of `count` thin quadrilaterals, each crossing the whole picture.
inline QByteArray wmfOfThinPolygons(int count)
{
    QByteArray params;
    qmt::test::put16(params, quint16(count));
    for (int i = 0; i < count; ++i)
        qmt::test::put16(params, 4);
    for (int i = 0; i < count; ++i) {
        const int x = int(qint64(i) * 30000 / count);
        for (const int v : {x, 0, x + 1, 0, x + 2, 30000, x + 1, 30000})
            qmt::test::put16(params, quint16(v));
    }
    // 30000 units at 480 a inch: 6000 pixels a side.
    return qmt::test::WmfBuilder(QRect(0, 0, 30000, 30000), 480)
        .brush(Qt::black)
        .select(0)
        .raw(0x0538, params)
        .build();
}

// Ellipses of `size` device units collected in one path, then filled.
inline QByteArray emfOfEllipsePath(int count, int size)
{
    QByteArray ellipses;
    ellipses.reserve(qsizetype(count) * 24);
    quint32 state = 1;
    for (int i = 0; i < count; ++i) {
        state = state * 1664525u + 1013904223u;
        const int x = int((state >> 8) % 8000), y = int((state >> 16) % 8000);
        for (const quint32 v :
             {42u, 24u, quint32(x), quint32(y), quint32(x + size), quint32(y + size)})
            qmt::test::put32(ellipses, v);
    }
    // A frame of 8000 device units a side, drawn as large as metafiles are drawn.
    return qmt::test::EmfBuilder(QRect(0, 0, 211667, 211667))
        .rec(59, {})
        .bytes(ellipses)
        .rec(60, {})
        .rec(62, {0, 0, 8000, 8000})
        .build();
}

// A geometric pen `width` units wide and one polyline of `count` points back and forth.
inline QByteArray emfOfWidePenPolyline(int count, int width)
{
    QByteArray params;
    for (const quint32 v : {0u, 0u, 8000u, 8000u, quint32(count)})
        qmt::test::put32(params, v);
    params.reserve(params.size() + qsizetype(count) * 4);
    for (int i = 0; i < count; ++i) {
        qmt::test::put16(params, quint16((qint64(i) * 7919) % 8000));
        qmt::test::put16(params, quint16((qint64(i) * 104729) % 8000));
    }
    QByteArray pen;
    for (const quint32 v : {1u, 0u, 0u, 0u, 0u, 0x00010000u, quint32(width), 0u, 0xFFu, 0u})
        qmt::test::put32(pen, v);
    return qmt::test::EmfBuilder(QRect(0, 0, 211667, 211667))
        .raw(95, pen)
        .select(1)
        .raw(87, params)
        .build();
}

} // namespace hostile
