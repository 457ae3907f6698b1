#include "explorer/thumbnailgeometry.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace qmt {

int nearestEven(double x)
{
    const double lower = std::floor(x);
    const double fraction = x - lower;
    double r;
    if (fraction > 0.5)
        r = lower + 1.0;
    else if (fraction < 0.5)
        r = lower;
    else
        r = std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
    return int(r);
}

ThumbnailLayout thumbnailLayout(const QSize &original)
{
    ThumbnailLayout layout;
    const double w = original.width();
    const double h = original.height();
    if (w <= 0 || h <= 0)
        return layout;
    const double ratio = std::max(w, h) / std::min(w, h);
    const int side = kThumbnailWidth;
    if (ratio < kElongation) {
        // Keeps the aspect ratio; a portrait thumbnail is taller than it is wide.
        const int height = std::max(1, nearestEven(double(side) / w * h));
        layout.canvas = QSize(side, height);
        layout.picture = QRect(0, 0, side, height);
    } else if (w > h) {
        const int height = std::max(1, int(std::lround(h * side / w)));
        layout.canvas = QSize(side, side);
        layout.picture = QRect(0, nearestEven((side - height) / 2.0), side, height);
        layout.square = true;
    } else {
        const int width = std::max(1, nearestEven(w / h * side));
        layout.canvas = QSize(side, side);
        layout.picture = QRect(nearestEven((side - width) / 2.0), 0, width, side);
        layout.square = true;
    }
    return layout;
}

Result<QImage> makeThumbnail(const QImage &source, const QSize &original)
{
    if (source.isNull() || source.width() <= 0 || source.height() <= 0)
        return Result<QImage>::fail(QStringLiteral("The image has no pixels."));
    const QSize full = original.isValid() && !original.isEmpty() ? original : source.size();
    const ThumbnailLayout layout = thumbnailLayout(full);
    if (layout.canvas.isEmpty())
        return Result<QImage>::fail(QStringLiteral("The image has no pixels."));

    QImage scaled =
        source.scaled(layout.picture.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (scaled.isNull())
        return Result<QImage>::fail(
            QStringLiteral("There is not enough memory for the thumbnail."));
    if (!layout.square)
        return scaled;

    QImage canvas(layout.canvas, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    painter.drawImage(layout.picture.topLeft(), scaled);
    painter.end();
    return canvas;
}

} // namespace qmt
