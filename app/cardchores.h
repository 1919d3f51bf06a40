#pragma once
// The one thread that works on the SD card: the write probe, the recordings
// folder, a removal, and each recording's files, in the order they were
// asked for, so the files of a recording are made after the folder they go
// in, and no two threads wait on the card at once. An SD card stalls
// writes, removals and syncs for seconds at a time; the screen, the event
// loop, the status monitor and the run's worker must answer meanwhile, so
// each waits for this work only as long as it chooses to, and never for
// work whose end it does not need.

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>

#include "app/ownedthread.h"

class CardChores {
public:
    CardChores();
    // Leaves the work still queued to its thread, which ends once it is
    // done; the owner waits for it first, as long as it can (Idle).
    ~CardChores();
    CardChores(const CardChores&) = delete;
    CardChores& operator=(const CardChores&) = delete;

    // Queues `job`; the caller does not wait for it. From any thread.
    void Post(std::function<void()> job);
    // Queues `job` and waits `wait` at most for it to have run: false when
    // it has not (it still runs later). What the job writes may be read
    // only after a true answer.
    bool RunWithin(std::function<void()> job, std::chrono::milliseconds wait);
    // True once every job queued so far has run, waiting `wait` at most.
    bool Idle(std::chrono::milliseconds wait);

private:
    struct Queue;
    // The thread starts with the first job: a recorder that never touches
    // the card runs none.
    void StartOnce();
    // Shared with the thread, which may outlive this object on a stalled
    // card.
    std::shared_ptr<Queue> queue_;
    std::once_flag started_;
    OwnedThread thread_;
};
