#pragma once

#include <QImage>
#include <QSize>

#include <optional>

class QIODevice;

namespace qmt {

// A picture of the photo that a camera keeps inside its JPEG file: the EXIF thumbnail (IFD1,
// usually 160 x 120) or a larger preview of the Multi-Picture Format (a VGA or full-HD copy
// after the photo's own data). Decoding one of those takes a fraction of a millisecond where the
// photo itself, even reduced while decoding, takes tens of milliseconds.
struct EmbeddedPreview {
    enum class Source { ExifThumbnail, MpfPreview };
    QImage image;   // upright (the photo's EXIF orientation applied), letterbox bars cut away
    QSize fullSize; // of the photo, upright
    Source source = Source::ExifThumbnail;
};

// The smallest embedded preview that shows the photo at least as large as the photo fitted
// into `box` (never more than the photo's own size). Cameras letterbox a 3:2 photo's 4:3
// thumbnail with black bars: those are cut away. A preview that does not show the photo as it
// is (another shape without dark bars, as left behind by an editor that cropped or turned the
// photo, or larger than the photo) is not used. Nothing when the file is not a JPEG, has no
// such preview, or the device cannot seek. The device is left at an unspecified position.
std::optional<EmbeddedPreview> readEmbeddedPreview(QIODevice *device, const QSize &box);

} // namespace qmt
