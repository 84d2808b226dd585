#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

// Polls `done` until it holds or `ms` have passed; whether it held.
template <typename F> bool waitFor(F&& done, int64_t ms = 5000)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
