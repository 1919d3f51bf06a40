// Seeded random sequences of everything a person can do to the recorder and
// to the handheld (commands, touches, the card, HOLD, the battery, the sound
// device, its failing and hanging, the clock), played against the view
// in-process with the real event
// loop, checked against what must always hold:
//  - once every message has ended and no worker runs, the run state is idle,
//    no flag or request is left set, the buttons show their idle faces and a
//    recording, a stop and a playback then work;
//  - every recording on the card is a valid WAV that declares no more than
//    it holds, its samples an unbroken counter run; in half the sequences
//    files are made small, so recordings go on in new files meanwhile, and
//    the files of the last recording join into one run, the last of them
//    its play target;
//  - the recorder leaves at most once, for a view the menu knows.
//
// MODEL_SEED (default 1) is the first seed, MODEL_SEQUENCES (default 12) how
// many follow. A failing seed is shrunk to the shortest sequence that still
// fails, printed as a scenario file for the real binary.

#include <SDL.h>
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
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
#include "sim/soundcard.h"
#include "tests/e2e/wav.h"
#include "tests/support/cost.h"
#include "ui/imagebutton.h"
#include "ui/msgbox.h"
#include "view/recorderview.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace card = sim::soundcard;

constexpr const char* kRecordFolder = "/mnt/sd/music/rec";

// One thing a person does, at a time in the sequence. Taps are a press and
// a release `hold` ms later; the rest act at once.
enum class Act { kKey, kButton, kTouch, kCard, kCardFree, kHold, kBattery, kDsp, kMixer, kClock };

struct Action {
    long at = 0;
    Act act = Act::kKey;
    int a = 0;  // key symbol, button, x, card state, bytes, on, level, node state
    int b = 0;  // y of a touch
    int hold = 30;

    // As a scenario line (or two), so a failing sequence can be replayed on
    // the real binary.
    std::string Text() const
    {
        static const char* const kCards[] = {"in", "out", "locked"};
        static const char* const kNodes[] = {"ok", "absent", "readonly", "busy", "fail", "hang"};
        std::ostringstream out;
        const auto tap = [&](const std::string& what) {
            out << at << " " << what.substr(0, what.find(' ')) << " down"
                << what.substr(what.find(' ')) << "\n"
                << at + hold << " " << what.substr(0, what.find(' ')) << " up"
                << what.substr(what.find(' ')) << "\n";
        };
        switch (act) {
        case Act::kKey:
            tap("key " + std::to_string(a));
            break;
        case Act::kButton:
            tap("button " + std::to_string(a));
            break;
        case Act::kTouch:
            tap("touch " + std::to_string(a) + " " + std::to_string(b));
            break;
        case Act::kCard:
            out << at << " card " << kCards[a] << "\n";
            break;
        case Act::kCardFree:
            out << at << " card free " << a << "\n";
            break;
        case Act::kHold:
            out << at << " hold " << (a ? "on" : "off") << "\n";
            break;
        case Act::kBattery:
            out << at << " battery " << a << "\n";
            break;
        case Act::kDsp:
            out << at << " dsp " << kNodes[a] << "\n";
            break;
        case Act::kMixer:
            out << at << " mixer " << kNodes[a] << "\n";
            break;
        case Act::kClock:
            out << "# " << at
                << ": the clock to a second before a minute that is a multiple of 5\n";
            break;
        }
        return out.str();
    }
};

using Sequence = std::vector<Action>;

std::string Text(const Sequence& sequence)
{
    std::string text;
    for (const Action& action : sequence)
        text += action.Text();
    return text;
}

// Commands 8, 10, 17 and 18 as keys and as handheld buttons, the play and
// record buttons on the screen; and the commands that leave when the
// recorder is idle: 9 and 14, and the list button.
const int kKeys[] = {SDLK_BACKSPACE, SDLK_KP_PERIOD, SDLK_UP, SDLK_DOWN};
const int kButtons[] = {0, 2, 9, 10};
const int kTouchX[] = {102, 218};
const int kLeavingKeys[] = {SDLK_TAB, SDLK_KP_PLUS};
const int kLeavingButtons[] = {1, 6};
constexpr int kListX = 298;

Sequence MakeSequence(unsigned seed)
{
    std::mt19937 random(seed);
    const auto between = [&random](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    // Leaving is rare (back and leave commands when idle, the list button, a
    // card out for long), so most sequences reach their end.
    struct Weighted {
        int weight;
        std::function<Action()> make;
    };
    const std::vector<Weighted> choices = {
        {24,
         [&] {
             return Action{0, Act::kKey, kKeys[between(0, 3)], 0, between(10, 80)};
         }},
        {14,
         [&] {
             return Action{0, Act::kButton, kButtons[between(0, 3)], 0, between(10, 80)};
         }},
        {18,
         [&] {
             return Action{0, Act::kTouch, kTouchX[between(0, 1)], 218, between(10, 120)};
         }},
        {1,
         [&] {
             switch (between(0, 4)) {
             case 0:
                 return Action{0, Act::kTouch, kListX, 218, between(10, 120)};
             case 1:
             case 2:
                 return Action{0, Act::kKey, kLeavingKeys[between(0, 1)], 0, between(10, 80)};
             default:
                 return Action{0, Act::kButton, kLeavingButtons[between(0, 1)], 0, between(10, 80)};
             }
         }},
        {1,
         [&] {
             return Action{0, Act::kCard, between(0, 2)};
         }},
        {1,
         [&] {
             return Action{0, Act::kCardFree, between(1, 6) * 40000};
         }},
        {4,
         [&] {
             return Action{0, Act::kHold, between(0, 1)};
         }},
        {5,
         [&] {
             return Action{0, Act::kBattery, between(1, 4)};
         }},
        {2,
         [&] {
             // Its states, or a failure or a hang of the DSP open then (a
             // later "ok" lifts the hang).
             return Action{0, Act::kDsp, between(0, 5)};
         }},
        {1,
         [&] {
             return Action{0, Act::kMixer, between(0, 3)};
         }},
        {4,
         [&] {
             return Action{0, Act::kClock, 0};
         }},
    };
    int total = 0;
    for (const Weighted& c : choices)
        total += c.weight;
    Sequence sequence;
    long at = between(100, 300);
    const int count = between(8, 24);
    for (int i = 0; i < count; ++i) {
        int pick = between(1, total);
        for (const Weighted& c : choices) {
            if ((pick -= c.weight) > 0)
                continue;
            Action action = c.make();
            action.at = at;
            // A card out is put back soon: a blip the monitor may or may
            // not see.
            if (action.act == Act::kCard && action.a == 1) {
                sequence.push_back(action);
                action = Action{at + between(20, 400), Act::kCard, 0};
            }
            sequence.push_back(action);
            break;
        }
        at += between(20, 400);
    }
    std::stable_sort(sequence.begin(), sequence.end(),
                     [](const Action& x, const Action& y) { return x.at < y.at; });
    return sequence;
}

// The handheld's state at the start of every sequence, and what the person
// puts back before the checks.
void PutDevicesBack()
{
    sim::Handheld& machine = sim::Handheld::Instance();
    machine.SetCard(sim::CardState::kIn);
    machine.SetCardFree(-1);
    machine.SetHold(false);
    machine.SetBattery(1);
    card::SetNodeState(card::Node::kDsp, card::NodeState::kOk);
    card::SetNodeState(card::Node::kMixer, card::NodeState::kOk);
    card::HangOpenDsp(false);
}

void Push(Uint8 type, const std::function<void(SDL_Event&)>& fill)
{
    SDL_Event event = {};
    event.type = type;
    fill(event);
    SDL_PushEvent(&event);
}

void Press(const Action& action, bool down)
{
    switch (action.act) {
    case Act::kKey:
        Push(down ? SDL_KEYDOWN : SDL_KEYUP,
             [&](SDL_Event& e) { e.key.keysym.sym = static_cast<SDLKey>(action.a); });
        break;
    case Act::kButton:
        Push(down ? SDL_JOYBUTTONDOWN : SDL_JOYBUTTONUP,
             [&](SDL_Event& e) { e.jbutton.button = static_cast<Uint8>(action.a); });
        break;
    case Act::kTouch:
        Push(down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP, [&](SDL_Event& e) {
            e.button.button = SDL_BUTTON_LEFT;
            e.button.x = static_cast<Uint16>(action.a);
            e.button.y = static_cast<Uint16>(action.b);
        });
        break;
    default:
        break;
    }
}

void ActOnDevice(const Action& action)
{
    static const card::NodeState kNodes[] = {card::NodeState::kOk, card::NodeState::kAbsent,
                                             card::NodeState::kReadOnly, card::NodeState::kBusy};
    sim::Handheld& machine = sim::Handheld::Instance();
    switch (action.act) {
    case Act::kCard:
        machine.SetCard(static_cast<sim::CardState>(action.a));
        break;
    case Act::kCardFree:
        machine.SetCardFree(action.a);
        machine.SetCard(sim::CardState::kIn);
        break;
    case Act::kHold:
        machine.SetHold(action.a != 0);
        break;
    case Act::kBattery:
        machine.SetBattery(action.a);
        break;
    case Act::kDsp:
        if (action.a == 4) {
            card::FailOpenDsp();
        } else if (action.a == 5) {
            card::HangOpenDsp(true);
        } else {
            card::SetNodeState(card::Node::kDsp, kNodes[action.a]);
            if (action.a == 0)
                card::HangOpenDsp(false);
        }
        break;
    case Act::kMixer:
        card::SetNodeState(card::Node::kMixer, kNodes[action.a]);
        break;
    case Act::kClock: {
        // A second before the next minute that is a multiple of five.
        time_t now = machine.Now();
        struct tm t {};
        gmtime_r(&now, &t);
        const int minutes = 5 - t.tm_min % 5;
        machine.SetClock(now - t.tm_sec + 60 * minutes - 1);
        break;
    }
    default:
        break;
    }
}

std::vector<std::string> Recordings()
{
    std::vector<std::string> names;
    const std::string folder = sim::Handheld::Instance().Root() + kRecordFolder;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.')
                names.push_back(folder + "/" + entry->d_name);
        closedir(dir);
    }
    return names;
}

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
                      view.help_shown.load()};
        const auto now = Clock::now();
        const uint64_t calls = sim::calls::Made().Total();
        if (!(key == key_)) {
            key_ = key;
            from_ = now;
            calls_ = calls;
            return;
        }
        const double seconds = std::chrono::duration<double>(now - from_).count();
        if (seconds < kWindow)
            return;
        const double rate = static_cast<double>(calls - calls_) / seconds;
        const double bound = support::CallsBound(key.recording, key.playing);
        double& most = g_most_calls[key.recording ? 1 : key.playing ? 2 : 0];
        most = std::max(most, rate);
        if (rate > bound && broken_.empty()) {
            std::ostringstream out;
            out << rate << " device calls a second (the bound " << bound << ") while "
                << (key.recording ? "recording"
                    : key.playing ? "playing"
                                  : "idle")
                << (key.help ? " with help open" : "") << "; ";
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
        bool operator==(const Key& o) const
        {
            return run == o.run && recording == o.recording && playing == o.playing &&
                   help == o.help;
        }
    };
    Key key_;
    Clock::time_point from_;
    uint64_t calls_ = 0;
    std::string broken_;
};

// One sequence on a fresh view, as one run of the recorder.
class Run {
public:
    // `file_limit`: the sound one file takes; 0 for the recorder's own.
    explicit Run(int64_t file_limit)
    {
        DiscardUserEvents();
        PutDevicesBack();
        card::SetBlockSize(0);
        card::SetMic("counter");
        view_ = new CRecorderView();
        ok_ = view_->Initialize() == 1;
        if (ok_ && file_limit > 0)
            view_->wav->set_file_limit(file_limit);
        loop_ = new EventLoopOf<CRecorderView>(*view_);
    }
    ~Run()
    {
        // A worker held by a hung device is left behind by a leave, as the
        // real program leaves it to the hand-off; here the process goes on,
        // so the device lets go first and the worker ends.
        card::HangOpenDsp(false);
        view_->ExitInstance();
        delete loop_;
        delete view_;
        DiscardUserEvents();
        SDL_Event e;
        while (SDL_PollEvent(&e)) {
        }
    }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    // Plays the sequence, then checks. Empty when everything held, else what
    // did not.
    std::string Check(const Sequence& sequence)
    {
        if (!ok_)
            return "the view did not initialise";
        if (!Play(sequence))
            return Left() + cost_.broken();
        PutDevicesBack();
        std::string broken = Settle();
        if (broken.empty() && !left_)
            broken = Idle("after the sequence");
        if (broken.empty() && !left_)
            broken = RecordStopPlay();
        return (broken.empty() && left_ ? Left() : broken) + cost_.broken();
    }

    bool left() const { return left_; }

private:
    // Hands the view its events until `done` holds or `ms` have passed; false
    // when the recorder has left.
    bool PumpUntil(const std::function<bool()>& done, long ms)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        SDL_Event event;
        while (!left_) {
            cost_.Look(*view_);
            if (done && done())
                return true;
            if (Clock::now() >= deadline)
                return !done;
            bool any = false;
            while (!left_ && TakeUserEvent(&event)) {
                any = true;
                left_ = !loop_->Handle(event);
            }
            while (!left_ && SDL_PollEvent(&event)) {
                any = true;
                if (event.type != kUserEventWake)
                    left_ = !loop_->Handle(event);
            }
            if (!any)
                SDL_Delay(2);
        }
        return false;
    }
    bool Pump(long ms) { return PumpUntil(nullptr, ms); }

    bool Play(const Sequence& sequence)
    {
        struct Timed {
            long at;
            const Action* action;
            bool down;
        };
        std::vector<Timed> timeline;
        for (const Action& action : sequence) {
            timeline.push_back({action.at, &action, true});
            if (action.act == Act::kKey || action.act == Act::kButton || action.act == Act::kTouch)
                timeline.push_back({action.at + action.hold, &action, false});
        }
        std::stable_sort(timeline.begin(), timeline.end(),
                         [](const Timed& x, const Timed& y) { return x.at < y.at; });
        const auto start = Clock::now();
        for (const Timed& step : timeline) {
            const long now = static_cast<long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start)
                    .count());
            if (step.at > now && !Pump(step.at - now))
                return false;
            if (left_)
                return false;
            const Action& action = *step.action;
            if (action.act == Act::kKey || action.act == Act::kButton || action.act == Act::kTouch)
                Press(action, step.down);
            else
                ActOnDevice(action);
        }
        return Pump(150);
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
            if (left_)
                return "";
            // Quiet for a moment: nothing more is on its way.
            if (!Pump(300))
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
        const std::vector<std::string> before = Recordings();
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
        std::vector<std::string> made;
        for (const std::string& path : Recordings())
            if (std::find(before.begin(), before.end(), path) == before.end())
                made.push_back(path);
        std::sort(made.begin(), made.end());
        const std::string target = sim::Handheld::Instance().Root() + view_->file_path;
        if (made.empty() || made.back() != target)
            return "the play target " + target + " is not the last file of the new recording (" +
                   std::to_string(made.size()) + " made)";
        std::string joined;
        for (const std::string& path : made) {
            const e2e::Wav wav = e2e::ReadWav(path);
            if (!wav.error.empty())
                return path + ": " + wav.error;
            joined += wav.data;
        }
        if (joined.size() < 88200 / 2)
            return "the new recording is too short: " + std::to_string(joined.size()) + " bytes";
        const std::string at = e2e::CounterBreak(joined);
        return at.empty() ? "" : "the new recording's files do not join up: a break at " + at;
    }

    void PushCommand(int key)
    {
        Action action{0, Act::kKey, key};
        Press(action, true);
        Press(action, false);
    }

    std::string Left()
    {
        char view[64] = "";
        theApp.GetExitView(view, sizeof view);
        const std::string name = view;
        if (name != "--view-apps" && name != "--view-main" && name != "--view-reclist")
            return "left for an unknown view: " + name;
        return "";
    }

    CRecorderView* view_ = nullptr;
    EventLoopOf<CRecorderView>* loop_ = nullptr;
    bool ok_ = false;
    bool left_ = false;
    CostWatch cost_;
};

// A recording cut by a pulled card may declare less than it holds (its
// header was last rewritten before the pull), never more.
std::string CheckRecordings()
{
    std::string broken;
    for (const std::string& path : Recordings()) {
        const e2e::Wav wav = e2e::ReadWav(path);
        if (!wav.error.empty())
            broken += path + ": " + wav.error + "; ";
        else if (!wav.IsRecorderFormat())
            broken += path + ": not the recorder's format; ";
        else if (wav.data_size > wav.data.size())
            broken += path + ": declares more than it holds; ";
        else if (!e2e::CounterBreak(wav.data).empty())
            broken += path + ": the counter breaks at " + e2e::CounterBreak(wav.data) + "; ";
    }
    return broken;
}

void ClearCard()
{
    for (const std::string& path : Recordings())
        std::remove(path.c_str());
}

// One whole sequence: empty when everything held.
std::string Attempt(const Sequence& sequence, int64_t file_limit, bool* left = nullptr)
{
    ClearCard();
    std::string broken;
    {
        Run run(file_limit);
        broken = run.Check(sequence);
        if (left)
            *left = run.left();
    }
    const std::string files = CheckRecordings();
    return broken + files;
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

long EnvNumber(const char* name, long fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? std::strtol(value, nullptr, 10) : fallback;
}

class Model : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER), 0) << SDL_GetError();
        ASSERT_NE(SDL_SetVideoMode(320, 240, 24, 0), nullptr);
    }
    void TearDown() override
    {
        PutDevicesBack();
        SDL_Quit();
    }
};

TEST_F(Model, RandomSequencesKeepTheInvariants)
{
    const long first = EnvNumber("MODEL_SEED", 1);
    const long count = EnvNumber("MODEL_SEQUENCES", 12);
    int left_early = 0;
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
        ADD_FAILURE() << "seed " << seed << " (files of " << file_limit << " bytes; 0: the "
                      << "recorder's own): " << broken << "\n"
                      << Text(sequence) << "the shortest sequence found that still fails ("
                      << Attempt(shortest, file_limit) << "):\n"
                      << Text(shortest);
    }
    std::printf("%ld sequences from seed %ld; %d left the recorder before the final checks\n",
                count, first, left_early);
    std::printf(
        "the most device calls a second: %.0f idle (bound %.0f), %.0f recording (%.0f), "
        "%.0f playing (%.0f)\n",
        g_most_calls[0], support::CallsBound(false, false), g_most_calls[1],
        support::CallsBound(true, false), g_most_calls[2], support::CallsBound(false, true));
}

}  // namespace
