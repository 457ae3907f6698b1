#pragma once

#include "components/engine/imageio.h"

#include <optional>

class QIODevice;

namespace qmt {

// One of the program's own readers. canRead peeks at the content and leaves the device where it
// was; read decodes every page.
struct CodecReader {
    const char *name;
    // Lowercase extensions that announce the format, separated by spaces.
    const char *suffixes;
    int formatCode;
    // A format without a real magic number (TGA, PCX, headerless DIB): tried by content only
    // after every format with a signature, so that it never claims another format's file.
    bool weakSignature;
    bool (*canRead)(QIODevice *device);
    Result<DecodedImage> (*read)(QIODevice *device, const ReadOptions &options);
};

struct CodecWriter {
    int formatCode;
    Status (*write)(const QList<QImage> &pages, QIODevice *device);
};

// The own reader for a file: first the one its extension names, if the content confirms it;
// then any reader with a strong signature that recognises the content. Weak-signature readers
// are only returned when `includeWeak` is set. nullptr when none fits.
const CodecReader *findOwnReader(QIODevice *device, const QString &suffix, bool includeWeak);
// Whether one of the own readers is named by this extension.
bool isOwnSuffix(const QString &suffix);

// The own writer for a save format code, or nullopt when Qt writes it.
std::optional<Status> writeWithOwnCodec(const QList<QImage> &pages, QIODevice *device,
                                        int formatCode);

} // namespace qmt
