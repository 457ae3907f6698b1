#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace qmt {

// A freedesktop "mimeapps.list" (or any such key file) edited in place: every line that is not
// changed - comments, blank lines, other groups and entries, even lines we cannot read - is
// written back exactly as it was.
class MimeAppsList
{
public:
    // The user's list: $XDG_CONFIG_HOME/mimeapps.list.
    static QString userPath();

    // A missing file is an empty list; nullopt when the file exists but cannot be read.
    static std::optional<MimeAppsList> load(const QString &path);
    static MimeAppsList fromText(const QByteArray &text);

    // The value of key in group (the first one when repeated), unescaped but untrimmed of ';'.
    std::optional<QString> value(const QString &group, const QString &key) const;
    // The first desktop id listed for key in group; empty when none.
    QString firstEntry(const QString &group, const QString &key) const;
    // Replaces the key's line where it stands, or adds it at the end of the group (the group is
    // added at the end of the file when missing).
    void setValue(const QString &group, const QString &key, const QString &value);
    // Removes every line of key in group; true when there was one.
    bool remove(const QString &group, const QString &key);

    QByteArray text() const;
    // Replaces the file atomically; a failure leaves its previous content. A file whose write
    // permission bits were all taken away is left alone (false).
    bool save(const QString &path) const;

private:
    // Index of the key's line in group, or -1; groupEnd receives the index after the group's
    // last non-blank line (or -1 when the group is missing).
    qsizetype find(const QString &group, const QString &key, qsizetype *groupEnd = nullptr) const;

    QList<QByteArray> m_lines; // as in the file, without line ends
    bool m_finalNewline = true;
};

} // namespace qmt
