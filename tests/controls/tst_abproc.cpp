#include "_abproc.h"

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <gtest/gtest.h>

namespace {

constexpr TColor Outline = 0x00FF0000; // blue
constexpr TColor Fill = 0x000000FF;    // red
const QRgb Background = qRgb(255, 0, 255);

QImage Canvas(int W = 32, int H = 32) {
    QImage img(W, H, QImage::Format_RGB32);
    img.fill(Background);
    return img;
}

QImage DrawLED(const TRect& Box, TLEDShape Shape, Qt::BrushStyle Style = Qt::SolidPattern) {
    QImage img = Canvas();
    QPainter p(&img);
    p.setBrush(Style);
    AbDrawLED(p, Box, Shape, Outline, Fill);
    return img;
}

QRgb Rgb(TColor Color) {
    return AbColor(Color).rgb();
}

// The bounding box of every pixel that differs from the background.
QRect Ink(const QImage& Img) {
    QRect box;
    for (int y = 0; y < Img.height(); ++y)
        for (int x = 0; x < Img.width(); ++x)
            if (Img.pixel(x, y) != Background)
                box |= QRect(x, y, 1, 1);
    return box;
}

} // namespace

TEST(AbColor, DecodesLiteralAndSystemColours) {
    EXPECT_EQ(AbColor(0x00332211), QColor(0x11, 0x22, 0x33));
    EXPECT_EQ(AbColor(clLime), QColor(0, 255, 0));
    const QPalette pal = QGuiApplication::palette();
    EXPECT_EQ(AbColor(clBtnFace), pal.color(QPalette::Active, QPalette::Button));
    EXPECT_EQ(AbColor(clBtnShadow), pal.color(QPalette::Active, QPalette::Dark));
    EXPECT_EQ(AbColor(clBtnHighlight), pal.color(QPalette::Active, QPalette::Light));
    EXPECT_EQ(AbColor(0x800000FF), QColor(Qt::black)); // no such system colour
}

TEST(AbDrawLED, RoundLedIsInscribedWithHighlightArc) {
    const QImage img = DrawLED({0, 0, 13, 13}, sRound);
    // The outline touches the middle of every edge of the box, right and bottom exclusive.
    for (QPoint p : {QPoint(6, 0), QPoint(0, 6), QPoint(12, 6), QPoint(6, 12)})
        EXPECT_EQ(img.pixel(p), Rgb(Outline)) << p.x() << "," << p.y();
    for (QPoint p : {QPoint(13, 6), QPoint(6, 13), QPoint(0, 0), QPoint(12, 12), QPoint(12, 0)})
        EXPECT_EQ(img.pixel(p), Background) << p.x() << "," << p.y();
    // The glint: the upper-left quarter of the circle inscribed in (2, 2, 11, 11), from its top
    // (6, 2) counter-clockwise to its left (2, 6).
    for (QPoint p : {QPoint(6, 2), QPoint(3, 3), QPoint(2, 6)})
        EXPECT_EQ(img.pixel(p), Rgb(clBtnHighlight)) << p.x() << "," << p.y();
    for (QPoint p : {QPoint(7, 2), QPoint(2, 7), QPoint(10, 6), QPoint(6, 10), QPoint(6, 6)})
        EXPECT_EQ(img.pixel(p), Rgb(Fill)) << p.x() << "," << p.y();
}

TEST(AbDrawLED, EmptyRoundBoxShowsNothing) {
    EXPECT_TRUE(Ink(DrawLED({0, 0, 0, 0}, sRound)).isNull());
}

TEST(AbDrawLED, ArrowVertices) {
    struct Case {
        TLEDShape Shape;
        QPoint Vertices[3];
        QPoint Inside;
        QPoint Outside[2];
    };
    // All on the box (0, 0, 10, 20).
    const Case cases[] = {
        {sArrowRight, {{0, 0}, {9, 10}, {0, 19}}, {2, 10}, {{9, 9}, {9, 11}}},
        {sArrowLeft, {{0, 10}, {9, 0}, {9, 19}}, {7, 10}, {{0, 8}, {0, 11}}},
        {sArrowUp, {{5, 0}, {9, 19}, {0, 19}}, {5, 15}, {{4, 0}, {6, 0}}},
        {sArrowDown, {{0, 0}, {9, 0}, {5, 19}}, {5, 4}, {{4, 19}, {6, 19}}},
    };
    for (const Case& c : cases) {
        const QImage img = DrawLED({0, 0, 10, 20}, c.Shape);
        for (QPoint v : c.Vertices)
            EXPECT_EQ(img.pixel(v), Rgb(Outline)) << int(c.Shape) << ": " << v.x() << "," << v.y();
        EXPECT_EQ(img.pixel(c.Inside), Rgb(Fill)) << int(c.Shape);
        for (QPoint o : c.Outside)
            EXPECT_EQ(img.pixel(o), Background) << int(c.Shape) << ": " << o.x() << "," << o.y();
        EXPECT_EQ(Ink(img), QRect(0, 0, 10, 20)) << int(c.Shape);
    }
}

TEST(AbDrawLED, RectangleFillsItsBoxWithSquareCorners) {
    const QImage img = DrawLED({1, 1, 8, 6}, sRectangle);
    EXPECT_EQ(Ink(img), QRect(1, 1, 7, 5));
    for (QPoint p : {QPoint(1, 1), QPoint(7, 1), QPoint(1, 5), QPoint(7, 5)})
        EXPECT_EQ(img.pixel(p), Rgb(Outline)) << p.x() << "," << p.y();
    EXPECT_EQ(img.pixel(4, 3), Rgb(Fill));
}

TEST(AbDrawLED, KeepsTheCallersBrushStyle) {
    const QImage img = DrawLED({1, 1, 8, 6}, sRectangle, Qt::NoBrush);
    EXPECT_EQ(img.pixel(1, 1), Rgb(Outline));
    EXPECT_EQ(img.pixel(4, 3), Background);
}

TEST(AbDrawLED, UnknownShapeDrawsNothingButSetsPenAndBrush) {
    QImage img = Canvas();
    QPainter p(&img);
    p.setBrush(Qt::SolidPattern);
    AbDrawLED(p, {0, 0, 13, 13}, TLEDShape(6), Outline, Fill);
    EXPECT_EQ(p.pen().color(), AbColor(Outline));
    EXPECT_EQ(p.brush().color(), AbColor(Fill));
    p.end();
    EXPECT_TRUE(Ink(img).isNull());
}

TEST(AbTextOut, AnchorsPlaceTheTextBox) {
    QFont font = QApplication::font();
    font.setPixelSize(12);
    const QString text = QStringLiteral("Wg开");
    const QFontMetrics fm(font);
    const int W = fm.horizontalAdvance(text), H = fm.height();
    const int X = 60, Y = 30;
    struct Case {
        toPos Anchor;
        int Left, Top;
    };
    const Case cases[] = {
        {toTopLeft, X, Y},
        {toTopCenter, X - W / 2, Y},
        {toTopRight, X - W, Y},
        {toMidLeft, X, Y - H / 2},
        {toMidCenter, X - W / 2, Y - H / 2},
        {toMidRight, X - W, Y - H / 2},
        {toBotLeft, X, Y - H},
        {toBotCenter, X - W / 2, Y - H},
        {toBotRight, X - W, Y - H},
        {toPos(9), 0, 0},
    };
    const auto draw = [&](int x, int y, toPos anchor) {
        QImage img = Canvas(120, 60);
        QPainter p(&img);
        p.setFont(font);
        p.setPen(Qt::black);
        AbTextOut(p, x, y, text, anchor);
        return img;
    };
    // Top-left anchoring keeps the ink inside the measured box.
    const QRect ink = Ink(draw(X, Y, toTopLeft));
    ASSERT_FALSE(ink.isNull());
    EXPECT_TRUE(QRect(X, Y, W, H).contains(ink))
        << ink.x() << "," << ink.y() << " " << ink.width() << "x" << ink.height();
    // Every other anchor draws the same pixels as top-left anchoring at the corner it implies.
    for (const Case& c : cases)
        EXPECT_EQ(draw(X, Y, c.Anchor), draw(c.Left, c.Top, toTopLeft)) << int(c.Anchor);
}

TEST(AbTextOut, OddWidthLosesTheHalfPixel) {
    QImage img = Canvas();
    QPainter p(&img);
    QFont font = QApplication::font();
    for (int size = 8; size < 20; ++size) {
        font.setPixelSize(size);
        p.setFont(font);
        int W = 0, H = 0;
        const QPoint half = AbGetTextSize(p, QStringLiteral("Kestrel"), W, H);
        EXPECT_EQ(half, QPoint(W / 2, H / 2));
        EXPECT_EQ(W, QFontMetrics(font).horizontalAdvance(QStringLiteral("Kestrel")));
        EXPECT_EQ(H, QFontMetrics(font).height());
    }
}

TEST(AbBorder, ShrinksOrGrows) {
    TRect r{0, 0, 13, 13};
    AbBorder(r, 2);
    EXPECT_EQ(r, (TRect{2, 2, 11, 11}));
    AbBorder(r, -3);
    EXPECT_EQ(r, (TRect{-1, -1, 14, 14}));
    EXPECT_EQ(AbMaxInt(3, -4), 3);
    EXPECT_EQ(AbMaxInt(-4, 3), 3);
    EXPECT_EQ(AbMaxInt(5, 5), 5);
}
