// The title strip, the status panel's texture and the program icon.
#include "paint.h"
#include "pictures.h"

#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTransform>
#include <cstdint>

namespace pictures {

namespace {

const QColor windowBlue(0, 128, 192);
const QColor rufous(214, 110, 44);
const QColor rufousDark(150, 66, 24);

// A kestrel seen from below with its wings spread, in a 32 x 32 box, beak up: long
// pointed wings bent at the wrist and a long, narrow tail.
QPainterPath kestrelPath() {
    // Right half from the crown to the middle of the tail's end; the left is its mirror.
    QPainterPath right;
    right.moveTo(16.0, 2.6);
    right.quadTo(17.9, 2.8, 18.0, 5.4);   // head
    right.lineTo(18.5, 8.0);              // shoulder
    right.quadTo(22.0, 6.0, 25.6, 7.6);   // leading edge up to the wrist
    right.quadTo(29.2, 9.6, 31.8, 14.6);  // hand, swept back to the tip
    right.quadTo(27.6, 12.6, 24.6, 12.9); // primaries
    right.quadTo(21.0, 13.4, 18.6, 16.2); // secondaries into the body
    right.lineTo(17.6, 19.2);             // base of the tail
    right.lineTo(19.4, 28.4);             // outer tail feather
    right.quadTo(18.0, 29.9, 16.0, 29.9); // rounded end
    const QPainterPath left = QTransform(-1, 0, 0, 1, 32, 0).map(right).toReversed();
    QPainterPath bird = right;
    bird.connectPath(left);
    bird.closeSubpath();
    return bird;
}

// The bird fitted into rect: rufous body, dark wing tips, an outline in outline.
void drawKestrel(QPainter& p, const QRectF& rect, const QColor& outline, qreal outlineWidth) {
    QTransform t;
    t.translate(rect.left(), rect.top());
    t.scale(rect.width() / 32.0, rect.height() / 32.0);
    const QPainterPath bird = t.map(kestrelPath());

    p.save();
    p.setPen(QPen(outline, outlineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QLinearGradient body(rect.topLeft(), rect.bottomLeft());
    body.setColorAt(0.0, rufous.lighter(115));
    body.setColorAt(1.0, rufousDark);
    p.setBrush(body);
    p.drawPath(bird);

    // Dark primaries at both wing tips, and the dark band near the tail's end.
    p.setClipPath(bird);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 36, 24));
    const qreal sx = rect.width() / 32.0, sy = rect.height() / 32.0;
    auto at = [&](qreal x, qreal y) { return QPointF(rect.left() + x * sx, rect.top() + y * sy); };
    p.drawPolygon(QPolygonF({at(26.5, 6.0), at(33.0, 10.0), at(33.0, 16.0), at(25.5, 16.0)}));
    p.drawPolygon(QPolygonF({at(5.5, 6.0), at(-1.0, 10.0), at(-1.0, 16.0), at(6.5, 16.0)}));
    p.drawRect(QRectF(at(10.0, 26.2), at(22.0, 27.6)));
    p.restore();
}

// The same icon at 64 and 32 pixels: the bird on a rounded blue tile.
QImage programIcon(int size) {
    QImage img = canvas(size, size, Qt::transparent);
    QPainter p(&img);
    prepare(p);
    const qreal s = size / 64.0;
    const QRectF tile(1.0 * s, 1.0 * s, 62.0 * s, 62.0 * s);
    QLinearGradient g(tile.topLeft(), tile.bottomLeft());
    g.setColorAt(0.0, QColor(40, 170, 235));
    g.setColorAt(1.0, QColor(0, 88, 150));
    p.setPen(QPen(QColor(0, 60, 110), size >= 64 ? 1.5 : 1.0));
    p.setBrush(g);
    p.drawRoundedRect(tile, 12.0 * s, 12.0 * s);
    drawKestrel(p, QRectF(5.0 * s, 4.0 * s, 54.0 * s, 56.0 * s), Qt::white, size >= 64 ? 2.0 : 1.2);
    return img;
}

} // namespace

QImage drawTitle() {
    QImage img = canvas(630, 41, windowBlue);
    QPainter p(&img);
    prepare(p);

    QLinearGradient sky(0, 0, 0, 41);
    sky.setColorAt(0.0, QColor(0, 92, 150));
    sky.setColorAt(0.55, QColor(0, 118, 180));
    sky.setColorAt(1.0, windowBlue);
    p.fillRect(img.rect(), sky);
    p.setPen(QColor(70, 170, 225));
    p.drawLine(0, 0, 629, 0);
    p.setPen(QColor(0, 70, 120));
    p.drawLine(0, 40, 629, 40);

    // The mark: the bird on a pale disc.
    const QRectF disc(6.5, 3.5, 34.0, 34.0);
    QRadialGradient shine(disc.center() - QPointF(6, 8), 30);
    shine.setColorAt(0.0, Qt::white);
    shine.setColorAt(1.0, QColor(190, 225, 245));
    p.setPen(QPen(QColor(0, 60, 110), 1.0));
    p.setBrush(shine);
    p.drawEllipse(disc);
    drawKestrel(p, disc.adjusted(2.5, 2.0, -2.5, -2.0), QColor(90, 44, 16), 0.8);

    // The word, slanted by hand (the upright bold face is the one every machine has), with
    // a soft shadow so that it stands off the blue.
    QFont word = sansFont(26, true);
    word.setLetterSpacing(QFont::AbsoluteSpacing, 0.5);
    p.setFont(word);
    p.save();
    p.setTransform(QTransform(1, 0, -0.2, 1, 4, 0)); // x' = x - 0.2 y + 4
    const QRectF wordBox(48, 2, 130, 36);
    p.setPen(QColor(0, 40, 80, 150));
    text(p, wordBox.translated(1.5, 1.5), Qt::AlignLeft | Qt::AlignVCenter, "Kestrel");
    p.setPen(Qt::white);
    text(p, wordBox, Qt::AlignLeft | Qt::AlignVCenter, "Kestrel");
    p.restore();

    // From x = 190 to about 330 the window writes its version label: keep that calm.
    // To the right, one character's frame on the line: start bit, eight data bits
    // (0x4B, least significant first), stop bit, idle.
    const int bits[] = {1, 1, 0, 1, 1, 0, 1, 0, 0, 1, 0, 1, 1};
    const qreal x0 = 360, bitWidth = 19, high = 12, low = 29;
    QPainterPath wave;
    wave.moveTo(x0 - 20, high);
    qreal level = high;
    for (int i = 0; i < int(sizeof bits / sizeof bits[0]); ++i) {
        const qreal y = bits[i] ? high : low;
        const qreal x = x0 + i * bitWidth;
        if (y != level)
            wave.lineTo(x, y);
        wave.lineTo(x + bitWidth, y);
        level = y;
    }
    wave.lineTo(624, level);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(120, 210, 250, 150), 2.0, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.drawPath(wave);

    p.setFont(monoFont(9));
    p.setPen(QColor(170, 225, 250, 170));
    const char* names[] = {"S", "0", "1", "2", "3", "4", "5", "6", "7"};
    for (int i = 0; i < 9; ++i)
        text(p, QRectF(x0 + (i + 2) * bitWidth, 29.5, bitWidth, 11), Qt::AlignCenter,
             QString::fromLatin1(names[i]));
    return img;
}

QImage drawPanel() {
    QImage img = canvas(126, 300, QColor(192, 192, 192));
    // A fine, fixed grain: a small linear congruential generator keeps the file the
    // same from run to run.
    std::uint32_t seed = 0x4b657374u;
    auto next = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 16;
    };
    for (int y = 0; y < img.height(); ++y) {
        // A gentle vertical shading and a brushed streak every few rows.
        const int shade = 200 - y * 14 / img.height();
        const int streak = (next() % 5 == 0) ? 3 : 0;
        auto* row = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            const int grain = int(next() % 9) - 4;
            const int v = shade + grain + streak;
            row[x] = qRgb(v, v, v + 2);
        }
    }
    return img;
}

QImage drawIcon64() {
    return programIcon(64);
}
QImage drawIcon32() {
    return programIcon(32);
}
QImage drawIcon16() {
    return programIcon(16);
}
QImage drawIcon22() {
    return programIcon(22);
}
QImage drawIcon24() {
    return programIcon(24);
}
QImage drawIcon48() {
    return programIcon(48);
}
QImage drawIcon128() {
    return programIcon(128);
}
QImage drawIcon256() {
    return programIcon(256);
}

} // namespace pictures
