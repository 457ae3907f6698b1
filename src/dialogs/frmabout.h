#pragma once

#include "shell/registrystorehive.h"

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace qmt {

// The about box: the program's name, version and description, a legal notice, a support line,
// and a button that starts the system-information program recorded in the registry. One
// instance at a time; OK unloads it.
class frmAbout : public QDialog
{
    Q_OBJECT

public:
    static frmAbout *instance();
    static bool isLoaded();
    static void unload();
    // Shows the shared instance without blocking, in front of `owner`.
    static void ShowAbout(QWidget *owner);

    // Starts the system-information program, or says that there is none.
    void StartSysInfo();
    bool GetKeyValue(RegistryRoot KeyRoot, const QString &KeyName, const QString &SubKeyRef,
                     QString &KeyVal);

    QLabel *SkinLabel(int number) const; // 1 to 5
    QPushButton *cmdOK() const { return m_ok; }
    QPushButton *cmdSysInfo() const { return m_sysInfo; }

    static QString legalNotice();
    static QString supportLine();

private:
    explicit frmAbout(QWidget *parent = nullptr);

    QLabel *m_labels[5] = {};
    QLabel *m_icon = nullptr;
    QFrame *m_bar = nullptr;
    QPushButton *m_ok = nullptr;
    QPushButton *m_sysInfo = nullptr;
};

} // namespace qmt
