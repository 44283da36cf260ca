// Waiting for something a library thread does. The limit only keeps a broken build from
// hanging; no test measures how fast anything happens.
#pragma once

#include <chrono>
#include <thread>

inline constexpr std::chrono::milliseconds kWaitLimit = std::chrono::seconds(60);

template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = kWaitLimit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}
