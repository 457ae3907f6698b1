#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

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
// Inside quotes a backslash escapes \\ \" \n \r \t and \xHH. Keys are written in full, parents
// before children; a section also creates the parents it names. Names compare
// case-insensitively and keep the case they were first written with.
class RegistryHive
{
public:
    explicit RegistryHive(RegistryRoot root = RegistryRoot::LocalMachine);

    // nullopt (with a reason) when the text is not a hive of this root.
    static std::optional<RegistryHive> parse(RegistryRoot root, const QByteArray &data,
                                             QString *error = nullptr);
    QByteArray serialize() const;

    RegistryRoot root() const { return m_root; }

    // Paths are lists of key names below the root; the empty list is the root itself.
    bool hasKey(const QStringList &path) const;
    // Creates the key and its missing parents.
    void createKey(const QStringList &path);
    std::optional<RegistryValue> value(const QStringList &path, const QString &name) const;
    void setValue(const QStringList &path, const QString &name, const RegistryValue &value);
    RegistryError deleteValue(const QStringList &path, const QString &name);
    RegistryError deleteKey(const QStringList &path, bool recursive);
    // Names of the direct sub-keys, in the order they were created (written case).
    std::optional<QStringList> subKeys(const QStringList &path) const;
    std::optional<QStringList> valueNames(const QStringList &path) const;

    // Files beyond this size are not registry files of ours and count as damaged.
    static constexpr qsizetype kMaxFileSize = 32 * 1024 * 1024;

    // A key name the file format and the registry accept.
    static bool isValidKeyName(const QString &name);

private:
    struct NamedValue {
        QString name;
        RegistryValue value;
    };
    struct Key {
        QStringList path; // written case
        QList<NamedValue> values;
    };

    static QString foldPath(const QStringList &path);
    int indexOf(const QStringList &path) const;
    void reindex();

    RegistryRoot m_root;
    QList<Key> m_keys; // m_keys[0] is the root
    QHash<QString, int> m_index;
};

} // namespace qmt
