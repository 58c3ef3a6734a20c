#pragma once
// TPlotWindow: the plot of the values a device sends, in a window of its own beside the main
// one. It owns the plot's feed (TPlotFeed, a thread that reads the received bytes as they
// arrive), the chart (TPlotChart) and the list of series: each series' name, latest value and
// its minimum and maximum in view, with a check box that shows or hides it. The values come
// from text lines or from framed binary records described by a layout; the view is a rolling
// span or the whole session, with a fixed or automatic y range; the values in view export as
// CSV and the chart as PNG.
//
// Threads: Push is called on the worker's thread and only hands the block to the feed;
// everything else runs on the window's thread.

#include "PlotExport.h"
#include "PlotFeed.h"

#include <QVariantMap>
#include <QWidget>

#include <functional>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QProgressDialog;
class QTimer;
class QToolButton;
class QTableWidget;
class QTableWidgetItem;
class TPlotChart;

// What the plot asks of the main window, on the window's thread.
struct TPlotHost {
    std::function<bool()> PreambleOn; // received blocks are framed records
    std::function<QString()> PortName; // for the title
};

class TPlotWindow : public QWidget {
    Q_OBJECT
public:
    explicit TPlotWindow(TPlotHost host, QWidget* parent = nullptr);
    ~TPlotWindow() override;

    // Worker thread: a received block (one record with framing on). Taken once the window
    // has been opened.
    void Push(const uint8_t* bytes, size_t count) { m_feed.Push(bytes, count); }
    // Shows the window, starting the feed the first time.
    void Open();
    void SetMemoryLimit(size_t bytes) { m_feed.SetMemoryLimit(bytes); }

    // The plot's own settings: the source, the layout, the span, the y range, the window's place.
    void LoadSettings(const QVariantMap& s);
    void SaveSettings(QVariantMap& s) const;

    TPlotFeed& Feed() { return m_feed; }
    TPlotChart* Chart() const { return m_chart; }

    static constexpr int SpanCount = 4;
    static constexpr int64_t SpanMs[SpanCount] = {10000, 60000, 600000, 0}; // 0: the session

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void RetranslateUi();
    void ApplySource();
    void ApplySpan();
    void ApplyY();
    void Tick();
    // The counts' text, shortened to the room the row leaves it (whole in its tool tip).
    void ShowCounts();
    // The counts as of the feed's generation, into the status line.
    void TakeCounts(const TPlotFeed::TCounts& counts, uint64_t generation);
    void UpdateList();
    void SeriesItemChanged(QTableWidgetItem* item);
    void ExportCsv();
    void ExportPng();
    void StartExport(const QString& path, TPlotExport::TJob job);
    void ShowExportProgress();
    void ShowTitle();

    TPlotFeed m_feed;
    TPlotExport m_export;
    TPlotHost m_host;
    QString m_port;
    int m_ticks = 0;
    TPlotChart* m_chart = nullptr;
    QComboBox* m_source = nullptr;
    QLineEdit* m_layout = nullptr;
    QLabel* m_layoutState = nullptr;
    QLabel* m_sourceLabel = nullptr;
    QLabel* m_layoutLabel = nullptr;
    QLabel* m_spanLabel = nullptr;
    QComboBox* m_span = nullptr;
    QCheckBox* m_autoY = nullptr;
    QDoubleSpinBox* m_yLo = nullptr;
    QDoubleSpinBox* m_yHi = nullptr;
    QToolButton* m_pause = nullptr;
    QToolButton* m_clear = nullptr;
    QToolButton* m_csv = nullptr;
    QToolButton* m_png = nullptr;
    QLabel* m_bad = nullptr;
    QString m_counts;
    QTableWidget* m_list = nullptr;
    QTimer* m_frame = nullptr;
    QTimer* m_listLater = nullptr;
    static constexpr qint64 ListEveryMs = 200;
    QProgressDialog* m_progress = nullptr;
    uint64_t m_drawnGeneration = ~uint64_t(0);
    qint64 m_listUpdatedMs = 0;
    bool m_fillingList = false;
};
