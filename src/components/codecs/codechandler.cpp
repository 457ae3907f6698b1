#include "components/codecs/codechandler.h"

#include "components/codecs/decodebudget.h"

#include <QIODevice>

#include <algorithm>
#include <memory>
#include <thread>
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

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23 // Linux 5.14; older kernels refuse it and nothing happens
#endif

// An anonymous mapping that holds a picture; unmapped with its last owner.
struct Mapping {
    void *base = nullptr;
    size_t length = 0;
    Mapping(void *b, size_t l) : base(b), length(l) {}
    Mapping(const Mapping &) = delete;
    Mapping &operator=(const Mapping &) = delete;
    ~Mapping() { munmap(base, length); }
};

void releaseMapping(void *info)
{
    delete static_cast<std::shared_ptr<Mapping> *>(info);
}

// Decoders fill a picture from the top. A helper thread faults its pages in ahead of them, so
// on two cores the cost of the page faults and the decoding overlap instead of adding up. The
// helper owns the mapping too: it is never unmapped under it.
void prefaultInBackground(std::shared_ptr<Mapping> mapping, uchar *start, size_t length)
{
    std::thread([mapping = std::move(mapping), start, length] {
        constexpr size_t kChunk = size_t(4) << 20;
        for (size_t done = 0; done < length && mapping.use_count() > 1; done += kChunk) {
            if (madvise(start + done, std::min(kChunk, length - done), MADV_POPULATE_WRITE) != 0)
                return;
        }
    }).detach();
}

} // namespace

QImage CodecHandler::allocate(qint64 width, qint64 height, QImage::Format format, QString *error)
{
    if (!sizeAllowed(width, height, error))
        return {};
    // Large pictures get memory in 2 MB pages where the kernel offers them: filling a 20
    // megapixel photo through 4 KB page faults costs more than decoding it on a virtual machine.
    const qint64 bytesPerLine =
        ((width * QImage::toPixelFormat(format).bitsPerPixel() + 31) / 32) * 4;
    const qint64 bytes = bytesPerLine * height;
    // Readers that know more of what their decode holds said so before; the others are counted
    // by their picture.
    DecodeBudgetScope::reserve(bytes);
    if (bytes >= qint64(8) << 20) {
        const size_t length = size_t(bytes) + kHugePage;
        void *base =
            mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base != MAP_FAILED) {
            auto *aligned = reinterpret_cast<uchar *>(
                (reinterpret_cast<quintptr>(base) + kHugePage - 1) & ~quintptr(kHugePage - 1));
            madvise(aligned, size_t(bytes), MADV_HUGEPAGE);
            auto mapping = std::make_shared<Mapping>(base, length);
            auto *owner = new std::shared_ptr<Mapping>(mapping);
            QImage image(aligned, int(width), int(height), qsizetype(bytesPerLine), format,
                         &releaseMapping, owner);
            if (!image.isNull()) {
                prefaultInBackground(std::move(mapping), aligned, size_t(bytes));
                return image;
            }
            releaseMapping(owner);
        }
    }
    QImage image(int(width), int(height), format);
    if (image.isNull())
        *error = QStringLiteral("There is not enough memory for a %1 x %2 image.")
                     .arg(width)
                     .arg(height);
    return image;
}

} // namespace qmt
