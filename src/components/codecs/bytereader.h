#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace qmt {

// Reads fields from a file held in memory. Every read is checked against the end: past the end
// a read returns 0 (or nullptr for blocks) and clears ok(), so a parser can read a whole header
// and test once. Positions and lengths are qint64 so that a lying length cannot wrap.
class ByteReader
{
public:
    explicit ByteReader(const QByteArray &data)
        : m_data(reinterpret_cast<const uchar *>(data.constData())), m_size(data.size())
    {
    }
    ByteReader(const uchar *data, qint64 size) : m_data(data), m_size(size) {}

    bool ok() const { return m_ok; }
    qint64 pos() const { return m_pos; }
    qint64 size() const { return m_size; }
    qint64 remaining() const { return m_size - m_pos; }
    bool atEnd() const { return m_pos >= m_size; }

    bool seek(qint64 pos)
    {
        if (pos < 0 || pos > m_size)
            return fail();
        m_pos = pos;
        return true;
    }
    bool skip(qint64 count) { return count >= 0 && count <= remaining() ? seek(m_pos + count) : fail(); }

    quint8 u8() { return has(1) ? m_data[m_pos++] : 0; }
    quint16 u16le()
    {
        if (!has(2))
            return 0;
        const quint16 v = quint16(m_data[m_pos] | (m_data[m_pos + 1] << 8));
        m_pos += 2;
        return v;
    }
    quint16 u16be()
    {
        if (!has(2))
            return 0;
        const quint16 v = quint16((m_data[m_pos] << 8) | m_data[m_pos + 1]);
        m_pos += 2;
        return v;
    }
    quint32 u32le()
    {
        const quint32 lo = u16le();
        return lo | (quint32(u16le()) << 16);
    }
    quint32 u32be()
    {
        const quint32 hi = u16be();
        return (hi << 16) | u16be();
    }
    quint64 u64be()
    {
        const quint64 hi = u32be();
        return (hi << 32) | u32be();
    }
    // A block of `count` bytes inside the data, or nullptr (and !ok()) when fewer remain.
    const uchar *block(qint64 count)
    {
        if (count < 0 || !has(count))
            return nullptr;
        const uchar *p = m_data + m_pos;
        m_pos += count;
        return p;
    }
    const uchar *data() const { return m_data; }

private:
    bool has(qint64 count)
    {
        if (count <= remaining())
            return true;
        m_pos = m_size;
        return fail();
    }
    bool fail()
    {
        m_ok = false;
        return false;
    }

    const uchar *m_data = nullptr;
    qint64 m_size = 0;
    qint64 m_pos = 0;
    bool m_ok = true;
};

} // namespace qmt
