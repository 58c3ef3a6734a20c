// How fast received bytes become text lines with stamps, as the live log writes them as text:
// random bytes (escapes and code page pairs) and 40-byte text lines, fed in blocks of 4 KiB
// that share their time as the worker's blocks do.
//   bench_textrender [MiB, default 64]

#include "CodePage.h"
#include "TextRender.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

int main(int argc, char** argv) {
    const size_t size = size_t(argc > 1 ? std::max(1, std::atoi(argv[1])) : 64) << 20;
    std::mt19937 rng(7);
    std::string random(size, 0), lines;
    for (char& c : random)
        c = char(rng());
    for (size_t i = 0; lines.size() < size; ++i)
        lines += std::string(38, char('0' + i % 75)) + "\r\n";
    const std::pair<const char*, const std::string*> floods[] = {{"random bytes", &random},
                                                                 {"40-byte text lines", &lines}};
    for (const auto& [name, text] : floods) {
        TTextRender render(CodePagePairUtf8);
        render.Stamps = true;
        render.KeepPairs();
        size_t out = 0;
        const auto done = [&](const std::string& line) { out += line.size() + 1; };
        int64_t ms = 1700000000000;
        const auto t0 = std::chrono::steady_clock::now();
        for (size_t at = 0; at < text->size(); at += 4096, ms += at % 65536 == 0)
            render.Feed(reinterpret_cast<const uint8_t*>(text->data()) + at,
                        std::min<size_t>(4096, text->size() - at), ms, done);
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::printf("text lines with stamps, %-20s %6.0f MB/s  (%zu bytes of text)\n", name,
                    double(text->size()) / s / 1e6, out);
    }
}
