// Find in the window, end to end: bytes arrive over a pseudo-terminal, Ctrl+F
// opens the bar, typing finds and counts, Enter and Shift+Enter step, bytes
// that arrive later are counted, the matches are marked in both views, bad
// patterns say why, Clear starts the count over, Ctrl+G goes to an offset,
// Esc closes the bar. The text view can show only the lines that hold a
// match, growing as lines arrive.

#include "FindBar.h"
#include "Openwindow.h"
#include "Pty.h"
#include "ReceivePane.h"
#include "Unitmain.h"
#include "Windowtest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QRegularExpression>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

class FindBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        StoreSettings(Far.Path);
        Frm = OpenWindow();
        ASSERT_TRUE(Frm);
        Pane = Frm->findChild<TReceivePane*>();
        Bar = Frm->findChild<TFindBar*>("FindBar");
        ASSERT_TRUE(Pane && Bar);
        Text = Bar->findChild<QLineEdit*>("findText");
        Kind = Bar->findChild<QComboBox*>("findKind");
        Count = Bar->findChild<QLabel*>("findCount");
        Message = Bar->findChild<QLabel*>("findMessage");
        ASSERT_TRUE(Text && Kind && Count && Message);
    }
    void Receive(const std::string& bytes) {
        const uint64_t want = Pane->Store().TextIndex().End() + bytes.size();
        Far.Write(std::vector<uint8_t>(bytes.begin(), bytes.end()));
        ASSERT_TRUE(WaitUntil([&] { return Pane->Store().TextIndex().End() >= want; }));
    }
    void Find(const QString& text) {
        Text->selectAll();
        QTest::keyClicks(Text, text);
    }
    bool CountIs(const QString& text) {
        return WaitUntil([&] { return Count->text() == text; });
    }

    TPty Far;
    std::unique_ptr<TFrmMain> Frm;
    TReceivePane* Pane = nullptr;
    TFindBar* Bar = nullptr;
    QLineEdit* Text = nullptr;
    QComboBox* Kind = nullptr;
    QLabel* Count = nullptr;
    QLabel* Message = nullptr;
};

TEST_F(FindBarTest, FindsStepsCountsArrivingBytesAndMarksBothViews) {
    // The first one straddles a 16-byte dump line; a code page pair of ours.
    Receive("0123456789abcHEAD..\r\nline two \xC4\xE3 HEAD\r\n");
    QTest::keyClick(Pane, Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(WaitUntil([&] { return Bar->isVisible() && Text->hasFocus(); }));
    Find("head");
    EXPECT_TRUE(CountIs("0/0"));
    Bar->findChild<QWidget*>("findCaseless")->setProperty("checked", true);
    EXPECT_TRUE(CountIs("1/2"));
    ASSERT_TRUE(Bar->Current());
    EXPECT_EQ(Bar->Current()->Pos, 13u);

    // The selected match is marked strongly on both its hex lines, bytes and characters.
    std::vector<TReceivePane::TMark> marks;
    Pane->LineMarks(0, Pane->LineString(0), marks);
    ASSERT_EQ(marks.size(), 2u);
    EXPECT_TRUE(marks[0].Current);
    EXPECT_EQ(Pane->LineString(0).mid(marks[0].From, marks[0].To - marks[0].From), "48 45 41");
    EXPECT_EQ(Pane->LineString(0).mid(marks[1].From, marks[1].To - marks[1].From), "HEA");

    QTest::keyClick(Text, Qt::Key_Return);
    EXPECT_TRUE(CountIs("2/2"));
    QTest::keyClick(Text, Qt::Key_Return); // round to the first
    EXPECT_TRUE(CountIs("1/2"));
    QTest::keyClick(Text, Qt::Key_Return, Qt::ShiftModifier); // back round to the last
    EXPECT_TRUE(CountIs("2/2"));

    // In the text view the mark covers the text shown, after the pair.
    Pane->SetTextView(true);
    const int64_t line = 1;
    marks.clear();
    Pane->LineMarks(line, Pane->LineString(line), marks);
    ASSERT_EQ(marks.size(), 1u);
    EXPECT_EQ(Pane->LineString(line).mid(marks[0].From, marks[0].To - marks[0].From), "HEAD");
    EXPECT_TRUE(marks[0].Current);

    // Bytes that arrive while the bar is open are counted as they come.
    Receive("more head and HEAD\r\n");
    EXPECT_TRUE(CountIs("2/4"));

    QTest::keyClick(Text, Qt::Key_Escape);
    EXPECT_FALSE(Bar->isVisible());
    marks.clear();
    Pane->LineMarks(line, Pane->LineString(line), marks);
    EXPECT_TRUE(marks.empty());
}

TEST_F(FindBarTest, BadPatternsSayWhyAndFindNothing) {
    Receive(std::string("\x55\xAA\x10\x01 \x55\xAA\x20\x01", 9));
    QTest::keyClick(Pane, Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(WaitUntil([&] { return Bar->isVisible(); }));
    Kind->setCurrentIndex(TFindBar::KindHex);
    Find("55 AA ?? 0");
    EXPECT_TRUE(CountIs("0/0"));
    EXPECT_FALSE(Message->text().isEmpty());
    QTest::keyClicks(Text, "1");
    EXPECT_TRUE(CountIs("1/2"));
    EXPECT_TRUE(Message->text().isEmpty());

    Kind->setCurrentIndex(TFindBar::KindRegex);
    Find("(\\x55");
    EXPECT_TRUE(CountIs("0/0"));
    EXPECT_TRUE(Message->text().contains("正则表达式")) << Message->text().toStdString();
    QTest::keyClick(Text, Qt::Key_Return); // nothing to step to, nothing lost
    EXPECT_EQ(Pane->Store().TextIndex().End(), 9u);
    Text->clear();
    QTest::keyClicks(Text, "\\x55\\xAA[\\x10\\x20]");
    EXPECT_TRUE(CountIs("1/2"));
}

// Clear while a count runs over a long session: the count starts over on
// what arrives after; Ctrl+G goes to an offset of the new bytes.
TEST_F(FindBarTest, ClearStartsTheCountOverAndCtrlGGoesToAnOffset) {
    std::string session(std::size_t(32) << 20, 'x');
    Pane->Store().Receive(reinterpret_cast<const uint8_t*>(session.data()), session.size());
    Pane->Refresh();
    QTest::keyClick(Pane, Qt::Key_F, Qt::ControlModifier);
    Kind->setCurrentIndex(TFindBar::KindRegex);
    Find("x{3}y|z"); // slow over a flood of x, and never there
    QTest::keyClick(Text, Qt::Key_F9); // Clear: the function keys keep their meanings in the bar
    ASSERT_TRUE(WaitUntil([&] { return Pane->Store().TextIndex().End() == 0; }));
    Receive("abc z z");
    EXPECT_TRUE(CountIs("0/2"));
    QTest::keyClick(Text, Qt::Key_Return);
    EXPECT_TRUE(CountIs("1/2"));

    QTest::keyClick(Text, Qt::Key_G, Qt::ControlModifier);
    ASSERT_EQ(Kind->currentIndex(), TFindBar::KindOffset);
    Find("6");
    QTest::keyClick(Text, Qt::Key_Return);
    ASSERT_TRUE(Bar->Current());
    EXPECT_EQ(Bar->Current()->Pos, 6u);
    Find("1000");
    QTest::keyClick(Text, Qt::Key_Return);
    EXPECT_FALSE(Message->text().isEmpty());
}

// Only matching lines: exactly the stamped lines of the text view that hold
// a match, over a session whose lines cross block ends; turning it off keeps
// the line at the top; lines that arrive are added as they match; Clear
// starts it over; the hex view is not filtered.
TEST_F(FindBarTest, FilterShowsOnlyTheMatchingLinesAndFollowsNewOnes) {
    std::string session;
    for (int i = 0; session.size() < 2 * TReceiveStore::DumpBlockLines * 16 + 5000; ++i) {
        session += "line " + std::to_string(i) + (i % 53 == 0 ? " has a HIT" : " has none") + "\r\n";
        if (i == 900)
            session += "HIT" + std::string(300000, '.') + "HIT across block ends\r\n";
    }
    const size_t half = session.size() / 2;
    Pane->Store().Receive(reinterpret_cast<const uint8_t*>(session.data()), half, 1000);
    Pane->Store().Receive(reinterpret_cast<const uint8_t*>(session.data()) + half, session.size() - half, 61000);
    Pane->SetTextView(true);
    Pane->SetTextStamps(true);
    Pane->Refresh();
    std::vector<QString> want;
    for (int64_t k = 0; k < Pane->LineTotal(); ++k) {
        const QString line = Pane->LineString(k);
        if (line.contains("HIT"))
            want.push_back(line);
    }
    ASSERT_GT(want.size(), 100u);
    EXPECT_TRUE(QRegularExpression("^\\d\\d:\\d\\d:01\\.000 line 0 has a HIT$").match(want.front()).hasMatch())
        << want.front().toStdString();

    QTest::keyClick(Pane, Qt::Key_F, Qt::ControlModifier);
    Find("HIT");
    auto* filter = Bar->findChild<QCheckBox*>("findFilter");
    ASSERT_TRUE(filter && filter->isEnabled());
    filter->click();
    ASSERT_TRUE(WaitUntil([&] { return Pane->LineTotal() == int64_t(want.size()); }));
    EXPECT_TRUE(CountIs(QString("1/%1").arg(want.size() + 1)));
    for (size_t k = 0; k < want.size(); ++k)
        ASSERT_EQ(Pane->LineString(int64_t(k)), want[k]) << k;

    // Off: the line at the top stays at the top.
    const int64_t top = int64_t(want.size()) / 2;
    Pane->PlaceTextLine(Pane->RunTextLine(top), 0);
    ASSERT_EQ(Pane->TopLine(), top);
    filter->click();
    EXPECT_GT(Pane->LineTotal(), int64_t(want.size()) * 50);
    EXPECT_EQ(Pane->LineString(Pane->TopLine()), want[size_t(top)]);

    // On again at the end: a matching line that arrives is added and followed,
    // one that does not match is not.
    Pane->ScrollToEnd();
    filter->click();
    ASSERT_TRUE(WaitUntil([&] { return Pane->LineTotal() == int64_t(want.size()); }));
    Receive("no match\r\nnew HIT\r\nnone either\r\n");
    ASSERT_TRUE(WaitUntil([&] { return Pane->LineTotal() == int64_t(want.size()) + 1; }));
    EXPECT_TRUE(Pane->LineString(Pane->LineTotal() - 1).endsWith(" new HIT"));
    EXPECT_TRUE(WaitUntil([&] { return Pane->ShowsEnd(); }));

    // The hex view is not filtered.
    Pane->SetTextView(false);
    EXPECT_FALSE(filter->isEnabled());
    EXPECT_EQ(Pane->LineTotal(), Pane->Store().LineCount());
    Pane->SetTextView(true);
    EXPECT_EQ(Pane->LineTotal(), int64_t(want.size()) + 1);

    // Clear starts the filtered lines over on what arrives next.
    QTest::keyClick(Text, Qt::Key_F9);
    ASSERT_TRUE(WaitUntil([&] { return Pane->Store().TextIndex().End() == 0; }));
    EXPECT_EQ(Pane->LineTotal(), 0);
    Receive("after HIT\r\nnot this\r\n");
    ASSERT_TRUE(WaitUntil([&] { return Pane->LineTotal() == 1; }));
    EXPECT_TRUE(Pane->LineString(0).endsWith(" after HIT"));
}

} // namespace
