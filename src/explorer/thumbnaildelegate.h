#pragma once

#include <QPointer>
#include <QStyledItemDelegate>

class QAbstractItemView;
class QFontMetrics;

namespace qmt {

// Draws the explorer's cells: the thumbnail with its caption under it. The caption shows as much
// of the name as fits on the cell's caption lines and is shortened once, in its last line. The
// selection is drawn only while the list has the keyboard focus, whatever the skin says about
// selected items.
class ThumbnailDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    // Lines a caption may take under its thumbnail.
    static constexpr int kCaptionLines = 2;

    explicit ThumbnailDelegate(QAbstractItemView *view);

    // `name` laid out on at most `lines` lines of `width` pixels, joined by line separators
    // (U+2028). The first lines are filled, breaking after a space, '-', '_' or '.' when one lies
    // in the later half of a line, anywhere otherwise; the last line is elided in its middle when
    // the rest does not fit.
    static QString captionLines(const QString &name, const QFontMetrics &metrics, int width,
                                int lines);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    int captionWidth(const QStyleOptionViewItem &option) const;

    QPointer<QAbstractItemView> m_view;
};

} // namespace qmt
