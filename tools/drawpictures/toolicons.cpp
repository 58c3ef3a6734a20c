// The tool bar's icons, 32 x 32 on a transparent background.
#include "paint.h"
#include "pictures.h"

#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>

namespace pictures {

namespace {

const QColor ink(40, 40, 50);

struct Icon {
    QImage img = canvas(32, 32, Qt::transparent);
    QPainter p{&img};
    Icon() { prepare(p); }
    QImage done() {
        p.end();
        return img;
    }
};

// A round button face: a light top left fading into col.
void roundButton(QPainter& p, const QRectF& r, const QColor& col) {
    QRadialGradient g(r.center() - QPointF(r.width() / 5, r.height() / 4), r.width() * 0.75);
    g.setColorAt(0.0, col.lighter(160));
    g.setColorAt(1.0, col);
    p.setPen(QPen(col.darker(160), 1.0));
    p.setBrush(g);
    p.drawEllipse(r);
}

} // namespace

QImage drawToolClear() {
    Icon i;
    QPainter& p = i.p;
    // The receive window: green hex text on black.
    p.setPen(QPen(QColor(90, 90, 100), 1.0));
    p.setBrush(Qt::black);
    p.drawRoundedRect(QRectF(2.5, 3.5, 24, 20), 2, 2);
    p.setPen(QPen(QColor(0, 220, 0), 1.6, Qt::SolidLine, Qt::FlatCap));
    for (int row = 0; row < 4; ++row) {
        const qreal y = 7.5 + row * 4;
        for (int col = 0; col < 4; ++col)
            p.drawLine(QPointF(5.5 + col * 5, y), QPointF(8.5 + col * 5, y));
    }
    // The eraser wiping it, tilted across the lower right.
    p.save();
    p.translate(21, 22);
    p.rotate(-40);
    QLinearGradient body(0, -5, 0, 5);
    body.setColorAt(0.0, QColor(255, 190, 200));
    body.setColorAt(1.0, QColor(225, 110, 130));
    p.setPen(QPen(QColor(120, 40, 60), 1.0));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(-10, -5, 20, 10), 1.5, 1.5);
    p.setBrush(QColor(60, 110, 200));
    p.drawRoundedRect(QRectF(0, -5, 10, 10), 1.5, 1.5);
    p.restore();
    return i.done();
}

QImage drawToolOpen() {
    Icon i;
    QPainter& p = i.p;
    const QColor edge(140, 95, 10);
    QPainterPath back;
    back.moveTo(2.5, 7.5);
    back.lineTo(11, 7.5);
    back.lineTo(13.5, 10);
    back.lineTo(26.5, 10);
    back.lineTo(26.5, 27.5);
    back.lineTo(2.5, 27.5);
    back.closeSubpath();
    p.setPen(QPen(edge, 1.0));
    p.setBrush(QColor(220, 165, 40));
    p.drawPath(back);
    // The history sheet inside.
    p.setBrush(Qt::white);
    p.setPen(QPen(QColor(120, 120, 120), 1.0));
    p.drawRect(QRectF(7.5, 4.5, 16, 16));
    p.setPen(QPen(QColor(60, 110, 200), 1.2));
    for (int k = 0; k < 3; ++k)
        p.drawLine(QPointF(10, 8.5 + k * 3), QPointF(21, 8.5 + k * 3));
    // The front flap, swung open.
    QLinearGradient g(0, 14, 0, 28);
    g.setColorAt(0.0, QColor(255, 222, 110));
    g.setColorAt(1.0, QColor(240, 180, 40));
    p.setPen(QPen(edge, 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(g);
    p.drawPolygon(QPolygonF({{2.5, 27.5}, {7.0, 14.5}, {30.5, 14.5}, {26.5, 27.5}}));
    return i.done();
}

QImage drawToolSave() {
    Icon i;
    QPainter& p = i.p;
    QPainterPath disk;
    disk.moveTo(3.5, 5.5);
    disk.quadTo(3.5, 3.5, 5.5, 3.5);
    disk.lineTo(25.0, 3.5);
    disk.lineTo(28.5, 7.0);
    disk.lineTo(28.5, 26.5);
    disk.quadTo(28.5, 28.5, 26.5, 28.5);
    disk.lineTo(5.5, 28.5);
    disk.quadTo(3.5, 28.5, 3.5, 26.5);
    disk.closeSubpath();
    QLinearGradient g(0, 3, 0, 29);
    g.setColorAt(0.0, QColor(70, 130, 220));
    g.setColorAt(1.0, QColor(25, 70, 150));
    p.setPen(QPen(QColor(15, 40, 90), 1.0));
    p.setBrush(g);
    p.drawPath(disk);
    // Metal shutter with its window.
    p.setPen(QPen(QColor(110, 110, 120), 1.0));
    p.setBrush(QColor(215, 218, 225));
    p.drawRect(QRectF(9.5, 3.5, 13, 9));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 60, 100));
    p.drawRect(QRectF(17, 5, 3.5, 6));
    // Label.
    p.setPen(QPen(QColor(150, 150, 160), 1.0));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(7.5, 16.5, 17, 12), 1, 1);
    p.setPen(QPen(QColor(200, 60, 60), 1.0));
    p.drawLine(QPointF(9.5, 19.5), QPointF(22.5, 19.5));
    p.setPen(QPen(QColor(120, 140, 180), 1.0));
    p.drawLine(QPointF(9.5, 22.5), QPointF(22.5, 22.5));
    p.drawLine(QPointF(9.5, 25.5), QPointF(22.5, 25.5));
    return i.done();
}

QImage drawToolPause() {
    Icon i;
    QPainter& p = i.p;
    roundButton(p, QRectF(2.5, 2.5, 27, 27), QColor(20, 90, 180));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(10, 9, 4.5, 14), 1, 1);
    p.drawRoundedRect(QRectF(17.5, 9, 4.5, 14), 1, 1);
    return i.done();
}

QImage drawToolPort() {
    Icon i;
    QPainter& p = i.p;
    // Mounting flange with its two screw holes.
    QLinearGradient metal(0, 8, 0, 24);
    metal.setColorAt(0.0, QColor(235, 238, 242));
    metal.setColorAt(1.0, QColor(150, 155, 165));
    p.setPen(QPen(QColor(80, 85, 95), 1.0));
    p.setBrush(metal);
    p.drawRoundedRect(QRectF(0.5, 8.5, 31, 15), 2, 2);
    p.setBrush(QColor(60, 60, 70));
    p.drawEllipse(QPointF(3.6, 16), 1.8, 1.8);
    p.drawEllipse(QPointF(28.4, 16), 1.8, 1.8);
    // The D-shaped shell, wide side up, and the insulator with nine pins.
    const QPolygonF shell({{6.0, 10.0}, {26.0, 10.0}, {23.6, 22.0}, {8.4, 22.0}});
    p.setPen(QPen(QColor(70, 75, 85), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(200, 204, 212));
    p.drawPolygon(shell);
    const QPolygonF face({{7.8, 11.5}, {24.2, 11.5}, {22.3, 20.5}, {9.7, 20.5}});
    p.setPen(QPen(QColor(25, 25, 30), 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(45, 45, 55));
    p.drawPolygon(face);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(250, 205, 70));
    for (int k = 0; k < 5; ++k)
        p.drawEllipse(QPointF(10.0 + k * 3.0, 14.0), 1.2, 1.2);
    for (int k = 0; k < 4; ++k)
        p.drawEllipse(QPointF(11.5 + k * 3.0, 18.0), 1.2, 1.2);
    return i.done();
}

QImage drawToolModem() {
    Icon i;
    QPainter& p = i.p;
    // Handset resting on top.
    QPainterPath handle;
    handle.moveTo(7.5, 10.5);
    handle.quadTo(16, 2.0, 24.5, 10.5);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(30, 30, 35), 3.2, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(handle);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 30, 35));
    p.drawRoundedRect(QRectF(3.5, 9.0, 8, 4), 1.8, 1.8);
    p.drawRoundedRect(QRectF(20.5, 9.0, 8, 4), 1.8, 1.8);
    // Box: sloped top and front.
    p.setPen(QPen(QColor(90, 85, 75), 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(236, 230, 214));
    p.drawPolygon(QPolygonF({{4.5, 13.5}, {27.5, 13.5}, {30.5, 18.5}, {1.5, 18.5}}));
    QLinearGradient front(0, 18, 0, 28);
    front.setColorAt(0.0, QColor(215, 208, 190));
    front.setColorAt(1.0, QColor(170, 162, 142));
    p.setBrush(front);
    p.drawRoundedRect(QRectF(1.5, 18.5, 29, 9), 1.5, 1.5);
    // Line lights: carrier, data, data, off hook.
    const QColor leds[] = {QColor(0, 220, 0), QColor(0, 220, 0), QColor(255, 200, 0),
                           QColor(230, 30, 30)};
    p.setPen(QPen(QColor(40, 40, 40), 0.6));
    for (int k = 0; k < 4; ++k) {
        p.setBrush(leds[k]);
        p.drawEllipse(QPointF(6.0 + k * 4.5, 23.0), 1.5, 1.5);
    }
    p.setPen(QPen(QColor(110, 105, 90), 1.0));
    for (int k = 0; k < 3; ++k)
        p.drawLine(QPointF(24.5 + k * 2, 20.5), QPointF(24.5 + k * 2, 25.5));
    return i.done();
}

QImage drawToolUrl() {
    Icon i;
    QPainter& p = i.p;
    const QRectF ball(2.5, 2.5, 27, 27);
    QRadialGradient sea(ball.center() - QPointF(5, 6), 22);
    sea.setColorAt(0.0, QColor(140, 205, 255));
    sea.setColorAt(1.0, QColor(15, 80, 180));
    p.setPen(Qt::NoPen);
    p.setBrush(sea);
    p.drawEllipse(ball);

    QPainterPath clip;
    clip.addEllipse(ball);
    p.save();
    p.setClipPath(clip);
    p.setBrush(QColor(70, 175, 70));
    p.setPen(QPen(QColor(30, 110, 40), 0.8));
    p.drawPolygon(QPolygonF({{6, 8},
                             {12, 6},
                             {14, 10},
                             {11, 13},
                             {13, 17},
                             {12, 23},
                             {9.5, 25},
                             {8.5, 19},
                             {6, 15},
                             {4, 11}}));
    p.drawPolygon(QPolygonF({{17, 6},
                             {25, 7},
                             {28, 12},
                             {24, 13.5},
                             {21.5, 12.5},
                             {20, 15.5},
                             {23, 19},
                             {20.5, 25},
                             {18, 21},
                             {17, 15},
                             {18.5, 11.5}}));
    // Meridians and parallels.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 150), 0.9));
    p.drawEllipse(QRectF(9.5, 2.5, 13, 27));
    p.drawLine(QPointF(16, 2.5), QPointF(16, 29.5));
    p.drawLine(QPointF(2.5, 16), QPointF(29.5, 16));
    p.drawLine(QPointF(4.5, 9.5), QPointF(27.5, 9.5));
    p.drawLine(QPointF(4.5, 22.5), QPointF(27.5, 22.5));
    p.restore();

    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(10, 50, 120), 1.0));
    p.drawEllipse(ball);
    return i.done();
}

QImage drawToolHelp() {
    Icon i;
    QPainter& p = i.p;
    roundButton(p, QRectF(2.5, 2.5, 27, 27), QColor(30, 110, 200));
    p.setFont(sansFont(21, true));
    p.setPen(Qt::white);
    text(p, QRectF(2.5, 3.0, 27, 27), Qt::AlignCenter, "?");
    return i.done();
}

QImage drawToolExit() {
    Icon i;
    QPainter& p = i.p;
    roundButton(p, QRectF(2.5, 2.5, 27, 27), QColor(200, 30, 30));
    // The power sign: a ring open at the top and a bar through the gap.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 2.6, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(9, 10, 14, 14), 125 * 16, 290 * 16);
    p.drawLine(QPointF(16, 7.5), QPointF(16, 16));
    return i.done();
}

} // namespace pictures
