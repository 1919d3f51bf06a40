// The message box: its timing driven tick by tick, the events it posts, which
// frame it draws, and that Show, the timer and deletion can meet on any thread.

#include "ui/msgbox.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/userevent.h"

namespace {

constexpr int kFrames = 7, kFrameW = 30, kFrameH = 5;

struct Posted {
    int code;
    void* from;
    bool operator==(const Posted& o) const { return code == o.code && from == o.from; }
};

std::vector<Posted> TakeEvents()
{
    std::vector<Posted> out;
    SDL_Event e;
    while (TakeUserEvent(&e))
        out.push_back({e.user.code, e.user.data1});
    return out;
}

// Looks again every 10 ms until done() holds; false only on a hang.
template <typename Done>
bool WaitUntil(Done done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        SDL_Delay(10);
    }
    return true;
}

// An SDL timer of its own on SDL's timer thread, where the box's ticks run,
// so what it sees is in step with them: how often it has ticked, and the
// (visible, elapsed) of the box it looks at, at each change.
class Watching {
public:
    explicit Watching(Uint32 interval)
    {
        {
            State& s = state();
            std::lock_guard<std::mutex> hold(s.lock);
            s.box = nullptr;
            s.ticks = 0;
            s.seen.clear();
        }
        id_ = SDL_AddTimer(interval, Tick, nullptr);
    }
    ~Watching()
    {
        SDL_RemoveTimer(id_);
        Look(nullptr);
    }
    void Look(CMsgBox* box)
    {
        std::lock_guard<std::mutex> hold(state().lock);
        state().box = box;
    }
    std::vector<std::pair<bool, int>> Seen()
    {
        std::lock_guard<std::mutex> hold(state().lock);
        return state().seen;
    }
    // Waits until the watch has ticked `more` times from now.
    bool TicksOn(int more)
    {
        const int until = Ticks() + more;
        return WaitUntil([&] { return Ticks() >= until; });
    }

private:
    // Static: a tick may still be under way after the timer is removed.
    struct State {
        std::mutex lock;
        CMsgBox* box = nullptr;
        int ticks = 0;
        std::vector<std::pair<bool, int>> seen;
    };
    static State& state()
    {
        static State& s = *new State;
        return s;
    }
    static int Ticks()
    {
        std::lock_guard<std::mutex> hold(state().lock);
        return state().ticks;
    }
    static Uint32 Tick(Uint32 interval, void*)
    {
        State& s = state();
        std::lock_guard<std::mutex> hold(s.lock);
        ++s.ticks;
        if (s.box) {
            const std::pair<bool, int> now(s.box->visible, s.box->elapsed);
            if (s.seen.empty() || s.seen.back() != now)
                s.seen.push_back(now);
        }
        return interval;
    }
    SDL_TimerID id_ = nullptr;
};

Uint32 FrameColour(const SDL_PixelFormat* f, int frame)
{
    return SDL_MapRGB(f, static_cast<Uint8>(30 * frame + 10), 90, 30);
}

class MsgBoxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0, SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER)) << SDL_GetError();
        TakeEvents();
        SDL_Surface* strip = SDL_CreateRGBSurface(SDL_SWSURFACE, kFrameW, kFrames * kFrameH, 32,
                                                  0xFF0000, 0xFF00, 0xFF, 0);
        for (int k = 0; k < kFrames; ++k) {
            SDL_Rect r = {0, static_cast<Sint16>(k * kFrameH), kFrameW, kFrameH};
            SDL_FillRect(strip, &r, FrameColour(strip->format, k));
        }
        image_path_ = ::testing::TempDir() + "msgbox_test_" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".bmp";
        ASSERT_EQ(0, SDL_SaveBMP(strip, image_path_.c_str()));
        SDL_FreeSurface(strip);
        box_.reset(new CMsgBox);
        ASSERT_EQ(1, box_->LoadImage(image_path_.c_str(), kFrames));
        box_->SetDuration(3);
    }

    void TearDown() override
    {
        box_.reset();
        std::remove(image_path_.c_str());
        SDL_Quit();
    }

    CMsgBox* box() { return box_.get(); }

    std::string image_path_;
    std::unique_ptr<CMsgBox> box_;
};

TEST_F(MsgBoxTest, DurationIsClamped)
{
    const int cases[][2] = {{0, 3}, {-5, 3}, {3600, 3}, {1, 1}, {3599, 3599}};
    for (const auto& c : cases) {
        box()->SetDuration(c[0]);
        EXPECT_EQ(c[1], box()->duration) << c[0];
    }
}

TEST_F(MsgBoxTest, LoadImageKeepsTheFirstImageAndReportsAMissingOne)
{
    SDL_Surface* first = box()->image;
    EXPECT_EQ(0, box()->LoadImage(image_path_.c_str(), kFrames));
    EXPECT_EQ(first, box()->image);
    EXPECT_EQ(11, box()->screen_rect.x);
    EXPECT_EQ(65, box()->screen_rect.y);
    EXPECT_EQ(kFrameW, box()->screen_rect.w);
    EXPECT_EQ(kFrameH, box()->screen_rect.h);

    CMsgBox other;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(0, other.LoadImage("no/such/image.png", kFrames));
    const std::string log = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, log.find("msgbox.cpp")) << log;
    EXPECT_NE(std::string::npos, log.find("Not found image. ")) << log;
    EXPECT_EQ(nullptr, other.image);
}

// Ticks are driven by hand; the real timer's first tick is a second away.
TEST_F(MsgBoxTest, EndsOnTheTickAfterTheDurationAndDropsShowsMeanwhile)
{
    box()->Show(0);
    box()->Show(1);  // dropped: message 0 runs to its end
    const std::vector<Posted> shown = {{EVT_REDRAW, box()}};
    EXPECT_EQ(shown, TakeEvents());
    ASSERT_NE(nullptr, box()->timer_id.load());
    for (int tick = 1; tick <= 3; ++tick) {
        EXPECT_EQ(1000u, CMsgBox::OnTimer(1000, box()));
        EXPECT_EQ(tick, box()->elapsed);
        EXPECT_TRUE(box()->visible);
        EXPECT_TRUE(TakeEvents().empty());
    }
    EXPECT_EQ(1000u, CMsgBox::OnTimer(1000, box()));
    EXPECT_FALSE(box()->visible);
    EXPECT_EQ(nullptr, box()->timer_id.load());
    const std::vector<Posted> closing = {{EVT_MSGBOX_CLOSED, box()}, {EVT_REDRAW, box()}};
    EXPECT_EQ(closing, TakeEvents());
    EXPECT_EQ(0, box()->msg_index);

    CMsgBox::OnTimer(1000, box());  // a late tick does nothing
    EXPECT_TRUE(TakeEvents().empty());
    box()->Show(2);  // the owner has not acted on message 0 yet: dropped
    EXPECT_EQ(0, box()->msg_index);
    box()->Acknowledge();
    box()->Show(2);  // hidden again: accepted
    EXPECT_EQ(2, box()->msg_index);
    EXPECT_TRUE(box()->visible);
}

TEST_F(MsgBoxTest, DrawsTheFrameOfTheIndexModuloTheFrameCount)
{
    SDL_Surface* screen =
        SDL_CreateRGBSurface(SDL_SWSURFACE, 320, 240, 32, 0xFF0000, 0xFF00, 0xFF, 0);
    auto drawn = [&] {
        SDL_FillRect(screen, nullptr, 0);
        box()->Draw(screen);
        return static_cast<Uint32*>(screen->pixels)[65 * screen->pitch / 4 + 11];
    };
    EXPECT_EQ(0u, drawn());  // hidden
    const int cases[][2] = {{0, 0}, {6, 6}, {8, 1}, {13, 6}};
    for (const auto& c : cases) {
        box()->Show(c[0]);
        EXPECT_EQ(FrameColour(screen->format, c[1]), drawn()) << c[0];
        while (box()->timer_id)
            CMsgBox::OnTimer(1000, box());
        box()->Acknowledge();
    }
    EXPECT_EQ(0u, drawn());
    SDL_FreeSurface(screen);
}

TEST_F(MsgBoxTest, RealTimerHidesAfterDurationPlusOneTicks)
{
    box()->SetDuration(1);
    Watching watching(50);
    box()->Show(3);
    watching.Look(box());
    ASSERT_TRUE(WaitUntil([&] { return !box()->timer_id; }));
    ASSERT_TRUE(watching.TicksOn(1));
    // On through its first tick, which counted the one second; over at the
    // second. (The watch may first look after the first tick.)
    std::vector<std::pair<bool, int>> seen = watching.Seen();
    if (!seen.empty() && seen.front() == std::make_pair(true, 0))
        seen.erase(seen.begin());
    const std::vector<std::pair<bool, int>> ticks = {{true, 1}, {false, 0}};
    EXPECT_EQ(ticks, seen);
    EXPECT_EQ(3, box()->msg_index);
    const std::vector<Posted> all = {
        {EVT_REDRAW, box()}, {EVT_MSGBOX_CLOSED, box()}, {EVT_REDRAW, box()}};
    EXPECT_EQ(all, TakeEvents());
}

// Several threads show at once, while another may be ending the previous
// message: one Show wins per free box, so there is one timer and one redraw.
TEST_F(MsgBoxTest, ConcurrentShowsStartOneTimer)
{
    box()->SetDuration(1);
    for (int round = 0; round < 200; ++round) {
        const bool ending = round % 2 == 1;
        if (ending) {
            box()->Show(99);
            CMsgBox::OnTimer(1000, box());  // elapsed reaches the duration
            TakeEvents();
        }
        // The owner acts on an ended message at once, here beside the Shows.
        if (ending)
            box()->Acknowledge();
        std::atomic<bool> go{false};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                while (!go)
                    std::this_thread::yield();
                box()->Show(t);
            });
        if (ending)
            threads.emplace_back([&] {
                while (!go)
                    std::this_thread::yield();
                CMsgBox::OnTimer(1000, box());
            });
        go = true;
        for (std::thread& t : threads)
            t.join();
        int redraws = 0, closes = 0;
        for (const Posted& p : TakeEvents()) {
            redraws += p.code == EVT_REDRAW;
            closes += p.code == EVT_MSGBOX_CLOSED;
        }
        ASSERT_EQ(ending ? 1 : 0, closes) << round;
        // While a message is on every Show is dropped; once the box is free
        // exactly one wins. Shows that all came before the end leave it free.
        const int accepted = redraws - closes;
        if (!ending) {
            ASSERT_EQ(1, accepted) << round;
        }
        ASSERT_LE(accepted, 1) << round;
        ASSERT_EQ(accepted == 1, box()->timer_id.load() != nullptr) << round;
        if (accepted) {
            ASSERT_GE(box()->msg_index, 0);
            ASSERT_LT(box()->msg_index, 4);
        }
        while (box()->timer_id)
            CMsgBox::OnTimer(1000, box());
        box()->Acknowledge();
        TakeEvents();
    }
}

// A tick that SDL had already started when the box was deleted reaches
// OnTimer with a dangling pointer. Ticks are fired from another thread around
// the deletion, for AddressSanitizer and ThreadSanitizer to watch; a box's
// message ends once at most, and nothing comes from it once it is gone.
// Then a late tick reaches a box whose memory holds a showing box again: it
// must not be followed there either.
TEST_F(MsgBoxTest, DeletingWhileATickRunsIsSafe)
{
    box_.reset();
    for (int round = 0; round < 300; ++round) {
        CMsgBox* doomed = new CMsgBox;
        doomed->SetDuration(1);
        doomed->Show(0);
        std::atomic<bool> go{false};
        std::thread ticker([&] {
            while (!go)
                std::this_thread::yield();
            for (int i = 0; i < 4; ++i)
                EXPECT_EQ(1000u, CMsgBox::OnTimer(1000, doomed));
        });
        go = true;
        if (round % 3)
            std::this_thread::yield();
        delete doomed;
        ticker.join();
        EXPECT_EQ(1000u, CMsgBox::OnTimer(1000, doomed));
        int closes = 0;
        for (const Posted& p : TakeEvents()) {
            EXPECT_EQ(doomed, p.from);
            closes += p.code == EVT_MSGBOX_CLOSED;
        }
        ASSERT_LE(closes, 1) << round;
    }

    alignas(CMsgBox) unsigned char place[sizeof(CMsgBox)];
    CMsgBox* gone = new (place) CMsgBox;
    gone->SetDuration(2);
    gone->Show(0);
    unsigned char showing[sizeof(CMsgBox)];
    std::memcpy(showing, place, sizeof place);
    gone->~CMsgBox();
    // A live box here would count the tick; a deleted one must not.
    std::memcpy(place, showing, sizeof place);
    EXPECT_EQ(1000u, CMsgBox::OnTimer(1000, gone));
    EXPECT_EQ(0, std::memcmp(place, showing, sizeof place));
    TakeEvents();
}

// The real timer is removed by deletion: no tick reaches the deleted box.
TEST_F(MsgBoxTest, DeletingAShowingBoxStopsItsTimer)
{
    box()->SetDuration(1);
    CMsgBox* const shown = box();
    shown->Show(0);
    ASSERT_TRUE(WaitUntil([&] { return shown->elapsed == 1; }));
    box_.reset();
    {
        // Its second tick, which would have ended the message, was due a
        // second after the first at most: a watch started now ticks twice
        // in seconds only after it.
        Watching watching(1000);
        ASSERT_TRUE(watching.TicksOn(2));
    }
    for (const Posted& p : TakeEvents())
        EXPECT_FALSE(p.code == EVT_MSGBOX_CLOSED && p.from == shown);
}

// The status monitor shows messages from SDL's timer thread, beside the box's
// own timer and the main thread.
TEST_F(MsgBoxTest, ShowFromAnotherTimerCallback)
{
    // Static: a tick of this timer may still be under way after it is removed.
    static struct {
        std::mutex lock;
        CMsgBox* box = nullptr;
        std::atomic<int> shows{0};
    } monitor;
    {
        std::lock_guard<std::mutex> hold(monitor.lock);
        monitor.box = box();
    }
    box()->SetDuration(1);
    box()->Show(5);
    auto tick = [](Uint32 interval, void*) -> Uint32 {
        std::lock_guard<std::mutex> hold(monitor.lock);
        if (monitor.box) {
            monitor.box->Show(4);
            ++monitor.shows;
        }
        return interval;
    };
    SDL_TimerID status = SDL_AddTimer(50, tick, nullptr);
    ASSERT_NE(nullptr, status);
    EXPECT_EQ(5, box()->msg_index);
    bool closed = false;
    ASSERT_TRUE(WaitUntil([&] {
        for (const Posted& p : TakeEvents())
            closed = closed || p.code == EVT_MSGBOX_CLOSED;
        return closed;
    }));
    // Until the owner has acted on the ended message, it stays the box's,
    // however many Shows the monitor makes meanwhile.
    const int shows = monitor.shows;
    ASSERT_TRUE(WaitUntil([&] { return monitor.shows >= shows + 2; }));
    EXPECT_EQ(5, box()->msg_index);
    box()->Acknowledge();
    ASSERT_TRUE(WaitUntil([&] { return box()->msg_index == 4; }));
    EXPECT_TRUE(box()->visible);
    SDL_RemoveTimer(status);
    std::lock_guard<std::mutex> hold(monitor.lock);
    monitor.box = nullptr;
}

// Notices give way to outcomes; outcomes wait for each other; nothing comes
// on while the owner has not acted on the message that ended.
struct KindCase {
    const char* what;
    std::vector<std::string> steps;  // "notice N", "outcome N", "end", "ack"
    std::vector<int> shown;          // msg_index after each end, then at the close
    int on_screen;                   // at the close, -1 for none
};

TEST_F(MsgBoxTest, OutcomesReplaceNoticesAndWaitForEachOther)
{
    const std::vector<KindCase> cases = {
        {"an outcome replaces a notice", {"notice 4", "outcome 1", "end"}, {1}, -1},
        {"a notice does not replace an outcome", {"outcome 0", "notice 4", "end"}, {0}, -1},
        {"an outcome waits for the one on screen",
         {"outcome 3", "outcome 1", "end", "ack", "end"},
         {3, 1},
         -1},
        {"the waiting outcome comes on at the acknowledgement",
         {"outcome 3", "outcome 0", "end"},
         {3},
         -1},
        {"and is then on screen", {"outcome 3", "outcome 0", "end", "ack"}, {3}, 0},
        {"an outcome after an unacknowledged end waits", {"notice 5", "end", "outcome 1"}, {5}, -1},
        {"outcomes wait in order",
         {"outcome 3", "outcome 0", "outcome 1", "end", "ack", "end", "ack"},
         {3, 0},
         1},
        {"a notice after an unacknowledged end is dropped",
         {"notice 5", "end", "notice 4", "ack"},
         {5},
         -1},
    };
    for (const KindCase& c : cases) {
        box_.reset(new CMsgBox);
        ASSERT_EQ(1, box()->LoadImage(image_path_.c_str(), kFrames));
        box()->SetDuration(1);
        std::vector<int> shown;
        for (const std::string& step : c.steps) {
            const int index = step.size() > 2 ? std::atoi(step.c_str() + step.find(' ') + 1) : 0;
            if (step.rfind("notice", 0) == 0) {
                box()->Show(index);
            } else if (step.rfind("outcome", 0) == 0) {
                box()->ShowOutcome(index);
            } else if (step == "end") {
                for (int tick = 0; tick < 5 && box()->timer_id; ++tick)
                    CMsgBox::OnTimer(1000, box());
                ASSERT_EQ(nullptr, box()->timer_id.load()) << c.what;
                shown.push_back(box()->msg_index);
            } else if (step == "ack") {
                box()->Acknowledge();
            }
        }
        EXPECT_EQ(c.shown, shown) << c.what;
        EXPECT_EQ(c.on_screen >= 0, box()->visible.load()) << c.what;
        if (c.on_screen >= 0) {
            EXPECT_EQ(c.on_screen, box()->msg_index) << c.what;
        }
        TakeEvents();
    }
}

}  // namespace
