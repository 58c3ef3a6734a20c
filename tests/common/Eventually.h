#pragma once
// Waiting for a state instead of for a time: Eventually asks pred again and
// again until it holds or the deadline passes, and says which happened. The
// deadline is only there so that a broken build fails instead of hanging; a
// loaded machine makes the wait longer, never the answer different.

#include <chrono>
#include <thread>

template <class Pred>
bool Eventually(Pred&& pred, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
