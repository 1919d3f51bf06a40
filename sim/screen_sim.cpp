// The screen of the simulated handheld: SDL, and the simulator's own work
// around it (the crash report, the device keys of the window, the scenario
// player, the frames kept for shots).

#include <SDL.h>
#include <execinfo.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "platform/screen.h"
#include "sim/frames.h"
#include "sim/handheld.h"
#include "sim/scenario.h"

namespace {

// SDL's own handler of fatal signals would turn a crash into an orderly exit,
// and the exit into a hand-off to the menu program: a crash would look like
// success. Ours prints the stack and dies of the signal. SDL leaves a handler
// that is already in place alone, and so does this one (a sanitizer's).
void OnFatalSignal(int sig)
{
    static const char head[] = "handheld: the recorder crashed; its stack:\n";
    (void)!write(STDERR_FILENO, head, sizeof head - 1);
    void* frames[64];
    const int depth = backtrace(frames, 64);
    backtrace_symbols_fd(frames, depth, STDERR_FILENO);
    signal(sig, SIG_DFL);
    raise(sig);
}

void InstallCrashReport()
{
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) {
        struct sigaction current {};
        sigaction(sig, nullptr, &current);
        if (current.sa_handler == SIG_DFL && !(current.sa_flags & SA_SIGINFO))
            signal(sig, OnFatalSignal);
    }
}

// In a window, function keys stand for what a person does to the device
// itself. The recorder never sees them.
int FilterDeviceKeys(const SDL_Event* event)
{
    if (event->type != SDL_KEYDOWN && event->type != SDL_KEYUP)
        return 1;
    const SDLKey sym = event->key.keysym.sym;
    if (sym < SDLK_F1 || sym > SDLK_F4)
        return 1;
    if (event->type == SDL_KEYUP)
        return 0;
    sim::Handheld& machine = sim::Handheld::Instance();
    switch (sym) {
    case SDLK_F1: {
        const bool out = machine.Card() != sim::CardState::kOut;
        machine.SetCard(out ? sim::CardState::kOut : sim::CardState::kIn);
        sim::Notice("card %s", out ? "pulled out" : "inserted");
        break;
    }
    case SDLK_F2: {
        const bool lock = machine.Card() != sim::CardState::kLocked;
        machine.SetCard(lock ? sim::CardState::kLocked : sim::CardState::kIn);
        sim::Notice("card %s", lock ? "inserted write-protected" : "inserted");
        break;
    }
    case SDLK_F3:
        machine.SetHold(!machine.Hold());
        sim::Notice("HOLD %s", machine.Hold() ? "on" : "off");
        break;
    default: {
        const int level = machine.Battery() >= 4 ? 1 : machine.Battery() + 1;
        machine.SetBattery(level);
        sim::Notice("battery level %d", level);
        break;
    }
    }
    return 0;
}

}  // namespace

namespace platform {

int StartScreen(Uint32 flags)
{
    sim::Handheld::Instance().RequireRoot();
    InstallCrashReport();
    sim::scenario::Load();
    const int result = SDL_Init(flags);
    if (result >= 0) {
        SDL_SetEventFilter(FilterDeviceKeys);
        SDL_WM_SetCaption("Recorder (simulated handheld)", "Recorder");
        sim::scenario::Start();
    }
    return result;
}

int PresentScreen(SDL_Surface* screen)
{
    const int result = SDL_Flip(screen);
    sim::frames::Flipped(screen);
    return result;
}

void StopScreen(bool timers_free)
{
    sim::scenario::Stop();
    StopSdl(timers_free);
}

}  // namespace platform
