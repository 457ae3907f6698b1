#include "app/foldertreemodel.h"

#include "app/startup.h"
#include "shell/modmain.h"

#include <QDir>
#include <QDirIterator>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

namespace qmt {

struct FolderTreeModel::Node {
    QString path; // no trailing "/", except the file system root
    QString label;
    // The icon theme's name for the node's icon; empty for a plain folder. Icons are looked up
    // when the tree is first drawn: the theme lookup is slow, and a program started on a picture
    // never shows the tree.
    QString iconName;
    bool drive = false;
    mutable QIcon icon;
    Node *parent = nullptr;
    std::vector<std::unique_ptr<Node>> children;
    bool fetched = false;
    int row = 0;
};

namespace {

QString childPath(const QString &folder, const QString &name)
{
    return folder == QLatin1String("/") ? folder + name : folder + QLatin1Char('/') + name;
}

QStringList visibleSubFolders(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Readable);
    names.removeIf([](const QString &n) { return n.startsWith(QLatin1Char('.')); });
    std::sort(names.begin(), names.end(), nameLess);
    return names;
}

bool hasVisibleSubFolder(const QString &folder)
{
    QDirIterator it(folder, QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        if (!it.fileName().startsWith(QLatin1Char('.')))
            return true;
    }
    return false;
}

bool isUserDrive(const QStorageInfo &volume)
{
    if (!volume.isValid() || !volume.isReady() || volume.isRoot())
        return false;
    const QString root = volume.rootPath();
    const QByteArray type = volume.fileSystemType();
    static const QList<QByteArray> pseudo = {"tmpfs",    "devtmpfs",    "proc",    "sysfs",
                                             "squashfs", "overlay",     "cgroup",  "cgroup2",
                                             "autofs",   "fuse.portal", "efivarfs"};
    if (pseudo.contains(type))
        return false;
    return root.startsWith(QLatin1String("/media/")) || root.startsWith(QLatin1String("/mnt/")) ||
           root.startsWith(QLatin1String("/run/media/"));
}

} // namespace

FolderTreeModel::FolderTreeModel(QObject *parent) : QAbstractItemModel(parent)
{
    auto addRoot = [this](const QString &path, const QString &label, const QString &iconName,
                          bool drive) {
        auto node = std::make_unique<Node>();
        node->path = path;
        node->label = label;
        node->iconName = iconName;
        node->drive = drive;
        node->row = int(m_roots.size());
        m_roots.push_back(std::move(node));
    };
    QString desktop = GetSpecialFolder(CsidlDesktop);
    if (!desktop.isEmpty()) {
        desktop.chop(1);
        addRoot(desktop, QStringLiteral("Desktop"), QStringLiteral("user-desktop"), false);
    }
    addRoot(QDir::cleanPath(QDir::homePath()), QStringLiteral("Home"), QStringLiteral("user-home"),
            false);
    addRoot(QStringLiteral("/"), QStringLiteral("File System"), QStringLiteral("drive-harddisk"),
            true);
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        if (!isUserDrive(volume))
            continue;
        const QString name = volume.displayName().isEmpty()
                                 ? QFileInfo(volume.rootPath()).fileName()
                                 : volume.displayName();
        addRoot(QDir::cleanPath(volume.rootPath()), name, QStringLiteral("drive-removable-media"),
                true);
    }
}

QIcon FolderTreeModel::iconOf(const Node &node)
{
    if (!node.icon.isNull())
        return node.icon;
    static const QFileIconProvider icons;
    const QIcon fallback =
        icons.icon(node.drive ? QFileIconProvider::Drive : QFileIconProvider::Folder);
    node.icon = node.iconName.isEmpty() ? fallback : QIcon::fromTheme(node.iconName, fallback);
    return node.icon;
}

FolderTreeModel::~FolderTreeModel() = default;

FolderTreeModel::Node *FolderTreeModel::nodeOf(const QModelIndex &index) const
{
    return index.isValid() ? static_cast<Node *>(index.internalPointer()) : nullptr;
}

QModelIndex FolderTreeModel::indexOf(Node *node) const
{
    return node ? createIndex(node->row, 0, node) : QModelIndex();
}

QModelIndex FolderTreeModel::index(int row, int column, const QModelIndex &parent) const
{
    if (column != 0 || row < 0)
        return {};
    Node *p = nodeOf(parent);
    const auto &list = p ? p->children : m_roots;
    if (row >= int(list.size()))
        return {};
    return createIndex(row, 0, list[size_t(row)].get());
}

QModelIndex FolderTreeModel::parent(const QModelIndex &child) const
{
    Node *node = nodeOf(child);
    return node ? indexOf(node->parent) : QModelIndex();
}

int FolderTreeModel::rowCount(const QModelIndex &parent) const
{
    if (parent.column() > 0)
        return 0;
    Node *p = nodeOf(parent);
    return int(p ? p->children.size() : m_roots.size());
}

int FolderTreeModel::columnCount(const QModelIndex &) const
{
    return 1;
}

QVariant FolderTreeModel::data(const QModelIndex &index, int role) const
{
    Node *node = nodeOf(index);
    if (!node)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return node->label;
    case Qt::DecorationRole:
        return iconOf(*node);
    case Qt::ToolTipRole:
        return node->path;
    default:
        return {};
    }
}

bool FolderTreeModel::hasChildren(const QModelIndex &parent) const
{
    Node *p = nodeOf(parent);
    if (!p)
        return !m_roots.empty();
    if (p->fetched)
        return !p->children.empty();
    return hasVisibleSubFolder(p->path);
}

bool FolderTreeModel::canFetchMore(const QModelIndex &parent) const
{
    Node *p = nodeOf(parent);
    return p && !p->fetched;
}

void FolderTreeModel::fetchMore(const QModelIndex &parent)
{
    Node *p = nodeOf(parent);
    if (p && !p->fetched)
        fill(p);
}

void FolderTreeModel::fill(Node *node)
{
    node->fetched = true;
    const QStringList names = visibleSubFolders(node->path);
    if (names.isEmpty())
        return;
    beginInsertRows(indexOf(node), 0, int(names.size()) - 1);
    for (const QString &name : names) {
        auto child = std::make_unique<Node>();
        child->path = childPath(node->path, name);
        child->label = name;
        child->parent = node;
        child->row = int(node->children.size());
        node->children.push_back(std::move(child));
    }
    endInsertRows();
}

QString FolderTreeModel::pathOf(const QModelIndex &index) const
{
    Node *node = nodeOf(index);
    return node ? node->path : QString();
}

QStringList FolderTreeModel::rootPaths() const
{
    QStringList paths;
    for (const auto &root : m_roots)
        paths.append(root->path);
    return paths;
}

QModelIndex FolderTreeModel::indexForPath(const QString &path)
{
    const QString wanted = QDir::cleanPath(path);
    if (wanted.isEmpty() || !QFileInfo(wanted).isDir())
        return {};
    // The root nearest to the folder carries it (the desktop folder lies inside home).
    Node *root = nullptr;
    for (const auto &candidate : m_roots) {
        const QString &r = candidate->path;
        const bool inside =
            wanted == r || r == QLatin1String("/") || wanted.startsWith(r + QLatin1Char('/'));
        if (inside && (!root || r.size() > root->path.size()))
            root = candidate.get();
    }
    if (!root)
        return {};
    Node *node = root;
    const QString rest = wanted.mid(root->path == QLatin1String("/") ? 1 : root->path.size());
    for (const QString &name : rest.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (!node->fetched)
            fill(node);
        auto found = std::find_if(node->children.begin(), node->children.end(),
                                  [&](const auto &c) { return c->label == name; });
        if (found == node->children.end()) {
            // A hidden folder asked for by path gets its node in name order.
            const QString full = childPath(node->path, name);
            if (!QFileInfo(full).isDir())
                return {};
            auto place = std::find_if(node->children.begin(), node->children.end(),
                                      [&](const auto &c) { return nameLess(name, c->label); });
            const int row = int(place - node->children.begin());
            beginInsertRows(indexOf(node), row, row);
            auto child = std::make_unique<Node>();
            child->path = full;
            child->label = name;
            child->parent = node;
            found = node->children.insert(place, std::move(child));
            for (size_t i = size_t(row); i < node->children.size(); ++i)
                node->children[i]->row = int(i);
            endInsertRows();
        }
        node = found->get();
    }
    return indexOf(node);
}

} // namespace qmt
