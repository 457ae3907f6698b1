#include "components/codecs/iconpages.h"

#include <QIODevice>
#include <QImageReader>

#include <algorithm>

namespace qmt {
namespace {

// An icon directory counts its entries in 16 bits; a file claiming more pages than this is
// read no further.
constexpr int kMaxIconPages = 1024;

} // namespace

void orderIconPages(DecodedImage &decoded)
{
    std::stable_sort(decoded.pages.begin(), decoded.pages.end(),
                     [](const QImage &a, const QImage &b) {
                         return qint64(a.width()) * a.height() > qint64(b.width()) * b.height();
                     });
    if (!decoded.pages.isEmpty())
        decoded.fullSize = decoded.pages.first().size();
}

Result<DecodedImage> readIconPages(QIODevice *device, const QByteArray &format,
                                   const ReadOptions &options)
{
    QImageReader reader(device, format);
    reader.setDecideFormatFromContent(false);
    if (!reader.canRead())
        return Result<DecodedImage>::fail(QStringLiteral("The file is not a readable %1 image.")
                                              .arg(QString::fromLatin1(format.toUpper())));
    DecodedImage decoded;
    decoded.formatCode = format == "cur" ? FormatCur : FormatIco;
    const int count = reader.imageCount();
    for (int i = 0; i < qMin(count > 0 ? count : 1, kMaxIconPages); ++i) {
        if (i > 0 && !reader.jumpToImage(i))
            break;
        QImage page = reader.read();
        if (page.isNull())
            continue; // one damaged entry does not hide the others
        decoded.pages.append(std::move(page));
    }
    if (decoded.pages.isEmpty())
        return Result<DecodedImage>::fail(reader.errorString());
    orderIconPages(decoded);
    decoded.bitsPerPixel = decoded.pages.first().hasAlphaChannel() ? 32 : 24;
    if (options.firstPageOnly)
        decoded.pages.resize(1);
    return decoded;
}

} // namespace qmt
