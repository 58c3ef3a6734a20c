#pragma once
// A failed property stops the fuzzer with a crash it records.

#include <cstdlib>

inline void Check(bool condition) {
    if (!condition)
        std::abort();
}
