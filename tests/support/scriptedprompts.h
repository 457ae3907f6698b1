#pragma once

#include "components/prompts.h"

#include <QList>
#include <QVariant>

#include <functional>

namespace qmt::test {

// Answers every question from a script and records what was asked. A question with no answer
// left gets the refusing default (Cancel / No / nothing) and is still recorded, so a test can
// fail on it instead of hanging.
class ScriptedPrompts final : public AbstractPrompts
{
public:
    enum class Kind { Message, Input, OpenFiles, SaveFile, Color, Print, PageSetup, Replace };

    struct Question {
        Kind kind = Kind::Message;
        QString text;     // message text, input prompt, dialog title, replace target
        QString title;
        PromptIcon icon = PromptIcon::None;
        PromptButtons buttons = PromptButtons::Ok;
        FileDialogRequest file; // for the file dialogs
        int minPage = 0;
        int maxPage = 0;
    };

    ScriptedPrompts();  // installs itself
    ~ScriptedPrompts() override; // uninstalls itself

    // Queue answers; each question takes the next answer of its kind.
    void answerMessage(PromptAnswer answer) { m_messages.append(answer); }
    void answerInput(std::optional<QString> text) { m_inputs.append(text); }
    void answerOpen(std::optional<FileDialogResult> result) { m_opens.append(result); }
    void answerSave(std::optional<FileDialogResult> result) { m_saves.append(result); }
    void answerColor(std::optional<QColor> color) { m_colors.append(color); }
    // For the print dialog: a function that sets up the printer (output file, range) and the answer.
    void answerPrint(std::function<bool(QPrinter &, int, int)> answer) { m_prints.append(answer); }
    void answerPageSetup(bool ok) { m_pageSetups.append(ok); }
    void answerReplace(ReplaceAnswer answer) { m_replaces.append(answer); }

    const QList<Question> &asked() const { return m_asked; }
    QList<Question> asked(Kind kind) const;
    void clear();

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

private:
    QList<Question> m_asked;
    QList<PromptAnswer> m_messages;
    QList<std::optional<QString>> m_inputs;
    QList<std::optional<FileDialogResult>> m_opens;
    QList<std::optional<FileDialogResult>> m_saves;
    QList<std::optional<QColor>> m_colors;
    QList<std::function<bool(QPrinter &, int, int)>> m_prints;
    QList<bool> m_pageSetups;
    QList<ReplaceAnswer> m_replaces;
};

} // namespace qmt::test
