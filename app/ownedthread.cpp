#include "app/ownedthread.h"

void OwnedThread::End::Mark()
{
    // Notified under the lock: a joiner that sees the end may destroy the
    // thread's owner at once, and this object lives on only through the
    // thread's own reference.
    std::lock_guard<std::mutex> hold(lock);
    ended = true;
    marked.notify_all();
}

OwnedThread::~OwnedThread()
{
    Join(std::chrono::milliseconds(0));
}

bool OwnedThread::Join(std::chrono::milliseconds within)
{
    if (!end_)
        return true;
    bool ended;
    {
        std::unique_lock<std::mutex> hold(end_->lock);
        // Once left behind, never waited for again: a leave must not add
        // up the waits of every owner.
        if (!end_->left_behind)
            end_->marked.wait_for(hold, within, [this] { return end_->ended; });
        ended = end_->ended;
        end_->left_behind = end_->left_behind || !ended;
    }
    // Only the join is one thread's at a time; the wait is everyone's. An
    // ended thread has only its return left, so the join is short.
    std::lock_guard<std::mutex> joining(join_lock_);
    if (thread_.joinable()) {
        // The thread's own owner may go with its last reference, on the
        // thread itself; it cannot join itself.
        if (ended && thread_.get_id() != std::this_thread::get_id())
            thread_.join();
        else
            thread_.detach();
    }
    return ended;
}
