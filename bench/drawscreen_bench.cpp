// How long one full repaint of the idle recorder screen takes: the skin's
// bands, the status bar, the counter, the three buttons, and the flip, with
// the real skin and font. Run from the folder that holds ./res, with
// HANDHELD_ROOT naming a root laid out by handheld-root.

#include <SDL.h>
#include <benchmark/benchmark.h>

#include "view/recorderview.h"

namespace {

void BM_DrawScreen(benchmark::State& state)
{
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER) != 0) {
        state.SkipWithError(SDL_GetError());
        return;
    }
    SDL_Surface* screen = SDL_SetVideoMode(320, 240, 24, 0);
    CRecorderView* view = new CRecorderView;
    const int ready = screen ? view->Initialize() : 0;
    if (ready == 1) {
        for (auto _ : state)
            view->DrawScreen(screen);
    } else {
        state.SkipWithError(screen ? "the view could not load its skin, images or font"
                                   : "no screen");
    }
    // Before SDL_Quit: the view's timer belongs to SDL.
    view->ExitInstance();
    delete view;
    SDL_Quit();
}

BENCHMARK(BM_DrawScreen)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
