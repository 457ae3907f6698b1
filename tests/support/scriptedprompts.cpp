#include "support/scriptedprompts.h"

namespace qmt::test {
namespace {

ScriptedPrompts::Question makeQuestion(ScriptedPrompts::Kind kind, const QString &text,
                                       const QString &title)
{
    ScriptedPrompts::Question q;
    q.kind = kind;
    q.text = text;
    q.title = title;
    return q;
}

} // namespace

ScriptedPrompts::ScriptedPrompts() { setPrompts(this); }
ScriptedPrompts::~ScriptedPrompts() { setPrompts(nullptr); }

QList<ScriptedPrompts::Question> ScriptedPrompts::asked(Kind kind) const
{
    QList<Question> result;
    for (const Question &q : m_asked)
        if (q.kind == kind)
            result.append(q);
    return result;
}

void ScriptedPrompts::clear()
{
    m_asked.clear();
    m_messages.clear();
    m_inputs.clear();
    m_opens.clear();
    m_saves.clear();
    m_colors.clear();
    m_prints.clear();
    m_pageSetups.clear();
    m_replaces.clear();
}

PromptAnswer ScriptedPrompts::message(const QString &text, PromptIcon icon, PromptButtons buttons,
                                      const QString &title)
{
    Question q = makeQuestion(Kind::Message, text, title.isEmpty() ? applicationTitle() : title);
    q.icon = icon;
    q.buttons = buttons;
    m_asked.append(q);
    if (!m_messages.isEmpty())
        return m_messages.takeFirst();
    switch (buttons) {
    case PromptButtons::Ok:
        return PromptAnswer::Ok;
    case PromptButtons::YesNo:
        return PromptAnswer::No;
    default:
        return PromptAnswer::Cancel;
    }
}

std::optional<QString> ScriptedPrompts::input(const QString &prompt, const QString &title,
                                              const QString &defaultText)
{
    Question q = makeQuestion(Kind::Input, prompt, title);
    q.file.fileName = defaultText;
    m_asked.append(q);
    return m_inputs.isEmpty() ? std::nullopt : m_inputs.takeFirst();
}

std::optional<FileDialogResult> ScriptedPrompts::openFiles(const FileDialogRequest &request)
{
    Question q = makeQuestion(Kind::OpenFiles, request.title, request.title);
    q.file = request;
    m_asked.append(q);
    return m_opens.isEmpty() ? std::nullopt : m_opens.takeFirst();
}

std::optional<FileDialogResult> ScriptedPrompts::saveFile(const FileDialogRequest &request)
{
    Question q = makeQuestion(Kind::SaveFile, request.title, request.title);
    q.file = request;
    m_asked.append(q);
    return m_saves.isEmpty() ? std::nullopt : m_saves.takeFirst();
}

std::optional<QColor> ScriptedPrompts::color(const QColor &initial, const QString &title)
{
    Question q = makeQuestion(Kind::Color, initial.name(), title);
    m_asked.append(q);
    return m_colors.isEmpty() ? std::nullopt : m_colors.takeFirst();
}

bool ScriptedPrompts::print(QPrinter &printer, int minPage, int maxPage)
{
    Question q = makeQuestion(Kind::Print, QString(), QString());
    q.minPage = minPage;
    q.maxPage = maxPage;
    m_asked.append(q);
    if (m_prints.isEmpty())
        return false;
    return m_prints.takeFirst()(printer, minPage, maxPage);
}

bool ScriptedPrompts::pageSetup(QPrinter &)
{
    m_asked.append(makeQuestion(Kind::PageSetup, QString(), QString()));
    return m_pageSetups.isEmpty() ? false : m_pageSetups.takeFirst();
}

ReplaceAnswer ScriptedPrompts::confirmReplace(const QString &target, const QString &source)
{
    Question q = makeQuestion(Kind::Replace, target, source);
    m_asked.append(q);
    return m_replaces.isEmpty() ? ReplaceAnswer::Cancel : m_replaces.takeFirst();
}

} // namespace qmt::test
