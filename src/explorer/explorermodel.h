#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QImage>
#include <QList>
#include <QPixmap>

namespace qmt {

// The explorer's items and its image list. An item carries its Tag (full path, empty for a
// placeholder), its Text (the name shown), the key of its picture in the image list and a
// tooltip. The image list holds "Folder", "A" (loading) and one picture per listed image,
// keyed by the image's path. Pictures are held as compact images (3 bytes a pixel when opaque)
// and turned into pixmaps only for the cells on screen. The explorer lets go of the pictures of
// cells far off screen: an image item without its picture shows the loading picture.
class ExplorerModel : public QAbstractListModel
{
    Q_OBJECT

public:
    // PictureRole gives the item's picture (a QImage) as the image list holds it; the decoration
    // is that picture fitted into the list's 140 x 140 cell, so every caption sits under its cell.
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
    // Replaces every item by `items`, each shown as a placeholder (no Tag, no Text, the picture
    // "A") until revealed: a listing hands over all of its items at once and shows them a run
    // at a time.
    void resetHidden(QList<Item> items);
    // Shows the next `count` hidden items in list order, told to the views as one change.
    void revealNext(int count);
    // The rows that show their items; the rows after them are placeholders.
    int revealedCount() const { return m_revealed; }
    // The item a row shows (a placeholder while hidden), and the one it holds.
    const Item &item(int row) const { return row < m_revealed ? m_items.at(row) : placeholder(); }
    const Item &heldItem(int row) const { return m_items.at(row); }
    void setItem(int row, const Item &item);
    void removeItem(int row);

    // The image list.
    void clearPictures();
    void setPicture(const QString &key, const QImage &picture);
    void dropPicture(const QString &key);
    // The item's picture changed: its cell is drawn again.
    void refreshRow(int row);
    bool hasPicture(const QString &key) const { return m_pictures.contains(key); }
    int pictureCount() const { return int(m_pictures.size()); }
    QImage picture(const QString &key) const { return m_pictures.value(key); }

    // How many cells are kept drawn at most: enough for a large screen full of items.
    static constexpr int kCellCacheSize = 256;
    int cachedCellCount() const { return int(m_cells.size()); }

private:
    QPixmap cellPicture(const QString &key) const;
    static const Item &placeholder();

    QList<Item> m_items;
    int m_revealed = 0;
    QHash<QString, QImage> m_pictures;
    // The pictures as drawn in the list, made on first use; the least recently drawn go first.
    mutable QHash<QString, QPixmap> m_cells;
    mutable QList<QString> m_cellOrder;
};

} // namespace qmt
