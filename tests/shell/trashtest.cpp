#include "shell/trash.h"
#include "shell/fileoperations.h"

#include "components/nativefile.h"
#include "support/sandbox.h"
#include "support/scriptedprompts.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTest>
#include <QUrl>

#include <fcntl.h>
#include <unistd.h>

using namespace qmt;
using test::Sandbox;
using test::ScriptedPrompts;

namespace {

void writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(data);
}

// The fields of a .trashinfo file, checked against the format the file managers read.
struct TrashInfo {
    bool valid = false;
    QString path;
    QDateTime date;
};

TrashInfo readInfo(const QString &infoPath)
{
    TrashInfo info;
    QFile file(infoPath);
    if (!file.open(QIODevice::ReadOnly))
        return info;
    const QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.value(0) != "[Trash Info]")
        return info;
    for (const QByteArray &line : lines) {
        if (line.startsWith("Path="))
            info.path = QUrl::fromPercentEncoding(line.mid(5));
        else if (line.startsWith("DeletionDate="))
            info.date = QDateTime::fromString(QString::fromLatin1(line.mid(13)), Qt::ISODate);
    }
    info.valid = !info.path.isEmpty() && info.date.isValid();
    return info;
}

} // namespace

class TrashTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void homeTrashFollowsXdgDataHome()
    {
        Sandbox sandbox;
        QCOMPARE(Trash::homeTrash(), sandbox.file("data/Trash"));
        qunsetenv("XDG_DATA_HOME");
        QCOMPARE(Trash::homeTrash(), sandbox.file("home/.local/share/Trash"));
    }

    void trashedFilesCanBeFoundAndRestored()
    {
        Sandbox sandbox;
        const QString first = sandbox.file("pics/my holiday #1.jpg");
        const QString second = sandbox.file("other/my holiday #1.jpg");
        writeFile(first, "one");
        writeFile(second, "two");
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);

        const auto a = Trash::moveToTrash(first);
        const auto b = Trash::moveToTrash(second);
        QVERIFY2(a, qPrintable(a.error()));
        QVERIFY2(b, qPrintable(b.error()));
        QVERIFY(!QFileInfo::exists(first));
        QVERIFY(!QFileInfo::exists(second));
        const QString trash = sandbox.file("data/Trash");
        QCOMPARE(*a, trash + "/files/my holiday #1.jpg");
        QVERIFY(*b != *a); // same name, its own place
        QVERIFY(b->startsWith(trash + "/files/"));

        for (const auto &[trashed, original, data] : {std::tuple{*a, first, QByteArray("one")},
                                                      std::tuple{*b, second, QByteArray("two")}}) {
            QFile file(trashed);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), data);
            const TrashInfo info =
                readInfo(trash + "/info/" + QFileInfo(trashed).fileName() + ".trashinfo");
            QVERIFY(info.valid);
            QCOMPARE(info.path, original);
            QVERIFY(info.date >= before && info.date <= QDateTime::currentDateTime().addSecs(1));
        }
        // The raw line is percent-encoded: spaces and "#" may not appear as they are.
        QFile raw(trash + "/info/my holiday #1.jpg.trashinfo");
        QVERIFY(raw.open(QIODevice::ReadOnly));
        QVERIFY(raw.readAll().contains("Path=" + QUrl::toPercentEncoding(first, "/")));
    }

    // A name that is not valid UTF-8 goes to the trash by its bytes, recorded as they are.
    void undecodableNameGoesToTheTrash()
    {
        Sandbox sandbox;
        const QByteArray native = QFile::encodeName(sandbox.makeDir("pics")) + "/caf\xe9.jpg";
        const int fd = ::open(native.constData(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "latin", 5), ssize_t(5));
        ::close(fd);

        const auto trashed = Trash::moveToTrash(pathFromNative(native));
        QVERIFY2(trashed, qPrintable(trashed.error()));
        QVERIFY(!statPath(pathFromNative(native), false).exists());
        const QString trash = sandbox.file("data/Trash");
        QCOMPARE(nativePath(*trashed), QFile::encodeName(trash) + "/files/caf\xe9.jpg");
        QFile raw;
        QVERIFY(openRegularFile(
            raw, pathFromNative(QFile::encodeName(trash) + "/info/caf\xe9.jpg.trashinfo")));
        QVERIFY(raw.readAll().contains("Path=" + native.toPercentEncoding("/") + "\n"));
    }

    void deleteAsksFirst_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("trashed");
        QTest::newRow("yes") << int(PromptAnswer::Yes) << true;
        QTest::newRow("no") << int(PromptAnswer::No) << false;
        QTest::newRow("unanswered") << -1 << false;
    }

    void deleteAsksFirst()
    {
        QFETCH(int, answer);
        QFETCH(bool, trashed);
        Sandbox sandbox;
        ScriptedPrompts prompts;
        if (answer >= 0)
            prompts.answerMessage(PromptAnswer(answer));
        const QString path = sandbox.file("pics/a.jpg");
        writeFile(path, "A");
        FileOperations ops;
        const auto result = ops.remove({path}, false);
        QCOMPARE(prompts.asked().size(), 1);
        QVERIFY(prompts.asked().first().text.contains("trash"));
        QVERIFY(prompts.asked().first().text.contains("a.jpg"));
        QCOMPARE(prompts.asked().first().buttons, PromptButtons::YesNo);
        QCOMPARE(QFileInfo::exists(path), !trashed);
        QCOMPARE(QFileInfo::exists(sandbox.file("data/Trash/files/a.jpg")), trashed);
        QCOMPARE(result.removed, trashed ? QStringList{path} : QStringList{});
        QCOMPARE(result.cancelled, !trashed);
    }

    // A trash that cannot be used: the user chooses between deleting for good, keeping the
    // file, and stopping.
    void trashUnavailable_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("firstGone");
        QTest::addColumn<bool>("secondAsked");
        QTest::newRow("delete permanently") << int(PromptAnswer::Yes) << true << true;
        QTest::newRow("keep") << int(PromptAnswer::No) << false << true;
        QTest::newRow("stop") << int(PromptAnswer::Cancel) << false << false;
    }

    void trashUnavailable()
    {
        QFETCH(int, answer);
        QFETCH(bool, firstGone);
        QFETCH(bool, secondAsked);
        Sandbox sandbox;
        writeFile(sandbox.file("data/Trash"), "not a folder");
        ScriptedPrompts prompts;
        prompts.answerMessage(PromptAnswer::Yes); // the first question: to the trash?
        prompts.answerMessage(PromptAnswer(answer));
        prompts.answerMessage(PromptAnswer::No);
        const QString a = sandbox.file("pics/a.jpg");
        const QString b = sandbox.file("pics/b.jpg");
        writeFile(a, "A");
        writeFile(b, "B");
        QVERIFY(Trash::trashFor(a).isEmpty());
        QVERIFY(!Trash::moveToTrash(a));
        FileOperations ops;
        const auto result = ops.remove({a, b}, false);
        QCOMPARE(QFileInfo::exists(a), !firstGone);
        QVERIFY(QFileInfo::exists(b));
        QCOMPARE(prompts.asked().size(), secondAsked ? 3 : 2);
        QCOMPARE(prompts.asked().at(1).buttons, PromptButtons::YesNoCancel);
        QVERIFY(prompts.asked().at(1).text.contains("permanently"));
        QCOMPARE(result.cancelled, answer == int(PromptAnswer::Cancel));
    }
};

QTEST_MAIN(TrashTest)
#include "trashtest.moc"
