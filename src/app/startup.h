#pragma once

#include <QString>
#include <QStringList>

namespace qmt {

// What one start of the program does with its command line.
struct StartupDecision {
    enum Action {
        RemoveAssociations, // "/DeAssociate": give the types back, then end
        CheckAssociations,  // "/Associate": check (and maybe ask), then end
        OpenViewer,         // an existing file: the viewer on it, the browser hidden
        BrowseFolder,       // an existing folder or "/": the browser listing it
        Browse,             // anything else: the browser on the desktop folder
    };
    Action action = Browse;
    // Whether the ordinary association check runs before the window appears.
    bool checkAssociations = true;
    // For OpenViewer and BrowseFolder: the path, absolute and without doubled separators.
    QString path;

    bool endsAtOnce() const { return action == RemoveAssociations || action == CheckAssociations; }
};

// The command line as the program keeps it: its arguments after the program name joined with
// single spaces, so that an unquoted path with spaces still names one file.
QString commandLineFrom(const QStringList &arguments);

// The switches are compared exactly (case included); everything else is a path or nothing.
StartupDecision decideStartup(const QString &commandLine);

// Whether the command line names something on disk: "/" always, "" never, anything else when an
// entry of that name exists; "*" and "?" in the last part act as a pattern.
bool PathExists(const QString &path);

// The index of the first entry equal to path (case-sensitive), or 0 when none is. Only the first
// 32768 entries are searched, as indexes are 16-bit.
int FindImageIndex(const QStringList &list, const QString &path);

// The path up to, not including, its last "/"; "" for "/" and for a name with no folder.
QString parentFolderName(const QString &path);

// The folder of the program file, where its data files sit; with no trailing "/".
QString programFolder();

// The list the viewer gets for a file named on the command line: the folder's list with the file
// put in its name-ordered place when the folder's list does not carry it (a type the browser
// does not list, a name in another case), so the viewer always shows the file asked for.
struct ViewerStart {
    QStringList list;
    int index = 0;
};
ViewerStart viewerStartFor(const QString &file, QStringList folderList);

// Starts loading, on a worker thread, what the first windows need and every start pays for
// once: the font database and Qt's image format plugins. The main thread meanwhile builds the
// windows; whichever comes to them first loads them, the other waits.
void warmUpInBackground();

// Name order of the browser: case-insensitive, digits compared as numbers, ties broken by plain
// comparison so that the order is total.
bool nameLess(const QString &a, const QString &b);

} // namespace qmt
