// The handheld's clock past 2038, where a 32-bit time runs out: a recording
// is still named from its date.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tests/e2e/checks.h"
#include "tests/e2e/harness.h"
#include "tests/support/recording.h"

namespace {

TEST(FarClock, ARecordingAfter2038IsNamedFromItsDate)
{
    e2e::Handheld handheld;
    const char* const clock = "2040-02-29 12:34:56";
    const std::string scenario = e2e::Scenario()
                                     .At(0, std::string("clock ") + clock)
                                     .Tap(300, "key down")   // code 18 records
                                     .Tap(1300, "key down")  // and stops
                                     .At(2000, "quit")
                                     .Text();
    const e2e::Run run = handheld.Start(scenario, 30, {{"HANDHELD_MIC", "counter"}});
    ASSERT_TRUE(e2e::EndedWith(run, handheld, "--view-apps"));
    const std::vector<std::string> names = handheld.List(e2e::kRecordFolder);
    ASSERT_EQ(names.size(), 1u) << run.out;
    // Read as text first: the date must not hang on this process's own time.
    EXPECT_EQ(names[0].substr(0, 12), "204002291234") << names[0];
    const time_t from = e2e::UtcTime(clock);
    EXPECT_TRUE(e2e::NamedFromClock(names[0], from, from + static_cast<time_t>(run.seconds) + 1));
    EXPECT_TRUE(
        e2e::IsCounterRecording(support::ReadWav(handheld.Path(e2e::RecordPath(names[0])))));
}

}  // namespace
