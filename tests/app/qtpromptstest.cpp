// The real dialogs behind the prompts: what a person clicks must come back as the answer the
// program acts on.
#include "app/qtprompts.h"
#include "support/modaldriver.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QTemporaryDir>
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

    // What dialogs give back as the chosen filter is not the text they were given.
    void chosenFilter_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<int>("position");
        QTest::newRow("as given") << "Photoshop  <PSD> (*.psd)" << 2;
        QTest::newRow("spaces collapsed") << "Photoshop <PSD> (*.psd)" << 2;
        QTest::newRow("patterns only") << "*.tga" << 3;
        QTest::newRow("patterns in another order and case") << "(*.JPEG *.jpg)" << 1;
        QTest::newRow("description only") << "Truevision  Targa" << 3;
        QTest::newRow("unknown") << "Graphics Interchange Format (*.gif)" << 0;
        QTest::newRow("nothing") << "" << 0;
    }
    void chosenFilter()
    {
        QFETCH(QString, chosen);
        const QStringList offered{"Joint Photographic Experts Group  <JPG> (*.jpg *.jpeg)",
                                  "Photoshop  <PSD> (*.psd)", "Truevision Targa (*.tga)"};
        QTEST(chosenFilterPosition(offered, chosen), "position");
    }

    // The real file dialog opens on the requested type and hands back the one the person picked,
    // by its position, though Qt tidies the filters' text.
    void saveDialogFilterThereAndBack_data()
    {
        QTest::addColumn<int>("preselected");
        QTest::addColumn<int>("picked"); // 0-based row of "Files of type"; -1 leaves it
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("file");
        QTest::newRow("left as opened") << 3 << -1 << "a.tga" << 3 << "a.tga";
        QTest::newRow("picked first") << 3 << 0 << "a.jpg" << 1 << "a.jpg";
        QTest::newRow("picked last") << 1 << 2 << "a.tga" << 3 << "a.tga";
        QTest::newRow("bare name takes the picked type") << 1 << 1 << "b" << 2 << "b.psd";
        QTest::newRow("typed extension is kept") << 2 << 0 << "c.tga" << 1 << "c.tga";
    }
    void saveDialogFilterThereAndBack()
    {
        QFETCH(int, preselected);
        QFETCH(int, picked);
        QFETCH(QString, name);
        QTemporaryDir dir;
        FileDialogRequest request;
        request.directory = dir.path();
        request.filters =
            QStringList{"Joint Photographic Experts Group  <JPG> (*.jpg)",
                        "Photoshop  <PSD> (*.psd)", "Truevision  Targa  <TGA> (*.tga)"};
        request.filterIndex = preselected;
        request.defaultSuffix = QStringLiteral("psd");
        int openedOn = -1;
        ModalDriver driver;
        driver.then<QFileDialog>([&](QFileDialog *dialog) {
            openedOn =
                dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"))->currentIndex();
            test::fillFileDialog(dialog, name, picked);
        });
        QtPrompts real;
        AbstractPrompts &prompts = real;
        const std::optional<FileDialogResult> chosen = prompts.saveFile(request);
        QVERIFY2(driver.finished(), qPrintable(driver.failures().join('\n')));
        QCOMPARE(openedOn, preselected - 1);
        QVERIFY(chosen.has_value());
        QTEST(chosen->filterIndex, "position");
        QFETCH(QString, file);
        QCOMPARE(chosen->files, QStringList{dir.filePath(file)});
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
