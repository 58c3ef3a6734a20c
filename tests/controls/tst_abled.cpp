#include "Abdbctrls.h"
#include "Abled.h"

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QPaintEvent>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

const QRgb Background = qRgb(255, 0, 255);

// Renders only what the control paints, over a magenta background.
QImage Render(TAbLED& Led, const QRegion& Region = QRegion()) {
    QImage img(Led.size(), QImage::Format_RGB32);
    img.fill(Background);
    // render() puts the region's top left at the offset it is given.
    const QPoint offset = Region.isEmpty() ? QPoint() : Region.boundingRect().topLeft();
    Led.render(&img, offset, Region, QWidget::RenderFlags());
    return img;
}

QRect Ink(const QImage& Img, const QRect& Area) {
    QRect box;
    for (int y = Area.top(); y <= Area.bottom(); ++y)
        for (int x = Area.left(); x <= Area.right(); ++x)
            if (Img.pixel(x, y) != Background)
                box |= QRect(x, y, 1, 1);
    return box;
}

// An LED that records its paints and flash calls.
class TProbeLED : public TAbLED {
public:
    using TAbLED::TAbLED;
    std::vector<QRect> Paints;
    std::vector<bool> Flashes;
    void Flash(bool On) override {
        Flashes.push_back(On);
        TAbLED::Flash(On);
    }

protected:
    void paintEvent(QPaintEvent* e) override {
        Paints.push_back(e->rect());
        TAbLED::paintEvent(e);
    }
};

// A log of a control's events, in order.
struct EventLog {
    std::vector<std::string> Lines;
    void Watch(TAbBinGControl& c, const std::string& name = "") {
        c.OnStatusChanged = [this, &c, name](QObject* s) {
            EXPECT_EQ(s, &c);
            Lines.push_back(name + "status " + (c.Checked() ? "on" : "off"));
        };
        c.OnStatusIntChanged = [this, &c, name](QObject*) {
            Lines.push_back(name + "int " + std::to_string(c.StatusInt()));
        };
        c.OnClick = [this, name](QObject*) { Lines.push_back(name + "click"); };
        c.OnDblClick = [this, name](QObject*) { Lines.push_back(name + "dblclick"); };
        c.OnMouseDown = [this, name](QObject*, Qt::MouseButton b, Qt::KeyboardModifiers, int, int) {
            Lines.push_back(name + (b == Qt::LeftButton ? "down" : "down other"));
        };
        c.OnMouseUp = [this, name](QObject*, Qt::MouseButton b, Qt::KeyboardModifiers, int, int) {
            Lines.push_back(name + (b == Qt::LeftButton ? "up" : "up other"));
        };
    }
    std::vector<std::string> Take() { return std::exchange(Lines, {}); }
};

using Lines = std::vector<std::string>;

} // namespace

TEST(TAbLED, Defaults) {
    QWidget owner;
    TAbLED led(&owner);
    EXPECT_EQ(led.size(), QSize(73, 33));
    EXPECT_TRUE(led.Caption().isEmpty());
    EXPECT_EQ(led.LED_Position(), lpLeft);
    EXPECT_EQ(led.Spacing(), 5);
    EXPECT_FALSE(led.Checked());
    EXPECT_FALSE(led.Flashing());
    EXPECT_EQ(led.Frequency(), ff1Hz);
    EXPECT_EQ(led.Mode(), mIndicator);
    EXPECT_EQ(led.StatusInt(), 0);
    EXPECT_EQ(led.LED()->Shape(), sRound);
    EXPECT_EQ(led.LED()->ColorOn(), clLime);
    EXPECT_EQ(led.LED()->ColorOff(), clBtnFace);
    EXPECT_EQ(led.LED()->Width(), 13);
    EXPECT_EQ(led.LED()->Rect(), TRect{});
    EXPECT_EQ(led.focusPolicy(), Qt::NoFocus);
    EXPECT_TRUE(led.ParentFont());
    EXPECT_EQ(led.Owner(), &owner);
}

TEST(TAbLED, CheckedMirrorsTheStatusBit) {
    TAbLED led;
    EventLog log;
    log.Watch(led);
    led.SetChecked(false);
    EXPECT_TRUE(log.Take().empty());

    led.SetStatusBit(3);
    led.SetStatusInt(8);
    EXPECT_TRUE(led.Checked());
    EXPECT_EQ(log.Take(), (Lines{"status on", "int 8"}));
    led.SetStatusInt(7);
    EXPECT_FALSE(led.Checked());
    EXPECT_EQ(log.Take(), (Lines{"status off", "int 7"}));

    // Checking sets the bit and keeps the others; unchecking clears it.
    led.SetChecked(true);
    EXPECT_EQ(led.StatusInt(), 15);
    EXPECT_EQ(log.Take(), (Lines{"int 15", "status on"}));
    led.SetStatusBit(31);
    EXPECT_FALSE(led.Checked());
    led.SetChecked(true);
    EXPECT_EQ(quint32(led.StatusInt()), 0x8000000Fu);
    led.SetStatusBit(32);
    led.SetStatusBit(-1);
    EXPECT_EQ(led.StatusBit(), 31);
}

TEST(TAbLED, RadioModeNarrowsTheStatus) {
    TAbLED led;
    led.SeTMode(mRadioButton);
    EXPECT_EQ(led.StatusInt(), 1);
    EXPECT_TRUE(led.Checked());
    led.SetStatusInt(0);
    EXPECT_FALSE(led.Checked());
    EventLog log;
    log.Watch(led);
    led.SetStatusInt(3);
    EXPECT_TRUE(led.Checked());
    EXPECT_EQ(led.StatusInt(), 1);
    EXPECT_EQ(log.Take(), (Lines{"int 1", "status on", "int 1"}));
    // Unchecking by code leaves the status alone.
    led.SetChecked(false);
    EXPECT_EQ(led.StatusInt(), 1);
}

TEST(TAbLED, ButtonModeClearsTheStatusEveryTime) {
    TAbLED led;
    led.SeTMode(mButton);
    led.SetChecked(true);
    led.SeTMode(mButton);
    EXPECT_EQ(led.StatusInt(), 0);
    EXPECT_FALSE(led.Checked());
    led.SeTMode(TMode(7));
    EXPECT_EQ(led.Mode(), mButton);
}

TEST(TAbLEDGroup, RadioPressChecksOneAndClearsTheOthers) {
    QWidget owner;
    owner.resize(300, 100);
    std::vector<std::unique_ptr<TAbLED>> leds;
    EventLog log;
    for (int i = 0; i < 3; ++i) {
        leds.push_back(std::make_unique<TAbLED>(&owner));
        leds[i]->move(i * 80, 0);
        leds[i]->SeTMode(mRadioButton);
        leds[i]->SetStatusBit(i);
        leds[i]->SetGroupIndex(1);
        log.Watch(*leds[i], std::to_string(i) + " ");
    }
    QTest::mousePress(leds[1].get(), Qt::LeftButton, {}, QPoint(5, 5));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(leds[i]->StatusInt(), 2) << i;
        EXPECT_EQ(leds[i]->Checked(), i == 1) << i;
    }
    EXPECT_TRUE(leds[1]->Pressed());
    QTest::mouseRelease(leds[1].get(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(leds[1]->Pressed());
    EXPECT_EQ(log.Take(), (Lines{"1 down", "1 status on", "1 int 2", "0 status off", "0 int 2",
                                 "2 int 2", "1 click", "1 up"}));
}

TEST(TAbLEDGroup, NonRadioMembersShareAMask) {
    QWidget owner;
    TAbLED a(&owner), b(&owner);
    a.SetGroupIndex(2);
    b.SetGroupIndex(2);
    b.SetStatusBit(1);
    a.SetChecked(true);
    b.SetChecked(true);
    EXPECT_EQ(a.StatusInt(), 3);
    EXPECT_EQ(b.StatusInt(), 3);
    EXPECT_TRUE(a.Checked());
    EXPECT_TRUE(b.Checked());
    EXPECT_FALSE(TAbBinGControl::GroupUpdate());
}

TEST(TAbLEDGroup, JoiningAdoptsTheFirstMembersStatus) {
    QWidget owner;
    TAbLED first(&owner), second(&owner), third(&owner);
    first.SetStatusInt(5);
    second.SetGroupIndex(3);
    second.SetStatusInt(2);
    // The first component of the owner keeps its own status and spreads nothing.
    first.SetGroupIndex(3);
    EXPECT_EQ(first.StatusInt(), 5);
    EXPECT_EQ(second.StatusInt(), 2);
    // A later one adopts the first member's status, which then spreads.
    third.SetGroupIndex(3);
    EXPECT_EQ(third.StatusInt(), 5);
    EXPECT_EQ(second.StatusInt(), 5);
    third.SetGroupIndex(-1);
    EXPECT_EQ(third.GroupIndex(), 3);
}

TEST(TAbLEDGroup, MembershipFollowsTheOwnerNotTheParent) {
    QWidget owner, otherParent;
    TAbLED a(&owner);
    TAbLED b(&otherParent, &owner); // owned by owner, shown elsewhere
    TAbLED c(&owner, &otherParent); // shown in owner, owned elsewhere
    TAbDBLED d(&otherParent, &owner);
    EXPECT_EQ(TAbBinGControl::OwnerComponents(&owner), (QList<TAbBinGControl*>{&a, &b, &d}));
    for (TAbLED* led : std::initializer_list<TAbLED*>{&a, &b, &c, &d}) {
        led->SeTMode(mSwitch);
        led->SetGroupIndex(4);
    }
    a.SetStatusInt(6);
    EXPECT_EQ(b.StatusInt(), 6);
    EXPECT_EQ(d.StatusInt(), 6);
    EXPECT_EQ(c.StatusInt(), 0);
}

TEST(TAbLEDGroup, OwnerGoingFirstLeavesTheControlAlone) {
    QWidget parent;
    auto owner = std::make_unique<QObject>();
    TAbLED a(&parent, owner.get()), b(&parent, owner.get());
    owner.reset();
    EXPECT_EQ(a.Owner(), nullptr);
    a.SetGroupIndex(1);
    b.SetGroupIndex(1);
    a.SetStatusInt(3);
    EXPECT_EQ(a.StatusInt(), 3);
    EXPECT_EQ(b.StatusInt(), 0);
    TAbLED alone;
    alone.SetGroupIndex(1);
    alone.SetStatusInt(9);
    EXPECT_EQ(alone.StatusInt(), 9);
}

TEST(TAbLED, FlashRegistrationFollowsCheckedAndFlashing) {
    EXPECT_EQ(AbFlashCount(), 0);
    {
        TAbLED led;
        led.SetFlashing(true);
        EXPECT_EQ(AbFlashCount(), 0);
        led.SetChecked(true);
        EXPECT_EQ(AbFlashCount(), 1);
        led.SetFrequency(ff8Hz);
        led.SetFrequency(ff05Hz);
        EXPECT_EQ(AbFlashCount(), 1);
        led.SetChecked(false);
        EXPECT_EQ(AbFlashCount(), 0);
        led.SetChecked(true);
        EXPECT_EQ(AbFlashCount(), 1);
    }
    EXPECT_EQ(AbFlashCount(), 0); // destruction removes it
}

TEST(TAbLED, FlashingBlinksThroughTheService) {
    QWidget host;
    host.resize(100, 40);
    TProbeLED led(&host);
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    led.SetChecked(true);
    led.SetFrequency(ff8Hz);
    led.SetFlashing(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return led.Flashes.size() >= 4; }, 5000));
    for (size_t i = 1; i < led.Flashes.size(); ++i)
        EXPECT_NE(led.Flashes[i], led.Flashes[i - 1]);
    led.SetFlashing(false);
    const size_t n = led.Flashes.size();
    // Two flashes of another LED come from later ticks: none of them reached the first.
    TProbeLED later(&host);
    later.SetChecked(true);
    later.SetFrequency(ff8Hz);
    later.SetFlashing(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return later.Flashes.size() >= 2; }, 5000));
    EXPECT_EQ(led.Flashes.size(), n);
}

TEST(TAbLEDLayout, FourPositions) {
    struct Case {
        TLEDPos Pos;
        TRect Box;
        toPos Anchor;
        QPoint Point;
    };
    // A 13-pixel round LED in a 73 by 33 control with spacing 5.
    const Case cases[] = {
        {lpLeft, {0, 10, 13, 23}, toMidLeft, {18, 16}},
        {lpRight, {60, 10, 73, 23}, toMidRight, {55, 16}},
        {lpTop, {30, 0, 43, 13}, toTopCenter, {36, 18}},
        {lpBottom, {30, 20, 43, 33}, toBotCenter, {36, 15}},
    };
    TAbLED led;
    led.SetCaption(QStringLiteral("AbX"));
    QFont font = led.font();
    font.setPixelSize(9);
    led.setFont(font);
    const QFontMetrics fm(font);
    const int W = fm.horizontalAdvance(led.Caption()), H = fm.height();
    for (const Case& c : cases) {
        led.SetLED_Position(c.Pos);
        const QImage img = Render(led);
        EXPECT_EQ(led.LED()->Rect(), c.Box) << int(c.Pos);
        const QRect box(QPoint(c.Box.Left, c.Box.Top), QPoint(c.Box.Right - 1, c.Box.Bottom - 1));
        EXPECT_EQ(Ink(img, box), box) << int(c.Pos);
        EXPECT_EQ(img.pixel(box.center()), AbColor(clBtnFace).rgb()) << int(c.Pos);

        QPoint topLeft = c.Point;
        if (c.Anchor == toMidLeft || c.Anchor == toMidRight)
            topLeft.ry() -= H / 2;
        if (c.Anchor == toMidRight)
            topLeft.rx() -= W;
        if (c.Anchor == toTopCenter || c.Anchor == toBotCenter)
            topLeft.rx() -= W / 2;
        if (c.Anchor == toBotCenter)
            topLeft.ry() -= H;
        const QRect textBox(topLeft, QSize(W, H));
        const QRect ink = Ink(img, img.rect());
        // Everything drawn lies in the LED's box or the caption's box.
        EXPECT_TRUE((box | textBox).contains(ink)) << int(c.Pos);
        const QRect captionInk = Ink(img, textBox);
        EXPECT_FALSE(captionInk.isNull()) << int(c.Pos);
        EXPECT_LE(captionInk.left() - textBox.left(), 2) << int(c.Pos);
    }
}

TEST(TAbLEDLayout, RoundLedUsesASquareBox) {
    TAbLED led;
    led.resize(40, 30);
    led.LED()->SetWidth(10);
    led.LED()->SetHeight(20);
    Render(led);
    EXPECT_EQ(led.LED()->Rect(), (TRect{0, 5, 20, 25}));
    led.LED()->SetShape(sArrowUp);
    Render(led);
    EXPECT_EQ(led.LED()->Rect(), (TRect{0, 5, 10, 25}));
    led.LED()->SetWidth(3);
    led.LED()->SetHeight(31);
    EXPECT_EQ(led.LED()->Width(), 10);
    EXPECT_EQ(led.LED()->Height(), 20);
}

TEST(TAbLEDLayout, RtsToggleOfTheWindow) {
    QWidget window;
    TAbLED chkRTS(&window);
    chkRTS.setGeometry(8, 170, 77, 11);
    chkRTS.SetCaption(QStringLiteral("开/关RTS"));
    const QImage img = Render(chkRTS);
    // The LED box overhangs the control by a pixel at the top and the bottom.
    EXPECT_EQ(chkRTS.LED()->Rect(), (TRect{0, -1, 13, 12}));
    const QRect caption = Ink(img, QRect(13, 0, 64, 11));
    ASSERT_FALSE(caption.isNull());
    EXPECT_GE(caption.left(), 18);
    EXPECT_LE(caption.left(), 20);
    // The parent shows through beside the LED.
    EXPECT_EQ(img.pixel(15, 5), Background);
    EXPECT_EQ(img.pixel(0, 0), Background);
}

TEST(TAbLEDLayout, DisabledLooksTheSame) {
    TAbLED led;
    led.SetCaption(QStringLiteral("启用前导码"));
    led.SetChecked(true);
    const QImage enabled = Render(led);
    led.setEnabled(false);
    EXPECT_EQ(Render(led), enabled);
    EXPECT_EQ(enabled.pixel(6, 16), AbColor(clLime).rgb());
}

TEST(TAbLEDPaint, ParamChangeRepaintsAtOnce) {
    QWidget host;
    host.resize(100, 40);
    TProbeLED led(&host);
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    led.Paints.clear();
    led.SetSpacing(8);
    ASSERT_EQ(led.Paints.size(), 1u);
    EXPECT_EQ(led.Paints[0], led.rect());
    led.LED()->SetColorOn(clRed);
    led.SetCaption(QStringLiteral("x"));
    led.SetLED_Position(lpTop);
    led.SetLED_Position(lpTop);
    EXPECT_EQ(led.Paints.size(), 4u);
}

TEST(TAbLEDPaint, StatusAndFlashRedrawOnlyTheLed) {
    QWidget host;
    host.resize(100, 40);
    TProbeLED led(&host);
    led.SetCaption(QStringLiteral("caption"));
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
    QApplication::processEvents();
    const QRect area(0, 10, 13, 13);
    led.Paints.clear();
    led.SetChecked(true);
    QApplication::processEvents();
    ASSERT_FALSE(led.Paints.empty());
    for (const QRect& r : led.Paints)
        EXPECT_TRUE(area.contains(r))
            << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();

    // A flash redraw shows the flash phase; a full paint shows the checked state.
    led.Flash(false);
    const QImage flashed = Render(led, QRegion(area));
    EXPECT_EQ(flashed.pixel(6, 16), AbColor(clBtnFace).rgb());
    EXPECT_EQ(flashed.pixel(40, 16), Background); // the caption is not touched
    EXPECT_EQ(Render(led).pixel(6, 16), AbColor(clLime).rgb());
}

TEST(TAbLEDPaint, RedrawBeforeTheFirstPaintShowsNothing) {
    QWidget host;
    TProbeLED led(&host);
    led.SetChecked(true);
    led.Flash(true);
    EXPECT_EQ(led.LED()->Rect(), TRect{});
    EXPECT_TRUE(led.Paints.empty());
}

TEST(TAbLEDMouse, IndicatorClickOnlyRaisesEvents) {
    TAbLED led;
    EventLog log;
    log.Watch(led);
    QTest::mouseClick(&led, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(log.Take(), (Lines{"down", "click", "up"}));
    EXPECT_FALSE(led.Checked());
    EXPECT_FALSE(led.Pressed());
}

TEST(TAbLEDMouse, ButtonPressActionThenClickThenReleaseAction) {
    TAbLED led;
    led.SeTMode(mButton);
    EventLog log;
    log.Watch(led);
    QTest::mouseClick(&led, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(log.Take(),
              (Lines{"down", "int 1", "status on", "click", "up", "int 0", "status off"}));
}

TEST(TAbLEDMouse, SwitchToggles) {
    TAbLED led;
    led.SeTMode(mSwitch);
    QTest::mouseClick(&led, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(led.Checked());
    QTest::mouseClick(&led, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(led.Checked());
}

TEST(TAbLEDMouse, OnlyTheLeftButtonActs) {
    TAbLED led;
    led.SeTMode(mSwitch);
    EventLog log;
    log.Watch(led);
    QTest::mouseClick(&led, Qt::RightButton, {}, QPoint(5, 5));
    QTest::mouseClick(&led, Qt::MiddleButton, {}, QPoint(5, 5));
    EXPECT_EQ(log.Take(), (Lines{"down other", "up other", "down other", "up other"}));
    EXPECT_FALSE(led.Checked());
}

TEST(TAbLEDMouse, ReleaseOutsideIsNoClick) {
    TAbLED led;
    EventLog log;
    log.Watch(led);
    QTest::mousePress(&led, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(&led, Qt::LeftButton, {}, QPoint(200, 5));
    EXPECT_EQ(log.Take(), (Lines{"down", "up"}));
}

TEST(TAbLEDMouse, DoubleClickTogglesOnce) {
    TAbLED led;
    EventLog log;
    log.Watch(led);
    // The window's pattern: the handler computes the new state and writes it back.
    led.OnClick = [&](QObject*) {
        log.Lines.push_back("click");
        led.SetChecked(!led.Checked());
    };
    // What a widget receives of a double click: press, release, double click, release
    // (QTest::mouseDClick sends only the double click).
    QTest::mouseClick(&led, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseDClick(&led, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(&led, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(led.Checked());
    EXPECT_EQ(log.Take(),
              (Lines{"down", "click", "int 1", "status on", "up", "dblclick", "down", "up"}));
}

TEST(TAbLEDMouse, DisabledTakesNoClicks) {
    QWidget host;
    TAbLED led(&host);
    led.SeTMode(mSwitch);
    EventLog log;
    log.Watch(led);
    host.setEnabled(false);
    QTest::mouseClick(&led, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(log.Take().empty());
    EXPECT_FALSE(led.Checked());
}

TEST(TAbDBLED, UnboundBehavesAsTheLed) {
    QWidget owner;
    TAbDBLED led(&owner);
    EXPECT_FALSE(led.DataReadOnly());
    EXPECT_EQ(led.DataSource(), nullptr);
    led.SetStatusBit(2);
    led.SetStatusInt(4);
    EXPECT_TRUE(led.Checked());
    EXPECT_EQ(led.DataLink()->FieldKind(), fkNone);
}

TEST(TAbDBLED, BoundFieldReadsAndWrites) {
    TAbDBLED led;
    TAbFieldDataLink& link = *led.DataLink();
    std::vector<QVariant> written;
    link.WriteField = [&](const QVariant& v) {
        written.push_back(v);
        return true;
    };
    link.DataField = QStringLiteral("State");
    link.SetField(QMetaType::Int);
    link.ValueChanged(5);
    EXPECT_EQ(led.StatusInt(), 5);
    EXPECT_TRUE(written.empty()); // a value read is not written back
    led.SetStatusInt(8);
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0].toInt(), 8);

    link.SetField(QMetaType::Double);
    link.ValueChanged(-3.9);
    EXPECT_EQ(led.StatusInt(), -3);
    link.ValueChanged(1e30);
    EXPECT_EQ(led.StatusInt(), 2147483647);

    link.SetField(QMetaType::Bool);
    link.ValueChanged(true);
    EXPECT_TRUE(led.Checked());

    // A refused write makes the link read-only.
    link.SetField(QMetaType::Int);
    link.WriteField = [](const QVariant&) { return false; };
    led.SetStatusInt(0);
    EXPECT_TRUE(led.DataReadOnly());

    link.SetField(QMetaType::QString);
    EXPECT_TRUE(link.DataField.isEmpty());
    EXPECT_EQ(link.FieldKind(), fkNone);

    auto source = std::make_unique<QObject>();
    led.SetDataSource(source.get());
    source.reset();
    EXPECT_EQ(led.DataSource(), nullptr);
}
