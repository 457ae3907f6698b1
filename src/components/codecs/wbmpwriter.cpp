#include "components/codecs/wbmpwriter.h"

#include <QIODevice>

namespace qmt {
namespace {

// WBMP's multi-byte integer: 7 bits a byte, most significant first, bit 7 set on all but the last.
QByteArray multiByte(quint32 value)
{
    QByteArray out;
    out.prepend(char(value & 0x7F));
    value >>= 7;
    while (value) {
        out.prepend(char(0x80 | (value & 0x7F)));
        value >>= 7;
    }
    return out;
}

} // namespace

QImage WbmpWriter::toBlackAndWhite(const QImage &image)
{
    // Transparent parts are shown on white, then Floyd-Steinberg dithering to two colours.
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    if (image.hasAlphaChannel()) {
        const QImage src = image.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < src.height(); ++y) {
            const QRgb *in = reinterpret_cast<const QRgb *>(src.constScanLine(y));
            QRgb *out = reinterpret_cast<QRgb *>(flat.scanLine(y));
            for (int x = 0; x < src.width(); ++x) {
                const int a = qAlpha(in[x]);
                const auto mix = [a](int c) { return (c * a + 255 * (255 - a) + 127) / 255; };
                out[x] = qRgb(mix(qRed(in[x])), mix(qGreen(in[x])), mix(qBlue(in[x])));
            }
        }
    } else {
        flat = image.convertToFormat(QImage::Format_RGB32);
    }
    QImage mono = flat.convertToFormat(QImage::Format_Mono, Qt::MonoOnly | Qt::DiffuseDither);
    // Make index 1 white, whatever order the conversion chose.
    const QList<QRgb> table = mono.colorTable();
    if (table.size() >= 2 && qGray(table.at(0)) > qGray(table.at(1))) {
        mono.invertPixels();
        mono.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    } else if (table.size() < 2) {
        const bool white = !table.isEmpty() && qGray(table.at(0)) > 127;
        mono.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
        mono.fill(white ? 1 : 0);
    }
    return mono;
}

Status WbmpWriter::writePages(const QList<QImage> &pages, QIODevice *device)
{
    const QImage &image = pages.first();
    if (image.isNull())
        return Status::fail(QStringLiteral("There is no image to save."));
    const QImage mono = toBlackAndWhite(image);
    QByteArray data;
    data.append('\0'); // type 0
    data.append('\0'); // fixed header
    data.append(multiByte(quint32(mono.width())));
    data.append(multiByte(quint32(mono.height())));
    const int rowBytes = (mono.width() + 7) / 8;
    for (int y = 0; y < mono.height(); ++y)
        data.append(reinterpret_cast<const char *>(mono.constScanLine(y)), rowBytes);
    if (device->write(data) != data.size())
        return Status::fail(QStringLiteral("The WBMP file cannot be written."));
    return {};
}

} // namespace qmt
