#pragma once
// Scenario files: what a person does to the handheld, and when. One command
// a line, '#' starts a comment, times in milliseconds since the screen came
// up:
//
//   <ms> key down|up <key> [ctrl]           a name, an SDL key symbol by its
//                                           decimal number, or a character
//                                           ('8' in quotes: 8 is Backspace)
//   <ms> button down|up <n> [joystick]      handheld button n
//   <ms> axis <joystick> <axis> <value>     analog stick
//   <ms> touch down|up|move <x> <y>         touch screen
//   <ms> card in|out|locked                 SD card
//   <ms> card free <bytes>                  SD card with that much room
//   <ms> card stall <ms> [every <ms>]       writes and syncs on the card stall
//                                           for that long, from now (and again
//                                           every so often); 0: no more stalls
//   <ms> power cut                          the process dies at once and the
//                                           card goes back to what it last kept
//   <ms> hold on|off                        HOLD switch
//   <ms> battery <level>                    1 (full) .. 4 (low: the warning level)
//   <ms> clock <YYYY-MM-DD HH:MM:SS>        the handheld's local time
//   <ms> shot <file>                        the screen after the last flip
//   <ms> quit                               SDL_QUIT
//   <ms> dsp ok|absent|readonly|busy        /dev/dsp: usable, missing, not
//   <ms> mixer ok|absent|readonly|busy      writable, or held by another program
//   <ms> blksize <bytes>                    the sound card's fragment size from
//                                           its next open (0: the default 4096)
//   <ms> mic tone|counter|<wav file>        what the microphone hears from the
//                                           next open of /dev/dsp (a PC path)
//   <ms> oss native|emulated                /dev/dsp from its next open: a native
//                                           driver, or a sound server's emulation
//
// Input commands become real SDL events in SDL's queue. Device commands at
// time 0 describe the handheld as the recorder finds it: they take effect
// before the recorder starts.

#include <functional>
#include <string>
#include <vector>

namespace sim {

class Handheld;

struct ScenarioCommand {
    long at_ms = 0;
    bool input = false;  // acts through SDL's queue, so needs SDL running
    std::string text;    // the line, for notices
    std::function<void(Handheld&)> act;
};

// Parses a scenario; false with a message naming the line on a fault.
bool ParseScenario(const std::string& text, std::vector<ScenarioCommand>* out, std::string* error);

// The scenario named by HANDHELD_SCRIPT, if any, in two steps. Its device
// commands at time 0 are the handheld's state at power-on: PowerOn applies
// them to the machine when it is first asked anything, which the view's
// construction does before main (it reads the clock and the battery); it
// only reads the file, and leaves a fault for Load to report. The screen's
// start (platform/screen.h) does the rest: Load takes the other commands
// (a faulty file ends the process with status 2), Start runs them on a
// thread of the player once SDL runs, Stop ends that thread before SDL
// stops.
namespace scenario {
void PowerOn(Handheld& machine);
void Load();
void Start();
void Stop();
}  // namespace scenario

}  // namespace sim
