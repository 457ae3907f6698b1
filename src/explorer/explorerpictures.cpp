#include "explorer/explorerpictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace qmt {
namespace {

QImage transparentCanvas(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

} // namespace

QImage folderPicture()
{
    QImage image = transparentCanvas(150, 125);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    // The back of the folder with its tab.
    QPainterPath back;
    back.moveTo(10, 28);
    back.lineTo(10, 18);
    back.quadTo(10, 12, 16, 12);
    back.lineTo(56, 12);
    back.quadTo(61, 12, 64, 17);
    back.lineTo(70, 24);
    back.lineTo(134, 24);
    back.quadTo(140, 24, 140, 30);
    back.lineTo(140, 108);
    back.quadTo(140, 114, 134, 114);
    back.lineTo(16, 114);
    back.quadTo(10, 114, 10, 108);
    back.closeSubpath();
    QLinearGradient backFill(0, 12, 0, 114);
    backFill.setColorAt(0, QColor(0xe0, 0xa8, 0x3c));
    backFill.setColorAt(1, QColor(0xc4, 0x86, 0x22));
    p.setPen(QPen(QColor(0x9a, 0x68, 0x18), 1.5));
    p.setBrush(backFill);
    p.drawPath(back);

    // A sheet of paper peeking out.
    p.setPen(QPen(QColor(0xc8, 0xc8, 0xc8), 1));
    p.setBrush(QColor(0xfb, 0xfb, 0xf8));
    p.drawRoundedRect(QRectF(22, 30, 106, 60), 3, 3);

    // The front flap, slightly lighter, leaning forward.
    QPainterPath front;
    front.moveTo(8, 48);
    front.quadTo(8, 42, 14, 42);
    front.lineTo(136, 42);
    front.quadTo(143, 42, 142, 49);
    front.lineTo(138, 108);
    front.quadTo(137.5, 114, 131, 114);
    front.lineTo(19, 114);
    front.quadTo(12.5, 114, 12, 108);
    front.closeSubpath();
    QLinearGradient frontFill(0, 42, 0, 114);
    frontFill.setColorAt(0, QColor(0xff, 0xd2, 0x6a));
    frontFill.setColorAt(1, QColor(0xf0, 0xb0, 0x3a));
    p.setPen(QPen(QColor(0xa8, 0x74, 0x1c), 1.5));
    p.setBrush(frontFill);
    p.drawPath(front);

    // A soft highlight along the flap's upper edge.
    p.setPen(QPen(QColor(255, 255, 255, 120), 2));
    p.drawLine(QPointF(16, 46), QPointF(134, 46));
    return image;
}

QImage loadingPicture()
{
    QImage image = transparentCanvas(125, 125);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0xd4, 0xd8, 0xde), 1.5));
    p.setBrush(QColor(0xf3, 0xf5, 0xf8));
    p.drawRoundedRect(QRectF(4.5, 4.5, 116, 116), 10, 10);

    // A ring of dots fading round, the usual sign of work going on.
    const QPointF centre(62.5, 62.5);
    const int dots = 12;
    for (int i = 0; i < dots; ++i) {
        const double angle = 2.0 * M_PI * i / dots;
        const QPointF at(centre.x() + 30.0 * std::sin(angle), centre.y() - 30.0 * std::cos(angle));
        const int alpha = 40 + (215 * i) / (dots - 1);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x4a, 0x7d, 0xc4, alpha));
        p.drawEllipse(at, 5.5, 5.5);
    }
    return image;
}

QImage brokenPicture()
{
    QImage image = transparentCanvas(140, 140);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    // A photograph torn in two along a jagged line.
    QPainterPath left;
    left.moveTo(18, 28);
    left.lineTo(72, 28);
    left.lineTo(64, 52);
    left.lineTo(76, 70);
    left.lineTo(62, 92);
    left.lineTo(70, 112);
    left.lineTo(18, 112);
    left.closeSubpath();
    QPainterPath right;
    right.moveTo(80, 30);
    right.lineTo(124, 30);
    right.lineTo(124, 114);
    right.lineTo(78, 114);
    right.lineTo(70, 94);
    right.lineTo(84, 72);
    right.lineTo(72, 54);
    right.closeSubpath();

    const QColor frame(0x8a, 0x92, 0x9c);
    QLinearGradient sky(0, 28, 0, 114);
    sky.setColorAt(0, QColor(0xcf, 0xe2, 0xf5));
    sky.setColorAt(1, QColor(0xee, 0xf3, 0xf8));
    p.setPen(QPen(frame, 2));
    p.setBrush(sky);
    p.drawPath(left);
    p.drawPath(right);

    // Hills and a sun, cut by the tear.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x9c, 0xb8, 0x8a));
    p.save();
    p.setClipPath(left);
    p.drawEllipse(QPointF(40, 120), 46, 28);
    p.restore();
    p.save();
    p.setClipPath(right);
    p.drawEllipse(QPointF(108, 124), 44, 30);
    p.setBrush(QColor(0xf2, 0xc1, 0x4e));
    p.drawEllipse(QPointF(104, 50), 9, 9);
    p.restore();

    // A red mark that says the picture could not be made.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xd0, 0x3a, 0x32));
    p.drawEllipse(QPointF(112, 110), 15, 15);
    p.setPen(QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(106, 104), QPointF(118, 116));
    p.drawLine(QPointF(118, 104), QPointF(106, 116));
    return image;
}

} // namespace qmt
