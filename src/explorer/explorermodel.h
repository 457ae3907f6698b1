#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QPixmap>

namespace qmt {

// The explorer's items and its image list. An item carries its Tag (full path, empty for a
// placeholder), its Text (the name shown), the key of its picture in the image list and a
// tooltip. The image list holds "Folder", "A" (loading) and one picture per listed image,
// keyed by the image's path.
class ExplorerModel : public QAbstractListModel
{
    Q_OBJECT

public:
    // PictureRole gives the item's picture as the image list holds it; the decoration is that
    // picture fitted into the list's 140 x 140 cell, so every caption sits under its cell.
    enum Role { TagRole = Qt::UserRole + 1, IconKeyRole, PictureRole };

    struct Item {
        QString tag;
        QString text;
        QString iconKey;
        QString toolTip;
    };

    explicit ExplorerModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;

    // Replaces every item by `count` placeholders showing the picture "A".
    void resetPlaceholders(int count);
    void clear() { resetPlaceholders(0); }
    const Item &item(int row) const { return m_items.at(row); }
    void setItem(int row, const Item &item);
    void removeItem(int row);

    // The image list.
    void clearPictures()
    {
        m_pictures.clear();
        m_cells.clear();
    }
    void setPicture(const QString &key, const QIcon &icon)
    {
        m_pictures.insert(key, icon);
        m_cells.remove(key);
    }
    bool hasPicture(const QString &key) const { return m_pictures.contains(key); }
    int pictureCount() const { return int(m_pictures.size()); }

private:
    QList<Item> m_items;
    QPixmap cellPicture(const QString &key) const;

    QHash<QString, QIcon> m_pictures;
    // The pictures as drawn in the list, made on first use.
    mutable QHash<QString, QPixmap> m_cells;
};

} // namespace qmt
