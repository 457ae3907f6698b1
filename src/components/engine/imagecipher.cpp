#include "components/engine/imagecipher.h"

#include <sodium.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace qmt {
namespace {

// Light enough to stay well under a second on a slow machine, heavy enough that guessing keys
// from a picture costs real work.
constexpr unsigned long long kOpsLimit = 2;
constexpr size_t kMemLimit = 16u * 1024u * 1024u;

bool sodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// The keystream is one long run over the page, four bytes per pixel; the byte that would fall
// on alpha is masked off, so each pixel's red, green and blue take three keystream bytes and
// its alpha none. One row of keystream is made at a time to keep memory flat.
void xorPage(QImage &page, const QByteArray &key, int pageNumber)
{
    unsigned char nonce[crypto_stream_xchacha20_NONCEBYTES] = {};
    static const char kTag[] = "qmt-page";
    std::memcpy(nonce, kTag, sizeof kTag - 1);
    for (int i = 0; i < 4; ++i)
        nonce[16 + i] = static_cast<unsigned char>((pageNumber >> (8 * i)) & 0xff);

    const auto *k = reinterpret_cast<const unsigned char *>(key.constData());
    const size_t rowBytes = size_t(page.width()) * 4;
    // Room for the part of the first block already used and the rounding up of the last.
    std::vector<unsigned char> block(rowBytes + 128);
    std::vector<quint32> stream(size_t(page.width()));
    uint64_t offset = 0; // bytes of keystream used so far
    for (int y = 0; y < page.height(); ++y) {
        const size_t skip = size_t(offset % 64);
        const size_t need = (skip + rowBytes + 63) / 64 * 64;
        std::fill(block.begin(), block.begin() + ptrdiff_t(need), 0);
        crypto_stream_xchacha20_xor_ic(block.data(), block.data(), need, nonce, offset / 64, k);
        std::memcpy(stream.data(), block.data() + skip, rowBytes);
        offset += rowBytes;

        auto *line = reinterpret_cast<quint32 *>(page.scanLine(y));
        const int width = page.width();
        for (int x = 0; x < width; ++x)
            line[x] ^= stream[size_t(x)] & 0x00ffffffu; // QRgb is 0xAARRGGBB: alpha stays
    }
}

} // namespace

QByteArray ImageCipher::salt()
{
    static const QByteArray value = [] {
        static const char kText[] = "Pictavo picture cipher 1";
        unsigned char hash[crypto_pwhash_SALTBYTES];
        sodiumReady();
        crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char *>(kText),
                           sizeof kText - 1, nullptr, 0);
        return QByteArray(reinterpret_cast<const char *>(hash), sizeof hash);
    }();
    return value;
}

Result<QByteArray> ImageCipher::deriveKey(const QString &text)
{
    if (text.isEmpty())
        return Result<QByteArray>::fail(QStringLiteral("The key is empty."));
    if (!sodiumReady())
        return Result<QByteArray>::fail(QStringLiteral("The cipher library could not start."));
    const QByteArray password = text.toUtf8();
    const QByteArray saltBytes = salt();
    QByteArray key(kKeyBytes, '\0');
    if (crypto_pwhash(reinterpret_cast<unsigned char *>(key.data()), size_t(key.size()),
                      password.constData(), size_t(password.size()),
                      reinterpret_cast<const unsigned char *>(saltBytes.constData()), kOpsLimit,
                      kMemLimit, crypto_pwhash_ALG_ARGON2ID13) != 0)
        return Result<QByteArray>::fail(
            QStringLiteral("There is not enough memory to prepare the key."));
    return key;
}

Status ImageCipher::apply(QList<QImage> &pages, const QByteArray &key)
{
    if (key.size() != kKeyBytes)
        return Status::fail(QStringLiteral("The cipher key is not valid."));
    if (pages.isEmpty())
        return Status::fail(QStringLiteral("There is no image."));
    if (!sodiumReady())
        return Status::fail(QStringLiteral("The cipher library could not start."));

    // Convert every page first so that a failure leaves the pages untouched.
    QList<QImage> work;
    work.reserve(pages.size());
    for (const QImage &page : pages) {
        if (page.isNull())
            return Status::fail(QStringLiteral("A page of the image is empty."));
        const QImage::Format format =
            page.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32;
        QImage converted = page.format() == format ? page.copy() : page.convertToFormat(format);
        if (converted.isNull())
            return Status::fail(QStringLiteral("There is not enough memory to encrypt the image."));
        work.append(std::move(converted));
    }
    for (int i = 0; i < work.size(); ++i)
        xorPage(work[i], key, i);
    pages = std::move(work);
    return {};
}

} // namespace qmt
