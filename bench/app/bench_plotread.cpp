// How fast the plot's text reader takes received bytes into values, fed in blocks of 4 KiB as
// the worker hands them over: random bytes (junk lines of about 128 bytes), 40-byte text lines,
// one line without a break, and lines of three numbers as a plotted device sends them.
//   bench_plotread [MiB, default 64]

#include "PlotData.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const size_t size = size_t(argc > 1 ? std::max(1, std::atoi(argv[1])) : 64) << 20;
    std::mt19937 rng(7);
    std::string random(size, 0), longLine(size, 0), lines, numbers;
    for (char& c : random)
        c = char(rng());
    for (char& c : longLine)
        c = char(' ' + 1 + rng() % 94);
    for (size_t i = 0; lines.size() < size; ++i)
        lines += std::string(38, char('0' + i % 75)) + "\r\n";
    for (int i = 0; numbers.size() < size; ++i)
        numbers += std::to_string(i % 1000) + "," + std::to_string(int(rng() % 20001) - 10000) +
                   "," + std::to_string(rng() % 100) + "." + std::to_string(rng() % 10) + "\r\n";
    const std::pair<const char*, const std::string*> floods[] = {{"random bytes", &random},
                                                                 {"40-byte text lines", &lines},
                                                                 {"one long line", &longLine},
                                                                 {"lines of numbers", &numbers}};
    for (const auto& [name, text] : floods) {
        TTextPlotReader reader;
        size_t values = 0;
        const auto take = [&](const std::vector<TPlotValue>& v) { values += v.size(); };
        const auto t0 = std::chrono::steady_clock::now();
        for (size_t at = 0; at < text->size(); at += 4096)
            reader.Feed(reinterpret_cast<const uint8_t*>(text->data()) + at,
                        std::min<size_t>(4096, text->size() - at), take);
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::printf("plot text reader, %-20s %6.0f MB/s  (%zu values, %llu bad lines)\n", name,
                    double(text->size()) / s / 1e6, values,
                    static_cast<unsigned long long>(reader.BadLines()));
    }
}
