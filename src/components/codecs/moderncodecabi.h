#pragma once

#include "components/engine/imageio.h"

#include <QtGlobal>

#include <cstdint>

class QIODevice;

namespace qmt {

// What the module of the modern formats (WebP, HEIF, AVIF, JPEG XL) hands to the program that
// loads it. The module is built from the same sources as the program and passes Qt and C++ types
// across, so the loader takes it only when every field below matches its own build.
struct ModernCodecTable {
    int abi;
    const char *version;
    int qtVersion;
    quint32 readOptionsSize;
    quint32 decodedImageSize;
    Result<DecodedImage> (*readWebp)(QIODevice *device, const ReadOptions &options);
    Result<DecodedImage> (*readHeif)(QIODevice *device, const ReadOptions &options);
    Result<DecodedImage> (*readAvif)(QIODevice *device, const ReadOptions &options);
    Result<DecodedImage> (*readJxl)(QIODevice *device, const ReadOptions &options);
};

// What the program lends the module: the engine's state that must stay one for the whole
// program, such as the memory budget of the decodes that run side by side (DecodeBudgetScope).
struct ModernCodecHost {
    void (*reserveDecodeMemory)(std::int64_t bytes);
    std::int64_t (*reservedDecodeMemory)();
};

// Raised whenever the tables or the types they pass change shape.
inline constexpr int kModernCodecAbi = 1;
// The module's file, in this folder of the program's folder. (A folder of its own keeps it out of
// the system's library folders, where packaging would ask ldconfig to index it.)
inline constexpr char kModernCodecFolder[] = "codecs";
inline constexpr char kModernCodecModuleFile[] = "qmt-modern-codecs.so";
// The one symbol the module exports: a function that takes the program's services (kept for the
// life of the program) and returns the module's readers.
inline constexpr char kModernCodecEntry[] = "qmt_modern_codecs";

} // namespace qmt

extern "C" {
using QmtModernCodecEntry = const qmt::ModernCodecTable *(const qmt::ModernCodecHost *host);
}
