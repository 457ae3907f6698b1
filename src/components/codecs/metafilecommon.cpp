#include "components/codecs/metafilecommon.h"

#include <QIODevice>

#include <cmath>

namespace qmt {

QByteArray readMetafileBytes(QIODevice *device, QString *error)
{
    if (!device || !device->isReadable()) {
        *error = QStringLiteral("The file cannot be read.");
        return {};
    }
    if (!device->isSequential() && device->size() - device->pos() > kMaxMetafileBytes) {
        *error = QStringLiteral("The metafile is larger than %1 MB.").arg(kMaxMetafileBytes >> 20);
        return {};
    }
    QByteArray data;
    while (!device->atEnd()) {
        const QByteArray block = device->read(1 << 20);
        if (block.isEmpty())
            break;
        if (data.size() + block.size() > kMaxMetafileBytes) {
            *error =
                QStringLiteral("The metafile is larger than %1 MB.").arg(kMaxMetafileBytes >> 20);
            return {};
        }
        data.append(block);
    }
    if (data.isEmpty())
        *error = QStringLiteral("The file is empty.");
    return data;
}

QSize metafileRenderSize(QSizeF natural, const ReadOptions &options)
{
    double w = qMax(1.0, std::abs(natural.width()));
    double h = qMax(1.0, std::abs(natural.height()));
    if (!std::isfinite(w) || !std::isfinite(h))
        w = h = 1;
    const QSize target = options.targetSize;
    // Reduced like the engine's other readers: fitted into the box, never enlarged.
    if (target.isValid() && !target.isEmpty() && (w > target.width() || h > target.height())) {
        const double s = qMin(target.width() / w, target.height() / h);
        w *= s;
        h *= s;
    }
    double s = 1;
    s = qMin(s, kMaxMetafileSide / w);
    s = qMin(s, kMaxMetafileSide / h);
    s = qMin(s, std::sqrt(double(kMaxMetafilePixels) / (w * h)));
    return QSize(qBound(1, int(std::lround(w * s)), kMaxMetafileSide),
                 qBound(1, int(std::lround(h * s)), kMaxMetafileSide));
}

} // namespace qmt
