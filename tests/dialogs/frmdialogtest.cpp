#include "dialogs/frmdialog.h"

#include "components/twips.h"
#include "support/scriptedprompts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

using namespace qmt;
using test::ScriptedPrompts;

class FrmDialogTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { twips::setOverride(5.0, 5.0); }
    void cleanup() { twips::clearOverride(); }

    void oneTextRow()
    {
        frmDialog dlg;
        QVERIFY(dlg.AddControl(QStringLiteral("Encryption Key:"), QString(), 0));
        QCOMPARE(dlg.twipsGeometry(dlg.lblLabel(0)), QRect(180, 480, 1635, 255));
        QCOMPARE(dlg.twipsGeometry(dlg.txtText(0)), QRect(2100, 420, 5265, 315));
        QCOMPARE(dlg.clientHeightTwips(), 1660);
        QCOMPARE(dlg.height(), 1660 / 5);
        QCOMPARE(dlg.width(), 7590 / 5);
        QCOMPARE(dlg.txtText(0)->y(), 420 / 5);
        QCOMPARE(dlg.picBottom()->geometry(), QRect(0, (1660 - 735) / 5, 7590 / 5, 735 / 5));
        QCOMPARE(dlg.lblLabel(0)->text(), QStringLiteral("Encryption Key:"));
        QVERIFY(!dlg.lblLabel(0)->isHidden());
        QVERIFY(!dlg.txtText(0)->isHidden());
        QCOMPARE(dlg.rowCount(), 1);
    }

    // Each row's label sits 445 twips under the previous one; its control at the label's top.
    void rowGeometry_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("text") << 0;
        QTest::newRow("colour") << 1;
        QTest::newRow("combo") << 2;
        QTest::newRow("check") << 3;
        QTest::newRow("option") << 4;
    }

    void rowGeometry()
    {
        QFETCH(int, kind);
        frmDialog dlg;
        QVERIFY(dlg.AddControl(QStringLiteral("first"), QString(), 0));
        const QVariant value = kind == 1   ? QVariant(0x0000ff)
                               : kind >= 3 ? QVariant(true)
                                           : QVariant(QString("x"));
        QVERIFY(dlg.AddControl(QStringLiteral("second"), value, kind));
        QVERIFY(dlg.AddControl(QStringLiteral("third"), value, kind));
        QCOMPARE(dlg.twipsGeometry(dlg.lblLabel(1)).top(), 925);
        QCOMPARE(dlg.twipsGeometry(dlg.lblLabel(2)).top(), 1370);
        QWidget *control = nullptr;
        switch (kind) {
        case 0:
            control = dlg.txtText(2);
            break;
        case 1:
            control = dlg.cmdColor(2);
            break;
        case 2:
            control = dlg.cmbCombo(2);
            break;
        case 3:
            control = dlg.chkCheck(2);
            break;
        case 4:
            control = dlg.optOption(2);
            break;
        }
        QVERIFY(control);
        QCOMPARE(dlg.twipsGeometry(control).top(), 1370);
        QVERIFY(!control->isHidden());
        // The height follows the label, also when it stays hidden.
        QCOMPARE(dlg.clientHeightTwips(), 1370 + 255 + 190 + 735);
        QCOMPARE(dlg.lblLabel(2)->isHidden(), kind == 3 || kind == 4);
        // Elements of other kinds are not created for this row.
        if (kind != 0)
            QVERIFY(!dlg.txtText(2));
    }

    void firstRowKeepsTemplatePositions_data() { rowGeometry_data(); }
    void firstRowKeepsTemplatePositions()
    {
        QFETCH(int, kind);
        frmDialog dlg;
        QVERIFY(dlg.AddControl(QStringLiteral("only"), kind == 1 ? QVariant(0) : QVariant(false),
                               kind));
        const int expectedTop = (kind == 0 || kind == 1) ? 420 : 480;
        QWidget *controls[] = {dlg.txtText(0), dlg.cmdColor(0), dlg.cmbCombo(0), dlg.chkCheck(0),
                               dlg.optOption(0)};
        QCOMPARE(dlg.twipsGeometry(controls[kind]).top(), expectedTop);
        for (int k = 0; k < 5; ++k)
            QCOMPARE(controls[k]->isHidden(), k != kind);
        QCOMPARE(dlg.clientHeightTwips(), 1660);
    }

    void defaultsAreApplied()
    {
        frmDialog dlg;
        QVERIFY(dlg.AddControl(QStringLiteral("Text"), 42, 0));
        QVERIFY(dlg.AddControl(QStringLiteral("Colour"), 0x00336699, 1)); // 0x00BBGGRR
        QVERIFY(dlg.AddControl(QStringLiteral("List"), QVariant(), 2));
        QVERIFY(dlg.AddControl(QStringLiteral("Check me"), -1, 3));
        QVERIFY(dlg.AddControl(QStringLiteral("Pick me"), QStringLiteral("True"), 4));
        QVERIFY(dlg.AddControl(QStringLiteral("Not me"), 0, 3));
        QCOMPARE(dlg.txtText(0)->text(), QStringLiteral("42"));
        QCOMPARE(dlg.colorValue(1), QColor(0x99, 0x66, 0x33));
        QCOMPARE(dlg.colorValueBgr(1), quint32(0x00336699));
        QVERIFY(dlg.cmbCombo(2)->isVisible() || !dlg.cmbCombo(2)->isHidden());
        QCOMPARE(dlg.checkValue(3), 1);
        QCOMPARE(dlg.chkCheck(3)->text(), QStringLiteral("Check me"));
        QVERIFY(dlg.optOption(4)->isChecked());
        QCOMPARE(dlg.optOption(4)->text(), QStringLiteral("Pick me"));
        QCOMPARE(dlg.checkValue(5), 0);
        QCOMPARE(dlg.rowCount(), 6);
    }

    void typeMismatch_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<int>("kind");
        QTest::newRow("colour from words") << QVariant(QStringLiteral("red")) << 1;
        QTest::newRow("check from words") << QVariant(QStringLiteral("maybe")) << 3;
        QTest::newRow("option from words") << QVariant(QStringLiteral("yes please")) << 4;
        QTest::newRow("text from a list") << QVariant(QVariantList{1, 2}) << 0;
    }

    void typeMismatch()
    {
        QFETCH(QVariant, value);
        QFETCH(int, kind);
        frmDialog dlg;
        QVERIFY(dlg.AddControl(QStringLiteral("ok"), QString(), 0));
        const int height = dlg.clientHeightTwips();
        const Status status = dlg.AddControl(QStringLiteral("bad"), value, kind);
        QVERIFY(!status);
        QCOMPARE(status.error(), QStringLiteral("Type mismatch"));
        QCOMPARE(dlg.rowCount(), 1);
        QCOMPARE(dlg.clientHeightTwips(), height);
        QVERIFY(!dlg.lblLabel(1));
        // The next row still goes where the failed one would have.
        QVERIFY(dlg.AddControl(QStringLiteral("next"), true, 3));
        QCOMPARE(dlg.twipsGeometry(dlg.chkCheck(1)).top(), 925);
    }

    void okKeepsValuesAndCancelledFalse()
    {
        frmDialog dlg;
        QVERIFY(dlg.AddControl(QStringLiteral("Key:"), QString(), 0));
        QTimer::singleShot(0, &dlg, [&] {
            QTest::keyClicks(dlg.txtText(0), QStringLiteral("abc"));
            dlg.cmdOK()->click();
        });
        dlg.exec();
        QVERIFY(!dlg.Cancelled());
        QVERIFY(dlg.isHidden());
        QCOMPARE(dlg.txtText(0)->text(), QStringLiteral("abc"));
    }

    void enterIsOkEscIsCancel_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("cancelled");
        QTest::newRow("enter") << int(Qt::Key_Return) << false;
        QTest::newRow("keypad enter") << int(Qt::Key_Enter) << false;
        QTest::newRow("escape") << int(Qt::Key_Escape) << true;
    }

    void enterIsOkEscIsCancel()
    {
        QFETCH(int, key);
        QFETCH(bool, cancelled);
        frmDialog dlg;
        QVERIFY(dlg.AddControl(QStringLiteral("Key:"), QStringLiteral("typed"), 0));
        bool stillShownAfterKey = false;
        QTimer::singleShot(0, &dlg, [&] {
            dlg.txtText(0)->setFocus();
            QTest::keyClick(dlg.txtText(0), Qt::Key(key));
            stillShownAfterKey = dlg.isVisible();
            if (stillShownAfterKey)
                dlg.cmdOK()->click(); // do not hang when the key did nothing
        });
        dlg.exec();
        QVERIFY(!stillShownAfterKey);
        QCOMPARE(dlg.Cancelled(), cancelled);
        QCOMPARE(dlg.txtText(0)->text(), QStringLiteral("typed"));
    }

    void cancelAndCloseBox_data()
    {
        QTest::addColumn<bool>("closeBox");
        QTest::newRow("cancel button") << false;
        QTest::newRow("close box") << true;
    }

    void cancelAndCloseBox()
    {
        QFETCH(bool, closeBox);
        QPointer<frmDialog> dlg = new frmDialog;
        QVERIFY(dlg->AddControl(QStringLiteral("Key:"), QString(), 0));
        QTimer::singleShot(0, dlg, [&] {
            QTest::keyClicks(dlg->txtText(0), QStringLiteral("secret"));
            if (closeBox)
                dlg->close();
            else
                dlg->cmdCancel()->click();
        });
        dlg->exec();
        QVERIFY(dlg); // hidden, not unloaded
        QVERIFY(dlg->Cancelled());
        QVERIFY(dlg->isHidden());
        QCOMPARE(dlg->txtText(0)->text(), QStringLiteral("secret"));
        delete dlg;
    }

    void controlChangedNotWhileAdding()
    {
        frmDialog dlg;
        QSignalSpy changed(&dlg, &frmDialog::ControlChanged);
        QVERIFY(dlg.AddControl(QStringLiteral("a"), true, 3));
        QVERIFY(dlg.AddControl(QStringLiteral("b"), 0x112233, 1));
        QVERIFY(dlg.AddControl(QStringLiteral("c"), QVariant(), 2));
        QVERIFY(dlg.AddControl(QStringLiteral("d"), QStringLiteral("x"), 0));
        QVERIFY(dlg.AddControl(QStringLiteral("e"), false, 4));
        QCOMPARE(changed.count(), 0);
    }

    void controlChangedFromUserActions()
    {
        ScriptedPrompts prompts;
        frmDialog dlg;
        QVERIFY(dlg.AddControl(QStringLiteral("a"), false, 3));
        QVERIFY(dlg.AddControl(QStringLiteral("b"), 0x000000ff, 1));
        QVERIFY(dlg.AddControl(QStringLiteral("c"), QVariant(), 2));
        QVERIFY(dlg.AddControl(QStringLiteral("d"), QString(), 0));
        QVERIFY(dlg.AddControl(QStringLiteral("e"), false, 4));
        dlg.cmbCombo(2)->addItems({QStringLiteral("one"), QStringLiteral("two")});
        dlg.show();
        QSignalSpy changed(&dlg, &frmDialog::ControlChanged);

        dlg.chkCheck(0)->click();
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toInt(), 0);
        QCOMPARE(changed.at(0).at(1).value<QWidget *>(), dlg.chkCheck(0));
        QCOMPARE(dlg.checkValue(0), 1);

        prompts.answerColor(QColor(10, 20, 30));
        dlg.cmdColor(1)->click();
        QCOMPARE(changed.count(), 2);
        QCOMPARE(changed.at(1).at(0).toInt(), 1);
        QCOMPARE(dlg.colorValueBgr(1), quint32(0x001e140a));
        // The picker starts from the button's colour.
        QCOMPARE(prompts.asked(ScriptedPrompts::Kind::Color).size(), 1);

        // Closing the picker without a choice keeps the colour.
        dlg.cmdColor(1)->click();
        QCOMPARE(dlg.colorValue(1), QColor(10, 20, 30));

        const int before = changed.count();
        Q_EMIT dlg.cmbCombo(2)->activated(1);
        QCOMPARE(changed.count(), before + 1);
        QCOMPARE(changed.last().at(0).toInt(), 2);

        // Typing and clicking an option raise nothing.
        QTest::keyClicks(dlg.txtText(3), QStringLiteral("zz"));
        dlg.optOption(4)->click();
        QCOMPARE(changed.count(), before + 1);
    }

    void skinning()
    {
        frmDialog dlg;
        QCOMPARE(dlg.property("skinElement").toString(), QStringLiteral("smallform"));
        QCOMPARE(dlg.cmdOK()->property("skinElement").toString(), QStringLiteral("Button"));
        QCOMPARE(dlg.cmdCancel()->property("skinElement").toString(), QStringLiteral("Button"));
        QCOMPARE(dlg.lblLabel(0)->property("skinElement").toString(), QStringLiteral("Label"));

        QWidget other;
        auto *button = new QPushButton(&other);
        auto *label = new QLabel(&other);
        auto *check = new QCheckBox(&other);
        auto *radio = new QRadioButton(&other);
        auto *status = new QStatusBar(&other);
        auto *edit = new QLineEdit(&other);
        frmDialog::SkinForm(&other);
        QCOMPARE(button->property("skinElement").toString(), QStringLiteral("Button"));
        QCOMPARE(label->property("skinElement").toString(), QStringLiteral("label"));
        QCOMPARE(check->property("skinElement").toString(), QStringLiteral("CheckBox"));
        QCOMPARE(radio->property("skinElement").toString(), QStringLiteral("Radio"));
        QCOMPARE(status->property("skinElement").toString(), QStringLiteral("Statusbar"));
        QVERIFY(!edit->property("skinElement").isValid());
    }
};

QTEST_MAIN(FrmDialogTest)
#include "frmdialogtest.moc"
