// The handheld backend's battery: what a power-supply folder of the kernel
// makes of the level, above all when it holds no battery that can be read.

#include "platform/handheld/battery.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// One supply: its attribute files and what they hold.
using Supply = std::map<std::string, std::string>;

class BatteryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/recorder-power-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        folder_ = folder;
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string Lay(const std::vector<Supply>& supplies)
    {
        const std::string base = folder_ + "/" + std::to_string(++lays_);
        fs::create_directories(base);
        int n = 0;
        for (const Supply& supply : supplies) {
            const std::string dir = base + "/supply" + std::to_string(n++);
            fs::create_directories(dir);
            for (const auto& [name, text] : supply)
                std::ofstream(dir + "/" + name) << text;
        }
        return base;
    }

    std::string folder_;
    int lays_ = 0;
};

Supply Battery(const std::string& capacity)
{
    return {{"type", "Battery\n"}, {"capacity", capacity}};
}

TEST_F(BatteryTest, LevelCountsQuartersDownAndIsNeverTheWarningWhenUnknown)
{
    const Supply mains = {{"type", "Mains\n"}, {"online", "1\n"}};
    Supply mouse = Battery("10\n");
    mouse["scope"] = "Device\n";
    Supply empty_slot = Battery("5\n");
    empty_slot["present"] = "0\n";
    const Supply no_capacity = {{"type", "Battery\n"}};
    struct Case {
        const char* what;
        std::vector<Supply> supplies;
        int level;
    };
    const std::vector<Case> cases = {
        {"full", {Battery("100\n")}, 1},
        {"75%", {Battery("75\n")}, 1},
        {"74%", {Battery("74\n")}, 2},
        {"50%", {Battery("50\n")}, 2},
        {"49%", {Battery("49")}, 3},
        {"25%", {Battery("25\n")}, 3},
        {"24%", {Battery("24\n")}, 4},
        {"empty", {Battery("0\n")}, 4},
        {"above 100", {Battery("104\n")}, 1},
        {"no supply at all", {}, 1},
        {"mains only", {mains}, 1},
        {"a mouse's battery is not the machine's", {mouse}, 1},
        {"an empty battery slot", {empty_slot}, 1},
        {"no capacity file", {no_capacity}, 1},
        {"capacity empty", {Battery("")}, 1},
        {"capacity no number", {Battery("unknown\n")}, 1},
        {"capacity half a number", {Battery("12abc\n")}, 1},
        {"capacity negative", {Battery("-5\n")}, 1},
        {"the readable one counts", {no_capacity, Battery("10\n"), mains}, 4},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BatteryLevel(Lay(c.supplies).c_str()), c.level) << c.what;
    EXPECT_EQ(BatteryLevel((folder_ + "/no-such-folder").c_str()), 1);
}

}  // namespace
