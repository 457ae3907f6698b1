#pragma once

#include "components/engine/imageio.h"

#include <QByteArray>
#include <QImage>
#include <QImageIOHandler>
#include <QString>

class QIODevice;

namespace qmt {

// What the program's own format handlers share: a reason for the last failure, the bit depth
// the file stores, and the guarded steps every reader takes (reading the file into memory with
// a cap, checking a claimed size before allocating).
class CodecHandler : public QImageIOHandler
{
public:
    bool canRead() const override { return device() != nullptr; }

    QString errorString() const { return m_error; }
    int bitsPerPixel() const { return m_bitsPerPixel; }

    // Files larger than this are refused before they are read into memory.
    static constexpr qint64 kMaxFileBytes = qint64(1) << 31;

    // The whole remaining content of `device`, read in bounded steps; empty with a reason when
    // the device is unreadable or too large.
    static QByteArray readAllBounded(QIODevice *device, QString *error);
    // Up to `count` bytes from the current position, put back afterwards.
    static QByteArray peek(QIODevice *device, qint64 count);
    // Whether width x height is inside the engine's limits; sets a reason when it is not.
    static bool sizeAllowed(qint64 width, qint64 height, QString *error);
    // An image of the given size after sizeAllowed, or a null image with a reason.
    static QImage allocate(qint64 width, qint64 height, QImage::Format format, QString *error);

protected:
    bool fail(const QString &reason)
    {
        m_error = reason;
        return false;
    }

    QString m_error;
    int m_bitsPerPixel = 0;
};

// Reads with one of the QImageIOHandler classes above: each image the handler offers is a page,
// and only the page asked for is decoded. Handlers that derive from CodecHandler give their
// failure reason and stored depth.
template <class Handler>
Result<DecodedImage> readWithHandler(QIODevice *device, const ReadOptions &options)
{
    Handler handler;
    handler.setDevice(device);
    if (options.targetSize.isValid() && handler.supportsOption(QImageIOHandler::ScaledSize))
        handler.setOption(QImageIOHandler::ScaledSize, options.targetSize);
    const int pageCount = qMax(1, handler.imageCount());
    if (options.page < 0 || options.page >= pageCount)
        return Result<DecodedImage>::fail(QStringLiteral("There is no page %1 (the file has %2).")
                                              .arg(options.page + 1)
                                              .arg(pageCount));
    for (int i = 0; i < options.page; ++i) {
        if (!handler.jumpToNextImage())
            return Result<DecodedImage>::fail(
                QStringLiteral("Page %1 of the file cannot be read.").arg(options.page + 1));
    }
    QImage page;
    if (!handler.read(&page) || page.isNull()) {
        QString reason;
        if constexpr (requires { handler.errorString(); })
            reason = handler.errorString();
        if (reason.isEmpty())
            reason = QStringLiteral("The image data is damaged.");
        return Result<DecodedImage>::fail(reason);
    }
    DecodedImage decoded;
    decoded.pageCount = pageCount;
    decoded.fullSize = page.size();
    if (handler.supportsOption(QImageIOHandler::Size))
        decoded.fullSize = handler.option(QImageIOHandler::Size).toSize();
    if constexpr (requires { handler.bitsPerPixel(); })
        decoded.bitsPerPixel = handler.bitsPerPixel();
    if (decoded.bitsPerPixel <= 0)
        decoded.bitsPerPixel = page.depth();
    decoded.pages.append(std::move(page));
    return decoded;
}

} // namespace qmt
