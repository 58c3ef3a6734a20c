#include "PlotChart.h"
#include "PlotFeed.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

constexpr int MarginLeft = 64;
constexpr int MarginRight = 12;
constexpr int MarginTop = 10;
constexpr int MarginBottom = 24;
constexpr double SmallestSpanMs = 10;

// A step of 1, 2 or 5 times a power of ten near span / count.
double NiceStep(double span, int count) {
    const double raw = span / std::max(count, 1);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (m * power >= raw)
            return m * power;
    return 10 * power;
}

// A step of time that reads well on a clock: milliseconds in 1-2-5, then seconds and minutes
// in the clock's own divisions.
double TimeStep(double spanMs, int count) {
    static const double Steps[] = {1,     2,     5,      10,     20,      50,      100,    200,
                                   500,   1000,  2000,   5000,   10000,   15000,   30000,  60000,
                                   120000, 300000, 600000, 900000, 1800000, 3600000, 7200000,
                                   21600000, 43200000, 86400000};
    const double raw = spanMs / std::max(count, 1);
    for (double s : Steps)
        if (s >= raw)
            return s;
    return NiceStep(spanMs, count);
}

} // namespace

TPlotChart::TPlotChart(TPlotFeed& feed, QWidget* parent) : QWidget(parent), m_feed(feed) {
    setObjectName("PlotChart");
    setMouseTracking(true);
    setMinimumSize(240, 160);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QColor TPlotChart::SeriesColour(size_t index) {
    static const QColor Colours[] = {QColor(255, 220, 0),  QColor(0, 200, 255), QColor(255, 90, 90),
                                     QColor(90, 230, 90),  QColor(230, 120, 255), QColor(255, 160, 40),
                                     QColor(240, 240, 240), QColor(60, 130, 255)};
    const size_t n = sizeof Colours / sizeof Colours[0];
    QColor c = Colours[index % n];
    if (index >= n) // the next round a shade darker
        c = c.darker(100 + int(30 * (index / n % 3)));
    return c;
}

void TPlotChart::SetSpan(int64_t ms) {
    m_spanMs = std::max<int64_t>(ms, 0);
    m_paused = false;
    update();
}

void TPlotChart::SetFixedY(bool fixed, double lo, double hi) {
    m_fixedY = fixed && std::isfinite(lo) && std::isfinite(hi) && hi > lo;
    m_yLo = lo;
    m_yHi = hi;
    update();
}

void TPlotChart::SetPaused(bool paused) {
    m_paused = paused;
    update();
}

void TPlotChart::SetSeriesVisible(size_t index, bool visible) {
    if (index >= m_hidden.size())
        m_hidden.resize(index + 1, false);
    m_hidden[index] = !visible;
    update();
}

void TPlotChart::ForgetSeries() {
    m_hidden.clear();
    m_shown.clear();
    m_columns.clear();
    m_caches.clear();
    update();
}

bool TPlotChart::SeriesVisible(size_t index) const {
    return index >= m_hidden.size() || !m_hidden[index];
}

QRect TPlotChart::PlotRect(QSize size) const {
    return QRect(MarginLeft, MarginTop, std::max(size.width() - MarginLeft - MarginRight, 1),
                 std::max(size.height() - MarginTop - MarginBottom, 1));
}

double TPlotChart::TimeAt(int x) const {
    return m_t0 + (m_t1 - m_t0) * double(x - m_plot.left()) / double(std::max(m_plot.width(), 1));
}

QImage TPlotChart::Picture() {
    QImage image(size(), QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    Draw(p, size(), true);
    return image;
}

void TPlotChart::paintEvent(QPaintEvent*) {
    QPainter p(this);
    Draw(p, size(), false);
    emit Drawn();
}

void TPlotChart::Draw(QPainter& p, QSize size, bool wait) {
    QElapsedTimer timer;
    timer.start();
    const QRect plot = PlotRect(size);
    m_plot = plot;
    const int columns = plot.width();

    const auto read = [&](const TPlotStore& store, const TPlotFeed::TCounts&) {
        m_origin = store.Origin();
        const double end = double(store.LastTime()) + 1;
        // Following the newest over a span, the view moves a whole column at a time, on a grid
        // whose columns are kept from frame to frame.
        const bool grid = !m_paused && m_spanMs > 0;
        const double dt = grid ? double(m_spanMs) / double(std::max(columns, 1)) : 1;
        const int64_t firstColumn =
            int64_t(std::floor(double(store.LastTime()) / dt)) - columns + 1;
        if (!m_paused) {
            if (grid) {
                m_t0 = double(firstColumn) * dt;
                m_t1 = double(firstColumn + columns) * dt;
            } else {
                double first = end;
                for (size_t i = 0; i < store.Count(); ++i)
                    if (!store.At(i).Empty())
                        first = std::min(first, double(store.At(i).FrontTime()));
                m_t0 = first;
                m_t1 = std::max(end, first + 1000);
            }
        }
        m_shown.resize(store.Count());
        m_columns.resize(store.Count());
        m_caches.resize(store.Count());
        if (m_hidden.size() < store.Count())
            m_hidden.resize(store.Count(), false);
        for (size_t i = 0; i < store.Count(); ++i) {
            const TPlotSeries& s = store.At(i);
            TSeriesShown& shown = m_shown[i];
            shown.Name = QString::fromUtf8(s.Name().data(), qsizetype(s.Name().size()));
            shown.Latest = s.Latest();
            shown.Colour = SeriesColour(i);
            shown.Lo = shown.Hi = NAN;
            if (m_hidden[i]) {
                m_columns[i].clear();
                continue;
            }
            if (grid)
                m_columns[i] = m_caches[i].Columns(s, firstColumn, columns, dt);
            else
                DecimateSeries(s, m_t0, m_t1, columns, m_columns[i]);
            for (const TPlotColumn& c : m_columns[i])
                if (c.Any) {
                    shown.Lo = std::isnan(shown.Lo) ? c.Lo : std::min(shown.Lo, c.Lo);
                    shown.Hi = std::isnan(shown.Hi) ? c.Hi : std::max(shown.Hi, c.Hi);
                }
        }
    };
    // While the reader adds values the frame shows the last one's columns, and the next tick
    // draws again.
    if (wait)
        m_feed.Read(read);
    else
        m_stale = !m_feed.TryRead(read);

    // The y range: fixed, or the values in view with a little room.
    double lo = m_yLo, hi = m_yHi;
    if (!m_fixedY) {
        lo = INFINITY;
        hi = -INFINITY;
        for (const TSeriesShown& s : m_shown)
            if (!std::isnan(s.Lo)) {
                lo = std::min(lo, double(s.Lo));
                hi = std::max(hi, double(s.Hi));
            }
        if (lo > hi) {
            lo = 0;
            hi = 1;
        } else if (lo == hi) {
            const double d = std::max(std::fabs(lo) * 0.05, 1.0);
            lo -= d;
            hi += d;
        } else {
            const double pad = (hi - lo) * 0.05;
            lo -= pad;
            hi += pad;
        }
    }
    const double yScale = double(plot.height()) / (hi - lo);
    auto yOf = [&](double v) {
        const double y = double(plot.bottom() + 1) - (v - lo) * yScale;
        return std::clamp(y, double(plot.top() - 4096), double(plot.bottom() + 4096));
    };

    p.fillRect(QRect(QPoint(0, 0), size), Qt::black);
    p.setPen(QColor(70, 70, 70));
    p.drawRect(plot.adjusted(0, 0, -1, -1));
    const QFontMetrics fm = p.fontMetrics();

    // The grid and the axes' numbers.
    const double yStep = NiceStep(hi - lo, std::max(plot.height() / 40, 2));
    for (double v = std::ceil(lo / yStep) * yStep; v <= hi; v += yStep) {
        const int y = int(yOf(v));
        p.setPen(QColor(45, 45, 45));
        p.drawLine(plot.left(), y, plot.right(), y);
        p.setPen(QColor(190, 190, 190));
        const QString text = QString::number(std::fabs(v) < yStep * 1e-9 ? 0.0 : v, 'g', 6);
        p.drawText(QRect(0, y - fm.height() / 2, MarginLeft - 6, fm.height()),
                   Qt::AlignRight | Qt::AlignVCenter, text);
    }
    const double span = m_t1 - m_t0;
    const double tStep = TimeStep(span, std::max(plot.width() / 110, 2));
    const char* format = tStep < 1000 ? "HH:mm:ss.zzz" : "HH:mm:ss";
    for (double t = std::ceil((m_t0 + double(m_origin)) / tStep) * tStep - double(m_origin);
         t < m_t1; t += tStep) {
        const int x = plot.left() + int((t - m_t0) / span * plot.width());
        p.setPen(QColor(45, 45, 45));
        p.drawLine(x, plot.top(), x, plot.bottom());
        p.setPen(QColor(190, 190, 190));
        const QString text =
            QDateTime::fromMSecsSinceEpoch(m_origin + int64_t(std::llround(t))).toString(format);
        p.drawText(QRect(x - 60, plot.bottom() + 4, 120, fm.height()), Qt::AlignHCenter, text);
    }

    // The series: each column's minimum to maximum, joined to the columns beside it.
    p.save();
    p.setClipRect(plot);
    std::vector<QLineF> lines;
    for (size_t i = 0; i < m_columns.size(); ++i) {
        if (m_hidden[i] || m_columns[i].empty())
            continue;
        lines.clear();
        float prev = NAN;
        double prevX = 0;
        for (int c = 0; c < columns && size_t(c) < m_columns[i].size(); ++c) {
            const TPlotColumn& col = m_columns[i][size_t(c)];
            if (!col.HasPoints)
                continue;
            const double x = plot.left() + c + 0.5;
            if (std::isfinite(prev) && std::isfinite(col.First))
                lines.emplace_back(prevX, yOf(prev), x, yOf(col.First));
            if (col.Any)
                lines.emplace_back(x, yOf(col.Lo), x, yOf(col.Hi) - (col.Lo == col.Hi ? 1 : 0));
            prev = col.Last;
            prevX = x;
        }
        p.setPen(QPen(m_shown[i].Colour, 0));
        p.drawLines(lines.data(), int(lines.size()));
    }
    p.restore();

    // The cursor: the time under the mouse and each series' value in its column.
    if (m_cursorX >= plot.left() && m_cursorX <= plot.right()) {
        const int c = m_cursorX - plot.left();
        p.setPen(QColor(160, 160, 160));
        p.drawLine(m_cursorX, plot.top(), m_cursorX, plot.bottom());
        QStringList rows;
        rows << QDateTime::fromMSecsSinceEpoch(m_origin + int64_t(std::llround(TimeAt(m_cursorX))))
                    .toString("HH:mm:ss.zzz");
        std::vector<QColor> colours{QColor(220, 220, 220)};
        for (size_t i = 0; i < m_columns.size(); ++i) {
            if (m_hidden[i] || size_t(c) >= m_columns[i].size())
                continue;
            // The last value at or before the mouse's column.
            for (int k = c; k >= 0; --k) {
                const TPlotColumn& col = m_columns[i][size_t(k)];
                if (!col.HasPoints)
                    continue;
                rows << m_shown[i].Name + ": " + QString::number(col.Last, 'g', 7);
                colours.push_back(m_shown[i].Colour);
                break;
            }
        }
        int w = 0;
        for (const QString& r : rows)
            w = std::max(w, fm.horizontalAdvance(r));
        const int h = fm.height() * int(rows.size()) + 6;
        int bx = m_cursorX + 8;
        if (bx + w + 10 > plot.right())
            bx = m_cursorX - w - 18;
        const QRect box(bx, plot.top() + 6, w + 10, h);
        p.fillRect(box, QColor(20, 20, 20, 220));
        for (int r = 0; r < rows.size(); ++r) {
            p.setPen(colours[size_t(r)]);
            p.drawText(box.left() + 5, box.top() + 3 + fm.ascent() + r * fm.height(), rows[r]);
        }
    }
    m_frameMs = double(timer.nsecsElapsed()) / 1e6;
}

void TPlotChart::HoldView() {
    if (m_paused)
        return;
    m_paused = true;
    emit PausedByMouse(true);
}

void TPlotChart::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (delta == 0 || m_t1 <= m_t0)
        return;
    HoldView();
    const double pivot = TimeAt(int(event->position().x()));
    const double factor = delta > 0 ? 0.8 : 1.25;
    double t0 = pivot - (pivot - m_t0) * factor;
    double t1 = pivot + (m_t1 - pivot) * factor;
    if (t1 - t0 < SmallestSpanMs)
        t1 = t0 + SmallestSpanMs;
    m_t0 = t0;
    m_t1 = t1;
    update();
    event->accept();
}

void TPlotChart::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    m_dragging = true;
    m_dragX = int(event->position().x());
    m_dragT0 = m_t0;
    m_dragT1 = m_t1;
}

void TPlotChart::mouseMoveEvent(QMouseEvent* event) {
    m_cursorX = int(event->position().x());
    if (m_dragging && int(event->position().x()) != m_dragX) {
        HoldView();
        const double dt = double(m_cursorX - m_dragX) * (m_dragT1 - m_dragT0) /
                          double(std::max(m_plot.width(), 1));
        m_t0 = m_dragT0 - dt;
        m_t1 = m_dragT1 - dt;
    }
    update();
}

void TPlotChart::mouseReleaseEvent(QMouseEvent*) {
    m_dragging = false;
}

void TPlotChart::mouseDoubleClickEvent(QMouseEvent*) {
    m_dragging = false;
    m_paused = false;
    emit PausedByMouse(false);
    update();
}

void TPlotChart::leaveEvent(QEvent*) {
    m_cursorX = -1;
    update();
}
