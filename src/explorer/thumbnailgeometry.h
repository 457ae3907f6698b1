#pragma once

#include "components/result.h"

#include <QImage>
#include <QRect>
#include <QSize>

namespace qmt {

// Thumbnails in the explorer are 140 pixels wide. An image whose long side is at least 1.8
// times its short side is fitted into a white 140 x 140 square instead, centred.
constexpr int kThumbnailWidth = 140;
constexpr double kElongation = 1.8;

// x rounded to the nearest integer, halves going to the even neighbour.
int nearestEven(double x);

// Where the picture of an image of `original` pixels goes: the size of the thumbnail (the
// picture alone, or the 140 x 140 square) and the rectangle the picture takes inside it.
struct ThumbnailLayout {
    QSize canvas;
    QRect picture;
    bool square = false;
};
ThumbnailLayout thumbnailLayout(const QSize &original);

// Makes the thumbnail of an image whose full size is `original` from `source`, which may be the
// image itself or any reduced copy of it (a cached thumbnail, a reduced decode).
Result<QImage> makeThumbnail(const QImage &source, const QSize &original);

} // namespace qmt
