// The serial-port reference chart: the DB9 face, its pin table and two cables.
#include "paint.h"
#include "pictures.h"

#include <QLinearGradient>

namespace pictures {

namespace {

constexpr int W = 332, H = 351;

struct Pin {
    int number;
    const char* signal;
    const char* name;
    const char* zh;
};

// RS-232 on a DB9, seen from the terminal (DTE) side.
const Pin pins[9] = {
    {1, "DCD", "Data Carrier Detect", "载波检测"},
    {2, "RXD", "Receive Data", "接收数据"},
    {3, "TXD", "Transmit Data", "发送数据"},
    {4, "DTR", "Data Terminal Ready", "数据终端就绪"},
    {5, "GND", "Signal Ground", "信号地"},
    {6, "DSR", "Data Set Ready", "数据设备就绪"},
    {7, "RTS", "Request To Send", "请求发送"},
    {8, "CTS", "Clear To Send", "清除发送"},
    {9, "RI", "Ring Indicator", "振铃指示"},
};

// One wire of a cable diagram: pin on the left plug to pin on the right plug.
struct Wire {
    int from, to;
    QColor colour;
};

void drawConnector(QPainter& p, const QRectF& r) {
    // Flange, screw holes, D-shell wide side up, insulator, pins 1-5 over 6-9.
    QLinearGradient metal(r.topLeft(), r.bottomLeft());
    metal.setColorAt(0.0, QColor(236, 238, 242));
    metal.setColorAt(1.0, QColor(160, 165, 175));
    p.setPen(QPen(QColor(80, 85, 95), 1.0));
    p.setBrush(metal);
    p.drawRoundedRect(r, 5, 5);
    const qreal cx = r.center().x(), cy = r.center().y();
    p.setBrush(QColor(70, 70, 80));
    p.drawEllipse(QPointF(r.left() + 12, cy), 5, 5);
    p.drawEllipse(QPointF(r.right() - 12, cy), 5, 5);

    const qreal top = r.top() + 5, bottom = r.bottom() - 5;
    p.setPen(QPen(QColor(70, 75, 85), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(205, 208, 215));
    p.drawPolygon(
        QPolygonF({{cx - 62, top}, {cx + 62, top}, {cx + 50, bottom}, {cx - 50, bottom}}));
    p.setPen(QPen(QColor(20, 20, 25), 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(50, 52, 62));
    p.drawPolygon(QPolygonF({{cx - 58, top + 3},
                             {cx + 58, top + 3},
                             {cx + 47.5, bottom - 3},
                             {cx - 47.5, bottom - 3}}));

    const qreal pitch = 22, rowTop = top + 14, rowBottom = bottom - 14, radius = 7.5;
    p.setFont(sansFont(10, true));
    for (int k = 0; k < 9; ++k) {
        const bool upper = k < 5;
        const QPointF c = upper ? QPointF(cx + (k - 2) * pitch, rowTop)
                                : QPointF(cx + (k - 5 - 1.5) * pitch, rowBottom);
        p.setPen(QPen(QColor(150, 110, 20), 1.0));
        p.setBrush(QColor(250, 210, 80));
        p.drawEllipse(c, radius, radius);
        p.setPen(QColor(30, 30, 30));
        text(p, QRectF(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius), Qt::AlignCenter,
             QString::number(pins[k].number));
    }
}

void drawTable(QPainter& p, qreal top, qreal rowHeight) {
    const qreal cols[] = {6, 40, 84, 226, W - 6};
    const QStringList heads = {"针脚", "信号", "英文名称", "中文名称"};
    p.fillRect(QRectF(cols[0], top, cols[4] - cols[0], rowHeight + 1), QColor(0, 96, 150));
    p.setPen(Qt::white);
    p.setFont(cjkFont(11, true));
    for (int c = 0; c < 4; ++c)
        text(p, QRectF(cols[c] + 3, top, cols[c + 1] - cols[c] - 6, rowHeight + 1),
             Qt::AlignLeft | Qt::AlignVCenter, heads[c]);
    top += rowHeight + 1;
    for (int k = 0; k < 9; ++k) {
        const QRectF row(cols[0], top + k * rowHeight, cols[4] - cols[0], rowHeight);
        p.fillRect(row, k % 2 ? QColor(232, 240, 248) : QColor(252, 251, 246));
        auto cell = [&](int c) {
            return QRectF(cols[c] + 3, row.top(), cols[c + 1] - cols[c] - 6, rowHeight);
        };
        p.setPen(QColor(20, 20, 20));
        p.setFont(sansFont(11, true));
        text(p, cell(0), Qt::AlignHCenter | Qt::AlignVCenter, QString::number(pins[k].number));
        p.setPen(QColor(0, 70, 150));
        p.setFont(monoFont(11, true));
        text(p, cell(1), Qt::AlignLeft | Qt::AlignVCenter, pins[k].signal);
        p.setPen(QColor(20, 20, 20));
        p.setFont(sansFont(11));
        text(p, cell(2), Qt::AlignLeft | Qt::AlignVCenter, pins[k].name);
        p.setFont(cjkFont(11));
        text(p, cell(3), Qt::AlignLeft | Qt::AlignVCenter, QString::fromUtf8(pins[k].zh));
    }
    p.setPen(QColor(150, 170, 190));
    p.setBrush(Qt::NoBrush);
    p.drawRect(
        QRectF(cols[0] + 0.5, top - rowHeight - 0.5, cols[4] - cols[0] - 1, 10 * rowHeight + 1));
}

// A cable between two plugs: pins 1 to 9 down each side, wires between.
void drawCable(QPainter& p, const QRectF& r, const QString& title, const QString& leftEnd,
               const QString& rightEnd, const std::vector<Wire>& wires) {
    p.setPen(QColor(150, 170, 190));
    p.setBrush(QColor(245, 248, 252));
    p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);

    p.setFont(cjkFont(11, true));
    p.setPen(QColor(0, 80, 140));
    text(p, QRectF(r.left() + 2, r.top() + 1, r.width() - 4, 14), Qt::AlignCenter, title);

    const qreal labelWidth = 40;
    const qreal leftDot = r.left() + 6 + labelWidth + 4, rightDot = r.right() - 6 - labelWidth - 4;
    p.setFont(sansFont(10, true));
    p.setPen(QColor(60, 60, 60));
    text(p, QRectF(r.left() + 4, r.top() + 15, labelWidth + 8, 12), Qt::AlignCenter, leftEnd);
    text(p, QRectF(r.right() - labelWidth - 12, r.top() + 15, labelWidth + 8, 12), Qt::AlignCenter,
         rightEnd);

    const qreal firstRow = r.top() + 33, rowStep = (r.bottom() - 6 - firstRow) / 8;
    auto y = [&](int pin) { return firstRow + (pin - 1) * rowStep; };
    p.setFont(monoFont(10));
    for (int k = 0; k < 9; ++k) {
        const QString num = QString::number(pins[k].number);
        const QString sig = QString::fromLatin1(pins[k].signal);
        const qreal yy = y(pins[k].number);
        // Numbers in their own column on the outside, names beside the contacts.
        p.setPen(QColor(20, 20, 20));
        text(p, QRectF(r.left() + 5, yy - 6, 10, 12), Qt::AlignRight | Qt::AlignVCenter, num);
        text(p, QRectF(r.left() + 18, yy - 6, labelWidth - 13, 12),
             Qt::AlignLeft | Qt::AlignVCenter, sig);
        text(p, QRectF(r.right() - 5 - labelWidth, yy - 6, labelWidth - 13, 12),
             Qt::AlignRight | Qt::AlignVCenter, sig);
        text(p, QRectF(r.right() - 15, yy - 6, 10, 12), Qt::AlignLeft | Qt::AlignVCenter, num);
    }
    for (const Wire& w : wires) {
        p.setPen(QPen(w.colour, 1.4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(leftDot, y(w.from)), QPointF(rightDot, y(w.to)));
    }
    p.setPen(QPen(QColor(40, 40, 40), 0.8));
    p.setBrush(QColor(250, 210, 80));
    for (int pin = 1; pin <= 9; ++pin) {
        p.drawEllipse(QPointF(leftDot, y(pin)), 2.2, 2.2);
        p.drawEllipse(QPointF(rightDot, y(pin)), 2.2, 2.2);
    }
}

} // namespace

QImage drawChartPort() {
    QImage img = canvas(W, H, Qt::white);
    QPainter p(&img);
    prepare(p);
    chartPage(p, W, H, 22, QString::fromUtf8("DB9 串口引脚定义 / DB9 pin assignment"));

    drawConnector(p, QRectF(8, 28, 184, 56));
    p.setPen(QColor(20, 20, 20));
    p.setFont(cjkFont(12, true));
    text(p, QRectF(198, 30, 128, 17), Qt::AlignLeft | Qt::AlignVCenter,
         QString::fromUtf8("DTE 公头 (针面)"));
    p.setFont(sansFont(11));
    text(p, QRectF(198, 49, 128, 15), Qt::AlignLeft | Qt::AlignVCenter, "DTE male plug,");
    text(p, QRectF(198, 64, 128, 15), Qt::AlignLeft | Qt::AlignVCenter, "facing the pins");

    drawTable(p, 90, 13);

    const QColor plain(60, 60, 60), data(0, 90, 200), handshake(220, 110, 0), ready(0, 140, 60),
        ground(20, 20, 20);
    std::vector<Wire> straight;
    for (int pin = 1; pin <= 9; ++pin)
        straight.push_back({pin, pin, pin == 5 ? ground : plain});
    // Each side's TXD to the other's RXD, RTS to CTS, and DTR to DSR plus DCD.
    const std::vector<Wire> nullModem = {
        {2, 3, data},  {3, 2, data},  {5, 5, ground}, {7, 8, handshake}, {8, 7, handshake},
        {4, 6, ready}, {4, 1, ready}, {6, 4, ready},  {1, 4, ready},
    };
    drawCable(p, QRectF(6, 226, 157, 120), QString::fromUtf8("直连线 / Straight-through"), "DTE",
              "DCE", straight);
    drawCable(p, QRectF(169, 226, 157, 120), QString::fromUtf8("零调制解调器线 / Null modem"),
              "DTE", "DTE", nullModem);
    return img;
}

} // namespace pictures
