#pragma once
// The one way every thread the recorder starts for itself ends, or is left
// behind. A thread is started with what it uses, its owned state, and
// releases that itself as it ends. Its owner asks it to end in the thread's
// own way (a flag and a wake-up it waits on), then joins it within a bound.
// A thread that misses the bound is held in a device or card call that
// hangs: it is left behind, never waited for again, and keeps all it owns
// until its call lets go, for the rest of the process if need be. Nobody
// frees anything under it.

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

class OwnedThread {
public:
    OwnedThread() = default;
    // Never waits: a thread still at work is left behind.
    ~OwnedThread();
    OwnedThread(const OwnedThread&) = delete;
    OwnedThread& operator=(const OwnedThread&) = delete;

    // Runs `body(*owned)` on a new thread, which holds `owned` until body
    // has returned and releases it before it counts as ended. Once only.
    template <typename Owned, typename Body>
    void Start(std::shared_ptr<Owned> owned, Body body)
    {
        end_ = std::make_shared<End>();
        thread_ = std::thread([owned = std::move(owned), body, end = end_]() mutable {
            body(*owned);
            owned.reset();
            end->Mark();
        });
    }

    // From any thread, the thread itself included: true once the thread has
    // ended (or never started), waiting `within` at most; false when it is
    // left behind.
    bool Join(std::chrono::milliseconds within);

private:
    struct End {
        std::mutex lock;
        std::condition_variable marked;
        bool ended = false;
        bool left_behind = false;
        void Mark();
    };

    std::shared_ptr<End> end_;
    std::mutex join_lock_;
    std::thread thread_;
};
