// The error statistics on any run of ticks: a frame, then received blocks and ticks in any order.
// The capture keeps what a byte-by-byte model keeps, the comparison stays within its bounds, and
// the frame read as an interval field parses back to itself.
//
// Input: two bytes of frame length (little-endian, up to 2047, so that frames pass the 1023 cut),
// the frame, then steps. A step byte with the top bit set is a tick, after which the capture is
// off when bit 6 is set and on otherwise; any other step byte is followed by a received block of
// its low 6 bits times 37 bytes, as far as the input goes.
#include "ErrorStats.h"

#include "Fuzzcheck.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The capture's rule, one byte at a time.
struct TModel {
    uint8_t Buf[ErrStatBufSize] = {};
    uint32_t Count = 0;
    void Append(const uint8_t* bytes, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            if (Count > ErrStatMaxCount)
                Count = ErrStatMaxCount;
            Buf[Count++] = bytes[i];
        }
    }
};

void CheckRateText(float rate) {
    Check(std::isfinite(rate) && rate >= 0);
    const std::string text = RateText(rate);
    Check(!text.empty() && text.back() == '%');
}

void CheckIntervalField(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    int64_t value = 0;
    if (!ParseWholeNumber(text, value)) {
        const std::string message = NotIntegerMessage(text);
        Check(message.size() > size + 2 && message.compare(1, size, text) == 0);
        return;
    }
    Check(value >= INT32_MIN && value <= INT32_MAX);
    int64_t again = 0;
    Check(ParseWholeNumber(std::to_string(value), again) && again == value);
    const uint32_t autoMs = AutoSendInterval(value, size % 2 == 0);
    Check(autoMs >= 100 && autoMs <= INT32_MAX);
    const uint32_t vmMs = VMSendInterval(value);
    Check(vmMs >= 2000 && vmMs <= INT32_MAX);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const size_t frameLen = std::min<size_t>((data[0] | data[1] << 8) % 2048, size - 2);
    const uint8_t* frame = data + 2;
    size_t at = 2 + frameLen;
    CheckIntervalField(frame, frameLen);

    static TErrStat s;
    ErrStatSetSent(s, frame, static_cast<uint32_t>(frameLen));
    Check(s.SentCount == std::min<size_t>(frameLen, ErrStatMaxCount));
    Check(std::memcmp(s.SentBuf, frame, s.SentCount) == 0);

    TStatCapture capture;
    capture.SetActive(true);
    TModel model;
    uint32_t totalSent = 0, totalByteErr = 0, totalBitErr = 0;
    uint8_t taken[ErrStatBufSize];
    while (at < size) {
        const uint8_t step = data[at++];
        if (step & 0x80) {
            const uint32_t n = capture.Take(taken);
            Check(n <= ErrStatBufSize);
            Check(n == model.Count && std::memcmp(taken, model.Buf, n) == 0);
            model.Count = 0;

            ErrStatSetRecv(s, taken, n);
            Check(s.RecvCount == std::min(n, ErrStatMaxCount));
            ErrStatCompare(s);
            Check(s.ByteErrors <= s.SentCount);
            Check(s.BitErrors <= 8 * s.SentCount);
            Check(s.BitErrors >= s.ByteErrors && s.BitErrors <= 8 * s.ByteErrors);
            if (s.RecvCount >= s.SentCount && std::memcmp(s.SentBuf, s.RecvBuf, s.SentCount) == 0)
                Check(s.ByteErrors == 0);

            totalSent += s.SentCount;
            totalByteErr += s.ByteErrors;
            totalBitErr += s.BitErrors;
            CheckRateText(ByteErrorRate(totalByteErr, totalSent));
            CheckRateText(BitErrorRate(totalBitErr, totalSent));
            capture.SetActive((step & 0x40) == 0);
        } else {
            const size_t n = std::min<size_t>((step & 0x3F) * 37u, size - at);
            capture.Append(data + at, static_cast<uint32_t>(n));
            if (capture.Active())
                model.Append(data + at, n);
            at += n;
        }
    }
    return 0;
}
