// Recordings that a slow card, a power cut or a sound server's OSS emulation
// must not spoil, on the real program.

#include <gtest/gtest.h>
#include <signal.h>

#include <map>
#include <string>

#include "tests/e2e/checks.h"
#include "tests/e2e/harness.h"
#include "tests/support/recording.h"

namespace {

using e2e::Handheld;
using e2e::Scenario;

using e2e::kCounterMic;

support::Wav OnlyRecording(const Handheld& handheld, const e2e::Run& run)
{
    const std::vector<std::string> names = handheld.List(e2e::kRecordFolder);
    EXPECT_EQ(names.size(), 1u) << run.out;
    if (names.empty())
        return {};
    return support::ReadWav(handheld.Path(e2e::RecordPath(names[0])));
}

// Stops and stalls in either order: the file ends with every sample
// captured before the stop, and the recorder is back at once.
struct StallCase {
    const char* name;
    long stall_at;
    long stall_ms;
    long stop_at;
    long leave_at;
};

void PrintTo(const StallCase& c, std::ostream* out)
{
    *out << c.name;
}

class StallTest : public ::testing::TestWithParam<StallCase> {};

TEST_P(StallTest, TheRecordingEndsWholeAndTheRecorderGoesOn)
{
    const StallCase& c = GetParam();
    Handheld handheld;
    // Records from about 350 ms.
    const std::string scenario = Scenario()
                                     .Tap(300, "key down")
                                     .At(c.stall_at, "card stall " + std::to_string(c.stall_ms))
                                     .Tap(c.stop_at - 50, "key down")
                                     .Tap(c.leave_at, "key kp_plus")
                                     .At(c.leave_at + 8000, "shot late.bmp")
                                     .At(c.leave_at + 9000, "quit")
                                     .Text();
    const e2e::Run run = handheld.Start(scenario, 30, kCounterMic);
    ASSERT_TRUE(e2e::EndedWith(run, handheld, "--view-main"));
    const support::Wav wav = OnlyRecording(handheld, run);
    EXPECT_TRUE(e2e::IsCounterRecording(wav));
    const std::string stop = "scenario at " + std::to_string(c.stop_at - 50) + " ms: key down down";
    EXPECT_TRUE(e2e::HoldsItsCapture(run, wav, 0, stop));
    // Sound is taken in from the press, whatever the card does meanwhile.
    EXPECT_GT(e2e::CaptureReadAt(run, stop), 0) << run.out;
    EXPECT_EQ(run.Count("(Record) Write sound data=" + std::to_string(wav.data.size())), 1)
        << run.out;
    // The stop was taken up, and the recorder left, whatever the card did.
    EXPECT_EQ(
        e2e::MissingInOrder(run.Messages(), {"(Record) Pressed stop button & soundcard closed...",
                                             "exit code(--view-main) !!"}),
        "")
        << run.out;
    EXPECT_FALSE(e2e::Exists(handheld.Path("/sim/late.bmp")));
}

INSTANTIATE_TEST_SUITE_P(
    Card, StallTest,
    ::testing::Values(StallCase{"StopDuringAStall", 1500, 2500, 2500, 5000},
                      StallCase{"StallDuringTheStop", 2480, 2500, 2500, 5500},
                      StallCase{"StallLongBeforeTheStop", 800, 2500, 4500, 5000},
                      // The card is new: its folder is still to be made.
                      StallCase{"StopDuringAStallFromThePress", 250, 2500, 2000, 5000},
                      // Leaving waits a moment for the card.
                      StallCase{"LeaveDuringAStall", 1500, 1500, 2500, 2600}),
    [](const auto& info) { return std::string(info.param.name); });

// The power goes while recording, in a stall or not: the process dies and
// the card keeps a valid file that declares no more than it holds and at
// most a second less than was recorded.
TEST(PowerCut, LeavesAValidRecordingShortByLessThanASecond)
{
    struct Case {
        const char* name;
        long stall_at;  // 0: no stall
        long cut_at;
    };
    for (const Case& c : {Case{"recording", 0, 2600}, Case{"in a stall", 2000, 2900}}) {
        SCOPED_TRACE(c.name);
        Handheld handheld;
        Scenario scenario;
        scenario.Tap(300, "key down").At(c.cut_at, "power cut").At(9000, "quit");
        if (c.stall_at)
            scenario.At(c.stall_at, "card stall 2000");
        const e2e::Run run = handheld.Start(scenario.Text(), 30, kCounterMic);
        ASSERT_EQ(run.signal, SIGKILL) << run.out << run.err;
        const support::Wav wav = OnlyRecording(handheld, run);
        ASSERT_EQ(wav.error, "");
        EXPECT_EQ(wav.data.size() % 4, 0u);
        EXPECT_LE(wav.data_size, wav.data.size());
        EXPECT_EQ(support::CounterBreak(wav.data), "");
        // At most a second of what the card had been given goes: given by
        // the cut, or, in a stall, by the stall's start.
        const long long given =
            e2e::CaptureReadAt(run, c.stall_at ? "card stall 2000" : "power cut");
        EXPECT_GT(given, 88200) << run.out;
        EXPECT_GT(static_cast<long long>(wav.data_size), given - 88200);
    }
}

// A sound server's OSS emulation delivers in lumps, answers a block size of
// 0 and keeps little for a reader that does not ask for fragments: the
// recording holds every frame all the same.
TEST(EmulatedOss, RecordingHoldsEveryFrame)
{
    Handheld handheld;
    const std::string scenario = Scenario()
                                     .At(0, "oss emulated")
                                     .Tap(300, "key down")   // records from 350
                                     .Tap(3300, "key down")  // stops at 3350: 3 s
                                     .Tap(3800, "key kp_plus")
                                     .At(10000, "quit")
                                     .Text();
    const e2e::Run run = handheld.Start(scenario, 30, kCounterMic);
    ASSERT_TRUE(e2e::EndedWith(run, handheld, "--view-main"));
    const support::Wav wav = OnlyRecording(handheld, run);
    EXPECT_TRUE(e2e::IsCounterRecording(wav));
    // All it was handed up to the stop; the emulation's last lump was not.
    EXPECT_TRUE(e2e::HoldsItsCapture(run, wav, 0, "scenario at 3300 ms: key down down"));
}

}  // namespace
