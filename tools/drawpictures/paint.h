// Drawing helpers shared by the pictures: canvases, fonts and text that reports overflow.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRectF>
#include <QString>
#include <QStringList>

namespace pictures {

// A canvas filled with fill; transparent icons pass Qt::transparent.
QImage canvas(int width, int height, const QColor& fill);

// A painter with antialiasing for shapes and text.
void prepare(QPainter& p);

// Fonts by family name, sizes in pixels.
QFont cjkFont(int px, bool bold = false);  // "Noto Sans CJK SC"
QFont sansFont(int px, bool bold = false); // "DejaVu Sans"
QFont monoFont(int px, bool bold = false); // "DejaVu Sans Mono"

// Draws text in rect with the painter's font and pen. Text wider or taller than rect is
// recorded in overflows(), so that a clipped caption is caught instead of shipped.
void text(QPainter& p, const QRectF& rect, int flags, const QString& s);

// A reference chart's page: light paper, a frame, and a title band of height band.
void chartPage(QPainter& p, int width, int height, int band, const QString& title);

// Everything text() found too big since the last clearOverflows().
const QStringList& overflows();
void clearOverflows();

} // namespace pictures
