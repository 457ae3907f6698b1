#include "app/qtprompts.h"

#include <QApplication>
#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>

#include <functional>

namespace qmt {
namespace {

QWidget *parentWindow()
{
    return QApplication::activeWindow();
}

QString titleOr(const QString &title)
{
    return title.isEmpty() ? applicationTitle() : title;
}

QMessageBox::Icon boxIcon(PromptIcon icon)
{
    switch (icon) {
    case PromptIcon::Information:
        return QMessageBox::Information;
    case PromptIcon::Exclamation:
        return QMessageBox::Warning;
    case PromptIcon::Critical:
        return QMessageBox::Critical;
    case PromptIcon::Question:
        return QMessageBox::Question;
    case PromptIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

// A filter split into its description and its patterns, each pattern lower-cased, sorted and
// once: "Photoshop  <PSD> (*.psd)" gives "Photoshop <PSD>" and {"*.psd"}. A text without a
// pattern list in parentheses is taken whole as both, since a dialog may give back either.
struct FilterParts {
    QString description;
    QStringList patterns;
};

FilterParts splitFilter(const QString &filter)
{
    static const QRegularExpression separators(QStringLiteral("[\\s;]+"));
    const QString text = filter.simplified();
    FilterParts parts;
    QString patternText = text;
    const qsizetype open = text.lastIndexOf(u'(');
    if (open >= 0 && text.endsWith(u')')) {
        parts.description = text.left(open).trimmed();
        patternText = text.mid(open + 1, text.size() - open - 2);
    } else {
        parts.description = text;
    }
    for (const QString &pattern : patternText.split(separators, Qt::SkipEmptyParts))
        parts.patterns.append(pattern.toLower());
    parts.patterns.sort();
    parts.patterns.removeDuplicates();
    return parts;
}

// The position (1-based) of the only filter among `offered` that `matches`; 0 for none or many.
int onlyMatch(const QStringList &offered, const std::function<bool(const QString &)> &matches)
{
    int found = 0;
    for (int i = 0; i < offered.size(); ++i) {
        if (!matches(offered.at(i)))
            continue;
        if (found)
            return 0;
        found = i + 1;
    }
    return found;
}

// The filter whose patterns take the file's name, when exactly one does.
int positionByName(const QStringList &offered, const QString &file)
{
    const QString name = QFileInfo(file).fileName();
    if (name.isEmpty())
        return 0;
    return onlyMatch(offered, [&](const QString &filter) {
        const QStringList patterns = splitFilter(filter).patterns;
        return !patterns.contains(QStringLiteral("*")) &&
               !patterns.contains(QStringLiteral("*.*")) && QDir::match(patterns, name);
    });
}

std::optional<FileDialogResult> runFileDialog(const FileDialogRequest &request, bool save)
{
    QFileDialog dialog(parentWindow(), titleOr(request.title), request.directory);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(
        save ? QFileDialog::AnyFile
             : (request.multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile));
    if (!request.filters.isEmpty()) {
        dialog.setNameFilters(request.filters);
        // Chosen by position among the filters as the dialog keeps them: it tidies their text.
        const QStringList kept = dialog.nameFilters();
        const int index = request.filterIndex - 1;
        if (index >= 0 && index < kept.size())
            dialog.selectNameFilter(kept.at(index));
    }
    if (!request.defaultSuffix.isEmpty()) {
        dialog.setDefaultSuffix(request.defaultSuffix);
        // A bare name takes the extension of the file type chosen last, so that its name says
        // what it holds.
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                         [&dialog](const QString &filter) {
                             if (const QString suffix = filterSuffix(filter); !suffix.isEmpty())
                                 dialog.setDefaultSuffix(suffix);
                         });
    }
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    FileDialogResult result;
    result.files = dialog.selectedFiles();
    result.filterIndex = request.filterIndex;
    if (!request.filters.isEmpty()) {
        int position = chosenFilterPosition(request.filters, dialog.selectedNameFilter());
        // A dialog that does not tell its file type: the one the name was given, if any.
        if (position == 0)
            position = positionByName(request.filters, result.files.first());
        if (position > 0)
            result.filterIndex = position;
    }
    return result;
}

} // namespace

int chosenFilterPosition(const QStringList &offered, const QString &chosen)
{
    if (chosen.isEmpty())
        return 0;
    if (const qsizetype exact = offered.indexOf(chosen); exact >= 0)
        return int(exact) + 1;
    const QString simplified = chosen.simplified();
    if (const int same =
            onlyMatch(offered, [&](const QString &f) { return f.simplified() == simplified; }))
        return same;
    const FilterParts parts = splitFilter(chosen);
    if (const int byPatterns = onlyMatch(
            offered, [&](const QString &f) { return splitFilter(f).patterns == parts.patterns; }))
        return byPatterns;
    return onlyMatch(offered, [&](const QString &f) {
        return splitFilter(f).description.compare(parts.description, Qt::CaseInsensitive) == 0;
    });
}

QString filterSuffix(const QString &filter)
{
    const QStringList patterns = splitFilter(filter).patterns;
    if (patterns.size() != 1 || !patterns.first().startsWith(QLatin1String("*.")))
        return QString();
    const QString suffix = patterns.first().mid(2);
    static const QRegularExpression plain(QStringLiteral("^[^*?\\[\\]]+$"));
    return plain.match(suffix).hasMatch() ? suffix : QString();
}

PromptAnswer QtPrompts::message(const QString &text, PromptIcon icon, PromptButtons buttons,
                                const QString &title)
{
    QMessageBox box(boxIcon(icon), titleOr(title), text, QMessageBox::NoButton, parentWindow());
    switch (buttons) {
    case PromptButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case PromptButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case PromptButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case PromptButtons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok:
        return PromptAnswer::Ok;
    case QMessageBox::Yes:
        return PromptAnswer::Yes;
    case QMessageBox::No:
        return PromptAnswer::No;
    default:
        // Escape or the window's close button: the safe answer of the buttons offered.
        return buttons == PromptButtons::Ok      ? PromptAnswer::Ok
               : buttons == PromptButtons::YesNo ? PromptAnswer::No
                                                 : PromptAnswer::Cancel;
    }
}

std::optional<QString> QtPrompts::input(const QString &prompt, const QString &title,
                                        const QString &defaultText)
{
    bool ok = false;
    const QString text = QInputDialog::getText(parentWindow(), titleOr(title), prompt,
                                               QLineEdit::Normal, defaultText, &ok);
    if (!ok)
        return std::nullopt;
    return text;
}

std::optional<FileDialogResult> QtPrompts::openFiles(const FileDialogRequest &request)
{
    return runFileDialog(request, false);
}

std::optional<FileDialogResult> QtPrompts::saveFile(const FileDialogRequest &request)
{
    return runFileDialog(request, true);
}

std::optional<QColor> QtPrompts::color(const QColor &initial, const QString &title)
{
    const QColor chosen = QColorDialog::getColor(initial, parentWindow(), titleOr(title));
    if (!chosen.isValid())
        return std::nullopt;
    return chosen;
}

bool QtPrompts::print(QPrinter &printer, int minPage, int maxPage)
{
    QPrintDialog dialog(&printer, parentWindow());
    dialog.setMinMax(minPage, maxPage);
    // Every range is offered, a single page's too: "Selection" prints the picture as it is shown
    // (centred, at its size), "Pages" picks pages by number.
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, true);
    return dialog.exec() == QDialog::Accepted;
}

bool QtPrompts::pageSetup(QPrinter &printer)
{
    QPageSetupDialog dialog(&printer, parentWindow());
    return dialog.exec() == QDialog::Accepted;
}

ReplaceAnswer QtPrompts::confirmReplace(const QString &target, const QString &source)
{
    QMessageBox box(QMessageBox::Question, applicationTitle(),
                    QStringLiteral("The file \"%1\" already exists.\n\nReplace it with \"%2\"?")
                        .arg(target, source),
                    QMessageBox::NoButton, parentWindow());
    QPushButton *replace = box.addButton(QStringLiteral("Replace"), QMessageBox::AcceptRole);
    QPushButton *skip = box.addButton(QStringLiteral("Skip"), QMessageBox::RejectRole);
    QPushButton *cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::DestructiveRole);
    box.setDefaultButton(skip);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == replace)
        return ReplaceAnswer::Replace;
    if (box.clickedButton() == skip)
        return ReplaceAnswer::Skip;
    return ReplaceAnswer::Cancel;
}

} // namespace qmt
