#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace qmt::viewer {

// The Open dialog's file types, in the pipe-separated form the window was designed with.
extern const char *const kOpenFilter;
// The Save As dialog's ten file types, in the order of the save-format table.
extern const char *const kSaveFilter;

// Turns "Desc|*.a;*.b|Other|*.c" into Qt's filter form: {"Desc (*.a *.b)", "Other (*.c)"}.
QStringList qtFilters(const QString &pipeFilter);

// A byte count the way the status bar shows it: "1023 Bytes", "1. KB", "1.5 KB", "1. MB".
QString FormatSize(double bytes);

// The Save As position (1..10) for the format code of the shown file; 0 when the format
// cannot be saved (the dialog keeps its position).
int saveFilterPositionForFormat(int formatCode);
// The extension and format code of a Save As position; "" and the code untouched outside 1..10.
QString saveFormatForPosition(int position, int &formatCode);

// Files a drop or a listing may show: the extension (lower case) must occur in the list of
// recognised types.
bool isViewableImageFile(const QString &path);
// True when the file takes the platform picture loader (icons, cursors, headerless bitmaps).
bool takesPicturePath(const QString &path);

// Boolean settings: any non-zero number is true, the words true/false by name; anything else
// gives the default.
bool settingToBool(const QString &text, bool defaultValue);
// "Slide Show Delay" as stored: a whole number 0..65535; anything else gives the default.
int delayFromSetting(const QString &text, int defaultValue);

// The delay typed in the prompt. nullopt: not a number (nothing is done). The value is rounded
// the way the timer takes it (halves to even); it may lie outside the timer's range.
std::optional<qint64> delayFromAnswer(const QString &text);
constexpr qint64 kMaxTimerInterval = 65535;

// "NAME- Pictavo MAJOR.MINOR", with the version of the build
QString windowCaption(const QString &path);

} // namespace qmt::viewer
