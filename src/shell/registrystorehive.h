#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

namespace qmt {

// The registry roots the program uses, with their traditional handle values.
enum class RegistryRoot : quint32 {
    ClassesRoot = 0x80000000u,
    CurrentUser = 0x80000001u,
    LocalMachine = 0x80000002u,
};

inline constexpr RegistryRoot HKEY_CLASSES_ROOT = RegistryRoot::ClassesRoot;
inline constexpr RegistryRoot HKEY_CURRENT_USER = RegistryRoot::CurrentUser;
inline constexpr RegistryRoot HKEY_LOCAL_MACHINE = RegistryRoot::LocalMachine;

// "HKEY_CLASSES_ROOT" and so on; empty for a value that is no root we keep.
QString registryRootName(RegistryRoot root);

enum class RegistryError {
    None,
    NotFound,     // the key or value does not exist
    AccessDenied, // the registry folder or the root's file is not writable
    InvalidRoot,
    InvalidName, // an empty or over-long key name, or one with control characters
    HasSubKeys,  // a key with sub-keys was to be deleted without its sub-keys
    Busy,        // another process held the lock for too long
    WriteFailed, // the file could not be read back or replaced; it keeps its previous content
    TooLarge,    // the change would take the root beyond the size limits of its file
};

QString registryErrorText(RegistryError error);

// One value's data. A binary value without bytes is a value with no data at all.
struct RegistryValue {
    enum class Type { String, ExpandString, DWord, Binary };

    Type type = Type::String;
    QString text;       // String, ExpandString
    quint32 number = 0; // DWord
    QByteArray bytes;   // Binary

    static RegistryValue string(const QString &text) { return {Type::String, text, 0, {}}; }
    static RegistryValue expandString(const QString &text)
    {
        return {Type::ExpandString, text, 0, {}};
    }
    static RegistryValue dword(quint32 number) { return {Type::DWord, {}, number, {}}; }
    static RegistryValue binary(const QByteArray &bytes) { return {Type::Binary, {}, 0, bytes}; }

    // Size of the data as the registry would report it (strings count their terminating null).
    qsizetype dataSize() const;
    // The data read as text, cut at its first null character (a number in decimal).
    QString toText() const;

    friend bool operator==(const RegistryValue &, const RegistryValue &) = default;
};

// The keys and values of one root, with the text form of its file:
//
//   Pictavo Registry 1
//   ; comment
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Karvendel\Pictavo Settings]
//   @="default value"
//   "AntiAlias"="-1"
//   "Path"=expand:"%HOME%\\pictures"
//   "Count"=dword:0000002a
//   "Raw"=hex:01,02,ff
//
// Inside quotes a backslash escapes \\ \" \n \r \t and \xHH. A section creates the parents it
// names, so a key without values is written only when it has no sub-keys either. Names compare
// case-insensitively and keep the case they were first written with.
//
// The keys form a tree; a key finds a sub-key or a value by its folded name in a hash, so reading
// a file and every change cost time in proportion to what they touch. The limits below keep a
// hand-made or hostile file from taking the program's memory: a file beyond any of them is not
// a registry file of ours, and a change that would pass one is refused.
class RegistryHive
{
public:
    explicit RegistryHive(RegistryRoot root = RegistryRoot::LocalMachine);

    // nullopt (with a reason) when the text is not a hive of this root or passes a limit.
    static std::optional<RegistryHive> parse(RegistryRoot root, const QByteArray &data,
                                             QString *error = nullptr);
    QByteArray serialize() const;

    RegistryRoot root() const { return m_root; }

    // Paths are lists of key names below the root; the empty list is the root itself.
    bool hasKey(const QStringList &path) const;
    // Creates the key and its missing parents: InvalidName beyond kMaxDepth, TooLarge beyond
    // kMaxKeys.
    RegistryError createKey(const QStringList &path);
    std::optional<RegistryValue> value(const QStringList &path, const QString &name) const;
    // Creates the key when missing; TooLarge beyond kMaxValues.
    RegistryError setValue(const QStringList &path, const QString &name,
                           const RegistryValue &value);
    RegistryError deleteValue(const QStringList &path, const QString &name);
    RegistryError deleteKey(const QStringList &path, bool recursive);
    // Names of the direct sub-keys, in the order they were created (written case).
    std::optional<QStringList> subKeys(const QStringList &path) const;
    std::optional<QStringList> valueNames(const QStringList &path) const;

    // Keys below the root, and values in all keys.
    qsizetype keyCount() const { return qsizetype(m_keys.size()) - 1; }
    qsizetype valueCount() const { return m_valueCount; }

    // The program keeps a handful of settings and association records: 16 MiB of text, 100,000
    // keys or 200,000 values are far beyond anything it writes. Keys nest at most 512 levels,
    // as in the Windows registry.
    static constexpr qsizetype kMaxFileSize = 16 * 1024 * 1024;
    static constexpr qsizetype kMaxKeys = 100000;
    static constexpr qsizetype kMaxValues = 200000;
    static constexpr int kMaxDepth = 512;

    // A key name the file format and the registry accept.
    static bool isValidKeyName(QStringView name);

private:
    struct NamedValue {
        QString name;
        RegistryValue value;
    };
    struct Key {
        QString name; // written case; empty for the root
        int parent = -1;
        int depth = 0;
        QList<int> children;      // in the order they were created
        QList<NamedValue> values; // in the order they were created
        // Folded value name -> position in values, kept only for keys with many values.
        QHash<QString, qsizetype> valueIndex;
    };

    int find(const QStringList &path) const;
    int child(int parent, const QString &name) const;
    // The sub-key `name` of `parent`, made when missing; -1 with the reason when a limit refuses.
    int makeChild(int parent, const QString &name, RegistryError *error);
    int make(const QStringList &path, RegistryError *error);
    qsizetype valuePosition(const Key &key, const QString &name) const;
    RegistryError assign(int key, const QString &name, const RegistryValue &value);
    static void reindexValues(Key &key);
    // Adds one line of the text form; false with the reason when it is not valid.
    bool parseLine(QStringView line, int &current, QString *why);

    RegistryRoot m_root;
    std::vector<Key> m_keys;                        // m_keys[0] is the root
    QHash<std::pair<int, QString>, int> m_children; // (parent, folded name) -> key
    qsizetype m_valueCount = 0;
};

} // namespace qmt
