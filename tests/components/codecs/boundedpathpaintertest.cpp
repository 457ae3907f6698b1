// Large fills and strokes handed to Qt's raster engine in pieces: the pieces must paint what the
// whole would, and stop when playback's time is up.

#include "components/codecs/boundedpathpainter.h"

#include <QPainter>
#include <QTest>

#include <cmath>

using qmt::BoundedPathPainter;

namespace {

// A star of `points` points around (cx, cy): its middle is covered twice, which the fill rule
// decides.
QPolygonF star(QPointF centre, double radius, int points)
{
    QPolygonF star;
    for (int i = 0; i < points; ++i) {
        const double a = 2 * M_PI * (i * 2 % points) / points;
        star << centre + QPointF(std::cos(a), std::sin(a)) * radius;
    }
    return star;
}

QImage blank()
{
    QImage image(300, 200, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

// Pixels that differ.
int differences(const QImage &a, const QImage &b)
{
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            n += a.pixel(x, y) != b.pixel(x, y);
    return n;
}

int inked(const QImage &image)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += image.pixel(x, y) != qRgb(255, 255, 255);
    return n;
}

} // namespace

class BoundedPathPainterTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void stripsFillWhatTheWholeFills_data();
    void stripsFillWhatTheWholeFills();
    void longStrokeIsDrawnInPieces();
    void stopsBetweenPiecesWhenTimeIsUp();
    void clipKeepsTheRowsBetween();
};

void BoundedPathPainterTest::stripsFillWhatTheWholeFills_data()
{
    QTest::addColumn<QPainterPath>("path");
    QTest::addColumn<QTransform>("toImage");

    for (const Qt::FillRule rule : {Qt::OddEvenFill, Qt::WindingFill}) {
        const QString name =
            rule == Qt::OddEvenFill ? QStringLiteral(", odd-even") : QStringLiteral(", winding");
        QPainterPath stars;
        stars.setFillRule(rule);
        stars.addPolygon(star(QPointF(80, 90), 70, 7));
        stars.addPolygon(star(QPointF(200, 110), 85, 5));
        QTest::newRow(qPrintable("overlapping stars" + name)) << stars << QTransform();

        // A frame with a hole, and rings of curves (flattened before they are cut).
        QPainterPath holes;
        holes.setFillRule(rule);
        holes.addRect(10, 10, 280, 180);
        holes.addRect(60, 40, 120, 90);
        holes.addEllipse(QPointF(230, 100), 50, 70);
        holes.addEllipse(QPointF(230, 100), 20, 30);
        QTest::newRow(qPrintable("holes and curves" + name)) << holes << QTransform();

        // Logical units mapped onto the canvas: scaled, moved and turned.
        QTransform turned;
        turned.translate(150, 100).rotate(30).scale(2.0, 1.4);
        QPainterPath small;
        small.setFillRule(rule);
        small.addPolygon(star(QPointF(0, 0), 60, 9));
        QTest::newRow(qPrintable("turned and scaled" + name)) << small << turned;
    }
}

void BoundedPathPainterTest::stripsFillWhatTheWholeFills()
{
    QFETCH(QPainterPath, path);
    QFETCH(QTransform, toImage);

    QImage whole = blank();
    {
        QPainter painter(&whole);
        painter.setTransform(toImage);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        painter.drawPath(path);
    }
    QImage strips = blank();
    {
        QPainter painter(&strips);
        BoundedPathPainter bounded(
            painter, strips.rect(), [] { return false; }, 400);
        bounded.fill(path, QBrush(Qt::black), toImage);
        QVERIFY2(bounded.drawCalls() > 2, "the fill was not cut into strips");
    }
    QVERIFY(inked(whole) > 1000);
    // Rows are cut exactly: at most a pixel here and there where an edge meets a strip's border.
    const int differing = differences(whole, strips);
    QVERIFY2(differing <= inked(whole) / 200,
             qPrintable(QStringLiteral("%1 pixels differ").arg(differing)));
}

void BoundedPathPainterTest::longStrokeIsDrawnInPieces()
{
    QPainterPath zigzag(QPointF(10, 10));
    for (int i = 1; i < 400; ++i)
        zigzag.lineTo(10 + (i * 37) % 280, 10 + (i * 53) % 180);
    const QPen pen(Qt::black, 3, Qt::SolidLine, Qt::FlatCap, Qt::BevelJoin);

    QImage whole = blank();
    {
        QPainter painter(&whole);
        painter.setPen(pen);
        painter.drawPath(zigzag);
    }
    QImage pieces = blank();
    {
        QPainter painter(&pieces);
        BoundedPathPainter bounded(
            painter, pieces.rect(), [] { return false; }, 2000);
        bounded.stroke(zigzag, pen, QTransform());
        QVERIFY2(bounded.drawCalls() > 10, "the stroke was not cut into pieces");
    }
    // Only the joins where one piece ends and the next begins may differ.
    QVERIFY(inked(whole) > 10000);
    QVERIFY2(differences(whole, pieces) <= inked(whole) / 50,
             qPrintable(QStringLiteral("%1 pixels differ").arg(differences(whole, pieces))));
}

void BoundedPathPainterTest::stopsBetweenPiecesWhenTimeIsUp()
{
    QPainterPath many;
    for (int i = 0; i < 200; ++i)
        many.addPolygon(star(QPointF(20 + i, 100), 90, 5));
    QImage image = blank();
    QPainter painter(&image);
    int asked = 0;
    BoundedPathPainter bounded(
        painter, image.rect(), [&asked] { return ++asked > 3; }, 500);
    bounded.fill(many, QBrush(Qt::black), QTransform());
    bounded.stroke(many, QPen(Qt::black, 2), QTransform());
    QVERIFY(bounded.drawCalls() >= 1);
    QVERIFY2(bounded.drawCalls() <= 3, qPrintable(QString::number(bounded.drawCalls())));
}

void BoundedPathPainterTest::clipKeepsTheRowsBetween()
{
    // A triangle cut to the rows 10..20: the crossings are on those rows and the area between
    // is the part of the triangle there.
    const QPolygonF triangle({QPointF(0, 0), QPointF(40, 0), QPointF(0, 40)});
    const QPolygonF part = BoundedPathPainter::clipToRows(triangle, 10, 20);
    const QRectF bounds = part.boundingRect();
    QCOMPARE(bounds.top(), 10.0);
    QCOMPARE(bounds.bottom(), 20.0);
    QCOMPARE(bounds.left(), 0.0);
    QCOMPARE(bounds.right(), 30.0);
    double area = 0;
    for (qsizetype i = 0; i < part.size(); ++i) {
        const QPointF a = part.at(i), b = part.at((i + 1) % part.size());
        area += a.x() * b.y() - b.x() * a.y();
    }
    QCOMPARE(std::abs(area) / 2, 250.0); // widths 30 and 20 over 10 rows
    QVERIFY(BoundedPathPainter::clipToRows(triangle, 50, 60).isEmpty());
}

QTEST_MAIN(BoundedPathPainterTest)
#include "boundedpathpaintertest.moc"
