#include "dialogs/frmfile.h"

#include "components/skin.h"
#include "components/twips.h"
#include "shell/modmain.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTreeWidget>

namespace qmt {
namespace {

QPointer<frmFile> &theInstance()
{
    static QPointer<frmFile> instance;
    return instance;
}

constexpr int kPathRole = Qt::UserRole;
constexpr int kFilledRole = Qt::UserRole + 1;

} // namespace

frmFile *frmFile::instance()
{
    if (!theInstance())
        theInstance() = new frmFile;
    return theInstance();
}

bool frmFile::isLoaded()
{
    return !theInstance().isNull();
}

void frmFile::unload()
{
    delete theInstance().data();
    theInstance() = nullptr;
}

frmFile::frmFile(QWidget *parent) : QDialog(parent)
{
    setModal(true);
    setFixedSize(twips::toPixelsX(7710), twips::toPixelsY(5940));

    // Created in tab order: the tree first.
    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(QStringLiteral("FolderTree"));
    m_tree->setHeaderHidden(true);
    m_sourceLabel = new QLabel(QStringLiteral("Source"), this);
    m_source = new QLineEdit(this);
    m_source->setObjectName(QStringLiteral("txtSource"));
    m_destinationLabel = new QLabel(QStringLiteral("Destination"), this);
    m_destination = new QLineEdit(this);
    m_destination->setObjectName(QStringLiteral("txtDestination"));
    m_ok = new QPushButton(QStringLiteral("         &Ok"), this);
    m_ok->setObjectName(QStringLiteral("cmdOk"));
    m_cancel = new QPushButton(QStringLiteral("         &Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("cmdCancel"));
    // Neither button answers Enter.
    for (QPushButton *button : {m_ok, m_cancel}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    place(m_sourceLabel, 165, 30, 7380, 225);
    place(m_source, 165, 255, 7380, 315);
    place(m_destinationLabel, 165, 600, 7380, 240);
    place(m_destination, 165, 855, 7380, 345);
    place(m_tree, 165, 1275, 7380, 3915);
    place(m_ok, 4125, 5400, 1515, 465);
    place(m_cancel, 5910, 5385, 1620, 465);
    setTabOrder(m_tree, m_source);

    m_desktop = addFolderItem(nullptr, QStringLiteral("Desktop"), desktopFolder());
    addFolderItem(m_desktop, QStringLiteral("Home"), QDir::homePath());
    addFolderItem(m_desktop, QStringLiteral("File System"), QStringLiteral("/"));
    m_desktop->setData(0, kFilledRole, true);
    m_desktop->setExpanded(true);
    // The desktop starts as the current node, quietly: focusing the tree must not overwrite the
    // destination kept from the last use.
    {
        const QSignalBlocker blocker(m_tree);
        m_tree->setCurrentItem(m_desktop);
    }

    connect(m_tree, &QTreeWidget::itemExpanded, this, &frmFile::fill);
    connect(m_tree, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem *item) { itemChosen(item); });
    connect(m_tree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *item) { itemChosen(item); });
    connect(m_ok, &QPushButton::clicked, this, [this] {
        hide();
        done(Accepted);
    });
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        m_cancelled = true;
        done(Rejected);
    });

    if (const Skin *skin = Skin::current())
        skin->applyToWindow(this);
    Skin::applyElement(this, QStringLiteral("smallform"));
    Skin::applyElement(m_cancel, QStringLiteral("Button"));
    Skin::applyElement(m_ok, QStringLiteral("Button"));
}

frmFile::~frmFile() = default;

void frmFile::place(QWidget *widget, int left, int top, int width, int height)
{
    widget->setGeometry(twips::toPixelsX(left), twips::toPixelsY(top), twips::toPixelsX(width),
                        twips::toPixelsY(height));
}

QTreeWidgetItem *frmFile::addFolderItem(QTreeWidgetItem *parent, const QString &text,
                                        const QString &path)
{
    auto *item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(m_tree);
    item->setText(0, text);
    item->setData(0, kPathRole, path);
    item->setData(0, kFilledRole, false);
    // Folders are read when opened; until then each may have children.
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    return item;
}

void frmFile::fill(QTreeWidgetItem *item)
{
    if (!item || item->data(0, kFilledRole).toBool())
        return;
    item->setData(0, kFilledRole, true);
    const QDir dir(item->data(0, kPathRole).toString());
    const QFileInfoList folders =
        dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo &folder : folders)
        addFolderItem(item, folder.fileName(), folder.absoluteFilePath());
    if (folders.isEmpty())
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
}

void frmFile::itemChosen(QTreeWidgetItem *item)
{
    if (!item)
        return;
    if (item == m_desktop)
        DesktopSelected();
    else
        FolderSelected(item->data(0, kPathRole).toString());
}

QString frmFile::desktopFolder()
{
    const QString desktop = GetSpecialFolder(CsidlDesktop);
    if (!desktop.isEmpty())
        return desktop.endsWith(QLatin1Char('/')) ? desktop : desktop + QLatin1Char('/');
    return QDir::homePath() + QLatin1Char('/');
}

void frmFile::FolderSelected(const QString &path)
{
    if (path.isEmpty())
        return;
    m_destination->setText(path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/'));
}

void frmFile::DesktopSelected()
{
    m_destination->setText(desktopFolder());
}

void frmFile::keyPressEvent(QKeyEvent *event)
{
    // Enter and Esc press neither button; the close box cancels.
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

QString frmFile::ShowFileForm(int opType, const QString &sSource)
{
    m_cancelled = false;
    if (opType == 1)
        setWindowTitle(QStringLiteral("Copy To"));
    else if (opType == 4)
        setWindowTitle(QStringLiteral("Move To"));
    m_source->setText(sSource);
    const int code = exec();
    // The close box ends the dialog without either button: that is a Cancel too.
    if (m_cancelled || code != Accepted)
        return QString();
    const QString destination = m_destination->text();
    if (destination.trimmed().isEmpty())
        return QString();
    // A typed folder often lacks its trailing "/": callers add the file name straight after.
    return destination.endsWith(QLatin1Char('/')) ? destination : destination + QLatin1Char('/');
}

QString ShowFileForm(int opType, const QString &sSource)
{
    return frmFile::instance()->ShowFileForm(opType, sSource);
}

} // namespace qmt
