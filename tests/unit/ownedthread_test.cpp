// How every thread of the recorder's own ends or is left behind: a thread
// that ends in time is joined, and has let go of what it owned by then; one
// held past the bound is left behind with what it owns, never waited for
// again, and releases it itself once it is let go; one whose owner goes
// with the last reference, on the thread itself, ends cleanly.

#include "app/ownedthread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "tests/support/wait.h"

namespace {

using std::chrono::milliseconds;

// What a thread owns: it says when it is gone.
struct Owned {
    std::mutex lock;
    std::condition_variable changed;
    bool let_go = false;
    std::atomic<bool>* gone;
    explicit Owned(std::atomic<bool>* g) : gone(g) {}
    ~Owned() { *gone = true; }
    void Hold()
    {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [this] { return let_go; });
    }
    void LetGo()
    {
        std::lock_guard<std::mutex> hold(lock);
        let_go = true;
        changed.notify_all();
    }
};

TEST(OwnedThread, EndsInTimeOrIsLeftBehindWithAllItOwns)
{
    const struct {
        const char* what;
        bool held;  // in a "call" that hangs until let go
    } cases[] = {{"ends in time", false}, {"held past the bound", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::atomic<bool> gone{false};
        auto owned = std::make_shared<Owned>(&gone);
        if (!c.held)
            owned->LetGo();
        Owned* const raw = owned.get();
        OwnedThread thread;
        thread.Start(std::move(owned), [](Owned& o) { o.Hold(); });
        const bool ended = thread.Join(c.held ? milliseconds(50) : support::kHung);
        EXPECT_EQ(ended, !c.held);
        EXPECT_EQ(gone.load(), !c.held);
        if (!c.held)
            continue;
        // Never waited for again, and nothing freed under it.
        const auto asked = std::chrono::steady_clock::now();
        EXPECT_FALSE(thread.Join(support::kHung));
        EXPECT_LT(std::chrono::steady_clock::now() - asked, support::kHung / 2);
        EXPECT_FALSE(gone.load());
        raw->LetGo();
        EXPECT_TRUE(support::Eventually([&] { return gone.load(); }));
        EXPECT_TRUE(support::Eventually([&] { return thread.Join(milliseconds(0)); }));
    }
}

// An owner that holds its own thread, and is owned by it: the last
// reference goes on the thread, which cannot join itself.
struct SelfOwned : std::enable_shared_from_this<SelfOwned> {
    OwnedThread thread;
    std::atomic<bool>* gone;
    explicit SelfOwned(std::atomic<bool>* g) : gone(g) {}
    ~SelfOwned() { *gone = true; }
};

TEST(OwnedThread, AnOwnerThatGoesOnItsOwnThreadEndsCleanly)
{
    std::atomic<bool> gone{false};
    {
        auto self = std::make_shared<SelfOwned>(&gone);
        self->thread.Start(self, [](SelfOwned&) {});
    }
    EXPECT_TRUE(support::Eventually([&] { return gone.load(); }));
}

}  // namespace
