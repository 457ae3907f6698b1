#pragma once

#include "components/result.h"

#include <QColor>
#include <QDialog>
#include <QHash>
#include <QList>
#include <QRect>
#include <QVariant>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace qmt {

// A small modal prompt assembled at run time, one row per AddControl: a caption label beside a
// text box, colour button, combo box, check box or option button. The caller shows it, then
// reads Cancelled and the row controls; OK, Cancel and the close box only hide it, so the
// values stay readable until the caller deletes the instance. One instance serves one prompt.
class frmDialog : public QDialog
{
    Q_OBJECT

public:
    enum ControlKind { TextBox = 0, ColorButton = 1, ComboBox = 2, CheckBox = 3, OptionButton = 4 };

    explicit frmDialog(QWidget *parent = nullptr);

    // Appends one row. A Default that cannot be turned into the kind's type (text, colour,
    // Boolean) fails with "Type mismatch" and leaves the dialog as it was.
    Status AddControl(const QString &Caption, const QVariant &Default, int ControlType);

    bool Cancelled() const { return m_cancelled; }
    int rowCount() const { return m_rowCount; }

    // The row controls; element 0 exists from the start (hidden until used).
    QLabel *lblLabel(int index) const { return m_labels.value(index); }
    QLineEdit *txtText(int index) const { return m_texts.value(index); }
    QPushButton *cmdColor(int index) const { return m_colors.value(index); }
    QComboBox *cmbCombo(int index) const { return m_combos.value(index); }
    QCheckBox *chkCheck(int index) const { return m_checks.value(index); }
    QRadioButton *optOption(int index) const { return m_options.value(index); }
    QPushButton *cmdOK() const { return m_ok; }
    QPushButton *cmdCancel() const { return m_cancel; }
    QWidget *picBottom() const { return m_bottom; }

    // A colour row's value, and the same as 0x00BBGGRR.
    QColor colorValue(int index) const;
    quint32 colorValueBgr(int index) const;
    // chkCheck's value: 1 checked, 0 not.
    int checkValue(int index) const;

    // Where a control sits, in twips, and the client height in twips.
    QRect twipsGeometry(const QWidget *control) const { return m_twips.value(control); }
    int clientHeightTwips() const { return m_clientHeight; }

    // Marks every button, label, check box, option button and status bar of `frm` with the skin
    // element the style sheet selects on ("skinElement" property).
    static void SkinForm(QWidget *frm);

    // Turns 0x00BBGGRR into a colour and back.
    static QColor fromBgr(quint32 value);
    static quint32 toBgr(const QColor &color);

Q_SIGNALS:
    // A check box or combo box was clicked or a colour picked (never while a row is added).
    void ControlChanged(int Index, QWidget *ctrl);

public Q_SLOTS:
    void reject() override;

private:
    template <class W> W *makeElement(QList<W *> &array, int index, const QRect &templateTwips);
    void place(QWidget *control, const QRect &twips);
    void pickColor(int index);
    void setColor(QPushButton *button, const QColor &color);

    bool m_cancelled = false;
    bool m_adding = false;
    int m_rowCount = 0;
    int m_clientHeight = 0;

    QList<QLabel *> m_labels;
    QList<QLineEdit *> m_texts;
    QList<QPushButton *> m_colors;
    QList<QComboBox *> m_combos;
    QList<QCheckBox *> m_checks;
    QList<QRadioButton *> m_options;
    QWidget *m_bottom = nullptr;
    QPushButton *m_ok = nullptr;
    QPushButton *m_cancel = nullptr;
    QHash<const QWidget *, QRect> m_twips;
};

} // namespace qmt
