#pragma once

#include <QTreeView>

namespace qmt {

class FolderTreeModel;

// The main window's folder tree. Its events, as the window answers them:
//   event 9  - the user clicked a folder;
//   event 12 - the user moved to a folder with the keys;
//   event 20 - the user chose the node the keys are on with Enter (opening or closing a node
//              with its arrow or the keys raises nothing);
//   event 24 - the tree is ready (raised once, after it is first shown).
// Moving the selection from the program (setSelectedPath) raises none of them.
class FolderTree : public QTreeView
{
    Q_OBJECT

public:
    explicit FolderTree(QWidget *parent = nullptr);

    // The selected folder with a trailing "/" ("/" for the file system root), "" when none.
    QString SelectedPath() const;
    // Selects the node of an existing folder, opening the nodes above it. False when the folder
    // does not exist.
    bool setSelectedPath(const QString &path);

    FolderTreeModel *folderModel() const { return m_model; }

Q_SIGNALS:
    void event9();
    void event12(const QModelIndex &node);
    void event20(const QModelIndex &node);
    void event24();

protected:
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    FolderTreeModel *m_model;
    bool m_quiet = false;
    bool m_byMouse = false;
    bool m_readyRaised = false;
};

} // namespace qmt
