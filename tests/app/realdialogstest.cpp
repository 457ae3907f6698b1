// The viewer's and the browser's commands answered through the real Qt dialogs a person sees:
// the file dialog, the print dialog, the input box and the message box. What is clicked and
// typed there must reach the command unchanged.
#include "app/qtprompts.h"
#include "components/engine/imagedocument.h"
#include "components/engine/imageio.h"
#include "components/engine/imageview.h"
#include "explorer/imageexplore.h"
#include "shell/cregister.h"
#include "support/modaldriver.h"
#include "support/sandbox.h"
#include "viewer/frmviwer.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QRadioButton>
#include <QTest>
#include <QtEndian>

#include <cmath>
#include <memory>

using namespace qmt;
using qmt::test::ModalDriver;

namespace {

// The format a file holds, told by its bytes alone; formats with a weak signature come last.
QString formatByHeader(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("missing");
    const QByteArray data = file.readAll();
    auto starts = [&](const char *magic, int size) {
        return data.startsWith(QByteArray(magic, size));
    };
    if (starts("\xFF\xD8\xFF", 3))
        return "jpg";
    if (starts("\x89PNG", 4))
        return "png";
    if (starts("8BPS", 4))
        return "psd";
    if (starts("II*\0", 4) || starts("MM\0*", 4))
        return "tif";
    if (starts("BM", 2))
        return "bmp";
    if (starts("\xD7\xCD\xC6\x9A", 4))
        return "wmf";
    if (data.size() > 44 && qFromLittleEndian<quint32>(data.constData()) == 1 &&
        data.mid(40, 4) == " EMF")
        return "emf";
    if (data.size() > 128 && data.at(0) == 0x0A && data.at(2) == 1)
        return "pcx";
    if (data.endsWith(QByteArray("TRUEVISION-XFILE.\0", 18)))
        return "tga";
    if (starts("\0\0", 2))
        return "wbmp";
    return QStringLiteral("unknown");
}

QImage redPicture(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(QColor(220, 0, 0));
    return image;
}

} // namespace

class RealDialogsTest : public QObject
{
    Q_OBJECT

private:
    QtPrompts m_realPrompts;
    std::unique_ptr<test::Sandbox> m_sandbox;

    frmViwer *show(const QString &path)
    {
        CRegister().REGSaveSetting(kSettingsRoot, QString(kSettingsSection), "FullScreen", "0");
        frmViwer *window = frmViwer::instance();
        window->ImgX()->setZoomFactor(1.0);
        window->ViewImage({path}, 0);
        return window;
    }

    QString picture(const QString &name, int formatCode = FormatPng, QSize size = QSize(30, 20))
    {
        const QString path = m_sandbox->file(name);
        if (formatCode == FormatGif) { // Qt writes no GIF: a red pixel, byte by byte
            static const char gif[] = "GIF89a\x01\0\x01\0\x80\0\0\xFF\0\0\0\0\0,\0\0\0\0"
                                      "\x01\0\x01\0\0\x02\x02\x44\x01\0;";
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) ||
                file.write(gif, sizeof gif - 1) != sizeof gif - 1)
                qFatal("cannot write %s", qPrintable(path));
            return path;
        }
        if (!writeImageFile({redPicture(size.width(), size.height())}, path, formatCode))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    void trigger(QObject *owner, const char *name)
    {
        QAction *action = owner->findChild<QAction *>(QString::fromLatin1(name));
        QVERIFY2(action, name);
        action->trigger();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        setPrompts(&m_realPrompts);
    }
    void cleanupTestCase() { setPrompts(nullptr); }
    void init() { m_sandbox = std::make_unique<test::Sandbox>(); }
    void cleanup()
    {
        frmViwer::unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_sandbox.reset();
    }

    // Each "Files of type" entry writes its own format, read back by the file's bytes.
    void saveAsWritesTheChosenType_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("format");
        const char *formats[] = {"jpg", "png",  "psd", "tif", "pcx",
                                 "tga", "wbmp", "bmp", "wmf", "emf"};
        for (int row = 0; row < 10; ++row)
            QTest::newRow(formats[row]) << row << QString::fromLatin1(formats[row]);
    }
    void saveAsWritesTheChosenType()
    {
        QFETCH(int, row);
        QFETCH(QString, format);
        frmViwer *window = show(picture(QStringLiteral("source.png")));
        const QString target = m_sandbox->file(QStringLiteral("out.") + format);
        ModalDriver driver;
        // The dialog opens in the picture's folder: the name alone is typed.
        driver.then<QFileDialog>([&](QFileDialog *dialog) {
            test::fillFileDialog(dialog, QFileInfo(target).fileName(), row);
        });
        window->SaveAs();
        QVERIFY2(driver.finished(), qPrintable(driver.failures().join('\n')));
        QCOMPARE(formatByHeader(target), format);
        Result<DecodedImage> back = readImageFile(target);
        QVERIFY2(back, qPrintable(back.error()));
        QCOMPARE(back->pages.first().size(), QSize(30, 20));
    }

    // The dialog opens on the shown picture's own type; a type it cannot write keeps the last.
    void saveAsOpensOnThePicturesType()
    {
        struct Shown {
            const char *name;
            int formatCode;
            int row;
        };
        const Shown rows[] = {{"a.psd", FormatPsd, 2},
                              {"b.emf", FormatEmf, 9},
                              {"c.png", FormatPng, 1},
                              {"d.gif", FormatGif, 1}};
        for (const Shown &shown : rows) {
            frmViwer *window = show(picture(QString::fromLatin1(shown.name), shown.formatCode));
            int openedOn = -1;
            QString suffix;
            ModalDriver driver;
            driver.then<QFileDialog>([&](QFileDialog *dialog) {
                openedOn =
                    dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"))->currentIndex();
                suffix = dialog->defaultSuffix();
                dialog->reject();
            });
            window->SaveAs();
            QVERIFY2(driver.finished(), qPrintable(driver.failures().join('\n')));
            QCOMPARE(openedOn, shown.row);
            QCOMPARE(suffix, QStringList({"jpg", "png", "psd", "tif", "pcx", "tga", "wbmp", "bmp",
                                          "wmf", "emf"})
                                 .at(shown.row));
        }
    }

    // Replacing a file is asked by the dialog itself; Yes writes the chosen type over it.
    void saveAsOverAnExistingFile()
    {
        frmViwer *window = show(picture(QStringLiteral("source.png")));
        const QString target = m_sandbox->file(QStringLiteral("there.tif"));
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        old.close();
        ModalDriver driver;
        driver.then<QFileDialog>([](QFileDialog *dialog) {
            test::fillFileDialog(dialog, QStringLiteral("there.tif"), 3);
        });
        driver.then<QMessageBox>(
            [](QMessageBox *box) { test::clickButton(box, QStringLiteral("Yes")); });
        window->SaveAs();
        QVERIFY2(driver.finished(), qPrintable(driver.failures().join('\n')));
        QCOMPARE(formatByHeader(target), QStringLiteral("tif"));
    }

    // "Selection" in the real print dialog prints the shown picture centred at its own size, even
    // when the fit-to-page placement was chosen.
    void printingTheSelectionIntoAPdf()
    {
        frmViwer *window = show(picture(QStringLiteral("wide.png"), FormatPng, QSize(192, 96)));
        const QString pdf = m_sandbox->file(QStringLiteral("out.pdf"));
        QPrinter &printer = window->printer();
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        printer.setPageSize(QPageSize(QPageSize::A4));
        printer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter);
        ModalDriver driver;
        driver.then<QPrintDialog>([](QPrintDialog *dialog) {
            test::clickButton(dialog, QStringLiteral("Options >>"));
            // Both ranges are offered for a picture of one page.
            for (const char *name : {"printRange", "printSelection"}) {
                auto *option = dialog->findChild<QRadioButton *>(QString::fromLatin1(name));
                QVERIFY2(option && option->isVisibleTo(dialog) && option->isEnabled(), name);
            }
            dialog->findChild<QRadioButton *>(QStringLiteral("printSelection"))->click();
            test::clickButton(dialog, QStringLiteral("Print"));
        });
        window->PrintImage(2);
        QVERIFY2(driver.finished(), qPrintable(driver.failures().join('\n')));

        QProcess render;
        render.start("pdftoppm", {"-r", "25", "-f", "1", "-l", "1", "-png", "-singlefile", pdf,
                                  m_sandbox->file(QStringLiteral("sheet"))});
        QVERIFY(render.waitForFinished(20000));
        const QImage sheet(m_sandbox->file(QStringLiteral("sheet.png")));
        QVERIFY(!sheet.isNull());
        QRect red;
        for (int y = 0; y < sheet.height(); ++y)
            for (int x = 0; x < sheet.width(); ++x) {
                const QColor c = sheet.pixelColor(x, y);
                if (c.red() > 150 && c.green() < 100 && c.blue() < 100)
                    red |= QRect(x, y, 1, 1);
            }
        // 192 x 96 pixels at 96 DPI are 2 x 1 inches: 50 x 25 pixels at 25 DPI, in the middle of
        // the printable area of A4 less 20 mm margins.
        const double mm = 25 / 25.4;
        auto near = [](double a, double b) { return std::fabs(a - b) <= 2.5; };
        QVERIFY2(near(red.width(), 50) && near(red.height(), 25),
                 qPrintable(QStringLiteral("%1x%2").arg(red.width()).arg(red.height())));
        QVERIFY(near(red.center().x(), (20 + 170 / 2.0) * mm));
        QVERIFY(near(red.center().y(), (20 + 257 / 2.0) * mm));
    }

    // A blank name is refused with the message an empty one gets, in the viewer and the browser.
    void renameRefusesBlankNames_data()
    {
        QTest::addColumn<bool>("inBrowser");
        QTest::addColumn<QString>("typed");
        QTest::newRow("viewer, spaces") << false << "   ";
        QTest::newRow("viewer, empty") << false << "";
        QTest::newRow("browser, spaces") << true << "  ";
        QTest::newRow("browser, empty") << true << "";
    }
    void renameRefusesBlankNames()
    {
        QFETCH(bool, inBrowser);
        QFETCH(QString, typed);
        const QString folder = m_sandbox->makeDir(QStringLiteral("pics"));
        const QString path = folder + QStringLiteral("/a.png");
        QVERIFY(redPicture(8, 8).save(path));
        QString told;
        ModalDriver driver;
        driver.then<QInputDialog>([&](QInputDialog *box) { test::fillInputDialog(box, typed); });
        driver.then<QMessageBox>([&](QMessageBox *box) {
            told = box->text();
            test::clickButton(box, QStringLiteral("OK"));
        });
        std::unique_ptr<ImageExplore> explorer;
        if (inBrowser) {
            explorer = std::make_unique<ImageExplore>();
            explorer->SetExt(QStringLiteral("PNG"));
            explorer->show();
            QVERIFY(QTest::qWaitForWindowExposed(explorer.get()));
            explorer->ExplorePath(folder);
            explorer->SetSelectedFocus(path);
            trigger(explorer->contextMenu(), "mnuRename");
        } else {
            trigger(show(path), "mnuRename");
        }
        QVERIFY2(driver.finished(), qPrintable(driver.failures().join('\n')));
        QCOMPARE(told, QStringLiteral("A file name cannot be empty."));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"a.png"});
    }
};

QTEST_MAIN(RealDialogsTest)
#include "realdialogstest.moc"
