#include "app/mainmenuapp.h"

#include <cstdlib>
#include <cstring>

#include "app/logmessage.h"
#include "platform/screen.h"
#include "view/recorderview.h"

namespace {
constexpr const char* kUnit = "mainmenuapp.cpp";
}  // namespace

// Each entry keeps the other axis's part of the current direction and takes
// this axis's part from the zone.
// clang-format off
const int32_t AxisDirectionTable[54] = {
    // axis 0 (horizontal): left, centre, right
    1, 1, 2, 3, 3, 3, 2, 1, 2,
    0, 0, 8, 4, 4, 4, 8, 0, 8,
    7, 7, 6, 5, 5, 5, 6, 7, 6,
    // axis 1 (vertical): up, centre, down
    0, 1, 1, 1, 0, 7, 7, 7, 0,
    8, 2, 2, 2, 8, 6, 6, 6, 8,
    4, 3, 3, 3, 4, 5, 5, 5, 4,
};
// clang-format on

CMainMenuApp theApp;

CMainMenuApp::CMainMenuApp()
{
    LogMessage(kUnit, __LINE__, "CMainMenuApp()\n");
    screen = nullptr;
    SetExitView("--view-apps");
    view = new CRecorderView();
}

CMainMenuApp::~CMainMenuApp()
{
    Release(false);
    LogMessage(kUnit, __LINE__, "~CMainMenuApp()\n");
}

void CMainMenuApp::SetExitView(const char* view_name)
{
    std::strncpy(exit_view_, view_name, sizeof exit_view_ - 1);
    exit_view_[sizeof exit_view_ - 1] = '\0';
    ++exit_views_set_;
}

int CMainMenuApp::ExitViewsSet()
{
    return exit_views_set_;
}

void CMainMenuApp::GetExitView(char* out, size_t size)
{
    std::strncpy(out, exit_view_, size - 1);
    out[size - 1] = '\0';
}

SDL_Surface* CMainMenuApp::SDL_Initialize()
{
    LogMessage(kUnit, __LINE__, "CMainMenuApp::SDL_Initialize()\n");
    if (platform::StartScreen(SDL_INIT_TIMER | SDL_INIT_AUDIO | SDL_INIT_VIDEO |
                              SDL_INIT_JOYSTICK) < 0) {
        LogMessage(kUnit, __LINE__, "Unable to init SDL : %s\n", SDL_GetError());
        std::exit(1);
    }
    if (SDL_NumJoysticks() > 0) {
        joystick0 = SDL_JoystickOpen(0);
        if (!joystick0) {
            LogMessage(kUnit, __LINE__, "Couldn't open joystick 0: %s\n", SDL_GetError());
            std::exit(1);
        }
    }
    if (SDL_NumJoysticks() > 1) {
        joystick1 = SDL_JoystickOpen(1);
        if (!joystick1) {
            LogMessage(kUnit, __LINE__, "Couldn't open joystick 1: %s\n", SDL_GetError());
            std::exit(1);
        }
    }
    SDL_EnableKeyRepeat(500, 30);
    SDL_ShowCursor(0);
    screen = SDL_SetVideoMode(320, 240, 24, 0);
    if (!screen) {
        LogMessage(kUnit, __LINE__, "Couldn't set 320x240x16 video mode: %s\n", SDL_GetError());
        std::exit(2);
    }
    // Without its skin, help page or message strip the view returns before
    // it has made its audio stream; it could only pretend to record, so it
    // goes back to the menu, as for its other images. A missing font (-3)
    // costs only the texts.
    if (view && view->Initialize() < 0 && !view->wav) {
        LogMessage(kUnit, __LINE__, "The recorder cannot run without its images.\n");
        std::exit(3);
    }
    return screen;
}

void CMainMenuApp::FirstDraw()
{
    if (view && screen)
        view->DrawScreen(screen);
}

int CMainMenuApp::EventLoop()
{
    if (!view)
        return -1;
    return EventLoopOf<CRecorderView>(*view).Run();
}

void CMainMenuApp::DispatchEvent(const SDL_Event& event)
{
    if (view)
        DispatchEventTo(*view, event);
}

void CMainMenuApp::RemapJoyButtonUp(SDL_Event& event)
{
    event.jbutton.which = 0;
    if (event.jbutton.button <= 10)
        event.jbutton.button = static_cast<Uint8>(event.jbutton.button + 8);
}

bool CMainMenuApp::IsQuitKey(const SDL_Event& event)
{
    return event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_c &&
           (event.key.keysym.mod & (KMOD_LCTRL | KMOD_RCTRL)) != 0;
}

void CMainMenuApp::ExitInstance()
{
    Release(true);
    LogMessage(kUnit, __LINE__, "CMainMenuApp()::ExitInstnace()\n");
}

// The destructor releases the same, but deletes the view without its own
// ExitInstance.
void CMainMenuApp::Release(bool view_exit_instance)
{
    if (joystick1) {
        SDL_JoystickClose(joystick1);
        joystick1 = nullptr;
    }
    if (joystick0) {
        SDL_JoystickClose(joystick0);
        joystick0 = nullptr;
    }
    if (view) {
        if (view_exit_instance)
            view->ExitInstance();
        // A worker left behind by a device that hangs still uses the view:
        // it stays, reachable from here, until the process ends.
        if (view->run.LeftBehindAtWork()) {
            LogMessage(kUnit, __LINE__, "The view stays for the worker left behind.\n");
        } else {
            delete view;
            view = nullptr;
        }
    }
    if (screen) {
        SDL_FreeSurface(screen);
        screen = nullptr;
    }
    platform::StopScreen(!CRecorderView::StatusTickInDevices());
}
