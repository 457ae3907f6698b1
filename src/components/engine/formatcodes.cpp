#include "components/engine/formatcodes.h"

#include <QHash>

namespace qmt {

FormatCode formatCodeForSuffix(const QString &suffix)
{
    static const QHash<QString, FormatCode> codes = {
        {"jpg", FormatJpeg},  {"jpeg", FormatJpeg}, {"jpe", FormatJpeg},  {"png", FormatPng},
        {"tif", FormatTiff},  {"tiff", FormatTiff}, {"pcx", FormatPcx},   {"tga", FormatTarga},
        {"bmp", FormatBmp},   {"dib", FormatBmp},   {"wmf", FormatWmf},   {"emf", FormatEmf},
        {"psd", FormatPsd},   {"wbmp", FormatWbmp}, {"gif", FormatGif},   {"ico", FormatIco},
        {"cur", FormatCur},   {"pcd", FormatPcd},   {"webp", FormatWebp}, {"avif", FormatAvif},
        {"heic", FormatHeif}, {"heif", FormatHeif}, {"jxl", FormatJxl},
    };
    return codes.value(suffix.toLower(), FormatUnknown);
}

} // namespace qmt
