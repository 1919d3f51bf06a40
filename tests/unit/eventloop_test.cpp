// The event loop, on a view that only notes what reaches it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/logmessage.h"
#include "app/mainmenuapp.h"

namespace {

struct NotingView {
    std::vector<std::string> calls;
    int OnKeyCommand(int pressed, int code)
    {
        calls.push_back("key " + std::to_string(pressed) + " " + std::to_string(code));
        return 0;
    }
    void OnPointer(int action, int x, int y)
    {
        calls.push_back("pointer " + std::to_string(action) + " " + std::to_string(x) + " " +
                        std::to_string(y));
    }
    void OnUserEvent(int code, void* data1, void* data2)
    {
        calls.push_back("user " + std::to_string(code) + " " +
                        std::to_string(reinterpret_cast<uintptr_t>(data1)) + " " +
                        std::to_string(reinterpret_cast<uintptr_t>(data2)));
    }
};

SDL_Event Axis(int stick, int axis, int value)
{
    SDL_Event e{};
    e.type = SDL_JOYAXISMOTION;
    e.jaxis.which = static_cast<Uint8>(stick);
    e.jaxis.axis = static_cast<Uint8>(axis);
    e.jaxis.value = static_cast<Sint16>(value);
    return e;
}

SDL_Event Button(bool down, int button, int stick = 0)
{
    SDL_Event e{};
    e.type = down ? SDL_JOYBUTTONDOWN : SDL_JOYBUTTONUP;
    e.jbutton.which = static_cast<Uint8>(stick);
    e.jbutton.button = static_cast<Uint8>(button);
    e.jbutton.state = down ? SDL_PRESSED : SDL_RELEASED;
    return e;
}

SDL_Event Key(bool down, int sym, int mod = KMOD_NONE)
{
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.keysym.sym = static_cast<SDLKey>(sym);
    e.key.keysym.mod = static_cast<SDLMod>(mod);
    return e;
}

SDL_Event Mouse(Uint8 type, int x, int y)
{
    SDL_Event e{};
    e.type = type;
    if (type == SDL_MOUSEMOTION) {
        e.motion.x = static_cast<Uint16>(x);
        e.motion.y = static_cast<Uint16>(y);
    } else {
        e.button.button = type == SDL_MOUSEBUTTONDOWN ? 1 : 3;
        e.button.x = static_cast<Uint16>(x);
        e.button.y = static_cast<Uint16>(y);
    }
    return e;
}

SDL_Event User(int code, uintptr_t data1 = 0, uintptr_t data2 = 0, Uint8 type = SDL_USEREVENT)
{
    SDL_Event e{};
    e.type = type;
    e.user.code = code;
    e.user.data1 = reinterpret_cast<void*>(data1);
    e.user.data2 = reinterpret_cast<void*>(data2);
    return e;
}

class EventLoop : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError(); }
    void TearDown() override { SDL_Quit(); }

    // Feeds the events through SDL's queue and runs the loop until it ends;
    // an EVT_QUIT_LOOP at the end stops a loop that nothing else ended.
    std::vector<std::string> Through(std::vector<SDL_Event> events, int* queued_after = nullptr)
    {
        events.push_back(User(EVT_QUIT_LOOP));
        for (SDL_Event& e : events)
            EXPECT_EQ(SDL_PushEvent(&e), 0);
        NotingView view;
        EXPECT_EQ(EventLoopOf<NotingView>(view).Run(), 0);
        SDL_Event left;
        int count = 0;
        while (SDL_PollEvent(&left))
            ++count;
        if (queued_after)
            *queued_after = count;
        return view.calls;
    }
};

using Calls = std::vector<std::string>;

struct StickCase {
    const char* what;
    std::vector<SDL_Event> events;
    Calls expected;
};

TEST_F(EventLoop, StickMovesBecomeDirectionPressesAndReleases)
{
    const std::vector<StickCase> cases = {
        {"rest to up-left, horizontal first",
         {Axis(0, 0, -20000), Axis(0, 1, -20000)},
         {"key 1 2", "key 1 1", "key 0 2"}},
        {"up-left back to rest, horizontal first",
         {Axis(0, 0, -20000), Axis(0, 1, -20000), Axis(0, 0, 0), Axis(0, 1, 0)},
         {"key 1 2", "key 1 1", "key 0 2", "key 1 0", "key 0 1", "key 0 0"}},
        {"up to centre gives the release only",
         {Axis(0, 1, -32768), Axis(0, 1, 0)},
         {"key 1 0", "key 0 0"}},
        {"straight from left to right",
         {Axis(0, 0, -32768), Axis(0, 0, 32767)},
         {"key 1 2", "key 1 6", "key 0 2"}},
        {"-10000 and 9999 are centre",
         {Axis(0, 0, -10000), Axis(0, 0, 9999), Axis(0, 1, -10000), Axis(0, 1, 9999)},
         {}},
        {"10000 is right and down",
         {Axis(0, 0, 10000), Axis(0, 1, 10000)},
         {"key 1 6", "key 1 5", "key 0 6"}},
        {"-10001 is left and up",
         {Axis(0, 0, -10001), Axis(0, 1, -10001)},
         {"key 1 2", "key 1 1", "key 0 2"}},
        {"values within one zone are silent",
         {Axis(0, 0, 12000), Axis(0, 0, 20000), Axis(0, 0, 32767)},
         {"key 1 6"}},
        {"axes 2 and above are ignored",
         {Axis(0, 2, -32768), Axis(0, 3, 32767), Axis(1, 7, 32767)},
         {}},
        {"two sticks keep their own state, both as joystick 0",
         {Axis(0, 0, -32768), Axis(1, 0, 32767), Axis(0, 0, 0), Axis(1, 0, 0)},
         {"key 1 2", "key 1 6", "key 0 2", "key 0 6"}},
    };
    for (const StickCase& c : cases)
        EXPECT_EQ(Through(c.events), c.expected) << c.what;
}

TEST_F(EventLoop, TableKeepsTheOtherAxisAndTakesThisAxisFromTheZone)
{
    // (horizontal part, vertical part) of each direction: -1, 0, +1.
    const int dx[9] = {0, -1, -1, -1, 0, 1, 1, 1, 0};
    const int dy[9] = {-1, -1, 0, 1, 1, 1, 0, -1, 0};
    for (int axis = 0; axis < 2; ++axis) {
        for (int zone = 0; zone < 3; ++zone) {
            for (int current = 0; current < 9; ++current) {
                const int next = AxisDirectionTable[axis * 27 + zone * 9 + current];
                ASSERT_GE(next, 0);
                ASSERT_LE(next, 8);
                const int want_x = axis == 0 ? zone - 1 : dx[current];
                const int want_y = axis == 1 ? zone - 1 : dy[current];
                EXPECT_EQ(dx[next], want_x) << axis << " " << zone << " " << current;
                EXPECT_EQ(dy[next], want_y) << axis << " " << zone << " " << current;
            }
        }
    }
}

struct RouteCase {
    const char* what;
    std::vector<SDL_Event> events;
    Calls expected;
};

TEST_F(EventLoop, EventsReachTheViewRenumberedWhereTheyMustBe)
{
    const std::vector<RouteCase> cases = {
        {"button releases are renumbered, presses are not",
         {Button(true, 0, 1), Button(false, 0, 1), Button(false, 10), Button(false, 11)},
         {"key 1 0", "key 0 8", "key 0 18", "key 0 11"}},
        {"keys arrive as the low byte of their symbol",
         {Key(true, SDLK_UP), Key(false, SDLK_UP), Key(false, SDLK_BACKSPACE),
          Key(false, SDLK_KP_PLUS)},
         {"key 1 17", "key 0 17", "key 0 8", "key 0 14"}},
        {"C without Control reaches the view",
         {Key(true, SDLK_c, KMOD_SHIFT | KMOD_ALT), Key(false, SDLK_c, KMOD_LCTRL)},
         {"key 1 99", "key 0 99"}},
        {"touches arrive as pointer actions with their coordinates",
         {Mouse(SDL_MOUSEBUTTONDOWN, 10, 200), Mouse(SDL_MOUSEMOTION, 11, 201),
          Mouse(SDL_MOUSEBUTTONUP, 319, 239)},
         {"pointer 1 10 200", "pointer 2 11 201", "pointer 0 319 239"}},
        {"user events keep their code and pointers; the further user types go nowhere",
         {User(100, 0x1234, 0), User(7777, 1, 2), User(5001, 3, 0, SDL_USEREVENT + 1)},
         {"user 100 4660 0", "user 7777 1 2"}},
    };
    for (const RouteCase& c : cases)
        EXPECT_EQ(Through(c.events), c.expected) << c.what;
}

TEST_F(EventLoop, QuitConditionsEndTheLoopUndispatched)
{
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    const std::vector<RouteCase> cases = {
        {"left Control+C",
         {Key(true, SDLK_a), Key(true, SDLK_c, KMOD_LCTRL), Key(true, SDLK_b)},
         {"key 1 97"}},
        {"right Control+C with Shift",
         {Key(true, SDLK_c, KMOD_RCTRL | KMOD_SHIFT), Key(true, 98)},
         {}},
        {"SDL_QUIT", {quit, Key(true, SDLK_b)}, {}},
        {"EVT_QUIT_LOOP", {User(EVT_QUIT_LOOP, 5, 6), Key(true, SDLK_b)}, {}},
    };
    for (const RouteCase& c : cases) {
        int queued_after = 0;
        EXPECT_EQ(Through(c.events, &queued_after), c.expected) << c.what;
        // What follows the quit condition stays in the queue, unhandled.
        EXPECT_EQ(queued_after, 2) << c.what;
    }
}

TEST(LogMessage, WritesTheUnitAndLinePrefix)
{
    ::testing::internal::CaptureStdout();
    LogMessage("mainmenuapp.cpp", 95, "x=%d\n", 7);
    LogMessage("main.cpp", 12345, "wide\n");
    LogMessage("wavrecord.cpp", 3, "no newline");
    std::fflush(stdout);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "mainmenuapp.cpp_  95]  x=7\nmain.cpp_12345]  wide\nwavrecord.cpp_   3]  no newline");
}

}  // namespace
