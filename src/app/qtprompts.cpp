#include "app/qtprompts.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>

namespace qmt {
namespace {

QWidget *parentWindow() { return QApplication::activeWindow(); }

QString titleOr(const QString &title) { return title.isEmpty() ? applicationTitle() : title; }

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

std::optional<FileDialogResult> runFileDialog(const FileDialogRequest &request, bool save)
{
    QFileDialog dialog(parentWindow(), titleOr(request.title), request.directory);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile
                            : (request.multiple ? QFileDialog::ExistingFiles
                                                : QFileDialog::ExistingFile));
    if (!request.filters.isEmpty()) {
        dialog.setNameFilters(request.filters);
        const int index = request.filterIndex - 1;
        if (index >= 0 && index < request.filters.size())
            dialog.selectNameFilter(request.filters.at(index));
    }
    if (!request.defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(request.defaultSuffix);
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    FileDialogResult result;
    result.files = dialog.selectedFiles();
    const qsizetype chosen = request.filters.indexOf(dialog.selectedNameFilter());
    result.filterIndex = chosen >= 0 ? int(chosen) + 1 : request.filterIndex;
    return result;
}

} // namespace

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
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, maxPage > minPage);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
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
