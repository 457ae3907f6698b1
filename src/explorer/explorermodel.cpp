#include "explorer/explorermodel.h"

#include <QPainter>

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
    const Item &item = this->item(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return item.text;
    case Qt::DecorationRole:
        return m_pictures.contains(item.iconKey) ? cellPicture(item.iconKey)
                                                 : cellPicture(QStringLiteral("A"));
    case PictureRole:
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

void ExplorerModel::clearPictures()
{
    m_pictures.clear();
    m_cells.clear();
    m_cellOrder.clear();
}

void ExplorerModel::setPicture(const QString &key, const QImage &picture)
{
    // Photos have no transparency: 3 bytes a pixel keep them whole. Pictures with an alpha
    // channel (the folder and the program's own icons) stay as they are; there are few.
    QImage compact = picture.hasAlphaChannel() || picture.format() == QImage::Format_RGB888
                         ? picture
                         : picture.convertToFormat(QImage::Format_RGB888);
    m_pictures.insert(key, std::move(compact));
    if (m_cells.remove(key))
        m_cellOrder.removeOne(key);
}

void ExplorerModel::dropPicture(const QString &key)
{
    m_pictures.remove(key);
    if (m_cells.remove(key))
        m_cellOrder.removeOne(key);
}

void ExplorerModel::refreshRow(int row)
{
    if (row < 0 || row >= m_items.size())
        return;
    const QModelIndex at = index(row);
    Q_EMIT dataChanged(at, at, {Qt::DecorationRole});
}

QPixmap ExplorerModel::cellPicture(const QString &key) const
{
    constexpr int kCell = 140;
    const auto cached = m_cells.constFind(key);
    if (cached != m_cells.cend())
        return *cached;
    const QImage source = m_pictures.value(key);
    if (source.isNull())
        return {};
    // Portrait thumbnails are taller than the cell and the folder picture wider: each is
    // scaled down to fit and centred, so all items line up and no picture covers a caption.
    QPixmap cell(kCell, kCell);
    cell.fill(Qt::transparent);
    const QSize fitted = source.size().boundedTo(QSize(kCell, kCell)) == source.size()
                             ? source.size()
                             : source.size().scaled(kCell, kCell, Qt::KeepAspectRatio);
    QPainter painter(&cell);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(
        QRect(QPoint((kCell - fitted.width()) / 2, (kCell - fitted.height()) / 2), fitted), source);
    painter.end();
    if (m_cells.size() >= kCellCacheSize)
        m_cells.remove(m_cellOrder.takeFirst());
    m_cells.insert(key, cell);
    m_cellOrder.append(key);
    return cell;
}

const ExplorerModel::Item &ExplorerModel::placeholder()
{
    static const Item loading{QString(), QString(), QStringLiteral("A"), QString()};
    return loading;
}

void ExplorerModel::resetPlaceholders(int count)
{
    beginResetModel();
    m_items.clear();
    m_items.resize(qMax(0, count), placeholder());
    m_revealed = int(m_items.size());
    endResetModel();
}

void ExplorerModel::resetHidden(QList<Item> items)
{
    beginResetModel();
    m_items = std::move(items);
    m_revealed = 0;
    endResetModel();
}

void ExplorerModel::revealNext(int count)
{
    const int first = m_revealed;
    m_revealed = int(qMin(m_items.size(), qsizetype(first) + qMax(0, count)));
    if (m_revealed > first)
        Q_EMIT dataChanged(index(first), index(m_revealed - 1));
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
    if (row < m_revealed)
        --m_revealed;
    endRemoveRows();
}

} // namespace qmt
