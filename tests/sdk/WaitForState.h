// Waits until a session reaches a state (its own thread changes it after the end callback).
#pragma once

#include <chrono>
#include <thread>

#include "CLiveClient.h"

namespace kx::sdk::testing {

inline bool waitForState(const CLiveClient& client, CLiveClient::State state,
                         std::chrono::seconds limit = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (client.GetState() != state) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace kx::sdk::testing
