#pragma once
// What a recording's worker sleeps on: one signal for every reason it has to
// wake before its next whole second (a stop, a leave or a pulled card; the
// capture's failure; the file's failure). Sound itself wakes nobody but the
// writer. A raise that comes before the wait is not lost: it stays until a
// wait takes it.

#include <chrono>
#include <condition_variable>
#include <mutex>

class RunSignal {
public:
    // From any thread.
    void Raise()
    {
        std::lock_guard<std::mutex> hold(lock_);
        raised_ = true;
        changed_.notify_all();
    }
    // Waits `wait` at most for a raise: true, and lowered again, when one
    // came.
    bool Wait(std::chrono::milliseconds wait)
    {
        std::unique_lock<std::mutex> hold(lock_);
        const bool raised = changed_.wait_for(hold, wait, [this] { return raised_; });
        raised_ = false;
        return raised;
    }
    // A raise meant for an earlier run is not this one's.
    void Lower()
    {
        std::lock_guard<std::mutex> hold(lock_);
        raised_ = false;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool raised_ = false;
};
