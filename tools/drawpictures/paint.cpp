#include "paint.h"

#include <QFontMetricsF>

namespace pictures {

namespace {

QStringList& overflowList() {
    static QStringList list;
    return list;
}

QFont font(const char* family, int px, bool bold) {
    QFont f(QString::fromLatin1(family));
    f.setPixelSize(px);
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
}

} // namespace

QImage canvas(int width, int height, const QColor& fill) {
    QImage img(width, height, QImage::Format_ARGB32_Premultiplied);
    img.fill(fill);
    return img;
}

void prepare(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
}

QFont cjkFont(int px, bool bold) {
    return font("Noto Sans CJK SC", px, bold);
}
QFont sansFont(int px, bool bold) {
    return font("DejaVu Sans", px, bold);
}
QFont monoFont(int px, bool bold) {
    return font("DejaVu Sans Mono", px, bold);
}

void text(QPainter& p, const QRectF& rect, int flags, const QString& s) {
    const QFontMetricsF fm(p.font());
    // The height that matters is the ink's: CJK fonts have a line height far above their
    // glyphs, and a table row only has to hold the glyphs. Half a pixel of slack, since
    // antialiased edges may touch the border without anything being cut off.
    const double inkHeight = fm.tightBoundingRect(s).height();
    if (fm.horizontalAdvance(s) > rect.width() + 0.5 || inkHeight > rect.height() + 0.5)
        overflowList().append(QStringLiteral("\"%1\" in %2x%3 (needs %4x%5)")
                                  .arg(s)
                                  .arg(rect.width())
                                  .arg(rect.height())
                                  .arg(fm.horizontalAdvance(s))
                                  .arg(inkHeight));
    p.drawText(rect, flags, s);
}

void chartPage(QPainter& p, int width, int height, int band, const QString& title) {
    p.fillRect(0, 0, width, height, QColor(252, 251, 246));
    p.fillRect(0, 0, width, band, QColor(0, 128, 192));
    p.setPen(QColor(0, 80, 130));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(0.5, 0.5, width - 1, height - 1));
    p.setFont(cjkFont(13, true));
    p.setPen(Qt::white);
    text(p, QRectF(4, 0, width - 8, band), Qt::AlignCenter, title);
}

const QStringList& overflows() {
    return overflowList();
}
void clearOverflows() {
    overflowList().clear();
}

} // namespace pictures
