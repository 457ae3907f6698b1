#include "shell/mimeappslist.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace qmt {
namespace {

// A list this size is not a list of default applications; it is not loaded into memory.
constexpr qint64 kMaxListSize = 8 * 1024 * 1024;

std::optional<QString> groupOf(const QByteArray &line)
{
    const QString t = QString::fromUtf8(line).trimmed();
    if (t.startsWith(u'[') && t.endsWith(u']'))
        return t.mid(1, t.size() - 2);
    return std::nullopt;
}

// The key of an entry line ("key = value"), or nullopt for comments and other lines.
std::optional<QString> keyOf(const QByteArray &line)
{
    const QString t = QString::fromUtf8(line).trimmed();
    if (t.isEmpty() || t.startsWith(u'#'))
        return std::nullopt;
    const qsizetype eq = t.indexOf(u'=');
    if (eq <= 0)
        return std::nullopt;
    return t.left(eq).trimmed();
}

} // namespace

QString MimeAppsList::userPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/mimeapps.list");
}

MimeAppsList MimeAppsList::fromText(const QByteArray &text)
{
    MimeAppsList list;
    if (text.isEmpty())
        return list;
    QByteArray all = text;
    list.m_finalNewline = all.endsWith('\n');
    if (list.m_finalNewline)
        all.chop(1);
    list.m_lines = all.split('\n');
    return list;
}

std::optional<MimeAppsList> MimeAppsList::load(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return MimeAppsList();
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxListSize)
        return std::nullopt;
    const QByteArray data = file.readAll();
    if (file.error() != QFile::NoError)
        return std::nullopt;
    return fromText(data);
}

qsizetype MimeAppsList::find(const QString &group, const QString &key, qsizetype *groupEnd) const
{
    int groupsSeen = 0;
    bool inGroup = false;
    bool inFirstGroup = false; // only the first group of that name takes new entries
    qsizetype found = -1;
    qsizetype end = -1;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        if (const auto g = groupOf(m_lines[i])) {
            inGroup = (*g == group);
            inFirstGroup = inGroup && groupsSeen == 0;
            if (inGroup)
                ++groupsSeen;
            if (inFirstGroup)
                end = i + 1;
            continue;
        }
        if (!inGroup)
            continue;
        if (found < 0) {
            const auto k = keyOf(m_lines[i]);
            if (k && k->compare(key, Qt::CaseInsensitive) == 0)
                found = i;
        }
        if (inFirstGroup && !m_lines[i].trimmed().isEmpty())
            end = i + 1;
    }
    if (groupEnd)
        *groupEnd = end;
    return found;
}

std::optional<QString> MimeAppsList::value(const QString &group, const QString &key) const
{
    const qsizetype at = find(group, key);
    if (at < 0)
        return std::nullopt;
    const QString line = QString::fromUtf8(m_lines[at]).trimmed();
    return line.mid(line.indexOf(u'=') + 1).trimmed();
}

QString MimeAppsList::firstEntry(const QString &group, const QString &key) const
{
    const auto v = value(group, key);
    if (!v)
        return QString();
    for (const QString &id : v->split(u';'))
        if (!id.trimmed().isEmpty())
            return id.trimmed();
    return QString();
}

void MimeAppsList::setValue(const QString &group, const QString &key, const QString &value)
{
    const QByteArray line = (key + u'=' + value).toUtf8();
    qsizetype groupEnd = -1;
    const qsizetype at = find(group, key, &groupEnd);
    if (at >= 0) {
        // Keep a CR of a file written with CR LF line ends.
        m_lines[at] = m_lines[at].endsWith('\r') ? line + '\r' : line;
        return;
    }
    if (groupEnd >= 0) {
        m_lines.insert(groupEnd, line);
        return;
    }
    while (!m_lines.isEmpty() && m_lines.last().trimmed().isEmpty())
        m_lines.removeLast();
    if (!m_lines.isEmpty())
        m_lines.append(QByteArray());
    m_lines.append('[' + group.toUtf8() + ']');
    m_lines.append(line);
    m_finalNewline = true;
}

bool MimeAppsList::remove(const QString &group, const QString &key)
{
    bool removed = false;
    for (qsizetype at = find(group, key); at >= 0; at = find(group, key)) {
        m_lines.removeAt(at);
        removed = true;
    }
    return removed;
}

QByteArray MimeAppsList::text() const
{
    if (m_lines.isEmpty())
        return QByteArray();
    QByteArray all = m_lines.join('\n');
    if (m_finalNewline)
        all += '\n';
    return all;
}

bool MimeAppsList::save(const QString &path) const
{
    const QFileInfo info(path);
    if (info.exists() &&
        !(info.permissions() & (QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther)))
        return false;
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    const QByteArray data = text();
    if (out.write(data) != data.size()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

} // namespace qmt
