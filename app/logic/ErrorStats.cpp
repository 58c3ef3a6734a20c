#include "ErrorStats.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

namespace {

constexpr int64_t LongestInterval = INT32_MAX; // ms

uint32_t CopyCapped(uint8_t* dest, const uint8_t* bytes, uint32_t n) {
    if (bytes == nullptr)
        n = 0;
    n = std::min(n, ErrStatMaxCount);
    if (n > 0)
        std::memcpy(dest, bytes, n);
    return n;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

} // namespace

void ErrStatSetSent(TErrStat& s, const uint8_t* bytes, uint32_t n) {
    s.SentCount = CopyCapped(s.SentBuf, bytes, n);
}

void ErrStatSetRecv(TErrStat& s, const uint8_t* bytes, uint32_t n) {
    s.RecvCount = CopyCapped(s.RecvBuf, bytes, n);
}

void ErrStatCompare(TErrStat& s) {
    uint32_t n = s.SentCount;
    s.ByteErrors = 0;
    s.BitErrors = 0;
    if (s.RecvCount < s.SentCount) {
        const uint32_t missing = s.SentCount - s.RecvCount;
        s.ByteErrors = missing;
        s.BitErrors = 8 * missing;
        n = s.RecvCount;
    }
    // The counts are public; whatever a caller wrote there, stay inside the buffers.
    n = std::min(n, ErrStatBufSize);
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t diff = s.SentBuf[i] ^ s.RecvBuf[i];
        if (diff != 0) {
            ++s.ByteErrors;
            s.BitErrors += static_cast<uint32_t>(std::popcount(diff));
        }
    }
}

float ByteErrorRate(uint32_t totalByteErr, uint32_t totalSent) {
    if (totalSent == 0)
        return 0;
    const uint32_t percent = totalByteErr * 100u;
    return static_cast<float>(static_cast<double>(percent) / static_cast<double>(totalSent));
}

float BitErrorRate(uint32_t totalBitErr, uint32_t totalSent) {
    const uint32_t bits = totalSent * 8u;
    if (bits == 0)
        return 0;
    const uint32_t percent = totalBitErr * 100u;
    const float divisor = static_cast<float>(bits);
    return static_cast<float>(static_cast<double>(percent) / static_cast<double>(divisor));
}

std::string RateText(float rate) {
    // The largest float takes 39 digits before the point.
    char text[64];
    std::snprintf(text, sizeof text, "%2.4f%%", static_cast<double>(rate));
    return text;
}

std::string FillPattern(std::string_view pattern, std::initializer_list<std::string_view> args) {
    std::string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const size_t n = i + 1 < pattern.size() ? size_t(pattern[i + 1] - '1') : args.size();
        if (pattern[i] == '%' && n < args.size()) {
            out += args.begin()[n];
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

std::string BytePerText(float rate) {
    return FillPattern(BytePerPattern, {RateText(rate)});
}

std::string BitPerText(float rate) {
    return FillPattern(BitPerPattern, {RateText(rate)});
}

std::string SendByteText(uint32_t total) {
    return FillPattern(SendBytePattern, {std::to_string(total)});
}

std::string RevText(uint32_t total) {
    return FillPattern(RevPattern, {std::to_string(total)});
}

std::string CountCaption(std::string_view group, uint32_t count) {
    return FillPattern(CountPattern, {group, std::to_string(count)});
}

uint32_t AutoSendInterval(int64_t v, bool controlRts) {
    if (v > 1000)
        return static_cast<uint32_t>(std::min(v, LongestInterval));
    return v == 0 && !controlRts ? 100 : 1000;
}

uint32_t VMSendInterval(int64_t v) {
    if (v < 2000)
        return 2000;
    return static_cast<uint32_t>(std::min(v, LongestInterval));
}

bool ParseWholeNumber(std::string_view text, int64_t& value) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return false;
    // One past the largest magnitude either sign allows; beyond it the digits need not be read.
    constexpr int64_t Limit = int64_t(INT32_MAX) + 2;
    int64_t magnitude = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        magnitude = std::min(magnitude * 10 + (c - '0'), Limit);
    }
    const int64_t result = negative ? -magnitude : magnitude;
    if (result < INT32_MIN || result > INT32_MAX)
        return false;
    value = result;
    return true;
}

std::string NotIntegerMessage(std::string_view text) {
    std::string message = "'";
    message += text;
    message += "' is not a valid integer value";
    return message;
}

void TStatCapture::SetActive(bool on) {
    IsActive.store(on);
}

bool TStatCapture::Active() const {
    return IsActive.load();
}

void TStatCapture::Append(const uint8_t* bytes, uint32_t n) {
    if (n == 0 || bytes == nullptr || !IsActive.load(std::memory_order_relaxed))
        return;
    std::lock_guard lock(Lock);
    if (!IsActive.load())
        return;
    // Byte by byte this is: count above 1023 goes back to 1023, then the byte lands at count and
    // count grows. So the block fills the free slots in order, and of the rest only the last byte
    // stays, in slot 1023.
    const uint32_t fits = std::min(n, ErrStatBufSize - Count);
    if (fits > 0)
        std::memcpy(Buf + Count, bytes, fits);
    Count += fits;
    if (fits < n)
        Buf[ErrStatBufSize - 1] = bytes[n - 1];
}

uint32_t TStatCapture::Take(uint8_t* dest) {
    std::lock_guard lock(Lock);
    const uint32_t n = Count;
    if (n > 0)
        std::memcpy(dest, Buf, n);
    Count = 0;
    return n;
}

void TStatCapture::Reset() {
    std::lock_guard lock(Lock);
    Count = 0;
}
