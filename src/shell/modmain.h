#pragma once

#include <QString>

namespace qmt {

// Shell special folders the program asks for.
enum SpecialFolder { CsidlDesktop = 0, CsidlPersonal = 5, CsidlMyPictures = 39 };

// The folder of a special folder id with a trailing "/", or "" when the folder does not exist on
// this machine (many installations have no desktop folder).
QString GetSpecialFolder(int id);

// The program's per-user data folder (created on demand), with a trailing "/". The wallpaper
// copy is written here.
QString GetWindowsFolder();

// The extension and format code of a position (1..10) of the Save As filter. A position outside
// the table gives "" and leaves formatCode untouched.
QString GetSaveFormat(int position, int &formatCode);

// Whether the extension of path is one of the picture types the program recognises. The test is
// a substring match against the type list, as the drop handler has always done.
bool IsImageFile(const QString &path);

// File attributes in the classic bit layout, from what Linux knows of the entry: read-only 1
// (not writable), hidden 2 (name starts with "."), system 4 (never), directory 16, archive 32
// (a regular file). -1 when the entry does not exist.
int fileAttributes(const QString &path);

} // namespace qmt
