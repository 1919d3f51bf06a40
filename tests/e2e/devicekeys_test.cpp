// The function keys stand for what a person does to the handheld itself,
// from the window's keyboard and from a scenario alike.

#include <gtest/gtest.h>

#include "tests/e2e/harness.h"

namespace {

struct DeviceKeyCase {
    const char* key;
    const char* notice;  // the simulator's, on standard error
    const char* view;    // the menu's view the recorder leaves for
};

void PrintTo(const DeviceKeyCase& c, std::ostream* out)
{
    *out << c.key;
}

class DeviceKeyTest : public ::testing::TestWithParam<DeviceKeyCase> {};

TEST_P(DeviceKeyTest, ActsOnTheHandheldFromAScenario)
{
    const DeviceKeyCase& c = GetParam();
    e2e::Handheld handheld;
    const std::string key = c.key;
    const e2e::Run run =
        handheld.Start("100 key down " + key + "\n150 key up " + key + "\n2500 quit\n");
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_NE(run.err.find(std::string("handheld: ") + c.notice + "\n"), std::string::npos)
        << run.err;
    const std::vector<std::string> menu = handheld.MenuLog();
    ASSERT_EQ(menu.size(), 1u);
    EXPECT_EQ(menu[0], e2e::MenuLine(c.view));
}

// A pulled card is seen within a second and the recorder leaves at once;
// the others leave it running until the quit.
INSTANTIATE_TEST_SUITE_P(DeviceKeys, DeviceKeyTest,
                         ::testing::Values(DeviceKeyCase{"f1", "card pulled out", "--view-main"},
                                           DeviceKeyCase{"f2", "card inserted write-protected",
                                                         "--view-apps"},
                                           DeviceKeyCase{"f3", "HOLD on", "--view-apps"},
                                           DeviceKeyCase{"f4", "battery level 2", "--view-apps"}),
                         [](const ::testing::TestParamInfo<DeviceKeyCase>& info) {
                             return std::string(info.param.key);
                         });

}  // namespace
