#include "explorer/explorermodel.h"

namespace qmt {

ExplorerModel::ExplorerModel(QObject *parent) : QAbstractListModel(parent) {}

int ExplorerModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant ExplorerModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_items.size())
        return {};
    const Item &item = m_items.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return item.text;
    case Qt::DecorationRole:
        return m_pictures.value(item.iconKey);
    case Qt::ToolTipRole:
        return item.toolTip.isEmpty() ? QVariant() : QVariant(item.toolTip);
    case TagRole:
        return item.tag;
    case IconKeyRole:
        return item.iconKey;
    default:
        return {};
    }
}

void ExplorerModel::resetPlaceholders(int count)
{
    beginResetModel();
    m_items.clear();
    m_items.resize(qMax(0, count), Item{QString(), QString(), QStringLiteral("A"), QString()});
    endResetModel();
}

void ExplorerModel::setItem(int row, const Item &item)
{
    if (row < 0 || row >= m_items.size())
        return;
    m_items[row] = item;
    const QModelIndex at = index(row);
    Q_EMIT dataChanged(at, at);
}

void ExplorerModel::removeItem(int row)
{
    if (row < 0 || row >= m_items.size())
        return;
    beginRemoveRows(QModelIndex(), row, row);
    m_items.removeAt(row);
    endRemoveRows();
}

} // namespace qmt
