#pragma once
// The card work of the main thread, done on a thread of its own in the order
// it was asked for. An SD card stalls writes, removals and syncs for seconds
// at a time; the screen, the event loop and the status monitor must answer
// meanwhile, so the main thread waits for this work only as long as it
// chooses to, and never for work whose end it does not need.

#include <chrono>
#include <functional>
#include <memory>

#include "app/ownedthread.h"

class CardChores {
public:
    CardChores();
    // Leaves the work still queued to its thread, which ends once it is
    // done; the owner waits for it first, as long as it can (Idle).
    ~CardChores();
    CardChores(const CardChores&) = delete;
    CardChores& operator=(const CardChores&) = delete;

    // Queues `job`; the caller does not wait for it.
    void Post(std::function<void()> job);
    // Queues `job` and waits `wait` at most for it to have run: false when
    // it has not (it still runs later). What the job writes may be read
    // only after a true answer.
    bool RunWithin(std::function<void()> job, std::chrono::milliseconds wait);
    // True once every job queued so far has run, waiting `wait` at most.
    bool Idle(std::chrono::milliseconds wait);
    // A wait, for any thread and without a bound, until every job queued
    // so far has run. It holds the queue, not this object: a thread left
    // behind on a card that never answers may wait on it for good.
    std::function<void()> Barrier();

private:
    struct Queue;
    // The owner's thread only.
    void StartOnce();
    // Shared with the thread, which may outlive this object on a stalled
    // card.
    std::shared_ptr<Queue> queue_;
    OwnedThread thread_;
};
