#pragma once

#include "components/prompts.h"

namespace qmt {

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
