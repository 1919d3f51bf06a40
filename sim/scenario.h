#pragma once
// Scenario files: what a person does to the handheld, and when. One command
// a line, '#' starts a comment, times in milliseconds since the screen came
// up. The README's "Scenario files" is the reference of every command and
// rule; a test holds it to ScenarioCommands below, so the two cannot part.
//
// Input commands become real SDL events in SDL's queue, through the event
// filter as the window's own events go. Device commands at time 0 describe
// the handheld as the recorder finds it: they take effect before the
// recorder starts.

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

// A command a scenario knows and, where the next word is one of a few, those
// words (a mic's WAV file and the like are not among them).
struct ScenarioCommandForm {
    std::string name;
    std::vector<std::string> modes;
};
std::vector<ScenarioCommandForm> ScenarioCommands();

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
