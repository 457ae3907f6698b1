#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <cstring>

namespace qmt {

// Little-endian fields of a metafile or Photo CD record held in memory. Reading past the end
// yields 0 and clears ok(), so a record's fields can be read together and tested once.
class MetafileCursor
{
public:
    MetafileCursor(const uchar *data, qint64 size) : m_data(data), m_size(size) {}
    explicit MetafileCursor(const QByteArray &bytes)
        : MetafileCursor(reinterpret_cast<const uchar *>(bytes.constData()), bytes.size())
    {
    }

    bool ok() const { return m_ok; }
    qint64 pos() const { return m_pos; }
    qint64 size() const { return m_size; }
    qint64 remaining() const { return m_size - m_pos; }
    const uchar *data() const { return m_data; }
    const uchar *here() const { return m_data + m_pos; }

    bool seek(qint64 pos)
    {
        if (pos < 0 || pos > m_size) {
            m_ok = false;
            return false;
        }
        m_pos = pos;
        return true;
    }
    bool skip(qint64 count) { return seek(m_pos + count); }

    quint8 u8() { return has(1) ? m_data[m_pos++] : 0; }
    quint16 u16()
    {
        if (!has(2))
            return 0;
        const quint16 v = quint16(m_data[m_pos] | (m_data[m_pos + 1] << 8));
        m_pos += 2;
        return v;
    }
    qint16 i16() { return qint16(u16()); }
    quint32 u32()
    {
        const quint32 lo = u16();
        return lo | (quint32(u16()) << 16);
    }
    qint32 i32() { return qint32(u32()); }
    float f32()
    {
        const quint32 bits = u32();
        float value;
        static_assert(sizeof(value) == sizeof(bits));
        std::memcpy(&value, &bits, sizeof(value));
        return value;
    }

private:
    bool has(qint64 count)
    {
        if (count <= remaining())
            return true;
        m_pos = m_size;
        m_ok = false;
        return false;
    }

    const uchar *m_data = nullptr;
    qint64 m_size = 0;
    qint64 m_pos = 0;
    bool m_ok = true;
};

} // namespace qmt
