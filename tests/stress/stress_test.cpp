// Many short recordings and playbacks one after another, every way of
// starting and stopping mixed, the run ended at a random step by pulling the
// card, by code 14 or by SDL_QUIT. The recorder's own event loop runs on the
// main thread and takes the input from SDL's queue, as on the handheld; the
// input comes from a thread that takes each step once the recorder is in the
// state the step needs, so every recording asked for must be made, whatever
// the machine's pace. Seeded, so a failure can be replayed; meant to be run
// under the sanitizers too.

#include <SDL.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/mainmenuapp.h"
#include "app/userevent.h"
#include "sim/handheld.h"
#include "sim/soundcard.h"
#include "tests/e2e/harness.h"
#include "tests/support/bench.h"
#include "tests/support/handheld.h"
#include "tests/support/recording.h"
#include "ui/imagebutton.h"
#include "view/recorderview.h"

namespace {

namespace card = sim::soundcard;
using Clock = std::chrono::steady_clock;

constexpr int kCyclesPerRun = 28;
// A header is rewritten every half second of sound (88200 bytes a second),
// so a recording cut by the pulled card may declare up to that much less
// than it holds, plus the block in flight.
constexpr uint32_t kHeaderLag = 44100 + 4096;

enum class Ending { kCardPulled, kCode14, kSdlQuit };
// Where in its cycle the run ends.
enum class EndStep { kIdle, kRecording, kPlaying };

// An input as the handheld's keys, buttons and touch screen make it.
struct Input {
    enum { kKey, kButton, kTouch } device;
    int what;  // key symbol or button number; x for a touch
    int y;
};

const Input kRecordInputs[] = {{Input::kKey, SDLK_DOWN, 0},
                               {Input::kKey, SDLK_KP_PERIOD, 0},
                               {Input::kButton, 10, 0},
                               {Input::kButton, 2, 0},
                               {Input::kTouch, 218, 218}};
const Input kPlayInputs[] = {
    {Input::kKey, SDLK_BACKSPACE, 0}, {Input::kButton, 0, 0}, {Input::kTouch, 102, 218}};
const Input kCode14Inputs[] = {{Input::kKey, SDLK_KP_PLUS, 0}, {Input::kButton, 6, 0}};

void Push(SDL_Event event)
{
    // The loop drains the queue; a full one only delays the input.
    while (SDL_PushEvent(&event) != 0)
        SDL_Delay(1);
}

void Press(const Input& input)
{
    for (const bool down : {true, false}) {
        SDL_Event e{};
        switch (input.device) {
        case Input::kKey:
            e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
            e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
            e.key.keysym.sym = static_cast<SDLKey>(input.what);
            break;
        case Input::kButton:
            e.type = down ? SDL_JOYBUTTONDOWN : SDL_JOYBUTTONUP;
            e.jbutton.state = down ? SDL_PRESSED : SDL_RELEASED;
            e.jbutton.button = static_cast<Uint8>(input.what);
            break;
        case Input::kTouch:
            e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
            e.button.button = SDL_BUTTON_LEFT;
            e.button.x = static_cast<Uint16>(input.what);
            e.button.y = static_cast<Uint16>(input.y);
            break;
        }
        Push(e);
    }
}

// The path in a log message "<head><path><tail>", or nothing.
std::optional<std::string> PathIn(const std::string& message, const std::string& head,
                                  const std::string& tail)
{
    if (message.size() <= head.size() + tail.size() || message.rfind(head, 0) != 0 ||
        message.compare(message.size() - tail.size(), tail.size(), tail) != 0)
        return std::nullopt;
    return message.substr(head.size(), message.size() - head.size() - tail.size());
}

// Plays the user's part from its own thread: each step waits for the state
// it needs (a hang ends the run and is reported), never for a time.
class Driver {
public:
    Driver(CRecorderView& view, unsigned seed) : view_(view), seed_(seed), random_(seed) {}

    // What went wrong, empty when every step found its state.
    const std::string& fault() const { return fault_; }
    int recordings_asked() const { return recordings_asked_; }
    Ending ending() const { return ending_; }
    EndStep end_step() const { return end_step_; }
    bool cut_a_recording() const
    {
        return ending_ == Ending::kCardPulled && end_step_ == EndStep::kRecording;
    }

    void Run()
    {
        // Seeds 1 to 4: the card pulled while recording, code 14 while
        // playing, SDL_QUIT when idle, the card pulled while playing.
        ending_ = static_cast<Ending>((seed_ + 2) % 3);
        end_step_ = static_cast<EndStep>((seed_ + seed_ / 4) % 3);
        const int end_cycle = Between(kCyclesPerRun * 3 / 4, kCyclesPerRun - 1);
        for (int cycle = 0; cycle <= end_cycle; ++cycle)
            if (!Cycle(cycle == end_cycle))
                break;
        if (!fault_.empty())
            Push(Quit());
    }

private:
    int Between(int low, int high)
    {
        return std::uniform_int_distribution<int>(low, high)(random_);
    }
    template <typename List>
    const Input& Pick(const List& inputs)
    {
        return inputs[Between(0, static_cast<int>(std::size(inputs)) - 1)];
    }
    static SDL_Event Quit()
    {
        SDL_Event e{};
        e.type = SDL_QUIT;
        return e;
    }

    // Waits for the state; on a hang the fault names it.
    bool Await(const char* state, const std::function<bool()>& holds)
    {
        if (support::Eventually(holds))
            return true;
        fault_ = std::string("the recorder never became ") + state;
        return false;
    }

    bool Idle()
    {
        return view_.run.state() == RunState::kIdle && view_.record_button->IsEnabled() &&
               view_.play_button->IsEnabled() && view_.record_button->frame == 0 &&
               view_.play_button->frame == 0;
    }

    void End()
    {
        switch (ending_) {
        case Ending::kCardPulled:
            sim::Handheld::Instance().SetCard(sim::CardState::kOut);
            break;
        case Ending::kCode14:
            Press(Pick(kCode14Inputs));
            break;
        case Ending::kSdlQuit:
            Push(Quit());
            break;
        }
    }

    // Record, stop, play, stop; the last cycle ends the run at its step.
    // False once the run is over.
    bool Cycle(bool last)
    {
        if (!Await("idle", [this] { return Idle(); }))
            return false;
        if (last && end_step_ == EndStep::kIdle) {
            End();
            return false;
        }
        Press(Pick(kRecordInputs));
        ++recordings_asked_;
        if (!Await("recording", [this] { return view_.run.state() == RunState::kRecording; }))
            return false;
        // Some sound in the file, then up to ten more fragments of the card.
        const std::string file = sim::Handheld::Instance().MapPath(view_.file_path);
        const long long more = 4096LL * Between(0, 10);
        if (!Await("a recording with sound", [&] {
                struct stat st {};
                const card::DspStatus dsp = card::Dsp();
                return ::stat(file.c_str(), &st) == 0 && st.st_size > 44 && dsp.capture &&
                       dsp.moved >= more;
            }))
            return false;
        if (last && end_step_ == EndStep::kRecording) {
            End();
            return false;
        }
        Press(Pick(kRecordInputs));
        if (!Await("idle after the recording", [this] { return Idle(); }))
            return false;
        Press(Pick(kPlayInputs));
        if (!Await("playing", [this] { return view_.run.state() == RunState::kPlaying; }))
            return false;
        // Stopped after up to six fragments, or played to its end.
        const long long played = 4096LL * Between(0, 6);
        if (!Await("playing on", [&] {
                const card::DspStatus dsp = card::Dsp();
                return view_.run.state() != RunState::kPlaying ||
                       (dsp.open && !dsp.capture && dsp.moved >= played);
            }))
            return false;
        if (last && end_step_ == EndStep::kPlaying) {
            End();
            return false;
        }
        // A playback that has just ended by itself takes this as a new start.
        if (view_.run.state() == RunState::kPlaying)
            Press(Pick(kPlayInputs));
        return true;
    }

    CRecorderView& view_;
    const unsigned seed_;
    std::mt19937 random_;
    std::string fault_;
    int recordings_asked_ = 0;
    Ending ending_ = Ending::kSdlQuit;
    EndStep end_step_ = EndStep::kIdle;
};

class StressTest : public ::testing::TestWithParam<unsigned> {};

TEST_P(StressTest, EveryRecordingAskedForIsMadeWholeAndTheRunEndsCleanly)
{
    theApp.SetExitView("--view-apps");
    testing::internal::CaptureStdout();
    auto bench = std::make_unique<support::Bench>("counter");
    ASSERT_EQ(bench->error(), "");
    Driver driver(bench->view(), GetParam());
    std::thread user([&driver] { driver.Run(); });
    // A run takes seconds; the bound is for a loop that hangs, short of
    // the test's own limit.
    EXPECT_TRUE(bench->UntilLeft(std::chrono::minutes(4)));
    user.join();
    // The view's end is in the log too.
    bench.reset();
    e2e::Run run;
    run.out = testing::internal::GetCapturedStdout();
    const char* const endings[] = {"the card pulled", "code 14", "SDL_QUIT"};
    const char* const steps[] = {"when idle", "while recording", "while playing"};
    SCOPED_TRACE("seed " + std::to_string(GetParam()) + ": " +
                 std::to_string(driver.recordings_asked()) + " recordings, ended by " +
                 endings[static_cast<int>(driver.ending())] + " " +
                 steps[static_cast<int>(driver.end_step())]);
    ASSERT_EQ(driver.fault(), "") << run.out;
    char exit_view[32] = "";
    theApp.GetExitView(exit_view, sizeof exit_view);
    EXPECT_STREQ(exit_view, driver.ending() == Ending::kSdlQuit ? "--view-apps" : "--view-main");
    const std::string root = sim::Handheld::Instance().Root();
    EXPECT_FALSE(e2e::Exists(root + "/mnt/sd/%%_tmp_.tmp%%"));

    // Every recording asked for started under a name of its own, none was
    // removed, and each is on the card.
    std::set<std::string> started;
    for (const std::string& message : run.Messages()) {
        if (const auto path = PathIn(message, "(Record) RecordStart(", ")...")) {
            EXPECT_EQ(started.count(*path), 0u) << *path << " was named twice";
            started.insert(*path);
        }
        EXPECT_EQ(PathIn(message, "unlink file(", ")"), std::nullopt) << message;
    }
    EXPECT_EQ(started.size(), static_cast<size_t>(driver.recordings_asked())) << run.out;
    std::set<std::string> on_card;
    for (const std::string& path : support::Recordings())
        on_card.insert(path.substr(root.size()));
    EXPECT_EQ(on_card, started);

    int cut = 0;
    for (const std::string& path : on_card) {
        SCOPED_TRACE(path);
        // What lies beyond the header is the counter's too.
        EXPECT_EQ(support::CounterBreak(support::ReadWav(root + path).data), "");
        const std::string fault = support::RecordingFault(root + path, support::kPartFrame);
        if (fault.empty())
            continue;
        // Only the recording the pulled card cut short may lag behind.
        ++cut;
        EXPECT_TRUE(driver.cut_a_recording()) << fault;
        EXPECT_EQ(support::RecordingFault(root + path, kHeaderLag), "");
    }
    EXPECT_LE(cut, 1);
}

INSTANTIATE_TEST_SUITE_P(Stress, StressTest, ::testing::Values(1u, 2u, 3u, 4u),
                         [](const auto& info) { return "Seed" + std::to_string(info.param); });

}  // namespace
