#pragma once

#include "components/prompts.h"

#include <QStringList>

namespace qmt {

// The 1-based position among `offered` of the filter a file dialog reports as chosen; 0 when
// none matches. Dialogs do not hand back the text they were given: Qt's own collapses runs of
// spaces, a desktop's may drop the description or the patterns. So the filter is recognised by
// its text with white space simplified, then by its set of patterns, then by its description.
int chosenFilterPosition(const QStringList &offered, const QString &chosen);

// The extension a save dialog adds to a bare name under `filter` ("TGA (*.tga)" gives "tga");
// empty when the filter has several patterns or a wildcard extension.
QString filterSuffix(const QString &filter);

// The program's answers to its questions: the Qt dialogs, parented to the active window.
class QtPrompts final : public AbstractPrompts
{
public:
    PromptAnswer message(const QString &text, PromptIcon icon, PromptButtons buttons,
                         const QString &title) override;
    std::optional<QString> input(const QString &prompt, const QString &title,
                                 const QString &defaultText) override;
    std::optional<FileDialogResult> openFiles(const FileDialogRequest &request) override;
    std::optional<FileDialogResult> saveFile(const FileDialogRequest &request) override;
    std::optional<QColor> color(const QColor &initial, const QString &title) override;
    bool print(QPrinter &printer, int minPage, int maxPage) override;
    bool pageSetup(QPrinter &printer) override;
    ReplaceAnswer confirmReplace(const QString &target, const QString &source) override;
};

} // namespace qmt
