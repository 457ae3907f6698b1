#include "components/codecs/colourprofile.h"

#include <QPointF>

namespace qmt {
namespace {

struct Chromaticities {
    QPointF white, red, green, blue;
};

constexpr QPointF kD65{0.3127, 0.3290};

// The primaries of H.273 table 2 that differ enough from sRGB to matter; BT.601 (5, 6) and
// SMPTE 240M (7) are within a few thousandths of it and are shown as they are.
bool chromaticitiesFor(int primaries, Chromaticities *out)
{
    switch (primaries) {
    case 4: // BT.470 System M, illuminant C
        *out = {{0.310, 0.316}, {0.67, 0.33}, {0.21, 0.71}, {0.14, 0.08}};
        return true;
    case 9: // BT.2020 and BT.2100
        *out = {kD65, {0.708, 0.292}, {0.170, 0.797}, {0.131, 0.046}};
        return true;
    case 11: // SMPTE RP 431-2 (DCI-P3)
        *out = {{0.314, 0.351}, {0.680, 0.320}, {0.265, 0.690}, {0.150, 0.060}};
        return true;
    case 12: // SMPTE EG 432-1 (Display P3)
        *out = {kD65, {0.680, 0.320}, {0.265, 0.690}, {0.150, 0.060}};
        return true;
    case 22: // EBU Tech. 3213-E
        *out = {kD65, {0.630, 0.340}, {0.295, 0.605}, {0.155, 0.077}};
        return true;
    default:
        return false;
    }
}

} // namespace

QColorSpace colourSpaceFromNclx(const NclxColour &nclx)
{
    QColorSpace::TransferFunction transfer = QColorSpace::TransferFunction::SRgb;
    float gamma = 0.0f;
    switch (nclx.transfer) {
    case 4:
        transfer = QColorSpace::TransferFunction::Gamma;
        gamma = 2.2f;
        break;
    case 5:
        transfer = QColorSpace::TransferFunction::Gamma;
        gamma = 2.8f;
        break;
    case 8:
        transfer = QColorSpace::TransferFunction::Linear;
        break;
    default:
        break;
    }
    Chromaticities points;
    const bool otherPrimaries = chromaticitiesFor(nclx.primaries, &points);
    if (!otherPrimaries && transfer == QColorSpace::TransferFunction::SRgb)
        return {};
    if (!otherPrimaries)
        return QColorSpace(QColorSpace::Primaries::SRgb, transfer, gamma);
    return QColorSpace(points.white, points.red, points.green, points.blue, transfer, gamma);
}

void convertToSrgb(QImage &image, const QColorSpace &space)
{
    const QColorSpace srgb(QColorSpace::SRgb);
    if (image.isNull())
        return;
    if (space.isValid() && space != srgb) {
        image.setColorSpace(space);
        image.convertToColorSpace(srgb);
    }
    image.setColorSpace(srgb);
}

void convertIccToSrgb(QImage &image, const QByteArray &icc)
{
    convertToSrgb(image, icc.isEmpty() ? QColorSpace() : QColorSpace::fromIccProfile(icc));
}

} // namespace qmt
