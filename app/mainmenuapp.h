#pragma once
// The application object: SDL, the joysticks, the screen, the event loop and
// the exit argument for the menu program.

#include <SDL.h>

#include <cstddef>
#include <cstdint>

#include "app/userevent.h"

class CRecorderView;

// Stick directions; the first eight double as the command codes of the
// directions.
enum Direction : uint8_t {
    DIR_UP = 0,
    DIR_UPLEFT = 1,
    DIR_LEFT = 2,
    DIR_DOWNLEFT = 3,
    DIR_DOWN = 4,
    DIR_DOWNRIGHT = 5,
    DIR_RIGHT = 6,
    DIR_UPRIGHT = 7,
    DIR_NONE = 8,
};

// New direction by axis (0, 1), zone of the axis value (0 low, 1 centre,
// 2 high) and current direction: axis * 27 + zone * 9 + current.
extern const int32_t AxisDirectionTable[54];

// The zone of an axis value; the zones are not symmetric around 0.
inline int AxisZone(int value)
{
    return value < -10000 ? 0 : value < 10000 ? 1 : 2;
}

class CMainMenuApp {
public:
    CMainMenuApp();
    virtual ~CMainMenuApp();
    CMainMenuApp(const CMainMenuApp&) = delete;
    CMainMenuApp& operator=(const CMainMenuApp&) = delete;

    // Written on the main thread (a pulled card reaches it as the status
    // monitor's event) and read by the hand-off, on the main thread too.
    void SetExitView(const char* view_name);
    void GetExitView(char* out, size_t size);
    // How many times a view to leave for was named: a leave names one once.
    int ExitViewsSet();

    SDL_Surface* SDL_Initialize();
    void FirstDraw();
    int EventLoop();
    void DispatchEvent(const SDL_Event& event);
    static void RemapJoyButtonUp(SDL_Event& event);
    static bool IsQuitKey(const SDL_Event& event);
    void ExitInstance();

    SDL_Surface* screen = nullptr;
    CRecorderView* view = nullptr;
    SDL_Joystick* joystick0 = nullptr;
    SDL_Joystick* joystick1 = nullptr;

private:
    void Release(bool view_exit_instance);

    // The main thread's alone: every view that sets it acts on an event.
    char exit_view_[64] = "";
    int exit_views_set_ = 0;
};

// The one application object, built before main.
extern CMainMenuApp theApp;

// Hands the view the events of the loop. Any view with the three entry
// points will do, which lets the loop be tried on its own.
template <class View>
void DispatchEventTo(View& view, const SDL_Event& event)
{
    switch (event.type) {
    case SDL_KEYDOWN:
        view.OnKeyCommand(1, event.key.keysym.sym & 0xFF);
        break;
    case SDL_KEYUP:
        view.OnKeyCommand(0, event.key.keysym.sym & 0xFF);
        break;
    case SDL_JOYBUTTONDOWN:
        view.OnKeyCommand(1, event.jbutton.button);
        break;
    case SDL_JOYBUTTONUP:
        view.OnKeyCommand(0, event.jbutton.button);
        break;
    case SDL_MOUSEMOTION:
        view.OnPointer(2, event.motion.x, event.motion.y);
        break;
    case SDL_MOUSEBUTTONDOWN:
        view.OnPointer(1, event.button.x, event.button.y);
        break;
    case SDL_MOUSEBUTTONUP:
        view.OnPointer(0, event.button.x, event.button.y);
        break;
    case SDL_USEREVENT:
        view.OnUserEvent(event.user.code, event.user.data1, event.user.data2);
        break;
    default:
        break;
    }
}

// The event loop over any view: waits for each event (the handheld runs on a
// battery, so it never polls in a loop), turns the sticks into directions,
// renumbers button releases and ends on a quit condition.
template <class View>
class EventLoopOf {
public:
    explicit EventLoopOf(View& view) : view_(view)
    {
        for (uint8_t& d : direction_)
            d = DIR_NONE;
    }

    // Returns when a quit condition arrives: SDL_QUIT, the quit key or
    // EVT_QUIT_LOOP. -1 when SDL cannot wait for events any more.
    int Run()
    {
        for (;;) {
            const Turned turned = Turn(SDL_WaitEvent);
            if (turned != Turned::kGoOn)
                return turned == Turned::kQuit ? 0 : -1;
        }
    }

    enum class Turned { kGoOn, kQuit, kWaitFailed };
    // One turn of the loop: `wait` (SDL_WaitEvent here; a test may bring its
    // own, which hands over a wake-up when nothing came) gives SDL's next
    // event, after every one of ours.
    template <class Wait>
    Turned Turn(Wait&& wait)
    {
        SDL_Event event;
        // Our own events first: they are never dropped, and a wake-up for
        // them may have been lost to a full SDL queue.
        while (TakeUserEvent(&event))
            if (!Handle(event))
                return Turned::kQuit;
        if (!wait(&event))
            return Turned::kWaitFailed;
        if (event.type != kUserEventWake && !Handle(event))
            return Turned::kQuit;
        return Turned::kGoOn;
    }

    // One event; false when it ends the loop.
    bool Handle(SDL_Event& event)
    {
        switch (event.type) {
        case SDL_KEYDOWN:
            if (CMainMenuApp::IsQuitKey(event))
                return false;
            DispatchEventTo(view_, event);
            break;
        case SDL_JOYAXISMOTION:
            TranslateStick(event.jaxis);
            break;
        case SDL_JOYBUTTONUP:
            CMainMenuApp::RemapJoyButtonUp(event);
            DispatchEventTo(view_, event);
            break;
        case SDL_QUIT:
            return false;
        case SDL_USEREVENT:
            if (event.user.code == EVT_QUIT_LOOP)
                return false;
            DispatchEventTo(view_, event);
            break;
        default:
            DispatchEventTo(view_, event);
            break;
        }
        return true;
    }

private:
    void TranslateStick(const SDL_JoyAxisEvent& axis)
    {
        if (axis.axis > 1)
            return;
        const uint8_t current = direction_[axis.which];
        const int next = AxisDirectionTable[axis.axis * 27 + AxisZone(axis.value) * 9 + current];
        if (next == current)
            return;
        direction_[axis.which] = static_cast<uint8_t>(next);
        // The press of the new direction comes before the release of the old
        // one, both as joystick 0 whichever stick moved.
        if (next != DIR_NONE)
            DispatchEventTo(view_, StickButton(SDL_JOYBUTTONDOWN, next));
        if (current != DIR_NONE)
            DispatchEventTo(view_, StickButton(SDL_JOYBUTTONUP, current));
    }

    static SDL_Event StickButton(Uint8 type, int direction)
    {
        SDL_Event e{};
        e.type = type;
        e.jbutton.which = 0;
        e.jbutton.button = static_cast<Uint8>(direction);
        e.jbutton.state = type == SDL_JOYBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
        return e;
    }

    View& view_;
    uint8_t direction_[256];
};
