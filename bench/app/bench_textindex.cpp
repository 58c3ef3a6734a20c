// How fast the text index takes received bytes: random bytes (a line every
// 128 bytes or so, code page pairs at random), 40-byte text lines and one
// line without a break, fed in blocks of 4 KiB.
//   bench_textindex [MiB, default 64]

#include "TextIndex.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

double Feed(const std::vector<uint8_t>& bytes, int64_t& lines) {
    const auto start = std::chrono::steady_clock::now();
    TTextIndex index;
    for (size_t at = 0; at < bytes.size(); at += 4096)
        index.Feed(bytes.data() + at, std::min<size_t>(4096, bytes.size() - at), int64_t(at >> 12));
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    lines = index.LineCount();
    return double(bytes.size()) / s;
}

} // namespace

int main(int argc, char** argv) {
    const size_t total = size_t(argc > 1 ? std::max(1, std::atoi(argv[1])) : 64) << 20;
    std::mt19937 random(7);
    std::vector<uint8_t> noise(total), text(total), flat(total, 'x'), even(total);
    for (auto& b : noise)
        b = uint8_t(random());
    for (size_t i = 0; i < total; ++i) // lines of about the same width: the widest is never plain
        even[i] = uint8_t((i * 2654435761u) >> 13);
    for (size_t i = 0; i < total; ++i)
        text[i] = i % 40 == 38 ? '\r' : i % 40 == 39 ? '\n' : uint8_t('a' + i % 26);
    const struct {
        const char* Name;
        const std::vector<uint8_t>& Bytes;
    } cases[] = {{"random bytes", noise}, {"40-byte text lines", text}, {"one long line", flat},
                 {"lines of equal width", even}};
    for (const auto& c : cases) {
        double best = 0;
        int64_t lines = 0;
        for (int round = 0; round < 3; ++round)
            best = std::max(best, Feed(c.Bytes, lines));
        std::printf("text index, %-20s %8.0f MB/s  (%lld lines in %zu MiB)\n", c.Name, best / 1e6,
                    (long long)lines, total >> 20);
    }
    return 0;
}
