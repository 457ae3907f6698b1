#pragma once

#include <QByteArray>
#include <QString>

namespace qmt {

// What a second start of the program hands to the one already running before it ends: its
// command line and the folder it was started in, so that a relative path names the same file
// for the running program.
//
// On the wire (a local socket in the user's runtime folder):
//   "QMT1"                      4 bytes, the kind and version of the message
//   folder length, folder       32-bit big-endian length, then that many bytes of UTF-8
//   line length, line           32-bit big-endian length, then that many bytes of UTF-8
// The running program answers with the single byte kHandOverAccepted once the message checks.
struct HandedOverStart {
    QString workingFolder;
    QString commandLine;

    bool operator==(const HandedOverStart &other) const = default;
};

// A path is at most a few thousand bytes; a command line of several words a little more.
constexpr qsizetype kMaxHandOverField = 32 * 1024;
constexpr qsizetype kMaxHandOverMessage = 4 + 2 * (4 + kMaxHandOverField);
constexpr char kHandOverAccepted = 'A';

QByteArray encodeHandOver(const HandedOverStart &start);

enum class HandOverParse {
    Incomplete, // a correct beginning: more bytes are needed
    Complete,   // a whole message, nothing after it
    Invalid,    // never a message, whatever follows
};
// Reads bytes received so far. A message is invalid when it has another kind, a field longer
// than the limit, text that is not UTF-8 or holds a NUL, a working folder that is not absolute,
// or bytes after its end.
HandOverParse parseHandOver(const QByteArray &bytes, HandedOverStart *start);

// The command line as the running program reads it: a relative path is taken in the folder the
// second start ran in; the switches, absolute paths and the empty line are kept as they are.
QString commandLineForRunningProgram(const HandedOverStart &start);

// Hands a start over to the program listening on socketPath; true when it accepted it within
// timeoutMs. A socket that is not there yet is tried again until the time is up, as the running
// program may still be starting. A listener run by another user is never sent anything.
bool handOverStart(const QString &socketPath, const HandedOverStart &start, int timeoutMs);

// True when the other end of a connected local socket runs as this process's user.
bool peerIsThisUser(qintptr socketDescriptor);

} // namespace qmt
