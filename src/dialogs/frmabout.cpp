#include "dialogs/frmabout.h"

#include "components/launcher.h"
#include "components/programversion.h"
#include "components/prompts.h"
#include "components/skin.h"
#include "shell/sysinfo.h"

#include <QApplication>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace qmt {
namespace {

QPointer<frmAbout> &theInstance()
{
    static QPointer<frmAbout> instance;
    return instance;
}

const QString kUnavailable = QStringLiteral("System Information Is Unavailable At This Time");

} // namespace

frmAbout *frmAbout::instance()
{
    if (!theInstance())
        theInstance() = new frmAbout;
    return theInstance();
}

bool frmAbout::isLoaded()
{
    return !theInstance().isNull();
}

void frmAbout::unload()
{
    delete theInstance().data();
    theInstance() = nullptr;
}

void frmAbout::ShowAbout(QWidget *owner)
{
    frmAbout *about = instance();
    if (owner && about->parentWidget() != owner)
        about->setParent(owner, about->windowFlags() | Qt::Dialog);
    about->setModal(false);
    about->show();
    about->raise();
    about->activateWindow();
}

QString frmAbout::legalNotice()
{
    return QStringLiteral(
        "Pictavo is provided as it is, without any warranty. Pictures are read and written by the "
        "program's own image engine and the Qt libraries; their authors' licences come with the "
        "program's documentation.");
}

QString frmAbout::supportLine()
{
    return QStringLiteral("Support: choose Help Index in the viewer, or report a problem on the "
                          "project's issue tracker.");
}

frmAbout::frmAbout(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About Pictavo"));
    setAttribute(Qt::WA_DeleteOnClose);

    const QStringList texts = {
        QStringLiteral("Pictavo"),
        QStringLiteral("Version ") + programVersion(),
        QStringLiteral(
            "Use Pictavo to easily navigate your favorite images in your computer, Slide show in "
            "full screen, Save to alot of image formats, Encryption, transformations, and more..."),
        legalNotice(),
        supportLine(),
    };
    for (int i = 0; i < 5; ++i) {
        m_labels[i] = new QLabel(texts.at(i), this);
        m_labels[i]->setObjectName(QStringLiteral("SkinLabel%1").arg(i + 1));
        m_labels[i]->setWordWrap(i >= 2);
    }
    QFont title = m_labels[0]->font();
    title.setPointSizeF(title.pointSizeF() * 1.6);
    title.setBold(true);
    m_labels[0]->setFont(title);

    m_icon = new QLabel(this);
    m_icon->setObjectName(QStringLiteral("picIcon"));
    m_icon->setPixmap(QApplication::windowIcon().pixmap(48, 48));
    m_bar = new QFrame(this);
    m_bar->setObjectName(QStringLiteral("barSeparator"));
    m_bar->setFrameShape(QFrame::HLine);
    m_bar->setFrameShadow(QFrame::Sunken);

    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QStringLiteral("cmdOK"));
    m_ok->setDefault(true);
    m_sysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
    m_sysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    m_sysInfo->setAutoDefault(false);

    auto *top = new QHBoxLayout;
    top->addWidget(m_icon, 0, Qt::AlignTop);
    auto *texts1 = new QVBoxLayout;
    texts1->addWidget(m_labels[0]);
    texts1->addWidget(m_labels[1]);
    texts1->addWidget(m_labels[2]);
    top->addLayout(texts1, 1);
    auto *buttons = new QVBoxLayout;
    buttons->addWidget(m_ok);
    buttons->addWidget(m_sysInfo);
    auto *bottom = new QHBoxLayout;
    auto *notes = new QVBoxLayout;
    notes->addWidget(m_labels[3]);
    notes->addWidget(m_labels[4]);
    bottom->addLayout(notes, 1);
    bottom->addLayout(buttons);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_bar);
    layout->addLayout(bottom);
    setMinimumWidth(480);

    // OK and Esc both close (and so unload) the box.
    connect(m_ok, &QPushButton::clicked, this, &QDialog::close);
    connect(m_sysInfo, &QPushButton::clicked, this, &frmAbout::StartSysInfo);

    if (const Skin *skin = Skin::current())
        skin->applyToWindow(this);
    Skin::applyElement(this, QStringLiteral("smallform"));
    Skin::applyElement(m_sysInfo, QStringLiteral("Button"));
    Skin::applyElement(m_ok, QStringLiteral("Button"));
    for (QLabel *label : m_labels)
        Skin::applyElement(label, QStringLiteral("Label"));
}

QLabel *frmAbout::SkinLabel(int number) const
{
    return number >= 1 && number <= 5 ? m_labels[number - 1] : nullptr;
}

bool frmAbout::GetKeyValue(RegistryRoot KeyRoot, const QString &KeyName, const QString &SubKeyRef,
                           QString &KeyVal)
{
    return qmt::GetKeyValue(KeyRoot, KeyName, SubKeyRef, KeyVal);
}

void frmAbout::StartSysInfo()
{
    QString path;
    if (!GetKeyValue(HKEY_LOCAL_MACHINE, kSysInfoPathKey, kSysInfoPathValue, path)) {
        QString folder;
        if (GetKeyValue(HKEY_LOCAL_MACHINE, kSysInfoLocationKey, kSysInfoLocationValue, folder) &&
            QFileInfo(folder + kSysInfoFileName).isFile())
            path = folder + kSysInfoFileName;
        else
            path.clear();
    }
    // The first value is taken as it stands: if it names nothing, the start fails below.
    if (path.isEmpty() || !launcher().startDetached(path, {}))
        prompts().message(kUnavailable, PromptIcon::None, PromptButtons::Ok);
}

} // namespace qmt
