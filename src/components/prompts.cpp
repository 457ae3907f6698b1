#include "components/prompts.h"

#include <QCoreApplication>
#include <QLoggingCategory>

namespace qmt {
namespace {

Q_LOGGING_CATEGORY(lcPrompts, "qmt.prompts")

class RefusingPrompts final : public AbstractPrompts
{
public:
    PromptAnswer message(const QString &text, PromptIcon, PromptButtons buttons,
                         const QString &) override
    {
        qCWarning(lcPrompts) << "unanswered message:" << text;
        switch (buttons) {
        case PromptButtons::Ok:
            return PromptAnswer::Ok;
        case PromptButtons::YesNo:
            return PromptAnswer::No;
        default:
            return PromptAnswer::Cancel;
        }
    }
    std::optional<QString> input(const QString &prompt, const QString &, const QString &) override
    {
        qCWarning(lcPrompts) << "unanswered input:" << prompt;
        return std::nullopt;
    }
    std::optional<FileDialogResult> openFiles(const FileDialogRequest &) override { return std::nullopt; }
    std::optional<FileDialogResult> saveFile(const FileDialogRequest &) override { return std::nullopt; }
    std::optional<QColor> color(const QColor &, const QString &) override { return std::nullopt; }
    bool print(QPrinter &, int, int) override { return false; }
    bool pageSetup(QPrinter &) override { return false; }
    ReplaceAnswer confirmReplace(const QString &, const QString &) override { return ReplaceAnswer::Cancel; }
};

AbstractPrompts *&installed()
{
    static AbstractPrompts *current = nullptr;
    return current;
}

} // namespace

AbstractPrompts &prompts()
{
    static RefusingPrompts refusing;
    return installed() ? *installed() : refusing;
}

void setPrompts(AbstractPrompts *prompts) { installed() = prompts; }

QString applicationTitle()
{
    const QString name = QCoreApplication::applicationName();
    return name.isEmpty() ? QStringLiteral("ZEB Orvanta") : name;
}

} // namespace qmt
