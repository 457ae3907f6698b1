#include "viewer/viewercrypt.h"

#include "components/engine/imagedocument.h"
#include "dialogs/frmdialog.h"
#include "support/scriptedprompts.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace qmt;

namespace {

QImage picture()
{
    QImage image(30, 20, QImage::Format_RGB32);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x)
            image.setPixel(x, y, qRgb(x * 8, y * 12, 100));
    return image;
}

// Answers the prompt dialog once it is up: `act` types and closes it.
struct DialogScript {
    QString caption;
    QString rowCaption;
    frmDialog *seenMember = nullptr;
    void arm(const std::function<void(frmDialog *)> &act, frmDialog **member)
    {
        QTimer::singleShot(0, [this, act, member] {
            auto *dlg = qobject_cast<frmDialog *>(QApplication::activeModalWidget());
            if (!dlg)
                return;
            caption = dlg->windowTitle();
            rowCaption = dlg->lblLabel(0)->text();
            seenMember = member ? *member : nullptr;
            act(dlg);
            if (dlg->isVisible())
                dlg->cmdCancel()->click();
        });
    }
};

} // namespace

class ViewerCryptTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void prompts_data()
    {
        QTest::addColumn<QString>("action"); // ok, cancel, close
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("outcome");
        QTest::newRow("ok") << "ok"
                            << "secret" << int(CryptOutcome::Done);
        QTest::newRow("ok, key with spaces") << "ok"
                                             << " two words " << int(CryptOutcome::Done);
        QTest::newRow("ok, empty") << "ok"
                                   << "" << int(CryptOutcome::EmptyKey);
        QTest::newRow("enter") << "enter"
                               << "secret" << int(CryptOutcome::Done);
        QTest::newRow("cancel after typing") << "cancel"
                                             << "secret" << int(CryptOutcome::Cancelled);
        QTest::newRow("close box after typing") << "close"
                                                << "secret" << int(CryptOutcome::Cancelled);
    }

    void prompts()
    {
        QFETCH(QString, action);
        QFETCH(QString, key);
        QFETCH(int, outcome);
        test::ScriptedPrompts prompts;
        ImageDocument doc;
        QVERIFY(doc.LoadFromPicture(picture()));
        const QImage original = doc.image().convertToFormat(QImage::Format_RGB32);
        QWidget owner;
        frmDialog *member = nullptr;

        DialogScript script;
        auto act = [&](frmDialog *dlg) {
            QTest::keyClicks(dlg->txtText(0), key);
            if (action == "ok")
                dlg->cmdOK()->click();
            else if (action == "enter")
                QTest::keyClick(dlg->txtText(0), Qt::Key_Return);
            else if (action == "cancel")
                dlg->cmdCancel()->click();
            else
                dlg->close();
        };
        script.arm(act, &member);
        const CryptOutcome encrypted = EncryptShownImage(doc, &owner, &member);
        QCOMPARE(script.caption, QStringLiteral("Encryption"));
        QCOMPARE(script.rowCaption, QStringLiteral("Encryption Key:"));
        QVERIFY(script.seenMember); // held while up
        QVERIFY(!member);           // released afterwards
        QCOMPARE(int(encrypted.kind), outcome);
        const bool changed = outcome == CryptOutcome::Done;
        QCOMPARE(doc.isEncrypted(), changed);
        QCOMPARE(doc.image().convertToFormat(QImage::Format_RGB32) == original, !changed);
        QVERIFY(prompts.asked().isEmpty());

        if (!changed)
            return;
        script.arm(act, nullptr);
        const CryptOutcome decrypted = DecryptShownImage(doc, &owner);
        QCOMPARE(script.caption, QStringLiteral("Decryption"));
        QCOMPARE(script.rowCaption, QStringLiteral("Decryption Key:"));
        QCOMPARE(int(decrypted.kind), int(CryptOutcome::Done));
        QVERIFY(!doc.isEncrypted());
        QCOMPARE(doc.image().convertToFormat(QImage::Format_RGB32), original);
    }

    void engineFailureIsReported()
    {
        test::ScriptedPrompts prompts;
        ImageDocument empty; // nothing loaded: the engine refuses
        QWidget owner;
        DialogScript script;
        script.arm(
            [](frmDialog *dlg) {
                QTest::keyClicks(dlg->txtText(0), "k");
                dlg->cmdOK()->click();
            },
            nullptr);
        const CryptOutcome outcome = DecryptShownImage(empty, &owner);
        QCOMPARE(int(outcome.kind), int(CryptOutcome::Failed));
        QVERIFY(!outcome.error.isEmpty());
        QCOMPARE(prompts.asked().size(), 1);
        QCOMPARE(prompts.asked().first().text, outcome.error);
    }
};

QTEST_MAIN(ViewerCryptTest)
#include "viewercrypttest.moc"
