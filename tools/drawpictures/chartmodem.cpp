// The modem reference chart: dial modifiers and the everyday AT commands.
#include "paint.h"
#include "pictures.h"

#include <QFontMetricsF>

namespace pictures {

namespace {

constexpr int W = 419, H = 395;

// A row is a command and its meaning in Chinese and English; a row without a
// command is a section heading.
struct Row {
    const char* command;
    const char* zh;
    const char* en;
};

const Row rows[] = {
    {nullptr, "拨号修饰符", "Dial modifiers"},
    {"ATDn", "拨号", "dial number n"},
    {"T", "音频拨号", "tone"},
    {"P", "脉冲拨号", "pulse"},
    {"W", "等待拨号音", "dial tone"},
    {",", "暂停 S8 秒", "pause"},
    {";", "拨号后回命令态", nullptr},
    {"!", "拍叉簧", "hook flash"},
    {"@", "等待静音", "quiet answer"},
    {"R", "应答模式呼叫", "reverse"},
    {"S=n", "拨存储号码", "stored"},
    {nullptr, "常用命令", "Common commands"},
    {"AT", "联络测试", "attention"},
    {"ATZ", "复位到存储配置", "reset"},
    {"AT&F", "恢复出厂设置", "factory"},
    {"ATA", "应答来电", "answer"},
    {"ATH0", "挂机", "hang up"},
    {"ATH1", "摘机", "off hook"},
    {"ATE0/1", "命令回显 关/开", "echo"},
    {"ATQ0/1", "结果码 开/关", "results"},
    {"ATV0/1", "结果码 数字/文字", nullptr},
    {"ATX0..4", "结果码集与音检测", nullptr},
    {"ATL0..3", "扬声器音量", "volume"},
    {"ATM0/1/2", "扬声器 关/至连通/常开", nullptr},
    {"ATS0=n", "第 n 声振铃应答", nullptr},
    {"ATS7=n", "等待载波 n 秒", "carrier"},
    {"ATI", "产品信息", "identify"},
    {"ATO", "回到在线态", "online"},
    {"+++", "转命令态 (前后静默)", nullptr},
    {"AT&W", "保存当前配置", "store"},
    {"AT&C1", "DCD 跟随载波", "DCD"},
    {"AT&D2", "DTR 断开即挂机", "DTR"},
    {"A/", "重复上条命令", "repeat"},
};

constexpr int rowCount = int(sizeof rows / sizeof rows[0]);

void drawRow(QPainter& p, const Row& row, const QRectF& r, qreal commandWidth, bool shaded) {
    if (!row.command) {
        p.fillRect(r, QColor(0, 96, 150));
        p.setPen(Qt::white);
        p.setFont(cjkFont(12, true));
        text(p, r.adjusted(5, 0, -5, 0), Qt::AlignLeft | Qt::AlignVCenter,
             QString::fromUtf8(row.zh) + " / " + QString::fromLatin1(row.en));
        return;
    }
    if (shaded)
        p.fillRect(r, QColor(232, 240, 248));
    p.setPen(QColor(150, 40, 0));
    p.setFont(monoFont(12, true));
    text(p, QRectF(r.left() + 4, r.top(), commandWidth - 6, r.height()),
         Qt::AlignLeft | Qt::AlignVCenter, QString::fromLatin1(row.command));

    const QString zh = QString::fromUtf8(row.zh);
    QRectF meaning(r.left() + commandWidth, r.top(), r.width() - commandWidth - 4, r.height());
    p.setPen(QColor(20, 20, 20));
    p.setFont(cjkFont(12));
    text(p, meaning, Qt::AlignLeft | Qt::AlignVCenter, zh);
    if (row.en) {
        const qreal used = QFontMetricsF(p.font()).horizontalAdvance(zh) + 6;
        meaning.setLeft(meaning.left() + used);
        p.setPen(QColor(90, 100, 115));
        p.setFont(sansFont(11));
        text(p, meaning, Qt::AlignLeft | Qt::AlignVCenter, QString::fromLatin1(row.en));
    }
}

} // namespace

QImage drawChartModem() {
    QImage img = canvas(W, H, Qt::white);
    QPainter p(&img);
    prepare(p);
    chartPage(p, W, H, 24, QString::fromUtf8("Modem 拨号修饰符与常用 AT 命令 / Hayes AT commands"));

    // Two panels side by side; the rows flow down the left one, then the right.
    const int perPanel = (rowCount + 1) / 2;
    const qreal top = 30, gap = 6, margin = 5;
    const qreal panelWidth = (W - 2 * margin - gap) / 2;
    const qreal rowHeight = (H - top - margin) / perPanel;
    const qreal commandWidth = 68;
    for (int i = 0; i < rowCount; ++i) {
        const int panel = i / perPanel, line = i % perPanel;
        const QRectF r(margin + panel * (panelWidth + gap), top + line * rowHeight, panelWidth,
                       rowHeight);
        drawRow(p, rows[i], r, commandWidth, line % 2 == 1);
    }
    p.setPen(QColor(150, 170, 190));
    p.setBrush(Qt::NoBrush);
    for (int panel = 0; panel < 2; ++panel)
        p.drawRect(QRectF(margin + panel * (panelWidth + gap) + 0.5, top + 0.5, panelWidth - 1,
                          perPanel * rowHeight - 1));
    return img;
}

} // namespace pictures
