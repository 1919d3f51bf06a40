#include "sim/scenario.h"

#include <SDL.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <limits>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "sim/calls.h"
#include "sim/faults.h"
#include "sim/frames.h"
#include "sim/handheld.h"
#include "sim/sdcard.h"
#include "sim/soundcard.h"

namespace sim {
namespace {

using Words = std::vector<std::string>;

// The words that may follow a command that takes one of a few, from the
// table of commands below: the parsers check against them, and
// ScenarioCommands shows them to the reference. A table built on first use,
// as the scenario is first read while the recorder's globals are built.
const Words& ModesOf(const std::string& command);

bool OneOf(const std::string& word, const Words& choices)
{
    return std::find(choices.begin(), choices.end(), word) != choices.end();
}

template <class Map>
Words KeysOf(const Map& map)
{
    Words keys;
    for (const auto& entry : map)
        keys.push_back(entry.first);
    return keys;
}

// 64 bits on every build: a card's room is more than a 32-bit long holds on
// the handheld's own build, where cards of many gigabytes are common.
bool ToInt64(const std::string& word, int64_t* value)
{
    char* end = nullptr;
    errno = 0;
    const long long read = std::strtoll(word.c_str(), &end, 0);
    *value = read;
    return !word.empty() && *end == '\0' && errno == 0;
}

bool ToLong(const std::string& word, long* value)
{
    int64_t wide = 0;
    if (!ToInt64(word, &wide) || wide < std::numeric_limits<long>::min() ||
        wide > std::numeric_limits<long>::max())
        return false;
    *value = static_cast<long>(wide);
    return true;
}

// A key: the name of a key a scenario is likely to press, its SDL key
// symbol as a decimal number (8 is Backspace, never the 8 key), a printable
// character that cannot be read as a number, or any printable character in
// single quotes ('8' is the 8 key). -1 for anything else.
int KeyByName(const std::string& name)
{
    static const std::map<std::string, int> names = {
        {"backspace", SDLK_BACKSPACE},
        {"tab", SDLK_TAB},
        {"return", SDLK_RETURN},
        {"escape", SDLK_ESCAPE},
        {"space", SDLK_SPACE},
        {"up", SDLK_UP},
        {"down", SDLK_DOWN},
        {"right", SDLK_RIGHT},
        {"left", SDLK_LEFT},
        {"kp_plus", SDLK_KP_PLUS},
        {"kp_minus", SDLK_KP_MINUS},
        {"home", SDLK_HOME},
        {"end", SDLK_END},
        {"pageup", SDLK_PAGEUP},
        {"pagedown", SDLK_PAGEDOWN},
        {"f1", SDLK_F1},
        {"f2", SDLK_F2},
        {"f3", SDLK_F3},
        {"f4", SDLK_F4},
    };
    auto found = names.find(name);
    if (found != names.end())
        return found->second;
    const auto printable = [](char c) { return c > ' ' && c < 127; };
    if (name.size() == 3 && name[0] == '\'' && name[2] == '\'' && printable(name[1]))
        return static_cast<unsigned char>(name[1]);
    if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos) {
        // Decimal only: "010" is 10, not an octal 8.
        errno = 0;
        const long number = std::strtol(name.c_str(), nullptr, 10);
        return errno == 0 && number < SDLK_LAST ? static_cast<int>(number) : -1;
    }
    if (name.size() == 1 && printable(name[0]))
        return static_cast<unsigned char>(name[0]);
    return -1;
}

// SDL keeps 128 events and drops the rest, as on the handheld. Said once
// per burst, so a test can tell that it did fill the queue. SDL 1.2 hands
// only the events it reads from the window to the event filter, not pushed
// ones: the filter is asked here, so that a scenario's key is the window's
// key, the device keys among them.
void Push(SDL_Event event)
{
    const SDL_EventFilter filter = SDL_GetEventFilter();
    if (filter && !filter(&event))
        return;
    static std::atomic<bool> dropping{false};
    const bool dropped = SDL_PushEvent(&event) != 0;
    if (dropped && !dropping.exchange(true))
        std::fprintf(stderr, "scenario: SDL's event queue is full; input events are dropped\n");
    else if (!dropped)
        dropping = false;
}

std::string ShotPath(Handheld& machine, const std::string& file)
{
    if (!file.empty() && file[0] == '/')
        return file;
    return machine.Root() + "/sim/" + file;
}

// Each parser turns the words after the time into an action, or names the
// fault.
using Parser = bool (*)(const Words&, ScenarioCommand*, std::string*);

bool ParseKey(const Words& w, ScenarioCommand* c, std::string* error)
{
    if (w.size() < 3 || w.size() > 4 || !OneOf(w[1], ModesOf(w[0])) ||
        (w.size() == 4 && w[3] != "ctrl")) {
        *error = "expected: key down|up <keysym> [ctrl]";
        return false;
    }
    const int sym = KeyByName(w[2]);
    if (sym < 0) {
        *error = "unknown key " + w[2] +
                 " (a name, an SDL key symbol by its number, or a character in quotes: '8')";
        return false;
    }
    SDL_Event e{};
    e.type = w[1] == "down" ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.state = w[1] == "down" ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.sym = static_cast<SDLKey>(sym);
    e.key.keysym.mod = w.size() == 4 ? KMOD_LCTRL : KMOD_NONE;
    c->input = true;
    c->act = [e](Handheld&) { Push(e); };
    return true;
}

bool ParseButton(const Words& w, ScenarioCommand* c, std::string* error)
{
    long button = 0;
    long stick = 0;
    if (w.size() < 3 || w.size() > 4 || !OneOf(w[1], ModesOf(w[0])) || !ToLong(w[2], &button) ||
        button < 0 || button > 255 ||
        (w.size() == 4 && (!ToLong(w[3], &stick) || stick < 0 || stick > 255))) {
        *error = "expected: button down|up <n> [joystick]";
        return false;
    }
    SDL_Event e{};
    e.type = w[1] == "down" ? SDL_JOYBUTTONDOWN : SDL_JOYBUTTONUP;
    e.jbutton.which = static_cast<Uint8>(stick);
    e.jbutton.button = static_cast<Uint8>(button);
    e.jbutton.state = w[1] == "down" ? SDL_PRESSED : SDL_RELEASED;
    c->input = true;
    c->act = [e](Handheld&) { Push(e); };
    return true;
}

bool ParseAxis(const Words& w, ScenarioCommand* c, std::string* error)
{
    long stick = 0;
    long axis = 0;
    long value = 0;
    if (w.size() != 4 || !ToLong(w[1], &stick) || stick < 0 || stick > 255 ||
        !ToLong(w[2], &axis) || axis < 0 || axis > 255 || !ToLong(w[3], &value) || value < -32768 ||
        value > 32767) {
        *error = "expected: axis <joystick> <axis> <value -32768..32767>";
        return false;
    }
    SDL_Event e{};
    e.type = SDL_JOYAXISMOTION;
    e.jaxis.which = static_cast<Uint8>(stick);
    e.jaxis.axis = static_cast<Uint8>(axis);
    e.jaxis.value = static_cast<Sint16>(value);
    c->input = true;
    c->act = [e](Handheld&) { Push(e); };
    return true;
}

bool ParseTouch(const Words& w, ScenarioCommand* c, std::string* error)
{
    long x = 0;
    long y = 0;
    if (w.size() != 4 || !OneOf(w[1], ModesOf(w[0])) || !ToLong(w[2], &x) || x < 0 || x > 65535 ||
        !ToLong(w[3], &y) || y < 0 || y > 65535) {
        *error = "expected: touch down|up|move <x> <y>";
        return false;
    }
    SDL_Event e{};
    if (w[1] == "move") {
        e.type = SDL_MOUSEMOTION;
        e.motion.x = static_cast<Uint16>(x);
        e.motion.y = static_cast<Uint16>(y);
    } else {
        e.type = w[1] == "down" ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
        e.button.button = SDL_BUTTON_LEFT;
        e.button.state = w[1] == "down" ? SDL_PRESSED : SDL_RELEASED;
        e.button.x = static_cast<Uint16>(x);
        e.button.y = static_cast<Uint16>(y);
    }
    c->input = true;
    c->act = [e](Handheld&) { Push(e); };
    return true;
}

const std::map<std::string, CardState>& CardStates()
{
    static const std::map<std::string, CardState> states = {
        {"in", CardState::kIn}, {"out", CardState::kOut}, {"locked", CardState::kLocked}};
    return states;
}

// "<device> hang|fail at <call>" or "<device> stall <ms> at <call>": a fault
// placed at the device's next such call.
bool IsFaultAt(const Words& w)
{
    return w.size() >= 4 && w[w.size() - 2] == "at";
}

bool ParseFaultAt(faults::Device device, const Words& w, ScenarioCommand* c, std::string* error)
{
    faults::Fault fault;
    fault.device = device;
    fault.call = w.back();
    const bool stall =
        w.size() == 5 && w[1] == "stall" && ToLong(w[2], &fault.stall_ms) && fault.stall_ms >= 0;
    const bool other = w.size() == 4 && (w[1] == "hang" || w[1] == "fail");
    const Words& calls = faults::Calls(device);
    if ((!stall && !other) || !OneOf(fault.call, calls)) {
        std::string names;
        for (const std::string& call : calls)
            names += (names.empty() ? "" : "|") + call;
        *error = "expected: " + w[0] + " hang|fail at <call> or " + w[0] +
                 " stall <ms> at <call>, the call one of " + names;
        return false;
    }
    fault.action = stall            ? faults::Action::kStall
                   : w[1] == "hang" ? faults::Action::kHang
                                    : faults::Action::kFail;
    c->act = [fault](Handheld&) { faults::Place(fault); };
    return true;
}

Words CardModes()
{
    Words modes = KeysOf(CardStates());
    modes.insert(modes.end(), {"free", "stall", "hang", "fail"});
    return modes;
}

bool ParseCard(const Words& w, ScenarioCommand* c, std::string* error)
{
    if (IsFaultAt(w))
        return ParseFaultAt(faults::Device::kCard, w, c, error);
    int64_t bytes = 0;
    long stall = 0;
    long every = 0;
    if (w.size() >= 3 && w[1] == "stall") {
        if ((w.size() != 3 && w.size() != 5) || !ToLong(w[2], &stall) || stall < 0 ||
            (w.size() == 5 && (w[3] != "every" || !ToLong(w[4], &every) || every <= stall))) {
            *error = "expected: card stall <ms> [every <ms, more than the stall>]";
            return false;
        }
        c->act = [stall, every](Handheld&) { sdcard::SetStall(stall, every); };
        return true;
    }
    if (w.size() == 3 && w[1] == "free" && ToInt64(w[2], &bytes) && bytes >= 0) {
        c->act = [bytes](Handheld& machine) {
            machine.SetCardFree(bytes);
            machine.SetCard(CardState::kIn);
        };
        return true;
    }
    const auto& states = CardStates();
    auto found = w.size() == 2 ? states.find(w[1]) : states.end();
    if (found == states.end()) {
        *error =
            "expected: card in|out|locked, card free <bytes>, card stall <ms> [every <ms>], "
            "card hang|fail at <call> or card stall <ms> at <call>";
        return false;
    }
    const CardState state = found->second;
    c->act = [state](Handheld& machine) {
        machine.SetCard(state);
        // A card put back lets go of the calls hung in it.
        if (state == CardState::kIn)
            faults::Heal(faults::Device::kCard);
    };
    return true;
}

bool ParseHold(const Words& w, ScenarioCommand* c, std::string* error)
{
    if (w.size() != 2 || !OneOf(w[1], ModesOf(w[0]))) {
        *error = "expected: hold on|off";
        return false;
    }
    const bool on = w[1] == "on";
    c->act = [on](Handheld& machine) { machine.SetHold(on); };
    return true;
}

bool ParseBattery(const Words& w, ScenarioCommand* c, std::string* error)
{
    long level = 0;
    if (w.size() != 2 || !ToLong(w[1], &level) || level < 0 || level > 65535) {
        *error = "expected: battery <level 1 (full)..4 (low)>";
        return false;
    }
    c->act = [level](Handheld& machine) { machine.SetBattery(static_cast<int>(level)); };
    return true;
}

bool ParseClock(const Words& w, ScenarioCommand* c, std::string* error)
{
    struct tm when {};
    const std::string text = w.size() == 3 ? w[1] + " " + w[2] : "";
    const char* end = strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &when);
    if (!end || *end) {
        *error = "expected: clock <YYYY-MM-DD HH:MM:SS>";
        return false;
    }
    when.tm_isdst = -1;
    const time_t at = mktime(&when);
    c->act = [at](Handheld& machine) { machine.SetClock(at); };
    return true;
}

bool ParseShot(const Words& w, ScenarioCommand* c, std::string* error)
{
    if (w.size() != 2) {
        *error = "expected: shot <file.bmp|file.png>";
        return false;
    }
    const std::string file = w[1];
    c->input = true;
    c->act = [file](Handheld& machine) { frames::SaveLast(ShotPath(machine, file)); };
    return true;
}

bool ParseCalls(const Words& w, ScenarioCommand* c, std::string* error)
{
    if (w.size() != 2) {
        *error = "expected: calls <file>";
        return false;
    }
    const std::string file = w[1];
    c->act = [file](Handheld& machine) {
        const calls::Counts n = calls::Made();
        const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
        std::ofstream out(ShotPath(machine, file), std::ios::app);
        out << ms << " " << n.dsp << " " << n.mixer << " " << n.gpio << " " << n.card << "\n";
        if (!out)
            Notice("cannot write the calls to %s", file.c_str());
    };
    return true;
}

bool ParseQuit(const Words& w, ScenarioCommand* c, std::string* error)
{
    if (w.size() != 1) {
        *error = "expected: quit";
        return false;
    }
    SDL_Event e{};
    e.type = SDL_QUIT;
    c->input = true;
    c->act = [e](Handheld&) { Push(e); };
    return true;
}

const std::map<std::string, soundcard::NodeState>& SoundNodeStates()
{
    static const std::map<std::string, soundcard::NodeState> states = {
        {"ok", soundcard::NodeState::kOk},
        {"absent", soundcard::NodeState::kAbsent},
        {"readonly", soundcard::NodeState::kReadOnly},
        {"busy", soundcard::NodeState::kBusy}};
    return states;
}

// The sound card's device nodes: "dsp" or "mixer", then the state; the DSP
// can also fail or hang where it is open, until "dsp ok".
bool ParseSoundNode(const Words& w, ScenarioCommand* c, std::string* error)
{
    const bool dsp = w[0] == "dsp";
    if (IsFaultAt(w))
        return ParseFaultAt(dsp ? faults::Device::kDsp : faults::Device::kMixer, w, c, error);
    if (dsp && w.size() == 2 && (w[1] == "fail" || w[1] == "hang")) {
        if (w[1] == "fail")
            c->act = [](Handheld&) { soundcard::FailOpenDsp(); };
        else
            c->act = [](Handheld&) { soundcard::HangOpenDsp(true); };
        return true;
    }
    const auto& states = SoundNodeStates();
    auto found = w.size() == 2 ? states.find(w[1]) : states.end();
    if (found == states.end()) {
        *error = "expected: " + w[0] +
                 (dsp ? " ok|absent|readonly|busy|fail|hang" : " ok|absent|readonly|busy") + ", " +
                 w[0] + " hang|fail at <call> or " + w[0] + " stall <ms> at <call>";
        return false;
    }
    const auto node = dsp ? soundcard::Node::kDsp : soundcard::Node::kMixer;
    const soundcard::NodeState state = found->second;
    c->act = [node, state, dsp](Handheld&) {
        soundcard::SetNodeState(node, state);
        if (state != soundcard::NodeState::kOk)
            return;
        // A device made well lets go of the calls hung in it.
        if (dsp)
            soundcard::HangOpenDsp(false);
        faults::Heal(dsp ? faults::Device::kDsp : faults::Device::kMixer);
    };
    return true;
}

Words SoundNodeModes()
{
    Words modes = KeysOf(SoundNodeStates());
    modes.insert(modes.end(), {"fail", "hang", "stall"});
    return modes;
}

// The GPIO driver: there, or missing as on a PC (the card is not watched);
// "ok" also lets go of its hung calls.
bool ParseGpio(const Words& w, ScenarioCommand* c, std::string* error)
{
    if (IsFaultAt(w))
        return ParseFaultAt(faults::Device::kGpio, w, c, error);
    if (w.size() != 2 || !OneOf(w[1], {"ok", "absent"})) {
        *error = "expected: gpio ok|absent, or a fault at a call";
        return false;
    }
    const bool present = w[1] == "ok";
    c->act = [present](Handheld& machine) {
        machine.SetGpioPresent(present);
        if (present)
            faults::Heal(faults::Device::kGpio);
    };
    return true;
}

bool ParseBlkSize(const Words& w, ScenarioCommand* c, std::string* error)
{
    long bytes = 0;
    if (w.size() != 2 || !ToLong(w[1], &bytes) || bytes < 0 || bytes > 65536) {
        *error = "expected: blksize <bytes 1..65536, 0 for the default>";
        return false;
    }
    c->act = [bytes](Handheld&) { soundcard::SetBlockSize(static_cast<int>(bytes)); };
    return true;
}

bool ParseMic(const Words& w, ScenarioCommand* c, std::string* error)
{
    if (w.size() != 2) {
        *error = "expected: mic tone|counter|<wav file>";
        return false;
    }
    const std::string source = w[1];
    c->act = [source](Handheld&) { soundcard::SetMic(source); };
    return true;
}

bool ParsePower(const Words& w, ScenarioCommand* c, std::string* error)
{
    if (w.size() != 2 || !OneOf(w[1], ModesOf(w[0]))) {
        *error = "expected: power cut";
        return false;
    }
    c->act = [](Handheld&) { sdcard::PowerCut(); };
    return true;
}

bool ParseOss(const Words& w, ScenarioCommand* c, std::string* error)
{
    if (w.size() != 2 || !OneOf(w[1], ModesOf(w[0]))) {
        *error = "expected: oss native|emulated|sync-only";
        return false;
    }
    const bool emulated = w[1] == "emulated";
    soundcard::Abilities abilities;
    abilities.tells_delay = w[1] != "sync-only";
    c->act = [emulated, abilities](Handheld&) {
        soundcard::SetEmulated(emulated);
        soundcard::SetAbilities(abilities);
    };
    return true;
}

struct Command {
    Parser parse;
    Words modes;
};

const std::map<std::string, Command>& Commands()
{
    static const std::map<std::string, Command> commands = {
        {"key", {ParseKey, {"down", "up"}}},
        {"button", {ParseButton, {"down", "up"}}},
        {"axis", {ParseAxis, {}}},
        {"touch", {ParseTouch, {"down", "up", "move"}}},
        {"card", {ParseCard, CardModes()}},
        {"hold", {ParseHold, {"on", "off"}}},
        {"battery", {ParseBattery, {}}},
        {"clock", {ParseClock, {}}},
        {"shot", {ParseShot, {}}},
        {"calls", {ParseCalls, {}}},
        {"quit", {ParseQuit, {}}},
        {"dsp", {ParseSoundNode, SoundNodeModes()}},
        {"mixer", {ParseSoundNode, SoundNodeModes()}},
        {"blksize", {ParseBlkSize, {}}},
        // The sources the microphone knows by name; any other word is a WAV file.
        {"mic", {ParseMic, {"tone", "counter"}}},
        {"gpio", {ParseGpio, {"ok", "absent", "hang", "fail", "stall"}}},
        {"power", {ParsePower, {"cut"}}},
        {"oss", {ParseOss, {"native", "emulated", "sync-only"}}},
    };
    return commands;
}

const Words& ModesOf(const std::string& command)
{
    return Commands().at(command).modes;
}

// "scenario at <ms> ms: <command>", as a line of the recorder's log, and
// how far an open capture has come.
void Trace(const ScenarioCommand& command)
{
    if (!Tracing())
        return;
    const size_t word = command.text.find_first_not_of(" \t");
    const size_t after = command.text.find_first_of(" \t", word);
    const size_t rest = command.text.find_first_not_of(" \t", after);
    std::string what = rest == std::string::npos ? std::string() : command.text.substr(rest);
    what.erase(what.find_last_not_of(" \t\r") + 1);
    TraceLine("scenario at %ld ms: %s", command.at_ms, what.c_str());
    soundcard::TraceCapture();
}

// The player: one thread that waits for the screen, then for each command's
// time.
struct Player {
    std::mutex lock;
    std::condition_variable wake;
    bool loaded = false;
    bool stopping = false;
    bool started = false;
    std::vector<ScenarioCommand> commands;
    std::thread thread;

    void Run()
    {
        if (!frames::WaitFirstFlip())
            return;
        const auto start = std::chrono::steady_clock::now();
        for (const ScenarioCommand& command : commands) {
            {
                std::unique_lock<std::mutex> hold(lock);
                if (wake.wait_until(hold, start + std::chrono::milliseconds(command.at_ms),
                                    [this] { return stopping; }))
                    return;
            }
            // Said before it acts, in the recorder's own stream: whatever the
            // command sets free can only be logged after this line.
            Trace(command);
            command.act(Handheld::Instance());
        }
    }
};

// Never destroyed: its thread may still run when the recorder exits.
Player& ThePlayer()
{
    static Player& player = *new Player;
    return player;
}

}  // namespace

bool ParseScenario(const std::string& text, std::vector<ScenarioCommand>* out, std::string* error)
{
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    long last_ms = 0;
    while (std::getline(lines, line)) {
        ++number;
        const std::string body = line.substr(0, line.find('#'));
        std::istringstream in(body);
        Words words;
        for (std::string word; in >> word;)
            words.push_back(word);
        if (words.empty())
            continue;
        ScenarioCommand command;
        command.text = body;
        std::string fault;
        if (!ToLong(words[0], &command.at_ms) || command.at_ms < 0) {
            fault = "a line starts with its time in milliseconds";
        } else if (command.at_ms < last_ms) {
            fault = "times must not go back";
        } else if (words.size() < 2 || !Commands().count(words[1])) {
            fault = "unknown command";
        } else {
            Commands().at(words[1]).parse(Words(words.begin() + 1, words.end()), &command, &fault);
        }
        if (!fault.empty()) {
            *error = "line " + std::to_string(number) + ": " + fault + ": " + line;
            return false;
        }
        last_ms = command.at_ms;
        out->push_back(std::move(command));
    }
    return true;
}

std::vector<ScenarioCommandForm> ScenarioCommands()
{
    std::vector<ScenarioCommandForm> forms;
    for (const auto& entry : Commands())
        forms.push_back({entry.first, entry.second.modes});
    return forms;
}

namespace scenario {
namespace {

// The commands of HANDHELD_SCRIPT, if it names one; false with the fault.
bool ReadScript(std::vector<ScenarioCommand>* commands, std::string* error)
{
    const char* path = std::getenv("HANDHELD_SCRIPT");
    if (!path || !*path)
        return true;
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    if (!file) {
        *error = std::string("scenario ") + path + ": cannot be read";
        return false;
    }
    if (!ParseScenario(text.str(), commands, error)) {
        *error = std::string("scenario ") + path + ": " + *error;
        return false;
    }
    return true;
}

// Describes the handheld before anything happens to it.
bool PowerOnState(const ScenarioCommand& command)
{
    return command.at_ms == 0 && !command.input;
}

}  // namespace

void PowerOn(Handheld& machine)
{
    std::vector<ScenarioCommand> commands;
    std::string error;
    if (!ReadScript(&commands, &error))
        return;
    for (const ScenarioCommand& command : commands)
        if (PowerOnState(command))
            command.act(machine);
}

void Load()
{
    std::vector<ScenarioCommand> commands;
    std::string error;
    if (!ReadScript(&commands, &error)) {
        Notice("%s", error.c_str());
        // Not exit: its handlers would start the menu program as if the
        // recorder had run. The recorder's lines so far still count.
        std::fflush(stdout);
        _exit(2);
    }
    Player& player = ThePlayer();
    std::lock_guard<std::mutex> hold(player.lock);
    if (player.loaded)
        return;
    player.loaded = true;
    for (ScenarioCommand& command : commands)
        if (!PowerOnState(command))
            player.commands.push_back(std::move(command));
}

void Start()
{
    Player& player = ThePlayer();
    std::lock_guard<std::mutex> hold(player.lock);
    if (player.started || player.commands.empty())
        return;
    player.started = true;
    player.thread = std::thread([&player] { player.Run(); });
}

void Stop()
{
    Player& player = ThePlayer();
    {
        std::lock_guard<std::mutex> hold(player.lock);
        player.stopping = true;
    }
    player.wake.notify_all();
    frames::Cancel();
    if (player.thread.joinable() && player.thread.get_id() != std::this_thread::get_id())
        player.thread.join();
}

}  // namespace scenario
}  // namespace sim
