#pragma once
// A prepared message shown for a few seconds over the recorder screen. The
// messages are the frames of one image, stacked vertically. A one-second SDL
// timer counts the display time; the box never draws on its own but posts
// EVT_REDRAW, and EVT_MSGBOX_CLOSED when a message has ended.

#include <SDL.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>

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
    // Dropped while another message is on. Safe from any thread.
    void Show(int index);
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
    void Post(int code);

    // Guarded by the lock in msgbox.cpp, shared by all boxes.
    CMsgBox* next_live_ = nullptr;
    bool starting_ = false;            // Show is adding the timer
    bool closing_ = false;             // the last tick is removing the timer
    std::condition_variable settled_;  // starting_ or closing_ cleared
};
