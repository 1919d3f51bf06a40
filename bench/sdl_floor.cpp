// The floor under the recorder's idle CPU use: a program that opens SDL as
// the recorder does and then only waits for events (sdl_floor wait), and one
// that polls without waiting (sdl_floor poll), for bench/measure.py --floor
// and bench/instructions.py. SDL 1.2's wait is its own loop of a poll and a
// 10 ms delay, and its timer thread ticks beside it: what "only waits" costs
// is SDL's, not ours. SIGINT or SIGTERM ends either (SDL turns them into
// SDL_QUIT), and so does the end of SECONDS when they are given.
//   sdl_floor wait|poll [SECONDS]

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

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
    const bool poll = argc >= 2 && std::strcmp(argv[1], "poll") == 0;
    if (argc < 2 || argc > 3 || (!poll && std::strcmp(argv[1], "wait") != 0)) {
        std::fprintf(stderr, "usage: sdl_floor wait|poll [SECONDS]\n");
        return 2;
    }
    if (SDL_Init(SDL_INIT_TIMER | SDL_INIT_AUDIO | SDL_INIT_VIDEO | SDL_INIT_JOYSTICK) < 0) {
        std::fprintf(stderr, "sdl_floor: %s\n", SDL_GetError());
        return 1;
    }
    SDL_Surface* screen = SDL_SetVideoMode(320, 240, 24, 0);
    if (!screen) {
        std::fprintf(stderr, "sdl_floor: %s\n", SDL_GetError());
        SDL_Quit();
        return 1;
    }
    SDL_Flip(screen);
    if (argc == 3)
        SDL_AddTimer(static_cast<Uint32>(std::atoi(argv[2]) * 1000), PostQuit, nullptr);
    std::printf("up\n");
    std::fflush(stdout);
    SDL_Event event;
    for (bool quit = false; !quit;) {
        if (poll) {
            while (SDL_PollEvent(&event))
                quit = quit || event.type == SDL_QUIT;
        } else if (!SDL_WaitEvent(&event) || event.type == SDL_QUIT) {
            quit = true;
        }
    }
    SDL_Quit();
    return 0;
}
