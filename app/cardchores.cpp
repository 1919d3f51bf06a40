#include "app/cardchores.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "app/budget.h"

struct CardChores::Queue {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::function<void()>> jobs;
    uint64_t posted = 0;
    uint64_t done = 0;
    bool ending = false;

    void Run()
    {
        std::unique_lock<std::mutex> hold(lock);
        for (;;) {
            changed.wait(hold, [this] { return ending || !jobs.empty(); });
            if (jobs.empty())
                return;
            std::function<void()> job = std::move(jobs.front());
            jobs.pop_front();
            hold.unlock();
            job();
            hold.lock();
            ++done;
            changed.notify_all();
        }
    }

    // Lock held. The number the job will have once done.
    uint64_t Add(std::function<void()> job)
    {
        jobs.push_back(std::move(job));
        changed.notify_all();
        return ++posted;
    }

    bool WaitDone(std::unique_lock<std::mutex>& hold, uint64_t number,
                  std::chrono::milliseconds wait)
    {
        return changed.wait_for(hold, wait, [&] { return done >= number; });
    }
};

CardChores::CardChores() : queue_(std::make_shared<Queue>()) {}

CardChores::~CardChores()
{
    bool idle = false;
    {
        std::lock_guard<std::mutex> hold(queue_->lock);
        queue_->ending = true;
        idle = queue_->done == queue_->posted;
        queue_->changed.notify_all();
    }
    // An idle thread ends at once, and is joined: a thread still ending at
    // the hand-over could pass what it holds just then to the menu program.
    // One at work in a card that stalls is not waited for: the owner has
    // waited for the work it needs (Idle).
    thread_.Join(idle ? budget::kTakeUp : std::chrono::milliseconds(0));
}

void CardChores::StartOnce()
{
    // The thread owns the queue: a job stuck in the card keeps it.
    std::call_once(started_, [this] { thread_.Start(queue_, [](Queue& queue) { queue.Run(); }); });
}

void CardChores::Post(std::function<void()> job)
{
    StartOnce();
    std::lock_guard<std::mutex> hold(queue_->lock);
    queue_->Add(std::move(job));
}

bool CardChores::RunWithin(std::function<void()> job, std::chrono::milliseconds wait)
{
    StartOnce();
    std::unique_lock<std::mutex> hold(queue_->lock);
    const uint64_t number = queue_->Add(std::move(job));
    return queue_->WaitDone(hold, number, wait);
}

bool CardChores::Idle(std::chrono::milliseconds wait)
{
    std::unique_lock<std::mutex> hold(queue_->lock);
    return queue_->WaitDone(hold, queue_->posted, wait);
}
