#pragma once

// Helpers shared by the codec tests: outside decoders (ImageMagick, Python's PIL), pixel
// comparison with dumps, and little-endian byte building for hand-made headers.

#include "components/engine/imageio.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QtTest>

namespace codectest {

inline const QString kConvert = QStringLiteral("/usr/bin/convert");
inline const QString kPython = QStringLiteral("/usr/bin/python3");

inline bool haveConvert()
{
    return QFile::exists(kConvert);
}
inline bool havePil()
{
    if (!QFile::exists(kPython))
        return false;
    QProcess p;
    p.start(kPython, {"-c", "import PIL"});
    return p.waitForFinished(30000) && p.exitCode() == 0;
}

// Runs ImageMagick; true when it succeeded.
inline bool convert(const QStringList &args)
{
    QProcess p;
    p.start(kConvert, args);
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        qWarning("convert %s failed: %s", qPrintable(args.join(' ')),
                 p.readAllStandardError().constData());
        return false;
    }
    return true;
}

// The file as an outside decoder sees it, as ARGB32.
inline QImage decodeWithImageMagick(const QString &file, const QString &tempDir)
{
    const QString png = tempDir + "/im-reference.png";
    QFile::remove(png);
    if (!convert({file + "[0]", "-depth", "8", "PNG32:" + png}))
        return {};
    return QImage(png).convertToFormat(QImage::Format_ARGB32);
}

inline QImage decodeWithPil(const QString &file, const QString &tempDir)
{
    const QString png = tempDir + "/pil-reference.png";
    QFile::remove(png);
    QProcess p;
    p.start(kPython, {"-c",
                      "import sys\nfrom PIL import "
                      "Image\nImage.open(sys.argv[1]).convert('RGBA').save(sys.argv[2])",
                      file, png});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        qWarning("PIL failed on %s: %s", qPrintable(file), p.readAllStandardError().constData());
        return {};
    }
    return QImage(png).convertToFormat(QImage::Format_ARGB32);
}

// The largest difference of any channel of any pixel; -1 when the sizes differ. On a
// difference above `tolerance` both images are written next to `dumpBase` for inspection.
inline int maxDifference(const QImage &actual, const QImage &expected, int tolerance = 0,
                         const QString &dumpBase = QString())
{
    if (actual.size() != expected.size())
        return -1;
    // Premultiplied, so that the colour under a fully transparent pixel does not count.
    const QImage a = actual.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage b = expected.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    int worst = 0;
    for (int y = 0; y < a.height(); ++y) {
        const QRgb *pa = reinterpret_cast<const QRgb *>(a.constScanLine(y));
        const QRgb *pb = reinterpret_cast<const QRgb *>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            worst = qMax(worst, qAbs(qRed(pa[x]) - qRed(pb[x])));
            worst = qMax(worst, qAbs(qGreen(pa[x]) - qGreen(pb[x])));
            worst = qMax(worst, qAbs(qBlue(pa[x]) - qBlue(pb[x])));
            worst = qMax(worst, qAbs(qAlpha(pa[x]) - qAlpha(pb[x])));
        }
    }
    if (worst > tolerance && !dumpBase.isEmpty()) {
        a.save(dumpBase + "-actual.png");
        b.save(dumpBase + "-expected.png");
    }
    return worst;
}

// A test picture with every kind of neighbour: random colours (fixed seed), odd size.
inline QImage noiseImage(int width, int height, bool alpha, quint32 seed = 7)
{
    QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    quint32 state = seed;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            const quint32 v = state >> 8;
            image.setPixel(x, y,
                           qRgba(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF,
                                 alpha ? int((x * 255) / qMax(1, width - 1)) : 255));
        }
    }
    return image;
}

// Little-endian byte building for hand-made files.
struct Bytes {
    QByteArray data;
    Bytes &u8(int v)
    {
        data.append(char(v & 0xFF));
        return *this;
    }
    Bytes &u16(int v) { return u8(v).u8(v >> 8); }
    Bytes &u32(quint32 v) { return u16(int(v & 0xFFFF)).u16(int(v >> 16)); }
    Bytes &be16(int v) { return u8(v >> 8).u8(v); }
    Bytes &be32(quint32 v) { return be16(int(v >> 16)).be16(int(v & 0xFFFF)); }
    Bytes &raw(const QByteArray &bytes)
    {
        data.append(bytes);
        return *this;
    }
    Bytes &fill(int count, int value)
    {
        data.append(count, char(value));
        return *this;
    }
};

// Every page, read one at a time as the engine reads them: `read` takes the ReadOptions of one
// page. Empty when a page cannot be read.
template <class Read> QList<QImage> readEveryPage(Read read)
{
    QList<QImage> pages;
    qmt::ReadOptions options;
    for (int count = 1; options.page < count; ++options.page) {
        qmt::Result<qmt::DecodedImage> decoded = read(options);
        if (!decoded || decoded->pages.size() != 1)
            return {};
        count = decoded->pageCount;
        pages.append(decoded->pages.first());
    }
    return pages;
}

inline QList<QImage> readEveryPage(const QString &file)
{
    return readEveryPage(
        [&file](const qmt::ReadOptions &o) { return qmt::readImageFile(file, o); });
}

inline bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

} // namespace codectest
