#include "components/codecs/moderncodecs.h"

#include "components/codecs/codechandler.h"
#include "components/codecs/decodebudget.h"
#include "components/codecs/isobmff.h"
#include "components/codecs/moderncodecabi.h"

#include <QFile>

#include <climits>
#include <mutex>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef QMT_MODERN_CODECS_BUILTIN
// Builds that link the readers in (the sanitizer build of the codec tests) call the entry
// directly.
extern "C" const qmt::ModernCodecTable *qmt_modern_codecs(const qmt::ModernCodecHost *host);
#endif

namespace qmt {
namespace {

using Reader = Result<DecodedImage> (*)(QIODevice *, const ReadOptions &);

// Brands of HEIF files whose pictures libheif decodes (HEVC and the generic image brands); files
// that also name an AVIF brand go to the AVIF reader.
const QList<QByteArray> kHeifBrands = {"heic", "heix", "heim", "heis", "hevc", "hevx",
                                       "hevm", "hevs", "mif1", "msf1", "heif"};
const QList<QByteArray> kAvifBrands = {"avif", "avis"};

// What became of the last attempt to load the module. A failure is remembered too, so that a
// folder of HEIC files asks the file system once, not once a thumbnail.
struct LoadState {
    std::mutex mutex;
    bool tried = false;
    const ModernCodecTable *table = nullptr;
    QString error;
    QString testFolder;
};

// What the module borrows from the program.
const ModernCodecHost kHost = {&DecodeBudgetScope::reserve, &DecodeBudgetScope::reserved};

LoadState &loadState()
{
    static LoadState state;
    return state;
}

QByteArray programFolderBytes()
{
    char target[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", target, sizeof target - 1);
    if (length <= 0)
        return {};
    const QByteArray path(target, qsizetype(length));
    const qsizetype slash = path.lastIndexOf('/');
    return slash > 0 ? path.left(slash) : QByteArray();
}

QByteArray moduleFolderBytes(const LoadState &state)
{
    if (!state.testFolder.isEmpty())
        return QFile::encodeName(state.testFolder);
    const QByteArray program = programFolderBytes();
    return program.isEmpty() ? program : program + '/' + kModernCodecFolder;
}

#ifdef QMT_MODERN_CODECS_BUILTIN
const ModernCodecTable *loadModule(const QByteArray &, QString *)
{
    return qmt_modern_codecs(&kHost);
}
#else
// Only a regular file that no one but its owner (root or the user running the program) can
// change is loaded.
QString unfitModuleFile(const QByteArray &path)
{
    struct stat info;
    if (stat(path.constData(), &info) != 0)
        return QStringLiteral("there is no %1").arg(QFile::decodeName(path));
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("%1 is not a regular file").arg(QFile::decodeName(path));
    if ((info.st_mode & S_IWOTH) || (info.st_uid != 0 && info.st_uid != geteuid()))
        return QStringLiteral("%1 may be changed by other users").arg(QFile::decodeName(path));
    return {};
}

bool matchesThisBuild(const ModernCodecTable *table)
{
    return table && table->abi == kModernCodecAbi && qstrcmp(table->version, QMT_VERSION) == 0 &&
           table->qtVersion == QT_VERSION && table->readOptionsSize == sizeof(ReadOptions) &&
           table->decodedImageSize == sizeof(DecodedImage) && table->readWebp && table->readHeif &&
           table->readAvif && table->readJxl;
}

const ModernCodecTable *loadModule(const QByteArray &folder, QString *error)
{
    if (folder.isEmpty()) {
        *error = QStringLiteral("the program's folder is unknown");
        return nullptr;
    }
    const QByteArray path = folder + '/' + kModernCodecModuleFile;
    *error = unfitModuleFile(path);
    if (!error->isEmpty())
        return nullptr;
    // The module is never unloaded: pictures it decoded may still hold memory it gave out.
    void *handle = dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle) {
        *error = QString::fromLocal8Bit(dlerror());
        return nullptr;
    }
    auto *entry = reinterpret_cast<QmtModernCodecEntry *>(dlsym(handle, kModernCodecEntry));
    const ModernCodecTable *table = entry ? entry(&kHost) : nullptr;
    if (!matchesThisBuild(table)) {
        *error = QStringLiteral("%1 belongs to another build of the program")
                     .arg(QFile::decodeName(path));
        return nullptr;
    }
    return table;
}
#endif

const ModernCodecTable *loadedTable(QString *error)
{
    LoadState &state = loadState();
    const std::lock_guard lock(state.mutex);
    if (!state.tried) {
        state.tried = true;
        state.table = loadModule(moduleFolderBytes(state), &state.error);
    }
    *error = state.error;
    return state.table;
}

Result<DecodedImage> readThroughModule(Reader ModernCodecTable::*reader, const char *format,
                                       QIODevice *device, const ReadOptions &options)
{
    QString why;
    const ModernCodecTable *table = loadedTable(&why);
    if (!table)
        return Result<DecodedImage>::failNotInFile(
            QStringLiteral("%1 pictures cannot be read: %1 support is not installed (%2).")
                .arg(QLatin1String(format), why));
    return (table->*reader)(device, options);
}

} // namespace

bool ModernCodecs::isWebp(QIODevice *device)
{
    const QByteArray head = CodecHandler::peek(device, 12);
    return head.size() == 12 && head.startsWith("RIFF") && head.mid(8, 4) == "WEBP";
}

bool ModernCodecs::isHeif(QIODevice *device)
{
    bool heif = false;
    for (const QByteArray &brand : isobmff::brands(CodecHandler::peek(device, 256))) {
        // AVIF files often list "mif1" too: they are AVIF's.
        if (kAvifBrands.contains(brand))
            return false;
        heif = heif || kHeifBrands.contains(brand);
    }
    return heif;
}

bool ModernCodecs::isAvif(QIODevice *device)
{
    const QList<QByteArray> brands = isobmff::brands(CodecHandler::peek(device, 256));
    for (const QByteArray &brand : brands) {
        if (kAvifBrands.contains(brand))
            return true;
    }
    return false;
}

bool ModernCodecs::isJxl(QIODevice *device)
{
    // A bare codestream starts with FF 0A; the container with its own twelve-byte signature box.
    static const QByteArray kContainer("\x00\x00\x00\x0cJXL \x0d\x0a\x87\x0a", 12);
    const QByteArray head = CodecHandler::peek(device, 12);
    return head.startsWith("\xff\x0a") || head == kContainer;
}

Result<DecodedImage> ModernCodecs::readWebp(QIODevice *device, const ReadOptions &options)
{
    return readThroughModule(&ModernCodecTable::readWebp, "WebP", device, options);
}

Result<DecodedImage> ModernCodecs::readHeif(QIODevice *device, const ReadOptions &options)
{
    return readThroughModule(&ModernCodecTable::readHeif, "HEIF", device, options);
}

Result<DecodedImage> ModernCodecs::readAvif(QIODevice *device, const ReadOptions &options)
{
    return readThroughModule(&ModernCodecTable::readAvif, "AVIF", device, options);
}

Result<DecodedImage> ModernCodecs::readJxl(QIODevice *device, const ReadOptions &options)
{
    return readThroughModule(&ModernCodecTable::readJxl, "JPEG XL", device, options);
}

QString ModernCodecs::moduleFolder()
{
    LoadState &state = loadState();
    const std::lock_guard lock(state.mutex);
    return QFile::decodeName(moduleFolderBytes(state));
}

void ModernCodecs::setModuleFolderForTesting(const QString &folder)
{
    LoadState &state = loadState();
    const std::lock_guard lock(state.mutex);
    state.testFolder = folder;
    state.tried = false;
    state.table = nullptr;
    state.error.clear();
}

} // namespace qmt
