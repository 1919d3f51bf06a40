#include "app/userevent.h"

#include <deque>
#include <mutex>

namespace {

struct Queue {
    std::mutex lock;
    std::deque<SDL_UserEvent> events;
    // A wake-up sits in SDL's queue and has not been taken yet.
    bool wake_queued = false;
};

// Never destroyed: workers and timers may post while static objects go.
Queue& TheQueue()
{
    static Queue& queue = *new Queue;
    return queue;
}

}  // namespace

void PostUserEvent(int code, void* data1, void* data2)
{
    Queue& queue = TheQueue();
    SDL_UserEvent user = {};
    user.type = SDL_USEREVENT;
    user.code = code;
    user.data1 = data1;
    user.data2 = data2;
    std::lock_guard<std::mutex> hold(queue.lock);
    queue.events.push_back(user);
    if (queue.wake_queued)
        return;
    // When SDL's queue is full the wake-up is lost, but then the main thread
    // has 128 events to wake up for, and it takes ours after each of them.
    SDL_Event wake = {};
    wake.type = kUserEventWake;
    queue.wake_queued = SDL_PushEvent(&wake) == 0;
}

bool TakeUserEvent(SDL_Event* event)
{
    Queue& queue = TheQueue();
    std::lock_guard<std::mutex> hold(queue.lock);
    if (queue.events.empty()) {
        // The next post must wake the main thread again, whatever became of
        // the last wake-up.
        queue.wake_queued = false;
        return false;
    }
    event->user = queue.events.front();
    queue.events.pop_front();
    return true;
}

void DiscardUserEvents()
{
    Queue& queue = TheQueue();
    std::lock_guard<std::mutex> hold(queue.lock);
    queue.events.clear();
    queue.wake_queued = false;
}
