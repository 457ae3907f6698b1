#pragma once

#include <QColor>
#include <QString>
#include <QStringList>

#include <optional>

class QPrinter;

namespace qmt {

enum class PromptIcon { None, Information, Exclamation, Critical, Question };
enum class PromptButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class PromptAnswer { Ok, Cancel, Yes, No };
enum class ReplaceAnswer { Replace, Skip, Cancel };

// What a file dialog is asked to show. Filters are in Qt's form ("JPG (*.jpg *.jpeg)"), and
// filterIndex is 1-based like the dialogs the windows were designed around.
struct FileDialogRequest {
    QString title;
    QString directory;
    QString fileName;
    QStringList filters;
    int filterIndex = 1;
    QString defaultSuffix;
    bool multiple = false;
};

struct FileDialogResult {
    QStringList files;
    int filterIndex = 1;
};

// Every modal question the program asks goes through this interface: the program answers with
// Qt dialogs, the tests with a script that records each question.
class AbstractPrompts
{
public:
    virtual ~AbstractPrompts() = default;

    // An empty title means the application title.
    virtual PromptAnswer message(const QString &text, PromptIcon icon, PromptButtons buttons,
                                 const QString &title = QString()) = 0;
    // The plain input box; nullopt when cancelled.
    virtual std::optional<QString> input(const QString &prompt, const QString &title,
                                         const QString &defaultText = QString()) = 0;
    virtual std::optional<FileDialogResult> openFiles(const FileDialogRequest &request) = 0;
    // The save dialog asks before replacing an existing file.
    virtual std::optional<FileDialogResult> saveFile(const FileDialogRequest &request) = 0;
    virtual std::optional<QColor> color(const QColor &initial, const QString &title) = 0;
    // The print dialog; on OK the printer carries the chosen printer, range and pages.
    virtual bool print(QPrinter &printer, int minPage, int maxPage) = 0;
    virtual bool pageSetup(QPrinter &printer) = 0;
    // A file operation found its target already there.
    virtual ReplaceAnswer confirmReplace(const QString &target, const QString &source) = 0;
};

// The prompts in force. Until the application installs its own, every question is answered
// "Cancel" (or "No"), so that nothing outside the application can wait for a person.
AbstractPrompts &prompts();
// Installs prompts (not owned); nullptr brings back the refusing default.
void setPrompts(AbstractPrompts *prompts);

// The title of message boxes that name none.
QString applicationTitle();

} // namespace qmt
