#pragma once

#include <QString>

namespace qmt {

// The engine's format codes. 1 to 10 are the ten save formats and must keep their numbers;
// the others only tell a loaded file's type.
enum FormatCode : int {
    FormatUnknown = 0,
    FormatJpeg = 1,
    FormatPng = 2,
    FormatTiff = 3,
    FormatPcx = 4,
    FormatTarga = 5,
    FormatBmp = 6,
    FormatWmf = 7,
    FormatEmf = 8,
    FormatPsd = 9,
    FormatWbmp = 10,
    FormatGif = 11,
    FormatIco = 12,
    FormatCur = 13,
    FormatPcd = 14,
    FormatWebp = 15,
    FormatAvif = 16,
    FormatHeif = 17,
    FormatJxl = 18,
};

inline bool isSaveFormat(int code)
{
    return code >= FormatJpeg && code <= FormatWbmp;
}

// The format a file name's extension announces (case-insensitive); FormatUnknown for others.
FormatCode formatCodeForSuffix(const QString &suffix);

} // namespace qmt
