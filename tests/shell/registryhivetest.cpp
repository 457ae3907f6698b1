// The registry file's text form and its limits: what a hand-made or hostile file may hold, what
// a change may add, and that everything read can be written back the same.
#include "shell/registrystorehive.h"

#include <QDir>
#include <QTest>

using namespace qmt;

namespace {

constexpr RegistryRoot kRoot = RegistryRoot::LocalMachine;

QByteArray keyNested(int levels)
{
    QByteArray path = "[HKEY_LOCAL_MACHINE";
    for (int i = 0; i < levels; ++i)
        path += "\\k";
    return path + "]\n\"v\"=\"deep\"\n";
}

QByteArray siblingKeys(int count)
{
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += "[HKEY_LOCAL_MACHINE\\K" + QByteArray::number(i) + "]\n";
    return text;
}

QByteArray valuesInOneKey(int count)
{
    QByteArray text = "[HKEY_LOCAL_MACHINE\\S]\n";
    for (int i = 0; i < count; ++i)
        text += "\"v" + QByteArray::number(i) + "\"=dword:1\n";
    return text;
}

QStringList path(const QString &text)
{
    return text.isEmpty() ? QStringList() : text.split(u'\\');
}

} // namespace

class RegistryHiveTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void filesBeyondTheLimitsAreRefused_data();
    void filesBeyondTheLimitsAreRefused();
    void changesStopAtTheLimits();
    void manyValuesFoundByAnyCase();
    void deletingAKeyKeepsTheRest();
    void textRoundTripKeepsEveryKeyInPlace();
    void keptFilesComeBackUnchanged();
};

void RegistryHiveTest::filesBeyondTheLimitsAreRefused_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("refusal"); // empty: accepted
    QTest::newRow("deepest key") << keyNested(RegistryHive::kMaxDepth) << QString();
    QTest::newRow("one level deeper")
        << keyNested(RegistryHive::kMaxDepth + 1) << QStringLiteral("nested deeper");
    QTest::newRow("5000 levels") << keyNested(5000) << QStringLiteral("nested deeper");
    QTest::newRow("most keys") << siblingKeys(int(RegistryHive::kMaxKeys)) << QString();
    QTest::newRow("one key more") << siblingKeys(int(RegistryHive::kMaxKeys) + 1)
                                  << QStringLiteral("keys");
    QTest::newRow("most values") << valuesInOneKey(int(RegistryHive::kMaxValues)) << QString();
    QTest::newRow("one value more")
        << valuesInOneKey(int(RegistryHive::kMaxValues) + 1) << QStringLiteral("values");
    // The same value set again counts once.
    QTest::newRow("one value repeated")
        << QByteArray("[HKEY_LOCAL_MACHINE\\S]\n") +
               QByteArray("\"v\"=\"x\"\n").repeated(int(RegistryHive::kMaxValues) + 5)
        << QString();
    QTest::newRow("too large") << QByteArray("; ") + QByteArray(RegistryHive::kMaxFileSize, 'x')
                               << QStringLiteral("too large");
}

void RegistryHiveTest::filesBeyondTheLimitsAreRefused()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, refusal);
    QString why;
    const auto hive = RegistryHive::parse(kRoot, content, &why);
    if (refusal.isEmpty()) {
        QVERIFY2(hive, qPrintable(why));
        QVERIFY(hive->keyCount() > 0);
        // What was read can be written and read again.
        QVERIFY(RegistryHive::parse(kRoot, hive->serialize()));
    } else {
        QVERIFY(!hive);
        QVERIFY2(why.contains(refusal), qPrintable(why));
    }
}

void RegistryHiveTest::changesStopAtTheLimits()
{
    RegistryHive hive(kRoot);
    QStringList deepest;
    for (int i = 0; i < RegistryHive::kMaxDepth; ++i)
        deepest << QStringLiteral("k");
    QCOMPARE(hive.createKey(deepest), RegistryError::None);
    QCOMPARE(hive.setValue(deepest + QStringList{QStringLiteral("k")}, QString(),
                           RegistryValue::string(QStringLiteral("x"))),
             RegistryError::InvalidName);
    QVERIFY(!hive.hasKey(deepest + QStringList{QStringLiteral("k")}));

    // Fill up the values; a new one is refused, changing one that is there is not.
    const QStringList key{QStringLiteral("Values")};
    for (qsizetype i = hive.valueCount(); i < RegistryHive::kMaxValues; ++i)
        QCOMPARE(hive.setValue(key, QString::number(i), RegistryValue::dword(1)),
                 RegistryError::None);
    QCOMPARE(hive.setValue(key, QStringLiteral("new"), RegistryValue::dword(1)),
             RegistryError::TooLarge);
    QCOMPARE(hive.setValue(key, QStringLiteral("7"), RegistryValue::dword(2)), RegistryError::None);
    QCOMPARE(hive.value(key, QStringLiteral("7"))->number, 2u);
    QCOMPARE(hive.deleteValue(key, QStringLiteral("8")), RegistryError::None);
    QCOMPARE(hive.setValue(key, QStringLiteral("new"), RegistryValue::dword(1)),
             RegistryError::None);

    for (qsizetype i = hive.keyCount(); i < RegistryHive::kMaxKeys; ++i)
        QCOMPARE(hive.createKey({QStringLiteral("K%1").arg(i)}), RegistryError::None);
    QCOMPARE(hive.createKey({QStringLiteral("one more")}), RegistryError::TooLarge);
    QCOMPARE(hive.keyCount(), RegistryHive::kMaxKeys);
}

// Keys with many values look their names up in a hash; it must agree with the names after
// every change, in any case.
void RegistryHiveTest::manyValuesFoundByAnyCase()
{
    RegistryHive hive(kRoot);
    const QStringList key{QStringLiteral("S")};
    for (int i = 0; i < 40; ++i)
        hive.setValue(key, QStringLiteral("Name %1").arg(i), RegistryValue::dword(quint32(i)));
    QCOMPARE(hive.value(key, QStringLiteral("NAME 33"))->number, 33u);
    QCOMPARE(hive.deleteValue(key, QStringLiteral("name 10")), RegistryError::None);
    QCOMPARE(hive.deleteValue(key, QStringLiteral("name 10")), RegistryError::NotFound);
    for (int i = 0; i < 40; ++i) {
        const auto found = hive.value(key, QStringLiteral("name %1").arg(i));
        QCOMPARE(found.has_value(), i != 10);
        if (found)
            QCOMPARE(found->number, quint32(i));
    }
    hive.setValue(key, QStringLiteral("NAME 5"), RegistryValue::dword(500));
    QCOMPARE(hive.valueNames(key)->size(), 39);
    QCOMPARE(hive.valueNames(key)->at(5), QStringLiteral("Name 5")); // first-written case kept
    QCOMPARE(hive.value(key, QStringLiteral("name 5"))->number, 500u);
    // Down to a few values, found by the plain search again.
    for (int i = 11; i < 40; ++i)
        QCOMPARE(hive.deleteValue(key, QStringLiteral("Name %1").arg(i)), RegistryError::None);
    QCOMPARE(hive.value(key, QStringLiteral("name 9"))->number, 9u);
    QCOMPARE(hive.valueCount(), 10);
}

void RegistryHiveTest::deletingAKeyKeepsTheRest()
{
    RegistryHive hive(kRoot);
    for (const QString &p : {QStringLiteral("A\\1\\x"), QStringLiteral("B"), QStringLiteral("A\\2"),
                             QStringLiteral("C\\c"), QStringLiteral("A\\3")})
        hive.setValue(path(p), QStringLiteral("v"), RegistryValue::string(p));
    QCOMPARE(hive.deleteKey(path(QStringLiteral("A\\1")), false), RegistryError::HasSubKeys);
    QCOMPARE(hive.deleteKey(path(QStringLiteral("a\\1")), true), RegistryError::None);
    QCOMPARE(hive.deleteKey(path(QStringLiteral("B")), false), RegistryError::None);
    QCOMPARE(*hive.subKeys({}), (QStringList{QStringLiteral("A"), QStringLiteral("C")}));
    QCOMPARE(*hive.subKeys(path(QStringLiteral("A"))),
             (QStringList{QStringLiteral("2"), QStringLiteral("3")}));
    QCOMPARE(hive.value(path(QStringLiteral("A\\3")), QStringLiteral("v"))->text,
             QStringLiteral("A\\3"));
    QCOMPARE(hive.value(path(QStringLiteral("c\\C")), QStringLiteral("v"))->text,
             QStringLiteral("C\\c"));
    QVERIFY(!hive.hasKey(path(QStringLiteral("A\\1\\x"))));
    QCOMPARE(hive.valueCount(), 3);
    // A deleted key can be made again, at the end of its parent's sub-keys.
    QCOMPARE(hive.createKey(path(QStringLiteral("A\\1"))), RegistryError::None);
    QCOMPARE(hive.subKeys(path(QStringLiteral("A")))->last(), QStringLiteral("1"));
    QCOMPARE(hive.keyCount(), 6);
}

// A key without values is written only through its sub-keys' sections; reading the text back
// must still make every key, in the same order among its siblings.
void RegistryHiveTest::textRoundTripKeepsEveryKeyInPlace()
{
    RegistryHive hive(kRoot);
    hive.createKey(path(QStringLiteral("Empty")));
    hive.createKey(path(QStringLiteral("Parent\\First\\Leaf")));
    hive.setValue(path(QStringLiteral("Valued")), QString(), RegistryValue::string("x"));
    hive.createKey(path(QStringLiteral("Parent\\Second")));
    hive.setValue({}, QStringLiteral("at root"), RegistryValue::dword(3));
    hive.setValue(path(QStringLiteral("Parent")), QStringLiteral("late"),
                  RegistryValue::binary("\x01\x02"));

    const QByteArray text = hive.serialize();
    const auto back = RegistryHive::parse(kRoot, text);
    QVERIFY(back);
    QCOMPARE(back->serialize(), text);
    QCOMPARE(*back->subKeys({}), (QStringList{QStringLiteral("Empty"), QStringLiteral("Parent"),
                                              QStringLiteral("Valued")}));
    QCOMPARE(*back->subKeys(path(QStringLiteral("Parent"))),
             (QStringList{QStringLiteral("First"), QStringLiteral("Second")}));
    QVERIFY(back->hasKey(path(QStringLiteral("Parent\\First\\Leaf"))));
    QCOMPARE(back->value({}, QStringLiteral("AT ROOT"))->number, 3u);
    QCOMPARE(back->keyCount(), hive.keyCount());
    // Only the keys that carry something get a section of their own.
    QCOMPARE(text.count("\n["), 6);
}

// The seed files of the parser's fuzz target and every input it found: each is read as it was
// when kept, and what is read is written back the same.
void RegistryHiveTest::keptFilesComeBackUnchanged()
{
    const QDir dir(qEnvironmentVariable("QMT_TEST_DATA") + QStringLiteral("/registry"));
    const QStringList files = dir.entryList(QDir::Files);
    QVERIFY(files.contains(QStringLiteral("settings.reg")));
    for (const QString &name : files) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray data = file.readAll();
        for (const RegistryRoot root : {RegistryRoot::LocalMachine, RegistryRoot::ClassesRoot}) {
            const auto hive = RegistryHive::parse(root, data);
            if (!hive)
                continue;
            const QByteArray text = hive->serialize();
            QVERIFY2(text.size() <= 4 * data.size() + 256, qPrintable(name));
            const auto again = RegistryHive::parse(root, text);
            QVERIFY2(again && again->serialize() == text, qPrintable(name));
        }
    }
    const auto settings = RegistryHive::parse(RegistryRoot::LocalMachine, [&] {
        QFile f(dir.filePath(QStringLiteral("settings.reg")));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }());
    QVERIFY(settings);
    QCOMPARE(settings
                 ->value(path(QStringLiteral("SOFTWARE\\Karvendel\\Pictavo Settings")),
                         QStringLiteral("Slide Show Delay"))
                 ->text,
             QStringLiteral("2000"));
}

QTEST_GUILESS_MAIN(RegistryHiveTest)
#include "registryhivetest.moc"
