// The screen on the handheld itself: SDL as it is.

#include "platform/screen.h"

namespace platform {

int StartScreen(Uint32 flags)
{
    return SDL_Init(flags);
}

int PresentScreen(SDL_Surface* screen)
{
    return SDL_Flip(screen);
}

void StopScreen(bool timers_free)
{
    StopSdl(timers_free);
}

}  // namespace platform
