#include "viewer/propertieswindow.h"

#include "components/launcher.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace qmt {

PropertiesWindow::PropertiesWindow(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmProperties"));
    setWindowTitle(QStringLiteral("Properties"));
    setModal(false);
    auto *layout = new QVBoxLayout(this);
    m_form = new QFormLayout;
    m_form->setLabelAlignment(Qt::AlignLeft);
    m_form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    layout->addLayout(m_form);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    layout->addWidget(buttons);
    setMinimumWidth(420);
}

void PropertiesWindow::showInfo(const PictureInfo &info)
{
    m_info = info;
    while (m_form->rowCount() > 0)
        m_form->removeRow(0);
    m_mapLink = nullptr;
    for (const PictureInfo::Field &field : info.fields) {
        auto *value = new QLabel(field.value, this);
        value->setObjectName(field.key);
        value->setTextFormat(Qt::PlainText);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        value->setWordWrap(true);
        m_form->addRow(field.key + QLatin1Char(':'), value);
        if (field.key == QLatin1String("GPS position") && info.position) {
            m_mapLink = new QLabel(QStringLiteral("<a href=\"map\">Show on map</a>"), this);
            m_mapLink->setObjectName(QStringLiteral("mapLink"));
            m_mapLink->setTextFormat(Qt::RichText);
            m_mapLink->setTextInteractionFlags(Qt::LinksAccessibleByMouse |
                                               Qt::LinksAccessibleByKeyboard);
            connect(m_mapLink, &QLabel::linkActivated, this, &PropertiesWindow::openMap);
            m_form->addRow(QString(), m_mapLink);
        }
    }
    adjustSize();
}

QString PropertiesWindow::shownValue(const QString &key) const
{
    const auto *value = findChild<QLabel *>(key);
    return value ? value->text() : QString();
}

void PropertiesWindow::openMap()
{
    if (m_info.position)
        launcher().openDocument(m_info.position->mapUrl());
}

} // namespace qmt
