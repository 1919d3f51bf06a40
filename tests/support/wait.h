#pragma once
// Waiting in a test for a state of another thread or of the simulated
// handheld that no event announces. The bound is only for a hang: a loaded
// machine never comes near it.

#include <chrono>
#include <thread>

namespace support {

// How long a wait may take before the test calls it a hang.
constexpr std::chrono::seconds kHung{30};

// Looks at the condition every 2 ms until it holds; false on a hang.
template <typename Condition>
bool Eventually(Condition holds, std::chrono::milliseconds bound = kHung)
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!holds()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Every file the program made on the simulated card has been closed: a
// recording's writer that went on alone behind a stalled card is done.
bool CardFilesClosed(std::chrono::milliseconds bound = kHung);

}  // namespace support
