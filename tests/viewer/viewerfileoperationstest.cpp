#include "viewer/frmviwer.h"

#include "components/engine/imagedocument.h"
#include "components/engine/imageview.h"
#include "components/twips.h"
#include "dialogs/frmabout.h"
#include "dialogs/frmdialog.h"
#include "dialogs/frmfile.h"
#include "shell/cregister.h"
#include "shell/modmain.h"
#include "support/recordinglauncher.h"
#include "support/sandbox.h"
#include "support/scriptedprompts.h"
#include "viewer/viewerformat.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

using namespace qmt;
using qmt::test::RecordingLauncher;
using qmt::test::ScriptedPrompts;

namespace {

// What the viewer's caption puts after the file name: the build's major and minor version.
const QString kCaptionTail =
    QStringLiteral("- Pictavo ") + QStringLiteral(QMT_VERSION).section(QLatin1Char('.'), 0, 1);

const QStringList kNames{"a.png", "b.png", "c.png", "d.png", "e.png"};

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// Answers the copy/move dialog once it is up: an empty destination presses Cancel.
void answerFileForm(const QString &destination, QString *seenTitle, QString *seenSource)
{
    QTimer::singleShot(0, [=] {
        auto *dialog = qobject_cast<frmFile *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        *seenTitle = dialog->windowTitle();
        *seenSource = dialog->txtSource()->text();
        if (destination.isEmpty()) {
            dialog->cmdCancel()->click();
            return;
        }
        dialog->txtDestination()->setText(destination);
        dialog->cmdOk()->click();
    });
}

// Answers the key prompt once it is up; an empty key with `ok` false presses Cancel.
void answerKeyPrompt(const QString &key, bool ok, frmViwer *window, QString *caption,
                     bool *memberWasDialog)
{
    QTimer::singleShot(0, [=] {
        auto *dialog = qobject_cast<frmDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        *caption = dialog->windowTitle();
        *memberWasDialog = window->frmDlg == dialog;
        dialog->txtText(0)->setText(key);
        (ok ? dialog->cmdOK() : dialog->cmdCancel())->click();
    });
}

} // namespace

class ViewerFileOperationsTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<test::Sandbox> m_sandbox;
    std::unique_ptr<ScriptedPrompts> m_prompts;
    std::unique_ptr<RecordingLauncher> m_launcher;
    QString m_pics;
    QString m_dest;
    QStringList m_files;

    // Five distinct pictures in pics/ and an empty dest/ folder.
    void makeTree()
    {
        m_pics = m_sandbox->makeDir("pics");
        m_dest = m_sandbox->makeDir("dest");
        m_files.clear();
        int shade = 0;
        for (const QString &name : kNames) {
            QImage image(12, 8, QImage::Format_RGB32);
            image.fill(QColor(40 * shade, 200 - 30 * shade, 90));
            ++shade;
            const QString path = m_pics + "/" + name;
            QVERIFY(image.save(path));
            m_files.append(path);
        }
    }

    frmViwer *open(const QStringList &list, int index, bool bCommand)
    {
        CRegister().REGSaveSetting(kSettingsRoot, QString(kSettingsSection), "FullScreen", "0");
        frmViwer *window = frmViwer::instance();
        window->bCommand = bCommand;
        window->ImgX()->setZoomFactor(1.0);
        window->ViewImage(list, index);
        return window;
    }

    void trigger(frmViwer *window, const char *name)
    {
        QAction *action = window->findChild<QAction *>(QString::fromLatin1(name));
        QVERIFY2(action, name);
        action->trigger();
    }

    QString shownFile(frmViwer *window)
    {
        return QFileInfo(window->ImgX()->document()->ImageFileName()).fileName();
    }

private Q_SLOTS:
    void init()
    {
        m_sandbox = std::make_unique<test::Sandbox>();
        m_prompts = std::make_unique<ScriptedPrompts>();
        m_launcher = std::make_unique<RecordingLauncher>();
        twips::setOverride(15, 15);
        makeTree();
    }

    void cleanup()
    {
        frmViwer::unload();
        frmAbout::unload();
        frmFile::unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_launcher.reset();
        m_prompts.reset();
        m_sandbox.reset();
    }

    void copyAndMove_data()
    {
        QTest::addColumn<int>("opType");
        QTest::addColumn<QString>("destination"); // "" cancels; "dest" / "dest/" the folder
        QTest::addColumn<bool>("collision");      // a different file already at the target
        QTest::addColumn<int>("replace");         // ReplaceAnswer for the collision
        QTest::addColumn<bool>("bCommand");
        QTest::addColumn<bool>("sourceGone");

        const int none = -1;
        const int replace = int(ReplaceAnswer::Replace);
        const int skip = int(ReplaceAnswer::Skip);
        const int cancel = int(ReplaceAnswer::Cancel);
        QTest::newRow("copy") << 1 << "dest/" << false << none << false << false;
        QTest::newRow("copy, folder typed without separator")
            << 1 << "dest" << false << none << false << false;
        QTest::newRow("copy cancelled") << 1 << "" << false << none << false << false;
        QTest::newRow("copy onto a file, replace")
            << 1 << "dest/" << true << replace << false << false;
        QTest::newRow("copy onto a file, skip") << 1 << "dest/" << true << skip << false << false;
        QTest::newRow("move") << 4 << "dest/" << false << none << false << true;
        QTest::newRow("move from the command line") << 4 << "dest" << false << none << true << true;
        QTest::newRow("move cancelled") << 4 << "" << false << none << false << false;
        QTest::newRow("move onto a file, replace")
            << 4 << "dest/" << true << replace << false << true;
        QTest::newRow("move onto a file, skip") << 4 << "dest/" << true << skip << false << false;
        QTest::newRow("move onto a file, cancel")
            << 4 << "dest/" << true << cancel << false << false;
    }

    void copyAndMove()
    {
        QFETCH(int, opType);
        QFETCH(QString, destination);
        QFETCH(bool, collision);
        QFETCH(int, replace);
        QFETCH(bool, bCommand);
        QFETCH(bool, sourceGone);

        const QString source = m_files.at(2);
        const QByteArray original = contents(source);
        const QString target = m_dest + "/c.png";
        const QByteArray other("not the same picture");
        if (collision) {
            QVERIFY(writeFile(target, other));
            m_prompts->answerReplace(ReplaceAnswer(replace));
        }
        frmViwer *window = open(m_files, 2, bCommand);
        const QString captionBefore = window->windowTitle();
        QSignalSpy changed(window, &frmViwer::filesChanged);
        QString title, shownSource;
        answerFileForm(destination.isEmpty() ? QString() : m_sandbox->file(destination), &title,
                       &shownSource);
        trigger(window, opType == 1 ? "mnuCopyTo" : "mnuMoveTo");

        QCOMPARE(title, opType == 1 ? QString("Copy To") : QString("Move To"));
        QCOMPARE(shownSource, source);
        QCOMPARE(QFileInfo::exists(source), !sourceGone);
        QVERIFY(!QFileInfo::exists(m_sandbox->path() + "/destc.png"));
        // The target holds the picture only when it was written; otherwise what was there stays.
        const bool written = !destination.isEmpty() && (!collision || replace == 0);
        if (written)
            QCOMPARE(contents(target), original);
        else if (collision)
            QCOMPARE(contents(target), other);
        else
            QVERIFY(!QFileInfo::exists(target));

        if (sourceGone) {
            QStringList expected = m_files;
            expected.removeAt(2);
            QCOMPARE(window->PathList(), expected);
            QCOMPARE(window->CurrentIndex(), 2);
            QCOMPARE(shownFile(window), QString("d.png"));
            QCOMPARE(changed.size(), bCommand ? 0 : 1);
            if (!bCommand)
                QCOMPARE(changed.first(), QVariantList({source, QString()}));
        } else {
            QCOMPARE(window->PathList(), m_files);
            QCOMPARE(window->CurrentIndex(), 2);
            QCOMPARE(shownFile(window), QString("c.png"));
            QCOMPARE(window->windowTitle(), captionBefore);
            QCOMPARE(changed.size(), 0);
        }
    }

    void copyOfAVanishedFile()
    {
        // The file went away behind the viewer's back: the copy fails with a message and the
        // list still names it.
        frmViwer *window = open(m_files, 1, false);
        QSignalSpy changed(window, &frmViwer::filesChanged);
        QVERIFY(QFile::remove(m_files.at(1)));
        QString title, shownSource;
        answerFileForm(m_dest, &title, &shownSource);
        trigger(window, "mnuCopyTo");
        QCOMPARE(title, QString("Copy To"));
        QCOMPARE(m_prompts->asked(ScriptedPrompts::Kind::Message).size(), 1);
        QVERIFY(!QFileInfo::exists(m_dest + "/b.png"));
        QCOMPARE(window->PathList(), m_files);
        QCOMPARE(window->CurrentIndex(), 1);
        QCOMPARE(changed.size(), 0);
    }

    void remove_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("accept");
        QTest::addColumn<bool>("bCommand");
        QTest::addColumn<int>("shownIndex"); // -1: the viewer closed
        QTest::addColumn<QString>("shown");

        QTest::newRow("third of five") << 5 << 2 << true << false << 2 << "d.png";
        QTest::newRow("first of five") << 5 << 0 << true << false << 0 << "b.png";
        QTest::newRow("last of five shows the new last") << 5 << 4 << true << false << 3 << "d.png";
        QTest::newRow("declined") << 5 << 2 << false << false << 2 << "c.png";
        QTest::newRow("from the command line") << 5 << 2 << true << true << 2 << "d.png";
        QTest::newRow("only image closes") << 1 << 0 << true << false << -1 << "";
        QTest::newRow("only image from the command line ends")
            << 1 << 0 << true << true << -1 << "";
        QTest::newRow("only image, declined") << 1 << 0 << false << false << 0 << "a.png";
    }

    void remove()
    {
        QFETCH(int, count);
        QFETCH(int, index);
        QFETCH(bool, accept);
        QFETCH(bool, bCommand);
        QFETCH(int, shownIndex);
        QFETCH(QString, shown);

        const QStringList list = m_files.mid(0, count);
        const QString source = list.at(index);
        frmViwer *window = open(list, index, bCommand);
        QPointer<frmViwer> guard(window);
        QSignalSpy changed(window, &frmViwer::filesChanged);
        QSignalSpy closedToBrowser(window, &frmViwer::closedToBrowser);
        QSignalSpy endProgram(window, &frmViwer::endProgramRequested);
        m_prompts->answerMessage(accept ? PromptAnswer::Yes : PromptAnswer::No);
        trigger(window, "mnuDelete");

        const QList<ScriptedPrompts::Question> asked =
            m_prompts->asked(ScriptedPrompts::Kind::Message);
        QCOMPARE(asked.size(), 1);
        QVERIFY2(asked.first().text.contains("trash"), qPrintable(asked.first().text));
        QCOMPARE(QFileInfo::exists(source), !accept);
        if (accept) {
            const QString trashed =
                QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                "/Trash/files/" + QFileInfo(source).fileName();
            QVERIFY2(QFileInfo::exists(trashed), qPrintable(trashed));
        }
        QCOMPARE(changed.size(), accept && !bCommand ? 1 : 0);

        if (shownIndex < 0) {
            QCOMPARE(closedToBrowser.size(), bCommand ? 0 : 1);
            QCOMPARE(endProgram.size(), bCommand ? 1 : 0);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            if (!bCommand)
                QVERIFY(guard.isNull());
            else
                QVERIFY(!window->isVisible());
            return;
        }
        QCOMPARE(closedToBrowser.size(), 0);
        QCOMPARE(endProgram.size(), 0);
        QStringList expected = list;
        if (accept)
            expected.removeAt(index);
        QCOMPARE(window->PathList(), expected);
        QCOMPARE(window->CurrentIndex(), shownIndex);
        QCOMPARE(shownFile(window), shown);
        QCOMPARE(window->windowTitle(), viewer::windowCaption(shown));
    }

    void rename_data()
    {
        QTest::addColumn<QVariant>("answer"); // invalid: the box was cancelled
        QTest::addColumn<bool>("bCommand");
        QTest::addColumn<bool>("renamed");
        QTest::addColumn<bool>("refused"); // a message says why

        QTest::newRow("new name") << QVariant("holiday.png") << false << true << false;
        QTest::newRow("new name from the command line")
            << QVariant("holiday.png") << true << true << false;
        QTest::newRow("cancelled") << QVariant() << false << false << false;
        QTest::newRow("same name") << QVariant("c.png") << false << false << false;
        QTest::newRow("an existing sub-folder") << QVariant("sub") << false << false << false;
        QTest::newRow("empty") << QVariant("") << false << false << true;
        QTest::newRow("blank") << QVariant("   ") << false << false << true;
        QTest::newRow("separator into the parent")
            << QVariant("../up.png") << false << false << true;
        QTest::newRow("separator into a sub-folder")
            << QVariant("sub/in.png") << false << false << true;
        QTest::newRow("an existing file") << QVariant("b.png") << false << false << true;
    }

    void rename()
    {
        QFETCH(QVariant, answer);
        QFETCH(bool, bCommand);
        QFETCH(bool, renamed);
        QFETCH(bool, refused);

        m_sandbox->makeDir("pics/sub");
        const QString source = m_files.at(2);
        const QByteArray original = contents(source);
        const QByteArray neighbour = contents(m_files.at(1));
        frmViwer *window = open(m_files, 2, bCommand);
        const QString captionBefore = window->windowTitle();
        QSignalSpy changed(window, &frmViwer::filesChanged);
        if (answer.isValid())
            m_prompts->answerInput(answer.toString());
        else
            m_prompts->answerInput(std::nullopt);
        trigger(window, "mnuRename");

        const QList<ScriptedPrompts::Question> inputs =
            m_prompts->asked(ScriptedPrompts::Kind::Input);
        QCOMPARE(inputs.size(), 1);
        QCOMPARE(inputs.first().text, QString("File Name:"));
        QCOMPARE(inputs.first().title, QString("Rename File"));
        QCOMPARE(m_prompts->asked(ScriptedPrompts::Kind::Message).size(), refused ? 1 : 0);

        // Nothing ever lands outside the picture's folder, and no other file is touched.
        QVERIFY(!QFileInfo::exists(m_sandbox->file("up.png")));
        QVERIFY(!QFileInfo::exists(m_sandbox->file("pics/sub/in.png")));
        QVERIFY(QFileInfo(m_sandbox->file("pics/sub")).isDir());
        QCOMPARE(contents(m_files.at(1)), neighbour);

        if (renamed) {
            const QString target = m_pics + "/" + answer.toString();
            QVERIFY(!QFileInfo::exists(source));
            QCOMPARE(contents(target), original);
            QStringList expected = m_files;
            expected[2] = target;
            QCOMPARE(window->PathList(), expected);
            QCOMPARE(window->CurrentIndex(), 2);
            QCOMPARE(window->windowTitle(), answer.toString() + kCaptionTail);
            // The status bar names the file by its new name too.
            QCOMPARE(window->statusPanel(2), answer.toString());
            QCOMPARE(window->ImgX()->document()->ImageFileName(), target);
            QCOMPARE(changed.size(), bCommand ? 0 : 1);
            if (!bCommand)
                QCOMPARE(changed.first(), QVariantList({source, target}));
        } else {
            QCOMPARE(contents(source), original);
            QCOMPARE(window->PathList(), m_files);
            QCOMPARE(window->windowTitle(), captionBefore);
            QCOMPARE(changed.size(), 0);
        }
    }

    void helpAndUpdate()
    {
        // The program folder of this test is the build's test folder: give it stand-in help
        // pages and updater for the duration of the test.
        const QString folder = QCoreApplication::applicationDirPath();
        const QString pages = folder + "/help/index.html";
        const QString updater = folder + "/update/update";
        QVERIFY(!QFileInfo::exists(pages) && !QFileInfo::exists(updater));
        QDir().mkpath(folder + "/help");
        QDir().mkpath(folder + "/update");
        const auto removeStandIns = [&] {
            QFile::remove(pages);
            QFile::remove(updater);
            QDir().rmdir(folder + "/help");
            QDir().rmdir(folder + "/update");
        };
        const auto atEnd = qScopeGuard(removeStandIns);
        QVERIFY(writeFile(pages, "<html><body>help</body></html>"));
        QVERIFY(writeFile(updater, "#!/bin/sh\nexit 0\n"));
        QFile::setPermissions(updater, QFile::permissions(updater) | QFileDevice::ExeOwner);

        frmViwer *window = open(m_files, 0, false);
        trigger(window, "mnuHelpIndex");
        trigger(window, "mnuupdate");
        QList<RecordingLauncher::Call> calls;
        for (const RecordingLauncher::Call &call : m_launcher->calls())
            if (call.kind != RecordingLauncher::Call::Run) // the query for a help viewer
                calls.append(call);
        QCOMPARE(calls.size(), 2);
        QCOMPARE(calls.at(0).kind, RecordingLauncher::Call::Open);
        QCOMPARE(calls.at(0).program, QUrl::fromLocalFile(pages).toString());
        QCOMPARE(calls.at(1).kind, RecordingLauncher::Call::Detached);
        QCOMPARE(calls.at(1).program, updater);
        QCOMPARE(m_prompts->asked().size(), 0);

        // Without them each command says so instead of starting nothing silently.
        removeStandIns();
        m_launcher->clear();
        trigger(window, "mnuHelpIndex");
        trigger(window, "mnuupdate");
        QCOMPARE(m_prompts->asked(ScriptedPrompts::Kind::Message).size(), 2);
    }

    void about()
    {
        frmViwer *window = open(m_files, 0, false);
        QVERIFY(!frmAbout::isLoaded());
        trigger(window, "mnuAbout"); // returns at once: the box is not modal
        QVERIFY(frmAbout::isLoaded());
        frmAbout *box = frmAbout::instance();
        QVERIFY(box->isVisible());
        QVERIFY(!box->isModal());
        QCOMPARE(box->parentWidget(), static_cast<QWidget *>(window));
        QVERIFY(!QApplication::activeModalWidget());
        // A second About brings the same box forward.
        trigger(window, "mnuAbout");
        QCOMPARE(frmAbout::instance(), box);
        // The box goes with the viewer.
        frmViwer::unload();
        QVERIFY(!frmAbout::isLoaded());
    }

    void wallpaper()
    {
        frmViwer *window = open(m_files, 1, false);
        const QString copy = GetWindowsFolder() + "b.png";
        QVERIFY(!QFileInfo::exists(copy));
        trigger(window, "mnuSetAsWallpaper");
        QVERIFY2(QFileInfo::exists(copy), qPrintable(copy));
        QImage written(copy);
        QCOMPARE(written.size(), QSize(12, 8));
        QCOMPARE(written.pixelColor(3, 3).rgb(),
                 window->ImgX()->document()->GetPicture().pixelColor(3, 3).rgb());
    }

    void encryptDecrypt_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<bool>("changed");
        QTest::newRow("key, OK") << "secret" << true << true;
        QTest::newRow("key, Cancel") << "secret" << false << false;
        QTest::newRow("empty key, OK") << "" << true << false;
    }

    void encryptDecrypt()
    {
        QFETCH(QString, key);
        QFETCH(bool, ok);
        QFETCH(bool, changed);

        frmViwer *window = open(m_files, 0, false);
        const QImage before = window->ImgX()->document()->GetPicture().copy();
        const QByteArray fileBefore = contents(m_files.at(0));
        QString caption;
        bool member = false;
        answerKeyPrompt(key, ok, window, &caption, &member);
        window->Encrypt();
        QCOMPARE(caption, QString("Encryption"));
        QVERIFY(member);
        QVERIFY(!window->frmDlg);
        const QImage scrambled = window->ImgX()->document()->GetPicture().copy();
        QCOMPARE(scrambled != before, changed);
        QCOMPARE(window->ImgX()->document()->isEncrypted(), changed);

        answerKeyPrompt(key, ok, window, &caption, &member);
        window->Decrypt();
        QCOMPARE(caption, QString("Decryption"));
        QVERIFY(member);
        QVERIFY(!window->frmDlg);
        QCOMPARE(window->ImgX()->document()->GetPicture(), before);
        // The picture changes in memory only: the file is not written.
        QCOMPARE(contents(m_files.at(0)), fileBefore);
    }

    void saveAsWarnsForLossyFormats_data()
    {
        QTest::addColumn<bool>("encrypted");
        QTest::addColumn<int>("position"); // 1 JPG, 2 PNG, 7 WBMP
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("warned");
        QTest::addColumn<bool>("saved");
        const int ok = int(PromptAnswer::Ok);
        const int cancel = int(PromptAnswer::Cancel);
        QTest::newRow("encrypted as JPG, go on") << true << 1 << ok << true << true;
        QTest::newRow("encrypted as JPG, cancel") << true << 1 << cancel << true << false;
        QTest::newRow("encrypted as WBMP, cancel") << true << 7 << cancel << true << false;
        QTest::newRow("encrypted as WBMP, go on") << true << 7 << ok << true << true;
        QTest::newRow("encrypted as PNG") << true << 2 << cancel << false << true;
        QTest::newRow("plain as JPG") << false << 1 << cancel << false << true;
    }

    void saveAsWarnsForLossyFormats()
    {
        QFETCH(bool, encrypted);
        QFETCH(int, position);
        QFETCH(int, answer);
        QFETCH(bool, warned);
        QFETCH(bool, saved);

        frmViwer *window = open(m_files, 0, false);
        if (encrypted)
            QVERIFY(window->ImgX()->document()->EncryptImage("k"));
        const QString target = m_dest + "/out.img";
        m_prompts->answerSave(FileDialogResult{{target}, position});
        m_prompts->answerMessage(PromptAnswer(answer));
        window->SaveAs();

        const QList<ScriptedPrompts::Question> messages =
            m_prompts->asked(ScriptedPrompts::Kind::Message);
        QCOMPARE(messages.size(), warned ? 1 : 0);
        if (warned) {
            QCOMPARE(messages.first().icon, PromptIcon::Exclamation);
            QCOMPARE(messages.first().buttons, PromptButtons::OkCancel);
            QVERIFY(messages.first().text.contains("decrypted"));
        }
        QCOMPARE(QFileInfo::exists(target), saved);
    }
};

QTEST_MAIN(ViewerFileOperationsTest)
#include "viewerfileoperationstest.moc"
