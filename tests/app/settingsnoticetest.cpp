// The notice that settings could not be saved, through the real message box a person sees.
#include "app/qtprompts.h"
#include "shell/cregister.h"
#include "support/modaldriver.h"
#include "support/sandbox.h"
#include "viewer/frmviwer.h"
#include "viewer/viewersettings.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTest>

using namespace qmt;
using qmt::test::ModalDriver;

class SettingsNoticeTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs); }

    void readOnlySettingsAreToldInAMessageBox()
    {
        test::Sandbox sandbox;
        QtPrompts real;
        setPrompts(&real);
        QVERIFY(CRegister().REGSaveSetting(kSettingsRoot, kSettingsSection, kFullScreenValue,
                                           QStringLiteral("0")));
        const QString dir = sandbox.registryDir();
        QVERIFY(QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner));

        ModalDriver driver;
        QString shown;
        driver.then<QMessageBox>([&](QMessageBox *box) {
            shown = box->text();
            QCOMPARE(box->icon(), QMessageBox::Warning);
            test::clickButton(box, QStringLiteral("OK"));
        });
        frmViwer *window = frmViwer::instance();
        window->ToggleAntiAlias();
        window->ToggleAntiAlias(); // told once only: no second box
        QVERIFY2(driver.finished(), qPrintable(driver.failures().join(u'\n')));
        QCOMPARE(driver.seen().size(), 1);
        QVERIFY2(shown.startsWith(QStringLiteral("Your settings could not be saved")),
                 qPrintable(shown));

        QVERIFY(QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        frmViwer::unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        setPrompts(nullptr);
        viewer::resetUnsavedSettings();
    }
};

QTEST_MAIN(SettingsNoticeTest)
#include "settingsnoticetest.moc"
