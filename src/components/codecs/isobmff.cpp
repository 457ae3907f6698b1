#include "components/codecs/isobmff.h"

#include "components/codecs/bytereader.h"

// Layout (ISO/IEC 14496-12): a box is a u32 size (1: a u64 size follows the type; 0: up to the
// end of the parent), a four-character type, then its content. "ftyp" holds the major brand, a
// u32 version and the compatible brands. "meta" is a full box (u8 version, u24 flags) whose
// "iprp" box holds the "ipco" box of item properties, each a box of its own.

namespace qmt::isobmff {
namespace {

struct Box {
    QByteArray type;
    qint64 contentStart = 0;
    qint64 end = 0;
};

// The box at the reader's position inside [.., limit); false when its header or size does not
// fit.
bool nextBox(ByteReader &in, qint64 limit, Box *box)
{
    const qint64 start = in.pos();
    if (limit - start < 8)
        return false;
    quint64 size = in.u32be();
    box->type = QByteArray(4, '\0');
    for (int i = 0; i < 4; ++i)
        box->type[i] = char(in.u8());
    if (size == 1) {
        const quint64 high = in.u32be();
        size = high << 32 | in.u32be();
    } else if (size == 0) {
        size = quint64(limit - start);
    }
    box->contentStart = in.pos();
    if (!in.ok() || size < quint64(box->contentStart - start) || size > quint64(limit - start))
        return false;
    box->end = start + qint64(size);
    return true;
}

// The first child of type `type` among the boxes in [from, limit).
bool findChild(ByteReader &in, qint64 from, qint64 limit, const char *type, Box *found)
{
    // Each step moves forward by at least a box header, so the walk ends.
    if (!in.seek(from))
        return false;
    Box box;
    while (nextBox(in, limit, &box)) {
        if (box.type == type) {
            *found = box;
            return true;
        }
        if (!in.seek(box.end))
            return false;
    }
    return false;
}

} // namespace

QList<QByteArray> brands(const QByteArray &head)
{
    ByteReader in(head);
    const quint32 size = in.u32be();
    if (!in.ok() || head.size() < 16 || head.mid(4, 4) != "ftyp" || size < 16)
        return {};
    // The head may end inside a long list of brands: the ones it holds are taken.
    const qint64 end = qMin<qint64>(size, head.size());
    const qint64 contentStart = 8;
    QList<QByteArray> found;
    // A brand is four bytes; the minor version between the major and the compatible ones.
    for (qint64 at = contentStart; at + 4 <= end; at += 4) {
        if (at == contentStart + 4)
            continue;
        found.append(head.mid(at, 4));
    }
    return found;
}

bool hasTransformProperty(const QByteArray &data)
{
    ByteReader in(data);
    Box meta, iprp, ipco;
    if (!findChild(in, 0, in.size(), "meta", &meta))
        return false;
    // The meta box's version and flags come before its children.
    if (!findChild(in, meta.contentStart + 4, meta.end, "iprp", &iprp))
        return false;
    if (!findChild(in, iprp.contentStart, iprp.end, "ipco", &ipco))
        return false;
    if (!in.seek(ipco.contentStart))
        return false;
    Box property;
    while (nextBox(in, ipco.end, &property)) {
        if (property.type == "irot" || property.type == "imir")
            return true;
        if (!in.seek(property.end))
            return false;
    }
    return false;
}

} // namespace qmt::isobmff
