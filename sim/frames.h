#pragma once
// The frames the handheld's screen has shown, as the scenario player's
// "shot" sees them.

#include <SDL.h>

#include <string>

namespace sim {
namespace frames {

// Keeps a copy of the screen as it is flipped, and tells waiters that the
// screen has come up. Main thread.
void Flipped(SDL_Surface* screen);
// Number of flips so far.
unsigned long FlipCount();
// Waits until the first flip, or until Cancel; true when the screen came up.
bool WaitFirstFlip();
// Lets WaitFirstFlip return without a flip (the application is ending).
void Cancel();
// Writes the last flipped frame to a .bmp or .png file (by its extension).
// False, with a notice, when there was no frame or the file cannot be written.
bool SaveLast(const std::string& path);

}  // namespace frames
}  // namespace sim
