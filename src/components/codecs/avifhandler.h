#pragma once

#include "components/engine/imageio.h"

#include <QByteArray>

class QIODevice;

namespace qmt {

// AVIF through libavif (with dav1d): still pictures and sequences (each frame a page with its
// duration), 8 to 12 bits shown at 8, grey, with alpha, turned and mirrored by the file's
// irot and imir properties (by the EXIF orientation only when it has neither), its ICC or nclx
// colour converted to sRGB. libavif's own size and frame-count limits are set to the engine's,
// and the header's size is checked before any frame is decoded. A thumbnail is converted from
// the decoded frame a band of rows at a time and averaged down, so no full-size RGB copy of the
// photo is ever made.
class AvifHandler
{
public:
    static Result<DecodedImage> read(QIODevice *device, const ReadOptions &options);
    static Result<DecodedImage> decode(const QByteArray &data, const ReadOptions &options);
};

} // namespace qmt
