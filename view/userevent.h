#pragma once

// Codes of the user events that every sender posts into SDL's queue. data1 is
// the sending object, data2 is always null.
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
};

#include <SDL.h>

// Posts a user event into SDL's queue; safe from any thread. The push's
// result is not looked at: a full queue loses the event, as on the handheld.
inline void PostUserEvent(int code, void* data1, void* data2 = nullptr)
{
    SDL_Event event = {};
    event.type = SDL_USEREVENT;
    event.user.code = code;
    event.user.data1 = data1;
    event.user.data2 = data2;
    SDL_PushEvent(&event);
}
