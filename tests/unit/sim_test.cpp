// The simulated handheld: where its paths lead, what its card and GPIO
// answer, and how its scenario files read.

#include <SDL.h>
#include <SDL_image.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/gpio.h"
#include "platform/oss.h"
#include "platform/screen.h"
#include "platform/sys.h"
#include "sim/faults.h"
#include "sim/frames.h"
#include "sim/handheld.h"
#include "sim/scenario.h"
#include "sim/sdcard.h"
#include "tests/support/handheld.h"
#include "tests/support/wait.h"

namespace {

sim::Handheld& Machine()
{
    return sim::Handheld::Instance();
}

TEST(SimPaths, HandheldPathsStayInsideTheRoot)
{
    const std::string root = Machine().Root();
    ASSERT_FALSE(root.empty());
    struct Case {
        const char* path;
        std::string host;  // empty: refused
        int error;
    };
    const std::vector<Case> cases = {
        {"/mnt/sd/music/rec/a.wav", root + "/mnt/sd/music/rec/a.wav", 0},
        {"/mnt//sd/./music/../x", root + "/mnt/sd/x", 0},
        {"/", root, 0},
        {"/mnt/sd/music/rec/", root + "/mnt/sd/music/rec/", 0},
        {"/mnt/..", root, 0},
        {"/..", "", EACCES},
        {"/mnt/../../etc/passwd", "", EACCES},
        {"./res/app_rec.png", "./res/app_rec.png", 0},
        {"res/../x", "res/../x", 0},
    };
    for (const Case& c : cases) {
        errno = 0;
        EXPECT_EQ(Machine().MapPath(c.path), c.host) << c.path;
        if (c.error) {
            EXPECT_EQ(errno, c.error) << c.path;
        }
    }
}

std::string HostFile(const std::string& host)
{
    std::ifstream in(host, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Links on the card lead where they would in a chroot at the root: an
// absolute target starts at the root, ".." in a target stops there, and
// nothing of the PC is reached through them.
TEST(SimPaths, LinksResolveInsideTheRoot)
{
    const std::string root = Machine().Root();
    const std::string dir = root + "/mnt/sd/links";
    ASSERT_EQ(::system(("rm -rf " + dir + " && mkdir -p " + dir + "/real").c_str()), 0);
    struct Link {
        const char* name;
        const char* target;
    };
    for (const Link& link : std::vector<Link>{{"passwd", "/etc/passwd"},
                                              {"up", "../../../../../../../../etc/passwd"},
                                              {"tmp", "/tmp"},
                                              {"real-link", "real"},
                                              {"abs-real", "/mnt/sd/links/real"},
                                              {"loop", "loop"}})
        ASSERT_EQ(::symlink(link.target, (dir + "/" + link.name).c_str()), 0) << link.name;
    struct Case {
        const char* path;
        bool follow;
        std::string host;  // empty: refused
    };
    const std::vector<Case> cases = {
        {"/mnt/sd/links/passwd", true, root + "/etc/passwd"},
        {"/mnt/sd/links/up", true, root + "/etc/passwd"},
        {"/mnt/sd/links/tmp/x.wav", true, root + "/tmp/x.wav"},
        {"/mnt/sd/links/real-link/a.wav", true, dir + "/real/a.wav"},
        {"/mnt/sd/links/abs-real/../x", true, dir + "/x"},
        {"/mnt/sd/links/passwd", false, dir + "/passwd"},
        {"/mnt/sd/links/tmp/x.wav", false, root + "/tmp/x.wav"},
        {"/mnt/sd/links/loop", true, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Machine().MapPath(c.path, c.follow), c.host) << c.path << " " << c.follow;
    // Through the platform calls: a write through a link to the PC's /tmp
    // lands in the root's /tmp, which does not exist, so it fails.
    EXPECT_LT(sys::open("/mnt/sd/links/tmp/escape", O_WRONLY | O_CREAT, 0644), 0);
    EXPECT_LT(sys::open("/mnt/sd/links/passwd", O_RDONLY), 0);
    struct stat st;
    ASSERT_EQ(sys::lstat("/mnt/sd/links/passwd", &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::system(("rm -rf " + dir).c_str()), 0);
}

// A power cut takes the card back to what it last kept: in a child, which
// dies of it, files are made, written and synced in the ways a program can.
TEST(SimPowerCut, TheCardGoesBackToWhatItLastKept)
{
    const std::string root = Machine().Root();
    const std::string dir = root + "/mnt/sd/cut";
    ASSERT_EQ(::system(("rm -rf " + dir + " && mkdir -p " + dir).c_str()), 0);
    std::ofstream(dir + "/old.txt") << "old";
    std::ofstream(dir + "/gone.txt") << "gone";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        sim::sdcard::KeepAsItIs();
        auto put = [](const char* path, const char* text, bool sync_file) {
            const int fd = sys::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
            (void)!sys::write(fd, text, std::strlen(text));
            if (sync_file)
                sys::fdatasync(fd);
            sys::close(fd);
        };
        // Made, written and synced, and its folder too: all of it stays.
        put("/mnt/sd/cut/kept.txt", "kept", true);
        // Made and synced, but its folder was not synced after: it goes.
        const int folder = sys::open("/mnt/sd/cut", O_RDONLY | O_DIRECTORY);
        sys::fdatasync(folder);
        put("/mnt/sd/cut/unlisted.txt", "unlisted", true);
        // An old file rewritten without a sync: its old contents come back.
        put("/mnt/sd/cut/old.txt", "new contents", false);
        // Synced once, then more written: the synced part stays.
        const int grow = sys::open("/mnt/sd/cut/kept.txt", O_WRONLY | O_APPEND);
        (void)!sys::write(grow, "+more", 5);
        // Removed without a sync of the folder: it comes back.
        sys::unlink("/mnt/sd/cut/gone.txt");
        sim::sdcard::PowerCut();
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    EXPECT_EQ(HostFile(dir + "/kept.txt"), "kept");
    EXPECT_EQ(HostFile(dir + "/old.txt"), "old");
    EXPECT_EQ(HostFile(dir + "/gone.txt"), "gone");
    EXPECT_NE(::access((dir + "/unlisted.txt").c_str(), F_OK), 0);
    ASSERT_EQ(::system(("rm -rf " + dir).c_str()), 0);
}

class SimCard : public ::testing::Test {
protected:
    void TearDown() override
    {
        Machine().SetCard(sim::CardState::kIn);
        Machine().SetCardFree(-1);
        sys::unlink("/mnt/sd/probe.bin");
    }
};

TEST_F(SimCard, StatesDecideWhatOpensAndWrites)
{
    struct Case {
        sim::CardState state;
        int open_write_errno;  // 0: the open works
        int open_read_errno;
    };
    const int made = sys::open("/mnt/sd/probe.bin", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(made, 0);
    ASSERT_EQ(sys::close(made), 0);
    const std::vector<Case> cases = {
        {sim::CardState::kIn, 0, 0},
        {sim::CardState::kLocked, EROFS, 0},
        {sim::CardState::kOut, ENOENT, ENOENT},
    };
    for (const Case& c : cases) {
        Machine().SetCard(c.state);
        errno = 0;
        const int w = sys::open("/mnt/sd/probe.bin", O_WRONLY);
        EXPECT_EQ(w < 0 ? errno : 0, c.open_write_errno);
        const int r = sys::open("/mnt/sd/probe.bin", O_RDONLY);
        EXPECT_EQ(r < 0 ? errno : 0, c.open_read_errno);
        for (int fd : {w, r})
            if (fd >= 0)
                sys::close(fd);
        // The mount point itself is there whatever the card does.
        struct stat st;
        EXPECT_EQ(sys::lstat("/mnt/sd", &st), 0);
    }
}

TEST_F(SimCard, PulledCardFailsWritesOnOpenFilesAndTheGpioSaysSo)
{
    const int gpio = sys::open("/dev/GPIO", O_RDONLY);
    ASSERT_GE(gpio, 0);
    const int fd = sys::open("/mnt/sd/probe.bin", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    int absent = -1;
    sys::ioctl(gpio, 9, &absent);
    EXPECT_EQ(absent, 0);
    EXPECT_EQ(sys::write(fd, "abcd", 4), 4);

    Machine().SetCard(sim::CardState::kOut);
    sys::ioctl(gpio, 9, &absent);
    EXPECT_EQ(absent, 1);
    errno = 0;
    EXPECT_EQ(sys::write(fd, "abcd", 4), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(sys::lseek(fd, 0, SEEK_SET), -1);

    Machine().SetHold(true);
    int hold = 0;
    sys::ioctl(gpio, 11, &hold);
    EXPECT_NE(hold, 0);
    Machine().SetHold(false);
    sys::ioctl(gpio, 11, &hold);
    EXPECT_EQ(hold, 0);
    sys::close(fd);
    sys::close(gpio);
}

TEST_F(SimCard, AFullCardTakesWhatFitsThenRefuses)
{
    const int fd = sys::open("/mnt/sd/probe.bin", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    Machine().SetCardFree(1000);
    std::vector<char> block(4096, 'x');
    EXPECT_EQ(sys::write(fd, block.data(), block.size()), 1000);
    errno = 0;
    EXPECT_EQ(sys::write(fd, block.data(), block.size()), -1);
    EXPECT_EQ(errno, ENOSPC);
    // Overwriting what the file holds takes no room.
    ASSERT_EQ(sys::lseek(fd, 0, SEEK_SET), 0);
    EXPECT_EQ(sys::write(fd, block.data(), 44), 44);
    sys::close(fd);
}

// The scenario's line acted at once.
void Act(const std::string& command)
{
    std::vector<sim::ScenarioCommand> commands;
    std::string error;
    ASSERT_TRUE(sim::ParseScenario("0 " + command, &commands, &error)) << command << ": " << error;
    commands[0].act(Machine());
}

class SimFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        support::ResetHandheld();
        dsp_ = sys::open("/dev/dsp", O_RDONLY | O_NONBLOCK);
        mixer_ = sys::open("/dev/mixer", O_RDWR);
        file_ = sys::open("/mnt/sd/probe.bin", O_RDWR | O_CREAT | O_TRUNC, 0644);
        gpio_ = sys::open(gpio::kDevice, O_RDONLY);
        ASSERT_GE(gpio_, 0);
        ASSERT_GE(dsp_, 0);
        ASSERT_GE(mixer_, 0);
        ASSERT_GE(file_, 0);
    }
    void TearDown() override
    {
        support::ResetHandheld();
        for (int fd : {dsp_, mixer_, file_, gpio_})
            sys::close(fd);
        sys::unlink("/mnt/sd/probe.bin");
    }
    int dsp_ = -1, mixer_ = -1, file_ = -1, gpio_ = -1;
};

// A fault placed at a call is met by that call only, once, whichever
// thread makes it; a hang holds the call until the device is made well.
TEST_F(SimFaults, EachIsMetByItsCallOnlyOnceAndAHangUntilTheDeviceIsWell)
{
    using sim::faults::Device;
    int speed = 22050, level = 0x5050;
    char byte = 0;
    struct pollfd p = {dsp_, POLLIN, 0};
    const std::map<std::string, std::function<int()>> calls = {
        {"dsp open",
         [&] {
             sys::close(dsp_);
             dsp_ = sys::open("/dev/dsp", O_RDONLY | O_NONBLOCK);
             return dsp_ < 0 ? -1 : 0;
         }},
        {"dsp SPEED", [&] { return sys::ioctl(dsp_, oss::kDspSpeed, &speed); }},
        {"dsp SYNC", [&] { return sys::ioctl(dsp_, oss::kDspSync, nullptr); }},
        {"dsp poll", [&] { return sys::poll(&p, 1, 0); }},
        {"mixer WRITE_MIC", [&] { return sys::ioctl(mixer_, oss::kMixerWriteMic, &level); }},
        {"mixer ioctl", [&] { return sys::ioctl(mixer_, oss::kMixerWriteIGain, &level); }},
        {"card write", [&] { return static_cast<int>(sys::write(file_, "abcd", 4)); }},
        {"card read", [&] { return static_cast<int>(sys::read(file_, &byte, 1)); }},
        {"card fdatasync", [&] { return sys::fdatasync(file_); }},
        {"gpio HOLD", [&] { return sys::ioctl(gpio_, gpio::kHold, &level); }},
        {"gpio CARD", [&] { return sys::ioctl(gpio_, gpio::kCardAbsent, &level); }},
        {"card mkdir",
         [] {
             const int made = sys::mkdir("/mnt/sd/probe.dir", 0755);
             if (made == 0)
                 ::rmdir(sys::resolve("/mnt/sd/probe.dir").c_str());
             return made;
         }},
    };
    struct Case {
        const char* placed;  // "<device> <call>"
        const char* met_by;  // a call of the table
        const char* not_met_by;
        const char* heal;
    };
    const Case cases[] = {
        {"dsp open", "dsp open", "dsp SPEED", "dsp ok"},
        {"dsp SYNC", "dsp SYNC", "dsp SPEED", "dsp ok"},
        {"dsp ioctl", "dsp SPEED", "dsp poll", "dsp ok"},
        {"dsp poll", "dsp poll", "dsp SYNC", "dsp ok"},
        {"mixer WRITE_MIC", "mixer WRITE_MIC", "mixer ioctl", "mixer ok"},
        {"card write", "card write", "card fdatasync", "card in"},
        {"card fdatasync", "card fdatasync", "card write", "card in"},
        {"card mkdir", "card mkdir", "card read", "card in"},
        {"gpio HOLD", "gpio HOLD", "gpio CARD", "gpio ok"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.placed);
        const std::string device = std::string(c.placed).substr(0, std::string(c.placed).find(' '));
        const std::string call = std::string(c.placed).substr(device.size() + 1);
        const Device which = device == "dsp"     ? Device::kDsp
                             : device == "mixer" ? Device::kMixer
                             : device == "gpio"  ? Device::kGpio
                                                 : Device::kCard;
        // A failure: not met by another call, met by its own, then spent.
        Act(device + " fail at " + call);
        EXPECT_NE(calls.at(c.not_met_by)(), -1);
        errno = 0;
        EXPECT_EQ(calls.at(c.met_by)(), -1);
        EXPECT_EQ(errno, EIO);
        EXPECT_NE(calls.at(c.met_by)(), -1);
        // A hang, in a thread of its own, until the device is well.
        Act(device + " hang at " + call);
        int result = -2;
        std::thread caller([&] { result = calls.at(c.met_by)(); });
        EXPECT_TRUE(support::Eventually([&] { return sim::faults::Hung(which) == 1; }));
        Act(c.heal);
        caller.join();
        EXPECT_NE(result, -1);
        EXPECT_EQ(sim::faults::Hung(which), 0);
    }
}

TEST(SimClock, ScenarioClockMovesTheHandheldsTime)
{
    std::vector<sim::ScenarioCommand> commands;
    std::string error;
    ASSERT_TRUE(sim::ParseScenario("0 clock 2010-03-07 09:05:03\n", &commands, &error)) << error;
    ASSERT_EQ(commands.size(), 1u);
    commands[0].act(Machine());
    const time_t now = sys::time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    EXPECT_EQ(local.tm_year + 1900, 2010);
    EXPECT_EQ(local.tm_mon + 1, 3);
    EXPECT_EQ(local.tm_mday, 7);
    EXPECT_EQ(local.tm_hour, 9);
    EXPECT_EQ(local.tm_min, 5);
    EXPECT_LE(local.tm_sec - 3, 1);
    Machine().SetClock(::time(nullptr));
}

TEST(SimScenario, LinesParseOrAreNamed)
{
    struct Case {
        const char* line;
        bool ok;
        bool input;
    };
    const std::vector<Case> cases = {
        {"10 key down backspace", true, true},
        {"10 key up 99 ctrl", true, true},
        {"10 key down c shift", false, false},
        {"10 key down nosuchkey", false, false},
        {"10 button down 3", true, true},
        {"10 button up 3 1", true, true},
        {"10 button sideways 3", false, false},
        {"10 axis 0 1 -32768", true, true},
        {"10 axis 0 1 40000", false, false},
        {"10 touch down 10 200", true, true},
        {"10 touch move 10", false, false},
        {"10 card out", true, false},
        {"10 card free 0", true, false},
        {"10 card free -1", false, false},
        {"10 card free 4000000000000", true, false},  // a card of 4 TB, on a 32-bit build too
        {"10 card stall 2000", true, false},
        {"10 card stall 2000 every 10000", true, false},
        {"10 card stall 2000 every 2000", false, false},
        {"10 card stall 2000 each 10000", false, false},
        {"10 power cut", true, false},
        {"10 power off", false, false},
        {"10 oss emulated", true, false},
        {"10 oss native", true, false},
        {"10 oss alsa", false, false},
        {"10 card wet", false, false},
        {"10 hold on", true, false},
        {"10 hold maybe", false, false},
        {"10 battery 4", true, false},
        {"10 battery x", false, false},
        {"10 clock 2026-12-07 10:15:00", true, false},
        {"10 clock 2026-12-07", false, false},
        {"10 shot idle.png", true, true},
        {"10 quit", true, true},
        {"10 quit now", false, false},
        {"ten quit", false, false},
        {"10", false, false},
        {"   # only a comment", true, false},
    };
    for (const Case& c : cases) {
        std::vector<sim::ScenarioCommand> commands;
        std::string error;
        EXPECT_EQ(sim::ParseScenario(c.line, &commands, &error), c.ok) << c.line << ": " << error;
        if (c.ok && !commands.empty()) {
            EXPECT_EQ(commands[0].input, c.input) << c.line;
        }
        if (!c.ok) {
            EXPECT_NE(error.find("line 1"), std::string::npos) << error;
        }
    }
    std::vector<sim::ScenarioCommand> commands;
    std::string error;
    EXPECT_FALSE(sim::ParseScenario("20 quit\n10 quit\n", &commands, &error));
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
}

// A number is a key symbol whatever its length; a character key that looks
// like a number is written in quotes.
TEST(SimScenario, KeysAreNamesSymbolsOrCharacters)
{
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    struct Case {
        const char* key;
        int sym;  // -1: refused
    };
    const std::vector<Case> cases = {
        {"8", SDLK_BACKSPACE},
        {"9", SDLK_TAB},
        {"13", SDLK_RETURN},
        {"010", 10},
        {"266", SDLK_KP_PERIOD},
        {"0", 0},
        {"'8'", SDLK_8},
        {"'0'", SDLK_0},
        {"'c'", SDLK_c},
        {"c", SDLK_c},
        {"/", SDLK_SLASH},
        {"tab", SDLK_TAB},
        {"kp_plus", SDLK_KP_PLUS},
        {"0x08", -1},
        {"-8", -1},
        {"+8", -1},
        {"99999", -1},
        {"''", -1},
        {"'88'", -1},
        {"'8", -1},
    };
    for (const Case& c : cases) {
        const std::string line = std::string("5 key down ") + c.key;
        std::vector<sim::ScenarioCommand> commands;
        std::string error;
        const bool parsed = sim::ParseScenario(line, &commands, &error);
        if (c.sym < 0) {
            EXPECT_FALSE(parsed) << line;
            EXPECT_NE(error.find("unknown key"), std::string::npos) << line << ": " << error;
            continue;
        }
        ASSERT_TRUE(parsed) << line << ": " << error;
        ASSERT_EQ(commands.size(), 1u);
        commands[0].act(Machine());
        SDL_Event event{};
        ASSERT_EQ(SDL_PollEvent(&event), 1) << line;
        EXPECT_EQ(event.type, SDL_KEYDOWN) << line;
        EXPECT_EQ(static_cast<int>(event.key.keysym.sym), c.sym) << line;
    }
    SDL_Quit();
}

// A shot shows the frame as it was flipped, in whatever format the screen
// has, however its rows are padded, and whatever is drawn after the flip.
TEST(SimFrames, AShotShowsTheFlippedFrameInEveryScreenFormat)
{
    const struct {
        const char* name;
        int bpp;
        Uint32 r, g, b;
    } cases[] = {
        {"8-bit paletted", 8, 0, 0, 0},
        {"16-bit 565", 16, 0xF800, 0x07E0, 0x001F},
        {"24-bit, blue first", 24, 0xFF0000, 0x00FF00, 0x0000FF},
        {"24-bit, red first", 24, 0x0000FF, 0x00FF00, 0xFF0000},
        {"32-bit", 32, 0xFF0000, 0x00FF00, 0x0000FF},
    };
    const std::string root = getenv("HANDHELD_ROOT");
    for (const auto& c : cases) {
        // Seven pixels a row: every format but 32-bit pads its rows.
        SDL_Surface* screen = SDL_CreateRGBSurface(SDL_SWSURFACE, 7, 5, c.bpp, c.r, c.g, c.b, 0);
        ASSERT_NE(nullptr, screen) << c.name;
        if (c.bpp == 8) {
            SDL_Color colours[256];
            for (int i = 0; i < 256; ++i)
                colours[i] = {static_cast<Uint8>(i), static_cast<Uint8>(255 - i),
                              static_cast<Uint8>(i * 7), 0};
            SDL_SetColors(screen, colours, 0, 256);
        }
        std::vector<Uint32> flipped;
        for (int y = 0; y < screen->h; ++y)
            for (int x = 0; x < screen->w; ++x) {
                const Uint32 pixel =
                    SDL_MapRGB(screen->format, x * 36, y * 60, (x * 5 + y * 11) * 4);
                Uint8* p = static_cast<Uint8*>(screen->pixels) + y * screen->pitch +
                           x * screen->format->BytesPerPixel;
                std::memcpy(p, &pixel, screen->format->BytesPerPixel);  // little-endian
                Uint8 r, g, b;
                SDL_GetRGB(pixel, screen->format, &r, &g, &b);
                flipped.push_back(static_cast<Uint32>(r << 16 | g << 8 | b));
            }
        sim::frames::Flipped(screen);
        SDL_FillRect(screen, nullptr, SDL_MapRGB(screen->format, 1, 2, 3));
        for (const char* kind : {".bmp", ".png"}) {
            SCOPED_TRACE(std::string(c.name) + ", " + kind);
            const std::string path = root + "/shot" + kind;
            ASSERT_TRUE(sim::frames::SaveLast(path));
            SDL_Surface* shot = IMG_Load(path.c_str());
            ASSERT_NE(nullptr, shot) << SDL_GetError();
            ASSERT_EQ(screen->w, shot->w);
            ASSERT_EQ(screen->h, shot->h);
            int differing = 0;
            for (int y = 0; y < shot->h; ++y)
                for (int x = 0; x < shot->w; ++x) {
                    Uint32 pixel = 0;
                    std::memcpy(&pixel,
                                static_cast<Uint8*>(shot->pixels) + y * shot->pitch +
                                    x * shot->format->BytesPerPixel,
                                shot->format->BytesPerPixel);
                    Uint8 r, g, b;
                    SDL_GetRGB(pixel, shot->format, &r, &g, &b);
                    differing += static_cast<Uint32>(r << 16 | g << 8 | b) !=
                                 flipped[static_cast<size_t>(y) * shot->w + x];
                }
            EXPECT_EQ(0, differing);
            SDL_FreeSurface(shot);
        }
        SDL_FreeSurface(screen);
    }
}

// A thread left behind in a stalled card may call in while the process's
// statics are torn down at exit, as a thread hung in a driver outlives them:
// the simulator's tables must still be there. (A sanitizer sees a table
// used after its teardown.)
TEST(SimStatics, CallsDuringTheStaticTeardownFindTheTablesThere)
{
    EXPECT_EXIT(
        {
            const int fd = sys::open("/dev/mixer", O_RDWR | O_CLOEXEC);
            std::atomic<bool> calling{false};
            std::thread([fd, &calling] {
                for (int level = 0;; calling = true)
                    sys::ioctl(fd, oss::kMixerWriteMic, &level);
            }).detach();
            while (!calling)
                std::this_thread::yield();
            std::exit(fd >= 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// A crash must look like one: SDL's own handler of fatal signals would turn
// it into an orderly exit and a hand-off to the menu. (Under a sanitizer its
// own handler reports instead, and is left in place.)
TEST(SimCrash, ACrashPrintsItsStackAndDiesOfItsSignal)
{
    int err[2];
    ASSERT_EQ(pipe(err), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(err[1], STDERR_FILENO);
        platform::StartScreen(SDL_INIT_TIMER);
        raise(SIGSEGV);
        _exit(0);
    }
    close(err[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(err[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<size_t>(n));
    close(err[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << text;
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
    EXPECT_NE(text.find("handheld: the recorder crashed; its stack:"), std::string::npos) << text;
    EXPECT_NE(text.find("unit_tests"), std::string::npos) << text;
}
#endif

}  // namespace
