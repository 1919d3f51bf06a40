#pragma once
// The handheld's screen as the recorder starts, shows and stops it. Each
// backend defines these three. On the handheld they are SDL_Init, SDL_Flip
// and SDL_Quit (but for a timer hung in a device) and nothing more, so the
// recorder does there exactly what it does in SDL terms. The simulator hangs
// its own work on them: what it does is said with each call.
//
// Before StartScreen the simulator only answers the platform calls (the view
// reads the clock and the battery while the globals are constructed); it
// starts nothing of its own until the screen starts.

#include <SDL.h>

namespace platform {

// Starts SDL with these subsystems; the result is SDL_Init's. Called once, on
// the main thread, by the application object's SDL_Initialize, before any
// other SDL call. The simulator first makes sure it has a handheld root,
// installs its crash report (a crash must not look like an orderly exit),
// and loads the scenario (a faulty one ends the process here, with status 2);
// once SDL runs, it takes the window's device keys and starts the scenario
// player, which waits for the first PresentScreen.
int StartScreen(Uint32 flags);

// Shows what has been drawn into the video surface; the result is SDL_Flip's.
// Called on the main thread by the view's DrawScreen after each full draw.
// The simulator keeps a copy of the frame for the scenario's shots, and the
// first one tells its player that the screen has come up.
int PresentScreen(SDL_Surface* screen);

// Stops SDL. Called on the main thread by the application object's teardown,
// after the view is gone; its destructor calls it again, so a second call
// must be harmless. `timers_free` is false while a timer's callback is in a
// device call that may never return: SDL's timer thread, which SDL_Quit
// would wait for, is then left running for the hand-over to end. The
// simulator stops its scenario player first, so that no command reaches an
// SDL that is going away.
void StopScreen(bool timers_free);

// SDL_Quit, or when the timers are not free all of SDL but its timers.
inline void StopSdl(bool timers_free)
{
    if (timers_free)
        SDL_Quit();
    else
        SDL_QuitSubSystem(SDL_WasInit(SDL_INIT_EVERYTHING) & ~SDL_INIT_TIMER);
}

}  // namespace platform
