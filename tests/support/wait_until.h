#pragma once

#include <chrono>
#include <functional>
#include <thread>

// Polls `condition` every `pollMs` until it holds or `timeoutMs` have passed; returns whether it
// held. Every wait of a test has such a deadline, so a broken program under test fails the test
// instead of hanging it.
inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs, int pollMs = 5) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
}
