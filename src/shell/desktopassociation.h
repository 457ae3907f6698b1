#pragma once

#include <QByteArray>
#include <QLatin1String>
#include <QString>

namespace qmt {

// The desktop's side of the file-type association (freedesktop specifications): the user's copy
// of the program's desktop entry, MIME definitions for the types the system's database lacks,
// and the default application of each MIME type in the user's mimeapps.list. The default that
// was there before is kept in the registry store (HKEY_CURRENT_USER, kPreviousDefaultsKey, one
// value per MIME type) so that it can be given back.
class DesktopAssociation
{
public:
    static constexpr QLatin1String kDesktopId{"pictavo.desktop"};
    static constexpr QLatin1String kPreviousDefaultsKey{
        "Software\\Karvendel\\Pictavo\\Previous Default Applications"};
    // What install() found before it wrote its files, to be put back by uninstall(): "Entry
    // Before" holds another program's entry of the same name, "Applications Folder Created" and
    // "MIME Folder Created" say that the folders were made for our files.
    static constexpr QLatin1String kInstalledFilesKey{
        "Software\\Karvendel\\Pictavo\\Installed Desktop Files"};

    // $XDG_DATA_HOME/applications/pictavo.desktop
    static QString desktopEntryPath();
    // $XDG_DATA_HOME/mime/packages/pictavo.xml
    static QString mimePackagePath();

    // The desktop entry that starts programFile with the opened file.
    static QByteArray desktopEntryText(const QString &programFile);
    // The Exec value that starts programFile with one file: the path is quoted only when it holds
    // a character the freedesktop desktop entry format reserves, since some launchers (xdg-utils)
    // cannot start a quoted program at all.
    static QString execValue(const QString &programFile);
    // The program an entry's Exec key starts, quoting and escapes undone; empty when none.
    static QString execProgram(const QByteArray &entryText);
    // The entry's icon: the program's picture beside it when there is one, else the name the
    // installed icon has in the icon theme.
    static QString iconFor(const QString &programFile);
    // Definitions for the program's MIME types the system's database does not know (always
    // ".tla"); empty when it knows them all.
    static QByteArray mimePackageText();
    // Whether the system's MIME database (outside the user's own folder) defines the type.
    static bool systemKnowsMimeType(const QString &mimeType);

    // Writes the desktop entry and the MIME definitions where they differ from what is there,
    // then refreshes the desktop's caches for what changed. Another program's entry of the same
    // name is kept to be put back (and left in place when it cannot be kept).
    void install(const QString &programFile);
    // Takes back what install() put in place once no type opens with this program any more: our
    // entry is removed (or the one that was there before is put back), the MIME definitions are
    // removed, folders made only for them go, and the desktop's caches are refreshed.
    void uninstall(const QString &programFile);

    // True when the user's mimeapps.list makes this program the type's default.
    bool isDefault(const QString &mimeType) const;
    // Whether a previous default is kept for the type: this program made itself its default and
    // has not given it back since.
    bool hasKeptDefault(const QString &mimeType) const;
    // Makes this program the default, keeping the previous default. False when nothing changed
    // (the list could not be read or written, or the previous default could not be kept).
    bool makeDefault(const QString &mimeType);
    // When this program is still the default, gives the type back to the kept default (or to no
    // entry of the user's own). A type another application has taken is left alone (false).
    bool restoreDefault(const QString &mimeType);
};

} // namespace qmt
