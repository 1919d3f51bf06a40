#pragma once
// Waiting in a test for a state of another thread or of the simulated
// handheld that no event announces: the condition is looked at every 2 ms;
// only a hang outlasts the bound of thirty seconds.

#include <chrono>
#include <thread>

namespace unit {

template <typename Condition>
bool Eventually(Condition holds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!holds()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace unit
