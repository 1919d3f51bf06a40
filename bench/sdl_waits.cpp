// The floor for what the recorder costs while it waits: a program that only
// starts SDL as the recorder does (its subsystems and its 320x240x24 screen)
// and waits for SDL events, until SDL_QUIT or, given SECONDS, a one-shot
// timer that posts it. sdl_waits [SECONDS]

#include <SDL.h>

#include <cstdio>
#include <cstdlib>

namespace {

Uint32 PostQuit(Uint32, void*)
{
    SDL_Event quit = {};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (SDL_Init(SDL_INIT_TIMER | SDL_INIT_AUDIO | SDL_INIT_VIDEO | SDL_INIT_JOYSTICK) < 0 ||
        !SDL_SetVideoMode(320, 240, 24, 0)) {
        std::fprintf(stderr, "sdl_waits: %s\n", SDL_GetError());
        return 1;
    }
    if (argc > 1)
        SDL_AddTimer(static_cast<Uint32>(std::atoi(argv[1]) * 1000), PostQuit, nullptr);
    SDL_Event event;
    while (SDL_WaitEvent(&event) && event.type != SDL_QUIT) {
    }
    SDL_Quit();
    return 0;
}
