// The ways out of the recorder when it is idle, each held for a while before
// its release: a command acts on the release only.

#include <gtest/gtest.h>

#include "tests/e2e/checks.h"
#include "tests/e2e/harness.h"

namespace {

using e2e::Handheld;

struct WayOut {
    const char* name;
    const char* input;  // for e2e::Tap
    const char* view;   // the menu's view it leaves for
};

void PrintTo(const WayOut& way, std::ostream* out)
{
    *out << way.name;
}

class WayOutTest : public ::testing::TestWithParam<WayOut> {};

TEST_P(WayOutTest, LeavesOnTheReleaseOnly)
{
    Handheld handheld;
    // The screenshot is taken only while the recorder runs: it proves the
    // press alone left the recorder where it was.
    const std::string scenario = e2e::Scenario()
                                     .Tap(300, GetParam().input, 700)
                                     .At(800, "shot held.bmp")
                                     .At(14000, "shot late.bmp")
                                     .At(15000, "quit")
                                     .Text();
    const e2e::Run run = handheld.Start(scenario, 30);
    ASSERT_TRUE(e2e::EndedWith(run, handheld, GetParam().view));
    EXPECT_TRUE(e2e::Exists(handheld.Path("/sim/held.bmp"))) << "left before the release";
    EXPECT_FALSE(e2e::Exists(handheld.Path("/sim/late.bmp"))) << "did not leave at the release";
    EXPECT_EQ(run.Messages().back(), "exit code(" + std::string(GetParam().view) + ") !!");
    EXPECT_TRUE(handheld.List(e2e::kRecordFolder).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Commands, WayOutTest,
    ::testing::Values(WayOut{"Code9ByTab", "key tab", "--view-apps"},
                      WayOut{"Code9ByButton1", "button 1", "--view-apps"},
                      WayOut{"Code14ByKeypadPlus", "key kp_plus", "--view-main"},
                      WayOut{"Code14ByButton6", "button 6", "--view-main"},
                      WayOut{"ListButton", e2e::kListButton, "--view-reclist"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
