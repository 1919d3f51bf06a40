#include "ui/msgbox.h"

#include <mutex>

#include "app/logmessage.h"
#include "app/tickguard.h"
#include "app/userevent.h"
#include "ui/image.h"

// How Show, the timer and the destructor stay out of each other's way.
//
// Show runs on the main thread, the workers and the status timer; OnTimer on
// SDL's timer thread. Both take one lock, so a message and its timer start and
// end as one step and two Shows can never start two timers. A late tick is
// kept out of a deleted box by the tick guard that owns that lock.
//
// SDL takes its own timer lock in SDL_AddTimer and SDL_RemoveTimer, and may hold
// it while its thread runs OnTimer. Calling either of them under our lock could
// therefore wait on a thread that waits on us, so they are only ever called
// with our lock released. While one is in flight the box says so (starting_,
// closing_): a Show waits for the last tick to finish taking its timer down,
// and the destructor waits for both, so neither sees a half-made change.

namespace {

constexpr Uint32 kTickMs = 1000;
constexpr int kDefaultDuration = 3;
constexpr int kLongestDuration = 3599;
// The message images hold seven frames; the frame height comes from that even
// when the caller counts frames differently.
constexpr int kImageFrames = 7;
constexpr Sint16 kBoxX = 11;
constexpr Sint16 kBoxY = 65;

TickGuard& g_boxes = *new TickGuard;

}  // namespace

CMsgBox::CMsgBox()
{
    const auto hold = g_boxes.Hold();
    g_boxes.Admit(this);
}

CMsgBox::~CMsgBox()
{
    SDL_TimerID running = nullptr;
    {
        auto hold = g_boxes.Hold();
        settled_.wait(hold, [this] { return !starting_ && !closing_; });
        g_boxes.Dismiss(this);
        running = timer_id.exchange(nullptr);
        visible = false;
    }
    if (running)
        SDL_RemoveTimer(running);
    if (image) {
        SDL_FreeSurface(image);
        image = nullptr;
    }
}

int CMsgBox::LoadImage(const char* path, int frames)
{
    if (image)
        return 0;
    image = LoadScreenImage(path);
    if (!image) {
        LogMessage("msgbox.cpp", __LINE__, "Not found image. %s\n", SDL_GetError());
        return 0;
    }
    screen_rect.w = static_cast<Uint16>(image->w > 0 ? image->w : 0);
    screen_rect.h = static_cast<Uint16>(image->h > 0 ? image->h / kImageFrames : 0);
    visible = false;
    screen_rect.x = kBoxX;
    screen_rect.y = kBoxY;
    frame_count = frames;
    return 1;
}

void CMsgBox::SetDuration(int seconds)
{
    const auto hold = g_boxes.Hold();
    duration = (seconds >= 1 && seconds <= kLongestDuration) ? seconds : kDefaultDuration;
}

void CMsgBox::Show(int index)
{
    {
        auto hold = g_boxes.Hold();
        // A message that has just ended may still be taking its timer down;
        // waiting for that keeps it to one timer at a time.
        settled_.wait(hold, [this] { return !closing_; });
        if (timer_id || starting_ || awaiting_ack_)
            return;
        PutOnScreen(index, false);
    }
    AddTimer();
}

void CMsgBox::ShowOutcome(int index)
{
    {
        auto hold = g_boxes.Hold();
        settled_.wait(hold, [this] { return !closing_; });
        const bool on = timer_id || starting_;
        if (on && !shown_outcome_) {
            // The notice gives way; its timer goes on counting for this one.
            msg_index = index;
            elapsed = 0;
            shown_outcome_ = true;
            Post(EVT_REDRAW);
            return;
        }
        if (on || awaiting_ack_ || !waiting_.empty()) {
            waiting_.push_back(index);
            return;
        }
        PutOnScreen(index, true);
    }
    AddTimer();
}

void CMsgBox::Acknowledge()
{
    {
        const auto hold = g_boxes.Hold();
        awaiting_ack_ = false;
        if (timer_id || starting_ || waiting_.empty())
            return;
        const int next = waiting_.front();
        waiting_.pop_front();
        PutOnScreen(next, true);
    }
    AddTimer();
}

void CMsgBox::PutOnScreen(int index, bool outcome)
{
    starting_ = true;
    shown_outcome_ = outcome;
    msg_index = index;
    visible = true;
    elapsed = 0;
    Post(EVT_REDRAW);
}

void CMsgBox::AddTimer()
{
    const SDL_TimerID id = SDL_AddTimer(kTickMs, OnTimer, this);
    const auto hold = g_boxes.Hold();
    // Without a timer the message stays on and the next Show starts over.
    timer_id = id;
    starting_ = false;
    settled_.notify_all();
}

void CMsgBox::Draw(SDL_Surface* target)
{
    if (screen_rect.w == 0 || screen_rect.h == 0 || !visible)
        return;
    if (!image || !target || frame_count <= 0)
        return;
    int frame = msg_index % frame_count;
    if (frame < 0)
        frame += frame_count;
    SDL_Rect source = {0, static_cast<Sint16>(frame * screen_rect.h), screen_rect.w, screen_rect.h};
    SDL_Rect destination = {screen_rect.x, screen_rect.y, 0, 0};
    SDL_BlitSurface(image, &source, target, &destination);
}

Uint32 CMsgBox::OnTimer(Uint32 interval, void* param)
{
    CMsgBox* const box = static_cast<CMsgBox*>(param);
    SDL_TimerID finished = nullptr;
    {
        const auto hold = g_boxes.Hold();
        // Compared, never followed, until found live.
        if (!g_boxes.Admitted(box) || !box->timer_id)
            return interval;
        // Counting up to the duration (not merely to a different value) ends
        // the message even if the duration was lowered while it was on.
        if (box->elapsed < box->duration) {
            ++box->elapsed;
            return interval;
        }
        box->elapsed = 0;
        box->visible = false;
        box->Post(EVT_MSGBOX_CLOSED);
        box->Post(EVT_REDRAW);
        finished = box->timer_id.exchange(nullptr);
        box->closing_ = true;
        box->awaiting_ack_ = true;
    }
    SDL_RemoveTimer(finished);
    {
        const auto hold = g_boxes.Hold();
        box->closing_ = false;
        box->settled_.notify_all();
    }
    // From here on the box may be gone.
    return interval;
}

void CMsgBox::Post(int code)
{
    PostUserEvent(code, this);
}
