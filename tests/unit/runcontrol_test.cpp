// Recording and playback driven in-process, with the main thread's loop in
// the test: how fast a stop or exit request is taken up, and that teardown
// never waits on a worker that waits on a draw.

#include <SDL.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "app/mainmenuapp.h"
#include "app/userevent.h"
#include "sim/sdcard.h"
#include "tests/support/wait.h"
#include "ui/imagebutton.h"
#include "ui/msgbox.h"
#include "view/recorderview.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class RunControl : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER), 0) << SDL_GetError();
        ASSERT_NE(SDL_SetVideoMode(320, 240, 24, 0), nullptr);
        view_ = new CRecorderView();
        ASSERT_EQ(view_->Initialize(), 1);
    }
    void TearDown() override
    {
        if (view_) {
            view_->ExitInstance();
            delete view_;
        }
        SDL_Quit();
    }

    // The main thread's part: hands the view its events until `until` says
    // the event ends the run, or the time is up. False on a timeout.
    bool Loop(const std::function<bool(const SDL_Event&)>& until, int timeout_ms = 10000)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
        SDL_Event event;
        while (Clock::now() < deadline) {
            if (!TakeUserEvent(&event)) {
                SDL_Delay(1);
                continue;
            }
            if (until(event))
                return true;
            if (event.type == SDL_USEREVENT && event.user.code != EVT_QUIT_LOOP)
                DispatchEventTo(*view_, event);
        }
        return false;
    }

    // Runs the loop for a while, handing everything to the view.
    void RunFor(int ms)
    {
        Loop([](const SDL_Event&) { return false; }, ms);
    }

    CRecorderView* view_ = nullptr;
};

// The card stalls the new recording's file as it is made, and the user
// leaves at once: the run ends within about a second, not when the card
// answers.
TEST_F(RunControl, ALeaveIsNotHeldUpByACardThatStallsTheNewFile)
{
    // The write probe is the first file made on the card, the recording the
    // second.
    sim::sdcard::AfterNextCreate(
        [] { sim::sdcard::AfterNextCreate([] { sim::sdcard::SetStall(6000, 0); }); });
    view_->OnKeyCommand(0, 18);
    ASSERT_TRUE(view_->recording.load());
    const auto asked = Clock::now();
    view_->OnKeyCommand(0, 14);
    EXPECT_TRUE(Loop(
        [](const SDL_Event& e) {
            return e.type == SDL_USEREVENT && e.user.code == EVT_RECORD_EXIT;
        },
        5000));
    EXPECT_LT(MsSince(asked), 1500);
    sim::sdcard::SetStall(0, 0);
    EXPECT_TRUE(support::CardFilesClosed());
}

struct TakeUpCase {
    const char* what;
    int start_code;
    int request_code;
    int final_event;
    bool playback;
};

// A request is taken up when the worker disables its button, which it does
// first on seeing it.
TEST_F(RunControl, StopAndExitRequestsAreTakenUpWithin50Ms)
{
    // The playbacks come first: each recording becomes the play target.
    const std::vector<TakeUpCase> cases = {
        {"stop a playback", 8, 8, EVT_PLAY_FINISHED, true},
        {"leave during a playback", 8, 14, EVT_PLAY_EXIT, true},
        {"stop a recording", 18, 9, EVT_RECORD_FINISHED, false},
        {"leave during a recording", 18, 14, EVT_RECORD_EXIT, false},
    };
    // Something to play: a recording of three seconds.
    view_->OnKeyCommand(0, 18);
    RunFor(3000);
    view_->OnKeyCommand(0, 9);
    ASSERT_TRUE(Loop([](const SDL_Event& e) {
        return e.type == SDL_USEREVENT && e.user.code == EVT_RECORD_FINISHED;
    }));
    view_->OnUserEvent(EVT_RECORD_FINISHED, view_, nullptr);

    for (const TakeUpCase& c : cases) {
        view_->OnKeyCommand(0, c.start_code);
        ASSERT_TRUE(c.playback ? view_->playing.load() : view_->recording.load()) << c.what;
        RunFor(600);
        CMemButton* button = c.playback ? view_->play_button : view_->record_button;
        ASSERT_TRUE(button->IsEnabled()) << c.what;
        ASSERT_TRUE(c.playback ? view_->playing.load() : view_->recording.load()) << c.what;
        const auto asked = Clock::now();
        view_->OnKeyCommand(0, c.request_code);
        double taken_up_ms = -1;
        bool ended = Loop([&](const SDL_Event& e) {
            if (taken_up_ms < 0 && !button->IsEnabled())
                taken_up_ms = MsSince(asked);
            return e.type == SDL_USEREVENT && e.user.code == c.final_event;
        });
        ASSERT_TRUE(ended) << c.what;
        EXPECT_GE(taken_up_ms, 0) << c.what;
        EXPECT_LT(taken_up_ms, 50) << c.what;
        // The final event is posted once the file and the devices are closed.
        const double closed_ms = MsSince(asked);
        RecordProperty(c.what, std::to_string(taken_up_ms));
        std::printf("%s: taken up in %.1f ms, run closed in %.1f ms\n", c.what, taken_up_ms,
                    closed_ms);
        // The worker's end is reaped, and the run leaves nothing behind. (An
        // exit would leave the application; the test stays for the next case.)
        ASSERT_TRUE(Loop([](const SDL_Event& e) {
            return e.type == SDL_USEREVENT && e.user.code == EVT_WORKER_ENDED;
        }));
        view_->OnUserEvent(EVT_WORKER_ENDED, view_, nullptr);
        view_->ResetAfterRecord();
        view_->ResetAfterPlay();
        ASSERT_FALSE(view_->recording || view_->playing) << c.what;
        ASSERT_FALSE(view_->stop_request || view_->exit_request) << c.what;
        ASSERT_EQ(view_->run.state(), RunState::kIdle) << c.what;
    }
}

// The worker's last act before closing is to wait for its disabled button
// to be drawn; once the loop has ended nobody draws, and teardown must not
// wait for ever on it.
TEST_F(RunControl, TeardownDuringARunEndsTheRunWithoutADraw)
{
    for (int code : {18, 8}) {
        view_->OnKeyCommand(0, code);
        // Long enough for a second of sound to play back in the next round.
        RunFor(code == 18 ? 1500 : 300);
        ASSERT_TRUE(view_->recording || view_->playing) << code;
        const std::string recorded = view_->file_path;
        const auto asked = Clock::now();
        view_->ExitInstance();
        EXPECT_LT(MsSince(asked), 1000) << code;
        EXPECT_EQ(view_->record_thread, nullptr);
        EXPECT_EQ(view_->play_thread, nullptr);
        EXPECT_EQ(view_->wav, nullptr);
        delete view_;
        // What the old view's worker posted is not the new view's business.
        DiscardUserEvents();
        view_ = new CRecorderView();
        ASSERT_EQ(view_->Initialize(), 1);
        // The recording that teardown finished is the next round's to play.
        std::snprintf(view_->file_path, sizeof view_->file_path, "%s", recorded.c_str());
    }
}

// A leave asked for just as a playback ends by itself finds no worker to
// take it up; it must still leave, and never outlive the run into the next.
TEST_F(RunControl, ALeaveNoWorkerTookUpLeavesInsteadOfOutlivingTheRun)
{
    view_->OnKeyCommand(0, 18);
    RunFor(600);
    view_->OnKeyCommand(0, 18);
    ASSERT_TRUE(Loop([](const SDL_Event& e) {
        return e.type == SDL_USEREVENT && e.user.code == EVT_RECORD_FINISHED;
    }));
    view_->OnUserEvent(EVT_RECORD_FINISHED, view_, nullptr);
    theApp.SetExitView("--view-apps");

    view_->OnKeyCommand(0, 8);
    ASSERT_TRUE(view_->playing.load());
    // The playback has ended, and its end is not handled yet: the view still
    // counts as playing, so code 14 asks the worker, which is gone.
    ASSERT_TRUE(Loop([](const SDL_Event& e) {
        return e.type == SDL_USEREVENT && e.user.code == EVT_PLAY_FINISHED;
    }));
    ASSERT_TRUE(view_->playing.load());
    view_->OnKeyCommand(0, 14);
    view_->OnUserEvent(EVT_PLAY_FINISHED, view_, nullptr);
    EXPECT_FALSE(view_->exit_request.load());
    EXPECT_EQ(view_->run.state(), RunState::kIdle);
    EXPECT_TRUE(Loop(
        [](const SDL_Event& e) { return e.type == SDL_USEREVENT && e.user.code == EVT_QUIT_LOOP; },
        1000));
    char exit_view[32] = "";
    theApp.GetExitView(exit_view, sizeof exit_view);
    EXPECT_STREQ(exit_view, "--view-main");
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
            view_->msg_box->Show(MSG_LOW_BATTERY);
        std::snprintf(view_->file_path, sizeof view_->file_path, "%s", c.path);
        view_->OnKeyCommand(0, 8);
        ASSERT_TRUE(Loop([](const SDL_Event& e) {
            return e.type == SDL_USEREVENT && e.user.code == EVT_WORKER_ENDED;
        })) << c.what;
        view_->OnUserEvent(EVT_WORKER_ENDED, view_, nullptr);
        EXPECT_EQ(view_->msg_box->msg_index, MSG_PLAY_FAILED) << c.what;
        EXPECT_TRUE(view_->msg_box->visible.load()) << c.what;
        EXPECT_EQ(view_->run.state(), RunState::kIdle) << c.what;
        EXPECT_TRUE(Loop(
            [](const SDL_Event& e) {
                return e.type == SDL_USEREVENT && e.user.code == EVT_QUIT_LOOP;
            },
            6000))
            << c.what;
        char exit_view[32] = "";
        theApp.GetExitView(exit_view, sizeof exit_view);
        EXPECT_STREQ(exit_view, "--view-main") << c.what;
        // A fresh view for the next case, as after a new start.
        view_->ExitInstance();
        delete view_;
        DiscardUserEvents();
        view_ = new CRecorderView();
        ASSERT_EQ(view_->Initialize(), 1);
    }
    std::remove((root + junk).c_str());
}

}  // namespace
