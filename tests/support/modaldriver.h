#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>

class QAbstractButton;
class QFileDialog;
class QInputDialog;

namespace qmt::test {

// Drives the program's real dialogs the way a person would: each queued step waits for the next
// modal window to come up (a QMessageBox, QFileDialog, QPrintDialog, QProgressDialog, ...) and
// then acts on it: clicks a button, types a name, picks a filter. The steps run from a timer
// inside the dialog's own event loop, so the code under test runs unchanged, with the real
// widgets in between. A dialog that stays up because a step was missing is rejected after the
// time-out, so a test fails instead of hanging.
class ModalDriver final : public QObject
{
    Q_OBJECT
public:
    using Step = std::function<void(QWidget *)>;

    explicit ModalDriver(int timeoutMs = 10000);
    ~ModalDriver() override;

    // Acts on the next modal window that is not the one the previous step handled.
    void then(Step step);
    // The same, for a dialog of type T; a modal window of another type fails the step.
    template <class T> void then(std::function<void(T *)> step)
    {
        then([step = std::move(step), this](QWidget *widget) {
            if (auto *typed = qobject_cast<T *>(widget))
                step(typed);
            else
                failStep(widget, T::staticMetaObject.className());
        });
    }

    // True when every queued step has run and none failed.
    bool finished() const { return m_steps.isEmpty() && m_failures.isEmpty(); }
    // Each modal window seen, as "ClassName: window title", in order.
    QStringList seen() const { return m_seen; }
    // Why a step failed (a dialog of the wrong type, a time-out).
    QStringList failures() const { return m_failures; }

private:
    void poll();
    void failStep(QWidget *widget, const char *expected);

    QTimer m_timer;
    QList<Step> m_steps;
    QList<QPointer<QWidget>> m_handled;
    QStringList m_seen;
    QStringList m_failures;
    int m_timeoutMs;
    qint64 m_waitingSince = 0;
};

// The button of `window` whose text, without its '&' mnemonics, is `text`; nullptr when none.
QAbstractButton *findButton(QWidget *window, const QString &text);
// Clicks that button; a missing button is a test failure recorded with QTest's warning and the
// window is rejected so the run goes on.
void clickButton(QWidget *window, const QString &text);

// Fills in Qt's own (non-native) file dialog as a person does: picks the filter at `filterIndex`
// (0-based; -1 leaves it) from the "Files of type" box, types `fileName` into the name field and
// presses the accept button (Save or Open).
void fillFileDialog(QFileDialog *dialog, const QString &fileName, int filterIndex = -1);

// Replaces the text of a text input box (QInputDialog) with `text`, typed key by key, and
// presses OK.
void fillInputDialog(QInputDialog *dialog, const QString &text);

} // namespace qmt::test
