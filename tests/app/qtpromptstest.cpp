// The real dialogs behind the prompts: what a person clicks must come back as the answer the
// program acts on.
#include "app/qtprompts.h"
#include "support/modaldriver.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTest>

using namespace qmt;
using qmt::test::ModalDriver;

class QtPromptsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs); }

    void messageButtons_data()
    {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<QString>("click");
        QTest::addColumn<int>("answer");
        QTest::newRow("ok") << int(PromptButtons::Ok) << "OK" << int(PromptAnswer::Ok);
        QTest::newRow("yes") << int(PromptButtons::YesNo) << "Yes" << int(PromptAnswer::Yes);
        QTest::newRow("no") << int(PromptButtons::YesNoCancel) << "No" << int(PromptAnswer::No);
        QTest::newRow("cancel") << int(PromptButtons::OkCancel) << "Cancel"
                                << int(PromptAnswer::Cancel);
    }
    void messageButtons()
    {
        QFETCH(int, buttons);
        QFETCH(QString, click);
        QFETCH(int, answer);
        ModalDriver driver;
        driver.then<QMessageBox>([&](QMessageBox *box) {
            QCOMPARE(box->text(), QStringLiteral("Go on?"));
            test::clickButton(box, click);
        });
        QtPrompts real;
        AbstractPrompts &prompts = real;
        const PromptAnswer got =
            prompts.message(QStringLiteral("Go on?"), PromptIcon::Question, PromptButtons(buttons));
        QVERIFY2(driver.finished(), qPrintable(driver.failures().join('\n')));
        QCOMPARE(int(got), answer);
    }

    void escapeGivesTheCautiousAnswer()
    {
        ModalDriver driver;
        driver.then<QMessageBox>([](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Escape); });
        QtPrompts real;
        AbstractPrompts &prompts = real;
        QCOMPARE(
            prompts.message(QStringLiteral("Delete?"), PromptIcon::Question, PromptButtons::YesNo),
            PromptAnswer::No);
        QVERIFY(driver.finished());
    }

    void replaceQuestion_data()
    {
        QTest::addColumn<QString>("click");
        QTest::addColumn<int>("answer");
        QTest::newRow("replace") << "Replace" << int(ReplaceAnswer::Replace);
        QTest::newRow("skip") << "Skip" << int(ReplaceAnswer::Skip);
        QTest::newRow("cancel") << "Cancel" << int(ReplaceAnswer::Cancel);
    }
    void replaceQuestion()
    {
        QFETCH(QString, click);
        QFETCH(int, answer);
        ModalDriver driver;
        driver.then<QMessageBox>([&](QMessageBox *box) {
            QVERIFY(box->text().contains(QStringLiteral("/dest/a.jpg")));
            test::clickButton(box, click);
        });
        QtPrompts real;
        AbstractPrompts &prompts = real;
        const ReplaceAnswer got =
            prompts.confirmReplace(QStringLiteral("/dest/a.jpg"), QStringLiteral("/src/a.jpg"));
        QVERIFY2(driver.finished(), qPrintable(driver.failures().join('\n')));
        QCOMPARE(int(got), answer);
    }

    // A dialog nobody answers is closed after the time-out and reported, not left waiting.
    void unansweredDialogFailsInsteadOfHanging()
    {
        ModalDriver driver(200);
        QtPrompts real;
        AbstractPrompts &prompts = real;
        QCOMPARE(prompts.message(QStringLiteral("Anyone?"), PromptIcon::None, PromptButtons::YesNo),
                 PromptAnswer::No);
        QCOMPARE(driver.failures().size(), 1);
        QVERIFY(driver.seen().first().startsWith(QStringLiteral("QMessageBox")));
    }
};

QTEST_MAIN(QtPromptsTest)
#include "qtpromptstest.moc"
