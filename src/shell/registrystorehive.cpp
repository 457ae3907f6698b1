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

constexpr qsizetype kLinearValueSearch = 16; // keys with more values keep a hash of their names

QString folded(const QString &name)
{
    return name.toCaseFolded();
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
std::optional<QString> readQuoted(QStringView line, qsizetype &pos)
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

void skipSpaces(QStringView line, qsizetype &pos)
{
    while (pos < line.size() && (line[pos] == u' ' || line[pos] == u'\t'))
        ++pos;
}

bool onlySpacesLeft(QStringView line, qsizetype pos)
{
    skipSpaces(line, pos);
    return pos == line.size();
}

// "01,02,ff" as bytes; an empty list is no bytes.
std::optional<QByteArray> readBytes(QStringView list)
{
    QByteArray bytes;
    if (list.isEmpty())
        return bytes;
    bytes.reserve(list.size() / 3 + 1);
    for (const QStringView item : list.tokenize(u',')) {
        const QStringView b = item.trimmed();
        if (b.size() != 2 || hexDigit(b[0]) < 0 || hexDigit(b[1]) < 0)
            return std::nullopt;
        bytes.append(char(hexDigit(b[0]) * 16 + hexDigit(b[1])));
    }
    return bytes;
}

std::optional<RegistryValue> readData(QStringView line, qsizetype pos)
{
    const QStringView rest = line.mid(pos);
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
        const QStringView digits = rest.mid(6).trimmed();
        bool ok = false;
        const uint number = digits.toUInt(&ok, 16);
        if (!ok || digits.isEmpty() || digits.size() > 8 || digits.startsWith(u'+'))
            return std::nullopt;
        return RegistryValue::dword(number);
    }
    if (rest.startsWith(QLatin1String("hex:"), Qt::CaseInsensitive)) {
        auto bytes = readBytes(rest.mid(4).trimmed());
        if (!bytes)
            return std::nullopt;
        return RegistryValue::binary(*bytes);
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
    case RegistryError::TooLarge:
        return QStringLiteral("The registry file would grow beyond its size limit.");
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
    m_keys.emplace_back();
}

bool RegistryHive::isValidKeyName(QStringView name)
{
    if (name.isEmpty() || name.size() > kMaxKeyNameLength)
        return false;
    for (const QChar c : name)
        if (c == u'\\' || c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    return true;
}

int RegistryHive::child(int parent, const QString &name) const
{
    return m_children.value({parent, folded(name)}, -1);
}

int RegistryHive::find(const QStringList &path) const
{
    int at = 0;
    for (const QString &name : path) {
        at = child(at, name);
        if (at < 0)
            return -1;
    }
    return at;
}

int RegistryHive::makeChild(int parent, const QString &name, RegistryError *error)
{
    const std::pair<int, QString> slot{parent, folded(name)};
    const auto found = m_children.constFind(slot);
    if (found != m_children.cend())
        return found.value();
    const int depth = m_keys[parent].depth + 1;
    if (depth > kMaxDepth) {
        *error = RegistryError::InvalidName;
        return -1;
    }
    if (keyCount() >= kMaxKeys) {
        *error = RegistryError::TooLarge;
        return -1;
    }
    const int at = int(m_keys.size());
    Key key;
    key.name = name;
    key.parent = parent;
    key.depth = depth;
    m_keys.push_back(std::move(key));
    m_keys[parent].children.append(at);
    m_children.insert(slot, at);
    return at;
}

int RegistryHive::make(const QStringList &path, RegistryError *error)
{
    if (path.size() > kMaxDepth) {
        *error = RegistryError::InvalidName;
        return -1;
    }
    int at = 0;
    for (const QString &name : path) {
        at = makeChild(at, name, error);
        if (at < 0)
            return -1;
    }
    return at;
}

qsizetype RegistryHive::valuePosition(const Key &key, const QString &name) const
{
    if (!key.valueIndex.isEmpty())
        return key.valueIndex.value(folded(name), -1);
    for (qsizetype i = 0; i < key.values.size(); ++i)
        if (key.values[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

void RegistryHive::reindexValues(Key &key)
{
    key.valueIndex.clear();
    if (key.values.size() <= kLinearValueSearch)
        return;
    key.valueIndex.reserve(key.values.size());
    for (qsizetype i = 0; i < key.values.size(); ++i)
        key.valueIndex.insert(folded(key.values[i].name), i);
}

RegistryError RegistryHive::assign(int at, const QString &name, const RegistryValue &value)
{
    Key &key = m_keys[at];
    const qsizetype position = valuePosition(key, name);
    if (position >= 0) {
        key.values[position].value = value;
        return RegistryError::None;
    }
    if (m_valueCount >= kMaxValues)
        return RegistryError::TooLarge;
    key.values.append(NamedValue{name, value});
    ++m_valueCount;
    if (!key.valueIndex.isEmpty())
        key.valueIndex.insert(folded(name), key.values.size() - 1);
    else if (key.values.size() > kLinearValueSearch)
        reindexValues(key);
    return RegistryError::None;
}

bool RegistryHive::hasKey(const QStringList &path) const
{
    return find(path) >= 0;
}

RegistryError RegistryHive::createKey(const QStringList &path)
{
    RegistryError error = RegistryError::None;
    make(path, &error);
    return error;
}

std::optional<RegistryValue> RegistryHive::value(const QStringList &path, const QString &name) const
{
    const int at = find(path);
    if (at < 0)
        return std::nullopt;
    const qsizetype position = valuePosition(m_keys[at], name);
    if (position < 0)
        return std::nullopt;
    return m_keys[at].values[position].value;
}

RegistryError RegistryHive::setValue(const QStringList &path, const QString &name,
                                     const RegistryValue &value)
{
    RegistryError error = RegistryError::None;
    const int at = make(path, &error);
    if (at < 0)
        return error;
    return assign(at, name, value);
}

RegistryError RegistryHive::deleteValue(const QStringList &path, const QString &name)
{
    const int at = find(path);
    if (at < 0)
        return RegistryError::NotFound;
    Key &key = m_keys[at];
    const qsizetype position = valuePosition(key, name);
    if (position < 0)
        return RegistryError::NotFound;
    key.values.removeAt(position);
    --m_valueCount;
    reindexValues(key);
    return RegistryError::None;
}

RegistryError RegistryHive::deleteKey(const QStringList &path, bool recursive)
{
    if (path.isEmpty())
        return RegistryError::InvalidName; // a root cannot be deleted
    const int at = find(path);
    if (at < 0)
        return RegistryError::NotFound;
    if (!m_keys[at].children.isEmpty() && !recursive)
        return RegistryError::HasSubKeys;

    // Mark the key and everything below it, then keep the rest in their order with new numbers.
    std::vector<bool> removed(m_keys.size(), false);
    std::vector<int> pending{at};
    while (!pending.empty()) {
        const int key = pending.back();
        pending.pop_back();
        removed[size_t(key)] = true;
        for (const int c : m_keys[size_t(key)].children)
            pending.push_back(c);
    }
    std::vector<int> renumbered(m_keys.size(), -1);
    std::vector<Key> kept;
    for (size_t i = 0; i < m_keys.size(); ++i) {
        if (removed[i]) {
            m_valueCount -= m_keys[i].values.size();
            continue;
        }
        renumbered[i] = int(kept.size());
        kept.push_back(std::move(m_keys[i]));
    }
    m_children.clear();
    for (size_t i = 0; i < kept.size(); ++i) {
        Key &key = kept[i];
        if (key.parent >= 0) {
            key.parent = renumbered[size_t(key.parent)];
            m_children.insert({key.parent, folded(key.name)}, int(i));
        }
        key.children.removeIf([&](int c) { return removed[size_t(c)]; });
        for (int &c : key.children)
            c = renumbered[size_t(c)];
    }
    m_keys = std::move(kept);
    return RegistryError::None;
}

std::optional<QStringList> RegistryHive::subKeys(const QStringList &path) const
{
    const int at = find(path);
    if (at < 0)
        return std::nullopt;
    QStringList names;
    names.reserve(m_keys[at].children.size());
    for (const int c : m_keys[at].children)
        names.append(m_keys[c].name);
    return names;
}

std::optional<QStringList> RegistryHive::valueNames(const QStringList &path) const
{
    const int at = find(path);
    if (at < 0)
        return std::nullopt;
    QStringList names;
    names.reserve(m_keys[at].values.size());
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
    auto writeKey = [&](const Key &key, const QString &path) {
        out += QStringLiteral("\n[") + path + QStringLiteral("]\n");
        for (const NamedValue &v : key.values) {
            out += v.name.isEmpty() ? QStringLiteral("@") : escaped(v.name);
            out += u'=' + dataText(v.value) + u'\n';
        }
    };
    if (!m_keys[0].values.isEmpty())
        writeKey(m_keys[0], rootName);

    // Parents before children, each key's sub-keys in their order, so that reading the text back
    // creates every key in the same place. The path grows and shrinks with the walk.
    struct Step {
        int key;
        qsizetype next;
        qsizetype pathLength;
    };
    QString path = rootName;
    std::vector<Step> walk{{0, 0, path.size()}};
    while (!walk.empty()) {
        Step &step = walk.back();
        const Key &key = m_keys[size_t(step.key)];
        if (step.next >= key.children.size()) {
            walk.pop_back();
            continue;
        }
        const int c = key.children[step.next++];
        path.truncate(step.pathLength);
        path += u'\\' + m_keys[size_t(c)].name;
        const Key &sub = m_keys[size_t(c)];
        // A key without values is named by the sections of its sub-keys.
        if (!sub.values.isEmpty() || sub.children.isEmpty())
            writeKey(sub, path);
        walk.push_back({c, 0, path.size()});
    }
    return out.toUtf8();
}

bool RegistryHive::parseLine(QStringView line, int &current, QString *why)
{
    if (line.startsWith(u'[')) {
        if (!line.endsWith(u']')) {
            *why = QStringLiteral("unterminated key");
            return false;
        }
        const QString rootName = registryRootName(m_root);
        int at = -1;
        for (const QStringView name : line.mid(1, line.size() - 2).tokenize(u'\\')) {
            if (at < 0) {
                if (name.compare(rootName, Qt::CaseInsensitive) != 0) {
                    *why = QStringLiteral("key outside %1").arg(rootName);
                    return false;
                }
                at = 0;
                continue;
            }
            if (!isValidKeyName(name)) {
                *why = QStringLiteral("invalid key name");
                return false;
            }
            RegistryError error = RegistryError::None;
            at = makeChild(at, name.toString(), &error);
            if (at < 0) {
                *why = error == RegistryError::TooLarge
                           ? QStringLiteral("more than %1 keys").arg(kMaxKeys)
                           : QStringLiteral("keys nested deeper than %1 levels").arg(kMaxDepth);
                return false;
            }
        }
        current = at;
        return true;
    }
    if (current < 0) {
        *why = QStringLiteral("value outside any key");
        return false;
    }
    qsizetype pos = 0;
    QString name;
    if (line.startsWith(u'@')) {
        pos = 1;
    } else {
        auto quoted = readQuoted(line, pos);
        if (!quoted) {
            *why = QStringLiteral("invalid value name");
            return false;
        }
        name = *quoted;
    }
    skipSpaces(line, pos);
    if (pos >= line.size() || line[pos] != u'=') {
        *why = QStringLiteral("'=' expected");
        return false;
    }
    ++pos;
    skipSpaces(line, pos);
    auto value = readData(line, pos);
    if (!value) {
        *why = QStringLiteral("invalid value data");
        return false;
    }
    if (assign(current, name, *value) != RegistryError::None) {
        *why = QStringLiteral("more than %1 values").arg(kMaxValues);
        return false;
    }
    return true;
}

std::optional<RegistryHive> RegistryHive::parse(RegistryRoot root, const QByteArray &data,
                                                QString *error)
{
    auto fail = [error](qsizetype lineNumber, const QString &why) -> std::optional<RegistryHive> {
        if (error)
            *error = lineNumber > 0 ? QStringLiteral("line %1: %2").arg(lineNumber).arg(why) : why;
        return std::nullopt;
    };
    if (registryRootName(root).isEmpty())
        return fail(0, QStringLiteral("unknown root"));
    if (data.size() > RegistryHive::kMaxFileSize)
        return fail(0, QStringLiteral("file too large"));
    QByteArrayView bytes(data);
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes = bytes.sliced(3);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    if (decoder.hasError())
        return fail(0, QStringLiteral("not UTF-8 text"));
    if (text.contains(QChar(u'\0')))
        return fail(0, QStringLiteral("binary data"));

    RegistryHive hive(root);
    int current = -1;
    bool first = true;
    qsizetype lineNumber = 0;
    for (const QStringView raw : QStringView(text).tokenize(u'\n')) {
        ++lineNumber;
        const QStringView line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
            continue;
        if (first && line == QLatin1String(kHeader)) {
            first = false;
            continue;
        }
        first = false;
        QString why;
        if (!hive.parseLine(line, current, &why))
            return fail(lineNumber, why);
    }
    return hive;
}

} // namespace qmt
