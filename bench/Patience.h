#pragma once

// Every wait of a benchmark has one bound: a figure that never comes ends the run with a message
// instead of leaving it running for ever.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

constexpr int kBenchPatienceMs = 300'000;

[[noreturn]] inline void giveUp(const char *what) {
    std::fflush(stdout);
    std::fprintf(stderr, "gave up after %d s waiting for %s\n", kBenchPatienceMs / 1000, what);
    std::_Exit(3);
}

// Checks `done()` every `step` until it holds, without an event loop; false past the bound.
template <typename Done>
bool pollUntil(Done done, std::chrono::microseconds step = std::chrono::milliseconds(1)) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBenchPatienceMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(step);
    }
    return true;
}
