#include "shell/registrystorehive.h"

#include <QStringDecoder>

namespace qmt {
namespace {

constexpr auto kHeader = "Pictavo Registry 1";
constexpr qsizetype kMaxKeyNameLength = 255;

QString escaped(const QString &text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += u'"';
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '"':
            out += QLatin1String("\\\"");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x7f)
                out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += u'"';
    return out;
}

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// Reads a quoted string starting at line[pos] == '"'; pos ends after the closing quote.
std::optional<QString> readQuoted(const QString &line, qsizetype &pos)
{
    if (pos >= line.size() || line[pos] != u'"')
        return std::nullopt;
    QString out;
    ++pos;
    while (pos < line.size()) {
        const QChar c = line[pos++];
        if (c == u'"')
            return out;
        if (c != u'\\') {
            out += c;
            continue;
        }
        if (pos >= line.size())
            return std::nullopt;
        const QChar e = line[pos++];
        switch (e.unicode()) {
        case '\\':
            out += u'\\';
            break;
        case '"':
            out += u'"';
            break;
        case 'n':
            out += u'\n';
            break;
        case 'r':
            out += u'\r';
            break;
        case 't':
            out += u'\t';
            break;
        case 'x': {
            if (pos + 2 > line.size())
                return std::nullopt;
            const int hi = hexDigit(line[pos]);
            const int lo = hexDigit(line[pos + 1]);
            if (hi < 0 || lo < 0)
                return std::nullopt;
            out += QChar(char16_t(hi * 16 + lo));
            pos += 2;
            break;
        }
        default:
            return std::nullopt;
        }
    }
    return std::nullopt; // no closing quote
}

void skipSpaces(const QString &line, qsizetype &pos)
{
    while (pos < line.size() && (line[pos] == u' ' || line[pos] == u'\t'))
        ++pos;
}

bool onlySpacesLeft(const QString &line, qsizetype pos)
{
    skipSpaces(line, pos);
    return pos == line.size();
}

std::optional<RegistryValue> readData(const QString &line, qsizetype pos)
{
    const QStringView rest = QStringView(line).mid(pos);
    if (rest.startsWith(u'"')) {
        auto text = readQuoted(line, pos);
        if (!text || !onlySpacesLeft(line, pos))
            return std::nullopt;
        return RegistryValue::string(*text);
    }
    if (rest.startsWith(QLatin1String("expand:"), Qt::CaseInsensitive)) {
        pos += 7;
        auto text = readQuoted(line, pos);
        if (!text || !onlySpacesLeft(line, pos))
            return std::nullopt;
        return RegistryValue::expandString(*text);
    }
    if (rest.startsWith(QLatin1String("dword:"), Qt::CaseInsensitive)) {
        const QString digits = rest.mid(6).trimmed().toString();
        bool ok = false;
        const uint number = digits.toUInt(&ok, 16);
        if (!ok || digits.isEmpty() || digits.size() > 8 || digits.startsWith(u'+'))
            return std::nullopt;
        return RegistryValue::dword(number);
    }
    if (rest.startsWith(QLatin1String("hex:"), Qt::CaseInsensitive)) {
        QByteArray bytes;
        const QString list = rest.mid(4).trimmed().toString();
        if (!list.isEmpty()) {
            for (const QString &item : list.split(u',')) {
                const QString b = item.trimmed();
                if (b.size() != 2 || hexDigit(b[0]) < 0 || hexDigit(b[1]) < 0)
                    return std::nullopt;
                bytes.append(char(hexDigit(b[0]) * 16 + hexDigit(b[1])));
            }
        }
        return RegistryValue::binary(bytes);
    }
    return std::nullopt;
}

QString dataText(const RegistryValue &value)
{
    switch (value.type) {
    case RegistryValue::Type::String:
        return escaped(value.text);
    case RegistryValue::Type::ExpandString:
        return QStringLiteral("expand:") + escaped(value.text);
    case RegistryValue::Type::DWord:
        return QStringLiteral("dword:%1").arg(value.number, 8, 16, QLatin1Char('0'));
    case RegistryValue::Type::Binary: {
        QStringList parts;
        for (const char b : value.bytes)
            parts << QStringLiteral("%1").arg(uchar(b), 2, 16, QLatin1Char('0'));
        return QStringLiteral("hex:") + parts.join(u',');
    }
    }
    return QString();
}

} // namespace

QString registryRootName(RegistryRoot root)
{
    switch (root) {
    case RegistryRoot::ClassesRoot:
        return QStringLiteral("HKEY_CLASSES_ROOT");
    case RegistryRoot::CurrentUser:
        return QStringLiteral("HKEY_CURRENT_USER");
    case RegistryRoot::LocalMachine:
        return QStringLiteral("HKEY_LOCAL_MACHINE");
    }
    return QString();
}

QString registryErrorText(RegistryError error)
{
    switch (error) {
    case RegistryError::None:
        return QString();
    case RegistryError::NotFound:
        return QStringLiteral("The registry key or value does not exist.");
    case RegistryError::AccessDenied:
        return QStringLiteral(
            "Access to the registry is denied: its folder or file is not writable.");
    case RegistryError::InvalidRoot:
        return QStringLiteral("The registry root is not known.");
    case RegistryError::InvalidName:
        return QStringLiteral("The registry key name is not valid.");
    case RegistryError::HasSubKeys:
        return QStringLiteral("The registry key has sub-keys.");
    case RegistryError::Busy:
        return QStringLiteral("The registry is locked by another program.");
    case RegistryError::WriteFailed:
        return QStringLiteral("The registry file could not be written.");
    }
    return QString();
}

qsizetype RegistryValue::dataSize() const
{
    switch (type) {
    case Type::String:
    case Type::ExpandString:
        return (text.size() + 1) * 2;
    case Type::DWord:
        return 4;
    case Type::Binary:
        return bytes.size();
    }
    return 0;
}

QString RegistryValue::toText() const
{
    QString out;
    switch (type) {
    case Type::String:
    case Type::ExpandString:
        out = text;
        break;
    case Type::DWord:
        return QString::number(number);
    case Type::Binary:
        out = QString::fromUtf8(bytes);
        break;
    }
    const qsizetype nul = out.indexOf(QChar(u'\0'));
    if (nul >= 0)
        out.truncate(nul);
    return out;
}

RegistryHive::RegistryHive(RegistryRoot root) : m_root(root)
{
    m_keys.append(Key{});
    reindex();
}

QString RegistryHive::foldPath(const QStringList &path)
{
    return path.join(u'\\').toCaseFolded();
}

int RegistryHive::indexOf(const QStringList &path) const
{
    return m_index.value(foldPath(path), -1);
}

void RegistryHive::reindex()
{
    m_index.clear();
    for (int i = 0; i < m_keys.size(); ++i)
        m_index.insert(foldPath(m_keys[i].path), i);
}

bool RegistryHive::isValidKeyName(const QString &name)
{
    if (name.isEmpty() || name.size() > kMaxKeyNameLength)
        return false;
    for (const QChar c : name)
        if (c == u'\\' || c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    return true;
}

bool RegistryHive::hasKey(const QStringList &path) const
{
    return indexOf(path) >= 0;
}

void RegistryHive::createKey(const QStringList &path)
{
    QStringList written;
    for (qsizetype i = 0; i < path.size(); ++i) {
        QStringList prefix = path.mid(0, i + 1);
        const int at = indexOf(prefix);
        if (at >= 0) {
            written = m_keys[at].path;
            continue;
        }
        written.append(path[i]);
        m_keys.append(Key{written, {}});
        m_index.insert(foldPath(written), int(m_keys.size() - 1));
    }
}

std::optional<RegistryValue> RegistryHive::value(const QStringList &path, const QString &name) const
{
    const int at = indexOf(path);
    if (at < 0)
        return std::nullopt;
    for (const NamedValue &v : m_keys[at].values)
        if (v.name.compare(name, Qt::CaseInsensitive) == 0)
            return v.value;
    return std::nullopt;
}

void RegistryHive::setValue(const QStringList &path, const QString &name,
                            const RegistryValue &value)
{
    createKey(path);
    Key &key = m_keys[indexOf(path)];
    for (NamedValue &v : key.values) {
        if (v.name.compare(name, Qt::CaseInsensitive) == 0) {
            v.value = value;
            return;
        }
    }
    key.values.append(NamedValue{name, value});
}

RegistryError RegistryHive::deleteValue(const QStringList &path, const QString &name)
{
    const int at = indexOf(path);
    if (at < 0)
        return RegistryError::NotFound;
    QList<NamedValue> &values = m_keys[at].values;
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (values[i].name.compare(name, Qt::CaseInsensitive) == 0) {
            values.removeAt(i);
            return RegistryError::None;
        }
    }
    return RegistryError::NotFound;
}

RegistryError RegistryHive::deleteKey(const QStringList &path, bool recursive)
{
    if (path.isEmpty())
        return RegistryError::InvalidName; // a root cannot be deleted
    const int at = indexOf(path);
    if (at < 0)
        return RegistryError::NotFound;
    const QString prefix = foldPath(path) + u'\\';
    bool hasChildren = false;
    for (const Key &key : std::as_const(m_keys))
        if (foldPath(key.path).startsWith(prefix))
            hasChildren = true;
    if (hasChildren && !recursive)
        return RegistryError::HasSubKeys;
    m_keys.removeIf([&](const Key &key) {
        const QString folded = foldPath(key.path);
        return folded == prefix.chopped(1) || folded.startsWith(prefix);
    });
    reindex();
    return RegistryError::None;
}

std::optional<QStringList> RegistryHive::subKeys(const QStringList &path) const
{
    if (indexOf(path) < 0)
        return std::nullopt;
    const QString folded = foldPath(path);
    QStringList names;
    for (const Key &key : m_keys) {
        if (key.path.size() == path.size() + 1 && foldPath(key.path.mid(0, path.size())) == folded)
            names.append(key.path.last());
    }
    return names;
}

std::optional<QStringList> RegistryHive::valueNames(const QStringList &path) const
{
    const int at = indexOf(path);
    if (at < 0)
        return std::nullopt;
    QStringList names;
    for (const NamedValue &v : m_keys[at].values)
        names.append(v.name);
    return names;
}

QByteArray RegistryHive::serialize() const
{
    const QString rootName = registryRootName(m_root);
    QString out = QLatin1String(kHeader) + u'\n';
    out += QStringLiteral("; %1 of Pictavo. One [key] per section; \"name\"=\"text\" values, "
                          "@ is the key's default value.\n")
               .arg(rootName);
    for (const Key &key : m_keys) {
        if (key.path.isEmpty() && key.values.isEmpty())
            continue;
        out += QStringLiteral("\n[") + (QStringList{rootName} + key.path).join(u'\\') +
               QStringLiteral("]\n");
        for (const NamedValue &v : key.values) {
            out += v.name.isEmpty() ? QStringLiteral("@") : escaped(v.name);
            out += QStringLiteral("=") + dataText(v.value) + QStringLiteral("\n");
        }
    }
    return out.toUtf8();
}

std::optional<RegistryHive> RegistryHive::parse(RegistryRoot root, const QByteArray &data,
                                                QString *error)
{
    auto fail = [error](qsizetype lineNumber, const QString &why) -> std::optional<RegistryHive> {
        if (error)
            *error = lineNumber > 0 ? QStringLiteral("line %1: %2").arg(lineNumber).arg(why) : why;
        return std::nullopt;
    };
    const QString rootName = registryRootName(root);
    if (rootName.isEmpty())
        return fail(0, QStringLiteral("unknown root"));
    if (data.size() > RegistryHive::kMaxFileSize)
        return fail(0, QStringLiteral("file too large"));
    QByteArray bytes = data;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    if (decoder.hasError())
        return fail(0, QStringLiteral("not UTF-8 text"));
    if (text.contains(QChar(u'\0')))
        return fail(0, QStringLiteral("binary data"));

    RegistryHive hive(root);
    std::optional<QStringList> current;
    bool first = true;
    const QStringList lines = text.split(u'\n');
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QString line = lines[n].trimmed();
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
            continue;
        if (first && line == QLatin1String(kHeader)) {
            first = false;
            continue;
        }
        first = false;
        if (line.startsWith(u'[')) {
            if (!line.endsWith(u']'))
                return fail(n + 1, QStringLiteral("unterminated key"));
            QStringList path = line.mid(1, line.size() - 2).split(u'\\');
            if (path.isEmpty() || path.first().compare(rootName, Qt::CaseInsensitive) != 0)
                return fail(n + 1, QStringLiteral("key outside %1").arg(rootName));
            path.removeFirst();
            for (const QString &name : std::as_const(path))
                if (!isValidKeyName(name))
                    return fail(n + 1, QStringLiteral("invalid key name"));
            hive.createKey(path);
            current = path;
            continue;
        }
        if (!current)
            return fail(n + 1, QStringLiteral("value outside any key"));
        qsizetype pos = 0;
        QString name;
        if (line.startsWith(u'@')) {
            pos = 1;
        } else {
            auto quoted = readQuoted(line, pos);
            if (!quoted)
                return fail(n + 1, QStringLiteral("invalid value name"));
            name = *quoted;
        }
        skipSpaces(line, pos);
        if (pos >= line.size() || line[pos] != u'=')
            return fail(n + 1, QStringLiteral("'=' expected"));
        ++pos;
        skipSpaces(line, pos);
        auto value = readData(line, pos);
        if (!value)
            return fail(n + 1, QStringLiteral("invalid value data"));
        hive.setValue(*current, name, *value);
    }
    return hive;
}

} // namespace qmt
