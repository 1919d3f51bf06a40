#pragma once
// The recorder's own events: redraws, the widgets' news, a worker's end, the
// loop's end. data1 is the sending object, data2 is always null.
//
// They travel in a queue of their own beside SDL's. SDL 1.2 keeps 128 events
// and drops what does not fit; a finger dragged across the touch screen while
// the main thread is busy fills that in a moment, and losing a redraw that a
// worker waits for, or the event that reaps a worker, would wedge the
// recorder. So a post always lands in our queue, and SDL's queue only carries
// a wake-up for a main thread that waits in SDL_WaitEvent. Input may still be
// dropped by SDL, as on the handheld.

#include <SDL.h>

enum UserEventCode {
    EVT_REDRAW = 100,
    EVT_MSGBOX_CLOSED = 200,
    EVT_BUTTON_PRESSED = 5000,
    EVT_BUTTON_RELEASED = 5001,
    EVT_PLAY_FINISHED = 5002,
    EVT_PLAY_EXIT = 5003,
    EVT_PLAY_NO_FILE = 5004,
    EVT_RECORD_FINISHED = 5005,
    EVT_RECORD_STOPPING = 5006,
    EVT_RECORD_EXIT = 5008,
    EVT_RECORD_FAILED = 5009,
    EVT_QUIT_LOOP = 5010,
    // A worker has returned, whichever way its run ended: the main thread
    // joins it and brings the screen back in step. Always the worker's last
    // event, so nothing a run leaves behind outlives it.
    EVT_WORKER_ENDED = 5011,
    // A worker asked to end its run for a leave has not answered in time: a
    // device that hangs holds it, and the user leaves without it.
    EVT_EXIT_OVERDUE = 5012,
    // The status monitor found the SD card gone: the main thread ends the
    // run and leaves for the menu's main view.
    EVT_CARD_GONE = 5013,
};

// The SDL event type of the wake-up; it carries nothing and is never handed
// to the view.
constexpr Uint8 kUserEventWake = SDL_USEREVENT + 1;

// Queues one of our events; safe from any thread, never lost.
void PostUserEvent(int code, void* data1, void* data2 = nullptr);

// Takes the oldest queued event as an SDL user event; false when none waits.
bool TakeUserEvent(SDL_Event* event);

// Drops whatever is queued (a test starting afresh, SDL restarted).
void DiscardUserEvents();
