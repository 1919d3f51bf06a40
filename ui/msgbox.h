#pragma once
// A prepared message shown for a few seconds over the recorder screen. The
// messages are the frames of one image, stacked vertically. A one-second SDL
// timer counts the display time; the box never draws on its own but posts
// EVT_REDRAW, and EVT_MSGBOX_CLOSED when a message has ended.
//
// Two kinds of message. A notice (Show) is dropped while another message is
// on, and the one on screen runs to its end. An outcome (ShowOutcome) tells
// how a run ended, and its end is what moves the owner on, so it is never
// dropped: it replaces a notice on screen, and waits behind another outcome.
// The owner acknowledges each ended message once it has acted on msg_index;
// until then msg_index stays that message's, and what waits comes on after.

#include <SDL.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>

class CMsgBox {
public:
    CMsgBox();
    virtual ~CMsgBox();
    CMsgBox(const CMsgBox&) = delete;
    CMsgBox& operator=(const CMsgBox&) = delete;

    // 1 on success; 0 when the image cannot be loaded or one is already held.
    int LoadImage(const char* path, int frames);
    // Display length in seconds, 1..3599; anything else gives 3.
    void SetDuration(int seconds);
    // A notice: dropped while another message is on, or while the last one
    // has not been acknowledged. Safe from any thread.
    void Show(int index);
    // An outcome: shown now, in place of a notice, or after the outcomes
    // before it. Safe from any thread.
    void ShowOutcome(int index);
    // The owner has acted on the message that ended; main thread.
    void Acknowledge();
    void Draw(SDL_Surface* target);
    // The SDL timer function; param is the box.
    static Uint32 OnTimer(Uint32 interval, void* param);

    // Non-null exactly while a message is on and its timer runs.
    std::atomic<SDL_TimerID> timer_id{nullptr};
    int32_t frame_count = 0;
    std::atomic<int32_t> duration{0};
    // Kept after the message ends: the view reads it when EVT_MSGBOX_CLOSED
    // arrives.
    std::atomic<int32_t> msg_index{0};
    std::atomic<bool> visible{false};
    std::atomic<int32_t> elapsed{0};
    SDL_Surface* image = nullptr;
    SDL_Rect screen_rect = {};

private:
    // Puts a message on screen, with the lock held; the caller adds its
    // timer once it has let go of the lock.
    void PutOnScreen(int index, bool outcome);
    void AddTimer();
    void Post(int code);

    // Guarded by the lock in msgbox.cpp, shared by all boxes.
    bool starting_ = false;            // Show is adding the timer
    bool closing_ = false;             // the last tick is removing the timer
    bool shown_outcome_ = false;       // the message on screen is an outcome
    bool awaiting_ack_ = false;        // ended, and the owner has not acted yet
    std::deque<int> waiting_;          // outcomes to show next, oldest first
    std::condition_variable settled_;  // starting_ or closing_ cleared
};
