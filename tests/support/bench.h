#pragma once
// The recorder in-process as the handheld runs it: SDL up on its dummy
// drivers with the handheld's 320x240 screen, the simulated handheld as
// every test starts, a fresh view initialised, and the real event loop
// turned on the test's thread until what the test waits for holds. Each
// turn and each event the loop is about to handle can be shown to the test
// first.

#include <SDL.h>

#include <chrono>
#include <functional>
#include <string>

#include "app/mainmenuapp.h"
#include "tests/support/wait.h"
#include "view/recorderview.h"

namespace support {

// SDL started for the handheld's screen, and stopped again.
class SdlScreen {
public:
    SdlScreen();
    ~SdlScreen();
    SdlScreen(const SdlScreen&) = delete;
    SdlScreen& operator=(const SdlScreen&) = delete;
    // Empty when SDL and its screen came up, else why not.
    const std::string& error() const { return error_; }

private:
    std::string error_;
};

class Bench {
public:
    using Ms = std::chrono::milliseconds;

    // `mic`: the simulated microphone (see support::ResetHandheld).
    explicit Bench(const std::string& mic = "tone");
    ~Bench();
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    // Empty when SDL came up and the view initialised, else why not.
    const std::string& error() const { return error_; }
    CRecorderView& view() { return *view_; }

    // Called before every turn of the loop.
    void OnTurn(std::function<void()> look) { on_turn_ = std::move(look); }
    // Called with every event the loop is about to handle, ours and SDL's;
    // false keeps the event from the loop.
    void OnEvent(std::function<bool(const SDL_Event&)> see) { on_event_ = std::move(see); }

    // Turns the loop until `done` holds, looked at before each turn and
    // after each of our events: true then; false when the recorder left
    // first or `bound` passed.
    bool Until(const std::function<bool()>& done, Ms bound = kHung);
    // Turns the loop for `ms`: false when the recorder left meanwhile.
    bool For(Ms ms);
    // Turns the loop until the recorder leaves: false when `bound` passed.
    bool UntilLeft(Ms bound = kHung);

    bool left() const { return left_; }
    // The view the recorder named to leave for.
    static std::string ExitView();

    // A fresh view, as after a new start of the recorder: what the old
    // one's worker posted is not the new one's business.
    bool NewView();
    // Hands the view over to the caller, who ends it; the bench has none
    // until NewView.
    CRecorderView* Release();

private:
    void Turn(const std::function<bool()>& done);
    void Hand(SDL_Event& event);
    void DropView();

    SdlScreen sdl_;
    std::string error_;
    CRecorderView* view_ = nullptr;
    EventLoopOf<CRecorderView>* loop_ = nullptr;
    bool left_ = false;
    std::function<void()> on_turn_;
    std::function<bool(const SDL_Event&)> on_event_;
};

}  // namespace support
