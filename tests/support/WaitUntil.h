#pragma once
// Waiting for something another thread does, with a guard against a hang.
//
// Tests wait for the event itself and never for a fixed time: the suite runs on
// loaded machines, where a thread may be held up for long stretches. The guard
// only turns a hang into a failure; it is not what a test proves.

#include <chrono>
#include <functional>
#include <thread>

// How long a test waits before it calls a wait a hang.
inline constexpr int HANG_GUARD_MS = 10000;

// Waits until done() holds, looking every millisecond; false when timeoutMs passed first.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = HANG_GUARD_MS)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return done();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Milliseconds since start, for the guards.
inline long long MsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}
