#include "dialogs/frmfile.h"

#include "support/sandbox.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <functional>

using namespace qmt;
using test::Sandbox;

namespace {

// Runs `act` once the modal dialog is up, then shows it.
QString showAndDo(int opType, const QString &source, const std::function<void(frmFile *)> &act)
{
    frmFile *dlg = frmFile::instance();
    bool acted = false;
    QTimer::singleShot(0, dlg, [&] {
        acted = true;
        act(dlg);
        if (dlg->isVisible()) // the action did not close it: do not hang
            dlg->cmdCancel()->click();
    });
    const QString result = ShowFileForm(opType, source);
    if (!acted)
        qWarning("the dialog was not shown");
    return result;
}

} // namespace

class FrmFileTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { frmFile::unload(); }

    void singleInstance()
    {
        QVERIFY(!frmFile::isLoaded());
        frmFile *first = frmFile::instance();
        QVERIFY(frmFile::isLoaded());
        QCOMPARE(frmFile::instance(), first);
        QCOMPARE(first->cmdOk()->text(), QStringLiteral("         &Ok"));
        QCOMPARE(first->cmdCancel()->text(), QStringLiteral("         &Cancel"));
        frmFile::unload();
        QVERIFY(!frmFile::isLoaded());
    }

    void titles_data()
    {
        QTest::addColumn<int>("opType");
        QTest::addColumn<QString>("title");
        QTest::newRow("copy") << 1 << "Copy To";
        QTest::newRow("move") << 4 << "Move To";
        QTest::newRow("other keeps the last") << 2 << "Move To";
    }

    void titles()
    {
        QFETCH(int, opType);
        QFETCH(QString, title);
        showAndDo(4, "/x/a.jpg", [](frmFile *) {});
        QString seenTitle, seenSource;
        showAndDo(opType, "/pics/holiday.jpg", [&](frmFile *dlg) {
            seenTitle = dlg->windowTitle();
            seenSource = dlg->txtSource()->text();
        });
        QCOMPARE(seenTitle, title);
        QCOMPARE(seenSource, QStringLiteral("/pics/holiday.jpg"));
    }

    void results_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ok") << "/home/me/Pics/" << true << "/home/me/Pics/";
        QTest::newRow("ok, separator added") << "/home/me/Pics" << true << "/home/me/Pics/";
        QTest::newRow("ok, empty") << "" << true << "";
        QTest::newRow("cancel") << "/home/me/Pics/" << false << "";
    }

    void results()
    {
        QFETCH(QString, typed);
        QFETCH(bool, ok);
        QFETCH(QString, expected);
        const QString result = showAndDo(1, "/a.jpg", [&](frmFile *dlg) {
            dlg->txtDestination()->setText(typed);
            (ok ? dlg->cmdOk() : dlg->cmdCancel())->click();
        });
        QCOMPARE(result, expected);
        QVERIFY(!frmFile::instance()->isVisible());
    }

    void cancelThenOkAndTextKept()
    {
        QCOMPARE(showAndDo(1, "/a.jpg",
                           [](frmFile *dlg) {
                               dlg->txtDestination()->setText("/tmp/x/");
                               dlg->cmdCancel()->click();
                           }),
                 QString());
        // The next request starts with the previous text and is not cancelled.
        QString startedWith;
        const QString second = showAndDo(4, "/b.jpg", [&](frmFile *dlg) {
            startedWith = dlg->txtDestination()->text();
            dlg->cmdOk()->click();
        });
        QCOMPARE(startedWith, QStringLiteral("/tmp/x/"));
        QCOMPARE(second, QStringLiteral("/tmp/x/"));
    }

    void closeBoxIsCancel()
    {
        const QString result = showAndDo(1, "/a.jpg", [](frmFile *dlg) {
            dlg->txtDestination()->setText("/tmp/y/");
            dlg->close();
        });
        QCOMPARE(result, QString());
        QVERIFY(frmFile::isLoaded()); // hidden, not unloaded
    }

    void enterAndEscPressNothing_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("enter") << int(Qt::Key_Return);
        QTest::newRow("escape") << int(Qt::Key_Escape);
    }

    void enterAndEscPressNothing()
    {
        QFETCH(int, key);
        bool visibleAfterKey = false;
        const QString result = showAndDo(1, "/a.jpg", [&](frmFile *dlg) {
            dlg->txtDestination()->setText("/tmp/z/");
            QTest::keyClick(dlg->txtDestination(), Qt::Key(key));
            visibleAfterKey = dlg->isVisible();
            dlg->cmdOk()->click();
        });
        QVERIFY(visibleAfterKey);
        QCOMPARE(result, QStringLiteral("/tmp/z/"));
    }

    void treeFillsTheDestination()
    {
        Sandbox sandbox;
        const QString pics = sandbox.makeDir("home/Pictures");
        sandbox.makeDir("home/Desktop");
        frmFile *dlg = frmFile::instance();
        dlg->FolderSelected(pics);
        QCOMPARE(dlg->txtDestination()->text(), pics + "/");
        dlg->FolderSelected(QString()); // an empty report changes nothing
        QCOMPARE(dlg->txtDestination()->text(), pics + "/");
        dlg->DesktopSelected();
        QVERIFY(dlg->txtDestination()->text().endsWith('/'));
        QCOMPARE(dlg->txtDestination()->text(), frmFile::desktopFolder());

        // Clicking through the tree: the desktop node, then a folder found by opening Home.
        QTreeWidget *tree = dlg->FolderTree();
        QTreeWidgetItem *desktop = tree->topLevelItem(0);
        QVERIFY(desktop);
        QTreeWidgetItem *home = nullptr;
        for (int i = 0; i < desktop->childCount(); ++i)
            if (desktop->child(i)->text(0) == "Home")
                home = desktop->child(i);
        QVERIFY(home);
        tree->setCurrentItem(home);
        QCOMPARE(dlg->txtDestination()->text(), sandbox.file("home/"));
        tree->setCurrentItem(desktop);
        QCOMPARE(dlg->txtDestination()->text(), frmFile::desktopFolder());
        home->setExpanded(true);
        QTreeWidgetItem *pictures = nullptr;
        for (int i = 0; i < home->childCount(); ++i)
            if (home->child(i)->text(0) == "Pictures")
                pictures = home->child(i);
        QVERIFY(pictures);
        tree->setCurrentItem(pictures);
        QCOMPARE(dlg->txtDestination()->text(), pics + "/");
    }
};

QTEST_MAIN(FrmFileTest)
#include "frmfiletest.moc"
