#include "components/codecs/codechandler.h"

#include <QIODevice>

namespace qmt {

QByteArray CodecHandler::readAllBounded(QIODevice *device, QString *error)
{
    if (!device || !device->isReadable()) {
        *error = QStringLiteral("The file cannot be read.");
        return {};
    }
    if (!device->isSequential() && device->size() - device->pos() > kMaxFileBytes) {
        *error = QStringLiteral("The file is too large to be an image this program opens.");
        return {};
    }
    QByteArray data;
    if (!device->isSequential())
        data.reserve(qsizetype(device->size() - device->pos()));
    constexpr qint64 kChunk = 1 << 20;
    for (;;) {
        const qsizetype old = data.size();
        if (old + kChunk > kMaxFileBytes) {
            *error = QStringLiteral("The file is too large to be an image this program opens.");
            return {};
        }
        data.resize(old + kChunk);
        const qint64 got = device->read(data.data() + old, kChunk);
        if (got < 0) {
            *error = QStringLiteral("The file cannot be read: %1").arg(device->errorString());
            return {};
        }
        data.resize(old + got);
        if (got == 0)
            break;
    }
    if (data.isEmpty())
        *error = QStringLiteral("The file is empty.");
    return data;
}

QByteArray CodecHandler::peek(QIODevice *device, qint64 count)
{
    return device ? device->peek(count) : QByteArray();
}

bool CodecHandler::sizeAllowed(qint64 width, qint64 height, QString *error)
{
    if (width <= 0 || height <= 0) {
        *error = QStringLiteral("The image has no pixels (%1 x %2).").arg(width).arg(height);
        return false;
    }
    if (width > kMaxImageSide || height > kMaxImageSide || width * height > kMaxImagePixels) {
        *error = QStringLiteral("The image is too large (%1 x %2 pixels).").arg(width).arg(height);
        return false;
    }
    return true;
}

QImage CodecHandler::allocate(qint64 width, qint64 height, QImage::Format format, QString *error)
{
    if (!sizeAllowed(width, height, error))
        return {};
    QImage image(int(width), int(height), format);
    if (image.isNull())
        *error = QStringLiteral("There is not enough memory for a %1 x %2 image.").arg(width).arg(height);
    return image;
}

} // namespace qmt
