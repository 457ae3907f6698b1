#include "shell/mimeappslist.h"
#include "support/sandbox.h"

#include <QFile>
#include <QTest>

using namespace qmt;

class MimeAppsListTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void editsKeepEveryOtherLine_data();
    void editsKeepEveryOtherLine();
    void firstEntry_data();
    void firstEntry();
    void saveReplacesOrLeavesTheFile();
};

void MimeAppsListTest::editsKeepEveryOtherLine_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value"); // null: remove the key
    QTest::addColumn<QByteArray>("expected");

    const QByteArray typical = "# mine\n[Added Associations]\nimage/png=a.desktop;\n\n"
                               "[Default Applications]\n# image/png=commented.desktop;\n"
                               "text/plain=ed.desktop;\nimage/png = old.desktop;\n\n[Other]\nx=1\n";
    QTest::newRow("replace in place")
        << typical << "image/png"
        << "pictavo.desktop;"
        << QByteArray(
               "# mine\n[Added Associations]\nimage/png=a.desktop;\n\n[Default Applications]\n"
               "# "
               "image/png=commented.desktop;\ntext/plain=ed.desktop;\nimage/"
               "png=pictavo.desktop;\n\n"
               "[Other]\nx=1\n");
    QTest::newRow("add at the end of the group")
        << typical << "image/gif"
        << "pictavo.desktop;"
        << QByteArray(
               "# mine\n[Added Associations]\nimage/png=a.desktop;\n\n[Default Applications]\n"
               "# image/png=commented.desktop;\ntext/plain=ed.desktop;\nimage/png = old.desktop;\n"
               "image/gif=pictavo.desktop;\n\n[Other]\nx=1\n");
    QTest::newRow("remove")
        << typical << "IMAGE/PNG" << QString()
        << QByteArray(
               "# mine\n[Added Associations]\nimage/png=a.desktop;\n\n[Default Applications]\n"
               "# image/png=commented.desktop;\ntext/plain=ed.desktop;\n\n[Other]\nx=1\n");
    QTest::newRow("group added to a file without it")
        << QByteArray("[Added Associations]\nimage/png=a.desktop;\n\n\n") << "image/png"
        << "p.desktop;"
        << QByteArray("[Added Associations]\nimage/png=a.desktop;\n\n[Default "
                      "Applications]\nimage/png=p.desktop;\n");
    QTest::newRow("empty file") << QByteArray() << "image/png"
                                << "p.desktop;"
                                << QByteArray("[Default Applications]\nimage/png=p.desktop;\n");
    QTest::newRow("CR LF and no final line end")
        << QByteArray("[Default Applications]\r\nimage/png=old.desktop;\r\ntext/plain=ed.desktop;")
        << "image/png"
        << "p.desktop;"
        << QByteArray("[Default Applications]\r\nimage/png=p.desktop;\r\ntext/plain=ed.desktop;");
    QTest::newRow("repeated group: first one changed, second kept")
        << QByteArray("[Default Applications]\na=1\n[X]\n[Default Applications]\nb=2\n") << "c"
        << "3"
        << QByteArray("[Default Applications]\na=1\nc=3\n[X]\n[Default Applications]\nb=2\n");
    QTest::newRow("key in the repeated group is replaced there")
        << QByteArray("[Default Applications]\na=1\n[Default Applications]\nb=2\n") << "b"
        << "3" << QByteArray("[Default Applications]\na=1\n[Default Applications]\nb=3\n");
    QTest::newRow("unreadable lines survive")
        << QByteArray("garbage line\n[Default Applications]\n=novalue\n\xff\xfe oops\n") << "k"
        << "v"
        << QByteArray("garbage line\n[Default Applications]\n=novalue\n\xff\xfe oops\nk=v\n");
}

void MimeAppsListTest::editsKeepEveryOtherLine()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QByteArray, expected);
    MimeAppsList list = MimeAppsList::fromText(input);
    if (value.isNull())
        QVERIFY(list.remove(QStringLiteral("Default Applications"), key));
    else
        list.setValue(QStringLiteral("Default Applications"), key, value);
    QCOMPARE(list.text(), expected);
}

void MimeAppsListTest::firstEntry_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("first");
    QTest::newRow("list") << QByteArray("[Default Applications]\nimage/png=a.desktop;b.desktop;\n")
                          << "a.desktop";
    QTest::newRow("spaces and empty items")
        << QByteArray("[Default Applications]\nimage/png = ;  a.desktop ;\n") << "a.desktop";
    QTest::newRow("other group only")
        << QByteArray("[Added Associations]\nimage/png=a.desktop;\n") << "";
    QTest::newRow("commented") << QByteArray("[Default Applications]\n#image/png=a.desktop;\n")
                               << "";
    QTest::newRow("case of the type")
        << QByteArray("[Default Applications]\nImage/PNG=a.desktop\n") << "a.desktop";
}

void MimeAppsListTest::firstEntry()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, first);
    QCOMPARE(MimeAppsList::fromText(input).firstEntry(QStringLiteral("Default Applications"),
                                                      QStringLiteral("image/png")),
             first);
}

void MimeAppsListTest::saveReplacesOrLeavesTheFile()
{
    test::Sandbox sandbox;
    const QString path = MimeAppsList::userPath();
    QCOMPARE(path, sandbox.file(QStringLiteral("config/mimeapps.list")));
    auto list = MimeAppsList::load(path);
    QVERIFY(list);
    list->setValue(QStringLiteral("Default Applications"), QStringLiteral("image/png"),
                   QStringLiteral("p.desktop;"));
    QVERIFY(list->save(path));
    QCOMPARE(MimeAppsList::load(path)->firstEntry(QStringLiteral("Default Applications"),
                                                  QStringLiteral("image/png")),
             QStringLiteral("p.desktop"));

    // A list made read-only by its owner is never replaced.
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
    list->setValue(QStringLiteral("Default Applications"), QStringLiteral("image/png"),
                   QStringLiteral("q.desktop;"));
    QVERIFY(!list->save(path));
    QCOMPARE(MimeAppsList::load(path)->firstEntry(QStringLiteral("Default Applications"),
                                                  QStringLiteral("image/png")),
             QStringLiteral("p.desktop"));
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));

    // A folder in the file's place cannot be read as a list.
    const QString dir = sandbox.makeDir(QStringLiteral("config/not-a-file"));
    QVERIFY(!MimeAppsList::load(dir));
}

QTEST_GUILESS_MAIN(MimeAppsListTest)
#include "mimeappslisttest.moc"
