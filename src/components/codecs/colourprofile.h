#pragma once

#include <QByteArray>
#include <QColorSpace>
#include <QImage>

namespace qmt {

// The colour description of an ISO/IEC 23091-2 (ITU-T H.273) "nclx" box, as HEIF and AVIF
// files carry it instead of an ICC profile.
struct NclxColour {
    int primaries = 2; // 1 BT.709 (sRGB), 2 unspecified, 9 BT.2020, 12 Display P3, ...
    int transfer = 2;  // 1 BT.709, 2 unspecified, 8 linear, 13 sRGB, 16 PQ, 18 HLG, ...
};

// The colour space an nclx box describes; invalid when it is sRGB or says nothing, so that
// nothing needs converting. Transfer curves the display pipeline has no model for (PQ, HLG)
// are taken as sRGB: the picture is shown, not tone-mapped.
QColorSpace colourSpaceFromNclx(const NclxColour &nclx);

// Converts the picture's pixels from `space` to sRGB, as for JPEG files with a profile. An
// invalid space, sRGB itself or a profile Qt cannot use leaves the pixels alone; the picture is
// tagged sRGB in every case.
void convertToSrgb(QImage &image, const QColorSpace &space);
// The same for an embedded ICC profile.
void convertIccToSrgb(QImage &image, const QByteArray &icc);

} // namespace qmt
