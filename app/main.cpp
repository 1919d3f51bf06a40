// The program entry and the hand-off to the menu program.

#include <cstdlib>

#include "app/logmessage.h"
#include "app/mainmenuapp.h"
#include "platform/sys.h"

namespace {

constexpr const char* kUnit = "main.cpp";

// Runs at every end of the process, a fatal start-up failure included:
// replaces the recorder with the menu program and names the view to open.
void ExitToMenu()
{
    char exit_view[64];
    theApp.GetExitView(exit_view, sizeof exit_view);
    LogMessage(kUnit, __LINE__, "exit code(%s) !!\n", exit_view);
    sys::chdir("/usr/orvo");
    sys::execl("/usr/orvo/orvomenu", "/usr/orvo/orvomenu", exit_view, static_cast<char*>(nullptr));
}

}  // namespace

int main()
{
    std::atexit(ExitToMenu);
    theApp.SDL_Initialize();
    theApp.FirstDraw();
    theApp.EventLoop();
    theApp.ExitInstance();
    return 0;
}
