// A card that stalls or fills, on the real program: the screen and
// the buttons answer meanwhile, a stop is a stop, a play waits for the file
// it plays, and every file left is whole frames under a header that says so.
// When things happen is read from the log against the scenario's clock: the
// simulator writes each command into the log as it acts, so "before the
// stall ended" is an order of lines, which no load on the machine changes.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/checks.h"
#include "tests/e2e/harness.h"
#include "tests/support/recording.h"

namespace {

using e2e::Handheld;
using e2e::Scenario;

// Keys: record (and its stop), play (and its stop), back to the menu.
constexpr const char* kRecord = "key down";
constexpr const char* kPlay = "key backspace";
constexpr const char* kBack = "key tab";

struct Stall {
    const char* name;
    std::function<void(Scenario&)> steps;
    const char* view;              // the hand-off
    std::vector<std::string> log;  // in this order; a '*' at the end stands for the rest
    const char* absent;            // a line the log must not have; null: none
    bool played_whole;             // the playback read all the sound of the last file
};

const Stall kStalls[] = {
    // A press 0.5 s into a stall starts at once, and its stop is taken up:
    // both before the stall ends. (The first recording makes the folder.)
    {"RecordPressDuringAStall",
     [](Scenario& s) {
         s.Tap(200, kRecord).Tap(1200, kRecord).At(1500, "card stall 30000");
         s.Tap(2000, kRecord).Tap(3500, kRecord).At(7500, "card stall 0");
         s.Tap(8000, kPlay).Tap(11000, kBack);
     },
     "--view-apps",
     {"scenario at 1500 ms: card stall 30000", "(Record) RecordStart(*",
      "(Record) Pressed stop button & soundcard closed...", "(Record) RecordStop...",
      "scenario at 7500 ms: card stall 0", "(Play) PlayStart...",
      "(Play) Finished the song & soundcard closed..."},
     nullptr,
     true},
    // A playback stopped during a stall ends at once, and the next
    // recording starts and stops while the stall goes on.
    {"PlaybackStopDuringAStall",
     [](Scenario& s) {
         // The stall comes once the stopped recording's file is ended, with
         // room for a loaded machine.
         s.Tap(200, kRecord).Tap(1700, kRecord).At(3200, "card stall 30000");
         s.Tap(3600, kPlay).Tap(4100, kPlay).Tap(4800, kRecord).Tap(5800, kRecord);
         s.At(9000, "card stall 0").Tap(10000, kBack);
     },
     "--view-apps",
     {"(Play) PlayStart...", "(Play) Pressed stop button & soundcard closing...",
      "(Play) PlayStop...", "(Record) RecordStart(*",
      "(Record) Pressed stop button & soundcard closed...", "(Record) RecordStop...",
      "scenario at 9000 ms: card stall 0"},
     "OnRecordStart Skip(4)...",
     false},
    // The recording stops while the card stalls, and the writer is still
    // ending its file when play is pressed: the play waits for it, then
    // plays all of it.
    {"PlayRightAfterAStopInAStall",
     [](Scenario& s) {
         s.Tap(200, kRecord).At(2500, "card stall 30000").Tap(2700, kRecord);
         s.Tap(4000, kPlay).At(6000, "card stall 0").Tap(9000, kBack);
     },
     "--view-apps",
     {"(Record) RecordStop...", "(Play) The recording is still being written: the play waits...",
      "scenario at 6000 ms: card stall 0", "(Play) PlayStart...",
      "(Play) Finished the song & soundcard closed..."},
     nullptr,
     true},
    // Room for the probe, the header and 98,290 bytes of sound: the card
    // takes half of the last frame, which the file must not keep.
    {"CardFillsInTheMiddleOfAFrame",
     [](Scenario& s) { s.At(0, "card free 98355").Tap(200, kRecord); },
     "--view-main",
     {"(Record) RecordStart(*", "(Record) Write abort..."},
     nullptr,
     false},
    // Room for the probe and the header only: the first sound fails, and
    // no file of a bare header is left.
    {"CardFullBeforeTheFirstSound",
     [](Scenario& s) { s.At(0, "card free 65").Tap(200, kRecord); },
     "--view-main",
     {"(Record) RecordStart(*", "unlink file(*", "(Record) Write abort..."},
     nullptr,
     false},
};

class SlowCardTest : public ::testing::TestWithParam<Stall> {};

void PrintTo(const Stall& stall, std::ostream* out)
{
    *out << stall.name;
}

// The sound bytes a playback read, from its count line; -1 without one.
long PlayedBytes(const e2e::Run& run)
{
    const std::string head = "(Play) Read sound data=";
    for (const std::string& message : run.Messages())
        if (message.rfind(head, 0) == 0)
            return std::stol(message.substr(head.size()));
    return -1;
}

TEST_P(SlowCardTest, AnswersAtOnceAndLeavesWholeFiles)
{
    const Stall& s = GetParam();
    Handheld handheld;
    Scenario scenario;
    s.steps(scenario);
    const e2e::Run run =
        handheld.Start(scenario.Text(), 60, {{"HANDHELD_MIC", "counter"}, {"HANDHELD_TRACE", "1"}});
    ASSERT_TRUE(e2e::EndedWith(run, handheld, s.view)) << run.out;
    EXPECT_EQ(e2e::MissingInOrder(run.Messages(), s.log), "") << run.out;
    if (s.absent) {
        EXPECT_EQ(run.Count(s.absent), 0) << run.out;
    }
    // Named from the clock: the last name is the last recording.
    const std::vector<std::string> names = handheld.List(e2e::kRecordFolder);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const support::Wav wav = support::ReadWav(handheld.Path(e2e::RecordPath(name)));
        EXPECT_TRUE(e2e::IsCounterRecording(wav));
        EXPECT_TRUE(wav.EndedWhole()) << wav.file_size << " bytes declare " << wav.data_size;
        if (s.played_whole && name == names.back()) {
            EXPECT_EQ(PlayedBytes(run), static_cast<long>(wav.data_size)) << run.out;
        }
    }
    if (s.played_whole) {
        EXPECT_FALSE(names.empty()) << "a playback read a file that is not there\n" << run.out;
    }
}

INSTANTIATE_TEST_SUITE_P(Card, SlowCardTest, ::testing::ValuesIn(kStalls),
                         [](const ::testing::TestParamInfo<Stall>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
