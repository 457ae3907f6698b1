#include "explorer/thumbnaildelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFontMetrics>
#include <QListView>
#include <QPainter>
#include <QStyle>

namespace qmt {
namespace {

// A laid-out line is given a pixel of room: text layout and metrics may round apart.
constexpr int kSlack = 1;

bool isBreakAfter(QChar c)
{
    return c.isSpace() || c == QLatin1Char('-') || c == QLatin1Char('_') || c == QLatin1Char('.');
}

// How many characters of `text`, from its start, fit in `width` pixels (at least one, so a
// line always moves on; a surrogate pair is never cut).
qsizetype fittingLength(const QString &text, const QFontMetrics &metrics, int width)
{
    qsizetype low = 1, high = text.size();
    while (low < high) {
        const qsizetype middle = (low + high + 1) / 2;
        if (metrics.horizontalAdvance(text.left(middle)) <= width)
            low = middle;
        else
            high = middle - 1;
    }
    if (low < text.size() && text.at(low - 1).isHighSurrogate())
        low = low > 1 ? low - 1 : low + 1;
    return low;
}

} // namespace

ThumbnailDelegate::ThumbnailDelegate(QAbstractItemView *view)
    : QStyledItemDelegate(view), m_view(view)
{
}

QString ThumbnailDelegate::captionLines(const QString &name, const QFontMetrics &metrics, int width,
                                        int lines)
{
    if (name.isEmpty() || width <= 0 || lines <= 0)
        return name;
    QStringList out;
    QString rest = name;
    while (!rest.isEmpty() && out.size() < lines - 1) {
        if (metrics.horizontalAdvance(rest) <= width)
            break;
        qsizetype take = fittingLength(rest, metrics, width);
        // A natural break in the later half of the line reads better than a cut word.
        for (qsizetype i = take; i > take / 2; --i) {
            if (isBreakAfter(rest.at(i - 1))) {
                take = i;
                break;
            }
        }
        out.append(rest.left(take));
        rest = rest.mid(take);
    }
    if (!rest.isEmpty())
        out.append(metrics.elidedText(rest, Qt::ElideMiddle, width));
    return out.join(QChar(QChar::LineSeparator));
}

int ThumbnailDelegate::captionWidth(const QStyleOptionViewItem &option) const
{
    const QWidget *widget = option.widget;
    const QStyle *style = widget ? widget->style() : QApplication::style();
    // The widest text rectangle the style gives a caption in this cell (a caption wider than the
    // cell gets all of it), less the margins the style keeps inside it.
    QStyleOptionViewItem widest(option);
    widest.text =
        QString(4 * option.rect.width() / qMax(1, widest.fontMetrics.averageCharWidth()) + 8,
                QLatin1Char('W'));
    const QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &widest, widget);
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    return qMin(text.width(), option.rect.width()) - 2 * margin - kSlack;
}

void ThumbnailDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const
{
    QStyleOptionViewItem cell(option);
    initStyleOption(&cell, index);
    if (!m_view || !m_view->hasFocus())
        cell.state &= ~QStyle::State_Selected;
    if (!cell.text.isEmpty()) {
        // Line breaks of our own: the style then neither wraps nor elides a second time.
        cell.text =
            captionLines(cell.text, QFontMetrics(cell.font), captionWidth(cell), kCaptionLines);
    }
    const QWidget *widget = option.widget;
    const QStyle *style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);
}

QSize ThumbnailDelegate::sizeHint(const QStyleOptionViewItem &option,
                                  const QModelIndex &index) const
{
    // Every cell has room for a whole caption, whatever the name of the item the list measures
    // (all cells take the size of one).
    QStyleOptionViewItem cell(option);
    initStyleOption(&cell, index);
    QStringList lines;
    for (int i = 0; i < kCaptionLines; ++i)
        lines.append(QStringLiteral("Xg"));
    cell.text = lines.join(QChar(QChar::LineSeparator));
    const QWidget *widget = option.widget;
    const QStyle *style = widget ? widget->style() : QApplication::style();
    QSize size = style->sizeFromContents(QStyle::CT_ItemViewItem, &cell, QSize(), widget);
    // Text layout and the style's measure may round apart by a pixel or two.
    size.rheight() += 4;
    if (const auto *list = qobject_cast<const QListView *>(m_view.data());
        list && list->gridSize().isValid()) {
        size.setWidth(qMax(size.width(), list->gridSize().width() - 2 * list->spacing() - 4));
        size = size.boundedTo(list->gridSize());
    }
    return size;
}

} // namespace qmt
