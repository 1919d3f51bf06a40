#include "tests/support/bench.h"

#include "app/userevent.h"
#include "sim/soundcard.h"
#include "tests/support/handheld.h"

namespace support {

SdlScreen::SdlScreen()
{
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER) != 0)
        error_ = std::string("SDL_Init: ") + SDL_GetError();
    else if (!SDL_SetVideoMode(320, 240, 24, 0))
        error_ = std::string("SDL_SetVideoMode: ") + SDL_GetError();
}

SdlScreen::~SdlScreen()
{
    SDL_Quit();
}

Bench::Bench(const std::string& mic)
{
    error_ = sdl_.error();
    ResetHandheld(mic);
    if (error_.empty())
        NewView();
}

Bench::~Bench()
{
    DropView();
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
    }
    ResetHandheld();
}

void Bench::DropView()
{
    if (view_) {
        // A worker held by a hung device is left behind by a leave, as the
        // real program leaves it to the hand-off; here the process goes on,
        // so the device lets go first and the worker ends.
        sim::soundcard::HangOpenDsp(false);
        view_->ExitInstance();
        delete view_;
        view_ = nullptr;
    }
    delete loop_;
    loop_ = nullptr;
    DiscardUserEvents();
}

bool Bench::NewView()
{
    DropView();
    left_ = false;
    view_ = new CRecorderView();
    loop_ = new EventLoopOf<CRecorderView>(*view_);
    if (view_->Initialize() != 1)
        error_ = "the view did not initialise";
    return error_.empty();
}

CRecorderView* Bench::Release()
{
    CRecorderView* view = view_;
    view_ = nullptr;
    DropView();
    return view;
}

std::string Bench::ExitView()
{
    char view[64] = "";
    theApp.GetExitView(view, sizeof view);
    return view;
}

bool Bench::Until(const std::function<bool()>& done, Ms bound)
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!left_) {
        if (on_turn_)
            on_turn_();
        if (done && done())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        Turn(done);
    }
    return false;
}

bool Bench::For(Ms ms)
{
    return Until(nullptr, ms) || !left_;
}

bool Bench::UntilLeft(Ms bound)
{
    Until(nullptr, bound);
    return left_;
}

// The loop's own turn: our events first, then SDL's next one, each handled
// by the loop as the program's is. Where the program would wait for SDL's
// next event, this waits a moment and turns again, so that a test sees the
// state of the other threads too.
void Bench::Turn(const std::function<bool()>& done)
{
    SDL_Event event;
    while (TakeUserEvent(&event)) {
        Hand(event);
        // What comes after the event waited for stays queued, for the test
        // to see the recorder as that event left it.
        if (left_ || (done && done()))
            return;
    }
    if (!SDL_PollEvent(&event)) {
        SDL_Delay(2);
        return;
    }
    if (event.type != kUserEventWake)
        Hand(event);
}

void Bench::Hand(SDL_Event& event)
{
    if (on_event_ && !on_event_(event))
        return;
    if (!loop_->Handle(event))
        left_ = true;
}

}  // namespace support
