#include "shell/registrystore.h"
#include "shell/cregister.h"
#include "shell/registryfilecache.h"
#include "support/sandbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <QThread>

#include <memory>

#include <fcntl.h>
#include <sys/stat.h>

using namespace qmt;

namespace {

const QString kConcurrentKey = QStringLiteral("Software\\Concurrent");

// Run as "--writer PREFIX COUNT": writes COUNT distinct values through the settings class into
// the registry folder named by the environment; the exit status is the number of failed writes.
int runWriter(const QString &prefix, int count)
{
    CRegister reg;
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        if (!reg.REGSaveSetting(HKEY_CURRENT_USER, kConcurrentKey,
                                QStringLiteral("%1-%2").arg(prefix).arg(i),
                                QStringLiteral("value %1 of %2").arg(i).arg(prefix)))
            ++failures;
    }
    return qMin(failures, 100);
}

// Run as "--set NAME VALUE": writes one setting through the settings class, as a second copy of
// the program would.
int runSetter(const QString &name, const QString &value)
{
    return CRegister().REGSaveSetting(kSettingsRoot, kSettingsSection, name, value) ? 0 : 1;
}

// Run as "--hold": takes the settings root's lock inside a batch with one change, says "held" and
// waits to be killed; the change is never written.
int runHolder()
{
    RegistryBatch batch;
    CRegister().REGSaveSetting(kSettingsRoot, kSettingsSection, QStringLiteral("Unfinished"),
                               QStringLiteral("x"));
    std::fputs("held\n", stdout);
    std::fflush(stdout);
    QThread::sleep(600);
    return 1;
}

QString setting(const QString &name)
{
    return CRegister().REGGetSetting(kSettingsRoot, kSettingsSection, name,
                                     QStringLiteral("<none>"));
}

// Sets the file's modification time to `secondsAgo` before now.
bool ageFile(const QString &path, int secondsAgo)
{
    timespec times[2];
    clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= secondsAgo;
    times[1] = times[0];
    return utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool writeAll(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

} // namespace

class RegistryStoreTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { m_sandbox = std::make_unique<test::Sandbox>(); }
    void cleanup()
    {
        const auto all = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        QFile::setPermissions(m_sandbox->registryDir(), all);
        for (const QString &f : QDir(m_sandbox->registryDir()).entryList(QDir::Files))
            QFile::setPermissions(m_sandbox->registryDir() + u'/' + f, all);
        m_sandbox.reset();
    }

    void typedValuesSurviveTheFile_data();
    void typedValuesSurviveTheFile();
    void keysKeepTheirWrittenCase();
    void deleteKeyRespectsSubKeysAndSiblings();
    void invalidKeyPathsAreRefused_data();
    void invalidKeyPathsAreRefused();
    void handEditedFileIsRead();
    void damagedFileIsKeptAside_data();
    void damagedFileIsKeptAside();
    void readOnlyPlacesRefuseWrites_data();
    void readOnlyPlacesRefuseWrites();
    void missingFolderIsCreatedOnFirstWrite();
    void defaultFolderFollowsXdgConfigHome();
    void twoWritingProcessesLoseNothing();
    void batchWritesOnceAtTheEnd();
    void changesByOthersAreSeen_data();
    void changesByOthersAreSeen();
    void unchangedFileIsParsedOnce();
    void lockFilesLeftBehind_data();
    void lockFilesLeftBehind();
    void writerKilledWhileHoldingTheLockBlocksNobody();
    void changeBeyondTheFileLimitIsRefused();

private:
    std::unique_ptr<test::Sandbox> m_sandbox;
};

void RegistryStoreTest::typedValuesSurviveTheFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<RegistryValue>("value");
    QTest::newRow("default value")
        << QString() << RegistryValue::string(QStringLiteral("Orvanta JPG image"));
    QTest::newRow("at-sign name") << QStringLiteral("@")
                                  << RegistryValue::string(QStringLiteral("not the default"));
    QTest::newRow("escapes in name")
        << QStringLiteral("a\"b\\c\nd") << RegistryValue::string(QStringLiteral("x"));
    QTest::newRow("control characters") << QStringLiteral("ctl")
                                        << RegistryValue::string(QString::fromUtf16(u"a\x01\x7f"
                                                                                    "b\x1b"));
    QTest::newRow("embedded null")
        << QStringLiteral("nul") << RegistryValue::string(QString::fromUtf16(u"ab\0cd", 5));
    QTest::newRow("expandable") << QStringLiteral("exp")
                                << RegistryValue::expandString(QStringLiteral("%HOME%\\x"));
    QTest::newRow("number") << QStringLiteral("n") << RegistryValue::dword(0xdeadbeefu);
    QTest::newRow("bytes") << QStringLiteral("b")
                           << RegistryValue::binary(QByteArray("\x00\xff\x10", 3));
    QTest::newRow("no data") << QStringLiteral("none") << RegistryValue::binary({});
}

void RegistryStoreTest::typedValuesSurviveTheFile()
{
    QFETCH(QString, name);
    QFETCH(RegistryValue, value);
    RegistryStore store;
    QCOMPARE(store.setValue(HKEY_CLASSES_ROOT, QStringLiteral("Orvanta.jpg"), name, value),
             RegistryError::None);
    QCOMPARE(store.setValue(HKEY_CLASSES_ROOT, QStringLiteral("Orvanta.jpg"),
                            QStringLiteral("after"),
                            RegistryValue::string(QStringLiteral("next line"))),
             RegistryError::None);
    // A second store reads the file afresh.
    const auto back = RegistryStore().value(HKEY_CLASSES_ROOT, QStringLiteral("orvanta.JPG"), name);
    QVERIFY(back);
    QCOMPARE(*back, value);
    QCOMPARE(RegistryStore()
                 .value(HKEY_CLASSES_ROOT, QStringLiteral("Orvanta.jpg"), QStringLiteral("after"))
                 ->text,
             QStringLiteral("next line"));
    // The file stays line-oriented text a person can edit.
    const QByteArray text = readAll(store.fileOf(HKEY_CLASSES_ROOT));
    QVERIFY(text.contains("[HKEY_CLASSES_ROOT\\Orvanta.jpg]\n"));
    QVERIFY(!text.contains('\0'));
    QVERIFY(text.contains("\n\"after\"=\"next line\"\n"));
}

void RegistryStoreTest::keysKeepTheirWrittenCase()
{
    RegistryStore store;
    QCOMPARE(store.createKey(HKEY_CURRENT_USER, QStringLiteral("Software\\Karvendel")),
             RegistryError::None);
    QCOMPARE(store.setValue(HKEY_CURRENT_USER, QStringLiteral("SOFTWARE\\karvendel\\Sub"),
                            QStringLiteral("Name"), RegistryValue::string(QStringLiteral("1"))),
             RegistryError::None);
    QCOMPARE(store.setValue(HKEY_CURRENT_USER, QStringLiteral("software\\KARVENDEL\\SUB"),
                            QStringLiteral("NAME"), RegistryValue::string(QStringLiteral("2"))),
             RegistryError::None);
    QCOMPARE(store.subKeys(HKEY_CURRENT_USER, QString()).value(),
             QStringList{QStringLiteral("Software")});
    QCOMPARE(store.subKeys(HKEY_CURRENT_USER, QStringLiteral("software")).value(),
             QStringList{QStringLiteral("Karvendel")});
    QCOMPARE(
        store.valueNames(HKEY_CURRENT_USER, QStringLiteral("Software\\Karvendel\\Sub")).value(),
        QStringList{QStringLiteral("Name")});
    QCOMPARE(store
                 .value(HKEY_CURRENT_USER, QStringLiteral("Software\\Karvendel\\Sub"),
                        QStringLiteral("name"))
                 ->text,
             QStringLiteral("2"));
    QVERIFY(readAll(store.fileOf(HKEY_CURRENT_USER))
                .contains("[HKEY_CURRENT_USER\\Software\\Karvendel\\Sub]"));
    // Roots are separate files.
    QVERIFY(!store.keyExists(HKEY_LOCAL_MACHINE, QStringLiteral("Software")));
}

void RegistryStoreTest::deleteKeyRespectsSubKeysAndSiblings()
{
    RegistryStore store;
    for (const char *key : {"A\\B\\C", "A\\B2", "AB", "A\\B\\C2"})
        QCOMPARE(store.setValue(HKEY_CLASSES_ROOT, QString::fromLatin1(key), {},
                                RegistryValue::string(QStringLiteral("v"))),
                 RegistryError::None);
    QCOMPARE(store.deleteKey(HKEY_CLASSES_ROOT, QStringLiteral("A\\B"), false),
             RegistryError::HasSubKeys);
    QVERIFY(store.keyExists(HKEY_CLASSES_ROOT, QStringLiteral("A\\B\\C")));
    QCOMPARE(store.deleteKey(HKEY_CLASSES_ROOT, QStringLiteral("a\\b"), true), RegistryError::None);
    QVERIFY(!store.keyExists(HKEY_CLASSES_ROOT, QStringLiteral("A\\B")));
    QVERIFY(!store.keyExists(HKEY_CLASSES_ROOT, QStringLiteral("A\\B\\C2")));
    QVERIFY(store.keyExists(HKEY_CLASSES_ROOT, QStringLiteral("A\\B2")));
    QVERIFY(store.keyExists(HKEY_CLASSES_ROOT, QStringLiteral("AB")));
    QCOMPARE(store.deleteKey(HKEY_CLASSES_ROOT, QStringLiteral("A\\B"), true),
             RegistryError::NotFound);
    QCOMPARE(store.deleteValue(HKEY_CLASSES_ROOT, QStringLiteral("AB"), QStringLiteral("missing")),
             RegistryError::NotFound);
    QCOMPARE(store.deleteKey(HKEY_CLASSES_ROOT, QString(), true), RegistryError::InvalidName);
}

void RegistryStoreTest::invalidKeyPathsAreRefused_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("leading backslash") << "\\Software";
    QTest::newRow("doubled backslash") << "Software\\\\X";
    QTest::newRow("two trailing") << "Software\\\\";
    QTest::newRow("line break") << "Soft\nware";
    QTest::newRow("too long") << QString(256, u'k');
}

void RegistryStoreTest::invalidKeyPathsAreRefused()
{
    QFETCH(QString, path);
    RegistryStore store;
    QCOMPARE(store.setValue(HKEY_CURRENT_USER, path, QStringLiteral("v"),
                            RegistryValue::string(QStringLiteral("x"))),
             RegistryError::InvalidName);
    RegistryError error = RegistryError::None;
    QVERIFY(!store.value(HKEY_CURRENT_USER, path, QStringLiteral("v"), &error));
    QCOMPARE(error, RegistryError::InvalidName);
    QVERIFY(!QFile::exists(store.fileOf(HKEY_CURRENT_USER)));
    QCOMPARE(store.setValue(RegistryRoot(0x80000005u), QStringLiteral("X"), {},
                            RegistryValue::string({})),
             RegistryError::InvalidRoot);
}

void RegistryStoreTest::handEditedFileIsRead()
{
    RegistryStore store;
    const QByteArray text = "\xEF\xBB\xBF; settings typed by hand\r\n"
                            "# another comment\r\n"
                            "\r\n"
                            "  [HKEY_LOCAL_MACHINE\\SOFTWARE\\Karvendel\\Pictavo Settings]  \r\n"
                            "\"AntiAlias\" = \"0\"\r\n"
                            "\"Slide Show Delay\"=\"500\"\r\n"
                            "@=\"default\"\r\n"
                            "[hkey_local_machine\\Other]\r\n"
                            "\"n\"=DWORD:2A\r\n";
    QVERIFY(writeAll(store.fileOf(HKEY_LOCAL_MACHINE), text));
    CRegister reg;
    QCOMPARE(reg.REGGetSetting(kSettingsRoot, kSettingsSection, kAntiAliasValue, kAntiAliasDefault),
             QStringLiteral("0"));
    QCOMPARE(reg.REGGetSetting(kSettingsRoot, kSettingsSection, kSlideShowDelayValue,
                               kSlideShowDelayDefault),
             QStringLiteral("500"));
    QCOMPARE(reg.REGGetSetting(kSettingsRoot, kSettingsSection, QStringLiteral("*"), QString()),
             QStringLiteral("default"));
    QCOMPARE(
        reg.REGGetSetting(kSettingsRoot, QStringLiteral("Other"), QStringLiteral("n"), QString()),
        QStringLiteral("42"));
    QCOMPARE(reg.GetAllKeys(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE")),
             QStringList{QStringLiteral("Karvendel")});
    // A change keeps every value of the hand-written file.
    QVERIFY(reg.REGSaveSetting(kSettingsRoot, kSettingsSection, kFullScreenValue,
                               QStringLiteral("-1")));
    QCOMPARE(reg.REGGetSetting(kSettingsRoot, kSettingsSection, kAntiAliasValue, kAntiAliasDefault),
             QStringLiteral("0"));
    QCOMPARE(
        reg.REGGetSetting(kSettingsRoot, QStringLiteral("Other"), QStringLiteral("n"), QString()),
        QStringLiteral("42"));
}

void RegistryStoreTest::damagedFileIsKeptAside_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("binary garbage") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    QTest::newRow("unterminated quote")
        << QByteArray("[HKEY_LOCAL_MACHINE\\S]\n\"AntiAlias\"=\"0\n");
    QTest::newRow("value before any key") << QByteArray("\"AntiAlias\"=\"0\"\n");
    QTest::newRow("key of another root")
        << QByteArray("[HKEY_CURRENT_USER\\S]\n\"AntiAlias\"=\"0\"\n");
    QTest::newRow("unknown escape") << QByteArray("[HKEY_LOCAL_MACHINE\\S]\n\"a\"=\"\\q\"\n");
    QTest::newRow("bad number") << QByteArray("[HKEY_LOCAL_MACHINE\\S]\n\"a\"=dword:xyz\n");
    QTest::newRow("bad bytes") << QByteArray("[HKEY_LOCAL_MACHINE\\S]\n\"a\"=hex:1,zz\n");
    QTest::newRow("not utf-8") << QByteArray("[HKEY_LOCAL_MACHINE\\S]\n\"a\"=\"\xff\xfe\"\n");
    QTest::newRow("empty key name") << QByteArray("[HKEY_LOCAL_MACHINE\\\\S]\n");
    QTest::newRow("unterminated key") << QByteArray("[HKEY_LOCAL_MACHINE\\S\n");
    QTest::newRow("key 5000 levels deep")
        << "[HKEY_LOCAL_MACHINE" + QByteArray("\\k").repeated(5000) + "]\n\"AntiAlias\"=\"0\"\n";
    QTest::newRow("larger than the limit") << "[HKEY_LOCAL_MACHINE\\S]\n\"AntiAlias\"=\"0\"\n; " +
                                                  QByteArray(RegistryHive::kMaxFileSize, 'x') +
                                                  '\n';
}

void RegistryStoreTest::damagedFileIsKeptAside()
{
    QFETCH(QByteArray, content);
    RegistryStore store;
    const QString file = store.fileOf(HKEY_LOCAL_MACHINE);
    QVERIFY(writeAll(file, content));

    CRegister reg;
    QCOMPARE(
        reg.REGGetSetting(kSettingsRoot, QStringLiteral("S"), kAntiAliasValue, kAntiAliasDefault),
        QStringLiteral("1"));
    QCOMPARE(reg.REGGetSetting(kSettingsRoot, kSettingsSection, kSlideShowDelayValue,
                               kSlideShowDelayDefault),
             QStringLiteral("2000"));
    QCOMPARE(readAll(file), content); // reading never changes the file

    QVERIFY(
        reg.REGSaveSetting(kSettingsRoot, kSettingsSection, kAntiAliasValue, QStringLiteral("-1")));
    QCOMPARE(reg.REGGetSetting(kSettingsRoot, kSettingsSection, kAntiAliasValue, kAntiAliasDefault),
             QStringLiteral("-1"));
    const QStringList aside =
        QDir(store.directory()).entryList({QStringLiteral("HKEY_LOCAL_MACHINE.reg.damaged-*")});
    QCOMPARE(aside.size(), 1);
    QCOMPARE(readAll(store.directory() + u'/' + aside.first()), content);

    // A second damage gets its own name; the first copy stays.
    QVERIFY(writeAll(file, content));
    QVERIFY(
        reg.REGSaveSetting(kSettingsRoot, kSettingsSection, kFullScreenValue, QStringLiteral("0")));
    QCOMPARE(QDir(store.directory())
                 .entryList({QStringLiteral("HKEY_LOCAL_MACHINE.reg.damaged-*")})
                 .size(),
             2);
}

void RegistryStoreTest::readOnlyPlacesRefuseWrites_data()
{
    QTest::addColumn<bool>("folderReadOnly");
    QTest::addColumn<bool>("fileReadOnly");
    QTest::newRow("folder") << true << false;
    QTest::newRow("file") << false << true;
    QTest::newRow("both") << true << true;
}

void RegistryStoreTest::readOnlyPlacesRefuseWrites()
{
    QFETCH(bool, folderReadOnly);
    QFETCH(bool, fileReadOnly);
    RegistryStore store;
    QCOMPARE(store.setValue(HKEY_LOCAL_MACHINE, QStringLiteral("S"), QStringLiteral("v"),
                            RegistryValue::string(QStringLiteral("kept"))),
             RegistryError::None);
    const QString file = store.fileOf(HKEY_LOCAL_MACHINE);
    const QByteArray before = readAll(file);
    const auto readOnly = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
    if (fileReadOnly)
        QVERIFY(QFile::setPermissions(file, readOnly));
    if (folderReadOnly)
        QVERIFY(
            QFile::setPermissions(store.directory(), readOnly | QFile::ExeOwner | QFile::ExeOther));

    QVERIFY(!store.isWritable(HKEY_LOCAL_MACHINE));
    QCOMPARE(store.value(HKEY_LOCAL_MACHINE, QStringLiteral("S"), QStringLiteral("v"))->text,
             QStringLiteral("kept"));
    QCOMPARE(store.setValue(HKEY_LOCAL_MACHINE, QStringLiteral("S"), QStringLiteral("v"),
                            RegistryValue::string(QStringLiteral("new"))),
             RegistryError::AccessDenied);
    QCOMPARE(store.deleteValue(HKEY_LOCAL_MACHINE, QStringLiteral("S"), QStringLiteral("v")),
             RegistryError::AccessDenied);
    QCOMPARE(store.deleteKey(HKEY_LOCAL_MACHINE, QStringLiteral("S"), true),
             RegistryError::AccessDenied);
    QCOMPARE(readAll(file), before);
    QCOMPARE(QDir(store.directory()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("HKEY_LOCAL_MACHINE.reg")});
    // A root without a file yet cannot be started in a read-only folder either.
    if (folderReadOnly) {
        QCOMPARE(
            store.setValue(HKEY_CURRENT_USER, QStringLiteral("S"), {}, RegistryValue::string({})),
            RegistryError::AccessDenied);
    }
}

void RegistryStoreTest::missingFolderIsCreatedOnFirstWrite()
{
    const QString dir = m_sandbox->file(QStringLiteral("deeper/still/registry"));
    RegistryStore store(dir);
    QVERIFY(store.isWritable(HKEY_CURRENT_USER));
    QVERIFY(!store.value(HKEY_CURRENT_USER, QStringLiteral("S"), {}));
    QVERIFY(!QFileInfo::exists(dir));
    QCOMPARE(store.setValue(HKEY_CURRENT_USER, QStringLiteral("S"), {},
                            RegistryValue::string(QStringLiteral("x"))),
             RegistryError::None);
    QVERIFY(QFileInfo::exists(dir + QStringLiteral("/HKEY_CURRENT_USER.reg")));
}

void RegistryStoreTest::defaultFolderFollowsXdgConfigHome()
{
    QCOMPARE(RegistryStore().directory(), QDir::cleanPath(m_sandbox->registryDir()));
    qunsetenv("QMT_REGISTRY_DIR");
    QCOMPARE(RegistryStore().directory(),
             QDir::cleanPath(m_sandbox->file(QStringLiteral("config/pictavo/registry"))));
    // The sandbox restores QMT_REGISTRY_DIR when it ends.
}

void RegistryStoreTest::twoWritingProcessesLoseNothing()
{
    constexpr int kCount = 150;
    QList<QProcess *> writers;
    for (const QString &prefix : {QStringLiteral("first"), QStringLiteral("second")}) {
        auto *p = new QProcess(this);
        p->setProcessChannelMode(QProcess::ForwardedChannels);
        p->start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--writer"), prefix, QString::number(kCount)});
        writers.append(p);
    }
    for (QProcess *p : std::as_const(writers)) {
        QVERIFY(p->waitForFinished(120000));
        QCOMPARE(p->exitStatus(), QProcess::NormalExit);
        QCOMPARE(p->exitCode(), 0);
    }
    const auto names = RegistryStore().valueNames(HKEY_CURRENT_USER, kConcurrentKey);
    QVERIFY(names);
    QCOMPARE(names->size(), 2 * kCount);
    CRegister reg;
    for (const QString &prefix : {QStringLiteral("first"), QStringLiteral("second")}) {
        for (int i = 0; i < kCount; ++i) {
            QCOMPARE(reg.REGGetSetting(HKEY_CURRENT_USER, kConcurrentKey,
                                       QStringLiteral("%1-%2").arg(prefix).arg(i), QString()),
                     QStringLiteral("value %1 of %2").arg(i).arg(prefix));
        }
    }
    QVERIFY(!QFile::exists(RegistryStore().fileOf(HKEY_CURRENT_USER) + QStringLiteral(".lock")));
}

void RegistryStoreTest::batchWritesOnceAtTheEnd()
{
    RegistryStore store;
    QCOMPARE(store.setValue(HKEY_CLASSES_ROOT, QStringLiteral("Before"), {},
                            RegistryValue::string(QStringLiteral("b"))),
             RegistryError::None);
    const QString file = store.fileOf(HKEY_CLASSES_ROOT);
    const QByteArray before = readAll(file);
    {
        RegistryBatch batch;
        for (int i = 0; i < 20; ++i) {
            QCOMPARE(store.setValue(HKEY_CLASSES_ROOT, QStringLiteral("K%1").arg(i), {},
                                    RegistryValue::string(QString::number(i))),
                     RegistryError::None);
        }
        QCOMPARE(RegistryStore().deleteKey(HKEY_CLASSES_ROOT, QStringLiteral("Before")),
                 RegistryError::None);
        {
            RegistryBatch inner; // adds to the outer batch
            CRegister().REGSaveSetting(HKEY_CLASSES_ROOT, QStringLiteral("Inner"),
                                       QStringLiteral("*"), QStringLiteral("i"));
        }
        // Reads see the collected changes; the file does not have them yet.
        QCOMPARE(CRegister().REGGetSetting(HKEY_CLASSES_ROOT, QStringLiteral("K7"),
                                           QStringLiteral("*"), QString()),
                 QStringLiteral("7"));
        QCOMPARE(CRegister().REGGetSetting(HKEY_CLASSES_ROOT, QStringLiteral("Inner"),
                                           QStringLiteral("*"), QString()),
                 QStringLiteral("i"));
        QVERIFY(!store.keyExists(HKEY_CLASSES_ROOT, QStringLiteral("Before")));
        QCOMPARE(readAll(file), before);
        QVERIFY(QFile::exists(file + QStringLiteral(".lock")));
        // Roots not changed in the batch stay unlocked and unwritten.
        QVERIFY(!QFile::exists(store.fileOf(HKEY_CURRENT_USER) + QStringLiteral(".lock")));
    }
    QVERIFY(!QFile::exists(file + QStringLiteral(".lock")));
    QCOMPARE(RegistryStore().subKeys(HKEY_CLASSES_ROOT, QString())->size(), 21);
    QCOMPARE(RegistryStore().value(HKEY_CLASSES_ROOT, QStringLiteral("K19"), {})->text,
             QStringLiteral("19"));
    QVERIFY(!QFile::exists(store.fileOf(HKEY_CURRENT_USER)));
}

void RegistryStoreTest::changesByOthersAreSeen_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("another process") << QStringLiteral("process");
    // Same inode, same size, the time stamp put back: only the change time tells.
    QTest::newRow("edited in place, time stamp kept") << QStringLiteral("in place");
    QTest::newRow("replaced by a file of the same size") << QStringLiteral("replaced");
}

void RegistryStoreTest::changesByOthersAreSeen()
{
    QFETCH(QString, how);
    const QString file = RegistryStore().fileOf(kSettingsRoot);
    QVERIFY(writeAll(file, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Karvendel\\Pictavo Settings]\n"
                           "\"Slide Show Delay\"=\"1000\"\n"));
    // Written long ago, so that its stat alone vouches for it.
    QVERIFY(ageFile(file, 3600));
    QCOMPARE(setting(QStringLiteral("Slide Show Delay")), QStringLiteral("1000"));
    QCOMPARE(setting(QStringLiteral("Slide Show Delay")), QStringLiteral("1000"));

    const QByteArray changed = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Karvendel\\Pictavo Settings]\n"
                               "\"Slide Show Delay\"=\"3000\"\n";
    if (how == QLatin1String("process")) {
        QCOMPARE(QProcess::execute(QCoreApplication::applicationFilePath(),
                                   {QStringLiteral("--set"), QStringLiteral("Slide Show Delay"),
                                    QStringLiteral("3000")}),
                 0);
    } else if (how == QLatin1String("in place")) {
        struct stat before {
        };
        QCOMPARE(::stat(QFile::encodeName(file).constData(), &before), 0);
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QCOMPARE(f.write(changed), qint64(changed.size()));
        f.close();
        const timespec times[2] = {before.st_atim, before.st_mtim};
        QCOMPARE(utimensat(AT_FDCWD, QFile::encodeName(file).constData(), times, 0), 0);
    } else {
        QVERIFY(writeAll(file + QStringLiteral(".new"), changed));
        QVERIFY(ageFile(file + QStringLiteral(".new"), 3600));
        QCOMPARE(::rename(QFile::encodeName(file + QStringLiteral(".new")).constData(),
                          QFile::encodeName(file).constData()),
                 0);
    }
    QCOMPARE(setting(QStringLiteral("Slide Show Delay")), QStringLiteral("3000"));
}

void RegistryStoreTest::unchangedFileIsParsedOnce()
{
    CRegister reg;
    QVERIFY(
        reg.REGSaveSetting(kSettingsRoot, kSettingsSection, kAntiAliasValue, QStringLiteral("0")));
    const quint64 afterWrite = RegistryFileCache::parseCount();
    // Just written: the file is compared with what was written, not parsed again.
    for (int i = 0; i < 50; ++i)
        QCOMPARE(setting(kAntiAliasValue), QStringLiteral("0"));
    QCOMPARE(RegistryFileCache::parseCount(), afterWrite);

    // Written by someone else long ago: parsed at the first read only.
    const QString file = RegistryStore().fileOf(kSettingsRoot);
    QVERIFY(writeAll(file, readAll(file).replace("\"0\"", "\"5\"")));
    QVERIFY(ageFile(file, 3600));
    for (int i = 0; i < 50; ++i)
        QCOMPARE(setting(kAntiAliasValue), QStringLiteral("5"));
    QCOMPARE(RegistryFileCache::parseCount(), afterWrite + 1);
}

void RegistryStoreTest::lockFilesLeftBehind_data()
{
    QTest::addColumn<QString>("left");
    QTest::addColumn<int>("result");
    QTest::newRow("empty file") << QStringLiteral("empty") << int(RegistryError::None);
    QTest::newRow("another program's lock text")
        << QStringLiteral("text") << int(RegistryError::None);
    QTest::newRow("link to another file")
        << QStringLiteral("link") << int(RegistryError::WriteFailed);
}

// What a killed or foreign writer leaves at the lock's name never blocks a change, and a link
// put there is never followed.
void RegistryStoreTest::lockFilesLeftBehind()
{
    QFETCH(QString, left);
    QFETCH(int, result);
    RegistryStore store;
    QVERIFY(QDir().mkpath(store.directory()));
    const QString lock = store.fileOf(kSettingsRoot) + QStringLiteral(".lock");
    const QString elsewhere = m_sandbox->file(QStringLiteral("elsewhere"));
    if (left == QLatin1String("empty"))
        QVERIFY(writeAll(lock, QByteArray()));
    else if (left == QLatin1String("text"))
        QVERIFY(writeAll(lock, "99999\nqmt\nhost\n"));
    else
        QVERIFY(QFile::link(elsewhere, lock));

    QCOMPARE(store.setValue(kSettingsRoot, kSettingsSection, kFullScreenValue,
                            RegistryValue::string(QStringLiteral("0"))),
             RegistryError(result));
    QVERIFY(!QFileInfo::exists(elsewhere));
    if (RegistryError(result) == RegistryError::None) {
        QCOMPARE(setting(kFullScreenValue), QStringLiteral("0"));
        QVERIFY(!QFileInfo::exists(lock));
    }
}

void RegistryStoreTest::writerKilledWhileHoldingTheLockBlocksNobody()
{
    QProcess holder;
    holder.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold")});
    QVERIFY(holder.waitForStarted());
    QVERIFY(holder.waitForReadyRead(60000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("held"));
    const QString lock = RegistryStore().fileOf(kSettingsRoot) + QStringLiteral(".lock");
    QVERIFY(QFileInfo::exists(lock));
    holder.kill();
    QVERIFY(holder.waitForFinished(60000));
    QVERIFY(QFileInfo::exists(lock)); // left behind, as after a crash

    QVERIFY(CRegister().REGSaveSetting(kSettingsRoot, kSettingsSection, kAntiAliasValue,
                                       QStringLiteral("-1")));
    QCOMPARE(setting(kAntiAliasValue), QStringLiteral("-1"));
    QCOMPARE(setting(QStringLiteral("Unfinished")), QStringLiteral("<none>"));
}

void RegistryStoreTest::changeBeyondTheFileLimitIsRefused()
{
    RegistryStore store;
    QCOMPARE(store.setValue(kSettingsRoot, kSettingsSection, kAntiAliasValue,
                            RegistryValue::string(QStringLiteral("0"))),
             RegistryError::None);
    const QString file = store.fileOf(kSettingsRoot);
    const QByteArray before = readAll(file);
    QCOMPARE(
        store.setValue(kSettingsRoot, kSettingsSection, QStringLiteral("Huge"),
                       RegistryValue::string(QString(RegistryHive::kMaxFileSize / 3, u'\x01'))),
        RegistryError::TooLarge);
    QCOMPARE(readAll(file), before);
    QCOMPARE(setting(kAntiAliasValue), QStringLiteral("0"));
}

int main(int argc, char **argv)
{
    if (argc == 4 && qstrcmp(argv[1], "--writer") == 0)
        return runWriter(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toInt());
    if (argc == 4 && qstrcmp(argv[1], "--set") == 0)
        return runSetter(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    if (argc == 2 && qstrcmp(argv[1], "--hold") == 0)
        return runHolder();
    QCoreApplication app(argc, argv);
    RegistryStoreTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "registrystoretest.moc"
