#pragma once

#include <QAbstractItemModel>
#include <QIcon>

#include <memory>
#include <vector>

namespace qmt {

// The folders of the machine under a few roots a Linux user knows: Desktop (when there is a
// desktop folder), Home, the file system root and mounted drives. Only folders are listed,
// hidden ones are not (unless asked for by path), in the browser's name order. Sub-folders are
// read when a node is first opened.
class FolderTreeModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    explicit FolderTreeModel(QObject *parent = nullptr);
    ~FolderTreeModel() override;

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool hasChildren(const QModelIndex &parent = {}) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

    // The folder of a node, without a trailing "/" ("/" for the root of the file system).
    QString pathOf(const QModelIndex &index) const;
    // The node of an existing folder, reading the folders on the way; an invalid index when the
    // folder does not exist.
    QModelIndex indexForPath(const QString &path);
    // The root nodes' folders, in order.
    QStringList rootPaths() const;

private:
    struct Node;
    Node *nodeOf(const QModelIndex &index) const;
    static QIcon iconOf(const Node &node);
    QModelIndex indexOf(Node *node) const;
    void fill(Node *node);

    std::vector<std::unique_ptr<Node>> m_roots;
};

} // namespace qmt
