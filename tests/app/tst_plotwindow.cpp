// The plot window over a pseudo-terminal: Ctrl+Shift+P opens it beside the window, the far
// end's text lines and framed records become series in the list and on the chart, lines
// that do not read are counted, and the values in view export as CSV.

#include "Dialogs.h"
#include "Openwindow.h"
#include "PlotChart.h"
#include "PlotWindow.h"
#include "Pty.h"
#include "ReceivePane.h"
#include "Unitmain.h"
#include "Windowtest.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sys/stat.h>
#include <thread>

namespace {

class PlotWindow : public ::testing::Test {
protected:
    void SetUp() override {
        dialogs::RecordMessages(true);
    }
    void TearDown() override {
        Frm.reset();
        dialogs::RecordMessages(false);
        dialogs::TakeMessages();
    }
    // The window open on the far end's port, and the plot opened by its key.
    TPlotWindow* Open(bool framed) {
        StoreSettings(Far.Path);
        if (framed) {
            QSettings s = settings::Open();
            s.setValue(settings::AllowHead, 1);
            s.setValue(settings::PlotSource, 1);
            s.setValue(settings::PlotLayout, "0 u16le t; 3 i16be 0.5 half; 5 u8");
        }
        Frm = OpenWindow();
        if (!Frm)
            return nullptr;
        QTest::keyClick(Frm.get(), Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
        auto* plot = Frm->findChild<TPlotWindow*>("PlotWindow");
        if (!plot || !WaitUntil([&] { return plot->isVisible(); }))
            return nullptr;
        return plot;
    }
    // The list's row of the series named, as its four columns; empty when not there.
    QStringList Row(TPlotWindow* plot, const QString& name) {
        auto* list = plot->findChild<QTableWidget*>("LstPlotSeries");
        for (int i = 0; i < list->rowCount(); ++i)
            if (list->item(i, 0)->text() == name)
                return {name, list->item(i, 1)->text(), list->item(i, 2)->text(),
                        list->item(i, 3)->text()};
        return {};
    }
    void Send(const std::string& text) { Far.Write(std::vector<uint8_t>(text.begin(), text.end())); }

    TPty Far;
    std::unique_ptr<TFrmMain> Frm;
    QTemporaryDir Dir;
};

} // namespace

TEST_F(PlotWindow, TextLinesBecomeSeriesWithTheirValuesAndBadLinesAreCounted) {
    TPlotWindow* plot = Open(false);
    ASSERT_TRUE(plot);
    EXPECT_EQ(plot->windowTitle(), "波形 - COM1");
    EXPECT_TRUE(plot->isWindow());
    // Names come and go, CR LF ends lines, one line does not read.
    Send("temp:21.5,hum:40\r\ntemp:22,hum:38\r\nnot a number\r\nroom temp=19.25 temp:20.5\r\n");
    ASSERT_TRUE(WaitUntil([&] { return Row(plot, "room temp").size() == 4; }));
    ASSERT_TRUE(WaitUntil([&] { return Row(plot, "temp") == QStringList{"temp", "20.5", "20.5", "22"}; }));
    EXPECT_EQ(Row(plot, "hum"), (QStringList{"hum", "38", "38", "40"}));
    auto* bad = plot->findChild<QLabel*>("lblPlotBad");
    EXPECT_TRUE(WaitUntil([&] { return bad->text().endsWith(": 1"); })) << bad->text().toStdString();

    // A series unchecked in the list leaves the chart; its row stays.
    auto* list = plot->findChild<QTableWidget*>("LstPlotSeries");
    list->item(1, 0)->setCheckState(Qt::Unchecked);
    EXPECT_FALSE(plot->Chart()->SeriesVisible(1));

    // The values in view export as CSV, the hidden series left out, one row per time.
    plot->findChild<QToolButton*>("BtnPlotPause")->click(); // the view holds still
    const QString path = Dir.filePath("values.csv");
    dialogs::SetNextFileNames({path});
    plot->findChild<QToolButton*>("BtnPlotCsv")->click();
    ASSERT_TRUE(WaitUntil([&] { return plot->findChild<QToolButton*>("BtnPlotCsv")->isEnabled(); }));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = f.readAll().split('\n');
    ASSERT_GE(rows.size(), 3);
    EXPECT_EQ(rows[0], "time,temp,room temp\r");
    // Every value in its column, in order; values of one millisecond may share a row.
    QStringList temp, room;
    for (qsizetype i = 1; i < rows.size(); ++i) {
        const QList<QByteArray> cells = rows[i].trimmed().split(',');
        if (cells.size() != 3)
            continue;
        if (!cells[1].isEmpty())
            temp << cells[1];
        if (!cells[2].isEmpty())
            room << cells[2];
    }
    EXPECT_EQ(temp, (QStringList{"21.5", "22", "20.5"}));
    EXPECT_EQ(room, QStringList{"19.25"});
    EXPECT_TRUE(dialogs::TakeMessages().isEmpty());
}

TEST_F(PlotWindow, FramedRecordsAreReadByTheLayoutAndCutOnesCounted) {
    TPlotWindow* plot = Open(true);
    ASSERT_TRUE(plot);
    EXPECT_EQ(plot->findChild<QLineEdit*>("EdtPlotLayout")->text(), "0 u16le t; 3 i16be 0.5 half; 5 u8");
    EXPECT_EQ(plot->findChild<QLabel*>("lblPlotLayoutState")->text(), "3 个字段");
    // Two records of six bytes after the preamble, with noise between them.
    Send(std::string("\x55\xAA\xFF\x34\x12\x00\xFF\xFE\xFF", 9) + "xx" +
         std::string("\x55\xAA\xFF\x00\x00\x00\x00\x02\x00", 9));
    ASSERT_TRUE(WaitUntil([&] { return Row(plot, "u8@5") == QStringList{"u8@5", "0", "0", "255"}; }))
        << Row(plot, "u8@5").join(' ').toStdString() << " | "
        << plot->findChild<QLabel*>("lblPlotBad")->text().toStdString();
    EXPECT_EQ(Row(plot, "t"), (QStringList{"t", "0", "0", "4660"}));
    EXPECT_EQ(Row(plot, "half"), (QStringList{"half", "1", "-1", "1"}));

    // A layout that reaches past the record's six bytes: each record is counted as cut.
    auto* layout = plot->findChild<QLineEdit*>("EdtPlotLayout");
    layout->setText("0 u16le t; 4 u32 far");
    emit layout->editingFinished();
    Send(std::string("\x55\xAA\xFF\x01\x00\x00\x00\x00\x00", 9));
    auto* bad = plot->findChild<QLabel*>("lblPlotBad");
    EXPECT_TRUE(WaitUntil([&] { return bad->text().endsWith(": 1"); })) << bad->text().toStdString();
    EXPECT_EQ(Row(plot, "t")[1], "0"); // nothing taken from the cut record
    // A layout that does not read names its field.
    layout->setText("0 u16le t; 4 u24");
    emit layout->editingFinished();
    EXPECT_EQ(plot->findChild<QLabel*>("lblPlotLayoutState")->text(), "第 2 个字段不能读");
}

TEST_F(PlotWindow, ThePanesMenuOpensItAgainAndAnExportOntoAFifoIsRefusedWithoutBlocking) {
    TPlotWindow* plot = Open(false);
    ASSERT_TRUE(plot);
    plot->close();
    ASSERT_FALSE(plot->isVisible());
    std::unique_ptr<QMenu> menu(Frm->findChild<TReceivePane*>()->CreateContextMenu());
    QAction* item = nullptr;
    for (QAction* a : menu->actions())
        if (a->text().startsWith("波形"))
            item = a;
    ASSERT_TRUE(item);
    item->trigger();
    ASSERT_TRUE(WaitUntil([&] { return plot->isVisible(); }));
    const QString fifo = Dir.filePath("pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    dialogs::SetNextFileNames({fifo});
    plot->findChild<QToolButton*>("BtnPlotCsv")->click();
    ASSERT_TRUE(WaitUntil([&] { return plot->findChild<QToolButton*>("BtnPlotCsv")->isEnabled(); }));
    const QStringList messages = dialogs::TakeMessages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith("不能导出到文件")) << messages[0].toStdString();
}

// A frame that comes while the reader holds the values does not wait for it: it shows the frame
// before, and the next tick draws the values that came meanwhile.
TEST_F(PlotWindow, AFrameDoesNotWaitForTheReaderHoldingTheValues) {
    TPlotWindow* plot = Open(false);
    ASSERT_TRUE(plot);
    Send("temp:1\n");
    ASSERT_TRUE(WaitUntil([&] { return Row(plot, "temp").value(1) == "1"; }));

    std::mutex lock;
    std::condition_variable changed;
    bool held = false, released = false, releasedByTest = false;
    std::thread holder([&] {
        plot->Feed().Read([&](const TPlotStore&, const TPlotFeed::TCounts&) {
            std::unique_lock l(lock);
            held = true;
            changed.notify_all();
            // Only a safety net: the test lets go as soon as the frame has been drawn.
            releasedByTest =
                changed.wait_for(l, std::chrono::seconds(20), [&] { return released; });
        });
    });
    {
        std::unique_lock l(lock);
        changed.wait(l, [&] { return held; });
    }
    Send("temp:2\n");
    plot->Chart()->repaint();
    EXPECT_TRUE(plot->Chart()->Stale());
    {
        std::lock_guard l(lock);
        released = true;
    }
    changed.notify_all();
    holder.join();
    EXPECT_TRUE(releasedByTest) << "the frame waited for the reader";
    EXPECT_TRUE(WaitUntil([&] { return Row(plot, "temp").value(1) == "2"; }));
}
// The list shows the last values drawn even when they came just after it was last filled.
TEST_F(PlotWindow, TheListShowsTheLastValueOnceValuesStop) {
    TPlotWindow* plot = Open(false);
    ASSERT_TRUE(plot);
    Send("temp:1\n");
    ASSERT_TRUE(WaitUntil([&] { return Row(plot, "temp").value(1) == "1"; }));
    Send("temp:2\n");
    EXPECT_TRUE(WaitUntil([&] { return Row(plot, "temp").value(1) == "2"; }));
}
