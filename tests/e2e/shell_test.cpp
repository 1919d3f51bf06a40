// The recorder as a whole program: start, the event loop's ways out, and the
// hand-off to the menu program.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/e2e/harness.h"

namespace {

using e2e::Handheld;

// The diagnostic line without its "<unit>_<line>]  " prefix, checking the
// prefix's shape and the unit on the way.
std::string Message(const std::string& line, const std::string& unit)
{
    std::string written_unit;
    std::string message;
    return e2e::ParseLogLine(line, &written_unit, &message) && written_unit == unit
               ? message
               : "<" + line + ">";
}

struct QuitCase {
    const char* name;
    const char* scenario;
};

void PrintTo(const QuitCase& c, std::ostream* out)
{
    *out << c.name;
}

class QuitTest : public ::testing::TestWithParam<QuitCase> {};

TEST_P(QuitTest, HandsOverToTheMenuWithTheDefaultView)
{
    Handheld handheld;
    const e2e::Run run = handheld.Start(GetParam().scenario);
    ASSERT_FALSE(run.timed_out) << run.out << run.err;
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.exit_code, 0);

    const std::vector<std::string> lines = run.OutLines();
    ASSERT_GE(lines.size(), 4u) << run.out;
    EXPECT_EQ(Message(lines[0], "mainmenuapp.cpp"), "CMainMenuApp()");
    EXPECT_EQ(Message(lines[1], "recorderview.cpp"), "CRecorderView()");
    EXPECT_EQ(Message(lines[2], "mainmenuapp.cpp"), "CMainMenuApp::SDL_Initialize()");
    EXPECT_EQ(Message(lines.back(), "main.cpp"), "exit code(--view-apps) !!");

    const std::vector<std::string> menu = handheld.MenuLog();
    ASSERT_EQ(menu.size(), 1u);
    EXPECT_EQ(menu[0], e2e::MenuLine("--view-apps"));
}

INSTANTIATE_TEST_SUITE_P(Shell, QuitTest,
                         ::testing::Values(QuitCase{"SdlQuit", "200 quit\n"},
                                           QuitCase{"ControlC", "200 key down c ctrl\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Shell, WithoutMenuProgramTheProcessEndsCleanlyAfterTheStaticTeardown)
{
    Handheld handheld;
    ASSERT_EQ(::unlink(handheld.Path("/usr/orvo/orvomenu").c_str()), 0);
    const e2e::Run run = handheld.Start("100 quit\n");
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.exit_code, 0);
    const std::vector<std::string> lines = run.OutLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(Message(lines.back(), "mainmenuapp.cpp"), "~CMainMenuApp()");
    EXPECT_TRUE(handheld.MenuLog().empty());
}

TEST(Shell, WithoutHandheldRootTheSimulatorSaysWhatItNeeds)
{
    Handheld handheld;
    const e2e::Run run = handheld.Start("100 quit\n", 30, {{"HANDHELD_ROOT", ""}});
    ASSERT_TRUE(run.exited);
    EXPECT_NE(run.exit_code, 0);
    EXPECT_NE(run.err.find("HANDHELD_ROOT"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("handheld-root"), std::string::npos) << run.err;
}

// The scenario is the simulator's, loaded when the screen starts: the
// recorder's globals are built and its entry has run before the fault ends
// the process, and the menu program is not started.
TEST(Shell, AFaultyScenarioIsNamedWithItsLineWhenTheScreenStarts)
{
    Handheld handheld;
    const e2e::Run run = handheld.Start("0 battery 4\n100 quit\n200 jump 3\n");
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_NE(run.err.find("line 3"), std::string::npos) << run.err;
    EXPECT_EQ(e2e::MissingInOrder(run.Messages(), {"CMainMenuApp()", "CRecorderView()",
                                                   "CMainMenuApp::SDL_Initialize()"}),
              "")
        << run.out;
    EXPECT_TRUE(handheld.MenuLog().empty());
}

}  // namespace
