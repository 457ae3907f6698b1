#include "viewer/viewericons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <functional>

namespace qmt::viewer {
namespace {

using Drawing = std::function<void(QPainter &, const QColor &accent)>;

void magnifier(QPainter &p, const QColor &accent, bool plus)
{
    p.setPen(QPen(QColor(40, 40, 40), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(19, 19), QPointF(28, 28));
    p.setPen(QPen(QColor(40, 40, 40), 2));
    p.setBrush(QColor(225, 240, 255));
    p.drawEllipse(QPointF(13, 13), 9, 9);
    p.setPen(QPen(accent, 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8.5, 13), QPointF(17.5, 13));
    if (plus)
        p.drawLine(QPointF(13, 8.5), QPointF(13, 17.5));
}

void arrow(QPainter &p, const QColor &accent, bool right)
{
    QPainterPath path;
    path.moveTo(4, 12);
    path.lineTo(17, 12);
    path.lineTo(17, 5);
    path.lineTo(29, 16);
    path.lineTo(17, 27);
    path.lineTo(17, 20);
    path.lineTo(4, 20);
    path.closeSubpath();
    if (!right)
        path = QTransform(-1, 0, 0, 1, 32, 0).map(path);
    p.setPen(QPen(accent.darker(160), 1.5));
    p.setBrush(accent);
    p.drawPath(path);
}

Drawing drawingFor(const QString &key)
{
    if (key == QLatin1String("open32"))
        return [](QPainter &p, const QColor &accent) {
            p.setPen(QPen(QColor(120, 90, 20), 1.5));
            p.setBrush(QColor(240, 200, 90));
            p.drawRect(QRectF(3, 8, 24, 18));
            p.drawRect(QRectF(3, 5, 10, 4));
            QPainterPath flap;
            flap.moveTo(7, 13);
            flap.lineTo(30, 13);
            flap.lineTo(26, 26);
            flap.lineTo(3, 26);
            flap.closeSubpath();
            p.setBrush(accent.lighter(130));
            p.drawPath(flap);
        };
    if (key == QLatin1String("browsed32"))
        return [](QPainter &p, const QColor &accent) {
            p.setPen(QPen(QColor(50, 50, 50), 1));
            for (int row = 0; row < 3; ++row)
                for (int col = 0; col < 3; ++col) {
                    p.setBrush((row + col) % 2 ? accent : accent.lighter(150));
                    p.drawRect(QRectF(3 + col * 9.5, 3 + row * 9.5, 7.5, 7.5));
                }
        };
    if (key == QLatin1String("previous32"))
        return [](QPainter &p, const QColor &accent) { arrow(p, accent, false); };
    if (key == QLatin1String("next32"))
        return [](QPainter &p, const QColor &accent) { arrow(p, accent, true); };
    if (key == QLatin1String("slidshow32"))
        return [](QPainter &p, const QColor &accent) {
            p.setPen(QPen(QColor(50, 50, 50), 1.5));
            p.setBrush(QColor(250, 250, 250));
            p.drawRoundedRect(QRectF(2, 5, 28, 20), 2, 2);
            p.drawLine(QPointF(16, 25), QPointF(16, 29));
            p.drawLine(QPointF(10, 29), QPointF(22, 29));
            QPolygonF play({QPointF(12, 9), QPointF(22, 15), QPointF(12, 21)});
            p.setBrush(accent);
            p.setPen(Qt::NoPen);
            p.drawPolygon(play);
        };
    if (key == QLatin1String("zoomin32"))
        return [](QPainter &p, const QColor &accent) { magnifier(p, accent, true); };
    if (key == QLatin1String("zoomiout32"))
        return [](QPainter &p, const QColor &accent) { magnifier(p, accent, false); };
    if (key == QLatin1String("fullscreen32"))
        return [](QPainter &p, const QColor &accent) {
            p.setPen(QPen(QColor(60, 60, 60), 1.5));
            p.setBrush(QColor(235, 235, 235));
            p.drawRect(QRectF(8, 8, 16, 16));
            p.setPen(QPen(accent, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            const QPointF corners[4][3] = {{{3, 10}, {3, 3}, {10, 3}},
                                           {{22, 3}, {29, 3}, {29, 10}},
                                           {{29, 22}, {29, 29}, {22, 29}},
                                           {{10, 29}, {3, 29}, {3, 22}}};
            for (const auto &corner : corners)
                p.drawPolyline(corner, 3);
        };
    return {};
}

QPixmap render(const Drawing &drawing, int size, const QColor &accent)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    drawing(painter, accent);
    return pixmap;
}

} // namespace

QIcon toolbarIcon(const QString &key)
{
    const Drawing drawing = drawingFor(key);
    if (!drawing)
        return {};
    const QColor accent(40, 110, 200);
    const QColor hover(40, 160, 255);
    QIcon icon;
    for (int size : {16, 24, 32, 48}) {
        icon.addPixmap(render(drawing, size, accent), QIcon::Normal);
        icon.addPixmap(render(drawing, size, hover), QIcon::Active);
    }
    return icon;
}

} // namespace qmt::viewer
