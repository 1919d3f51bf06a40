// A hang and a failure placed at every call the simulator can fault, on the
// real program, through the life of a recorder: a recording started and
// stopped, its playback, a second recording left by the leave key; and a
// recording whose card is pulled. Whatever the call and whichever thread
// meets it, what must hold holds:
//  - the recorder hands over to the menu program once, by itself, with
//    nothing of its own left open, and without a sanitizer's report;
//  - every recording kept on the card is in the recorder's format, and its
//    header declares no more than it holds, in whole frames, of an unbroken
//    counter run.
// The lists of devices and calls are the simulator's own, so a call it
// learns to fault is swept from then on.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "sim/faultcalls.h"
#include "tests/e2e/checks.h"
#include "tests/e2e/harness.h"

namespace {

using e2e::Handheld;
using e2e::Scenario;
using sim::faults::Device;

enum class Life { kRecordPlayLeave, kCardPulled };

struct Sweep {
    Device device;
    std::string call;
    bool hang;  // else a failure
    Life life;
};

std::vector<Sweep> EveryCall()
{
    std::vector<Sweep> sweeps;
    for (const Life life : {Life::kRecordPlayLeave, Life::kCardPulled})
        for (const Device device : sim::faults::kDevices)
            for (const std::string& call : sim::faults::Calls(device))
                for (const bool hang : {true, false})
                    sweeps.push_back({device, call, hang, life});
    return sweeps;
}

std::string FaultLine(const Sweep& s)
{
    return std::string(sim::faults::NameOf(s.device)) + (s.hang ? " hang at " : " fail at ") +
           s.call;
}

// The fault is armed before the first run, so it meets the first such call
// wherever it comes; for a pulled card, just before the card goes, so it
// meets the recording's next call, or its close.
std::string LifeOf(const Sweep& s)
{
    Scenario scenario;
    if (s.life == Life::kRecordPlayLeave) {
        scenario.At(100, FaultLine(s))
            .Tap(300, "key down")
            .Tap(1300, "key down")
            .Tap(1800, "key backspace")
            .Tap(3200, "key down")
            .Tap(3800, "key kp_plus")
            .Tap(5000, "key kp_plus")
            .At(6500, "quit");
    } else {
        scenario.Tap(300, "key down")
            .At(1000, FaultLine(s))
            .At(1100, "card out")
            .Tap(3000, "key kp_plus")
            .At(4500, "quit");
    }
    return scenario.Text();
}

// Every recording on the card: its header tells no more than the card holds.
::testing::AssertionResult RecordingsAreTrue(const Handheld& handheld)
{
    for (const std::string& name : handheld.List(e2e::kRecordFolder)) {
        const std::string fault =
            support::RecordingFault(handheld.Path(e2e::RecordPath(name)), support::kAnyLag);
        if (!fault.empty())
            return ::testing::AssertionFailure() << fault;
    }
    return ::testing::AssertionSuccess();
}

class SweepTest : public ::testing::TestWithParam<Sweep> {};

void PrintTo(const Sweep& s, std::ostream* out)
{
    *out << FaultLine(s) << (s.life == Life::kCardPulled ? ", card pulled" : "");
}

TEST_P(SweepTest, TheRecorderHandsOverAndEveryRecordingIsTrue)
{
    const Sweep& s = GetParam();
    Handheld handheld;
    const e2e::Run run = handheld.Start(LifeOf(s), 60, {{"HANDHELD_MIC", "counter"}});
    EXPECT_TRUE(e2e::EndedWith(run, handheld, "")) << FaultLine(s);
    EXPECT_TRUE(RecordingsAreTrue(handheld)) << FaultLine(s) << "\n" << run.out;
}

INSTANTIATE_TEST_SUITE_P(EveryCall, SweepTest, ::testing::ValuesIn(EveryCall()),
                         [](const ::testing::TestParamInfo<Sweep>& info) {
                             const Sweep& s = info.param;
                             std::string name = s.life == Life::kCardPulled ? "CardPulled_" : "";
                             name += sim::faults::NameOf(s.device);
                             name += s.hang ? "_hang_" : "_fail_";
                             return name + s.call;
                         });

}  // namespace
