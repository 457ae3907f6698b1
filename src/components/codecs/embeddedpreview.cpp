#include "components/codecs/embeddedpreview.h"

#include "components/codecs/exif.h"
#include "components/codecs/jpeghandler.h"
#include "components/codecs/orientation.h"

#include <QBuffer>
#include <QIODevice>
#include <QList>
#include <QRect>

#include <algorithm>
#include <cmath>

namespace qmt {
namespace {

// A JPEG's head holds a few application segments before the frame header; a file with more
// than this many segments there is not one a camera wrote.
constexpr int kMaxHeadSegments = 64;
// Previews are small copies of the photo; anything larger is not read into memory.
constexpr qint64 kMaxPreviewBytes = qint64(16) << 20;
// Shapes closer than this (relative) are the same: a thumbnail's side is rounded to a pixel.
constexpr double kSameShape = 0.015;
// Letterbox bars are black, up to the noise of JPEG compression.
constexpr int kBarMaxLuma = 56;
constexpr int kBarMeanLuma = 24;

// What the head of a JPEG stream says, up to its frame header.
struct JpegHead {
    QSize size;         // as stored, before any EXIF orientation
    QByteArray exif;    // the first APP1 "Exif" payload
    QByteArray mpf;     // the first APP2 "MPF" payload
    qint64 mpfBase = 0; // device position of the MPF index's TIFF header
};

bool isFrameHeader(int marker)
{
    // SOF0..SOF15; C4 (DHT), C8 (JPG) and CC (DAC) share the range but are not frames.
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool readBytes(QIODevice *device, char *into, qint64 count)
{
    return device->read(into, count) == count;
}

// Walks the markers of the JPEG stream at `start` of the device, whose data ends by `end`, up to
// its frame header. The segments asked for are kept; the others are skipped by seeking.
std::optional<JpegHead> readHead(QIODevice *device, qint64 start, qint64 end, bool keepSegments)
{
    if (!device->seek(start))
        return std::nullopt;
    char bytes[5];
    if (!readBytes(device, bytes, 2) || uchar(bytes[0]) != 0xFF || uchar(bytes[1]) != 0xD8)
        return std::nullopt;
    JpegHead head;
    for (int segment = 0; segment < kMaxHeadSegments; ++segment) {
        // A marker: 0xFF, maybe more 0xFF as fill, then the code.
        if (!readBytes(device, bytes, 1) || uchar(bytes[0]) != 0xFF)
            return std::nullopt;
        int marker = 0xFF;
        for (int fill = 0; fill < 16 && marker == 0xFF; ++fill) {
            if (!readBytes(device, bytes, 1))
                return std::nullopt;
            marker = uchar(bytes[0]);
        }
        if (marker == 0xFF || marker == 0xD8 || marker == 0xD9 || marker == 0xDA)
            return std::nullopt; // no frame header before the data (or no data at all)
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue; // markers without a segment
        if (!readBytes(device, bytes, 2))
            return std::nullopt;
        const qint64 length = qint64(uchar(bytes[0])) << 8 | uchar(bytes[1]);
        const qint64 payload = device->pos();
        if (length < 2 || payload + length - 2 > end)
            return std::nullopt;
        if (isFrameHeader(marker)) {
            // precision (1) | height (2) | width (2) | ...
            if (length < 2 + 5 || !readBytes(device, bytes, 5))
                return std::nullopt;
            const int height = uchar(bytes[1]) << 8 | uchar(bytes[2]);
            const int width = uchar(bytes[3]) << 8 | uchar(bytes[4]);
            if (width == 0 || height == 0)
                return std::nullopt; // the height comes later (DNL): not a camera's file
            head.size = QSize(width, height);
            return head;
        }
        const bool exif = keepSegments && marker == 0xE1 && head.exif.isEmpty() &&
                          device->peek(6) == QByteArray("Exif\0\0", 6);
        const bool mpf = keepSegments && marker == 0xE2 && head.mpf.isEmpty() &&
                         device->peek(4) == QByteArray("MPF\0", 4);
        if (exif || mpf) {
            QByteArray data = device->read(length - 2);
            if (data.size() != length - 2)
                return std::nullopt;
            if (exif) {
                head.exif = std::move(data);
            } else {
                head.mpf = std::move(data);
                head.mpfBase = payload + 4;
            }
        } else if (!device->seek(payload + length - 2)) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

// One preview the file offers, with the shape its stored pixels have.
struct Candidate {
    EmbeddedPreview::Source source = EmbeddedPreview::Source::ExifThumbnail;
    QByteArray bytes;  // the EXIF thumbnail, already in memory
    qint64 offset = 0; // an MPF preview: where its bytes are in the device
    qint64 length = 0;
    QSize size; // as stored
};

// The part of a preview of `preview` pixels that shows a photo of `photo` pixels (both as
// stored): all of it when the shapes agree, else the centred band of the photo's shape. The band
// is cut inwards to whole pixels and loses one more line on each cut side, where compression
// blends the picture with the bar.
QRect contentOf(const QSize &preview, const QSize &photo)
{
    const double previewShape = double(preview.width()) / preview.height();
    const double photoShape = double(photo.width()) / photo.height();
    if (std::abs(previewShape / photoShape - 1.0) <= kSameShape)
        return QRect(QPoint(0, 0), preview);
    const QSizeF band = QSizeF(photo).scaled(QSizeF(preview), Qt::KeepAspectRatio);
    const double x = (preview.width() - band.width()) / 2;
    const double y = (preview.height() - band.height()) / 2;
    const int left = int(std::ceil(x));
    const int top = int(std::ceil(y));
    const int right = int(std::floor(x + band.width()));
    const int bottom = int(std::floor(y + band.height()));
    QRect content(QPoint(left, top), QPoint(right - 1, bottom - 1));
    if (previewShape > photoShape)
        content.adjust(1, 0, -1, 0); // bars left and right
    else
        content.adjust(0, 1, 0, -1); // bars above and below
    return content;
}

// Whether everything of `image` outside `content` (leaving out the pixel next to it, where
// compression smears the edge) is a black bar.
bool barsAreDark(const QImage &image, const QRect &content)
{
    const QRect keep = content.adjusted(-1, -1, 1, 1);
    qint64 sum = 0;
    qint64 count = 0;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (keep.contains(x, y))
                continue;
            const int luma = qGray(line[x]);
            if (luma > kBarMaxLuma)
                return false;
            sum += luma;
            ++count;
        }
    }
    return count == 0 || sum <= qint64(kBarMeanLuma) * count;
}

QSize uprightOf(const QSize &stored, int orientation)
{
    return orientation >= 5 ? stored.transposed() : stored;
}

// Decodes a candidate and cuts it to the photo; nothing when it cannot serve.
std::optional<QImage> decodeCandidate(QIODevice *device, const Candidate &candidate,
                                      const QSize &photo, const QSize &target)
{
    QByteArray bytes = candidate.bytes;
    if (candidate.source == EmbeddedPreview::Source::MpfPreview) {
        if (!device->seek(candidate.offset))
            return std::nullopt;
        bytes = device->read(candidate.length);
        if (bytes.size() != candidate.length)
            return std::nullopt;
    }
    JpegHandler handler;
    handler.setApplyOrientation(false);
    handler.setTargetSize(target);
    QImage decoded;
    if (!handler.decode(bytes, &decoded) || decoded.isNull() ||
        handler.fullSize() != candidate.size)
        return std::nullopt;
    decoded = decoded.convertToFormat(QImage::Format_RGB32);

    // The content band, measured on the decoded (maybe reduced) pixels.
    const QRect content = contentOf(decoded.size(), photo);
    if (content == decoded.rect())
        return decoded;
    if (content.isEmpty() || !barsAreDark(decoded, content))
        return std::nullopt; // another shape that is not letterboxed: not this photo as it is
    return decoded.copy(content);
}

} // namespace

std::optional<EmbeddedPreview> readEmbeddedPreview(QIODevice *device, const QSize &box)
{
    if (!device || !device->isOpen() || device->isSequential() || box.isEmpty())
        return std::nullopt;
    const qint64 fileSize = device->size();
    const auto head = readHead(device, 0, fileSize, true);
    if (!head)
        return std::nullopt;
    const ExifInfo exif =
        parseExif(reinterpret_cast<const uchar *>(head->exif.constData()), head->exif.size());
    const QSize photo = head->size;
    const QSize upright = uprightOf(photo, exif.orientation);
    // What the preview must show: the photo fitted into the box, or the photo's own size.
    const QSize need = upright.width() <= box.width() && upright.height() <= box.height()
                           ? upright
                           : upright.scaled(box, Qt::KeepAspectRatio);

    QList<Candidate> candidates;
    if (exif.thumbnailLength > 0) {
        Candidate thumbnail;
        thumbnail.source = EmbeddedPreview::Source::ExifThumbnail;
        thumbnail.bytes = head->exif.mid(exif.thumbnailOffset, exif.thumbnailLength);
        QBuffer buffer(&thumbnail.bytes);
        buffer.open(QIODevice::ReadOnly);
        if (const auto own = readHead(&buffer, 0, buffer.size(), false)) {
            thumbnail.size = own->size;
            candidates.append(std::move(thumbnail));
        }
    }
    const QList<MpfImage> listed =
        parseMpf(reinterpret_cast<const uchar *>(head->mpf.constData()), head->mpf.size());
    for (const MpfImage &image : listed) {
        if (image.type != kMpfLargeThumbnailVga && image.type != kMpfLargeThumbnailFullHd)
            continue;
        const qint64 offset = head->mpfBase + image.offset;
        if (image.offset <= 0 || image.length <= 0 || image.length > kMaxPreviewBytes ||
            offset + image.length > fileSize)
            continue;
        if (const auto own = readHead(device, offset, offset + image.length, false))
            candidates.append(Candidate{EmbeddedPreview::Source::MpfPreview, QByteArray(), offset,
                                        image.length, own->size});
    }

    // A preview that shows the photo large enough, and is no larger than the photo itself.
    const auto serves = [&](const Candidate &candidate) {
        if (candidate.size.width() > photo.width() || candidate.size.height() > photo.height())
            return false;
        const QRect content = contentOf(candidate.size, photo);
        const QSize shown = uprightOf(content.size(), exif.orientation);
        return shown.width() >= need.width() && shown.height() >= need.height();
    };
    candidates.erase(std::remove_if(candidates.begin(), candidates.end(),
                                    [&](const Candidate &c) { return !serves(c); }),
                     candidates.end());
    std::sort(candidates.begin(), candidates.end(), [](const Candidate &a, const Candidate &b) {
        return qint64(a.size.width()) * a.size.height() < qint64(b.size.width()) * b.size.height();
    });

    for (const Candidate &candidate : std::as_const(candidates)) {
        // Decoded reduced as far as the part that shows the photo still covers what is needed.
        const QSize content = contentOf(candidate.size, photo).size();
        // Two lines more each way: a reduced decode cuts its bars on its own pixel grid.
        const QSize storedNeed = uprightOf(need, exif.orientation) + QSize(2, 2);
        const double scale = std::max(double(storedNeed.width()) / content.width(),
                                      double(storedNeed.height()) / content.height());
        const QSize target(int(std::ceil(candidate.size.width() * scale)),
                           int(std::ceil(candidate.size.height() * scale)));
        const auto image = decodeCandidate(device, candidate, photo, target);
        if (!image)
            continue;
        return EmbeddedPreview{orientImage(*image, exif.orientation), upright, candidate.source};
    }
    return std::nullopt;
}

} // namespace qmt
