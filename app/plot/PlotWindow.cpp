#include "PlotWindow.h"
#include "PlotChart.h"

#include "Dialogs.h"
#include "SettingsKeys.h"

#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QProgressDialog>
#include <QSettings>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cstring>
#include <unistd.h>

namespace {

// The value as the list shows it; a gap or nothing yet as a dash.
QString ValueText(float v) {
    return std::isnan(v) ? QStringLiteral("-") : QString::number(double(v), 'g', 7);
}

QToolButton* Button(QWidget* parent, const char* name, bool checkable = false) {
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setCheckable(checkable);
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return b;
}

} // namespace

TPlotWindow::TPlotWindow(TPlotHost host, QWidget* parent)
    : QWidget(parent, Qt::Window), m_host(std::move(host)) {
    setObjectName("PlotWindow");
    resize(900, 480);

    m_sourceLabel = new QLabel(this);
    m_source = new QComboBox(this);
    m_source->setObjectName("CboPlotSource");
    m_source->addItems({QString(), QString()});
    m_layoutLabel = new QLabel(this);
    m_layout = new QLineEdit(this);
    m_layout->setObjectName("EdtPlotLayout");
    m_layout->setPlaceholderText("0 u16le 0.1 temp; 2 f32be pressure");
    m_layoutState = new QLabel(this);
    m_layoutState->setObjectName("lblPlotLayoutState");

    m_spanLabel = new QLabel(this);
    m_span = new QComboBox(this);
    m_span->setObjectName("CboPlotSpan");
    for (int i = 0; i < SpanCount; ++i)
        m_span->addItem(QString());
    m_span->setCurrentIndex(1);
    m_autoY = new QCheckBox(this);
    m_autoY->setObjectName("ChkPlotAutoY");
    m_autoY->setChecked(true);
    m_yLo = new QDoubleSpinBox(this);
    m_yLo->setObjectName("SpnPlotYMin");
    m_yHi = new QDoubleSpinBox(this);
    m_yHi->setObjectName("SpnPlotYMax");
    for (QDoubleSpinBox* box : {m_yLo, m_yHi}) {
        box->setRange(-1e9, 1e9);
        box->setDecimals(3);
        box->setEnabled(false);
    }
    m_yHi->setValue(100);
    m_pause = Button(this, "BtnPlotPause", true);
    m_clear = Button(this, "BtnPlotClear");
    m_csv = Button(this, "BtnPlotCsv");
    m_png = Button(this, "BtnPlotPng");
    m_bad = new QLabel(this);
    m_bad->setObjectName("lblPlotBad");

    m_chart = new TPlotChart(m_feed, this);
    // A table, not a tree: a tree view asks the X server where the pointer is each time it
    // paints (for the branch under it), a round trip that waited up to 21 ms for a server busy
    // drawing a flood, with the list repainted five times a second.
    m_list = new QTableWidget(this);
    m_list->setObjectName("LstPlotSeries");
    m_list->setColumnCount(4);
    m_list->verticalHeader()->hide();
    m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_list->verticalHeader()->setDefaultSectionSize(m_list->fontMetrics().height() + 6);
    m_list->horizontalHeader()->setStretchLastSection(true);
    m_list->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_list->setShowGrid(false);
    m_list->setWordWrap(false);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);

    auto* sourceRow = new QHBoxLayout;
    sourceRow->addWidget(m_sourceLabel);
    sourceRow->addWidget(m_source);
    sourceRow->addWidget(m_layoutLabel);
    sourceRow->addWidget(m_layout, 1);
    sourceRow->addWidget(m_layoutState);
    auto* viewRow = new QHBoxLayout;
    viewRow->addWidget(m_spanLabel);
    viewRow->addWidget(m_span);
    viewRow->addWidget(m_autoY);
    viewRow->addWidget(m_yLo);
    viewRow->addWidget(m_yHi);
    viewRow->addWidget(m_pause);
    viewRow->addWidget(m_clear);
    viewRow->addStretch(1);
    viewRow->addWidget(m_csv);
    viewRow->addWidget(m_png);
    auto* split = new QSplitter(this);
    split->addWidget(m_chart);
    split->addWidget(m_list);
    split->setStretchFactor(0, 1);
    split->setSizes({640, 260});
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(6, 6, 6, 6);
    column->addLayout(sourceRow);
    column->addLayout(viewRow);
    column->addWidget(split, 1);
    // The counts beneath, on a line of their own that never widens the window.
    m_bad->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    column->addWidget(m_bad);

    connect(m_source, &QComboBox::currentIndexChanged, this, &TPlotWindow::ApplySource);
    connect(m_layout, &QLineEdit::editingFinished, this, &TPlotWindow::ApplySource);
    connect(m_span, &QComboBox::currentIndexChanged, this, &TPlotWindow::ApplySpan);
    connect(m_autoY, &QCheckBox::toggled, this, &TPlotWindow::ApplyY);
    connect(m_yLo, &QDoubleSpinBox::valueChanged, this, &TPlotWindow::ApplyY);
    connect(m_yHi, &QDoubleSpinBox::valueChanged, this, &TPlotWindow::ApplyY);
    connect(m_pause, &QToolButton::toggled, m_chart, &TPlotChart::SetPaused);
    connect(m_chart, &TPlotChart::PausedByMouse, m_pause, &QToolButton::setChecked);
    connect(m_clear, &QToolButton::clicked, this, [this] {
        m_feed.Clear();
        m_list->setRowCount(0);
        m_chart->ForgetSeries();
    });
    connect(m_csv, &QToolButton::clicked, this, &TPlotWindow::ExportCsv);
    connect(m_png, &QToolButton::clicked, this, &TPlotWindow::ExportPng);
    connect(m_list, &QTableWidget::itemChanged, this, &TPlotWindow::SeriesItemChanged);
    // The list follows the chart a few times a second: its numbers are read, not watched. A
    // frame drawn before the list is due leaves it to a timer, so that the last values shown
    // are always those of the last frame.
    m_listLater = new QTimer(this);
    m_listLater->setSingleShot(true);
    connect(m_listLater, &QTimer::timeout, this, &TPlotWindow::UpdateList);
    connect(m_chart, &TPlotChart::Drawn, this, [this] {
        const qint64 since = QDateTime::currentMSecsSinceEpoch() - m_listUpdatedMs;
        if (since >= ListEveryMs || since < 0 ||
            m_list->rowCount() < int(m_chart->Shown().size())) {
            m_listLater->stop();
            UpdateList();
        } else if (!m_listLater->isActive()) {
            m_listLater->start(int(ListEveryMs - since));
        }
    });

    // The chart redraws at the screen's rate while values arrive.
    m_frame = new QTimer(this);
    m_frame->setTimerType(Qt::PreciseTimer);
    m_frame->setInterval(16);
    connect(m_frame, &QTimer::timeout, this, &TPlotWindow::Tick);

    RetranslateUi();
    ApplySource();
}

TPlotWindow::~TPlotWindow() {
    m_feed.Stop();
}

void TPlotWindow::RetranslateUi() {
    ShowTitle();
    m_sourceLabel->setText(tr("数据来源:"));
    m_source->setItemText(0, tr("文本行"));
    m_source->setItemText(1, tr("二进制帧"));
    m_layoutLabel->setText(tr("帧格式:"));
    m_layout->setToolTip(tr("每个字段: 偏移 类型 [比例] [名称], 以分号分隔; 类型为 u8 i8 u16 i16 u32 "
                            "i32 f32, 多字节类型后加 le 或 be"));
    m_spanLabel->setText(tr("时间范围:"));
    const char* const spans[SpanCount] = {QT_TR_NOOP("最近 10 秒"), QT_TR_NOOP("最近 1 分钟"),
                                          QT_TR_NOOP("最近 10 分钟"), QT_TR_NOOP("整个会话")};
    for (int i = 0; i < SpanCount; ++i)
        m_span->setItemText(i, tr(spans[i]));
    m_autoY->setText(tr("自动纵轴"));
    m_yLo->setToolTip(tr("纵轴最小值"));
    m_yHi->setToolTip(tr("纵轴最大值"));
    m_pause->setText(tr("暂停"));
    m_clear->setText(tr("清除"));
    m_csv->setText(tr("导出 CSV..."));
    m_png->setText(tr("导出 PNG..."));
    m_list->setHorizontalHeaderLabels({tr("名称"), tr("最新"), tr("最小"), tr("最大")});
    ApplySource();
}

void TPlotWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange)
        RetranslateUi();
    QWidget::changeEvent(event);
}

void TPlotWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    ShowCounts();
}

void TPlotWindow::ShowCounts() {
    m_bad->setText(m_bad->fontMetrics().elidedText(m_counts, Qt::ElideRight, m_bad->width()));
    m_bad->setToolTip(m_counts);
}

void TPlotWindow::ShowTitle() {
    setWindowTitle(m_port.isEmpty() ? tr("波形") : tr("波形") + " - " + m_port);
}

void TPlotWindow::Open() {
    if (m_host.PortName)
        m_port = m_host.PortName();
    ShowTitle();
    ApplySource(); // the preamble may have been switched meanwhile
    m_feed.Start();
    m_frame->start();
    show();
    raise();
    activateWindow();
}

void TPlotWindow::ApplySource() {
    const bool records = m_source->currentIndex() == 1;
    m_layout->setEnabled(records);
    TRecordLayout layout;
    size_t bad = 0;
    const bool ok = TRecordLayout::Parse(m_layout->text().toStdString(), layout, bad);
    QString state;
    if (records) {
        if (!ok)
            state = tr("第 %1 个字段不能读").arg(bad);
        else if (layout.Fields.empty())
            state = tr("请输入帧格式");
        else if (m_host.PreambleOn && !m_host.PreambleOn())
            state = tr("帧头未开启: 收到的每块数据当作一帧");
        else
            state = tr("%1 个字段").arg(layout.Fields.size());
    }
    m_layoutState->setText(state);
    m_layoutState->setStyleSheet(records && (!ok || layout.Fields.empty()) ? "color: red" : "");
    m_feed.SetSource(records ? TPlotFeed::TSource::Records : TPlotFeed::TSource::Text, layout);
}

void TPlotWindow::ApplySpan() {
    const int i = m_span->currentIndex();
    m_chart->SetSpan(i >= 0 && i < SpanCount ? SpanMs[i] : SpanMs[1]);
    m_pause->setChecked(false);
}

void TPlotWindow::ApplyY() {
    const bool fixed = !m_autoY->isChecked();
    m_yLo->setEnabled(fixed);
    m_yHi->setEnabled(fixed);
    m_chart->SetFixedY(fixed, m_yLo->value(), m_yHi->value());
}

void TPlotWindow::Tick() {
    if (!isVisible()) {
        if (!m_progress)
            m_frame->stop(); // until the window opens again
        return;
    }
    if (++m_ticks % 30 == 0 && m_host.PortName && m_host.PortName() != m_port) {
        m_port = m_host.PortName();
        ShowTitle();
    }
    const uint64_t g = m_feed.Generation();
    if (g != m_drawnGeneration || m_chart->Stale()) {
        if (!m_chart->Paused())
            m_chart->update();
        TPlotFeed::TCounts counts;
        // While the reader adds values, the counts wait for the next tick.
        if (m_feed.TryRead([&](const TPlotStore&, const TPlotFeed::TCounts& c) { counts = c; }))
            TakeCounts(counts, g);
    }
    if (m_progress)
        ShowExportProgress();
}

void TPlotWindow::TakeCounts(const TPlotFeed::TCounts& counts, uint64_t generation) {
    m_drawnGeneration = generation;
    QString text =
        (m_source->currentIndex() == 1 ? tr("截短的帧: %1") : tr("不能读的行: %1")).arg(counts.Bad);
    if (counts.Dropped > 0)
        text += "  " + tr("超出内存上限, 已丢弃最早的 %1 点").arg(counts.Dropped);
    if (counts.Skipped > 0)
        text += "  " + tr("数据来得太快, 跳过 %1 字节").arg(counts.Skipped);
    m_counts = text;
    ShowCounts();
}

void TPlotWindow::UpdateList() {
    m_listUpdatedMs = QDateTime::currentMSecsSinceEpoch();
    const auto& shown = m_chart->Shown();
    m_fillingList = true;
    const int had = m_list->rowCount();
    m_list->setRowCount(int(shown.size()));
    for (size_t i = 0; i < shown.size(); ++i) {
        const int row = int(i);
        if (row >= had) {
            auto* name = new QTableWidgetItem;
            name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            name->setCheckState(m_chart->SeriesVisible(i) ? Qt::Checked : Qt::Unchecked);
            QPixmap swatch(12, 12);
            swatch.fill(shown[i].Colour);
            name->setIcon(swatch);
            m_list->setItem(row, 0, name);
            for (int column = 1; column < 4; ++column) {
                auto* value = new QTableWidgetItem;
                value->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
                m_list->setItem(row, column, value);
            }
        }
        QTableWidgetItem* name = m_list->item(row, 0);
        if (name->text() != shown[i].Name)
            name->setText(shown[i].Name);
        m_list->item(row, 1)->setText(ValueText(shown[i].Latest));
        m_list->item(row, 2)->setText(ValueText(shown[i].Lo));
        m_list->item(row, 3)->setText(ValueText(shown[i].Hi));
    }
    m_fillingList = false;
}

void TPlotWindow::SeriesItemChanged(QTableWidgetItem* item) {
    if (m_fillingList || item->column() != 0)
        return;
    if (item->row() >= 0)
        m_chart->SetSeriesVisible(size_t(item->row()), item->checkState() == Qt::Checked);
}

void TPlotWindow::ExportCsv() {
    if (m_export.Running())
        return;
    QString name = dialogs::SaveFileName(this, tr("导出 CSV..."), tr("CSV 文件(*.csv)"));
    if (name.isEmpty())
        return;
    // The points in view now, held by views: values that arrive meanwhile are not in the file.
    std::vector<TPlotSeries::TView> views;
    int64_t origin = 0;
    m_feed.Read([&](const TPlotStore& store, const TPlotFeed::TCounts&) {
        origin = store.Origin();
        for (size_t i = 0; i < store.Count(); ++i)
            if (m_chart->SeriesVisible(i))
                views.push_back(store.At(i).View());
    });
    const double t0 = m_chart->ViewStart(), t1 = m_chart->ViewEnd();
    StartExport(name, [views = std::move(views), t0, t1, origin](int fd, const std::atomic<bool>& cancel,
                                                                   std::atomic<int>& percent,
                                                                   std::string& error) {
        return WritePlotCsv(fd, views, t0, t1, origin, cancel, percent, error);
    });
}

void TPlotWindow::ExportPng() {
    if (m_export.Running())
        return;
    QString name = dialogs::SaveFileName(this, tr("导出 PNG..."), tr("PNG 图片(*.png)"));
    if (name.isEmpty())
        return;
    // The picture is made here, from the chart as it is; the file is written on the export's thread.
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        m_chart->Picture().save(&buffer, "PNG");
    }
    StartExport(name, [png](int fd, const std::atomic<bool>&, std::atomic<int>& percent, std::string& error) {
        if (!WriteAll(fd, png.constData(), size_t(png.size()), error))
            return false;
        percent = 100;
        return true;
    });
}

void TPlotWindow::StartExport(const QString& path, TPlotExport::TJob job) {
    if (!m_export.Start(QFile::encodeName(path).toStdString(), std::move(job)))
        return;
    m_csv->setEnabled(false);
    m_png->setEnabled(false);
    m_progress = new QProgressDialog(tr("正在导出 %1").arg(path), tr("取消"), 0, 100, this);
    m_progress->setObjectName("PlotExportProgress");
    m_progress->setMinimumDuration(500);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    connect(m_progress, &QProgressDialog::canceled, this, [this] { m_export.Cancel(); });
    m_progress->setProperty("path", path);
    m_frame->start(); // the progress is followed at the frame's rate
}

void TPlotWindow::ShowExportProgress() {
    m_progress->setValue(m_export.Percent());
    if (!m_export.Done())
        return;
    const QString path = m_progress->property("path").toString();
    const bool cancelled = m_progress->wasCanceled();
    m_progress->deleteLater();
    m_progress = nullptr;
    m_csv->setEnabled(true);
    m_png->setEnabled(true);
    std::string error;
    if (!m_export.Finish(error) && !cancelled)
        dialogs::Message(this, tr("不能导出到文件 %1: %2").arg(path, QString::fromStdString(error)));
}

void TPlotWindow::LoadSettings(const QVariantMap& s) {
    // A value that does not read keeps the control's default.
    bool ok = false;
    const int source = s.value(settings::PlotSource).toInt(&ok);
    if (ok && (source == 0 || source == 1))
        m_source->setCurrentIndex(source);
    const QVariant layout = s.value(settings::PlotLayout);
    if (layout.canConvert<QString>())
        m_layout->setText(layout.toString().left(4096));
    const int span = s.value(settings::PlotSpan).toInt(&ok);
    if (ok && span >= 0 && span < SpanCount)
        m_span->setCurrentIndex(span);
    const int autoY = s.value(settings::PlotAutoY).toInt(&ok);
    if (ok)
        m_autoY->setChecked(autoY != 0);
    const double lo = s.value(settings::PlotYMin).toDouble(&ok);
    bool ok2 = false;
    const double hi = s.value(settings::PlotYMax).toDouble(&ok2);
    if (ok && ok2 && std::isfinite(lo) && std::isfinite(hi) && lo < hi) {
        m_yLo->setValue(lo);
        m_yHi->setValue(hi);
    }
    const QVariant geometry = s.value(settings::PlotGeometry);
    if (geometry.canConvert<QByteArray>())
        restoreGeometry(geometry.toByteArray());
    ApplySource();
    ApplySpan();
    ApplyY();
}

void TPlotWindow::SaveSettings(QVariantMap& s) const {
    s.insert(settings::PlotSource, m_source->currentIndex());
    s.insert(settings::PlotLayout, m_layout->text());
    s.insert(settings::PlotSpan, m_span->currentIndex());
    s.insert(settings::PlotAutoY, m_autoY->isChecked() ? 1 : 0);
    s.insert(settings::PlotYMin, m_yLo->value());
    s.insert(settings::PlotYMax, m_yHi->value());
    s.insert(settings::PlotGeometry, saveGeometry());
}
