#include "Abflasht.h"
#include "_abproc.h"

#include <QCoreApplication>
#include <QObject>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

// Set by main before anything else runs.
extern bool FlashTimerRanBeforeMain;

namespace {

struct TDelivery {
    QObject* Control;
    quint32 WParam;
    qint32 LParam;
    friend bool operator==(const TDelivery&, const TDelivery&) = default;
};

// A table on a clock the test moves, recording every flash message.
struct FlashTable : ::testing::Test {
    quint32 Now = 0;
    std::vector<TDelivery> Log;
    std::function<void(QObject*)> OnDeliver;
    TAbFlashList List{[this] { return Now; },
                      [this](QObject* c, quint32 w, qint32 l) {
                          Log.push_back({c, w, l});
                          if (OnDeliver)
                              OnDeliver(c);
                      }};
    QObject A, B, C;

    // Ticks N times, the clock moving 50 ms before each tick.
    void Tick(int N = 1) {
        for (int i = 0; i < N; ++i) {
            Now += 50;
            List.AbFlash();
        }
    }
    std::vector<TDelivery> Take() { return std::exchange(Log, {}); }
};

std::vector<std::pair<quint32, qint32>> ProcLog;
void RecordProc(quint32 Counter, qint32 State) {
    ProcLog.emplace_back(Counter, State);
}
void ThrowingProc(quint32, qint32) {
    throw std::runtime_error("receiver failed");
}

} // namespace

TEST_F(FlashTable, MaskEightAlternatesEveryEightTicks) {
    List.AddControl(&A, 8); // Stamp 8: bit 3 set, while the counter's is clear
    Tick(40);
    const std::vector<TDelivery> expected = {{&A, 1, 0},   {&A, 8, -1}, {&A, 16, 0},
                                             {&A, 24, -1}, {&A, 32, 0}, {&A, 40, -1}};
    EXPECT_EQ(Log, expected);
}

TEST_F(FlashTable, FirstTickIsSilentWhenTheBitAgrees) {
    List.flashCounter = 8;
    Now = 16;
    List.AddControl(&A, 8); // Stamp 24: bit 3 set, as the counter's will be on tick 9
    Tick(7);
    EXPECT_TRUE(Log.empty());
    Tick(1);
    EXPECT_EQ(Take(), (std::vector<TDelivery>{{&A, 16, 0}}));
}

TEST_F(FlashTable, SameMaskBlinksInPhase) {
    List.AddControl(&A, 4);
    Tick(5);
    List.AddControl(&B, 4);
    bool a = false, b = true;
    const auto apply = [&] {
        for (const TDelivery& d : Take())
            (d.Control == &A ? a : b) = d.LParam != 0;
    };
    Tick(3); // to the next change of bit 2, at tick 8
    apply();
    EXPECT_EQ(a, b);
    for (int i = 0; i < 40; ++i) {
        Tick();
        apply();
        EXPECT_EQ(a, b) << "tick " << List.flashCounter;
    }
}

TEST_F(FlashTable, ReRegistrationUpdatesTheEntry) {
    Now = 1000;
    List.AddControl(&A, 8);
    List.AddControl(&B, 2);
    Now = 2000;
    List.AddControl(&A, 16);
    ASSERT_EQ(List.Count(), 2);
    EXPECT_EQ(List.Items(0).Control, &A);
    EXPECT_EQ(List.Items(0).Interval, 16);
    EXPECT_EQ(List.Items(0).Stamp, 2016u);
    EXPECT_EQ(List.Items(1).Stamp, 1002u);
    EXPECT_EQ(List.AFlashRecord(), &List.Items(0));
}

TEST_F(FlashTable, CapacityGrowsInStepsOfTen) {
    std::vector<QObject> receivers(12);
    const int expected[] = {11, 11, 11, 11, 11, 11, 11, 11, 11, 20, 20, 20};
    for (int i = 0; i < 12; ++i) {
        List.AddControl(&receivers[i], 1);
        EXPECT_EQ(List.Capacity(), expected[i]) << "after " << i + 1;
    }
    List.DelControl(&receivers[0]);
    EXPECT_EQ(List.Capacity(), 20);
}

TEST_F(FlashTable, RemovalKeepsTheOrder) {
    List.AddControl(&A, 1);
    List.AddProc(RecordProc, 1);
    List.AddControl(&B, 1);
    List.AddControl(nullptr, 1);
    List.AddProc(nullptr, 1);
    ASSERT_EQ(List.Count(), 3);

    List.DelControl(&C); // not registered
    List.DelControlNo(3);
    List.DelControlNo(-1);
    List.DelProcNo(qint16(-32768));
    EXPECT_EQ(List.Count(), 3);

    List.DelControl(&A);
    EXPECT_EQ(List.AFlashRecord(), nullptr);
    ASSERT_EQ(List.Count(), 2);
    EXPECT_EQ(List.Items(0).Proc, RecordProc);
    List.DelProc(RecordProc);
    ASSERT_EQ(List.Count(), 1);
    EXPECT_EQ(List.Items(0).Control, &B);
    List.DelProcNo(0);
    EXPECT_EQ(List.Count(), 0);
}

TEST_F(FlashTable, OnceASecondBeat) {
    List.AddControl(&A, 32);
    const std::pair<quint32, bool> ticks[] = {{0, true},    {50, false},   {990, false},
                                              {1010, true}, {2000, false}, {2010, true}};
    for (auto [now, beat] : ticks) {
        Now = now;
        List.AbFlash();
        EXPECT_EQ(Take().size(), beat ? 1u : 0u) << "at " << now;
    }
}

TEST_F(FlashTable, PeriodLatenessIsCompensated) {
    Now = 4900;
    List.AddControl(&A, 100); // due at 5000
    Now = 4990;
    List.AbFlash();
    EXPECT_TRUE(Take().empty());

    Now = 5030;
    List.AbFlash();
    EXPECT_EQ(Take(), (std::vector<TDelivery>{{&A, 2, 30}}));
    EXPECT_EQ(List.Items(0).Stamp, 5100u);

    Now = 5100;
    List.AbFlash();
    EXPECT_EQ(Take(), (std::vector<TDelivery>{{&A, 3, 0}}));
    EXPECT_EQ(List.Items(0).Stamp, 5200u);

    Now = 6700; // 1500 ms late: rescheduled from now
    List.AbFlash();
    EXPECT_EQ(Take(), (std::vector<TDelivery>{{&A, 4, 0}}));
    EXPECT_EQ(List.Items(0).Stamp, 6800u);
}

TEST_F(FlashTable, ProceduresGetCounterAndState) {
    ProcLog.clear();
    Now = 0;
    List.AddProc(RecordProc, 250); // a period entry, served late: the state stays 0
    Now = 280;
    List.AbFlash();
    EXPECT_EQ(ProcLog, (std::vector<std::pair<quint32, qint32>>{{1, 0}}));
    EXPECT_EQ(List.Items(0).Stamp, 500u);
}

TEST_F(FlashTable, CounterWrapsToZero) {
    List.flashCounter = 0xFFFFFFFE;
    Now = 1;
    List.AddControl(&A, 1); // Stamp 2: bit 0 clear
    Tick(3);
    const std::vector<TDelivery> expected = {{&A, 0xFFFFFFFF, -1}, {&A, 0, 0}, {&A, 1, -1}};
    EXPECT_EQ(Log, expected);
}

TEST_F(FlashTable, ReceiverRemovingItselfSkipsItsSuccessor) {
    Now = 1; // Stamp 2: the first tick changes bit 0
    List.AddControl(&A, 1);
    List.AddControl(&B, 1);
    List.AddControl(&C, 1);
    OnDeliver = [this](QObject* c) {
        if (c == &A)
            List.DelControl(&A);
    };
    Tick();
    // B moved into A's index and waits for the next tick.
    EXPECT_EQ(Take(), (std::vector<TDelivery>{{&A, 1, -1}, {&C, 1, -1}}));
    // B is served now; its bit agrees with its registration stamp, so only C is told.
    Tick();
    EXPECT_EQ(Take(), (std::vector<TDelivery>{{&C, 2, 0}}));
    Tick();
    EXPECT_EQ(Take(), (std::vector<TDelivery>{{&B, 3, -1}, {&C, 3, -1}}));
}

TEST_F(FlashTable, ShrunkTableSkipsIndicesPastItsEnd) {
    Now = 1;
    List.AddControl(&A, 1);
    List.AddControl(&B, 1);
    List.AddControl(&C, 1);
    OnDeliver = [this](QObject* c) {
        if (c == &A) {
            List.DelControl(&A);
            List.DelControl(&B);
        }
    };
    Tick();
    EXPECT_EQ(Take(), (std::vector<TDelivery>{{&A, 1, -1}}));
    ASSERT_EQ(List.Count(), 1);
}

TEST_F(FlashTable, FailingReceiverDoesNotStopTheTick) {
    Now = 1;
    List.AddProc(ThrowingProc, 1);
    List.AddControl(&A, 1);
    EXPECT_NO_THROW(Tick());
    EXPECT_EQ(Take(), (std::vector<TDelivery>{{&A, 1, -1}}));
}

// A receiver of the process-wide service's flash messages.
class TFlashReceiver : public QObject {
public:
    std::vector<TDelivery> Got;
    bool OffGuiThread = false;

protected:
    bool event(QEvent* e) override {
        if (e->type() != TFlashMessage::EventType())
            return QObject::event(e);
        const auto& m = static_cast<const TFlashMessage&>(*e);
        OffGuiThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
        EXPECT_EQ(m.Msg, 0x464);
        Got.push_back({this, m.WParam, m.LParam});
        return true;
    }
};

TEST(FlashService, DeliversTicksInOrderOnTheGuiThread) {
    TFlashReceiver r;
    AddControl(&r, 1);
    EXPECT_EQ(AbFlashCount(), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return r.Got.size() >= 4; }, 5000));
    DelControl(&r);
    EXPECT_EQ(AbFlashCount(), 0);
    EXPECT_FALSE(r.OffGuiThread);
    // Mask 1 changes on every tick: consecutive counters, alternating states.
    for (size_t i = 1; i < r.Got.size(); ++i) {
        EXPECT_EQ(r.Got[i].WParam, r.Got[i - 1].WParam + 1);
        EXPECT_EQ(r.Got[i].LParam != 0, (r.Got[i].WParam & 1) != 0);
    }
    // Nothing arrives after the removal, not even what was already queued: two later ticks
    // reach another receiver, and the messages of one thread arrive in the order posted.
    const size_t n = r.Got.size();
    TFlashReceiver later;
    AddControl(&later, 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return later.Got.size() >= 2; }, 5000));
    DelControl(&later);
    EXPECT_EQ(r.Got.size(), n);
}

// The thread starts with the first registration, not with the program; freeing the table ends
// it, and the next registration starts both again.
TEST(FlashService, TheTimerRunsFromTheFirstRegistrationUntilTheTableIsFreed) {
    EXPECT_FALSE(FlashTimerRanBeforeMain);
    TFlashReceiver r;
    AbFlashFreeTable();
    AbFlashFreeTable(); // a second release does nothing
    EXPECT_FALSE(AbFlashTimerRunning());
    DelControl(&r); // no table: nothing to do
    EXPECT_EQ(AbFlashCount(), 0);
    AddControl(&r, 1);
    EXPECT_TRUE(AbFlashTimerRunning());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !r.Got.empty(); }, 5000));
    // Freeing with a receiver still registered frees its entry; the thread has ended, so no
    // tick can post anything more.
    AbFlashFreeTable();
    EXPECT_FALSE(AbFlashTimerRunning());
    EXPECT_EQ(AbFlashCount(), 0);
    QCoreApplication::removePostedEvents(&r);
    AddControl(&r, 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !r.Got.empty(); }, 5000));
    DelControl(&r);
}
