// Find over a whole session: a session of log-like text lines in the receive
// store (fed in 64 KiB blocks), counted by TFindCount on its own thread for a
// 16-byte literal, a hex pattern with a wildcard and a regular expression,
// beside memmem over one flat buffer of the same bytes in the same run. Also
// how long until the first match, planted near the session's end, can be
// stepped to, and the longest call the window's thread makes meanwhile
// (State, a snapshot handed over, the matches of one view). Last, the count
// for the text view's filter, collecting the lines of a pattern found on
// about one line in seven.
//   bench_find [MiB, default 1024]

#include "FindCount.h"
#include "FindPattern.h"
#include "ReceiveStore.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Lines like "12:00:01.123 node=17 temp=23.5 state=ok seq=000123\r\n".
std::vector<uint8_t> Session(size_t total) {
    std::mt19937 random(11);
    std::vector<uint8_t> out;
    out.reserve(total);
    char line[128];
    for (uint64_t seq = 0; out.size() < total; ++seq) {
        const int n = std::snprintf(line, sizeof line, "%02u:%02u:%02u.%03u node=%u temp=%u.%u state=%s seq=%06u\r\n",
                                    unsigned(seq / 3600000 % 24), unsigned(seq / 60000 % 60),
                                    unsigned(seq / 1000 % 60), unsigned(seq % 1000), unsigned(random() % 64),
                                    unsigned(random() % 90), unsigned(random() % 10),
                                    random() % 7 == 0 ? "busy" : "ok", unsigned(seq % 1000000));
        out.insert(out.end(), line, line + std::min<size_t>(size_t(n), total - out.size()));
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    const size_t total = size_t(argc > 1 ? std::max(1, std::atoi(argv[1])) : 1024) << 20;
    std::vector<uint8_t> flat = Session(total);
    // The patterns' targets, near the end: one of each.
    const std::string literal = "FRAME-HEADER-7E!";
    const uint8_t frame[] = {0x55, 0xAA, 0x10, 0x01, 0x7E};
    const std::string error = "ERR 0042: timeout";
    std::memcpy(flat.data() + total - 3000, literal.data(), literal.size());
    std::memcpy(flat.data() + total - 2000, frame, sizeof frame);
    std::memcpy(flat.data() + total - 1000, error.data(), error.size());

    TReceiveStore store;
    {
        const auto start = Clock::now();
        for (size_t at = 0; at < total; at += 65536)
            store.Receive(flat.data() + at, std::min<size_t>(65536, total - at));
        std::printf("session: %zu MiB of text lines fed into the store in %.2f s\n", total >> 20, Seconds(start));
    }

    // memmem over the flat buffer, counting every occurrence.
    double memmemRate = 0;
    {
        const auto start = Clock::now();
        size_t found = 0;
        const uint8_t* p = flat.data();
        const uint8_t* end = flat.data() + total;
        while (const void* hit = memmem(p, size_t(end - p), literal.data(), literal.size())) {
            ++found;
            p = static_cast<const uint8_t*>(hit) + literal.size();
        }
        const double s = Seconds(start);
        memmemRate = double(total) / s / 1e9;
        std::printf("memmem, flat buffer, 16-byte literal: %zu found, %.3f s, %.2f GB/s\n", found, s, memmemRate);
    }

    const struct {
        const char* Name;
        EFindKind Kind;
        std::string Text;
    } cases[] = {
        {"16-byte literal", EFindKind::Text, literal},
        {"hex with a wildcard (55 AA ?? 01 7E)", EFindKind::Hex, "55 AA ?? 01 7E"},
        {"regex (ERR [0-9]{4}: \\w+)", EFindKind::Regex, "ERR [0-9]{4}: \\w+"},
        {"caseless text (err 0042)", EFindKind::Text, "err 0042"},
    };
    TFindCount count;
    for (const auto& c : cases) {
        const TFindPattern::TCompiled compiled = TFindPattern::Compile(c.Kind, c.Text, c.Kind == EFindKind::Text && c.Text[0] == 'e');
        if (!compiled.Pattern) {
            std::printf("%s: does not compile\n", c.Name);
            return 1;
        }
        // One thread straight over the store's blocks.
        {
            const auto start = Clock::now();
            size_t found = 0;
            compiled.Pattern->Scan(store, 0, UINT64_MAX, 0, [&](const TFindPattern::TMatch&) {
                ++found;
                return true;
            });
            const double s = Seconds(start);
            std::printf("%s, Scan over the store: %zu found, %.3f s, %.2f GB/s (%.2f x memmem)\n", c.Name, found, s,
                        double(total) / s / 1e9, double(total) / s / 1e9 / memmemRate);
        }
        // The count as the find bar runs it, with the window's calls meanwhile.
        const auto start = Clock::now();
        count.Start(compiled.Pattern, store.Snapshot());
        double firstShown = -1, longest = 0;
        uint64_t calls = 0;
        for (;;) {
            const auto call = Clock::now();
            const TFindCount::TState state = count.State();
            TFindPattern::TMatch m;
            if (firstShown < 0 && count.Next(store, 0, true, m) == TFindCount::EFound::Match)
                firstShown = Seconds(start);
            count.MatchesIn(store, total - 4096, total - 2048);
            if (calls % 16 == 0)
                count.Update(store.Snapshot());
            longest = std::max(longest, Seconds(call));
            ++calls;
            // The window polls a few times a frame; the count has the other core.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            if (!state.Running && state.Done >= total)
                break;
        }
        const double s = Seconds(start);
        std::printf("%s, counted on its thread: %llu found, %.3f s, %.2f GB/s (%.2f x memmem); first match "
                    "(near the end) after %.3f s; longest window call %.2f ms of %llu\n",
                    c.Name, static_cast<unsigned long long>(count.State().Total), s, double(total) / s / 1e9,
                    double(total) / s / 1e9 / memmemRate, firstShown, longest * 1e3,
                    static_cast<unsigned long long>(calls));
    }
    {
        TFindCount count;
        const auto start = Clock::now();
        count.Start(TFindPattern::Compile(EFindKind::Text, "state=busy", false).Pattern, store.Snapshot(), true);
        while (count.State().Running)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        const double s = Seconds(start);
        const int64_t lines = count.Lines()->Count();
        std::printf("filter lines (state=busy), counted on its thread: %llu found on %lld of %lld lines, %.3f s, "
                    "%.2f GB/s; the lines take %.1f MiB\n",
                    static_cast<unsigned long long>(count.State().Total), static_cast<long long>(lines),
                    static_cast<long long>(store.TextIndex().LineCount()), s, double(total) / s / 1e9,
                    double(lines) * sizeof(int64_t) / double(1 << 20));
    }
    return 0;
}
