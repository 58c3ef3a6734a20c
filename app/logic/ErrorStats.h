#pragma once
// Error statistics of the timed auto-send: the frame sent on each tick is compared, position by
// position, with the bytes received since the tick before, and the errors add up to byte and bit
// error rates. Also the texts the statistics show, the tick intervals of both timed sends and the
// whole-number parsing of their interval fields. Plain C++; everything but TStatCapture is a pure
// function, safe on any thread.

#include "TranslateMark.h"

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>
#include <string_view>

constexpr uint32_t ErrStatBufSize = 1024;  // both buffers
constexpr uint32_t ErrStatMaxCount = 1023; // SentCount/RecvCount never exceed this

struct TErrStat {
    uint8_t SentBuf[ErrStatBufSize] = {};
    uint32_t SentCount = 0;
    uint8_t RecvBuf[ErrStatBufSize] = {};
    uint32_t RecvCount = 0;
    uint32_t BitErrors = 0;
    uint32_t ByteErrors = 0;
};

// Copy the first n bytes, n cut to ErrStatMaxCount.
void ErrStatSetSent(TErrStat& s, const uint8_t* bytes, uint32_t n);
void ErrStatSetRecv(TErrStat& s, const uint8_t* bytes, uint32_t n);

// Sets ByteErrors and BitErrors of one tick. Every sent byte that did not come back is a byte
// error of 8 bits; the bytes that did are compared with the sent ones from the start, so a reply
// split across two ticks or with a stray byte in front counts as errors. Received bytes beyond
// the sent ones are ignored.
void ErrStatCompare(TErrStat& s);

// Rates in percent of the totals over a run. The products are 32-bit unsigned and wrap on long
// runs, as the counters they come from do; the quotient is single precision. A divisor of 0 (no
// bytes sent, or a bit count that wrapped to 0) gives 0 rather than a division by zero.
float ByteErrorRate(uint32_t totalByteErr, uint32_t totalSent);
// The bit count totalSent * 8 is rounded to single precision before it divides.
float BitErrorRate(uint32_t totalBitErr, uint32_t totalSent);

// UTF-8 texts of the statistics group. RateText(6.25f) == "6.2500%".
// The texts are these patterns (context "ErrorStats") filled in; the window shows
// the patterns translated, filled with the same figures.
inline constexpr const char* BytePerPattern = QT_TRANSLATE_NOOP("ErrorStats", "字节误码率:%1");
inline constexpr const char* BitPerPattern = QT_TRANSLATE_NOOP("ErrorStats", "比特误码率:%1");
inline constexpr const char* SendBytePattern = QT_TRANSLATE_NOOP("ErrorStats", "发送数据长度: %1 bytes");
inline constexpr const char* RevPattern = QT_TRANSLATE_NOOP("ErrorStats", "接收数据长度: %1 bytes");
inline constexpr const char* CountPattern = QT_TRANSLATE_NOOP("ErrorStats", "%1[次数:%2]");
// The pattern with %1.. replaced by args in turn.
std::string FillPattern(std::string_view pattern, std::initializer_list<std::string_view> args);
std::string RateText(float rate);
std::string BytePerText(float rate);      // "字节误码率:6.2500%"
std::string BitPerText(float rate);       // "比特误码率:1.5625%"
std::string SendByteText(uint32_t total); // "发送数据长度: 16 bytes"
std::string RevText(uint32_t total);      // "接收数据长度: 16 bytes"
// A group box caption with its tick count: CountCaption("定时发送", 7) == "定时发送[次数:7]".
std::string CountCaption(std::string_view group, uint32_t count);

// Delay in ms before the first tick of a timed send, whatever its interval.
constexpr uint32_t FirstTickMs = 500;

// Tick interval in ms of the timed auto-send for the interval field's value v: v itself above
// 1000, 100 for 0 unless RTS control is on (a frame every 100 ms leaves RTS-controlled sending no
// time to turn the line around), 1000 for anything else. Values above INT32_MAX, which no timer
// takes, become INT32_MAX.
uint32_t AutoSendInterval(int64_t v, bool controlRts);
// Tick interval in ms of the protocol page's timed send: at least 2000, and a negative value is
// 2000 too; values above INT32_MAX become INT32_MAX.
uint32_t VMSendInterval(int64_t v);

// Strict whole-number conversion of an interval field: blanks around it, an optional sign and
// decimal digits only, within the 32-bit signed range. Anything else ("", "1.5", "12a", "0x10",
// "2147483648") returns false and leaves value untouched.
bool ParseWholeNumber(std::string_view text, int64_t& value);
// "'12a' is not a valid integer value"
std::string NotIntegerMessage(std::string_view text);

// The bytes received during one tick of the timed auto-send, for the error statistics. The first
// ErrStatBufSize bytes of a tick stay in arrival order; every later byte of the same tick
// overwrites the last slot, so Take never returns more than ErrStatBufSize bytes.
//
// Threads:
// - Append runs on the serial worker thread, from OnReceive, once per received block.
// - SetActive, Active, Take and Reset run on the window's thread.
// - The buffer and its count are shared under Lock, held for one whole block by Append and for
//   the copy and reset by Take and Reset, so a Take sees each block entirely or not at all.
// - The active flag is atomic. Append reads it once without the lock, so that an inactive capture
//   costs a received flood no locking, and again under the lock, so that no byte lands after
//   SetActive(false) followed by Reset or Take.
class TStatCapture {
public:
    // Capture only while the statistics are on and the timed send runs.
    void SetActive(bool on);
    bool Active() const;
    // Does nothing while inactive.
    void Append(const uint8_t* bytes, uint32_t n);
    // Copies the captured bytes into dest, which has room for ErrStatBufSize bytes, returns their
    // count and starts the next tick's capture empty.
    uint32_t Take(uint8_t* dest);
    void Reset();

private:
    std::atomic<bool> IsActive{false};
    std::mutex Lock;
    uint8_t Buf[ErrStatBufSize] = {};
    uint32_t Count = 0; // 0 to ErrStatBufSize
};
