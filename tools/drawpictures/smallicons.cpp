// The page control's tab images and the buttons' glyphs, 16 x 16 on transparent.
#include "paint.h"
#include "pictures.h"

#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <numbers>

namespace pictures {

namespace {

struct Small {
    QImage img = canvas(16, 16, Qt::transparent);
    QPainter p{&img};
    Small() { prepare(p); }
    QImage done() {
        p.end();
        return img;
    }
};

QPointF polar(const QPointF& centre, qreal radius, qreal degrees) {
    const qreal a = degrees * std::numbers::pi / 180.0;
    return centre + QPointF(radius * std::cos(a), -radius * std::sin(a));
}

// A filled arrow head whose tip is at tip, pointing along degrees (screen y up).
void arrowHead(QPainter& p, const QPointF& tip, qreal degrees, qreal length, const QColor& c) {
    const QPointF back1 = polar(tip, length, degrees + 180 - 34);
    const QPointF back2 = polar(tip, length, degrees + 180 + 34);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPolygon(QPolygonF({tip, back1, back2}));
}

} // namespace

QImage drawTabTimed() {
    Small s;
    QPainter& p = s.p;
    const QPointF c(8, 8);
    p.setPen(QPen(QColor(20, 60, 140), 1.3));
    QRadialGradient face(c - QPointF(2, 2), 9);
    face.setColorAt(0.0, Qt::white);
    face.setColorAt(1.0, QColor(215, 228, 245));
    p.setBrush(face);
    p.drawEllipse(c, 6.6, 6.6);
    p.setPen(QPen(QColor(20, 60, 140), 1.0));
    for (int k = 0; k < 4; ++k)
        p.drawLine(polar(c, 4.6, k * 90), polar(c, 5.8, k * 90));
    p.setPen(QPen(QColor(20, 20, 30), 1.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c, polar(c, 4.2, 90));  // minute hand at twelve
    p.drawLine(c, polar(c, 3.0, -30)); // hour hand at four
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(210, 30, 30));
    p.drawEllipse(c, 1.1, 1.1);
    return s.done();
}

QImage drawTabSettings() {
    Small s;
    QPainter& p = s.p;
    const QPointF c(8, 8);
    const int teeth = 8;
    QPainterPath gear;
    for (int k = 0; k < teeth * 4; ++k) {
        // Each tooth: two points on the outer circle, then two on the root circle.
        const qreal step = 360.0 / (teeth * 4);
        const bool outer = (k % 4) < 2;
        const QPointF pt = polar(c, outer ? 7.3 : 5.3, k * step - step / 2);
        if (k == 0)
            gear.moveTo(pt);
        else
            gear.lineTo(pt);
    }
    gear.closeSubpath();
    gear.addEllipse(c, 2.2, 2.2);
    gear.setFillRule(Qt::OddEvenFill);
    QLinearGradient g(0, 1, 0, 15);
    g.setColorAt(0.0, QColor(200, 205, 215));
    g.setColorAt(1.0, QColor(105, 112, 128));
    p.setPen(QPen(QColor(55, 60, 72), 0.9, Qt::SolidLine, Qt::SquareCap, Qt::RoundJoin));
    p.setBrush(g);
    p.drawPath(gear);
    return s.done();
}

QImage drawTabChar() {
    Small s;
    QPainter& p = s.p;
    // A key cap: one key, one character sent.
    QLinearGradient g(0, 1, 0, 15);
    g.setColorAt(0.0, Qt::white);
    g.setColorAt(1.0, QColor(190, 195, 205));
    p.setPen(QPen(QColor(90, 95, 110), 1.0));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 2.5, 2.5);
    p.setFont(sansFont(10, true));
    p.setPen(QColor(20, 60, 160));
    text(p, QRectF(1.5, 1.0, 13, 13), Qt::AlignCenter, "A");
    return s.done();
}

QImage drawTabLine() {
    Small s;
    QPainter& p = s.p;
    // A line of text, then Enter: the line goes out.
    p.setPen(QPen(QColor(60, 60, 70), 1.6, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(1.5, 3.5), QPointF(5.0, 3.5));
    p.drawLine(QPointF(6.5, 3.5), QPointF(9.5, 3.5));
    p.drawLine(QPointF(11.0, 3.5), QPointF(14.5, 3.5));
    const QColor arrow(0, 150, 40);
    p.setPen(QPen(arrow, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath bend;
    bend.moveTo(13.0, 6.5);
    bend.lineTo(13.0, 11.5);
    bend.lineTo(6.0, 11.5);
    p.drawPath(bend);
    arrowHead(p, QPointF(1.8, 11.5), 180, 5.2, arrow);
    return s.done();
}

QImage drawTabModem() {
    Small s;
    QPainter& p = s.p;
    // A telephone handset, ear piece up left, mouth piece down right.
    const QColor body(35, 40, 55);
    p.setPen(QPen(body, 2.6, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    QPainterPath grip;
    grip.moveTo(4.0, 4.5);
    grip.cubicTo(3.0, 9.0, 7.0, 13.0, 11.5, 12.0);
    p.drawPath(grip);
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.save();
    p.translate(4.2, 3.6);
    p.rotate(-20);
    p.drawRoundedRect(QRectF(-3.2, -2.0, 6.4, 4.0), 1.6, 1.6);
    p.restore();
    p.save();
    p.translate(12.4, 11.8);
    p.rotate(-70);
    p.drawRoundedRect(QRectF(-3.2, -2.0, 6.4, 4.0), 1.6, 1.6);
    p.restore();
    // Signal lines beside it.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 120, 210), 1.2, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(6.0, -1.0, 10, 10), -10 * 16, 100 * 16);
    p.drawArc(QRectF(8.5, 1.5, 5, 5), -10 * 16, 100 * 16);
    return s.done();
}

QImage drawTabHex() {
    Small s;
    QPainter& p = s.p;
    p.setPen(QPen(QColor(70, 30, 120), 1.0));
    p.setBrush(QColor(120, 70, 190));
    p.drawRoundedRect(QRectF(0.5, 2.5, 15, 11), 2, 2);
    p.setFont(monoFont(9, true));
    p.setPen(Qt::white);
    text(p, QRectF(0.5, 2.5, 15, 11), Qt::AlignCenter, "0x");
    return s.done();
}

QImage drawTabProtocol() {
    Small s;
    QPainter& p = s.p;
    const QPointF top(8, 5);
    // Radio waves on both sides of the tip.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0, 110, 220), 1.2, Qt::SolidLine, Qt::RoundCap));
    for (const qreal r : {3.0, 5.6}) {
        const QRectF box(top.x() - r, top.y() - r, 2 * r, 2 * r);
        p.drawArc(box, -40 * 16, 80 * 16);
        p.drawArc(box, 140 * 16, 80 * 16);
    }
    // Mast on a tripod.
    p.setPen(QPen(QColor(60, 60, 70), 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(top, QPointF(8, 15));
    p.drawLine(QPointF(8, 8.5), QPointF(4.5, 15));
    p.drawLine(QPointF(8, 8.5), QPointF(11.5, 15));
    p.drawLine(QPointF(5.8, 12.5), QPointF(10.2, 12.5));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(220, 30, 30));
    p.drawEllipse(top, 1.6, 1.6);
    return s.done();
}

QImage drawGlyphUpdate() {
    Small s;
    QPainter& p = s.p;
    // A ring that turns back on itself: apply and refresh.
    const QColor green(0, 140, 40);
    const QPointF c(7.5, 9.0);
    const qreal r = 4.6;
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(green, 2.0, Qt::SolidLine, Qt::FlatCap));
    p.drawArc(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), 90 * 16, 270 * 16);
    // The ring ends at three o'clock, running upwards; the head's base sits on that end.
    arrowHead(p, polar(c, r, 0) + QPointF(0, -5.0), 90, 6.0, green);
    return s.done();
}

QImage drawGlyphStart() {
    Small s;
    QPainter& p = s.p;
    QLinearGradient g(0, 2, 0, 14);
    g.setColorAt(0.0, QColor(90, 220, 90));
    g.setColorAt(1.0, QColor(0, 140, 30));
    p.setPen(QPen(QColor(0, 90, 20), 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(g);
    p.drawPolygon(QPolygonF({{4.0, 2.5}, {13.5, 8.0}, {4.0, 13.5}}));
    return s.done();
}

QImage drawGlyphStop() {
    Small s;
    QPainter& p = s.p;
    QLinearGradient g(0, 3, 0, 13);
    g.setColorAt(0.0, QColor(250, 110, 100));
    g.setColorAt(1.0, QColor(190, 20, 20));
    p.setPen(QPen(QColor(120, 10, 10), 1.0));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(3.0, 3.0, 10, 10), 1.5, 1.5);
    return s.done();
}

} // namespace pictures
