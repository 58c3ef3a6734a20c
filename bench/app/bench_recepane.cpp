// Prints how fast the receive store takes bytes, what it costs in memory, and
// how long the pane takes to paint and copy at the end of a large session, and to clear it.
//   build/bench/app/bench_recepane [MiB] [WxH]   (default 64 MiB, a pane of 760x600; 1270x640 is
//   about the pane of a maximised window on a screen of 1280x800)

#include "ReceivePane.h"

#include <QApplication>
#include <QImage>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const size_t mib = argc > 1 ? size_t(std::max(1, std::atoi(argv[1]))) : 64;
    const size_t total = mib << 20;

    std::mt19937_64 random(2024);
    std::vector<uint8_t> data(total);
    for (uint8_t& b : data)
        b = uint8_t(random());
    std::vector<size_t> sizes;
    for (size_t at = 0; at < total;) {
        const size_t n = std::min<size_t>(1 + random() % 4096, total - at);
        sizes.push_back(n);
        at += n;
    }

    TReceivePane pane;
    int width = 760, height = 600;
    if (argc > 2 && std::sscanf(argv[2], "%dx%d", &width, &height) != 2)
        return 2;
    pane.resize(std::clamp(width, 100, 8000), std::clamp(height, 100, 8000));
    pane.show();
    TReceiveStore& store = pane.Store();

    const auto start = Clock::now();
    size_t at = 0;
    for (size_t n : sizes) {
        store.Receive(data.data() + at, n);
        at += n;
    }
    const double feedMs = Ms(Clock::now() - start);
    std::printf("store: %zu MiB in %zu blocks of 1..4096 bytes: %.1f ms, %.0f MB/s\n", mib,
                sizes.size(), feedMs, total / feedMs / 1000.0);
    std::printf("store: %lld lines, %zu bytes held, %.4f bytes per received byte\n",
                (long long)store.LineCount(), store.MemoryUsed(),
                double(store.MemoryUsed()) / double(total));

    // One frame's work as the window does it: a refresh and a scroll to the end.
    double worstFrame = 0;
    for (int i = 0; i < 200; ++i) {
        const auto t = Clock::now();
        store.Receive(data.data() + size_t(i) * 64, 64); // what random traffic shows
        pane.ScrollToEnd();
        worstFrame = std::max(worstFrame, Ms(Clock::now() - t));
    }
    std::printf("frame: Receive(64 bytes) + ScrollToEnd, worst of 200: %.3f ms\n", worstFrame);

    // Paints of the view in both ways: from glyph cells (the pane's way) and
    // laid out as text; with bytes, that many more are received before each.
    QImage image(pane.viewport()->size(), QImage::Format_RGB32);
    size_t fed = 0;
    auto paints = [&](const char* what, std::initializer_list<bool> ways, size_t bytes) {
        for (const bool cells : ways) {
            TReceivePane::UseCells = cells;
            double paintSum = 0, paintWorst = 0;
            constexpr int Paints = 100;
            std::vector<double> times;
            for (int i = 0; i < Paints; ++i) {
                if (bytes != 0) {
                    const size_t n = std::min(bytes, total - fed % total);
                    store.Receive(data.data() + fed % total, n);
                    fed += n;
                    pane.ScrollToEnd();
                }
                const auto t = Clock::now();
                pane.viewport()->render(&image);
                const double ms = Ms(Clock::now() - t);
                paintSum += ms;
                paintWorst = std::max(paintWorst, ms);
                times.push_back(ms);
            }
            // The median is the steadiest figure on a busy machine.
            std::nth_element(times.begin(), times.begin() + Paints / 2, times.end());
            std::printf("paint: %dx%d viewport, %d lines, %s, %s: mean %.2f ms, median %.2f ms, "
                        "worst %.2f ms\n",
                        image.width(), image.height(), pane.VisibleLines(), what,
                        cells ? "glyph cells" : "as text", paintSum / Paints, times[Paints / 2],
                        paintWorst);
        }
        TReceivePane::UseCells = true;
    };
    // The last lines of random bytes: dots and Chinese in the text column.
    paints("hex view at the end", {true, false}, 0);
    // The text view of the same bytes: long lines of dots and Chinese, then
    // as under a flood. The toolkit keeps the glyphs it has drawn: the first
    // round warms that cache.
    pane.SetTextView(true);
    pane.ScrollToEnd();
    paints("text view at the end", {true, false}, 0);
    paints("text view, 8 KiB more before each", {false, true, false, true}, 8192);
    pane.SetTextView(false);

    pane.SelectAll();
    const auto copyStart = Clock::now();
    const QString copied = pane.SelectedText();
    std::printf("copy: Select All of %lld lines gives %lld characters (limit %zu bytes): %.1f ms\n",
                (long long)store.LineCount(), (long long)copied.size(), TReceivePane::CopyLimit,
                Ms(Clock::now() - copyStart));

    // The end of a session: the window's thread lets go of every block.
    pane.ClearSelection();
    const auto clearStart = Clock::now();
    pane.Clear();
    std::printf("clear: Clear of %zu MiB: %.1f ms on the clearing thread\n", mib,
                Ms(Clock::now() - clearStart));
    return 0;
}
