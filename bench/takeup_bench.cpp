// takeup_bench [ROUNDS]: how long a stop or a leave takes to be taken up by
// the worker (its button disabled) and to end the run (its final event),
// for a recording and a playback, on the simulated handheld with the view
// in-process and the main thread's loop here. Each of ROUNDS (20) rounds
// records half a second, plays it, and asks in the middle of each run.
// Prints, per case, the fewest, the median, the 90th percentile and the
// most milliseconds; the target for the take-up is 50 ms.
// Run from the repository's root (the view loads ./res); uses HANDHELD_ROOT
// when set, else lays out a temporary handheld root with handheld-root.

#include <SDL.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/mainmenuapp.h"
#include "app/userevent.h"
#include "audio/wavrecord.h"
#include "sim/handheld.h"
#include "sim/soundcard.h"
#include "ui/imagebutton.h"
#include "view/recorderview.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Hands the view its events until `done` holds; false after 30 s.
bool RunUntil(CRecorderView& view, const std::function<bool(const SDL_Event*)>& done)
{
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    SDL_Event event;
    while (!done(nullptr)) {
        if (Clock::now() > deadline)
            return false;
        if (!TakeUserEvent(&event)) {
            SDL_Delay(1);
            continue;
        }
        if (done(&event))
            return true;
        if (event.type == SDL_USEREVENT && event.user.code != EVT_QUIT_LOOP)
            DispatchEventTo(view, event);
    }
    return true;
}

struct Case {
    const char* what;
    bool playback;
    int request_code;
    std::vector<double> taken_up;
    std::vector<double> ended;
};

void Print(const char* what, const char* part, std::vector<double> ms)
{
    if (ms.empty())
        return;
    std::sort(ms.begin(), ms.end());
    std::printf("%-26s %-9s min %6.1f  median %6.1f  p90 %6.1f  max %6.1f ms (%zu)\n", what, part,
                ms.front(), ms[ms.size() / 2], ms[ms.size() * 9 / 10], ms.back(), ms.size());
}

// One run of the case, started and asked in its middle; false on a hang.
bool Measure(CRecorderView*& view, Case& c)
{
    theApp.SetExitView("--view-apps");
    view->OnKeyCommand(0, c.playback ? 8 : 18);
    const bool under_way = RunUntil(*view, [&](const SDL_Event*) {
        if (!c.playback)
            return view->wav->captured_bytes() >= 88200 / 4;
        const sim::soundcard::DspStatus dsp = sim::soundcard::Dsp();
        return dsp.open && !dsp.capture && dsp.moved >= 88200 / 4;
    });
    if (!under_way)
        return false;
    CMemButton* button = c.playback ? view->play_button : view->record_button;
    const int final_event = c.request_code == 14
                                ? (c.playback ? EVT_PLAY_EXIT : EVT_RECORD_EXIT)
                                : (c.playback ? EVT_PLAY_FINISHED : EVT_RECORD_FINISHED);
    const auto asked = Clock::now();
    view->OnKeyCommand(0, c.request_code);
    double taken_up = -1;
    const bool ended = RunUntil(*view, [&](const SDL_Event* e) {
        if (taken_up < 0 && !button->IsEnabled())
            taken_up = MsSince(asked);
        return e && e->type == SDL_USEREVENT && e->user.code == final_event;
    });
    if (!ended)
        return false;
    c.ended.push_back(MsSince(asked));
    if (taken_up >= 0)
        c.taken_up.push_back(taken_up);
    // A fresh view for the next run, as after a new start; the recording
    // stays the play target.
    const std::string recorded = view->file_path;
    view->ExitInstance();
    delete view;
    DiscardUserEvents();
    view = new CRecorderView();
    if (view->Initialize() != 1)
        return false;
    std::snprintf(view->file_path, sizeof view->file_path, "%s", recorded.c_str());
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
    if (rounds <= 0) {
        std::fprintf(stderr, "usage: takeup_bench [ROUNDS]\n");
        return 2;
    }
    const char* root = std::getenv("HANDHELD_ROOT");
    if (!root || !*root) {
        char folder[] = "/tmp/takeup-bench-XXXXXX";
        if (!mkdtemp(folder) ||
            std::system((std::string(HANDHELD_ROOT_TOOL) + " " + folder).c_str()) != 0) {
            std::fprintf(stderr, "cannot lay out a handheld root\n");
            return 1;
        }
        setenv("HANDHELD_ROOT", folder, 1);
        sim::Handheld::Instance().SetRoot(folder);
    }
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER) != 0 || !SDL_SetVideoMode(320, 240, 24, 0)) {
        std::fprintf(stderr, "SDL: %s\n", SDL_GetError());
        return 1;
    }
    CRecorderView* view = new CRecorderView();
    if (view->Initialize() != 1)
        return 1;
    // The recordings come first in each round: each is the next playback.
    std::vector<Case> cases = {
        {"stop a recording", false, 9, {}, {}},
        {"stop a playback", true, 8, {}, {}},
        {"leave during a recording", false, 14, {}, {}},
        {"leave during a playback", true, 14, {}, {}},
    };
    for (int round = 0; round < rounds; ++round)
        for (Case& c : cases)
            if (!Measure(view, c)) {
                std::fprintf(stderr, "%s: no end within 30 s\n", c.what);
                return 1;
            }
    for (const Case& c : cases) {
        Print(c.what, "taken up", c.taken_up);
        Print(c.what, "ended", c.ended);
    }
    view->ExitInstance();
    delete view;
    SDL_Quit();
    return 0;
}
