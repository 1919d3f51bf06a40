// A device hung in one call of a run's start, on the real program: whatever
// the call, and whichever thread makes it, the user can stop and leave, a
// pulled card sends the recorder back to the menu, and the recorder hands
// over with nothing of its own left open.

#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/checks.h"
#include "tests/e2e/harness.h"

namespace {

using e2e::Handheld;
using e2e::Scenario;

struct HungCall {
    const char* name;
    bool playback;       // else a recording
    const char* device;  // hung at its next `call`, placed at `placed`
    const char* call;
    long placed;
    const char* then;  // what the user, or the card, does while it hangs
    const char* view;  // the hand-over
    // A second call hung from the start, the device's kind, and how much
    // later than usual `then` and all after it come.
    const char* also = nullptr;
    const char* oss = "native";
    long later = 0;
};

// A recording of 1 s from 200 ms is made first for a playback, which starts
// at 2500 ms, well after that recording's run has ended even on a loaded
// machine; a recording starts at 2500 ms too. The fault is placed
// just before the start (2400) or while the playback plays (2900); at
// 3500 comes `then`, after a tick of the status monitor has seen the run
// on, and the user presses stop and leaves after it, for those that are
// still there.
const HungCall kHungCalls[] = {
    {"PlaybackInItsFormatRequest", true, "dsp", "SPEED", 2400, "key backspace", "--view-apps"},
    {"PlaybackInItsFragmentAnswer", true, "dsp", "GETBLKSIZE", 2400, "key tab", "--view-apps"},
    {"PlaybackInTheFilesRead", true, "card", "read", 2400, "key backspace", "--view-apps"},
    {"PlaybackInAReadOfItsSound", true, "card", "read", 2900, "key backspace", "--view-apps"},
    {"PlaybackInAFragmentAnswerWhilePlaying", true, "dsp", "GETBLKSIZE", 2900, "key backspace",
     "--view-apps"},
    {"PlaybackInItsCloseAndTheUserLeaves", true, "dsp", "close", 2400, "key kp_plus",
     "--view-main"},
    // The song's end is played out with a sync; a stop must not ask the
    // device anything from the main thread, which would hang with it.
    {"PlaybackInTheSyncOfADeviceThatCannotTellItsDelay", true, "dsp", "SYNC", 2400, "key backspace",
     "--view-apps", "RESET", "sync-only", 1500},
    {"RecordingInItsFragmentRequestAndTheCardPulled", false, "dsp", "SETFRAGMENT", 2400, "card out",
     "--view-main"},
    {"RecordingInItsCloseAndTheCardPulled", false, "dsp", "close", 2400, "card out", "--view-main"},
    {"RecordingInItsMixerAndTheUserLeaves", false, "mixer", "WRITE_MIC", 2400, "key kp_plus",
     "--view-main"},
    // The status monitor's tick, on SDL's timer thread, hangs in the GPIO
    // driver at its next look at HOLD: nothing else may wait for it.
    {"StatusInItsLookAtHoldAndTheUserLeaves", false, "gpio", "HOLD", 2400, "key kp_plus",
     "--view-main"},
};

class HungCallTest : public ::testing::TestWithParam<HungCall> {};

void PrintTo(const HungCall& c, std::ostream* out)
{
    *out << c.name;
}

TEST_P(HungCallTest, TheUserCanStillStopAndLeave)
{
    const HungCall& c = GetParam();
    Handheld handheld;
    Scenario scenario;
    scenario.At(0, std::string("oss ") + c.oss);
    if (c.playback)
        scenario.Tap(200, "key down").Tap(1200, "key down");
    const std::string device = c.device, call = c.call;
    scenario.At(c.placed, device + " hang at " + call)
        .Tap(2500, c.playback ? "key backspace" : "key down");
    if (c.also)
        scenario.At(c.placed, device + " hang at " + c.also);
    const std::string then = c.then;
    if (then.rfind("key ", 0) == 0)
        scenario.Tap(3500 + c.later, then);
    else
        scenario.At(3500 + c.later, then);
    scenario.Tap(4200 + c.later, "key tab")
        .Tap(4900 + c.later, "key tab")
        .At(6400 + c.later, "quit");
    const e2e::Run run = handheld.Start(scenario.Text(), 60, {{"HANDHELD_MIC", "counter"}});
    // The fault was met: the run did hang where it was placed.
    EXPECT_EQ(run.Count("fault: " + device + " hangs at " + call), 1) << run.out;
    ASSERT_TRUE(e2e::EndedWith(run, handheld, c.view)) << run.out;
}

INSTANTIATE_TEST_SUITE_P(HungCalls, HungCallTest, ::testing::ValuesIn(kHungCalls),
                         [](const ::testing::TestParamInfo<HungCall>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
