#include "dialogs/frmdialog.h"

#include "components/prompts.h"
#include "components/skin.h"
#include "components/twips.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QStyle>

#include <limits>
#include <optional>

namespace qmt {
namespace {

// The window template, in twips.
constexpr int kClientWidth = 7590;
constexpr int kRowGap = 190;
constexpr int kBottomHeight = 735;
const QRect kLabel(180, 480, 1635, 255);
const QRect kText(2100, 420, 5265, 315);
const QRect kColor(2100, 420, 855, 315);
const QRect kCombo(2100, 480, 3015, 315);
const QRect kCheck(2085, 480, 2955, 255);
const QRect kOption(2085, 480, 5265, 255);
const QRect kOk(1770, 225, 1335, 375);
const QRect kCancel(4470, 240, 1335, 375);
const QColor kBottomColor(222, 231, 239);

const char kColorProperty[] = "qmtColor";

void setSkin(QWidget *widget, const char *element)
{
    Skin::applyElement(widget, QString::fromLatin1(element));
}

// The conversions of a Default value; nullopt is a type mismatch.
std::optional<QString> toText(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return QString();
    if (value.canConvert<QString>() && value.metaType().id() != QMetaType::QVariantList &&
        value.metaType().id() != QMetaType::QVariantMap)
        return value.toString();
    return std::nullopt;
}

std::optional<QColor> toColor(const QVariant &value)
{
    if (value.metaType().id() == QMetaType::QColor)
        return value.value<QColor>();
    if (!value.isValid() || value.isNull())
        return frmDialog::fromBgr(0);
    bool ok = false;
    const qlonglong number = value.metaType().id() == QMetaType::QString
                                 ? value.toString().trimmed().toLongLong(&ok, 0)
                                 : value.toLongLong(&ok);
    if (!ok || number < std::numeric_limits<qint32>::min() || number > 0xffffffffLL)
        return std::nullopt;
    return frmDialog::fromBgr(quint32(number) & 0xffffff);
}

std::optional<bool> toBool(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return false;
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::QString: {
        const QString text = value.toString().trimmed();
        if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return true;
        if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            return false;
        bool ok = false;
        const double number = text.toDouble(&ok);
        if (!ok)
            return std::nullopt;
        return number != 0.0;
    }
    default: {
        bool ok = false;
        const double number = value.toDouble(&ok);
        if (!ok)
            return std::nullopt;
        return number != 0.0;
    }
    }
}

} // namespace

frmDialog::frmDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Dialog"));
    setModal(true);

    m_bottom = new QWidget(this);
    m_bottom->setAutoFillBackground(true);
    QPalette palette = m_bottom->palette();
    palette.setColor(QPalette::Window, kBottomColor);
    m_bottom->setPalette(palette);
    m_bottom->setObjectName(QStringLiteral("picBottom"));

    // Template elements 0, created in tab order: the text box comes first.
    makeElement(m_texts, 0, kText);
    makeElement(m_colors, 0, kColor);
    makeElement(m_combos, 0, kCombo);
    makeElement(m_checks, 0, kCheck);
    makeElement(m_options, 0, kOption);
    makeElement(m_labels, 0, kLabel);

    m_ok = new QPushButton(QStringLiteral("OK"), m_bottom);
    m_ok->setObjectName(QStringLiteral("cmdOK"));
    m_ok->setDefault(true);
    m_ok->setAutoDefault(true);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), m_bottom);
    m_cancel->setObjectName(QStringLiteral("cmdCancel"));
    m_cancel->setAutoDefault(false);
    place(m_ok, kOk);
    place(m_cancel, kCancel);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &frmDialog::reject);

    // The height the window has before any row: as if a row stood at the template label.
    m_clientHeight = kLabel.top() + kLabel.height() + kRowGap + kBottomHeight;
    place(m_bottom, QRect(0, m_clientHeight - kBottomHeight, kClientWidth, kBottomHeight));
    setFixedSize(twips::toPixelsX(kClientWidth), twips::toPixelsY(m_clientHeight));

    if (const Skin *skin = Skin::current())
        skin->applyToWindow(this);
    setSkin(this, "smallform");
    setSkin(m_cancel, "Button");
    setSkin(m_ok, "Button");
    setSkin(m_labels[0], "Label");
}

template <class W>
W *frmDialog::makeElement(QList<W *> &array, int index, const QRect &templateTwips)
{
    auto *element = new W(this);
    if (index > 0 && !array.isEmpty() && array.first()) {
        // A copy of element 0 in everything but index, tab position and visibility.
        W *first = array.first();
        // The skin marks only the template's controls, not rows added later.
        element->setFont(first->font());
    }
    element->setObjectName(QStringLiteral("%1_%2")
                               .arg(QString::fromLatin1(W::staticMetaObject.className()))
                               .arg(index));
    element->hide();
    while (array.size() <= index)
        array.append(nullptr);
    array[index] = element;
    place(element, templateTwips);
    return element;
}

void frmDialog::place(QWidget *control, const QRect &twips)
{
    m_twips.insert(control, twips);
    control->setGeometry(twips::toPixelsX(twips.left()), twips::toPixelsY(twips.top()),
                         twips::toPixelsX(twips.width()), twips::toPixelsY(twips.height()));
}

Status frmDialog::AddControl(const QString &Caption, const QVariant &Default, int ControlType)
{
    // Convert first: a mismatch must leave rows and state untouched.
    std::optional<QString> text;
    std::optional<QColor> color;
    std::optional<bool> flag;
    switch (ControlType) {
    case TextBox:
        text = toText(Default);
        if (!text)
            return Status::fail(QStringLiteral("Type mismatch"));
        break;
    case ColorButton:
        color = toColor(Default);
        if (!color)
            return Status::fail(QStringLiteral("Type mismatch"));
        break;
    case CheckBox:
    case OptionButton:
        flag = toBool(Default);
        if (!flag)
            return Status::fail(QStringLiteral("Type mismatch"));
        break;
    default:
        break;
    }

    m_adding = true;
    const int r = m_rowCount;
    if (r > 0) {
        const QRect previous = m_twips.value(m_labels[r - 1]);
        QLabel *label = makeElement(m_labels, r, kLabel);
        const int top = previous.top() + previous.height() + kRowGap;
        place(label, QRect(kLabel.left(), top, kLabel.width(), kLabel.height()));
        auto moveTo = [&](QWidget *w, const QRect &t) {
            place(w, QRect(t.left(), top, t.width(), t.height()));
        };
        switch (ControlType) {
        case TextBox:
            moveTo(makeElement(m_texts, r, kText), kText);
            break;
        case ColorButton:
            moveTo(makeElement(m_colors, r, kColor), kColor);
            break;
        case ComboBox:
            moveTo(makeElement(m_combos, r, kCombo), kCombo);
            break;
        case CheckBox:
            moveTo(makeElement(m_checks, r, kCheck), kCheck);
            break;
        case OptionButton:
            moveTo(makeElement(m_options, r, kOption), kOption);
            break;
        default:
            break;
        }
    }

    QLabel *label = m_labels[r];
    if (ControlType != CheckBox && ControlType != OptionButton) {
        label->setText(Caption);
        label->show();
    }
    switch (ControlType) {
    case TextBox: {
        QLineEdit *edit = m_texts[r];
        edit->setText(*text);
        edit->show();
        break;
    }
    case ColorButton: {
        QPushButton *button = m_colors[r];
        setColor(button, *color);
        button->show();
        connect(button, &QPushButton::clicked, this, [this, r] { pickColor(r); });
        break;
    }
    case ComboBox: {
        QComboBox *combo = m_combos[r];
        combo->show();
        connect(combo, &QComboBox::activated, this, [this, r, combo] {
            if (!m_adding)
                Q_EMIT ControlChanged(r, combo);
        });
        break;
    }
    case CheckBox: {
        QCheckBox *check = m_checks[r];
        check->setChecked(*flag);
        check->show();
        check->setText(Caption);
        connect(check, &QCheckBox::clicked, this, [this, r, check] {
            if (!m_adding)
                Q_EMIT ControlChanged(r, check);
        });
        break;
    }
    case OptionButton: {
        QRadioButton *option = m_options[r];
        option->setChecked(*flag);
        option->show();
        option->setText(Caption);
        break;
    }
    default:
        break;
    }

    // The client area ends 190 twips under the row's label (hidden or not), then the strip.
    const QRect labelTwips = m_twips.value(label);
    m_clientHeight = labelTwips.top() + labelTwips.height() + kRowGap + kBottomHeight;
    place(m_bottom, QRect(0, m_clientHeight - kBottomHeight, kClientWidth, kBottomHeight));
    setFixedSize(twips::toPixelsX(kClientWidth), twips::toPixelsY(m_clientHeight));

    m_adding = false;
    m_rowCount = r + 1;
    return {};
}

void frmDialog::setColor(QPushButton *button, const QColor &color)
{
    button->setProperty(kColorProperty, color);
    button->setFlat(false);
    button->setAutoFillBackground(true);
    button->setStyleSheet(QStringLiteral("background-color: %1;").arg(color.name()));
}

QColor frmDialog::colorValue(int index) const
{
    const QPushButton *button = cmdColor(index);
    return button ? button->property(kColorProperty).value<QColor>() : QColor();
}

quint32 frmDialog::colorValueBgr(int index) const
{
    return toBgr(colorValue(index));
}

int frmDialog::checkValue(int index) const
{
    const QCheckBox *check = chkCheck(index);
    return check && check->isChecked() ? 1 : 0;
}

void frmDialog::pickColor(int index)
{
    QPushButton *button = cmdColor(index);
    if (!button)
        return;
    const std::optional<QColor> chosen = prompts().color(colorValue(index), QString());
    if (chosen && chosen->isValid())
        setColor(button, *chosen);
    if (!m_adding)
        Q_EMIT ControlChanged(index, button);
}

void frmDialog::reject()
{
    // Cancel, Esc and the close box all come here; the instance stays for the caller to read.
    m_cancelled = true;
    QDialog::reject();
}

void frmDialog::SkinForm(QWidget *frm)
{
    if (!frm)
        return;
    const QList<QWidget *> children = frm->findChildren<QWidget *>();
    for (QWidget *child : children) {
        if (qobject_cast<QCheckBox *>(child))
            setSkin(child, "CheckBox");
        else if (qobject_cast<QRadioButton *>(child))
            setSkin(child, "Radio");
        else if (qobject_cast<QPushButton *>(child))
            setSkin(child, "Button");
        else if (qobject_cast<QStatusBar *>(child))
            setSkin(child, "Statusbar");
        else if (qobject_cast<QLabel *>(child))
            setSkin(child, "label");
    }
}

QColor frmDialog::fromBgr(quint32 value)
{
    return QColor(int(value & 0xff), int((value >> 8) & 0xff), int((value >> 16) & 0xff));
}

quint32 frmDialog::toBgr(const QColor &color)
{
    return quint32(color.red()) | (quint32(color.green()) << 8) | (quint32(color.blue()) << 16);
}

} // namespace qmt
