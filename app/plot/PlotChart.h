#pragma once
// TPlotChart: the plot's chart, drawn with QPainter. Each series is decimated to the pixel
// columns of the chart (the minimum and maximum of each column, DecimateSeries), so a frame
// costs the same for a thousand points as for ten million. Time runs along x (the receive
// time stamps); the view follows the newest values over a rolling span, or shows the whole
// session, until the user pauses, zooms (the wheel) or pans (dragging); a double click
// follows again. The mouse's column shows each series' value there.
//
// Threads: the window's thread only; it reads the feed's store under the feed's lock while
// it decimates, and draws after the lock is let go.

#include "PlotData.h"

#include <QColor>
#include <QString>
#include <QWidget>

#include <vector>

class TPlotFeed;

class TPlotChart : public QWidget {
    Q_OBJECT
public:
    explicit TPlotChart(TPlotFeed& feed, QWidget* parent = nullptr);

    // What each series showed in the last frame; by the store's order of series.
    struct TSeriesShown {
        QString Name;
        float Latest = NAN;
        float Lo = NAN, Hi = NAN; // over the view
        QColor Colour;
    };
    const std::vector<TSeriesShown>& Shown() const { return m_shown; }
    static QColor SeriesColour(size_t index);

    // The rolling span in milliseconds; 0 shows the whole session.
    void SetSpan(int64_t ms);
    // A fixed y range, or none for the range of the values in view.
    void SetFixedY(bool fixed, double lo, double hi);
    // Paused, the view stays where it is while values go on arriving.
    void SetPaused(bool paused);
    bool Paused() const { return m_paused; }
    void SetSeriesVisible(size_t index, bool visible);
    // The store was emptied: series that come next are shown.
    void ForgetSeries();
    bool SeriesVisible(size_t index) const;
    // The time range in view, in milliseconds from the store's origin, as the last frame drew it.
    double ViewStart() const { return m_t0; }
    double ViewEnd() const { return m_t1; }
    // Draws the chart into a picture of its size (for the PNG export and the benchmark).
    QImage Picture();
    // Milliseconds the last frame took to decimate and draw.
    double LastFrameMs() const { return m_frameMs; }
    // The last frame found the reader adding values and showed the frame before's.
    bool Stale() const { return m_stale; }

signals:
    // A frame has been drawn; Shown() is current.
    void Drawn();
    // The user paused the view by zooming or panning, or resumed it by a double click.
    void PausedByMouse(bool paused);

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    // wait: for the reader to let go of the values, or else draw the last frame's columns.
    void Draw(QPainter& p, QSize size, bool wait);
    QRect PlotRect(QSize size) const;
    void HoldView();
    double TimeAt(int x) const;

    TPlotFeed& m_feed;
    std::vector<TSeriesShown> m_shown;
    std::vector<bool> m_hidden; // by series index
    std::vector<std::vector<TPlotColumn>> m_columns;
    std::vector<TPlotColumnCache> m_caches; // by series, while the view follows on its grid
    int64_t m_spanMs = 60000;
    bool m_fixedY = false;
    double m_yLo = 0, m_yHi = 100;
    bool m_paused = false;
    double m_t0 = 0, m_t1 = 0;  // the view, as drawn last
    int64_t m_origin = 0;       // of the store's times, in ms since the epoch
    QRect m_plot;               // as drawn last
    double m_frameMs = 0;
    bool m_stale = false;
    int m_cursorX = -1;
    bool m_dragging = false;
    int m_dragX = 0;
    double m_dragT0 = 0, m_dragT1 = 0;
};
