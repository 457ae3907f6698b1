#include "app/foldertree.h"
#include "app/foldertreemodel.h"
#include "support/sandbox.h"

#include <QDir>
#include <QIcon>
#include <QSignalSpy>
#include <QTest>

using namespace qmt;

class FolderTreeTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<test::Sandbox> m_sandbox;
    QString m_home;

    QStringList childLabels(FolderTreeModel *model, const QModelIndex &parent)
    {
        if (model->canFetchMore(parent))
            model->fetchMore(parent);
        QStringList labels;
        for (int row = 0; row < model->rowCount(parent); ++row)
            labels.append(model->index(row, 0, parent).data().toString());
        return labels;
    }

private Q_SLOTS:
    void init()
    {
        m_sandbox = std::make_unique<test::Sandbox>();
        m_home = m_sandbox->file(QStringLiteral("home"));
        for (const char *name : {"img10", "Img2", "img1", "b", ".cache", "A"})
            QVERIFY(QDir().mkpath(m_home + QStringLiteral("/pics/") + QLatin1String(name)));
        QFile file(m_home + QStringLiteral("/pics/file.jpg"));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    void cleanup() { m_sandbox.reset(); }

    void roots()
    {
        {
            FolderTreeModel model;
            QCOMPARE(model.index(0, 0).data().toString(), QStringLiteral("Home"));
            QCOMPARE(model.rootPaths().mid(0, 2), (QStringList{m_home, "/"}));
        }
        QVERIFY(QDir().mkpath(m_home + QStringLiteral("/Desktop")));
        FolderTreeModel model;
        QCOMPARE(model.index(0, 0).data().toString(), QStringLiteral("Desktop"));
        QCOMPARE(model.rootPaths().mid(0, 3), (QStringList{m_home + "/Desktop", m_home, "/"}));
    }

    void everyNodeHasAnIconWhenDrawn()
    {
        FolderTreeModel model;
        for (int row = 0; row < model.rowCount(); ++row)
            QVERIFY(!model.index(row, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
        const QModelIndex pics = model.indexForPath(m_home + QStringLiteral("/pics"));
        QVERIFY(pics.isValid());
        model.fetchMore(pics);
        QVERIFY(model.rowCount(pics) > 0);
        for (int row = 0; row < model.rowCount(pics); ++row)
            QVERIFY(!model.index(row, 0, pics).data(Qt::DecorationRole).value<QIcon>().isNull());
    }

    void foldersOnlyVisibleInNameOrder()
    {
        FolderTreeModel model;
        const QModelIndex pics = model.indexForPath(m_home + QStringLiteral("/pics"));
        QVERIFY(pics.isValid());
        QCOMPARE(childLabels(&model, pics), (QStringList{"A", "b", "img1", "Img2", "img10"}));
        QVERIFY(model.hasChildren(pics));
        const QModelIndex leaf = model.indexForPath(m_home + QStringLiteral("/pics/A"));
        QVERIFY(!model.hasChildren(leaf));
    }

    void selectedPath()
    {
        FolderTree tree;
        QCOMPARE(tree.SelectedPath(), QString());
        QVERIFY(tree.setSelectedPath(m_home + QStringLiteral("/pics/img10/")));
        QCOMPARE(tree.SelectedPath(), m_home + QStringLiteral("/pics/img10/"));
        QVERIFY(tree.setSelectedPath(QStringLiteral("/")));
        QCOMPARE(tree.SelectedPath(), QStringLiteral("/"));
        // A hidden folder asked for by name gets its node; a missing one changes nothing.
        QVERIFY(tree.setSelectedPath(m_home + QStringLiteral("/pics/.cache")));
        QCOMPARE(tree.SelectedPath(), m_home + QStringLiteral("/pics/.cache/"));
        QVERIFY(!tree.setSelectedPath(m_home + QStringLiteral("/pics/none")));
        QVERIFY(!tree.setSelectedPath(m_home + QStringLiteral("/pics/file.jpg")));
        QCOMPARE(tree.SelectedPath(), m_home + QStringLiteral("/pics/.cache/"));
    }

    void events()
    {
        FolderTree tree;
        QSignalSpy e9(&tree, &FolderTree::event9);
        QSignalSpy e12(&tree, &FolderTree::event12);
        QSignalSpy e20(&tree, &FolderTree::event20);
        QSignalSpy e24(&tree, &FolderTree::event24);
        tree.resize(300, 400);

        // Moving the selection from the program raises nothing.
        QVERIFY(tree.setSelectedPath(m_home + QStringLiteral("/pics/A")));
        QCOMPARE(e9.count() + e12.count() + e20.count(), 0);

        // Ready once, after it is first shown.
        tree.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tree));
        QTRY_COMPARE(e24.count(), 1);
        tree.hide();
        tree.show();
        QTest::qWait(20);
        QCOMPARE(e24.count(), 1);

        // Keys: event 12.
        tree.setFocus();
        QTest::keyClick(&tree, Qt::Key_Down);
        QCOMPARE(e12.count(), 1);
        QCOMPARE(tree.SelectedPath(), m_home + QStringLiteral("/pics/b/"));
        QCOMPARE(e9.count(), 0);

        // A click: event 9, and no event 12 besides.
        const QModelIndex img1 =
            tree.folderModel()->indexForPath(m_home + QStringLiteral("/pics/img1"));
        const QRect rect = tree.visualRect(img1);
        QVERIFY(rect.isValid());
        QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, rect.center());
        QCOMPARE(e9.count(), 1);
        QCOMPARE(e12.count(), 1);
        QCOMPARE(tree.SelectedPath(), m_home + QStringLiteral("/pics/img1/"));

        // Opening or closing a node, with the mouse or the keys, chooses nothing.
        const QModelIndex pics = tree.folderModel()->indexForPath(m_home + QStringLiteral("/pics"));
        tree.collapse(pics);
        tree.expand(pics);
        tree.setCurrentIndex(pics);
        QTest::keyClick(&tree, Qt::Key_Left);
        QTest::keyClick(&tree, Qt::Key_Right);
        QVERIFY(tree.isExpanded(pics));
        const QRect branch = tree.visualRect(pics);
        QTest::mouseClick(tree.viewport(), Qt::LeftButton, {},
                          QPoint(branch.left() - tree.indentation() / 2, branch.center().y()));
        QCOMPARE(e20.count(), 0);

        // Enter chooses the node the keys are on: event 20.
        QTest::keyClick(&tree, Qt::Key_Return);
        QCOMPARE(e20.count(), 1);
        QCOMPARE(e20.first().first().toModelIndex(), pics);
    }
};

QTEST_MAIN(FolderTreeTest)
#include "foldertreetest.moc"
