#pragma once
// Keeps an SDL timer tick out of an owner that is gone.
//
// SDL_RemoveTimer does not wait for a tick that is already under way, and a
// tick can be on its way in before it takes any lock of its owner. So the
// lock, and the list of owners that may be ticked, live outside the owners:
// a tick takes the lock, compares its parameter with the list, and follows
// the pointer only when it is there. An owner dismissed under the lock is
// never entered again. (An owner built later at the very same address could
// take such a late tick for its own; that is one tick, early.)
//
// A guard is made once per kind of owner and never destroyed, so an owner
// released from a static destructor still finds it.

#include <algorithm>
#include <mutex>
#include <vector>

class TickGuard {
public:
    // The guard's lock: a tick runs under it, and so do Admit and Dismiss.
    std::unique_lock<std::mutex> Hold() { return std::unique_lock<std::mutex>(lock_); }

    // The rest with the lock held.
    void Admit(const void* owner)
    {
        if (!Admitted(owner))
            owners_.push_back(owner);
    }
    void Dismiss(const void* owner)
    {
        owners_.erase(std::remove(owners_.begin(), owners_.end(), owner), owners_.end());
    }
    bool Admitted(const void* owner) const
    {
        return std::find(owners_.begin(), owners_.end(), owner) != owners_.end();
    }

private:
    std::mutex lock_;
    std::vector<const void*> owners_;
};
