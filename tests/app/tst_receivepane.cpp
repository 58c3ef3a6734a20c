#include "GlyphCells.h"
#include "ReceivePane.h"
#include "Windowtest.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFontMetricsF>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QRawFont>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <tuple>
#include <vector>

namespace {

using TPos = TReceivePane::TPos;

// Counts the paint events of the widgets it is installed on.
struct TPaints : QObject {
    int Count = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        Count += event->type() == QEvent::Paint;
        return false;
    }
};

class HexPaneTest : public ::testing::Test {
protected:
    void SetUp() override {
        pane = std::make_unique<TReceivePane>();
        pane->resize(700, 300);
        pane->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(pane.get()));
        QApplication::clipboard()->clear();
    }

    void Receive(size_t count, uint8_t first = 0) {
        std::vector<uint8_t> bytes(count);
        for (size_t i = 0; i < count; ++i)
            bytes[i] = uint8_t(first + i);
        pane->Store().Receive(bytes.data(), bytes.size());
        pane->Refresh();
    }

    QWidget* View() { return pane->viewport(); }
    QPoint At(int64_t line, int col) { return pane->PointOf(TPos{line, col}); }

    void Drag(QPoint from, QPoint to) {
        QTest::mousePress(View(), Qt::LeftButton, {}, from);
        QTest::mouseMove(View(), (from + to) / 2);
        QTest::mouseMove(View(), to);
        QTest::mouseRelease(View(), Qt::LeftButton, {}, to);
    }

    QString CopyWithKeys() {
        QTest::keyClick(pane.get(), Qt::Key_C, Qt::ControlModifier);
        return QApplication::clipboard()->text();
    }

    std::unique_ptr<TReceivePane> pane;
};

TEST_F(HexPaneTest, DragAndCtrlCCopiesExactlyTheSelection) {
    Receive(40);
    // From the first byte's digits on line 0 to the middle of line 1's hex columns.
    Drag(At(0, 13), At(1, 19));
    const QString expected = pane->LineString(0).mid(13) + "\n" + pane->LineString(1).left(19);
    EXPECT_EQ(pane->SelectedText(), expected);
    EXPECT_EQ(CopyWithKeys(), expected);
    EXPECT_EQ(CopyWithKeys().toStdString(),
              "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F   ................\n"
              "  00000010:  10 11 ");
}

TEST_F(HexPaneTest, DragUpwardsAndShiftClickExtend) {
    Receive(48);
    Drag(At(2, 16), At(1, 13));
    EXPECT_EQ(pane->SelectedText(),
              pane->LineString(1).mid(13) + "\n" + pane->LineString(2).left(16));
    // Shift-click keeps the anchor where the drag began.
    QTest::mouseClick(View(), Qt::LeftButton, Qt::ShiftModifier, At(2, 25));
    EXPECT_EQ(pane->SelectedText(), "21 22 23 ");
}

TEST_F(HexPaneTest, DoubleClickSelectsAWord) {
    Receive(20, 0xF0);
    QTest::mouseDClick(View(), Qt::LeftButton, {}, At(1, 6));
    EXPECT_EQ(pane->SelectedText(), "00000010");
    QTest::mouseDClick(View(), Qt::LeftButton, {}, At(0, 14 + 3 * 15));
    EXPECT_EQ(CopyWithKeys(), "FF");
}

TEST_F(HexPaneTest, WideCharactersTakeTwoCells) {
    pane->LoadText("\xe4\xb8\xad\xe6\x96\x87"
                   "AB\nxyz\n");
    // Column 2 is 'A', four cells in; a click there and a drag to the end selects "AB".
    EXPECT_EQ(pane->PosAt(At(0, 2)), (TPos{0, 2}));
    Drag(At(0, 2), At(0, 4));
    EXPECT_EQ(pane->SelectedText(), "AB");
    EXPECT_EQ(At(0, 2).x() - At(0, 0).x(),
              At(1, 3).x() - At(1, 0).x() + (At(1, 1).x() - At(1, 0).x()));
}

TEST_F(HexPaneTest, CodePageSymbolsTakeTwoCellsAndStayOutOfTheNext) {
    // ℃ and ① are two-byte characters of the code page and drawn wide.
    pane->LoadText("\xe2\x84\x83" "A\n" "\xe2\x91\xa0" "B\n" "xyA\n");
    EXPECT_EQ(At(0, 1).x() - At(0, 0).x(), At(2, 2).x() - At(2, 0).x());
    EXPECT_EQ(At(1, 1).x(), At(0, 1).x());
    // The 'A' after ℃ is drawn exactly as the 'A' after "xy".
    QImage image(View()->size(), QImage::Format_RGB32);
    View()->render(&image);
    const QPoint a0 = At(0, 1), a2 = At(2, 2);
    const int width = At(2, 3).x() - a2.x();
    const int height = At(1, 0).y() - At(0, 0).y();
    const QRect first(a0.x(), a0.y() - height / 2, width, height);
    const QRect third(a2.x(), a2.y() - height / 2, width, height);
    EXPECT_EQ(image.copy(first), image.copy(third));
}

TEST_F(HexPaneTest, SelectionSurvivesAppendingAndIsDroppedByClearAndLoad) {
    Receive(20);
    Drag(At(0, 13), At(1, 15));
    const QString selected = pane->SelectedText();
    Receive(100); // rewrites line 1 and appends more
    EXPECT_EQ(pane->SelectedText(), selected);

    pane->Clear();
    EXPECT_FALSE(pane->HasSelection());
    EXPECT_EQ(pane->SelectedText(), "");

    Receive(20);
    pane->SelectAll();
    EXPECT_TRUE(pane->HasSelection());
    pane->Store().LoadText("loaded\n"); // straight into the store: the pane notices
    pane->Refresh();
    EXPECT_FALSE(pane->HasSelection());
}

TEST_F(HexPaneTest, ContextMenuCopiesAndSelectsAll) {
    pane->LoadText("history line\n");
    Receive(16, 0x41);
    Receive(1, 0xFF);
    std::unique_ptr<QMenu> menu(pane->CreateContextMenu());
    const QList<QAction*> actions = menu->actions();
    // The pane's own two items first; what the window adds follows a separator.
    ASSERT_GE(actions.size(), 2);
    if (actions.size() > 2) {
        EXPECT_TRUE(actions[2]->isSeparator());
    }
    EXPECT_EQ(actions[0]->text(), QStringLiteral("复制"));
    EXPECT_FALSE(actions[0]->isEnabled()); // nothing selected yet
    EXPECT_EQ(actions[1]->text(), QStringLiteral("全选"));
    actions[1]->trigger();
    menu.reset(pane->CreateContextMenu());
    ASSERT_TRUE(menu->actions()[0]->isEnabled());
    menu->actions()[0]->trigger();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), pane->Store().AllText());
    EXPECT_EQ(QApplication::clipboard()->text().count('\n'), 2);
}

TEST_F(HexPaneTest, ScrollToEndKeepsTheLastLineInView) {
    for (int i = 0; i < 50; ++i) {
        Receive(16 * 7 + 3);
        pane->ScrollToEnd();
        const int64_t last = pane->Store().LineCount() - 1;
        EXPECT_LE(pane->TopLine(), last);
        EXPECT_GT(pane->TopLine() + pane->VisibleLines(), last);
        EXPECT_LE(pane->PointOf(TPos{last, 0}).y(), View()->height());
    }
    // Scrolled up by the user, the next update brings the end back.
    QTest::keyClick(pane.get(), Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(pane->TopLine(), 0);
    Receive(1);
    pane->ScrollToEnd();
    EXPECT_GT(pane->TopLine() + pane->VisibleLines(), pane->Store().LineCount() - 1);
}

TEST_F(HexPaneTest, KeyboardScrolls) {
    Receive(16 * 500);
    const int page = pane->VisibleLines();
    QTest::keyClick(pane.get(), Qt::Key_PageDown);
    EXPECT_EQ(pane->TopLine(), page);
    QTest::keyClick(pane.get(), Qt::Key_PageUp);
    EXPECT_EQ(pane->TopLine(), 0);
    QTest::keyClick(pane.get(), Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(pane->TopLine(), 500 - page);
    QTest::keyClick(pane.get(), Qt::Key_Home);
    EXPECT_EQ(pane->TopLine(), 0);
    QTest::keyClick(pane.get(), Qt::Key_End);
    EXPECT_EQ(pane->TopLine(), 500 - page);
}

TEST_F(HexPaneTest, HugeSelectionIsCutAtWholeLinesAndReported) {
    // Enough lines that their text passes the copy limit.
    const size_t lines = TReceivePane::CopyLimit / 80 + 1000;
    Receive(lines * 16);
    QSignalSpy truncated(pane.get(), &TReceivePane::CopyTruncated);
    pane->SelectAll();
    pane->Copy();
    ASSERT_TRUE(WaitUntil([&] { return !pane->Copying(); }, 60000));
    ASSERT_EQ(truncated.count(), 1);
    const QString text = QApplication::clipboard()->text();
    const qint64 copied = truncated.at(0).at(0).toLongLong();
    EXPECT_EQ(truncated.at(0).at(1).toLongLong(), qint64(lines));
    EXPECT_EQ(text.count('\n') + 1, copied);
    EXPECT_LE(size_t(text.size()), TReceivePane::CopyLimit + 80);
    EXPECT_EQ(text.right(79), pane->LineString(copied - 1));
}

TEST_F(HexPaneTest, PaintsOnlyTheVisibleLines) {
    Receive(16 * 1000);
    pane->ScrollToEnd();
    QImage image(pane->size(), QImage::Format_RGB32);
    pane->render(&image);
    // Something white on the black background.
    bool lit = false;
    for (int y = 0; y < image.height() && !lit; ++y)
        for (int x = 0; x < image.width() / 2 && !lit; ++x)
            lit = qGray(image.pixel(x, y)) > 128;
    EXPECT_TRUE(lit);
}

} // namespace

namespace {

TEST_F(HexPaneTest, HugeAndMalformedOpenedLinesStayUsable) {
    // One 8 MB line without a break, invalid UTF-8, an emoji (a surrogate pair).
    std::string text(8 << 20, 'x');
    text += "\n\xff\xfe\xc3\n\xf0\x9f\x98\x80ok\n";
    pane->LoadText(text);
    EXPECT_EQ(pane->Store().LineCount(), 3);
    EXPECT_EQ(pane->LineString(0, 5), "xxxxx");
    EXPECT_EQ(pane->LineString(2), QString::fromUtf8("\xf0\x9f\x98\x80ok"));

    QImage image(pane->size(), QImage::Format_RGB32);
    pane->render(&image);
    Drag(At(0, 2), At(0, 7));
    EXPECT_EQ(pane->SelectedText(), "xxxxx");
    // Clicking into the middle of the pair lands on one of its edges.
    const TPos inPair = pane->PosAt(At(2, 1));
    EXPECT_TRUE(inPair.Col == 0 || inPair.Col == 2) << inPair.Col;
    Drag(At(2, 0), At(2, 3));
    EXPECT_EQ(pane->SelectedText(), QString::fromUtf8("\xf0\x9f\x98\x80o"));

    pane->SelectAll();
    EXPECT_EQ(pane->SelectedText().size(), (8 << 20) + 1 + 3 + 1 + 4);
    Receive(3, 0xFD); // below the opened lines
    pane->ScrollToEnd();
    EXPECT_EQ(pane->LineString(2), QString::fromUtf8("\xf0\x9f\x98\x80ok"));
    EXPECT_EQ(pane->LineString(3).toStdString(), pane->Store().Line(3));
    EXPECT_EQ(pane->LineString(3).left(22), "  00000000:  FD FE FF ");
    pane->render(&image);
}

} // namespace

namespace {

// The pane drawn with and without its glyph cells.
std::pair<QImage, QImage> BothWays(TReceivePane& pane) {
    QImage cells(pane.viewport()->size(), QImage::Format_RGB32);
    QImage text = cells;
    TReceivePane::UseCells = true;
    pane.viewport()->render(&cells);
    TReceivePane::UseCells = false;
    pane.viewport()->render(&text);
    TReceivePane::UseCells = true;
    return {cells, text};
}

TEST_F(HexPaneTest, CellsDrawExactlyWhatTheTextWayDraws) {
    // Every byte value: the text column shows dots, GBK pairs as Chinese and
    // a lone high byte; then opened lines with wide, combining, emoji and
    // control characters, and the pane in other colours, scrolled sideways
    // and with a selection over both kinds of glyph.
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 512; ++i)
        bytes.push_back(uint8_t(i * 7 + 0x20));
    const uint8_t chinese[] = {0xD6, 0xD0, 0xCE, 0xC4, 'O', 'K', 0xB0, 0xA1, 0x80};
    bytes.insert(bytes.end(), chinese, chinese + sizeof chinese);
    pane->Store().Receive(bytes.data(), bytes.size());
    pane->ScrollToEnd();
    auto [cells, text] = BothWays(*pane);
    EXPECT_EQ(cells, text);

    pane->LoadText("\xe4\xb8\xad\xe6\x96\x87 AB_|W@ ~\t x\n"
                   "e\xcc\x81 \xf0\x9f\x98\x80 \xe2\x84\x83 \xef\xbc\xa1\x01\x7f end\n"
                   "gjpqy [{()}] \\/ \"'` #$%&*+,-.:;<=>?^\n");
    pane->SetColors(QColor(20, 200, 40), QColor(250, 250, 235));
    std::tie(cells, text) = BothWays(*pane);
    EXPECT_EQ(cells, text);

    pane->resize(120, 300);
    pane->horizontalScrollBar()->setValue(13);
    Drag(At(0, 1), At(1, 6));
    std::tie(cells, text) = BothWays(*pane);
    EXPECT_EQ(cells, text);
}

TEST_F(HexPaneTest, CharactersLookAsTheToolkitDrawsEachAloneInItsCell) {
    // Chinese, full-width, kana, Hangul, Greek, Cyrillic, symbols and ASCII,
    // each in its cell.
    const QString line = QString::fromUtf8("中文ＡＢ,αβЖж かな한글℃①x¥§→█");
    pane->LoadText(line.toStdString());
    TReceivePane::UseCells = false;
    QImage drawn(pane->viewport()->size(), QImage::Format_RGB32);
    pane->viewport()->render(&drawn);
    TReceivePane::UseCells = true;

    QImage expected(drawn.size(), QImage::Format_RGB32);
    expected.fill(Qt::black);
    {
        QPainter painter(&expected);
        painter.setFont(pane->font());
        painter.setPen(Qt::white);
        const qreal baseline = 2 + std::ceil(QFontMetricsF(pane->font()).ascent());
        for (int i = 0; i < line.size(); ++i)
            painter.drawText(QPointF(At(0, i).x(), baseline), line.mid(i, 1));
    }
    EXPECT_EQ(drawn, expected);
}

TEST_F(HexPaneTest, AScreenOfNewGlyphsIsDrawnOverTheNextFrames) {
    // Thousands of Chinese characters this pane has not drawn yet: the first
    // paint draws some, the frames after it the rest, without being asked.
    std::string text;
    for (char32_t c = 0x4E00; c < 0x4E00 + 4000; ++c) {
        text += QString::fromUcs4(&c, 1).toStdString();
        if (c % 80 == 79)
            text += '\n';
    }
    struct TLeft : QObject { // whether glyphs were left when each paint began
        TReceivePane* Pane;
        std::vector<bool> Before;
        explicit TLeft(TReceivePane* pane) : Pane(pane) {}
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint)
                Before.push_back(Pane->GlyphsLeft());
            return false;
        }
    } left(pane.get());
    pane->viewport()->installEventFilter(&left);
    pane->resize(1400, 900);
    pane->LoadText(text);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return left.Before.size() >= 2 && !pane->GlyphsLeft(); }, 20000));
    EXPECT_TRUE(left.Before[1]);
    auto [cells, whole] = BothWays(*pane);
    EXPECT_EQ(cells, whole);
    EXPECT_FALSE(pane->GlyphsLeft());
}

TEST(GlyphCellsTest, KeepsOnlyGlyphsInsideTheirCellsAndStaysBounded) {
    QFont font(QStringLiteral("Noto Sans Mono CJK SC"));
    font.setPixelSize(12);
    const QRawFont raw = QRawFont::fromFont(font);
    TGlyphCells cells;
    cells.Reset(raw, 6.5, 16, 12, Qt::white, Qt::black);
    EXPECT_FALSE(cells.Usable()); // cells are whole pixels
    EXPECT_EQ(cells.Cell('A', 1), nullptr);
    cells.Reset(raw, 6, 16, 12, QColor(255, 255, 255, 128), Qt::black);
    EXPECT_FALSE(cells.Usable()); // translucent text blends with what lies below
    cells.Reset(raw, 6, 16, 12, Qt::white, Qt::black);
    ASSERT_TRUE(cells.Usable());
    const uint8_t* a = cells.Cell('A', 1);
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(
        std::any_of(a, a + 6 * 16, [&](uint8_t p) { return qGray(cells.Palette()[p]) > 128; }));
    // A Chinese glyph fits two cells, not one.
    EXPECT_NE(cells.Cell(U'中', 2), nullptr);
    cells.Reset(raw, 6, 16, 12, Qt::white, Qt::black);
    EXPECT_EQ(cells.Cell(U'中', 1), nullptr);
    // A character the font lacks has no cell.
    EXPECT_EQ(cells.Cell(U'\U0001D11E', 1), nullptr);
    // New cells within the budget only; those drawn stay.
    cells.Reset(raw, 6, 16, 12, Qt::white, Qt::black);
    cells.SetBudget(1);
    EXPECT_NE(cells.Cell(U'B', 1), nullptr);
    EXPECT_EQ(cells.Cell(U'C', 1), nullptr);
    EXPECT_EQ(cells.Cell(U'文', 2), nullptr);
    EXPECT_NE(cells.Cell(U'B', 1), nullptr);
    cells.SetBudget(1);
    EXPECT_NE(cells.Cell(U'文', 2), nullptr);
    // Thousands of characters in large cells: the pixels held stay under the
    // bound, and the cells drawn first stay.
    cells.Reset(raw, 24, 64, 12, Qt::white, Qt::black);
    for (char32_t c = 0x4E00; c < 0x4E00 + 2000; ++c)
        cells.Cell(c, 2);
    EXPECT_LT(cells.Known(), 2000u);
    EXPECT_NE(cells.Cell(U'一', 2), nullptr); // U+4E00
    EXPECT_EQ(cells.Cell(U'文', 2), nullptr);
}

TEST_F(HexPaneTest, ScrollBarRepaintsOnlyWhenItsHandleMoves) {
    TPaints paints;
    // Narrower than a line: both bars are shown.
    pane->resize(300, 300);
    Receive(16 * 20000);
    QApplication::processEvents(); // the layout that shows the horizontal bar
    pane->ScrollToEnd();            // to the end of the view it leaves
    QApplication::processEvents();
    ASSERT_TRUE(pane->horizontalScrollBar()->isVisible());
    QScrollBar* bar = pane->verticalScrollBar();
    bar->installEventFilter(&paints);
    // At the end of many lines, more lines leave the handle where it is.
    for (int i = 0; i < 5; ++i) {
        Receive(16 * 4);
        pane->ScrollToEnd();
        QApplication::processEvents();
    }
    EXPECT_EQ(paints.Count, 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    // Scrolling to the top moves it.
    bar->setValue(0);
    QApplication::processEvents();
    EXPECT_GE(paints.Count, 1);
}

// Bytes arriving faster than frames repaint the view once a frame, and their last picture
// still comes; what the user does repaints at once.
TEST_F(HexPaneTest, NewDataRepaintsAtMostOnceAFrameAndTheLastPictureComes) {
    TPaints paints;
    Receive(16 * 100);
    pane->FollowNewData(true);
    QApplication::processEvents();
    View()->installEventFilter(&paints);
    QElapsedTimer spent;
    spent.start();
    constexpr int Follows = 200;
    const std::vector<uint8_t> line(16, 'x');
    for (int i = 0; i < Follows; ++i) {
        pane->Store().Receive(line.data(), line.size()); // as the window feeds it
        pane->FollowNewData(true);
        QApplication::processEvents();
    }
    const qint64 ms = spent.elapsed();
    EXPECT_LE(paints.Count, ms / 16 + 2) << ms << " ms";
    EXPECT_TRUE(pane->ShowsEnd());
    const int before = paints.Count;
    EXPECT_TRUE(WaitUntil([&] { return paints.Count > before; }));
    // A key that scrolls paints without waiting for a frame.
    const int painted = paints.Count;
    QTest::keyClick(pane.get(), Qt::Key_PageUp);
    QApplication::processEvents();
    EXPECT_GT(paints.Count, painted);
}

} // namespace
