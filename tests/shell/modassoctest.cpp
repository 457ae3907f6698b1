#include "shell/modassoc.h"
#include "shell/desktopassociation.h"
#include "shell/mimeappslist.h"
#include "shell/modassoctypes.h"
#include "shell/registrystore.h"
#include "support/recordinglauncher.h"
#include "support/sandbox.h"
#include "support/scriptedprompts.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>

#include <memory>

using namespace qmt;

namespace {

const QString kMissing = QStringLiteral("<missing>");
const QString kFileExts =
    QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\");
const QString kDefaults = QStringLiteral("Default Applications");
const QString kAllFifteen =
    QStringLiteral(" jpg  jpeg  gif  bmp  dib  png  psd  tif  pcx  tga  wbmp  wmf  ico  emf  tla ");

QString reg(RegistryRoot root, const QString &key, const QString &name = QString())
{
    return GetRegString(root, key, name, kMissing);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool writeAll(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

QString defaultOf(const QString &mimeType)
{
    return MimeAppsList::load(MimeAppsList::userPath())
        ->value(kDefaults, mimeType)
        .value_or(kMissing);
}

// Another program takes an extension in both layers, as a Windows program and a desktop would.
void takeOver(const QString &extension, const QString &progId, const QString &desktopId)
{
    SetRegString(HKEY_CLASSES_ROOT, extension, QString(), progId);
    auto list = MimeAppsList::load(MimeAppsList::userPath());
    list->setValue(kDefaults, associationMimeType(extension), desktopId);
    QVERIFY(list->save(MimeAppsList::userPath()));
}

QByteArray snapshot(const QString &dir)
{
    QByteArray all;
    for (const QString &name : QDir(dir).entryList(QDir::Files, QDir::Name))
        all += name.toUtf8() + '\n' + readAll(dir + u'/' + name);
    return all;
}

} // namespace

class ModAssocTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_sandbox = std::make_unique<test::Sandbox>();
        m_prompts = std::make_unique<test::ScriptedPrompts>();
        m_launcher = std::make_unique<test::RecordingLauncher>();
        m_launcher->setAvailablePrograms({QStringLiteral("update-mime-database")});
    }
    void cleanup()
    {
        m_launcher.reset();
        m_prompts.reset();
        QFile::setPermissions(MimeAppsList::userPath(), QFile::ReadOwner | QFile::WriteOwner);
        m_sandbox.reset();
    }

    void helpers_data();
    void helpers();
    void getRegStringReadsEveryKindOfValue();
    void firstStartRegistersEverythingWithoutAsking();
    void typeTableDetails_data();
    void typeTableDetails();
    void lostTypesAreAskedFor_data();
    void lostTypesAreAskedFor();
    void deAssociateGivesBackWhatIsStillOurs();
    void registerFileTypeRemovesAnOldClassKeyOnlyWhenOurs();
    void readOnlyMimeAppsListIsLeftAsItWas();
    void theDesktopFollowsTheAssociation();
    void execQuotesOnlyWhenNeeded_data();
    void execQuotesOnlyWhenNeeded();
    void deAssociatePutsBackTheDesktopFiles_data();
    void deAssociatePutsBackTheDesktopFiles();
    void aPackagedEntryTakesThePlaceOfTheCopy_data();
    void aPackagedEntryTakesThePlaceOfTheCopy();
    void shippedFilesNameTheTypesOfTheEntry();
    void newerTypesFollowTheFifteen();
    void desktopEntriesDeclareTheNewerTypes();

private:
    std::unique_ptr<test::Sandbox> m_sandbox;
    std::unique_ptr<test::ScriptedPrompts> m_prompts;
    std::unique_ptr<test::RecordingLauncher> m_launcher;
};

void ModAssocTest::helpers_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    qputenv("QMT_ASSOC_TEST", "value");
    qunsetenv("QMT_ASSOC_UNSET");
    QTest::newRow("plain") << "no references"
                           << "no references";
    QTest::newRow("one") << "a %QMT_ASSOC_TEST% b"
                         << "a value b";
    QTest::newRow("twice, adjacent") << "%QMT_ASSOC_TEST%%QMT_ASSOC_TEST%"
                                     << "valuevalue";
    QTest::newRow("unknown stays") << "%QMT_ASSOC_UNSET%\\x"
                                   << "%QMT_ASSOC_UNSET%\\x";
    QTest::newRow("lone percent") << "100% sure"
                                  << "100% sure";
    QTest::newRow("percent before reference") << "5%%QMT_ASSOC_TEST%"
                                              << "5%value";
    QTest::newRow("empty name") << "%%"
                                << "%%";
}

void ModAssocTest::helpers()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(ExpandEnvStrings(input), expected);

    QVERIFY(ProgramFolder().endsWith(u'/'));
    QCOMPARE(QDir::cleanPath(ProgramFolder()), QCoreApplication::applicationDirPath());
    const QString existing = m_sandbox->file(QStringLiteral("home/with space"));
    QVERIFY(writeAll(existing, "x"));
    QCOMPARE(ShortPathOf(existing), existing);
    QCOMPARE(ShortPathOf(existing + QStringLiteral(".gone")), QString());
    QCOMPARE(ShortPathOf(QString()), QString());
}

void ModAssocTest::getRegStringReadsEveryKindOfValue()
{
    RegistryStore store;
    qputenv("QMT_ASSOC_TEST", "here");
    const QString key = QStringLiteral("Kinds");
    store.setValue(HKEY_CLASSES_ROOT, key, QStringLiteral("expand"),
                   RegistryValue::expandString(QStringLiteral("%QMT_ASSOC_TEST%\\icons")));
    store.setValue(HKEY_CLASSES_ROOT, key, QStringLiteral("nodata"), RegistryValue::binary({}));
    store.setValue(HKEY_CLASSES_ROOT, key, QStringLiteral("nul"),
                   RegistryValue::string(QString::fromUtf16(u"cut\0here", 8)));
    SetRegString(HKEY_CLASSES_ROOT, key, QString(), QStringLiteral("default"));

    QCOMPARE(reg(HKEY_CLASSES_ROOT, key, QStringLiteral("expand")), QStringLiteral("here\\icons"));
    QCOMPARE(reg(HKEY_CLASSES_ROOT, key, QStringLiteral("nodata")), QString());
    QCOMPARE(reg(HKEY_CLASSES_ROOT, key, QStringLiteral("nul")), QStringLiteral("cut"));
    QCOMPARE(reg(HKEY_CLASSES_ROOT, key), QStringLiteral("default"));
    QCOMPARE(reg(HKEY_CLASSES_ROOT, key, QStringLiteral("absent")), kMissing);
    QCOMPARE(reg(HKEY_CLASSES_ROOT, QStringLiteral("NoKey")), kMissing);

    DeleteRegValue(HKEY_CLASSES_ROOT, key, QString());
    QCOMPARE(reg(HKEY_CLASSES_ROOT, key), kMissing);
    SetRegString(HKEY_CLASSES_ROOT, key + QStringLiteral("\\Sub\\Deeper"), QString(),
                 QStringLiteral("x"));
    DeleteRegKey(HKEY_CLASSES_ROOT, key);
    QVERIFY(!store.keyExists(HKEY_CLASSES_ROOT, key));
}

void ModAssocTest::firstStartRegistersEverythingWithoutAsking()
{
    const QString program = ProgramFolder() + QStringLiteral("qmt");
    QVERIFY2(!QFile::exists(program), "the tests' folder must not hold a program file");
    // What the machine had before: a system class for .jpg, a user's choice for .png, and a
    // desktop default for PNG images.
    SetRegString(HKEY_CLASSES_ROOT, QStringLiteral(".jpg"), QString(), QStringLiteral("jpegfile"));
    SetRegString(HKEY_CURRENT_USER, kFileExts + QStringLiteral(".png"), QStringLiteral("ProgID"),
                 QStringLiteral("PngViewer.png"));
    QVERIFY(writeAll(MimeAppsList::userPath(),
                     "[Default Applications]\nimage/png=org.other.Viewer.desktop;\n"));

    CheckAssociations();
    QVERIFY(m_prompts->asked().isEmpty());

    QStringList classKeys;
    const QStringList rootKeys = RegistryStore().subKeys(HKEY_CLASSES_ROOT, QString()).value();
    for (const QString &key : rootKeys)
        if (key.startsWith(QLatin1String("Orvanta.")))
            classKeys.append(key);
    QStringList expectedKeys;
    for (const AssociationType &type : kAssociationTypes) {
        expectedKeys.append(type.progId);
        const QString progId = type.progId;
        const QString ext = type.extension;
        QCOMPARE(reg(HKEY_CLASSES_ROOT, progId), QString(type.description));
        QCOMPARE(reg(HKEY_CLASSES_ROOT, progId + QStringLiteral("\\shell")), QString());
        QCOMPARE(reg(HKEY_CLASSES_ROOT, progId + QStringLiteral("\\shell\\open")), QString());
        // No program file beside the tests: the short-path lookup gives nothing.
        QCOMPARE(reg(HKEY_CLASSES_ROOT, progId + QStringLiteral("\\shell\\open\\command")),
                 QStringLiteral(" %1"));
        QCOMPARE(reg(HKEY_CLASSES_ROOT, progId + QStringLiteral("\\DefaultIcon")),
                 ProgramFolder() + QString(type.iconFile));
        QCOMPARE(reg(HKEY_CLASSES_ROOT, ext), progId);
        QCOMPARE(reg(HKEY_CLASSES_ROOT, ext, QStringLiteral("OldAss")),
                 ext == QLatin1String(".jpg") ? QStringLiteral("jpegfile") : QString());
        QCOMPARE(reg(HKEY_CURRENT_USER, kFileExts + ext, QStringLiteral("ProgID")), progId);
        QCOMPARE(reg(HKEY_CURRENT_USER, kFileExts + ext, QStringLiteral("OldProgID")),
                 ext == QLatin1String(".png") ? QStringLiteral("PngViewer.png") : QString());
        QCOMPARE(defaultOf(type.mimeType),
                 type.mimeType == QLatin1String("image/png")
                     ? QStringLiteral("pictavo.desktop;org.other.Viewer.desktop;")
                     : QStringLiteral("pictavo.desktop;"));
        QCOMPARE(IsAssociated(ext, progId), 1);
    }
    QCOMPARE(classKeys, expectedKeys); // written in the table's order

    // The desktop's previous default is kept to be given back.
    QCOMPARE(reg(HKEY_CURRENT_USER, DesktopAssociation::kPreviousDefaultsKey,
                 QStringLiteral("image/png")),
             QStringLiteral("org.other.Viewer.desktop;"));
    QCOMPARE(reg(HKEY_CURRENT_USER, DesktopAssociation::kPreviousDefaultsKey,
                 QStringLiteral("image/jpeg")),
             QString());

    const QByteArray entry = readAll(DesktopAssociation::desktopEntryPath());
    QVERIFY2(entry.contains("\nExec=" + program.toUtf8() + " %f\n"), entry.constData());
    QVERIFY2(entry.contains("\nIcon=pictavo\n"), entry.constData());
    QVERIFY(entry.contains("image/jpeg;"));
    QVERIFY(entry.contains("image/x-tla;"));
    const QByteArray package = readAll(DesktopAssociation::mimePackagePath());
    QVERIFY2(package.contains("<mime-type type=\"image/x-tla\">") &&
                 package.contains("<glob pattern=\"*.tla\"/>"),
             package.constData());
    // The database is rebuilt once, for the definitions just written.
    QCOMPARE(m_launcher->calls().size(), 1);
    QCOMPARE(m_launcher->calls().first().program, QStringLiteral("update-mime-database"));
    QCOMPARE(m_launcher->calls().first().arguments,
             QStringList{m_sandbox->file(QStringLiteral("data/mime"))});

    // Everything in place: the next start neither asks nor writes.
    const QByteArray before =
        snapshot(m_sandbox->registryDir()) + readAll(MimeAppsList::userPath());
    CheckAssociations();
    QVERIFY(m_prompts->asked().isEmpty());
    QCOMPARE(snapshot(m_sandbox->registryDir()) + readAll(MimeAppsList::userPath()), before);
    QCOMPARE(m_launcher->calls().size(), 1);
}

void ModAssocTest::typeTableDetails_data()
{
    QTest::addColumn<QString>("progId");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("icon");
    QTest::newRow("jpeg shares the jpg icon") << "Orvanta.jpeg"
                                              << "Orvanta JPEG image"
                                              << "icons/jpg.ico";
    QTest::newRow("wbmp") << "Orvanta.wbmp"
                          << "Orvanta WBMB image"
                          << "icons/wbmb.ico";
    QTest::newRow("ico") << "Orvanta.ico"
                         << "Orvanta Icon"
                         << "icons/ico.ico";
    QTest::newRow("tla") << "Orvanta.tla"
                         << "Orvanta TLA image"
                         << "icons/icon.ico";
}

void ModAssocTest::typeTableDetails()
{
    QFETCH(QString, progId);
    QFETCH(QString, description);
    QFETCH(QString, icon);
    CheckAssociations();
    QCOMPARE(reg(HKEY_CLASSES_ROOT, progId), description);
    QCOMPARE(reg(HKEY_CLASSES_ROOT, progId + QStringLiteral("\\DefaultIcon")),
             ProgramFolder() + icon);
}

void ModAssocTest::lostTypesAreAskedFor_data()
{
    QTest::addColumn<bool>("registryTaken");
    QTest::addColumn<bool>("desktopTaken");
    QTest::newRow("both layers") << true << true;
    QTest::newRow("registry only") << true << false;
    QTest::newRow("desktop only") << false << true;
}

void ModAssocTest::lostTypesAreAskedFor()
{
    QFETCH(bool, registryTaken);
    QFETCH(bool, desktopTaken);
    SetRegString(HKEY_CLASSES_ROOT, QStringLiteral(".jpg"), QString(), QStringLiteral("jpegfile"));
    CheckAssociations();
    QVERIFY(m_prompts->asked().isEmpty());

    for (const QString &ext : {QStringLiteral(".png"), QStringLiteral(".gif")}) {
        if (registryTaken)
            SetRegString(HKEY_CLASSES_ROOT, ext, QString(), QStringLiteral("Other") + ext);
        if (desktopTaken) {
            auto list = MimeAppsList::load(MimeAppsList::userPath());
            list->setValue(kDefaults, associationMimeType(ext), QStringLiteral("other.desktop;"));
            QVERIFY(list->save(MimeAppsList::userPath()));
        }
    }
    QCOMPARE(IsAssociated(QStringLiteral(".png"), QStringLiteral("Orvanta.png")), 0);

    // No: nothing changes, and the question comes again.
    const QByteArray before =
        snapshot(m_sandbox->registryDir()) + readAll(MimeAppsList::userPath());
    m_prompts->answerMessage(PromptAnswer::No);
    CheckAssociations();
    QCOMPARE(m_prompts->asked().size(), 1);
    const auto question = m_prompts->asked().first();
    QCOMPARE(question.text,
             QStringLiteral("The following image types are no more associated with Orvanta, "
                            "Do you want to associate them now?\r\n gif  png "));
    QCOMPARE(question.icon, PromptIcon::Question);
    QCOMPARE(question.buttons, PromptButtons::YesNo);
    QCOMPARE(question.title, QStringLiteral("ZEB Orvanta"));
    QCOMPARE(snapshot(m_sandbox->registryDir()) + readAll(MimeAppsList::userPath()), before);

    // Yes: the lost ones come back, the other program saved as their previous owner.
    SetRegString(HKEY_CLASSES_ROOT, QStringLiteral("Orvanta.bmp"), QString(),
                 QStringLiteral("edited"));
    m_prompts->answerMessage(PromptAnswer::Yes);
    CheckAssociations();
    QCOMPARE(m_prompts->asked().size(), 2);
    QCOMPARE(m_prompts->asked().last().text, question.text);
    for (const AssociationType &type : kAssociationTypes)
        QCOMPARE(IsAssociated(type.extension, type.progId), 1);
    QCOMPARE(reg(HKEY_CLASSES_ROOT, QStringLiteral("Orvanta.bmp")),
             QStringLiteral("Orvanta BMP image"));
    QCOMPARE(reg(HKEY_CLASSES_ROOT, QStringLiteral(".jpg"), QStringLiteral("OldAss")),
             QStringLiteral("jpegfile"));
    for (const QString &ext : {QStringLiteral(".png"), QStringLiteral(".gif")}) {
        QCOMPARE(reg(HKEY_CLASSES_ROOT, ext, QStringLiteral("OldAss")),
                 registryTaken ? QStringLiteral("Other") + ext : QString());
        QCOMPARE(reg(HKEY_CURRENT_USER, kFileExts + ext, QStringLiteral("OldProgID")),
                 registryTaken ? QStringLiteral("Orvanta") + ext : QString());
        QCOMPARE(reg(HKEY_CURRENT_USER, DesktopAssociation::kPreviousDefaultsKey,
                     associationMimeType(ext)),
                 desktopTaken ? QStringLiteral("other.desktop;") : QString());
    }

    CheckAssociations();
    QCOMPARE(m_prompts->asked().size(), 2);
}

void ModAssocTest::deAssociateGivesBackWhatIsStillOurs()
{
    SetRegString(HKEY_CLASSES_ROOT, QStringLiteral(".jpg"), QString(), QStringLiteral("jpegfile"));
    SetRegString(HKEY_CURRENT_USER, kFileExts + QStringLiteral(".jpg"), QStringLiteral("ProgID"),
                 QStringLiteral("UserJpg"));
    const QByteArray original = "# chosen by hand\r\n"
                                "[Added Associations]\n"
                                "image/jpeg=org.gnome.eog.desktop;gimp.desktop;\n"
                                "\n"
                                "[Default Applications]\n"
                                "; keep me\n"
                                "image/jpeg = org.gnome.eog.desktop;\n"
                                "text/plain=org.gnome.TextEditor.desktop;\n"
                                "\n"
                                "[Removed Associations]\n"
                                "image/png=broken.desktop;";
    QVERIFY(writeAll(MimeAppsList::userPath(), original));
    CheckAssociations();
    // The previous default stays behind ours, for the desktop to fall back on when we are gone.
    QCOMPARE(defaultOf(QStringLiteral("image/jpeg")),
             QStringLiteral("pictavo.desktop;org.gnome.eog.desktop;"));
    const QString associated = QString::fromUtf8(readAll(MimeAppsList::userPath()));
    QVERIFY2(
        associated.startsWith(QLatin1String("# chosen by hand\r\n[Added Associations]\n"
                                            "image/jpeg=org.gnome.eog.desktop;gimp.desktop;\n\n"
                                            "[Default Applications]\n; keep me\n"
                                            "image/jpeg=pictavo.desktop;org.gnome.eog.desktop;\n"
                                            "text/plain=org.gnome.TextEditor.desktop;\n")),
        qPrintable(associated));
    QVERIFY(
        associated.endsWith(QLatin1String("\n[Removed Associations]\nimage/png=broken.desktop;")));

    takeOver(QStringLiteral(".gif"), QStringLiteral("Other.gif"), QStringLiteral("other.desktop;"));
    RemoveAssociations();

    for (const AssociationType &type : kAssociationTypes) {
        const QString ext = type.extension;
        if (ext == QLatin1String(".gif"))
            continue;
        QCOMPARE(reg(HKEY_CLASSES_ROOT, ext),
                 ext == QLatin1String(".jpg") ? QStringLiteral("jpegfile") : QString());
        QCOMPARE(reg(HKEY_CLASSES_ROOT, ext, QStringLiteral("OldAss")), kMissing);
        QCOMPARE(reg(HKEY_CURRENT_USER, kFileExts + ext, QStringLiteral("ProgID")),
                 ext == QLatin1String(".jpg") ? QStringLiteral("UserJpg") : QString());
        QCOMPARE(reg(HKEY_CURRENT_USER, kFileExts + ext, QStringLiteral("OldProgID")), kMissing);
        // The class keys stay.
        QCOMPARE(reg(HKEY_CLASSES_ROOT, type.progId), QString(type.description));
        QCOMPARE(IsAssociated(ext, type.progId), 0);
    }
    // The type taken by another program is not touched.
    QCOMPARE(reg(HKEY_CLASSES_ROOT, QStringLiteral(".gif")), QStringLiteral("Other.gif"));
    QCOMPARE(reg(HKEY_CLASSES_ROOT, QStringLiteral(".gif"), QStringLiteral("OldAss")), QString());
    QCOMPARE(reg(HKEY_CURRENT_USER, kFileExts + QStringLiteral(".gif"), QStringLiteral("ProgID")),
             QStringLiteral("Orvanta.gif"));

    // The list is back as it was, apart from the other program's new default.
    QString expected = QString::fromUtf8(original);
    expected.replace(
        QLatin1String("text/plain=org.gnome.TextEditor.desktop;\n"),
        QLatin1String("text/plain=org.gnome.TextEditor.desktop;\nimage/gif=other.desktop;\n"));
    expected.replace(QLatin1String("image/jpeg = org.gnome.eog.desktop;"),
                     QLatin1String("image/jpeg=org.gnome.eog.desktop;"));
    QCOMPARE(QString::fromUtf8(readAll(MimeAppsList::userPath())), expected);

    m_prompts->answerMessage(PromptAnswer::No);
    CheckAssociations();
    QCOMPARE(m_prompts->asked().size(), 1);
    QVERIFY(m_prompts->asked().first().text.endsWith(QStringLiteral("\r\n") + kAllFifteen));
}

void ModAssocTest::newerTypesFollowTheFifteen()
{
    QVERIFY(writeAll(MimeAppsList::userPath(), "[Default Applications]\n"
                                               "image/webp=org.gnome.Loupe.desktop;\n"));
    CheckAssociations();
    // The viewer that had WebP stays behind us, for the desktop to fall back on.
    for (const QLatin1String &type : kModernMimeTypes)
        QCOMPARE(defaultOf(type), type == QLatin1String("image/webp")
                                      ? QStringLiteral("pictavo.desktop;org.gnome.Loupe.desktop;")
                                      : QStringLiteral("pictavo.desktop;"));
    QCOMPARE(reg(HKEY_CURRENT_USER, DesktopAssociation::kPreviousDefaultsKey,
                 QStringLiteral("image/webp")),
             QStringLiteral("org.gnome.Loupe.desktop;"));

    // Another viewer takes AVIF: it keeps it, and nothing is asked about it.
    auto list = MimeAppsList::load(MimeAppsList::userPath());
    list->setValue(kDefaults, QStringLiteral("image/avif"), QStringLiteral("other.desktop;"));
    QVERIFY(list->save(MimeAppsList::userPath()));
    CheckAssociations();
    QVERIFY(m_prompts->asked().isEmpty());
    QCOMPARE(defaultOf(QStringLiteral("image/avif")), QStringLiteral("other.desktop;"));

    // "/DeAssociate" gives back what is still ours, with the fifteen.
    RemoveAssociations();
    QCOMPARE(defaultOf(QStringLiteral("image/webp")), QStringLiteral("org.gnome.Loupe.desktop;"));
    QCOMPARE(defaultOf(QStringLiteral("image/avif")), QStringLiteral("other.desktop;"));
    for (const char *type : {"image/heif", "image/heic", "image/jxl"})
        QCOMPARE(defaultOf(QString::fromLatin1(type)), kMissing);

    // Associated again, then the newer types given back alone, as an older version that knew
    // only the fifteen left things: the next start takes them without asking.
    m_prompts->answerMessage(PromptAnswer::Yes);
    CheckAssociations();
    QCOMPARE(defaultOf(QStringLiteral("image/jxl")), QStringLiteral("pictavo.desktop;"));
    for (const QLatin1String &type : kModernMimeTypes)
        DesktopAssociation().restoreDefault(type);
    QCOMPARE(defaultOf(QStringLiteral("image/jxl")), kMissing);
    const qsizetype asked = m_prompts->asked().size();
    CheckAssociations();
    QCOMPARE(m_prompts->asked().size(), asked);
    QCOMPARE(defaultOf(QStringLiteral("image/jxl")), QStringLiteral("pictavo.desktop;"));
    QCOMPARE(defaultOf(QStringLiteral("image/webp")),
             QStringLiteral("pictavo.desktop;org.gnome.Loupe.desktop;"));
}

void ModAssocTest::desktopEntriesDeclareTheNewerTypes()
{
    const QString installed =
        QString::fromUtf8(DesktopAssociation::desktopEntryText(QStringLiteral("/opt/qmt")));
    QFile shipped(QString::fromLocal8Bit(qgetenv("QMT_TEST_DATA")) + "/../../data/pictavo.desktop");
    QVERIFY2(shipped.open(QIODevice::ReadOnly), qPrintable(shipped.fileName()));
    const QString shippedText = QString::fromUtf8(shipped.readAll());
    for (const QString &entry : {installed, shippedText}) {
        const QRegularExpressionMatch line =
            QRegularExpression(QStringLiteral("\\nMimeType=([^\\n]*)\\n")).match(entry);
        QVERIFY2(line.hasMatch(), qPrintable(entry));
        const QStringList types = line.captured(1).split(u';', Qt::SkipEmptyParts);
        for (const QLatin1String &type : kModernMimeTypes)
            QVERIFY2(types.contains(type), qPrintable(QString(type) + " in " + line.captured(1)));
        for (const AssociationType &type : kAssociationTypes)
            QVERIFY2(types.contains(type.mimeType), qPrintable(QString(type.mimeType)));
    }
    // The newer types are the system's own: the program defines none of them.
    const QByteArray package = DesktopAssociation::mimePackageText();
    for (const QLatin1String &type : kModernMimeTypes)
        QVERIFY2(!package.contains(QByteArray(type.data(), type.size())), package.constData());
}

void ModAssocTest::registerFileTypeRemovesAnOldClassKeyOnlyWhenOurs()
{
    SetRegString(HKEY_CLASSES_ROOT, QStringLiteral("Orvanta PNG image"), QString(),
                 QStringLiteral("Orvanta.png"));
    SetRegString(HKEY_CLASSES_ROOT, QStringLiteral("Orvanta PNG image\\shell\\open\\command"),
                 QString(), QStringLiteral("old"));
    SetRegString(HKEY_CLASSES_ROOT, QStringLiteral("Orvanta GIF image"), QString(),
                 QStringLiteral("Someone.else"));
    RegisterFileType(QStringLiteral("Orvanta.png"), QStringLiteral("Orvanta PNG image"),
                     QStringLiteral("open"), QString());
    RegisterFileType(QStringLiteral("Orvanta.gif"), QStringLiteral("Orvanta GIF image"),
                     QStringLiteral("open"), QString());
    QVERIFY(!RegistryStore().keyExists(HKEY_CLASSES_ROOT, QStringLiteral("Orvanta PNG image")));
    QCOMPARE(reg(HKEY_CLASSES_ROOT, QStringLiteral("Orvanta GIF image")),
             QStringLiteral("Someone.else"));
    // Without an icon file the icon is the program itself, which is missing here.
    QCOMPARE(reg(HKEY_CLASSES_ROOT, QStringLiteral("Orvanta.png\\DefaultIcon")), QString());
    QCOMPARE(reg(HKEY_CLASSES_ROOT, QStringLiteral("Orvanta.png")),
             QStringLiteral("Orvanta PNG image"));
}

void ModAssocTest::readOnlyMimeAppsListIsLeftAsItWas()
{
    const QByteArray original = "[Default Applications]\nimage/png=other.desktop;\n";
    QVERIFY(writeAll(MimeAppsList::userPath(), original));
    QVERIFY(QFile::setPermissions(MimeAppsList::userPath(), QFile::ReadOwner | QFile::ReadOther));
    CheckAssociations();
    QVERIFY(m_prompts->asked().isEmpty());
    QCOMPARE(readAll(MimeAppsList::userPath()), original);
    // The registry layer is written; the desktop still opens the types elsewhere, so they are not
    // associated and the next start asks about all of them.
    QCOMPARE(reg(HKEY_CLASSES_ROOT, QStringLiteral(".png")), QStringLiteral("Orvanta.png"));
    QCOMPARE(IsAssociated(QStringLiteral(".png"), QStringLiteral("Orvanta.png")), 0);
    CheckAssociations();
    QCOMPARE(m_prompts->asked().size(), 1);
    QVERIFY(m_prompts->asked().first().text.endsWith(kAllFifteen));
    // Once writable again, Yes keeps the registry's saved owners and takes over the desktop.
    QVERIFY(QFile::setPermissions(MimeAppsList::userPath(), QFile::ReadOwner | QFile::WriteOwner));
    m_prompts->answerMessage(PromptAnswer::Yes);
    CheckAssociations();
    QCOMPARE(IsAssociated(QStringLiteral(".png"), QStringLiteral("Orvanta.png")), 1);
    QCOMPARE(reg(HKEY_CLASSES_ROOT, QStringLiteral(".png"), QStringLiteral("OldAss")), QString());
    QCOMPARE(reg(HKEY_CURRENT_USER, DesktopAssociation::kPreviousDefaultsKey,
                 QStringLiteral("image/png")),
             QStringLiteral("other.desktop;"));
}

void ModAssocTest::theDesktopFollowsTheAssociation()
{
    const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
    if (gio.isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("update-mime-database")).isEmpty())
        QSKIP("needs gio and update-mime-database");
    m_launcher->setPassThrough(true);
    auto gioSays = [&](const QStringList &arguments) {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(gio, arguments);
        process.waitForFinished(30000);
        return QString::fromUtf8(process.readAll());
    };
    // The desktop only lists entries whose program exists: put a stand-in program beside the tests
    // for the length of this test.
    const QString program = ProgramFolder() + QStringLiteral("qmt");
    QVERIFY(!QFile::exists(program));
    QVERIFY(writeAll(program, "#!/bin/sh\nexit 0\n"));
    QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const auto removeProgram = qScopeGuard([&] { QFile::remove(program); });

    CheckAssociations();
    QCOMPARE(reg(HKEY_CLASSES_ROOT, QStringLiteral("Orvanta.png\\shell\\open\\command")),
             program + QStringLiteral(" %1"));
    const QString jpeg = gioSays({QStringLiteral("mime"), QStringLiteral("image/jpeg")});
    QVERIFY2(jpeg.contains(QStringLiteral("Default application for “image/jpeg”: pictavo.desktop")),
             qPrintable(jpeg));
    // The desktop now knows .tla files as the program's own type.
    const QString tla = m_sandbox->file(QStringLiteral("home/picture.tla"));
    QVERIFY(writeAll(tla, QByteArray("\x01\x02\x03\x04binary\x00\xff", 14)));
    const QString info = gioSays({QStringLiteral("info"), QStringLiteral("-a"),
                                  QStringLiteral("standard::content-type"), tla});
    QVERIFY2(info.contains(QLatin1String("image/x-tla")), qPrintable(info));

    // xdg-utils, which plain window managers and several desktops open files with, must be
    // able to start the entry, and the entry must be valid.
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    const QString validate =
        QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    auto run = [](const QString &tool, const QStringList &arguments) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("X-Generic"));
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(tool, arguments);
        process.waitForFinished(30000);
        return QString::fromUtf8(process.readAll()).trimmed() +
               (process.exitCode() ? QStringLiteral(" (failed)") : QString());
    };
    const QStringList query{QStringLiteral("query"), QStringLiteral("default"),
                            QStringLiteral("image/gif")};
    if (!xdgMime.isEmpty())
        QCOMPARE(run(xdgMime, query), QStringLiteral("pictavo.desktop"));
    if (!validate.isEmpty())
        QCOMPARE(run(validate, {DesktopAssociation::desktopEntryPath()}), QString());

    RemoveAssociations();
    const QString after = gioSays({QStringLiteral("mime"), QStringLiteral("image/jpeg")});
    QVERIFY2(!after.contains(QLatin1String(": pictavo.desktop")), qPrintable(after));
    if (!xdgMime.isEmpty())
        QVERIFY(!run(xdgMime, query).contains(QLatin1String("pictavo")));
    QVERIFY(!QFile::exists(DesktopAssociation::desktopEntryPath()));
    QVERIFY(!QFile::exists(DesktopAssociation::mimePackagePath()));
    const QString infoAfter = gioSays({QStringLiteral("info"), QStringLiteral("-a"),
                                       QStringLiteral("standard::content-type"), tla});
    QVERIFY2(!infoAfter.contains(QLatin1String("image/x-tla")), qPrintable(infoAfter));
}

void ModAssocTest::execQuotesOnlyWhenNeeded_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("exec");
    QTest::newRow("plain") << "/opt/pictavo/qmt"
                           << "/opt/pictavo/qmt %f";
    QTest::newRow("space") << "/home/me/My Apps/qmt"
                           << "\"/home/me/My Apps/qmt\" %f";
    QTest::newRow("quote, dollar, backtick, backslash")
        << "/a\"b$c`d\\e/qmt"
        << "\"/a\\\\\"b\\\\$c\\\\`d\\\\\\\\e/qmt\" %f";
    QTest::newRow("percent") << "/opt/100%/qmt"
                             << "/opt/100%%/qmt %f";
    QTest::newRow("hash and brackets") << "/x/#(1)/qmt"
                                       << "\"/x/#(1)/qmt\" %f";
}

void ModAssocTest::execQuotesOnlyWhenNeeded()
{
    QFETCH(QString, program);
    QTEST(DesktopAssociation::execValue(program), "exec");
    // The whole entry reads back to the same program and passes the desktop's validator.
    const QByteArray entry = DesktopAssociation::desktopEntryText(program);
    QCOMPARE(DesktopAssociation::execProgram(entry), program);
    const QString validate =
        QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validate.isEmpty())
        return;
    const QString file = m_sandbox->file(QStringLiteral("check.desktop"));
    QVERIFY(writeAll(file, entry));
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(validate, {file});
    QVERIFY(process.waitForFinished(30000));
    QVERIFY2(process.exitCode() == 0 && process.readAll().trimmed().isEmpty(), entry.constData());
}

// /DeAssociate takes away what association added and puts back what was there.
void ModAssocTest::deAssociatePutsBackTheDesktopFiles_data()
{
    QTest::addColumn<QByteArray>("before"); // the user's entry of that name; empty: none
    QTest::addColumn<bool>("typeStillOurs");
    QTest::newRow("nothing before") << QByteArray() << false;
    QTest::newRow("another program's entry")
        << QByteArray("[Desktop Entry]\nType=Application\nName=Other\nExec=/usr/bin/other %f\n")
        << false;
    QTest::newRow("an older entry of ours")
        << ("[Desktop Entry]\nType=Application\nName=Pictavo\nExec=\"" +
            (ProgramFolder() + QStringLiteral("qmt")).toUtf8() + "\" %f\n")
        << false;
    QTest::newRow("a type still opens with us") << QByteArray() << true;
}

void ModAssocTest::deAssociatePutsBackTheDesktopFiles()
{
    QFETCH(QByteArray, before);
    QFETCH(bool, typeStillOurs);
    const QString data = m_sandbox->file(QStringLiteral("data"));
    QVERIFY(QDir(data).removeRecursively() && QDir().mkpath(data));
    const QString entry = DesktopAssociation::desktopEntryPath();
    if (!before.isEmpty())
        QVERIFY(writeAll(entry, before));

    CheckAssociations();
    QVERIFY(readAll(entry).contains("Name=Pictavo\n"));
    QVERIFY(QFile::exists(DesktopAssociation::mimePackagePath()));
    if (typeStillOurs) // the defaults cannot be given back
        QVERIFY(QFile::setPermissions(MimeAppsList::userPath(), QFile::ReadOwner));

    RemoveAssociations();
    if (typeStillOurs) {
        QVERIFY(readAll(entry).contains("Name=Pictavo\n"));
        return;
    }
    const bool foreign = before.contains("Name=Other");
    QCOMPARE(readAll(entry), foreign ? before : QByteArray("<missing>"));
    QVERIFY(!QFile::exists(DesktopAssociation::mimePackagePath()));
    // Folders made for our files go with them, those that were there stay.
    QCOMPARE(QDir(data).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             before.isEmpty() ? QStringList() : QStringList{"applications"});
    QVERIFY(!RegistryStore().keyExists(HKEY_CURRENT_USER, DesktopAssociation::kInstalledFilesKey) ||
            RegistryStore()
                .valueNames(HKEY_CURRENT_USER, DesktopAssociation::kInstalledFilesKey)
                ->isEmpty());
}

void ModAssocTest::aPackagedEntryTakesThePlaceOfTheCopy_data()
{
    QTest::addColumn<QString>("systemExec");
    QTest::addColumn<bool>("copyKept");
    QTest::newRow("package's entry starts the program") << "qmt %f" << false;
    QTest::newRow("by its full path") << "LIB/qmt %f" << false;
    QTest::newRow("another program of the same name") << "other-qmt %f" << true;
}

// Installed from a package, the system's entry starts the program: a copy in the user's folder
// would outlive the package, so none is made and an older one is taken back.
void ModAssocTest::aPackagedEntryTakesThePlaceOfTheCopy()
{
    QFETCH(QString, systemExec);
    QFETCH(bool, copyKept);
    const QString lib = m_sandbox->makeDir(QStringLiteral("usr/lib/pictavo"));
    const QString bin = m_sandbox->makeDir(QStringLiteral("usr/bin"));
    const QString share = m_sandbox->makeDir(QStringLiteral("usr/share"));
    const QString program = lib + QStringLiteral("/qmt");
    for (const QString &file : {program, bin + QStringLiteral("/other-qmt")}) {
        QVERIFY(writeAll(file, "#!/bin/sh\n"));
        QVERIFY(
            QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    QVERIFY(QFile::link(program, bin + QStringLiteral("/qmt")));
    const QByteArray path = qgetenv("PATH");
    const QByteArray dataDirs = qgetenv("XDG_DATA_DIRS");
    const auto restore = qScopeGuard([&] {
        qputenv("PATH", path);
        qputenv("XDG_DATA_DIRS", dataDirs);
    });
    qputenv("PATH", QFile::encodeName(bin) + ':' + path);
    qputenv("XDG_DATA_DIRS", QFile::encodeName(share));

    // Associated before the package was there: the user's copy.
    DesktopAssociation().install(program);
    const QString copy = DesktopAssociation::desktopEntryPath();
    QVERIFY(readAll(copy).contains("Exec=" + QFile::encodeName(program)));

    systemExec.replace(QStringLiteral("LIB"), lib);
    QVERIFY(writeAll(
        share + QStringLiteral("/applications/pictavo.desktop"),
        "[Desktop Entry]\nType=Application\nName=Pictavo\nExec=" + systemExec.toUtf8() + "\n"));
    DesktopAssociation().install(program);
    QCOMPARE(QFile::exists(copy), copyKept);
    QVERIFY(QFile::exists(share + QStringLiteral("/applications/pictavo.desktop")));
}

// The entry and the software-centre file installed with the program offer the same types as the
// entry the association writes, under the name the association makes the default.
void ModAssocTest::shippedFilesNameTheTypesOfTheEntry()
{
    const QString data = qEnvironmentVariable("QMT_TEST_DATA") + QStringLiteral("/../../data/");
    auto typesOf = [](const QByteArray &entry) {
        for (const QByteArray &line : entry.split('\n'))
            if (line.startsWith("MimeType="))
                return QString::fromUtf8(line.mid(9)).split(u';', Qt::SkipEmptyParts);
        return QStringList();
    };
    QStringList written = typesOf(DesktopAssociation::desktopEntryText(QStringLiteral("/p/qmt")));
    written.sort();
    QVERIFY(written.contains(QStringLiteral("image/jpeg")));

    const QByteArray shipped = readAll(data + DesktopAssociation::kDesktopId);
    QStringList shippedTypes = typesOf(shipped);
    shippedTypes.sort();
    QCOMPARE(shippedTypes, written);
    QCOMPARE(DesktopAssociation::execProgram(shipped), QStringLiteral("qmt"));

    const QString metainfo =
        QString::fromUtf8(readAll(data + QStringLiteral("io.github.pictavo.pictavo.metainfo.xml")));
    QStringList offered;
    static const QRegularExpression mediatype(QStringLiteral("<mediatype>([^<]+)</mediatype>"));
    for (auto match = mediatype.globalMatch(metainfo); match.hasNext();)
        offered << match.next().captured(1);
    offered.sort();
    QCOMPARE(offered, written);
    QVERIFY(metainfo.contains(QStringLiteral("<launchable type=\"desktop-id\">") +
                              DesktopAssociation::kDesktopId + QStringLiteral("</launchable>")));
}

QTEST_GUILESS_MAIN(ModAssocTest)
#include "modassoctest.moc"
