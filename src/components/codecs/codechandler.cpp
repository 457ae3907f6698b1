#include "components/codecs/codechandler.h"

#include <QIODevice>

#include <utility>

#include <sys/mman.h>

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

namespace {

constexpr size_t kHugePage = size_t(2) << 20;

void releaseMapping(void *info)
{
    const auto *mapping = static_cast<const std::pair<void *, size_t> *>(info);
    munmap(mapping->first, mapping->second);
    delete mapping;
}

} // namespace

QImage CodecHandler::allocate(qint64 width, qint64 height, QImage::Format format, QString *error)
{
    if (!sizeAllowed(width, height, error))
        return {};
    // Large pictures get memory in 2 MB pages where the kernel offers them: filling a 20
    // megapixel photo through 4 KB page faults costs more than decoding it on a virtual machine.
    const qint64 bytesPerLine = ((width * QImage::toPixelFormat(format).bitsPerPixel() + 31) / 32) * 4;
    const qint64 bytes = bytesPerLine * height;
    if (bytes >= qint64(8) << 20) {
        const size_t length = size_t(bytes) + kHugePage;
        void *base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base != MAP_FAILED) {
            auto *aligned = reinterpret_cast<uchar *>(
                (reinterpret_cast<quintptr>(base) + kHugePage - 1) & ~quintptr(kHugePage - 1));
            madvise(aligned, size_t(bytes), MADV_HUGEPAGE);
            auto *mapping = new std::pair<void *, size_t>(base, length);
            QImage image(aligned, int(width), int(height), qsizetype(bytesPerLine), format,
                         &releaseMapping, mapping);
            if (!image.isNull())
                return image;
            releaseMapping(mapping);
        }
    }
    QImage image(int(width), int(height), format);
    if (image.isNull())
        *error = QStringLiteral("There is not enough memory for a %1 x %2 image.").arg(width).arg(height);
    return image;
}

} // namespace qmt
