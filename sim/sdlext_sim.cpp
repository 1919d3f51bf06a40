#include "sim/sdlext_sim.h"

#include <atomic>

#include "platform/sdlext.h"
#include "sim/handheld.h"

namespace {
std::atomic<int> init_calls{0};
std::atomic<int> quit_calls{0};
}  // namespace

int SDL_GetBattryCheck(Uint16* level)
{
    if (level)
        *level = static_cast<Uint16>(sim::Handheld::Instance().Battery());
    return 0;
}

int SDL_KelDevIfInit(int)
{
    init_calls.fetch_add(1);
    return 0;
}

void SDL_KelDevIfQuit()
{
    quit_calls.fetch_add(1);
}

namespace sim {
int DevIfInitCalls()
{
    return init_calls.load();
}
int DevIfQuitCalls()
{
    return quit_calls.load();
}
}  // namespace sim
