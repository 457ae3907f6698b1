// Copy To and Move To onto a file of the same name, through the real windows a person meets:
// the destination dialog, the Replace/Skip/Cancel question and the progress window. The
// question must come alone (no progress window over it) and its answer must be what happens on
// disk, in the viewer (Ctrl+C, Ctrl+M) and on a thumbnail (its menu's Copy To and Move To).
#include "app/qtprompts.h"
#include "components/twips.h"
#include "dialogs/frmfile.h"
#include "explorer/explorermodel.h"
#include "explorer/imageexplore.h"
#include "support/modaldriver.h"
#include "support/sandbox.h"
#include "viewer/frmviwer.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>

#include <algorithm>

using namespace qmt;
using test::ModalDriver;

namespace {

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray pngBytes(QColor colour)
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    return bytes;
}

void writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(data), data.size());
}

bool progressWindowShown()
{
    const auto windows = QApplication::topLevelWidgets();
    return std::any_of(windows.begin(), windows.end(), [](QWidget *w) {
        return qobject_cast<QProgressDialog *>(w) && w->isVisible();
    });
}

// Notes every progress window that comes up while a question box is shown.
class OverlapWatch final : public QObject
{
public:
    OverlapWatch() { qApp->installEventFilter(this); }
    ~OverlapWatch() override { qApp->removeEventFilter(this); }
    bool overlapped = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && qobject_cast<QProgressDialog *>(watched)) {
            const auto windows = QApplication::topLevelWidgets();
            for (QWidget *w : windows)
                overlapped = overlapped || (qobject_cast<QMessageBox *>(w) && w->isVisible());
        }
        return false;
    }
};

} // namespace

class CopyMoveOntoExistingTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::Sandbox> m_sandbox;
    QtPrompts m_prompts;
    QString m_src, m_dst;
    const QByteArray m_new = pngBytes(Qt::red);
    const QByteArray m_old = pngBytes(Qt::blue);

    // The person's part: the destination, then the question, answered after a moment's thought
    // (long enough for a progress window to come up over it if one were waiting).
    void answer(ModalDriver &driver, const QString &title, const QString &click)
    {
        driver.then<frmFile>([this, title](frmFile *dialog) {
            QCOMPARE(dialog->windowTitle(), title);
            dialog->txtDestination()->setText(m_dst);
            QTest::mouseClick(dialog->cmdOk(), Qt::LeftButton);
        });
        driver.then<QMessageBox>([this, click](QMessageBox *box) {
            QVERIFY(box->text().contains(m_dst + "/a.png"));
            QTest::qWait(800);
            QVERIFY2(!progressWindowShown(), "a progress window covers the question");
            QVERIFY(QApplication::activeModalWidget() == box);
            test::clickButton(box, click);
        });
    }

    void checkDisk(bool move, const QString &click)
    {
        const bool replaced = click == "Replace";
        QCOMPARE(contents(m_dst + "/a.png"), replaced ? m_new : m_old);
        QCOMPARE(QFile::exists(m_src + "/a.png"), !(move && replaced));
        if (QFile::exists(m_src + "/a.png"))
            QCOMPARE(contents(m_src + "/a.png"), m_new);
        QCOMPARE(QDir(m_dst).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"a.png"});
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
        setPrompts(&m_prompts);
    }
    void cleanupTestCase() { setPrompts(nullptr); }

    void init()
    {
        m_sandbox = std::make_unique<test::Sandbox>();
        m_src = m_sandbox->makeDir("src");
        m_dst = m_sandbox->makeDir("dst");
        writeFile(m_src + "/a.png", m_new);
        writeFile(m_src + "/b.png", pngBytes(Qt::green));
        writeFile(m_dst + "/a.png", m_old);
        twips::setOverride(15, 15);
    }
    void cleanup()
    {
        frmViwer::unload();
        frmFile::unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        twips::clearOverride();
        m_sandbox.reset();
    }

    void answers_data()
    {
        QTest::addColumn<bool>("move");
        QTest::addColumn<QString>("click");
        for (const bool move : {false, true}) {
            for (const char *click : {"Replace", "Skip", "Cancel"})
                QTest::addRow("%s, %s", move ? "move" : "copy", click) << move << QString(click);
        }
    }

    void answers_inTheViewer_data() { answers_data(); }
    void answers_inTheViewer()
    {
        QFETCH(bool, move);
        QFETCH(QString, click);
        frmViwer *window = frmViwer::instance();
        window->ViewImage({m_src + "/a.png", m_src + "/b.png"}, 0);
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        OverlapWatch watch;
        ModalDriver driver;
        answer(driver, move ? "Move To" : "Copy To", click);
        QTest::keyClick(window, move ? Qt::Key_M : Qt::Key_C, Qt::ControlModifier);
        QTRY_VERIFY2(driver.finished(), qPrintable(driver.failures().join('\n')));
        QVERIFY(!watch.overlapped);
        checkDisk(move, click);
        // A moved picture leaves the viewer's list; otherwise the viewer stays on it.
        QCOMPARE(window->PathList().value(window->CurrentIndex()),
                 move && click == "Replace" ? m_src + "/b.png" : m_src + "/a.png");
    }

    void answers_onAThumbnail_data() { answers_data(); }
    void answers_onAThumbnail()
    {
        QFETCH(bool, move);
        QFETCH(QString, click);
        ImageExplore explorer;
        explorer.resize(900, 600);
        explorer.SetExt(QStringLiteral("PNG"));
        explorer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&explorer));
        explorer.ExplorePath(m_src);
        QListView *list = explorer.listView();
        const QRect item = list->visualRect(explorer.model()->index(0));
        QCOMPARE(explorer.model()->item(0).tag, m_src + "/a.png");

        OverlapWatch watch;
        ModalDriver driver;
        answer(driver, move ? "Move To" : "Copy To", click);
        // A right click on the thumbnail brings its menu; the person picks the command there.
        QTest::mouseClick(list->viewport(), Qt::RightButton, {}, item.center());
        QMenu *menu = explorer.contextMenu();
        QTRY_VERIFY(menu->isVisible());
        QAction *command = menu->actions().at(move ? 4 : 3);
        QCOMPARE(command->text(), move ? QStringLiteral("Move To") : QStringLiteral("Copy To"));
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(command).center());
        QTRY_VERIFY2(driver.finished(), qPrintable(driver.failures().join('\n')));
        QVERIFY(!watch.overlapped);
        checkDisk(move, click);
        const bool gone = move && click == "Replace";
        QCOMPARE(explorer.model()->rowCount(), gone ? 1 : 2);
    }
};

QTEST_MAIN(CopyMoveOntoExistingTest)
#include "copymoveontoexistingtest.moc"
