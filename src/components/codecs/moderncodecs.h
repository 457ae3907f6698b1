#pragma once

#include "components/engine/imageio.h"

#include <QString>

class QIODevice;

namespace qmt {

// The readers of WebP, HEIF, AVIF and JPEG XL pictures live in a module of their own together
// with the formats' libraries and their HEVC and AV1 decoders, some forty shared libraries. The
// module is loaded the first time such a picture is read, once for the whole program and from any
// thread, so that a start that shows a JPEG never pays for it. Telling the formats apart needs no
// library: the signatures are checked here.
class ModernCodecs
{
public:
    static bool isWebp(QIODevice *device);
    static bool isHeif(QIODevice *device);
    static bool isAvif(QIODevice *device);
    static bool isJxl(QIODevice *device);

    // Read through the module; when it is missing or cannot be loaded, a failure that says so.
    static Result<DecodedImage> readWebp(QIODevice *device, const ReadOptions &options);
    static Result<DecodedImage> readHeif(QIODevice *device, const ReadOptions &options);
    static Result<DecodedImage> readAvif(QIODevice *device, const ReadOptions &options);
    static Result<DecodedImage> readJxl(QIODevice *device, const ReadOptions &options);

    // The folder the module is loaded from: "codecs" in the program's own folder, where the build
    // puts it and the package installs it. Never the current folder, never one named by the
    // environment.
    static QString moduleFolder();
    // For tests: look in `folder` from the next read on (empty: the program's folder again). A
    // module loaded before stays loaded and is not used until the folder is set back.
    static void setModuleFolderForTesting(const QString &folder);
};

} // namespace qmt
