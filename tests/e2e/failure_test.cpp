// A sound device that fails or hangs, and a card slower than the recording's
// buffer, on the real program: each is a failure on the screen and in the
// log, never a run that pretends to go on or to have played; every file
// declares what it holds; and the user can always leave.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/checks.h"
#include "tests/e2e/harness.h"
#include "tests/support/recording.h"

namespace {

using e2e::Handheld;
using e2e::Scenario;

// When the fault comes: a recording runs from 200 ms; a playback of the
// 1.5 s recorded before it runs from 3000 ms, once a loaded machine too has
// ended the recording's run (a play pressed before is refused).
constexpr long kRecordingFault = 1500;
constexpr long kPlaybackFault = 3400;

struct Fault {
    const char* name;
    bool playback;
    const char* fault;
    // What the user does once the fault has come (ms after it; 0: nothing),
    // and when the screen is looked at.
    long leave_after;
    long shot_after;
    int message;                   // on the screen then; -1 none
    const char* view;              // the hand-off
    std::vector<std::string> log;  // in this order; a '*' at the end stands for the rest
    const char* absent;            // a line the log must not have
};

const Fault kFaults[] = {
    {"RecordingDeviceFails",
     false,
     "dsp fail",
     0,
     700,
     0,
     "--view-main",
     {"(Record) The soundcard failed: Input/output error", "(Record) Write abort..."},
     nullptr},
    // The capture is left in the device's call; the file is ended without it.
    {"RecordingDeviceHangsAndTheUserLeaves",
     false,
     "dsp hang",
     500,
     300,
     -1,
     "--view-main",
     {"(Record) Exit to mainApp..."},
     nullptr},
    // A device that stops giving sound is a failure after 2 s of none, not a
    // take that counts on over a file that no longer grows.
    {"RecordingDeviceHangs",
     false,
     "dsp hang",
     0,
     3000,
     0,
     "--view-main",
     {"(Record) The soundcard gave no sound for 2 s.", "(Record) Write abort..."},
     "(Record) Pressed stop button & soundcard closed..."},
    // The buffer holds 10 s: it is full about 10 s into the stall.
    {"RecordingCardStallsLongerThanTheBuffer",
     false,
     "card stall 14000",
     0,
     11000,
     0,
     "--view-main",
     {"(Record) The card is too slow: the buffer is full, and the recording ends at *",
      "(Record) Write abort..."},
     nullptr},
    {"PlaybackDeviceFails",
     true,
     "dsp fail",
     0,
     700,
     1,
     "--view-main",
     {"(Play) PlayStart...", "(Play) The soundcard failed & soundcard closed..."},
     "(Play) Finished the song & soundcard closed..."},
    {"PlaybackDeviceHangsAndTheUserLeaves",
     true,
     "dsp hang",
     400,
     300,
     -1,
     "--view-main",
     {"(Play) PlayStart...", "The soundcard does not answer: exit to mainApp..."},
     "(Play) Finished the song & soundcard closed..."},
    // Playback reads the card, which a stall of writes does not hold up.
    {"PlaybackCardStallsLongerThanTheBuffer",
     true,
     "card stall 14000",
     0,
     300,
     -1,
     "--view-apps",
     {"(Play) Finished the song & soundcard closed...", "(Play) PlayStop..."},
     nullptr},
};

class FailureTest : public ::testing::TestWithParam<Fault> {};

void PrintTo(const Fault& fault, std::ostream* out)
{
    *out << fault.name;
}

TEST_P(FailureTest, IsAFailureOnTheScreenAndInTheFileAndTheUserCanLeave)
{
    const Fault& f = GetParam();
    Handheld handheld;
    Scenario scenario;
    const long at = f.playback ? kPlaybackFault : kRecordingFault;
    scenario.Tap(200, "key down");
    if (f.playback)
        scenario.Tap(1700, "key down").Tap(3000, "key backspace");
    scenario.At(at, f.fault).At(at + f.shot_after, "shot fault.bmp");
    if (f.leave_after)
        scenario.Tap(at + f.leave_after, "key kp_plus");
    // A run the fault did not end is stopped by hand, and the recorder left
    // (a stall of 14 s has ended by then).
    scenario.Tap(at + 19000, "key tab").Tap(at + 21000, "key tab");
    const e2e::Run run = handheld.Start(scenario.Text(), 60, {{"HANDHELD_MIC", "counter"}});
    ASSERT_TRUE(e2e::EndedWith(run, handheld, f.view));
    EXPECT_EQ(e2e::MessageOnShot(handheld, "fault.bmp"), f.message);
    EXPECT_EQ(e2e::MissingInOrder(run.Messages(), f.log), "") << run.out;
    if (f.absent) {
        EXPECT_EQ(run.Count(f.absent), 0) << run.out;
    }
    const std::vector<std::string> names = handheld.List(e2e::kRecordFolder);
    ASSERT_FALSE(names.empty());
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const support::Wav wav = support::ReadWav(handheld.Path(e2e::RecordPath(name)));
        EXPECT_TRUE(e2e::IsCounterRecording(wav));
        EXPECT_TRUE(wav.HeaderMatchesFile())
            << wav.data_size << " declared, " << wav.data.size() << " held";
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, FailureTest, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
