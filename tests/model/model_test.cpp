// Seeded random sequences of everything a person can do to the recorder and
// to the handheld (commands, touches on every button, bursts of input past
// SDL's queue, the card, card stalls, HOLD, the battery, the sound device,
// its failing and hanging, the clock), played against the view in-process
// with the real event loop's own turn, checked against what must always hold:
//  - every input the loop hands the view is foreseen: from the view's state
//    then, the model knows whether it leaves and for which view, and so
//    does it for a failure's message, a card out long enough for the
//    monitor and a leave asked of a worker; a leave it did not foresee, one
//    for another view, one it foresaw and that never came, or a second
//    one, fails;
//  - once every message has ended and no worker runs, the run state is idle,
//    no flag or request is left set, the buttons show their idle faces and a
//    recording, a stop and a playback then work;
//  - every recording on the card is a valid WAV whose header declares just
//    what it holds, in whole frames, none of them empty, its samples an
//    unbroken counter run; in half the sequences files are made small, so
//    recordings go on in new files meanwhile, and the files of the last
//    recording join into one run, the last of them its play target;
//  - the main thread takes up its events while the card stalls.
//
// MODEL_SEED (default 1) is the first seed, MODEL_SEQUENCES (default 12) how
// many follow, MODEL_STALLS (default 1) the weight of card stalls among the
// actions. A failing seed is shrunk to the shortest sequence that still
// fails, written as a scenario file for the real binary at the path the
// failure names.

#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/mainmenuapp.h"
#include "app/userevent.h"
#include "audio/wavrecord.h"
#include "sim/calls.h"
#include "sim/handheld.h"
#include "sim/scenario.h"
#include "sim/sdcard.h"
#include "sim/soundcard.h"
#include "tests/support/bench.h"
#include "tests/support/cost.h"
#include "tests/support/handheld.h"
#include "tests/support/recording.h"
#include "tests/support/wait.h"
#include "ui/imagebutton.h"
#include "ui/msgbox.h"
#include "view/recorderview.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;
namespace card = sim::soundcard;

constexpr const char* kApps = "--view-apps";
constexpr const char* kMain = "--view-main";
constexpr const char* kList = "--view-reclist";

// One input event, as a scenario line: a key, a handheld button or the touch
// screen; `phase` 0 is the release, 1 the press, 2 a finger's move.
struct Input {
    char kind;  // 'k', 'b', 't'
    int a;      // key symbol, button, x
    int b;      // y of a touch
    int phase;

    std::string Line(long at) const
    {
        static const char* const kPhases[] = {"up", "down", "move"};
        std::ostringstream out;
        out << at
            << (kind == 'k'   ? " key "
                : kind == 'b' ? " button "
                              : " touch ")
            << kPhases[phase] << " " << a;
        if (kind == 't')
            out << " " << b;
        out << "\n";
        return out.str();
    }
};

// Commands 8, 10, 17 and 18 as keys and as handheld buttons, the play and
// record buttons on the screen; the commands that leave when the recorder is
// idle (9, 14, the list button); where the help page's close button sits,
// which no input can open on this recorder.
const int kKeys[] = {SDLK_BACKSPACE, SDLK_KP_PERIOD, SDLK_UP, SDLK_DOWN};
const int kButtons[] = {0, 2, 9, 10};
const int kTouchX[] = {102, 218};
const int kLeavingKeys[] = {SDLK_TAB, SDLK_KP_PLUS};
const int kLeavingButtons[] = {1, 6};
constexpr int kListX = 298;
constexpr int kHelpCloseX = 260;
constexpr int kBurstEvents = 200;
// The clock's jumps land a second before a minute that is a multiple of 5,
// when a low battery is told, from here on (2030-01-01 00:04:59 UTC).
constexpr time_t kClockBase = 1893456299;

// One thing a person does, at a time in the sequence. Taps are a press and
// a release `hold` ms later; a burst is 200 inputs at once; the rest act at
// once.
enum class Act {
    kKey,
    kButton,
    kTouch,
    kBurst,
    kCard,
    kCardFree,
    kStall,
    kHold,
    kBattery,
    kDsp,
    kMixer,
    kClock
};

struct Action {
    long at = 0;
    Act act = Act::kKey;
    int a = 0;  // key, button, x, burst's seed, card state, bytes, ms, on, level, node state,
                // five minutes from kClockBase
    int b = 0;  // y of a touch
    int hold = 30;

    bool IsInput() const { return act == Act::kKey || act == Act::kButton || act == Act::kTouch; }
    Input Tap(int phase) const
    {
        return {act == Act::kKey ? 'k' : act == Act::kButton ? 'b' : 't', a, b, phase};
    }
};

// The inputs of a burst: taps of the play and record buttons and keys, the
// version key and a finger's moves, and in a quarter of them two leaving
// taps early on, the first of which must be the only one taken.
std::vector<Input> Burst(unsigned seed)
{
    std::mt19937 random(seed);
    const auto pick = [&random](int n) { return static_cast<int>(random() % n); };
    std::vector<std::vector<Input>> units;
    while (units.size() < kBurstEvents) {
        const int x = kTouchX[pick(2)];
        switch (pick(4)) {
        case 0:
            units.push_back({{'t', x, 218, 1}, {'t', x, 218, 0}});
            break;
        case 1:
            units.push_back({{'k', SDLK_UP, 0, 1}, {'k', SDLK_UP, 0, 0}});
            break;
        case 2:
            units.push_back({{'k', kKeys[pick(4)], 0, 0}});
            break;
        default:
            units.push_back({{'t', pick(320), pick(240), 2}});
            break;
        }
    }
    if (pick(4) == 0)
        for (int i = 0; i < 2; ++i)
            units.insert(units.begin() + pick(40),
                         std::vector<Input>{{'k', kLeavingKeys[pick(2)], 0, 1},
                                            {'k', kLeavingKeys[pick(2)], 0, 0}});
    std::vector<Input> inputs;
    for (const auto& unit : units)
        inputs.insert(inputs.end(), unit.begin(), unit.end());
    inputs.resize(kBurstEvents);
    return inputs;
}

std::string ClockText(int step)
{
    const time_t at = kClockBase + 300 * static_cast<time_t>(step);
    struct tm t {};
    gmtime_r(&at, &t);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &t);
    return text;
}

// As scenario lines, so a failing sequence can be replayed on the real
// binary.
std::string Text(const Action& action)
{
    static const char* const kCards[] = {"in", "out", "locked"};
    static const char* const kNodes[] = {"ok", "absent", "readonly", "busy", "fail", "hang"};
    const long at = action.at;
    std::ostringstream out;
    switch (action.act) {
    case Act::kKey:
    case Act::kButton:
    case Act::kTouch:
        out << action.Tap(1).Line(at) << action.Tap(0).Line(at + action.hold);
        break;
    case Act::kBurst:
        for (const Input& input : Burst(static_cast<unsigned>(action.a)))
            out << input.Line(at);
        break;
    case Act::kCard:
        out << at << " card " << kCards[action.a] << "\n";
        break;
    case Act::kCardFree:
        out << at << " card free " << action.a << "\n";
        break;
    case Act::kStall:
        out << at << " card stall " << action.a << "\n";
        break;
    case Act::kHold:
        out << at << " hold " << (action.a ? "on" : "off") << "\n";
        break;
    case Act::kBattery:
        out << at << " battery " << action.a << "\n";
        break;
    case Act::kDsp:
        out << at << " dsp " << kNodes[action.a] << "\n";
        break;
    case Act::kMixer:
        out << at << " mixer " << kNodes[action.a] << "\n";
        break;
    case Act::kClock:
        out << at << " clock " << ClockText(action.a) << "\n";
        break;
    }
    return out.str();
}

using Sequence = std::vector<Action>;

long EnvNumber(const char* name, long fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? std::strtol(value, nullptr, 10) : fallback;
}

long End(const Sequence& sequence)
{
    long end = 0;
    for (const Action& action : sequence)
        end = std::max(end, action.at + (action.IsInput() ? action.hold : 0));
    return end;
}

// The sequence's lines in the order of their times: a tap's release may come
// after a later action's start.
std::string SequenceLines(const Sequence& sequence)
{
    std::vector<std::string> lines;
    for (const Action& action : sequence) {
        std::istringstream text(Text(action));
        for (std::string line; std::getline(text, line);)
            lines.push_back(line + "\n");
    }
    std::stable_sort(lines.begin(), lines.end(), [](const std::string& x, const std::string& y) {
        return std::stol(x) < std::stol(y);
    });
    std::string out;
    for (const std::string& line : lines)
        out += line;
    return out;
}

// The handheld as every sequence found it, put back a moment after the
// sequence's end, before the checks.
std::string PutBackLines(const Sequence& sequence)
{
    const long end = End(sequence) + 150;
    std::ostringstream out;
    if (std::any_of(sequence.begin(), sequence.end(),
                    [](const Action& action) { return action.act == Act::kCardFree; }))
        out << end << " card free 4000000000000\n";
    out << end << " card in\n"
        << end << " card stall 0\n"
        << end << " hold off\n"
        << end << " battery 1\n"
        << end << " dsp ok\n"
        << end << " mixer ok\n";
    return out.str();
}

// A command the person gives once the recorder is ready for it.
std::string CommandLines(int key)
{
    return Text(Action{0, Act::kKey, key, 0, 0});
}

// The whole scenario: the lines the test played, then what it does after
// them, as near as fixed times come: the messages waited out, a recording
// of a second played back.
std::string Scenario(const Sequence& sequence, unsigned seed, int64_t file_limit)
{
    std::ostringstream out;
    out << "# The model test's seed " << seed << ", shrunk; TZ=UTC.\n";
    if (file_limit > 0)
        out << "# The test made files of " << file_limit
            << " bytes, which no scenario can: the program's own size here.\n";
    out << "# The last keys came as the recorder was ready for each, not at these times.\n";
    out << "0 mic counter\n" << SequenceLines(sequence) << PutBackLines(sequence);
    long at = End(sequence) + 150 + 4000;
    for (const int key : {SDLK_DOWN, SDLK_DOWN, SDLK_BACKSPACE}) {
        out << Text(Action{at, Act::kKey, key});
        at += 1500;
    }
    out << at + 2000 << " quit\n";
    return out.str();
}

Sequence MakeSequence(unsigned seed)
{
    std::mt19937 random(seed);
    const auto between = [&random](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    const auto tap = [&](Act act, int what, int y = 0) {
        return Sequence{{0, act, what, y, between(10, act == Act::kTouch ? 120 : 80)}};
    };
    // Leaving is rare (back and leave commands when idle, the list button, a
    // card out for long), so most sequences reach their end.
    struct Weighted {
        long weight;
        std::function<Sequence()> make;
    };
    const std::vector<Weighted> choices = {
        {24, [&] { return tap(Act::kKey, kKeys[between(0, 3)]); }},
        {14, [&] { return tap(Act::kButton, kButtons[between(0, 3)]); }},
        {18, [&] { return tap(Act::kTouch, kTouchX[between(0, 1)], 218); }},
        {1, [&] { return tap(Act::kTouch, kListX, 218); }},
        {2, [&] { return tap(Act::kTouch, kHelpCloseX, 215); }},
        {1,
         [&] {
             return between(0, 1) ? tap(Act::kKey, kLeavingKeys[between(0, 1)])
                                  : tap(Act::kButton, kLeavingButtons[between(0, 1)]);
         }},
        {2,
         [&] {
             return Sequence{{0, Act::kBurst, between(0, 1 << 30)}};
         }},
        {1,
         [&] {
             // A card out is put back soon, a blip the monitor may or may
             // not see; now and then only after the monitor must have.
             const int state = between(0, 2);
             if (state != 1)
                 return Sequence{{0, Act::kCard, state}};
             return Sequence{{0, Act::kCard, 1},
                             {between(0, 5) ? between(20, 400) : 3500, Act::kCard, 0}};
         }},
        {2,
         [&] {
             // Record while the card is out, before the monitor sees it:
             // message 3, and the buttons come back after it.
             return Sequence{{0, Act::kCard, 1},
                             {5, Act::kKey, kKeys[between(0, 1) ? 3 : 1], 0, 10},
                             {60, Act::kCard, 0}};
         }},
        {1,
         [&] {
             return Sequence{{0, Act::kCardFree, between(1, 6) * 40000}};
         }},
        {EnvNumber("MODEL_STALLS", 1),
         [&] {
             // A stall, ended early now and then.
             const int ms = between(4000, 7000);
             Sequence stall{{0, Act::kStall, ms}};
             if (between(0, 2) == 0)
                 stall.push_back({between(300, ms - 300), Act::kStall, 0});
             return stall;
         }},
        {4,
         [&] {
             return Sequence{{0, Act::kHold, between(0, 1)}};
         }},
        {5,
         [&] {
             return Sequence{{0, Act::kBattery, between(1, 4)}};
         }},
        // Its states, or a failure or a hang of the DSP open then (a later
        // "ok" lifts the hang).
        {2,
         [&] {
             return Sequence{{0, Act::kDsp, between(0, 5)}};
         }},
        {1,
         [&] {
             return Sequence{{0, Act::kMixer, between(0, 3)}};
         }},
        {4,
         [&] {
             return Sequence{{0, Act::kClock, between(0, 100000)}};
         }},
    };
    long total = 0;
    for (const Weighted& c : choices)
        total += c.weight;
    Sequence sequence;
    long at = between(100, 300);
    const int count = between(8, 24);
    for (int i = 0; i < count; ++i) {
        long pick = between(1, static_cast<int>(total));
        for (const Weighted& c : choices) {
            if ((pick -= c.weight) > 0)
                continue;
            // The parts of one choice are timed from its start.
            for (Action action : c.make()) {
                action.at += at;
                sequence.push_back(action);
            }
            break;
        }
        at += between(20, 400);
    }
    std::stable_sort(sequence.begin(), sequence.end(),
                     [](const Action& x, const Action& y) { return x.at < y.at; });
    return sequence;
}

// What the recorder must do with the exits, foreseen from each input in the
// view's state when the loop hands it over and from the devices' changes.
class ExitModel {
public:
    // An input the loop is about to hand the view.
    void Handing(const SDL_Event& e, const CRecorderView& view)
    {
        int code = -1;
        if (e.type == SDL_KEYUP)
            code = e.key.keysym.sym & 0xFF;
        else if (e.type == SDL_JOYBUTTONUP)
            code = e.jbutton.button <= 10 ? e.jbutton.button + 8 : e.jbutton.button;
        const bool busy = view.recording || view.playing;
        const SDL_Rect& list = view.list_button->screen_rect;
        if (e.type == SDL_MOUSEBUTTONUP && view.list_button->IsEnabled() && !busy &&
            list.x <= e.button.x && e.button.x <= list.x + list.w && list.y <= e.button.y &&
            e.button.y <= list.y + list.h)
            Now(kList, "the list button");
        else if (code == CMD_BACK && !view.help_shown && !busy)
            Now(kApps, "back when idle");
        else if (code == CMD_LEAVE)
            busy ? Later(kMain, "leave during a run") : Now(kMain, "leave when idle");
    }
    // The view's state and the devices' on a turn of the loop.
    void Look(const CRecorderView& view, bool card_out)
    {
        const auto now = Clock::now();
        if (card_out && out_since_ == Clock::time_point())
            out_since_ = now;
        if (card_out)
            card_seen_until_ = now + std::chrono::seconds(5);
        else
            out_since_ = Clock::time_point();
        // The monitor looks once a second, and then leaves at once.
        if (card_out && now - out_since_ > std::chrono::seconds(3))
            Later(kMain, "the card out for 3 s");
        const int shown =
            view.msg_box && view.msg_box->visible ? view.msg_box->msg_index.load() : -1;
        if (shown == MSG_RECORD_FAILED || shown == MSG_PLAY_FAILED) {
            Later(kMain, "failure message " + std::to_string(shown));
            if (!device_failing_ && broken_.empty())
                broken_ = "failure message " + std::to_string(shown) +
                          " with no card or sound device failing; ";
        }
    }
    // A card, a card stall or a sound device that may fail a run.
    void DeviceChanged() { device_failing_ = true; }

    // The loop has ended: the view left for is the one foreseen.
    void Left(const std::string& view)
    {
        const bool card_seen = Clock::now() < card_seen_until_;
        if (!due_.empty() && view != due_)
            broken_ += "left for " + view + ", not for " + due_ + " (" + why_ + "); ";
        else if (due_.empty() && !(view == kMain && card_seen))
            broken_ += "left for " + view + " unforeseen; ";
        due_.clear();
    }
    // A leave foreseen that has not come.
    const std::string& due() const { return due_; }
    std::string Missing() const { return "no leave for " + due_ + " (" + why_ + "); "; }
    const std::string& broken() const { return broken_; }

private:
    // A leave at once takes the place of one that waits for its moment.
    void Now(const char* view, const std::string& why)
    {
        if (!now_) {
            due_ = view;
            why_ = why;
        }
        now_ = true;
    }
    void Later(const char* view, const std::string& why)
    {
        if (due_.empty()) {
            due_ = view;
            why_ = why;
        }
    }

    std::string due_;
    std::string why_;
    bool now_ = false;
    bool device_failing_ = false;
    Clock::time_point out_since_{};
    Clock::time_point card_seen_until_{};
    std::string broken_;
};
// The most calls a second seen in any window, idle, recording and playing,
// over all the sequences: printed beside the bounds.
double g_most_calls[3] = {0, 0, 0};

// Watches the calls a second in every state the run settles in for a while,
// whatever came before it.
class CostWatch {
public:
    // Looks at the state now; names a state whose calls exceeded its bound.
    void Look(const CRecorderView& view)
    {
        const Key key{view.run.state(), view.recording.load(), view.playing.load(),
                      view.help_shown.load(), sim::sdcard::OpenFiles() > 0};
        const auto now = Clock::now();
        const sim::calls::Counts calls = sim::calls::Made();
        if (!(key == key_)) {
            key_ = key;
            from_ = now;
            calls_ = calls;
            return;
        }
        const double seconds = std::chrono::duration<double>(now - from_).count();
        if (seconds < kWindow)
            return;
        // Outside a run, a recording's files still open on the card are its
        // writer catching up with a card that stalled: finite work, as fast
        // as the card takes it, which the run's bound does not cover.
        const bool catching_up = key.files_open && !key.recording && !key.playing;
        const uint64_t counted =
            calls.Total() - calls_.Total() - (catching_up ? calls.card - calls_.card : 0);
        const double rate = static_cast<double>(counted) / seconds;
        const double bound = support::CallsBound(key.recording, key.playing);
        double& most = g_most_calls[key.recording ? 1 : key.playing ? 2 : 0];
        most = std::max(most, rate);
        if (rate > bound && broken_.empty()) {
            std::ostringstream out;
            out << rate << " device calls a second (the bound " << bound << ") while "
                << (key.recording ? "recording"
                    : key.playing ? "playing"
                                  : "idle")
                << (key.help ? " with help open" : "")
                << (catching_up ? " and the card's calls left out" : "") << " (in " << seconds
                << " s: DSP " << calls.dsp - calls_.dsp << ", mixer " << calls.mixer - calls_.mixer
                << ", GPIO " << calls.gpio - calls_.gpio << ", card " << calls.card - calls_.card
                << "); ";
            broken_ = out.str();
        }
        from_ = now;
        calls_ = calls;
    }
    const std::string& broken() const { return broken_; }

private:
    static constexpr double kWindow = 0.5;
    struct Key {
        RunState run = RunState::kStopping;
        bool recording = false;
        bool playing = false;
        bool help = false;
        bool files_open = false;
        bool operator==(const Key& o) const
        {
            return run == o.run && recording == o.recording && playing == o.playing &&
                   help == o.help && files_open == o.files_open;
        }
    };
    Key key_;
    Clock::time_point from_;
    sim::calls::Counts calls_;
    std::string broken_;
};

// One sequence on a fresh view, as one run of the recorder.
class Run {
public:
    // `file_limit`: the sound one file takes; 0 for the recorder's own.
    explicit Run(int64_t file_limit) : bench_("counter"), view_(&bench_.view())
    {
        if (bench_.error().empty() && file_limit > 0)
            view_->wav->set_file_limit(file_limit);
        bench_.OnTurn([this] { Look(); });
        bench_.OnEvent([this](const SDL_Event& event) {
            model_.Handing(event, *view_);
            return true;
        });
    }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    // Plays the sequence, then checks. Empty when everything held, else what
    // did not.
    std::string Check(const Sequence& sequence)
    {
        if (!bench_.error().empty())
            return bench_.error();
        std::string broken;
        if (Play(sequence)) {
            // A leave foreseen comes before the person goes on.
            if (!model_.due().empty())
                PumpUntil(nullptr, 15000);
            if (!left_)
                broken = Settle();
            if (broken.empty() && !left_)
                broken = Idle("after the sequence");
            if (broken.empty() && !left_)
                broken = RecordStopPlay();
        }
        if (!left_ && !model_.due().empty())
            broken += model_.Missing();
        return broken + model_.broken() + cost_.broken() + stall_ + played_;
    }

    bool left() const { return left_; }

private:
    // Turns the real loop until `done` holds or `ms` have passed; false when
    // the recorder has left, or when `ms` passed first.
    bool PumpUntil(const std::function<bool()>& done, long ms)
    {
        const bool held = bench_.Until(done, Ms(ms));
        NoteLeave();
        return held;
    }
    // Turns the real loop for `ms`; false when the recorder has left.
    bool Pump(long ms)
    {
        const bool stayed = bench_.For(Ms(ms));
        NoteLeave();
        return stayed;
    }
    void NoteLeave()
    {
        if (bench_.left() && !left_) {
            left_ = true;
            model_.Left(support::Bench::ExitView());
        }
    }

    // What the model and the cost watch see on every turn; and since the
    // last turn the main thread took up no event: never for most of a
    // stall, as it would if it waited on the card. (Seconds: a loaded
    // machine does not hold it that long.)
    void Look()
    {
        const auto now = Clock::now();
        if (now - last_turn_ > Ms(3000) && last_turn_ < stalled_until_ && stall_.empty())
            stall_ = "the main thread took up no event for " +
                     std::to_string(std::chrono::duration_cast<Ms>(now - last_turn_).count()) +
                     " ms while the card stalled; ";
        last_turn_ = now;
        cost_.Look(*view_);
        model_.Look(*view_, sim::Handheld::Instance().Card() == sim::CardState::kOut);
    }

    // Plays scenario lines through the simulator's own parser, each at its
    // time from `start`: the file written for a failure is just what ran.
    // False when the recorder left first.
    bool PlayLines(const std::string& text, Clock::time_point start, bool devices_may_fail)
    {
        std::vector<sim::ScenarioCommand> commands;
        std::string error;
        if (!sim::ParseScenario(text, &commands, &error)) {
            played_ += "the test's own lines do not parse: " + error + "; ";
            return false;
        }
        for (const sim::ScenarioCommand& command : commands) {
            const long now =
                static_cast<long>(std::chrono::duration_cast<Ms>(Clock::now() - start).count());
            if (command.at_ms > now && !Pump(command.at_ms - now))
                return false;
            std::istringstream words(command.text);
            long at = 0;
            std::string what, mode;
            words >> at >> what >> mode;
            if (what == "card" && mode == "stall") {
                long ms = 0;
                words >> ms;
                stalled_until_ = Clock::now() + Ms(ms);
            }
            if (devices_may_fail && (what == "card" || what == "dsp" || what == "mixer"))
                model_.DeviceChanged();
            command.act(sim::Handheld::Instance());
            ran_ += command.text + "\n";
        }
        return true;
    }

    // The sequence, then the devices put back: false when the recorder left
    // first. Every line up to there has acted, in the file's order.
    bool Play(const Sequence& sequence)
    {
        const std::string lines = SequenceLines(sequence);
        const auto start = Clock::now();
        const bool played =
            PlayLines(lines, start, true) && PlayLines(PutBackLines(sequence), start, false);
        const std::string wanted = played ? lines + PutBackLines(sequence) : lines;
        if (played ? ran_ != wanted : wanted.compare(0, ran_.size(), ran_) != 0) {
            size_t at = 0;
            while (at < ran_.size() && at < wanted.size() && ran_[at] == wanted[at])
                ++at;
            at = wanted.rfind('\n', at == 0 ? 0 : at - 1);
            at = at == std::string::npos ? 0 : at + 1;
            played_ += "the scenario's line \"" + wanted.substr(at, wanted.find('\n', at) - at) +
                       "\" is not the one that acted next; ";
        }
        return played;
    }

    bool MessageOn() const
    {
        return view_->msg_box && (view_->msg_box->visible || view_->msg_box->timer_id);
    }

    // The person waits for the messages to end and finishes a run that is
    // still going: stops a recording, lets a playback end.
    std::string Settle()
    {
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (Clock::now() < deadline) {
            if (view_->recording)
                PushCommand(SDLK_DOWN);
            if (!PumpUntil([&] { return !MessageOn() && !view_->run.Busy(); }, 15000))
                return left_ ? "" : "still busy after 15 s";
            // Quiet for a moment: nothing more is on its way.
            if (!Pump(300) || left_)
                return "";
            if (!MessageOn() && !view_->run.Busy())
                return "";
        }
        return "messages or a run went on for 30 s";
    }
    std::string Idle(const std::string& when)
    {
        std::ostringstream broken;
        const auto require = [&](bool holds, const char* what) {
            if (!holds)
                broken << what << " " << when << "; ";
        };
        require(view_->run.state() == RunState::kIdle, "run state not idle");
        require(!view_->recording && !view_->playing, "recording or playing set");
        require(!view_->stop_request && !view_->exit_request, "a request left set");
        require(!view_->record_thread && !view_->play_thread, "a worker registered");
        require(view_->elapsed_sec == 0, "counter not at zero");
        require(!view_->help_shown, "help shown");
        for (CMemButton* button : {view_->play_button, view_->record_button, view_->list_button}) {
            require(button->IsEnabled(), "a button disabled");
            require(button->GetState() == 0, "a button not in its idle state");
        }
        if (!broken.str().empty() && view_->msg_box)
            broken << "(the last message " << view_->msg_box->msg_index << ") ";
        return broken.str();
    }

    std::string RecordStopPlay()
    {
        const std::vector<std::string> before = support::Recordings();
        PushCommand(SDLK_DOWN);
        // Generous bounds: the machine may be busy with sanitizers and
        // other tests; the checks are about what happens, not how fast.
        if (!PumpUntil([&] { return view_->recording.load(); }, 3000))
            return left_ ? "" : "a new recording did not start";
        Pump(1200);
        PushCommand(SDLK_DOWN);
        if (!PumpUntil([&] { return !view_->run.Busy() && !view_->recording; }, 10000))
            return left_ ? "" : "the new recording did not stop";
        Pump(100);
        std::string broken = CheckNewRecording(before);
        if (!broken.empty())
            return broken;
        broken = Idle("after the new recording");
        if (!broken.empty())
            return broken;
        PushCommand(SDLK_BACKSPACE);
        if (!PumpUntil([&] { return view_->playing.load(); }, 3000))
            return left_ ? "" : "the new recording did not play";
        if (!PumpUntil([&] { return !view_->run.Busy() && !view_->playing; }, 15000))
            return left_ ? "" : "the playback did not end";
        Pump(200);
        return Idle("after the playback");
    }

    // The files the new recording made, in the order of their names (the
    // clock's), hold at least half a second joined into one unbroken run,
    // and the last of them is the one to play.
    std::string CheckNewRecording(const std::vector<std::string>& before)
    {
        // A run may end before its writer has ended the file, on a loaded
        // machine: the writer goes on alone, and the file is whole once it
        // is closed.
        if (!support::CardFilesClosed())
            return "the new recording's file was never closed; ";
        std::vector<std::string> made;
        for (const std::string& path : support::Recordings())
            if (std::find(before.begin(), before.end(), path) == before.end())
                made.push_back(path);
        std::sort(made.begin(), made.end());
        const std::string target = sim::Handheld::Instance().Root() + view_->file_path;
        if (made.empty() || made.back() != target)
            return "the play target " + target + " is not the last file of the new recording (" +
                   std::to_string(made.size()) + " made)";
        const std::string broken = support::JoinedRecordingFault(made, 88200 / 2);
        return broken.empty() ? "" : "the new recording: " + broken + "; ";
    }

    void PushCommand(int key) { PlayLines(CommandLines(key), Clock::now(), false); }

    support::Bench bench_;
    CRecorderView* view_;
    bool left_ = false;
    CostWatch cost_;
    ExitModel model_;
    Clock::time_point last_turn_ = Clock::now();
    Clock::time_point stalled_until_{};
    std::string stall_;
    std::string ran_;     // the lines of the sequence that acted
    std::string played_;  // what went wrong in playing them
};

// Every file finished, whatever cut it (a full card, a pulled one, a stall,
// a leave): its header declares every byte after it, in whole frames, and
// it holds sound, an unbroken counter run. Files of one recording join up,
// checked for the last one.
std::string CheckRecordings()
{
    std::string broken;
    if (!support::CardFilesClosed())
        broken += "a card file still open; ";
    for (const std::string& path : support::Recordings()) {
        const std::string fault = support::RecordingFault(path);
        if (!fault.empty())
            broken += fault + "; ";
    }
    return broken;
}

void ClearCard()
{
    for (const std::string& path : support::Recordings())
        std::remove(path.c_str());
}

// One whole sequence: empty when everything held.
std::string Attempt(const Sequence& sequence, int64_t file_limit, bool* left = nullptr)
{
    ClearCard();
    std::string broken;
    const int named = theApp.ExitViewsSet();
    bool gone = false;
    {
        Run run(file_limit);
        broken = run.Check(sequence);
        gone = run.left();
    }
    // Counted once the view is gone: its teardown must not leave again.
    const int leaves = theApp.ExitViewsSet() - named;
    if (leaves > 1 || (gone && leaves == 0))
        broken += "named a view to leave for " + std::to_string(leaves) + " times; ";
    if (left)
        *left = gone;
    return broken + CheckRecordings();
}

// Drops actions one at a time while the sequence still fails, within a time
// budget.
Sequence Shrink(Sequence failing, int64_t file_limit, int budget_seconds)
{
    const auto deadline = Clock::now() + std::chrono::seconds(budget_seconds);
    bool smaller = true;
    while (smaller && Clock::now() < deadline) {
        smaller = false;
        for (size_t i = 0; i < failing.size() && Clock::now() < deadline; ++i) {
            Sequence candidate = failing;
            candidate.erase(candidate.begin() + static_cast<long>(i));
            if (!Attempt(candidate, file_limit).empty()) {
                failing = candidate;
                smaller = true;
                --i;
            }
        }
    }
    return failing;
}

TEST(Model, RandomSequencesKeepTheInvariants)
{
    const long first = EnvNumber("MODEL_SEED", 1);
    const long count = EnvNumber("MODEL_SEQUENCES", 12);
    int left_early = 0;
    // Told after every sequence ran, so that they end the test's long log
    // rather than hide in its middle, which a runner may cut out.
    std::vector<std::string> failures;
    for (long seed = first; seed < first + count; ++seed) {
        const Sequence sequence = MakeSequence(static_cast<unsigned>(seed));
        // Odd seeds: files of 0.4 s, so most recordings cross into new ones.
        const int64_t file_limit = seed % 2 ? 88200 * 4 / 10 : 0;
        bool left = false;
        const std::string broken = Attempt(sequence, file_limit, &left);
        left_early += left;
        if (broken.empty())
            continue;
        const Sequence shortest =
            Shrink(sequence, file_limit, static_cast<int>(EnvNumber("MODEL_SHRINK_SECONDS", 120)));
        const std::string path =
            std::string(MODEL_FAILURES_DIR) + "/model-seed-" + std::to_string(seed) + ".txt";
        const std::string scenario = Scenario(shortest, static_cast<unsigned>(seed), file_limit);
        std::ofstream(path) << scenario;
        std::ostringstream failure;
        failure << "seed " << seed << " (files of " << file_limit << " bytes; 0: the "
                << "recorder's own): " << broken << "\nthe shortest sequence found that "
                << "still fails (" << Attempt(shortest, file_limit) << "), " << shortest.size()
                << " of " << sequence.size() << " actions, as a scenario in " << path << ":\n"
                << scenario;
        failures.push_back(failure.str());
    }
    for (const std::string& failure : failures)
        ADD_FAILURE() << failure;
    std::printf("%ld sequences from seed %ld; %d left the recorder before the final checks\n",
                count, first, left_early);
    std::printf(
        "the most device calls a second: %.0f idle (bound %.0f), %.0f recording (%.0f), "
        "%.0f playing (%.0f)\n",
        g_most_calls[0], support::CallsBound(false, false), g_most_calls[1],
        support::CallsBound(true, false), g_most_calls[2], support::CallsBound(false, true));
}

// A recording stopped in a long stall ends its run before its writer has the
// card back, and the writer catches up afterwards, file after small file,
// while the recorder is idle: a burst of card calls that is the run's own
// work, not a thread that spins.
TEST(Model, AWriterCatchingUpAfterItsRunKeepsTheInvariants)
{
    const Sequence sequence = {
        {300, Act::kKey, SDLK_DOWN},
        {800, Act::kStall, 6000},
        {1500, Act::kKey, SDLK_DOWN},
        {9000, Act::kHold, 0},
    };
    EXPECT_EQ(Attempt(sequence, 88200 * 4 / 10), "");
}

}  // namespace
