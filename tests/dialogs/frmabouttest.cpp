#include "dialogs/frmabout.h"

#include "shell/registrystore.h"
#include "shell/sysinfo.h"
#include "support/recordinglauncher.h"
#include "support/sandbox.h"
#include "support/scriptedprompts.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace qmt;
using test::RecordingLauncher;
using test::Sandbox;
using test::ScriptedPrompts;

class FrmAboutTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { frmAbout::unload(); }

    void texts()
    {
        frmAbout *about = frmAbout::instance();
        QCOMPARE(about->windowTitle(), QStringLiteral("About Pictavo"));
        QCOMPARE(about->SkinLabel(1)->text(), QStringLiteral("Pictavo"));
        QCOMPARE(about->SkinLabel(2)->text(), QStringLiteral("Version " QMT_VERSION));
        QVERIFY(about->SkinLabel(3)->text().startsWith("Use Pictavo to easily navigate"));
        QVERIFY(about->SkinLabel(3)->text().endsWith("Encryption, transformations, and more..."));
        QVERIFY(!about->SkinLabel(4)->text().isEmpty());
        QVERIFY(!about->SkinLabel(5)->text().isEmpty());
        QCOMPARE(about->cmdSysInfo()->text(), QStringLiteral("&System Info..."));
        QVERIFY(about->cmdOK()->isDefault());
        for (int i = 1; i <= 5; ++i)
            QCOMPARE(about->SkinLabel(i)->property("skinElement").toString(),
                     QStringLiteral("Label"));
    }

    void okUnloads()
    {
        frmAbout::ShowAbout(nullptr);
        QVERIFY(frmAbout::instance()->isVisible());
        frmAbout::instance()->cmdOK()->click();
        QTRY_VERIFY(!frmAbout::isLoaded());
    }

    void getKeyValue_data()
    {
        QTest::addColumn<QVariant>(
            "stored"); // QString, uint, or QByteArray (binary); invalid = none
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("value");
        QTest::newRow("string") << QVariant(QStringLiteral("/usr/bin/hardinfo")) << true
                                << "/usr/bin/hardinfo";
        QTest::newRow("string with terminator")
            << QVariant(QStringLiteral("abc") + QChar(0)) << true << "abc";
        QTest::newRow("number") << QVariant(uint(0x2a)) << true << "&h0000002A";
        QTest::newRow("binary keeps the old text")
            << QVariant(QByteArray("\x01\x02")) << true << "before";
        QTest::newRow("missing value") << QVariant() << false << "";
    }

    void getKeyValue()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, found);
        QFETCH(QString, value);
        Sandbox sandbox;
        RegistryStore store;
        QCOMPARE(store.createKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test"), RegistryError::None);
        if (stored.metaType().id() == QMetaType::QString)
            store.setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "V",
                           RegistryValue::string(stored.toString()));
        else if (stored.metaType().id() == QMetaType::UInt)
            store.setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "V",
                           RegistryValue::dword(stored.toUInt()));
        else if (stored.isValid())
            store.setValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "V",
                           RegistryValue::binary(stored.toByteArray()));
        QString keyVal = QStringLiteral("before");
        QCOMPARE(
            frmAbout::instance()->GetKeyValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Test", "V", keyVal),
            found);
        QCOMPARE(keyVal, value);
        keyVal = QStringLiteral("before");
        QVERIFY(!frmAbout::instance()->GetKeyValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Missing", "V",
                                                   keyVal));
        QCOMPARE(keyVal, QString());
    }

    void startSysInfo_data()
    {
        QTest::addColumn<QString>("pathValue"); // "" = no first value
        QTest::addColumn<QString>(
            "locationValue"); // "" = no second value; "@" = the sandbox folder
        QTest::addColumn<bool>("toolFileThere");
        QTest::addColumn<bool>("launchWorks");
        QTest::addColumn<QString>("started"); // "" = nothing started; "@" = the sandbox folder
        QTest::addColumn<bool>("message");
        QTest::newRow("first key, no such file still started")
            << "/nowhere/hardinfo"
            << "" << false << true << "/nowhere/hardinfo" << false;
        QTest::newRow("first key, start fails")
            << "/nowhere/hardinfo"
            << "" << false << false << "/nowhere/hardinfo" << true;
        QTest::newRow("first key wins over second") << "/usr/bin/x"
                                                    << "@" << true << true << "/usr/bin/x" << false;
        QTest::newRow("second key with the tool")
            << ""
            << "@" << true << true << "@/MSINFO32.EXE" << false;
        QTest::newRow("second key without the tool") << ""
                                                     << "@" << false << true << "" << true;
        QTest::newRow("no keys") << ""
                                 << "" << false << true << "" << true;
    }

    void startSysInfo()
    {
        QFETCH(QString, pathValue);
        QFETCH(QString, locationValue);
        QFETCH(bool, toolFileThere);
        QFETCH(bool, launchWorks);
        QFETCH(QString, started);
        QFETCH(bool, message);
        Sandbox sandbox;
        ScriptedPrompts prompts;
        RecordingLauncher launcher;
        launcher.setDetachedResult(launchWorks);
        const QString folder = sandbox.makeDir("tools");
        if (toolFileThere) {
            QFile tool(folder + "/MSINFO32.EXE");
            QVERIFY(tool.open(QIODevice::WriteOnly));
        }
        RegistryStore store;
        if (!pathValue.isEmpty())
            store.setValue(HKEY_LOCAL_MACHINE, kSysInfoPathKey, kSysInfoPathValue,
                           RegistryValue::string(pathValue));
        if (!locationValue.isEmpty())
            store.setValue(HKEY_LOCAL_MACHINE, kSysInfoLocationKey, kSysInfoLocationValue,
                           RegistryValue::string(locationValue == "@" ? folder : locationValue));

        frmAbout::instance()->cmdSysInfo()->click();

        started.replace('@', folder);
        if (started.isEmpty()) {
            QVERIFY(launcher.calls().isEmpty());
        } else {
            QCOMPARE(launcher.calls().size(), 1);
            QCOMPARE(launcher.calls().first().kind, RecordingLauncher::Call::Detached);
            QCOMPARE(launcher.calls().first().program, started);
        }
        QCOMPARE(prompts.asked().size(), message ? 1 : 0);
        if (message) {
            QCOMPARE(prompts.asked().first().text,
                     QStringLiteral("System Information Is Unavailable At This Time"));
            QCOMPARE(prompts.asked().first().buttons, PromptButtons::Ok);
        }
    }

    void recordSystemInfoTool()
    {
        Sandbox sandbox;
        RecordingLauncher launcher;
        // A stand-in program on PATH.
        const QString bin = sandbox.makeDir("bin");
        QFile tool(bin + "/kinfocenter");
        QVERIFY(tool.open(QIODevice::WriteOnly));
        tool.write("#!/bin/sh\n");
        tool.close();
        tool.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", bin.toLocal8Bit());

        launcher.setAvailablePrograms({});
        QVERIFY(!RecordSystemInfoTool());
        QString value;
        QVERIFY(!GetKeyValue(HKEY_LOCAL_MACHINE, kSysInfoPathKey, kSysInfoPathValue, value));

        launcher.setAvailablePrograms({"kinfocenter"});
        QVERIFY(RecordSystemInfoTool());
        qputenv("PATH", oldPath);
        QVERIFY(GetKeyValue(HKEY_LOCAL_MACHINE, kSysInfoPathKey, kSysInfoPathValue, value));
        QCOMPARE(value, bin + "/kinfocenter");
        QVERIFY(GetKeyValue(HKEY_LOCAL_MACHINE, kSysInfoLocationKey, kSysInfoLocationValue, value));
        QCOMPARE(value, bin);

        // A value already there (chosen by the user) is kept.
        RegistryStore().setValue(HKEY_LOCAL_MACHINE, kSysInfoPathKey, kSysInfoPathValue,
                                 RegistryValue::string("/opt/mine"));
        launcher.setAvailablePrograms({"hardinfo"});
        QVERIFY(RecordSystemInfoTool());
        QVERIFY(GetKeyValue(HKEY_LOCAL_MACHINE, kSysInfoPathKey, kSysInfoPathValue, value));
        QCOMPARE(value, QStringLiteral("/opt/mine"));
    }
};

QTEST_MAIN(FrmAboutTest)
#include "frmabouttest.moc"
