#include "components/codecs/iconpages.h"

#include "components/codecs/decodebudget.h"

#include <QBuffer>
#include <QIODevice>
#include <QImageReader>
#include <QtEndian>

#include <algorithm>

// Layout (little-endian): reserved u16 = 0, type u16 (1 icon, 2 cursor), count u16, then one
// 16-byte entry each: width u8, height u8 (0 means 256), colours u8, reserved u8, planes or hot
// spot x u16, bits or hot spot y u16, bytes u32, offset u32 from the start of the file. An entry
// points at a PNG file or at a bitmap info header whose height counts the colour rows and the
// mask rows together.

namespace qmt {
namespace {

// An icon directory counts its entries in 16 bits; a file claiming more pages than this is
// read no further.
constexpr int kMaxIconPages = 1024;
constexpr int kEntryBytes = 16;
constexpr int kDirectoryBytes = 6;

// The size of the picture at the start of `head`: a PNG's IHDR, else a bitmap info header.
QSize pictureSize(const QByteArray &head)
{
    const auto *p = reinterpret_cast<const uchar *>(head.constData());
    if (head.size() >= 24 && head.startsWith("\x89PNG\r\n\x1A\n") && head.mid(12, 4) == "IHDR")
        return QSize(int(qMin<quint32>(qFromBigEndian<quint32>(p + 16), INT_MAX)),
                     int(qMin<quint32>(qFromBigEndian<quint32>(p + 20), INT_MAX)));
    if (head.size() >= 12) {
        const quint32 headerSize = qFromLittleEndian<quint32>(p);
        const qint64 width = qFromLittleEndian<qint32>(p + 4);
        const qint64 height = qAbs(qint64(qFromLittleEndian<qint32>(p + 8)));
        if (headerSize >= 12 && headerSize <= 256 && width > 0 && height > 0)
            return QSize(int(qMin<qint64>(width, INT_MAX)), int(qMax<qint64>(1, height / 2)));
    }
    return {};
}

bool withinLimits(const QSize &size)
{
    return size.width() > 0 && size.height() > 0 && size.width() <= kMaxImageSide &&
           size.height() <= kMaxImageSide &&
           qint64(size.width()) * size.height() <= kMaxImagePixels;
}

// The entries of the icon directory that starts at `start` on the device, in the file's order.
QList<IconEntry> readEntries(QIODevice *device, qint64 start)
{
    QList<IconEntry> entries;
    if (!device->seek(start))
        return entries;
    const QByteArray head = device->read(kDirectoryBytes);
    if (head.size() < kDirectoryBytes)
        return entries;
    const auto *h = reinterpret_cast<const uchar *>(head.constData());
    const int count = qMin<int>(qFromLittleEndian<quint16>(h + 4), kMaxIconPages);
    const QByteArray directory = device->read(qint64(count) * kEntryBytes);
    const qint64 fileSize = device->size() - start;
    for (int i = 0; i * kEntryBytes + kEntryBytes <= directory.size(); ++i) {
        const auto *e = reinterpret_cast<const uchar *>(directory.constData()) + i * kEntryBytes;
        const quint32 bytes = qFromLittleEndian<quint32>(e + 8);
        const quint32 offset = qFromLittleEndian<quint32>(e + 12);
        if (bytes == 0 || offset >= fileSize || !device->seek(start + offset))
            continue;
        const QSize size = pictureSize(device->read(24));
        if (withinLimits(size))
            entries.append({i, size, qMin<qint64>(bytes, fileSize - offset)});
    }
    return entries;
}

QImage decodeEntry(QIODevice *device, qint64 start, const QByteArray &format, int index,
                   QString *error)
{
    device->seek(start);
    QImageReader reader(device, format);
    reader.setDecideFormatFromContent(false);
    if (index > 0 && !reader.jumpToImage(index)) {
        *error = reader.errorString();
        return {};
    }
    QImage page = reader.read();
    if (page.isNull())
        *error = reader.errorString();
    return page;
}

} // namespace

QList<IconEntry> iconPageOrder(QIODevice *device)
{
    QList<IconEntry> entries;
    if (!device || device->isSequential()) {
        // The entries are found by seeking; a stream is read into memory first.
        if (!device)
            return entries;
        QBuffer buffer;
        buffer.setData(device->readAll());
        buffer.open(QIODevice::ReadOnly);
        return iconPageOrder(&buffer);
    }
    const qint64 start = device->pos();
    entries = readEntries(device, start);
    device->seek(start);
    std::stable_sort(entries.begin(), entries.end(), [](const IconEntry &a, const IconEntry &b) {
        return qint64(a.size.width()) * a.size.height() > qint64(b.size.width()) * b.size.height();
    });
    return entries;
}

Result<DecodedImage> readIconPages(QIODevice *device, const QByteArray &format,
                                   const ReadOptions &options)
{
    QBuffer memory;
    if (device->isSequential()) {
        memory.setData(device->readAll());
        memory.open(QIODevice::ReadOnly);
        device = &memory;
    }
    const qint64 start = device->pos();
    const QList<IconEntry> order = iconPageOrder(device);
    const QString type = QString::fromLatin1(format.toUpper());
    if (order.isEmpty())
        return Result<DecodedImage>::fail(
            QStringLiteral("The file is not a readable %1 image.").arg(type));
    if (options.page < 0 || options.page >= order.size())
        return Result<DecodedImage>::fail(QStringLiteral("There is no page %1 (the file has %2).")
                                              .arg(options.page + 1)
                                              .arg(order.size()));

    // The first page is the one shown: a damaged largest entry gives way to the next size. An
    // entry is read into memory whole before it is decoded (a PNG inside the icon) into 32-bit
    // pixels; the entries come largest first, so the first one tried holds the most.
    QString error;
    QImage page;
    const qsizetype last = options.page == 0 ? order.size() : options.page + 1;
    for (qsizetype i = options.page; i < last && page.isNull(); ++i) {
        const QSize size = order.at(i).size;
        DecodeBudgetScope::reserve(qint64(size.width()) * size.height() * 4 + order.at(i).bytes);
        page = decodeEntry(device, start, format, order.at(i).index, &error);
    }
    if (page.isNull())
        return Result<DecodedImage>::fail(
            error.isEmpty() ? QStringLiteral("The %1 image data is damaged.").arg(type) : error);

    DecodedImage decoded;
    decoded.formatCode = format == "cur" ? FormatCur : FormatIco;
    decoded.pageCount = int(order.size());
    decoded.fullSize = page.size();
    decoded.bitsPerPixel = page.hasAlphaChannel() ? 32 : 24;
    decoded.pages.append(std::move(page));
    return decoded;
}

} // namespace qmt
