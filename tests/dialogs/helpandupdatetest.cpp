#include "dialogs/helpandupdate.h"

#include "support/recordinglauncher.h"
#include "support/sandbox.h"
#include "support/scriptedprompts.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

using namespace qmt;
using test::RecordingLauncher;
using test::Sandbox;
using test::ScriptedPrompts;

namespace {

void touch(const QString &path,
           QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    file.setPermissions(permissions);
}

} // namespace

class HelpAndUpdateTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void openHelp_data()
    {
        QTest::addColumn<bool>("chmThere");
        QTest::addColumn<bool>("pagesThere");
        QTest::addColumn<QString>("chmViewer"); // what xdg-mime names; "" none
        QTest::addColumn<QString>("opened");    // "chm", "html" or "" (a message instead)
        QTest::newRow("chm with a viewer") << true << true << "xchm.desktop"
                                           << "chm";
        QTest::newRow("no chm viewer") << true << true << ""
                                       << "html";
        QTest::newRow("chm missing") << false << true << "xchm.desktop"
                                     << "html";
        QTest::newRow("nothing there") << false << false << "xchm.desktop"
                                       << "";
    }

    void openHelp()
    {
        QFETCH(bool, chmThere);
        QFETCH(bool, pagesThere);
        QFETCH(QString, chmViewer);
        QFETCH(QString, opened);
        Sandbox sandbox;
        ScriptedPrompts prompts;
        RecordingLauncher launcher;
        launcher.setRunResult("xdg-mime", {true, chmViewer.isEmpty() ? 1 : 0, chmViewer});
        const QString folder = sandbox.makeDir("program");
        if (chmThere)
            touch(folder + "/qmt.chm");
        if (pagesThere)
            touch(folder + "/help/index.html");

        QCOMPARE(OpenHelp(folder), !opened.isEmpty());
        QList<QString> urls;
        for (const auto &call : launcher.calls())
            if (call.kind == RecordingLauncher::Call::Open)
                urls.append(call.program);
        if (opened.isEmpty()) {
            QVERIFY(urls.isEmpty());
            QCOMPARE(prompts.asked().size(), 1);
        } else {
            QCOMPARE(urls.size(), 1);
            const QString expected =
                opened == "chm" ? folder + "/qmt.chm" : folder + "/help/index.html";
            QCOMPARE(QUrl(urls.first()).toLocalFile(), expected);
            QVERIFY(prompts.asked().isEmpty());
        }
    }

    void chmViewerRefusesThenPages()
    {
        Sandbox sandbox;
        ScriptedPrompts prompts;
        RecordingLauncher launcher;
        launcher.setRunResult("xdg-mime", {true, 0, "xchm.desktop\n"});
        launcher.setOpenResult(false);
        const QString folder = sandbox.makeDir("program");
        touch(folder + "/qmt.chm");
        touch(folder + "/help/index.html");
        QVERIFY(!OpenHelp(folder));
        QCOMPARE(launcher.calls().size(), 3); // the query, the chm, the pages
        QCOMPARE(prompts.asked().size(), 1);
    }

    void startUpdater_data()
    {
        QTest::addColumn<bool>("there");
        QTest::addColumn<bool>("starts");
        QTest::newRow("started") << true << true;
        QTest::newRow("start fails") << true << false;
        QTest::newRow("missing") << false << true;
    }

    void startUpdater()
    {
        QFETCH(bool, there);
        QFETCH(bool, starts);
        Sandbox sandbox;
        ScriptedPrompts prompts;
        RecordingLauncher launcher;
        launcher.setDetachedResult(starts);
        const QString folder = sandbox.makeDir("program");
        if (there)
            touch(folder + "/update/update",
                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(StartUpdater(folder), there && starts);
        QCOMPARE(launcher.calls().size(), there ? 1 : 0);
        if (there) {
            QCOMPARE(launcher.calls().first().kind, RecordingLauncher::Call::Detached);
            QCOMPARE(launcher.calls().first().program, folder + "/update/update");
        }
        QCOMPARE(prompts.asked().size(), there && starts ? 0 : 1);
    }

    // Every command and key of the menus is described somewhere in the help.
    void helpDescribesEveryCommand()
    {
        const QString folder = qEnvironmentVariable("QMT_TEST_DATA") + "/../../data/help";
        QString all;
        for (const QFileInfo &page : QDir(folder).entryInfoList({"*.html"})) {
            QFile file(page.filePath());
            QVERIFY(file.open(QIODevice::ReadOnly));
            all += QString::fromUtf8(file.readAll());
        }
        QVERIFY2(!all.isEmpty(), qPrintable(folder));
        const QStringList terms = {"Open",
                                   "Browse",
                                   "Save As",
                                   "Page Setup",
                                   "Top Left",
                                   "Centered",
                                   "Fit To Page",
                                   "Exit",
                                   "Copy To",
                                   "Move To",
                                   "Copy Image",
                                   "Delete",
                                   "Rename",
                                   "Full Screen",
                                   "Zoom In",
                                   "Zoom Out",
                                   "Next",
                                   "Previous",
                                   "Slide Show Delay",
                                   "AntiAlias Display",
                                   "Rotate +90",
                                   "Rotate -90",
                                   "Set As Wallpaper",
                                   "About",
                                   "Help Index",
                                   "update",
                                   "View",
                                   "System Info",
                                   "/Associate",
                                   "/DeAssociate",
                                   "Ctrl</kbd>+<kbd>O",
                                   "<kbd>F2</kbd>",
                                   "<kbd>Esc</kbd>",
                                   "<kbd>Space</kbd>",
                                   "<kbd>Backspace</kbd>",
                                   "Page Down",
                                   "Page Up",
                                   "<kbd>F</kbd>",
                                   "Shift</kbd>+<kbd>Delete",
                                   "Encrypt...",
                                   "Decrypt...",
                                   "Actual Size",
                                   "Properties",
                                   "<kbd>I</kbd>",
                                   "Ctrl</kbd>+<kbd>0",
                                   "Ctrl</kbd>+<kbd>1",
                                   "wheel"};
        for (const QString &term : terms)
            QVERIFY2(all.contains(term), qPrintable(term));
        // The page list of the compiled help names every page.
        QFile project(folder + "/qmt.hhp");
        QVERIFY(project.open(QIODevice::ReadOnly));
        const QByteArray hhp = project.readAll();
        for (const QFileInfo &page : QDir(folder).entryInfoList({"*.html"}))
            QVERIFY2(hhp.contains(page.fileName().toUtf8()), qPrintable(page.fileName()));

        const QString chm = qEnvironmentVariable("QMT_BUILD_DIR") + "/qmt.chm";
        if (QFileInfo::exists(chm)) {
            QFile compiled(chm);
            QVERIFY(compiled.open(QIODevice::ReadOnly));
            QCOMPARE(compiled.read(4), QByteArray("ITSF"));
        }
    }

    // The real updater, from the build tree and copied into a hand-made installation.
    void updaterTellsHowToUpdate()
    {
        const QString built = qEnvironmentVariable("QMT_BUILD_DIR") + "/update/update";
        if (!QFileInfo(built).isExecutable())
            QSKIP("the updater is not built in this tree");
        QProcess inTree;
        inTree.start(built, {"--print"});
        QVERIFY(inTree.waitForFinished(10000));
        const QString treeText = QString::fromLocal8Bit(inTree.readAllStandardOutput());
        QVERIFY2(treeText.contains("1.7.0.1"), qPrintable(treeText));
        QVERIFY(treeText.contains("source tree"));
        QVERIFY(treeText.contains("does not look for newer versions"));

        Sandbox sandbox;
        const QString copy = sandbox.makeDir("opt/pictavo/update") + "/update";
        QVERIFY(QFile::copy(built, copy));
        QProcess byHand;
        byHand.start(copy, {"--print"});
        QVERIFY(byHand.waitForFinished(10000));
        const QString handText = QString::fromLocal8Bit(byHand.readAllStandardOutput());
        QVERIFY2(handText.contains(sandbox.file("opt/pictavo")), qPrintable(handText));
        QVERIFY(handText.contains("by hand"));
        QVERIFY(!handText.contains("source tree"));
        QVERIFY(!handText.contains("newer version is available"));
    }
};

QTEST_MAIN(HelpAndUpdateTest)
#include "helpandupdatetest.moc"
