#include "_abproc.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QPolygon>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <numbers>
#include <thread>

namespace {

// Palette entries standing in for the system colour indices 0 to 30.
struct TSysColor {
    QPalette::ColorGroup Group;
    QPalette::ColorRole Role;
};
constexpr TSysColor SysColors[] = {
    {QPalette::Active, QPalette::Button},          // 0 scroll bar
    {QPalette::Active, QPalette::Dark},            // 1 desktop
    {QPalette::Active, QPalette::Highlight},       // 2 active caption
    {QPalette::Active, QPalette::Mid},             // 3 inactive caption
    {QPalette::Active, QPalette::Window},          // 4 menu
    {QPalette::Active, QPalette::Base},            // 5 window
    {QPalette::Active, QPalette::Shadow},          // 6 window frame
    {QPalette::Active, QPalette::WindowText},      // 7 menu text
    {QPalette::Active, QPalette::WindowText},      // 8 window text
    {QPalette::Active, QPalette::HighlightedText}, // 9 caption text
    {QPalette::Active, QPalette::Button},          // 10 active border
    {QPalette::Active, QPalette::Button},          // 11 inactive border
    {QPalette::Active, QPalette::Mid},             // 12 application workspace
    {QPalette::Active, QPalette::Highlight},       // 13 highlight
    {QPalette::Active, QPalette::HighlightedText}, // 14 highlighted text
    {QPalette::Active, QPalette::Button},          // 15 button face
    {QPalette::Active, QPalette::Dark},            // 16 button shadow
    {QPalette::Disabled, QPalette::Text},          // 17 grey text
    {QPalette::Active, QPalette::ButtonText},      // 18 button text
    {QPalette::Inactive, QPalette::WindowText},    // 19 inactive caption text
    {QPalette::Active, QPalette::Light},           // 20 button highlight
    {QPalette::Active, QPalette::Shadow},          // 21 3-D dark shadow
    {QPalette::Active, QPalette::Midlight},        // 22 3-D light
    {QPalette::Active, QPalette::ToolTipText},     // 23 tool-tip text
    {QPalette::Active, QPalette::ToolTipBase},     // 24 tool-tip background
    {QPalette::Active, QPalette::Shadow},          // 25 unused
    {QPalette::Active, QPalette::Link},            // 26 hot-tracked item
    {QPalette::Active, QPalette::Highlight},       // 27 active caption gradient
    {QPalette::Active, QPalette::Mid},             // 28 inactive caption gradient
    {QPalette::Active, QPalette::Highlight},       // 29 highlighted menu item
    {QPalette::Active, QPalette::Window},          // 30 menu bar
};

// The box of a filled and outlined shape: Qt's aliased 1-pixel outline of a w by h rectangle
// covers w + 1 pixels, so the exclusive right and bottom edges map to a size one smaller.
QRectF OutlineBox(const TRect& R) {
    return QRectF(R.Left, R.Top, R.Right - R.Left - 1, R.Bottom - R.Top - 1);
}

// The parametric angle in degrees (counter-clockwise, 0 at three o'clock) of the point where the
// ray from the centre of Box towards (X, Y) meets the ellipse inscribed in Box.
double EllipseAngle(const QRectF& Box, int X, int Y) {
    const QPointF c = Box.center();
    const double dx = X - c.x();
    const double dy = c.y() - Y; // y grows downward on the canvas
    const double rad = std::atan2(dy / (Box.height() / 2), dx / (Box.width() / 2));
    return rad * 180 / std::numbers::pi;
}

void DrawHighlight(QPainter& Canvas, const TRect& Box) {
    const int W = Box.Right - Box.Left;
    const int H = Box.Bottom - Box.Top;
    // Width 0 is Qt's cosmetic pen, the thinnest it has, as for LEDs under 8 pixels.
    QPen pen(AbColor(clBtnHighlight), W / 8);
    pen.setCapStyle(Qt::SquareCap);
    Canvas.setPen(pen);
    TRect inner = Box;
    AbBorder(inner, W / 5);
    if (inner.Right - inner.Left < 2 || inner.Bottom - inner.Top < 2)
        return;
    const QRectF arcBox = OutlineBox(inner);
    const double start = EllipseAngle(arcBox, Box.Left + W / 2, Box.Top);
    const double end = EllipseAngle(arcBox, Box.Left, Box.Top + H / 2);
    double span = end - start;
    while (span <= 0)
        span += 360;
    Canvas.drawArc(arcBox, qRound(start * 16), qRound(span * 16));
}

// A closed polygon filled with the brush and outlined with the pen. Qt's own aliased outline of a
// polygon drops some right and bottom vertices, so the outline is laid pixel by pixel along each
// edge, every vertex included; the fill covers the pixels whose centres lie inside.
void DrawPolygon(QPainter& Canvas, const QPoint* Points, int Count) {
    QPolygonF fill;
    for (int i = 0; i < Count; ++i)
        fill << QPointF(Points[i]) + QPointF(0.5, 0.5);
    const QPen pen = Canvas.pen();
    Canvas.setPen(Qt::NoPen);
    Canvas.drawPolygon(fill);
    Canvas.setPen(pen);

    QPolygon outline;
    for (int i = 0; i < Count; ++i) {
        // Bresenham from this vertex to the next.
        QPoint a = Points[i];
        const QPoint b = Points[(i + 1) % Count];
        const int dx = std::abs(b.x() - a.x()), sx = a.x() < b.x() ? 1 : -1;
        const int dy = -std::abs(b.y() - a.y()), sy = a.y() < b.y() ? 1 : -1;
        int err = dx + dy;
        for (;;) {
            outline << a;
            if (a == b)
                break;
            const int e2 = 2 * err;
            if (e2 >= dy)
                err += dy, a.rx() += sx;
            if (e2 <= dx)
                err += dx, a.ry() += sy;
        }
    }
    Canvas.drawPoints(outline);
}

} // namespace

QColor AbColor(TColor Color) {
    if (Color & 0x80000000u) {
        const quint32 index = Color & 0xFF;
        if (index >= std::size(SysColors))
            return QColor(Qt::black);
        const TSysColor& s = SysColors[index];
        return QGuiApplication::palette().color(s.Group, s.Role);
    }
    return QColor(Color & 0xFF, (Color >> 8) & 0xFF, (Color >> 16) & 0xFF);
}

void AbDrawLED(QPainter& Canvas, const TRect& Box, TLEDShape Shape, TColor Outline, TColor Fill) {
    Canvas.setPen(QPen(AbColor(Outline), 1));
    QBrush brush = Canvas.brush();
    brush.setColor(AbColor(Fill));
    Canvas.setBrush(brush);

    const int L = Box.Left, T = Box.Top, R = Box.Right, B = Box.Bottom;
    const int W = R - L, H = B - T;
    const int hw = W / 2, hh = H / 2;
    const auto triangle = [&Canvas](QPoint a, QPoint b, QPoint c) {
        const QPoint points[] = {a, b, c};
        DrawPolygon(Canvas, points, 3);
    };
    switch (Shape) {
    case sRound:
        // An empty box (an LED drawn before its first layout) shows nothing.
        if (W <= 0 || H <= 0)
            return;
        Canvas.drawEllipse(OutlineBox(Box));
        DrawHighlight(Canvas, Box);
        break;
    case sArrowLeft:
        triangle({L, T + hh}, {R - 1, T}, {R - 1, B - 1});
        break;
    case sArrowRight:
        triangle({L, T}, {R - 1, T + hh}, {L, B - 1});
        break;
    case sArrowUp:
        triangle({L + hw, T}, {R - 1, B - 1}, {L, B - 1});
        break;
    case sArrowDown:
        triangle({L, T}, {R - 1, T}, {L + hw, B - 1});
        break;
    case sRectangle:
        if (W <= 0 || H <= 0)
            return;
        Canvas.drawRect(OutlineBox(Box));
        break;
    }
}

QPoint AbGetTextSize(QPainter& Canvas, const QString& Text, int& W, int& H) {
    const QFontMetrics fm = Canvas.fontMetrics();
    W = fm.horizontalAdvance(Text);
    H = fm.height();
    return QPoint(W / 2, H / 2);
}

void AbTextOut(QPainter& Canvas, int X, int Y, const QString& Text, toPos Anchor) {
    int W = 0, H = 0;
    const QPoint half = AbGetTextSize(Canvas, Text, W, H);
    int left = 0, top = 0;
    switch (Anchor) {
    case toTopLeft:
        left = X, top = Y;
        break;
    case toTopCenter:
        left = X - half.x(), top = Y;
        break;
    case toTopRight:
        left = X - W, top = Y;
        break;
    case toMidLeft:
        left = X, top = Y - half.y();
        break;
    case toMidCenter:
        left = X - half.x(), top = Y - half.y();
        break;
    case toMidRight:
        left = X - W, top = Y - half.y();
        break;
    case toBotLeft:
        left = X, top = Y - H;
        break;
    case toBotCenter:
        left = X - half.x(), top = Y - H;
        break;
    case toBotRight:
        left = X - W, top = Y - H;
        break;
    }
    Canvas.drawText(QPoint(left, top + Canvas.fontMetrics().ascent()), Text);
}

void AbBorder(TRect& R, int N) {
    R.Left += N;
    R.Top += N;
    R.Right -= N;
    R.Bottom -= N;
}

// ---- The flash timer ----
//
// The stop flag, the wake flag and the tick function are guarded by TimerLock; the thread is
// joined before AbStopFlashTimer returns, so no tick runs after it.

namespace {

std::mutex TimerLock;
std::condition_variable TimerWake;
bool TimerStop = false;
bool TimerKicked = false;           // started again since the timer last looked
TFlashTimerTick TimerTick = nullptr; // under TimerLock
std::thread TimerThread;            // the timer's identity: running while joinable

void TimerLoop() {
    using namespace std::chrono;
    constexpr auto period = milliseconds(FlashPeriodMs);
    auto next = steady_clock::now() + period;
    bool idle = false;
    std::unique_lock lock(TimerLock);
    for (;;) {
        if (idle) {
            // Nothing to tick: no ticks until the timer is started again. A tick's counter comes
            // from the clock, so the pause changes no phase.
            TimerWake.wait(lock, [] { return TimerStop || TimerKicked; });
            if (TimerStop)
                return;
            next = steady_clock::now() + period;
        }
        TimerKicked = false;
        if (TimerWake.wait_until(lock, next, [] { return TimerStop; }))
            return;
        const TFlashTimerTick tick = TimerTick;
        lock.unlock();
        // With TimerLock free: a start after this tick's look sets TimerKicked, which the wait
        // above sees.
        idle = !tick();
        lock.lock();
        next += period;
        // After a long stall (a suspended machine) the ticks resume at the normal pace instead
        // of catching up in a burst.
        const auto now = steady_clock::now();
        if (next < now - period)
            next = now + period;
    }
}

} // namespace

void AbStartFlashTimer(TFlashTimerTick Tick) {
    {
        std::lock_guard lock(TimerLock);
        TimerTick = Tick;
        TimerStop = false;
        TimerKicked = true;
    }
    if (TimerThread.joinable())
        TimerWake.notify_all();
    else
        TimerThread = std::thread(TimerLoop); // the first tick comes one period later
}

void AbStopFlashTimer() {
    if (!TimerThread.joinable())
        return;
    {
        std::lock_guard lock(TimerLock);
        TimerStop = true;
    }
    TimerWake.notify_all();
    TimerThread.join();
}

bool AbFlashTimerRunning() {
    return TimerThread.joinable();
}
