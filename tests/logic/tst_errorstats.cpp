// Error statistics of the timed auto-send: one tick's comparison, the rates over a run with their
// 32-bit arithmetic, the texts, the tick intervals and the interval fields' parsing.

#include "ErrorStats.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace {

using TBytes = std::vector<uint8_t>;

const TBytes DefaultFrame = {0x55, 0xAA, 0xFF, 0x30, 0x31, 0x32, 0x33, 0x34,
                             0x35, 0x36, 0x37, 0x38, 0x39, 0x41, 0x42, 0x43};

// One tick: the frame sent, the bytes received since the last tick.
std::unique_ptr<TErrStat> Tick(const TBytes& sent, const TBytes& received) {
    auto s = std::make_unique<TErrStat>();
    ErrStatSetSent(*s, sent.data(), uint32_t(sent.size()));
    ErrStatSetRecv(*s, received.data(), uint32_t(received.size()));
    ErrStatCompare(*s);
    return s;
}

TBytes Pattern(size_t n) {
    TBytes bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = uint8_t(i * 13 + 7);
    return bytes;
}

TEST(ErrorStats, DefaultFrameEchoedWithTwoBitsFlippedInOneByte) {
    TBytes echo = DefaultFrame;
    echo[5] ^= 0x81;
    const auto s = Tick(DefaultFrame, echo);
    EXPECT_EQ(s->SentCount, 16u);
    EXPECT_EQ(s->RecvCount, 16u);
    EXPECT_EQ(s->ByteErrors, 1u);
    EXPECT_EQ(s->BitErrors, 2u);
    EXPECT_EQ(BytePerText(ByteErrorRate(s->ByteErrors, 16)), "字节误码率:6.2500%");
    EXPECT_EQ(BitPerText(BitErrorRate(s->BitErrors, 16)), "比特误码率:1.5625%");
    EXPECT_EQ(SendByteText(16), "发送数据长度: 16 bytes");
    EXPECT_EQ(RevText(16), "接收数据长度: 16 bytes");
}

TEST(ErrorStats, RepliesCompareFromTheStartPositionByPosition) {
    const TBytes frame = {0x01, 0x02, 0x03, 0x04};
    struct {
        const char* Name;
        TBytes Received;
        uint32_t ByteErrors;
        uint32_t BitErrors;
    } cases[] = {
        {"exact echo", frame, 0, 0},
        {"no reply", {}, 4, 32},
        {"short reply", {0x01, 0x02}, 2, 16},
        {"short reply with a wrong byte", {0x01, 0x03, 0x03}, 2, 9},
        {"extra bytes after are ignored", {0x01, 0x02, 0x03, 0x04, 0xFF, 0x00}, 0, 0},
        // FF^01, 01^02, 02^03, 03^04: 7 + 2 + 1 + 3 bits.
        {"a stray byte in front", {0xFF, 0x01, 0x02, 0x03, 0x04}, 4, 13},
        // The second half of the last reply, then the first half of this one.
        {"split reply, second tick", {0x03, 0x04, 0x01, 0x02}, 4, 6},
        {"every bit wrong", {0xFE, 0xFD, 0xFC, 0xFB}, 4, 32},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto s = Tick(frame, c.Received);
        EXPECT_EQ(s->ByteErrors, c.ByteErrors);
        EXPECT_EQ(s->BitErrors, c.BitErrors);
    }
}

TEST(ErrorStats, NothingSentIsNoErrorWhateverArrives) {
    const auto s = Tick({}, {0x00, 0xFF});
    EXPECT_EQ(s->ByteErrors, 0u);
    EXPECT_EQ(s->BitErrors, 0u);
}

TEST(ErrorStats, EachCompareStartsFromZero) {
    auto s = Tick(DefaultFrame, {});
    ASSERT_EQ(s->ByteErrors, 16u);
    ErrStatSetRecv(*s, DefaultFrame.data(), uint32_t(DefaultFrame.size()));
    ErrStatCompare(*s);
    EXPECT_EQ(s->ByteErrors, 0u);
    EXPECT_EQ(s->BitErrors, 0u);
}

TEST(ErrorStats, OnlyTheFirst1023BytesOfALongFrameCount) {
    const TBytes frame = Pattern(2000);
    auto s = Tick(frame, frame);
    EXPECT_EQ(s->SentCount, ErrStatMaxCount);
    EXPECT_EQ(s->RecvCount, ErrStatMaxCount);
    EXPECT_EQ(s->ByteErrors, 0u);
    EXPECT_EQ(TBytes(s->SentBuf, s->SentBuf + 1023), TBytes(frame.begin(), frame.begin() + 1023));

    TBytes late = frame;
    late[1023] ^= 0xFF; // the first byte beyond the cut
    late[1500] ^= 0xFF;
    EXPECT_EQ(Tick(frame, late)->ByteErrors, 0u);

    TBytes last = frame;
    last[1022] ^= 0x01;
    s = Tick(frame, last);
    EXPECT_EQ(s->ByteErrors, 1u);
    EXPECT_EQ(s->BitErrors, 1u);

    s = Tick(frame, TBytes(frame.begin(), frame.begin() + 1000));
    EXPECT_EQ(s->ByteErrors, 23u);
    EXPECT_EQ(s->BitErrors, 184u);
}

TEST(ErrorStatsRates, PercentOfTheTotals) {
    struct {
        uint32_t Errors;
        uint32_t Sent;
        float Bytes;
        float Bits;
    } cases[] = {
        {0, 16, 0.0f, 0.0f},     {1, 16, 6.25f, 0.78125f},  {2, 16, 12.5f, 1.5625f},
        {16, 16, 100.0f, 12.5f}, {128, 16, 800.0f, 100.0f}, {1, 3, 33.333332f, 4.1666665f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Errors << " of " << c.Sent);
        EXPECT_EQ(ByteErrorRate(c.Errors, c.Sent), c.Bytes);
        EXPECT_EQ(BitErrorRate(c.Errors, c.Sent), c.Bits);
    }
}

TEST(ErrorStatsRates, ProductsWrapAt32Bits) {
    // 50'000'000 * 100 wraps to 705'032'704.
    EXPECT_EQ(ByteErrorRate(50'000'000, 1'000'000'000), 0.70503271f);
    EXPECT_EQ(BitErrorRate(50'000'000, 1'000'000'000 / 8), 0.70503271f);
    // And 1'000'000'000 * 8 to 3'705'032'704.
    EXPECT_FLOAT_EQ(BitErrorRate(50'000'000, 1'000'000'000), 0.19029056f);
}

TEST(ErrorStatsRates, TheBitCountIsRoundedToSinglePrecisionBeforeItDivides) {
    // 0x01000001 * 8 = 2^27 + 8, which single precision holds as 2^27: 100 * 2^20 / 2^27 is
    // exactly 0.78125, where the exact divisor would give the float below it.
    EXPECT_EQ(BitErrorRate(1u << 20, 0x01000001), 0.78125f);
}

TEST(ErrorStatsRates, AZeroDivisorGivesZero) {
    EXPECT_EQ(ByteErrorRate(5, 0), 0.0f);
    EXPECT_EQ(BitErrorRate(5, 0), 0.0f);
    EXPECT_EQ(BitErrorRate(5, 0x20000000), 0.0f); // 8 * 2^29 wraps to 0
}

TEST(ErrorStatsText, RatesCountsAndCaptions) {
    struct {
        std::string Text;
        std::string Expected;
    } cases[] = {
        {RateText(6.25f), "6.2500%"},
        {RateText(0.0f), "0.0000%"},
        {RateText(100.0f), "100.0000%"},
        {RateText(12.34567f), "12.3457%"},
        {RateText(4294967296.0f), "4294967296.0000%"},
        {BytePerText(0.0f), "字节误码率:0.0000%"},
        {BitPerText(33.854168f), "比特误码率:33.8542%"},
        {SendByteText(0), "发送数据长度: 0 bytes"},
        {RevText(4294967295u), "接收数据长度: 4294967295 bytes"},
        {CountCaption("发送数据", 2), "发送数据[次数:2]"},
        {CountCaption("定时发送", 7), "定时发送[次数:7]"},
        {CountCaption("", 0), "[次数:0]"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.Text, c.Expected);
}

TEST(ErrorStatsIntervals, AutoSend) {
    struct {
        int64_t Value;
        bool ControlRts;
        uint32_t Ms;
    } cases[] = {
        {0, false, 100},
        {0, true, 1000},
        {1, false, 1000},
        {1000, false, 1000},
        {1000, true, 1000},
        {-5, false, 1000},
        {-5, true, 1000},
        {1001, false, 1001},
        {1001, true, 1001},
        {2147483647, false, 2147483647},
        {2147483648, false, 2147483647},
        {INT64_MAX, true, 2147483647},
        {INT64_MIN, false, 1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Value << (c.ControlRts ? " with RTS" : ""));
        EXPECT_EQ(AutoSendInterval(c.Value, c.ControlRts), c.Ms);
    }
    EXPECT_EQ(FirstTickMs, 500u);
}

TEST(ErrorStatsIntervals, ProtocolSend) {
    const struct {
        int64_t Value;
        uint32_t Ms;
    } cases[] = {
        {0, 2000},
        {1999, 2000},
        {2000, 2000},
        {2500, 2500},
        {-1, 2000},
        {-3000, 2000},
        {INT64_MIN, 2000},
        {2147483647, 2147483647},
        {INT64_MAX, 2147483647},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VMSendInterval(c.Value), c.Ms) << c.Value;
}

TEST(ErrorStatsParse, WholeNumbersOnly) {
    const struct {
        const char* Text;
        bool Ok;
        int64_t Value;
    } cases[] = {
        {"0", true, 0},
        {"1000", true, 1000},
        {" 42 ", true, 42},
        {"\t7\t", true, 7},
        {"-5", true, -5},
        {"+12", true, 12},
        {"-0", true, 0},
        {"007", true, 7},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, -2147483648LL},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"99999999999999999999999", false, 0},
        {"", false, 0},
        {"   ", false, 0},
        {"-", false, 0},
        {"+", false, 0},
        {"1.5", false, 0},
        {"12a", false, 0},
        {"0x10", false, 0},
        {"$10", false, 0},
        {"1 2", false, 0},
        {"--1", false, 0},
        {"- 1", false, 0},
        {"1e3", false, 0},
        {"\xEF\xBC\x91", false, 0}, // a full-width 1
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        int64_t value = 12345;
        EXPECT_EQ(ParseWholeNumber(c.Text, value), c.Ok);
        EXPECT_EQ(value, c.Ok ? c.Value : 12345);
    }
}

TEST(ErrorStatsParse, MessageQuotesTheText) {
    EXPECT_EQ(NotIntegerMessage("12a"), "'12a' is not a valid integer value");
    EXPECT_EQ(NotIntegerMessage(""), "'' is not a valid integer value");
    EXPECT_EQ(NotIntegerMessage(" 1.5"), "' 1.5' is not a valid integer value");
}

} // namespace
