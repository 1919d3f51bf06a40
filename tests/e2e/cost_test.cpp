// What a recording costs the handheld's devices on the real program, after
// the states that came before it: a state must cost what its work needs,
// whatever led to it.

#include "tests/support/cost.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/checks.h"
#include "tests/e2e/harness.h"

namespace {

using e2e::Handheld;
using e2e::Scenario;

struct Before {
    const char* name;
    // What happens before the recording that is measured, which starts at
    // kMeasured.
    Scenario (*lead)();
};

constexpr long kMeasured = 6000;

const Before kBefore[] = {
    {"APlaybackStopped",
     [] {
         return Scenario()
             .Tap(200, "key down")
             .Tap(1200, "key down")
             .Tap(2500, "key backspace")   // plays 1 s
             .Tap(2900, "key backspace");  // stopped half way
     }},
    // A start that fails ends the recorder's run (its message, then the
    // hand-off), so the start before the measured one is refused instead:
    // pressed while a playback plays to its end.
    {"AStartRefusedWhilePlaying",
     [] {
         return Scenario()
             .Tap(200, "key down")
             .Tap(1200, "key down")
             .Tap(2500, "key backspace")  // plays 1 s to its end
             .Tap(2800, "key down");      // refused: a playback runs
     }},
    {"ACardPulledAndPutBack",
     [] {
         return Scenario()
             .At(0, "gpio absent")
             .Tap(200, "key down")
             .Tap(1500, "key down")
             .At(2500, "card out")
             .At(3500, "card in");
     }},
};

class CostAfter : public ::testing::TestWithParam<Before> {};

void PrintTo(const Before& before, std::ostream* out)
{
    *out << before.name;
}

// The calls of two lines the scenario's `calls` wrote: the time, then the
// DSP's, the mixer's, the GPIO driver's and the card's.
std::vector<double> Numbers(const std::string& line)
{
    std::istringstream in(line);
    std::vector<double> n;
    for (double v; in >> v;)
        n.push_back(v);
    return n;
}

TEST_P(CostAfter, ARecordingCostsWhatItsWorkNeeds)
{
    Handheld handheld;
    const std::string scenario = GetParam()
                                     .lead()
                                     .Tap(kMeasured, "key down")
                                     .At(kMeasured + 1500, "calls calls.txt")
                                     .At(kMeasured + 3500, "calls calls.txt")
                                     .Tap(kMeasured + 4000, "key down")
                                     .Tap(kMeasured + 5000, "key tab")
                                     .Text();
    const e2e::Run run = handheld.Start(scenario, 60, {{"HANDHELD_MIC", "counter"}});
    ASSERT_TRUE(e2e::EndedWith(run, handheld, "--view-apps"));
    std::istringstream calls(e2e::ReadFile(handheld.Path("/sim/calls.txt")));
    std::string first, second;
    ASSERT_TRUE(std::getline(calls, first) && std::getline(calls, second));
    const std::vector<double> a = Numbers(first), b = Numbers(second);
    ASSERT_EQ(a.size(), 5u);
    ASSERT_EQ(b.size(), 5u);
    const double seconds = (b[0] - a[0]) / 1000;
    ASSERT_GT(seconds, 0);
    // The measured window lies inside the recording: the DSP was read.
    EXPECT_GT(b[1] - a[1], 0) << run.out;
    double made = 0;
    for (size_t i = 1; i < 5; ++i)
        made += b[i] - a[i];
    EXPECT_LE(made / seconds, support::CallsBound(true, false))
        << "DSP " << (b[1] - a[1]) / seconds << ", mixer " << (b[2] - a[2]) / seconds << ", GPIO "
        << (b[3] - a[3]) / seconds << ", card " << (b[4] - a[4]) / seconds << " calls a second";
    // Every recording asked for started.
    int started = 0;
    for (const std::string& message : run.Messages())
        started += message.rfind("(Record) RecordStart(", 0) == 0;
    EXPECT_EQ(started, 2) << run.out;
}

INSTANTIATE_TEST_SUITE_P(Recording, CostAfter, ::testing::ValuesIn(kBefore),
                         [](const ::testing::TestParamInfo<Before>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
