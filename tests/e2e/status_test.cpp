// The once-a-second status monitor on the real program: the clock, the
// battery icon and its low-battery message, the HOLD switch.

#include <gtest/gtest.h>

#include "tests/e2e/checks.h"
#include "tests/e2e/harness.h"
#include "tests/e2e/screen.h"

namespace {

using e2e::Handheld;
using e2e::Scenario;

TEST(Status, ClockBatteryAndHoldFollowTheHandheld)
{
    // A clock set to a whole minute turns that minute at once, so the screen
    // must show it by the next tick: one second, and a little for the draw.
    // The low-battery message lasts about four seconds; each check of it
    // waits for the one before to end.
    const std::string scenario = Scenario()
                                     .At(0, "clock 2026-12-07 10:14:30")
                                     .At(0, "battery 4")
                                     .At(300, "shot s0-idle.bmp")
                                     .At(500, "hold on")
                                     .At(900, "shot s0-before-10-15.bmp")
                                     .At(1000, "clock 2026-12-07 10:15:00")
                                     .At(2250, "shot s1-10-15.bmp")
                                     .At(2400, "hold off")
                                     .At(6400, "shot s2-message-over.bmp")
                                     .At(6500, "clock 2026-12-07 10:16:00")
                                     .At(7750, "shot s3-10-16.bmp")
                                     .At(8000, "clock 2026-12-07 10:20:00")
                                     .At(9250, "shot s4-10-20.bmp")
                                     .At(9400, "battery 3")
                                     .At(10500, "shot s5-level-3-same-minute.bmp")
                                     .At(13300, "clock 2026-12-07 10:25:00")
                                     .At(14550, "shot s6-10-25-level-3.bmp")
                                     .At(14700, "battery 4")
                                     .At(14800, "clock 2026-12-07 10:27:00")
                                     .At(16050, "shot s7-10-27-level-4.bmp")
                                     .Tap(16200, "key tab")
                                     .Text();
    Handheld handheld;
    const e2e::Run run = handheld.Start(scenario, 40);
    ASSERT_TRUE(e2e::EndedWith(run, handheld, "--view-apps"));
    EXPECT_EQ(run.Count("HOLD ON View !!"), 1) << run.out;
    EXPECT_EQ(run.Count("HOLD OFF View !!"), 1) << run.out;
    EXPECT_EQ(e2e::MissingInOrder(run.Messages(), {"HOLD ON View !!", "HOLD OFF View !!"}), "");

    const char* const names[] = {
        "s0-idle",  "s0-before-10-15",        "s1-10-15",         "s2-message-over",  "s3-10-16",
        "s4-10-20", "s5-level-3-same-minute", "s6-10-25-level-3", "s7-10-27-level-4",
    };
    std::vector<e2e::Image> s;
    for (const char* name : names) {
        s.push_back(e2e::ReadBmp(handheld.Path("/sim/" + std::string(name) + ".bmp")));
        ASSERT_FALSE(s.back().Empty()) << name;
    }
    const e2e::Image strip = e2e::MessageStrip();
    ASSERT_FALSE(strip.Empty());
    struct Expected {
        int shot;
        int message;  // -1: none
    };
    // Level 4 at 10:15 and 10:20, not at 10:16; level 3 not even at 10:25.
    for (const Expected& e : {Expected{0, -1}, Expected{1, -1}, Expected{2, 4}, Expected{3, -1},
                              Expected{4, -1}, Expected{5, 4}, Expected{7, -1}, Expected{8, -1}})
        EXPECT_EQ(e2e::ShownMessage(s[e.shot], strip), e.message) << names[e.shot];

    // The minute on screen: 14, then 15, 16, 20 each within a second.
    EXPECT_TRUE(e2e::SameArea(s[0], s[1], e2e::area::kClockMinute));
    EXPECT_FALSE(e2e::SameArea(s[1], s[2], e2e::area::kClockMinute)) << "10:15 not shown";
    EXPECT_TRUE(e2e::SameArea(s[2], s[3], e2e::area::kClockMinute));
    EXPECT_FALSE(e2e::SameArea(s[3], s[4], e2e::area::kClockMinute)) << "10:16 not shown";
    EXPECT_FALSE(e2e::SameArea(s[4], s[5], e2e::area::kClockMinute)) << "10:20 not shown";
    EXPECT_FALSE(e2e::SameArea(s[5], s[7], e2e::area::kClockMinute)) << "10:25 not shown";

    // HOLD: the icon on while the switch is on, then gone.
    EXPECT_FALSE(e2e::SameArea(s[0], s[2], e2e::area::kHold)) << "HOLD icon missing";
    EXPECT_TRUE(e2e::SameArea(s[0], s[3], e2e::area::kHold)) << "HOLD icon stayed";

    // The battery icon follows the level at the next minute, down and up.
    EXPECT_TRUE(e2e::SameArea(s[0], s[6], e2e::area::kBattery)) << "changed before the minute";
    EXPECT_FALSE(e2e::SameArea(s[0], s[7], e2e::area::kBattery)) << "level 3 not shown";
    EXPECT_TRUE(e2e::SameArea(s[0], s[8], e2e::area::kBattery)) << "level 4 not shown again";
}

}  // namespace
