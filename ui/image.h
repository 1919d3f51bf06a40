#pragma once
// The images of res/, held in the screen's own pixel format so that a blit
// copies them instead of converting every pixel of every frame. The pixels a
// frame shows are those the loaded image would give: an image converts only
// when its blits come out the same.

#include <SDL.h>

// IMG_Load of the file, in the screen's format where that is exact. Null,
// with SDL's error, when the file cannot be loaded.
SDL_Surface* LoadScreenImage(const char* path);

// Takes the loaded image and returns the one to keep: its conversion to the
// video surface's format, the original being freed, or the original itself
// when there is no video surface yet, the conversion fails, or it would
// change what a blit shows.
SDL_Surface* ToScreenFormat(SDL_Surface* loaded);
