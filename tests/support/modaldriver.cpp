#include "support/modaldriver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace qmt::test {
namespace {

QString describe(QWidget *widget)
{
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(widget->metaObject()->className()),
                                        widget->windowTitle());
}

void rejectWindow(QWidget *window)
{
    if (auto *dialog = qobject_cast<QDialog *>(window))
        dialog->reject();
    else
        window->close();
}

} // namespace

ModalDriver::ModalDriver(int timeoutMs) : m_timeoutMs(timeoutMs)
{
    m_timer.setInterval(15);
    connect(&m_timer, &QTimer::timeout, this, &ModalDriver::poll);
    m_timer.start();
}

ModalDriver::~ModalDriver() = default;

void ModalDriver::then(Step step)
{
    if (m_steps.isEmpty())
        m_waitingSince = QDateTime::currentMSecsSinceEpoch();
    m_steps.append(std::move(step));
}

void ModalDriver::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    const bool fresh = modal && modal->isVisible() && !m_handled.contains(modal);
    if (fresh && !m_steps.isEmpty()) {
        m_handled.append(modal);
        m_seen.append(describe(modal));
        const Step step = m_steps.takeFirst();
        m_waitingSince = QDateTime::currentMSecsSinceEpoch();
        // Run after this poll has returned: a step may open a further modal window (a question
        // the dialog asks on accepting), which the polling timer must be free to reach.
        QTimer::singleShot(0, this, [step, target = QPointer<QWidget>(modal)] {
            if (target)
                step(target);
        });
        return;
    }
    if (fresh) {
        m_seen.append(describe(modal));
        m_handled.append(modal);
    }
    if (!modal)
        return;
    // A window nobody answers would wait for ever: give up on it after the time-out.
    if (QDateTime::currentMSecsSinceEpoch() - m_waitingSince > m_timeoutMs) {
        m_failures.append(QStringLiteral("no step for %1").arg(describe(modal)));
        m_waitingSince = QDateTime::currentMSecsSinceEpoch();
        rejectWindow(modal);
    }
}

void ModalDriver::failStep(QWidget *widget, const char *expected)
{
    m_failures.append(QStringLiteral("expected a %1, got %2")
                          .arg(QString::fromLatin1(expected), describe(widget)));
    rejectWindow(widget);
}

QAbstractButton *findButton(QWidget *window, const QString &text)
{
    const auto buttons = window->findChildren<QAbstractButton *>();
    for (QAbstractButton *button : buttons) {
        QString label = button->text();
        label.remove(QLatin1Char('&'));
        if (label == text && button->isVisible())
            return button;
    }
    return nullptr;
}

void clickButton(QWidget *window, const QString &text)
{
    if (QAbstractButton *button = findButton(window, text)) {
        QTest::mouseClick(button, Qt::LeftButton);
        return;
    }
    qWarning("no button \"%s\" in %s", qPrintable(text), qPrintable(describe(window)));
    rejectWindow(window);
}

void fillFileDialog(QFileDialog *dialog, const QString &fileName, int filterIndex)
{
    if (filterIndex >= 0) {
        // The "Files of type" box, as a person would use it.
        if (auto *types = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"))) {
            types->setCurrentIndex(filterIndex);
            Q_EMIT types->activated(filterIndex);
        }
    }
    auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    if (!name) {
        qWarning("the file dialog has no name field (is it the native one?)");
        dialog->reject();
        return;
    }
    name->setFocus();
    name->selectAll();
    QTest::keyClicks(name, fileName);
    auto *box = dialog->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    QAbstractButton *accept =
        box ? box->button(dialog->acceptMode() == QFileDialog::AcceptSave ? QDialogButtonBox::Save
                                                                          : QDialogButtonBox::Open)
            : nullptr;
    if (accept)
        QTest::mouseClick(accept, Qt::LeftButton);
    else
        QTest::keyClick(name, Qt::Key_Return);
}

void fillInputDialog(QInputDialog *dialog, const QString &text)
{
    auto *edit = dialog->findChild<QLineEdit *>();
    if (!edit) {
        qWarning("the input box has no text field");
        dialog->reject();
        return;
    }
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
    clickButton(dialog, QStringLiteral("OK"));
}

} // namespace qmt::test
