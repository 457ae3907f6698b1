#include "shell/cregister.h"
#include "shell/registrystore.h"
#include "support/sandbox.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <memory>

using namespace qmt;

class CRegisterTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { m_sandbox = std::make_unique<test::Sandbox>(); }
    void cleanup()
    {
        QFile::setPermissions(m_sandbox->registryDir(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_sandbox.reset();
    }

    void normalizeSection_data();
    void normalizeSection();
    void missingSettingsGiveDefaultsWithoutCreatingAnything();
    void starMeansTheDefaultValue();
    void backslashesAroundTheSectionAddressTheSameKey();
    void valuesRoundTrip_data();
    void valuesRoundTrip();
    void valueWithoutDataGivesTheDefault();
    void deleteSettingRemovesOnlyThatValue();
    void deleteKeyTakesTheSectionAsGiven();
    void getAllKeysListsDirectSubKeys();
    void readOnlyRegistryStillReads();

private:
    QStringList registryFiles() const
    {
        return QDir(m_sandbox->registryDir()).entryList(QDir::Files | QDir::Hidden);
    }
    std::unique_ptr<test::Sandbox> m_sandbox;
};

void CRegisterTest::normalizeSection_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "SOFTWARE\\X"
                           << "SOFTWARE\\X";
    QTest::newRow("both ends") << "\\SOFTWARE\\X\\"
                               << "SOFTWARE\\X";
    QTest::newRow("leading") << "\\SOFTWARE"
                             << "SOFTWARE";
    QTest::newRow("two trailing keep one") << "SOFTWARE\\X\\\\"
                                           << "SOFTWARE\\X\\";
    QTest::newRow("two leading keep one") << "\\\\SOFTWARE"
                                          << "\\SOFTWARE";
    QTest::newRow("lone backslash") << "\\"
                                    << "";
    QTest::newRow("two backslashes") << "\\\\"
                                     << "";
    QTest::newRow("empty") << ""
                           << "";
}

void CRegisterTest::normalizeSection()
{
    QFETCH(QString, section);
    QFETCH(QString, expected);
    QCOMPARE(CRegister::NormalizeSection(section), expected);
}

void CRegisterTest::missingSettingsGiveDefaultsWithoutCreatingAnything()
{
    CRegister reg;
    QCOMPARE(reg.REGGetSetting(kSettingsRoot, kSettingsSection, kAntiAliasValue, kAntiAliasDefault),
             QStringLiteral("1"));
    QCOMPARE(reg.REGGetSetting(kSettingsRoot, kSettingsSection, kSlideShowDelayValue,
                               kSlideShowDelayDefault),
             QStringLiteral("2000"));
    QCOMPARE(
        reg.REGGetSetting(kSettingsRoot, kSettingsSection, kFullScreenValue, kFullScreenDefault),
        QStringLiteral("1"));
    QVERIFY2(registryFiles().isEmpty(), qPrintable(registryFiles().join(u',')));

    // A key that exists but lacks the value gives the default too and stays as it was.
    QVERIFY(
        reg.REGSaveSetting(kSettingsRoot, kSettingsSection, kFullScreenValue, QStringLiteral("0")));
    QCOMPARE(reg.REGGetSetting(kSettingsRoot, kSettingsSection, kAntiAliasValue, kAntiAliasDefault),
             QStringLiteral("1"));
    QCOMPARE(RegistryStore().valueNames(kSettingsRoot, kSettingsSection).value(),
             QStringList{QStringLiteral("FullScreen")});
}

void CRegisterTest::starMeansTheDefaultValue()
{
    CRegister reg;
    const QString section = QStringLiteral("Software\\Star");
    QVERIFY(reg.REGSaveSetting(HKEY_CURRENT_USER, section, QStringLiteral("*"),
                               QStringLiteral("unnamed")));
    QVERIFY(reg.REGSaveSetting(HKEY_CURRENT_USER, section, QStringLiteral("Other"),
                               QStringLiteral("named")));

    const auto stored = RegistryStore().value(HKEY_CURRENT_USER, section, QString());
    QVERIFY(stored);
    QCOMPARE(stored->text, QStringLiteral("unnamed"));
    QCOMPARE(
        reg.REGGetSetting(HKEY_CURRENT_USER, section, QStringLiteral("*"), QStringLiteral("d")),
        QStringLiteral("unnamed"));

    QVERIFY(reg.REGDeleteSetting(HKEY_CURRENT_USER, section, QStringLiteral("*")));
    QCOMPARE(
        reg.REGGetSetting(HKEY_CURRENT_USER, section, QStringLiteral("*"), QStringLiteral("d")),
        QStringLiteral("d"));
    QCOMPARE(
        reg.REGGetSetting(HKEY_CURRENT_USER, section, QStringLiteral("Other"), QStringLiteral("d")),
        QStringLiteral("named"));
    // Deleting it again fails: there is nothing left to delete.
    QVERIFY(!reg.REGDeleteSetting(HKEY_CURRENT_USER, section, QStringLiteral("*")));
}

void CRegisterTest::backslashesAroundTheSectionAddressTheSameKey()
{
    CRegister reg;
    QVERIFY(reg.REGSaveSetting(HKEY_LOCAL_MACHINE,
                               QStringLiteral("\\SOFTWARE\\Karvendel\\Pictavo Settings\\"),
                               kAntiAliasValue, QStringLiteral("0")));
    QCOMPARE(reg.REGGetSetting(HKEY_LOCAL_MACHINE,
                               QStringLiteral("SOFTWARE\\Karvendel\\Pictavo Settings"),
                               kAntiAliasValue, kAntiAliasDefault),
             QStringLiteral("0"));
    // Keys compare without regard to case, as they always did.
    QCOMPARE(reg.REGGetSetting(HKEY_LOCAL_MACHINE,
                               QStringLiteral("software\\KARVENDEL\\pictavo settings"),
                               QStringLiteral("antialias"), kAntiAliasDefault),
             QStringLiteral("0"));
    QCOMPARE(reg.GetAllKeys(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE")),
             QStringList{QStringLiteral("Karvendel")});
}

void CRegisterTest::valuesRoundTrip_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("minus one") << "-1";
    QTest::newRow("zero") << "0";
    QTest::newRow("empty string") << "";
    QTest::newRow("delay") << "32767";
    QTest::newRow("quotes and backslashes") << "C:\\a \"b\"\\";
    QTest::newRow("line breaks") << "one\r\ntwo\tthree";
    QTest::newRow("non-latin") << QStringLiteral("Bildbetrachter \u00fc\u20ac \U0001F600");
    QTest::newRow("looks like syntax") << "\"]=[@ ; #";
}

void CRegisterTest::valuesRoundTrip()
{
    QFETCH(QString, value);
    CRegister reg;
    QVERIFY(reg.REGSaveSetting(kSettingsRoot, kSettingsSection, kSlideShowDelayValue, value));
    QCOMPARE(reg.REGGetSetting(kSettingsRoot, kSettingsSection, kSlideShowDelayValue,
                               QStringLiteral("default")),
             value);
}

void CRegisterTest::valueWithoutDataGivesTheDefault()
{
    RegistryStore store;
    QCOMPARE(
        store.setValue(kSettingsRoot, kSettingsSection, kAntiAliasValue, RegistryValue::binary({})),
        RegistryError::None);
    QCOMPARE(store.setValue(kSettingsRoot, kSettingsSection, kFullScreenValue,
                            RegistryValue::string({})),
             RegistryError::None);
    CRegister reg;
    QCOMPARE(reg.REGGetSetting(kSettingsRoot, kSettingsSection, kAntiAliasValue, kAntiAliasDefault),
             QStringLiteral("1"));
    QCOMPARE(
        reg.REGGetSetting(kSettingsRoot, kSettingsSection, kFullScreenValue, kFullScreenDefault),
        QString(""));
}

void CRegisterTest::deleteSettingRemovesOnlyThatValue()
{
    CRegister reg;
    QVERIFY(
        reg.REGSaveSetting(kSettingsRoot, kSettingsSection, kAntiAliasValue, QStringLiteral("-1")));
    QVERIFY(
        reg.REGSaveSetting(kSettingsRoot, kSettingsSection, kFullScreenValue, QStringLiteral("0")));
    QVERIFY(reg.REGDeleteSetting(kSettingsRoot, kSettingsSection, kAntiAliasValue));
    QCOMPARE(
        reg.REGGetSetting(kSettingsRoot, kSettingsSection, kAntiAliasValue, QStringLiteral("x")),
        QStringLiteral("x"));
    QCOMPARE(
        reg.REGGetSetting(kSettingsRoot, kSettingsSection, kFullScreenValue, QStringLiteral("x")),
        QStringLiteral("0"));
    QVERIFY(
        !reg.REGDeleteSetting(kSettingsRoot, QStringLiteral("SOFTWARE\\Nowhere"), kAntiAliasValue));
    QVERIFY(!RegistryStore().keyExists(kSettingsRoot, QStringLiteral("SOFTWARE\\Nowhere")));
}

void CRegisterTest::deleteKeyTakesTheSectionAsGiven()
{
    CRegister reg;
    QVERIFY(reg.REGSaveSetting(HKEY_CURRENT_USER, QStringLiteral("Software\\A\\B"),
                               QStringLiteral("v"), QStringLiteral("1")));
    QVERIFY(reg.REGSaveSetting(HKEY_CURRENT_USER, QStringLiteral("Software\\AB"),
                               QStringLiteral("v"), QStringLiteral("2")));

    // Not normalized: a leading backslash names no key.
    QVERIFY(
        !reg.REGDeleteSetting(HKEY_CURRENT_USER, QStringLiteral("\\Software\\A\\B"), QString()));
    QVERIFY(RegistryStore().keyExists(HKEY_CURRENT_USER, QStringLiteral("Software\\A\\B")));
    // A key with sub-keys stays.
    QVERIFY(!reg.REGDeleteSetting(HKEY_CURRENT_USER, QStringLiteral("Software\\A"), QString()));
    QVERIFY(RegistryStore().keyExists(HKEY_CURRENT_USER, QStringLiteral("Software\\A\\B")));

    QVERIFY(reg.REGDeleteSetting(HKEY_CURRENT_USER, QStringLiteral("software\\a\\b"), QString()));
    QVERIFY(!RegistryStore().keyExists(HKEY_CURRENT_USER, QStringLiteral("Software\\A\\B")));
    QVERIFY(reg.REGDeleteSetting(HKEY_CURRENT_USER, QStringLiteral("Software\\A"), QString()));
    QVERIFY(!RegistryStore().keyExists(HKEY_CURRENT_USER, QStringLiteral("Software\\A")));
    QCOMPARE(reg.REGGetSetting(HKEY_CURRENT_USER, QStringLiteral("Software\\AB"),
                               QStringLiteral("v"), QString()),
             QStringLiteral("2"));
    QVERIFY(!reg.REGDeleteSetting(HKEY_CURRENT_USER, QString(), QString()));
}

void CRegisterTest::getAllKeysListsDirectSubKeys()
{
    CRegister reg;
    QVERIFY(reg.GetAllKeys(HKEY_CLASSES_ROOT, QStringLiteral("Nothing")).isEmpty());
    for (const char *key : {"Root\\Zeta", "Root\\alpha\\deep", "Root\\Mid", "Rooted\\Other"})
        QVERIFY(reg.REGSaveSetting(HKEY_CLASSES_ROOT, QString::fromLatin1(key), QStringLiteral("*"),
                                   QStringLiteral("x")));
    QCOMPARE(reg.GetAllKeys(HKEY_CLASSES_ROOT, QStringLiteral("Root")),
             (QStringList{QStringLiteral("Zeta"), QStringLiteral("alpha"), QStringLiteral("Mid")}));
    QCOMPARE(reg.GetAllKeys(HKEY_CLASSES_ROOT, QStringLiteral("ROOT\\ALPHA")),
             QStringList{QStringLiteral("deep")});
    QVERIFY(reg.GetAllKeys(HKEY_CLASSES_ROOT, QStringLiteral("Root\\Zeta")).isEmpty());
    QCOMPARE(reg.GetAllKeys(HKEY_CLASSES_ROOT, QString()).size(), 2);
}

void CRegisterTest::readOnlyRegistryStillReads()
{
    CRegister reg;
    QVERIFY(
        reg.REGSaveSetting(kSettingsRoot, kSettingsSection, kAntiAliasValue, QStringLiteral("0")));
    QVERIFY(QFile::setPermissions(m_sandbox->registryDir(), QFile::ReadOwner | QFile::ExeOwner |
                                                                QFile::ReadOther |
                                                                QFile::ExeOther));
    QCOMPARE(reg.REGGetSetting(kSettingsRoot, kSettingsSection, kAntiAliasValue, kAntiAliasDefault),
             QStringLiteral("0"));
    QVERIFY(!reg.REGSaveSetting(kSettingsRoot, kSettingsSection, kAntiAliasValue,
                                QStringLiteral("-1")));
    QVERIFY(!reg.REGSaveSetting(HKEY_CURRENT_USER, QStringLiteral("Software\\New"),
                                QStringLiteral("v"), QStringLiteral("1")));
    QVERIFY(!reg.REGDeleteSetting(kSettingsRoot, kSettingsSection, kAntiAliasValue));
    QCOMPARE(reg.REGGetSetting(kSettingsRoot, kSettingsSection, kAntiAliasValue, kAntiAliasDefault),
             QStringLiteral("0"));
}

QTEST_GUILESS_MAIN(CRegisterTest)
#include "cregistertest.moc"
