// Recording and playback driven in-process, with the main thread's loop in
// the test: stop and exit requests are taken up and the run puts the view
// back by itself, a leave is not held up by the card, and teardown never
// waits on a worker that waits on a draw. How fast a request is taken up is
// measured in bench/takeup_bench.cpp.

#include <SDL.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/mainmenuapp.h"
#include "app/userevent.h"
#include "audio/wavrecord.h"
#include "sim/faults.h"
#include "sim/handheld.h"
#include "sim/sdcard.h"
#include "sim/soundcard.h"
#include "tests/support/bench.h"
#include "tests/support/wait.h"
#include "ui/imagebutton.h"
#include "ui/msgbox.h"
#include "view/recorderview.h"

namespace {

constexpr int64_t kBytesPerSecond = 88200;

bool IsUser(const SDL_Event& e, int code)
{
    return e.type == SDL_USEREVENT && e.user.code == code;
}

class RunControl : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(bench_.error(), ""); }

    // A fresh view, as after a new start of the recorder.
    void NewView() { ASSERT_TRUE(bench_.NewView()) << bench_.error(); }

    // The main thread's part, as the event loop does it: hands the view its
    // events until `until` says the event ends the wait; that event is
    // handed over too when `dispatch_last`. False when nothing came before
    // the hung bound.
    bool Loop(const std::function<bool(const SDL_Event&)>& until, bool dispatch_last = false)
    {
        bool seen = false;
        bench_.OnEvent([&](const SDL_Event& e) {
            if (!until(e))
                return true;
            seen = true;
            return dispatch_last;
        });
        // The event waited for may be the one that ends the loop.
        const bool came = bench_.Until([&] { return seen; }) || seen;
        bench_.OnEvent(nullptr);
        return came;
    }

    // Runs the loop, handing everything to the view, until `done` holds.
    bool RunUntil(const std::function<bool()>& done) { return bench_.Until(done); }

    // Runs the loop until the recording has taken in this much sound.
    bool RecordFor(double seconds)
    {
        const auto bytes = static_cast<int64_t>(seconds * kBytesPerSecond);
        return RunUntil([&] { return view()->wav->captured_bytes() >= bytes; });
    }

    // The bench's view of the moment.
    CRecorderView* view() { return &bench_.view(); }

    support::Bench bench_;
};

// The card stalls the new recording's file as it is made, and the user
// leaves at once: the run ends while the card still holds the file's start
// header, not when the card answers.
TEST_F(RunControl, ALeaveIsNotHeldUpByACardThatStallsTheNewFile)
{
    // The write probe is the first file made on the card, the recording the
    // second. The stall is far longer than a leave may take.
    sim::sdcard::AfterNextCreate(
        [] { sim::sdcard::AfterNextCreate([] { sim::sdcard::SetStall(10000, 0); }); });
    view()->OnKeyCommand(0, 18);
    ASSERT_TRUE(view()->recording.load());
    const std::string file = sim::Handheld::Instance().MapPath(view()->file_path);
    view()->OnKeyCommand(0, 14);
    EXPECT_TRUE(Loop([](const SDL_Event& e) { return IsUser(e, EVT_RECORD_EXIT); }));
    struct stat st {};
    EXPECT_EQ(::stat(file.c_str(), &st), 0) << file;
    EXPECT_EQ(st.st_size, 0) << "the leave waited for the card";
    sim::sdcard::SetStall(0, 0);
    EXPECT_TRUE(support::CardFilesClosed(std::chrono::seconds(30)));
}

struct TakeUpCase {
    const char* what;
    int start_code;
    int request_code;
    int final_event;
    bool playback;
    bool leaves;
};

// A request is taken up when the worker disables its button, which it does
// first on seeing it, before the run's final event. A stop puts the view
// back to idle by itself; a leave hands over to the main view, and the
// recorder starts afresh.
TEST_F(RunControl, StopAndExitRequestsAreTakenUpAndTheRunPutsTheViewBack)
{
    // The playbacks come first: each recording becomes the play target.
    const std::vector<TakeUpCase> cases = {
        {"stop a playback", 8, 8, EVT_PLAY_FINISHED, true, false},
        {"leave during a playback", 8, 14, EVT_PLAY_EXIT, true, true},
        {"stop a recording", 18, 9, EVT_RECORD_FINISHED, false, false},
        {"leave during a recording", 18, 14, EVT_RECORD_EXIT, false, true},
    };
    // Something to play: a recording of three seconds.
    view()->OnKeyCommand(0, 18);
    ASSERT_TRUE(RecordFor(3));
    view()->OnKeyCommand(0, 9);
    ASSERT_TRUE(Loop([](const SDL_Event& e) { return IsUser(e, EVT_RECORD_FINISHED); }, true));

    for (const TakeUpCase& c : cases) {
        SCOPED_TRACE(c.what);
        theApp.SetExitView("--view-apps");
        view()->OnKeyCommand(0, c.start_code);
        ASSERT_TRUE(c.playback ? view()->playing.load() : view()->recording.load());
        // Well under way: half a second of sound taken in, or played.
        ASSERT_TRUE(c.playback ? RunUntil([] {
            const sim::soundcard::DspStatus dsp = sim::soundcard::Dsp();
            return dsp.open && !dsp.capture && dsp.moved >= kBytesPerSecond / 2;
        })
                               : RecordFor(0.5));
        CMemButton* button = c.playback ? view()->play_button : view()->record_button;
        ASSERT_TRUE(button->IsEnabled());
        ASSERT_TRUE(c.playback ? view()->playing.load() : view()->recording.load());
        view()->OnKeyCommand(0, c.request_code);
        bool taken_up = false;
        ASSERT_TRUE(Loop(
            [&](const SDL_Event& e) {
                taken_up = taken_up || !button->IsEnabled();
                return IsUser(e, c.final_event);
            },
            true));
        EXPECT_TRUE(taken_up);
        // The worker's end is reaped, and the run leaves nothing behind.
        ASSERT_TRUE(RunUntil([&] { return view()->run.state() == RunState::kIdle; }));
        EXPECT_FALSE(view()->recording || view()->playing);
        EXPECT_FALSE(view()->stop_request || view()->exit_request);
        char exit_view[32] = "";
        if (c.leaves) {
            ASSERT_TRUE(bench_.UntilLeft());
            theApp.GetExitView(exit_view, sizeof exit_view);
            EXPECT_STREQ(exit_view, "--view-main");
            const std::string recorded = view()->file_path;
            NewView();
            std::snprintf(view()->file_path, sizeof view()->file_path, "%s", recorded.c_str());
            continue;
        }
        // Back to idle: every button is there to be pressed again.
        for (CMemButton* b : {view()->play_button, view()->record_button, view()->list_button})
            EXPECT_TRUE(b->IsEnabled());
        EXPECT_EQ(view()->play_button->frame, 0);
        EXPECT_EQ(view()->record_button->frame, 0);
        EXPECT_FALSE(bench_.left());
        theApp.GetExitView(exit_view, sizeof exit_view);
        EXPECT_STREQ(exit_view, "--view-apps");
    }
}

// Ends the process when the main thread does not come back from a call
// within the hung bound: a deadlock would otherwise hold the test for good.
class HangWatch {
public:
    explicit HangWatch(const char* what)
        : watch_([this, what] {
              std::unique_lock<std::mutex> hold(lock_);
              if (!returned_.wait_for(hold, support::kHung, [this] { return done_; })) {
                  std::fprintf(stderr, "%s hangs\n", what);
                  std::abort();
              }
          })
    {
    }
    ~HangWatch()
    {
        {
            std::lock_guard<std::mutex> hold(lock_);
            done_ = true;
        }
        returned_.notify_all();
        watch_.join();
    }

private:
    std::mutex lock_;
    std::condition_variable returned_;
    bool done_ = false;
    std::thread watch_;
};

// The worker's last act before closing is to wait for its disabled button
// to be drawn; once the loop has ended nobody draws, and teardown must not
// wait for ever on it.
TEST_F(RunControl, TeardownDuringARunEndsTheRunWithoutADraw)
{
    for (int code : {18, 8}) {
        view()->OnKeyCommand(0, code);
        // A second of sound to play back in the next round; that playback
        // well under way.
        ASSERT_TRUE(code == 18 ? RecordFor(1) : RunUntil([] {
            const sim::soundcard::DspStatus dsp = sim::soundcard::Dsp();
            return dsp.open && !dsp.capture && dsp.moved >= kBytesPerSecond / 4;
        }));
        ASSERT_TRUE(view()->recording || view()->playing) << code;
        const std::string recorded = view()->file_path;
        {
            const HangWatch watch("teardown during a run");
            view()->ExitInstance();
        }
        EXPECT_EQ(view()->record_thread, nullptr);
        EXPECT_EQ(view()->play_thread, nullptr);
        EXPECT_EQ(view()->wav, nullptr);
        NewView();
        // The recording that teardown finished is the next round's to play.
        std::snprintf(view()->file_path, sizeof view()->file_path, "%s", recorded.c_str());
    }
}

// A leave asked for just as a playback ends by itself finds no worker to
// take it up; it must still leave, and never outlive the run into the next.
TEST_F(RunControl, ALeaveNoWorkerTookUpLeavesInsteadOfOutlivingTheRun)
{
    view()->OnKeyCommand(0, 18);
    ASSERT_TRUE(RecordFor(0.5));
    view()->OnKeyCommand(0, 18);
    ASSERT_TRUE(Loop([](const SDL_Event& e) { return IsUser(e, EVT_RECORD_FINISHED); }, true));
    theApp.SetExitView("--view-apps");

    view()->OnKeyCommand(0, 8);
    ASSERT_TRUE(view()->playing.load());
    // The playback has ended, and its end is not handled yet: the view still
    // counts as playing, so code 14 asks the worker, which is gone.
    ASSERT_TRUE(Loop([](const SDL_Event& e) { return IsUser(e, EVT_PLAY_FINISHED); }));
    ASSERT_TRUE(view()->playing.load());
    view()->OnKeyCommand(0, 14);
    view()->OnUserEvent(EVT_PLAY_FINISHED, view(), nullptr);
    EXPECT_FALSE(view()->exit_request.load());
    EXPECT_EQ(view()->run.state(), RunState::kIdle);
    EXPECT_TRUE(Loop([](const SDL_Event& e) { return IsUser(e, EVT_QUIT_LOOP); }));
    char exit_view[32] = "";
    theApp.GetExitView(exit_view, sizeof exit_view);
    EXPECT_STREQ(exit_view, "--view-main");
}

// A recording whose DSP hangs in its fragment request is left behind by the
// leave. Its owner keeps the view it uses, and once the device lets go the
// worker ends its run on that view, never on freed memory.
TEST_F(RunControl, AWorkerLeftBehindEndsItsRunOnTheViewItsOwnerKept)
{
    using sim::faults::Device;
    sim::faults::Place({Device::kDsp, sim::faults::Action::kHang, "SETFRAGMENT", 0});
    view()->OnKeyCommand(0, 18);
    ASSERT_TRUE(support::Eventually([] { return sim::faults::Hung(Device::kDsp) == 1; }));
    view()->OnKeyCommand(0, 14);
    // Nobody answers the leave: it goes on without the worker.
    ASSERT_TRUE(Loop([](const SDL_Event& e) { return IsUser(e, EVT_QUIT_LOOP); }, true));
    // The application's owner ends it, as at the hand-over.
    CRecorderView* const own_view = theApp.view;
    theApp.view = bench_.Release();
    theApp.ExitInstance();
    CRecorderView* const kept = theApp.view;
    theApp.view = own_view;
    ASSERT_NE(kept, nullptr) << "the view went with its worker still at work";
    ASSERT_TRUE(kept->run.LeftBehindAtWork());
    sim::faults::Heal(Device::kDsp);
    EXPECT_TRUE(support::Eventually([&] { return !kept->run.LeftBehindAtWork(); }));
    delete kept;
}

// A playback whose file cannot be opened, or is no WAV, shows message 1,
// also when a notice is on (the failure's message replaces it), and its end
// leaves for the main view.
TEST_F(RunControl, APlaybackOfAnUnreadableFileShowsMessage1EvenOverANotice)
{
    const std::string root = getenv("HANDHELD_ROOT");
    const std::string junk = "/mnt/sd/music/rec/not-a-wav.wav";
    for (const char* folder : {"/mnt/sd/music", "/mnt/sd/music/rec"})
        ::mkdir((root + folder).c_str(), 0755);
    {
        FILE* file = std::fopen((root + junk).c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fputs("this is no sound", file);
        std::fclose(file);
    }
    struct Case {
        const char* what;
        const char* path;
        bool notice;
    };
    for (const Case& c : {Case{"no such file", "/mnt/sd/music/rec/gone.wav", false},
                          Case{"no WAV", junk.c_str(), false},
                          Case{"no WAV, under a notice", junk.c_str(), true}}) {
        theApp.SetExitView("--view-apps");
        if (c.notice)
            view()->msg_box->Show(MSG_LOW_BATTERY);
        std::snprintf(view()->file_path, sizeof view()->file_path, "%s", c.path);
        view()->OnKeyCommand(0, 8);
        ASSERT_TRUE(Loop([](const SDL_Event& e) { return IsUser(e, EVT_WORKER_ENDED); })) << c.what;
        view()->OnUserEvent(EVT_WORKER_ENDED, view(), nullptr);
        EXPECT_EQ(view()->msg_box->msg_index, MSG_PLAY_FAILED) << c.what;
        EXPECT_TRUE(view()->msg_box->visible.load()) << c.what;
        EXPECT_EQ(view()->run.state(), RunState::kIdle) << c.what;
        EXPECT_TRUE(Loop([](const SDL_Event& e) { return IsUser(e, EVT_QUIT_LOOP); })) << c.what;
        char exit_view[32] = "";
        theApp.GetExitView(exit_view, sizeof exit_view);
        EXPECT_STREQ(exit_view, "--view-main") << c.what;
        // A fresh view for the next case, as after a new start.
        NewView();
    }
    std::remove((root + junk).c_str());
}

}  // namespace
