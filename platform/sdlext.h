#pragma once
// The handheld's extensions of SDL. The view calls them; each backend
// provides them.
#include <SDL.h>

// Fills *level with the battery level, 1 (full) to 4 (low, the warning level).
// A platform that cannot tell fills in 1: an untouched value reads as 4 to
// the view, which would then warn of a low battery. The result is not used.
int SDL_GetBattryCheck(Uint16* level);
// Sets up and releases the handheld's device interface. No effect on the
// recorder beyond being called (with 1) at the view's construction and at
// its release.
int SDL_KelDevIfInit(int mode);
void SDL_KelDevIfQuit();
