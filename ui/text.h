#pragma once
// Text drawing of the recorder view: EUC-KR byte strings (ASCII plus KS X 1001
// two-byte codes) are turned into UCS-2 for SDL_ttf. The drawing operations
// themselves (LoadFont, DrawText, DrawTitle) belong to CRecorderView.

#include <SDL.h>

// Converts a NUL-terminated EUC-KR string into UCS-2 units in the host's byte
// order, ended by a 0 unit. `out` must hold one unit per input byte plus one.
// A two-byte code that is undefined or malformed becomes a 0 unit, so a
// renderer stops just before it; conversion still goes on behind it. A lead
// byte right before the terminator ends the output there.
void EucKrToUcs2(const char* text, Uint16* out);
