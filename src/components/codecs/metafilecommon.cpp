#include "components/codecs/metafilecommon.h"

#include "components/codecs/boundedpathpainter.h"
#include "components/codecs/decodebudget.h"
#include "components/codecs/metafilepainter.h"

#include <QIODevice>
#include <QPainterPath>
#include <QPointF>

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

void reserveMetafilePlayback(QIODevice *device, const ReadOptions &options)
{
    const qint64 fileBytes =
        device && !device->isSequential()
            ? qBound<qint64>(0, device->size() - device->pos(), kMaxMetafileBytes)
            : kMaxMetafileBytes;
    const QSize target = options.targetSize;
    const qint64 canvasPixels =
        target.isValid() && !target.isEmpty()
            ? qMin<qint64>(qint64(target.width() + 1) * (target.height() + 1), kMaxMetafilePixels)
            : kMaxMetafilePixels;
    constexpr qint64 elementBytes = sizeof(QPainterPath::Element);
    constexpr qint64 pointBytes = sizeof(QPointF);
    constexpr qint64 playback = 2 * MetafilePainter::kMaxPathElements * elementBytes +
                                BoundedPathPainter::kMaxFlattenedPoints * pointBytes +
                                kMaxRecordPoints * (pointBytes + elementBytes);
    DecodeBudgetScope::reserve(2 * fileBytes + canvasPixels * 4 + playback);
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
