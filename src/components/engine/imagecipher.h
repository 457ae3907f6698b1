#pragma once

#include "components/result.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

namespace qmt {

// The picture cipher: a key stretched from the typed text with Argon2id (libsodium's password
// hash, a fixed salt of the program's own) drives an XChaCha20 keystream that is XORed into the
// red, green and blue bytes of every pixel of every page. Alpha, sizes and page count stay, so
// the result is still a picture that can be shown and saved. The same key applied again gives
// the pixels back exactly; a wrong key simply gives other noise (there is nothing to check a key
// against). Nothing is stored beside the pixels, so only a lossless file keeps an encrypted
// picture decryptable.
//
// Each page gets its own nonce (built from its number), but the same key always produces the
// same keystream for the same page: two pictures encrypted with one key can be compared with
// each other. This is a privacy screen for pictures, not a vault.
class ImageCipher
{
public:
    static constexpr int kKeyBytes = 32;

    // The 32-byte cipher key for the typed text. Fails on an empty text or when the hash cannot
    // get its memory.
    static Result<QByteArray> deriveKey(const QString &text);

    // XORs the keystream into the colour channels of every page, in place. Pages are first
    // brought to 32 bits per pixel (RGB32, or ARGB32 when they carry alpha). Applying it twice
    // with one key restores the pixels.
    static Status apply(QList<QImage> &pages, const QByteArray &key);

    // The salt of the password hash: the first 16 bytes of the BLAKE2b hash of
    // "Pictavo picture cipher 1". Fixed, so the same text always gives the same key.
    static QByteArray salt();
};

} // namespace qmt
