#pragma once

#include <QByteArray>
#include <QList>

namespace qmt {

// What the readers of HEIF and AVIF need from the ISO base media file structure before a
// library sees the file: the brands that name the format, and whether the picture carries its
// own rotation or mirroring. Every box size is checked against its parent.
namespace isobmff {

// The major and compatible brands of the leading "ftyp" box; empty when the data does not start
// with one.
QList<QByteArray> brands(const QByteArray &head);

// Whether the "meta" box declares an "irot" or "imir" property. Such files say how the picture
// is turned through these; an EXIF orientation beside them only repeats it for other tools.
bool hasTransformProperty(const QByteArray &data);

} // namespace isobmff
} // namespace qmt
