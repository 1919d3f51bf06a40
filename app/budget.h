#pragma once
// Every bound on a wait, named once, and the promises they add up to. A
// bound is what a thread may wait for something that answers at once when
// all is well; only a device or a card that hangs or stalls runs into one.
// Where a promise is a sum of bounds, the sum is checked here.
//
// The promises:
//   - a stop or leave is taken up by the run's worker within kTakeUp;
//   - a record press starts within kStart, whatever the card does;
//   - a leave ends within kLeave, whatever the devices and the card do;
//   - a worker waits kDraw at most for the main thread to show its button.

#include <atomic>
#include <chrono>

namespace budget {

using std::chrono::milliseconds;

constexpr milliseconds kTakeUp{50};
constexpr milliseconds kStart{500};
constexpr milliseconds kLeave{1000};
constexpr milliseconds kDraw{2000};

// ---- A run's worker ----

// A worker waiting for the card looks at its requests this often; the
// record worker is woken by them.
constexpr milliseconds kRequestLook{50};
static_assert(kRequestLook <= kTakeUp, "a worker looks at its requests within the take-up promise");
// A worker that has posted its run's end returns at once; only a hang runs
// into this.
constexpr milliseconds kWorkerEnd{5000};

// ---- A recording's start ----

// A record press waits this long for the card's answer to the write probe,
// and record_open this long for the new file's start header: a card that
// stalls longer is left to the writer, while the sound goes into its buffer.
constexpr milliseconds kCardAnswer{200};
constexpr milliseconds kHeader{250};
static_assert(kCardAnswer + kHeader < kStart, "a recording starts within half a second");

// ---- A run's end ----

// The writer's catching up for a header rewrite, and its end of the file at
// a close; a card that stalls longer is left to the writer.
constexpr milliseconds kFlush{150};
constexpr milliseconds kFinish{350};
// A capture told to stop ends at once; one that does not is held by a
// device that hangs, and keeps the device, which it closes when it lets go.
constexpr milliseconds kCaptureStop{200};
// What the view's end and the hand-over to the menu program take after the
// leave's last wait: the waits end this much before the leave's second.
constexpr milliseconds kHandOver{100};
// A loaded or slow processor needs room beyond the sum of the worker's own
// bounds for the work between them, or the leave's timer ends the run first.
constexpr milliseconds kWorkerSlack{150};
static_assert(kTakeUp + kFlush + kCaptureStop + kFinish + kWorkerSlack + kHandOver <= kLeave,
              "a recording's worker ends its run within a leave's waits, with room to spare");

// ---- Sound that does not come ----

// A card that records answers many times a second: a call to it that has
// not come back after this long is a device that gives no more sound.
constexpr milliseconds kNoSound{2000};
// The capture's sleep when poll says nothing: some devices have sound to
// read although poll never says so.
constexpr milliseconds kCapturePoll{100};

// ---- On a thread's own time ----

// A card that blinked out refuses a call until it is back, which nothing
// can see: the writer asks again after each of these, over 4 s.
constexpr milliseconds kCardRetries[] = {milliseconds(250), milliseconds(750), milliseconds(1000),
                                         milliseconds(2000)};
// A play-out naps at most this long between looks at what is left to play.
constexpr milliseconds kPlayOutNap{100};

// The moment a leave's waits must be over by, kHandOver before its second,
// for every thread that waits on its way: each wait is its own bound or what
// is left, whichever is shorter. None until Start; the first Start holds.
class Deadline {
public:
    using Clock = std::chrono::steady_clock;

    void Start()
    {
        const Clock::rep when = (Clock::now() + kLeave - kHandOver).time_since_epoch().count();
        Clock::rep none = kNone;
        end_.compare_exchange_strong(none, when);
    }
    milliseconds Within(milliseconds bound) const
    {
        const Clock::rep end = end_.load();
        if (end == kNone)
            return bound;
        const auto left = std::chrono::duration_cast<milliseconds>(
            Clock::time_point(Clock::duration(end)) - Clock::now());
        return left < milliseconds(0) ? milliseconds(0) : left < bound ? left : bound;
    }

private:
    static constexpr Clock::rep kNone = 0;
    std::atomic<Clock::rep> end_{kNone};
};

}  // namespace budget
