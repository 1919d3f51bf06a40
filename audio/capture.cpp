#include "audio/capture.h"

#include <errno.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "app/budget.h"
#include "app/logmessage.h"
#include "audio/recordwriter.h"
#include "audio/runsignal.h"
#include "audio/wakepipe.h"
#include "platform/sys.h"

namespace {

constexpr int kPollMs = static_cast<int>(budget::kCapturePoll.count());

}  // namespace

struct Capture::State {
    // Moved out only once the thread has ended.
    SoundDevice device;
    size_t block;
    std::unique_ptr<char[]> buf;
    std::shared_ptr<WakePipe> wake;
    std::shared_ptr<RecordWriter> writer;

    std::shared_ptr<RunSignal> signal;
    mutable std::mutex lock;
    int64_t captured = 0;  // bytes the thread took in
    int64_t taken = 0;     // of them, handed over by Take
    // When the thread went into the device call it is in; 0 between calls.
    std::atomic<std::chrono::steady_clock::rep> in_call_since{0};
    bool closing = false;
    bool failed = false;
    bool ended = false;
    bool left_behind = false;  // a Stop gave up: the thread closes the device
    std::atomic<bool> stop{false};
};

Capture::Capture(SoundDevice device, size_t block, std::shared_ptr<WakePipe> wake,
                 std::shared_ptr<RunSignal> signal, std::shared_ptr<RecordWriter> writer)
    : state_(std::make_shared<State>()), dsp_fd_(device.dsp_fd()), mixer_fd_(device.mixer_fd())
{
    state_->device = std::move(device);
    state_->block = block;
    state_->buf.reset(new (std::nothrow) char[block]);
    state_->wake = std::move(wake);
    state_->signal = std::move(signal);
    state_->writer = std::move(writer);
    if (!state_->buf) {
        state_->failed = state_->ended = true;
        LogMessage("wavrecord.cpp", __LINE__, "Out of memory for the sound buffer.\n");
        return;
    }
    thread_.Start(state_, [](State& s) { Loop(s); });
}

Capture::~Capture()
{
    state_->wake->Wake();
    SoundDevice device;
    Stop(budget::kCaptureStop, &device);
}

void Capture::EnterCall(State& s)
{
    s.in_call_since = std::chrono::steady_clock::now().time_since_epoch().count();
}

// Takes in whatever the card has whenever it has it, and on every timeout
// too. The DSP is non-blocking, so a read never holds the thread and a stop
// is seen at once through the wake pipe. A wake-up is taken by the thread it
// woke, every time: one left in the pipe would end every later wait at once.
void Capture::Loop(State& state)
{
    State* const s = &state;
    bool failed = false;
    while (!s->stop.load() && !failed) {
        struct pollfd fds[2] = {{s->device.dsp_fd(), POLLIN, 0}, {s->wake->fd(), POLLIN, 0}};
        EnterCall(*s);
        const int ready = sys::poll(fds, 2, kPollMs);
        s->in_call_since = 0;
        if (fds[1].revents & POLLIN)
            s->wake->Drain();
        if (s->stop.load())
            break;
        const bool trouble = ready > 0 && (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) &&
                             !(fds[0].revents & POLLIN);
        int64_t got = 0;
        for (;;) {
            EnterCall(*s);
            const ssize_t n = sys::read(s->device.dsp_fd(), s->buf.get(), s->block);
            s->in_call_since = 0;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR &&
                !s->stop.load()) {
                // A device that fails its reads records nothing more: the
                // recording must end, not count seconds over a file that no
                // longer grows.
                LogMessage("wavrecord.cpp", __LINE__, "(Record) The soundcard failed: %s\n",
                           std::strerror(errno));
                failed = true;
            }
            if (n <= 0)
                break;
            // A file that failed, or a buffer the card could not keep up
            // with, ends the recording.
            if (!s->writer->Append(s->buf.get(), static_cast<size_t>(n)))
                s->signal->Raise();
            got += n;
            if (static_cast<size_t>(n) < s->block)
                break;
        }
        {
            std::lock_guard<std::mutex> hold(s->lock);
            s->captured += got;
            s->failed = s->failed || failed;
        }
        if (failed)
            s->signal->Raise();
        if (trouble && !failed) {
            // Poll says the device went wrong, a read does not: look again
            // after a while, not at once.
            struct pollfd wake = {s->wake->fd(), POLLIN, 0};
            if (sys::poll(&wake, 1, kPollMs) > 0)
                s->wake->Drain();
        }
    }
    SoundDevice device;
    {
        std::lock_guard<std::mutex> hold(s->lock);
        s->ended = true;
        if (s->left_behind)
            device = std::move(s->device);
    }
    // Nobody waits for this thread any more: it lets go of the device itself.
    device.release();
}

int Capture::Wait(int timeout_ms)
{
    using Clock = std::chrono::steady_clock;
    State& s = *state_;
    // When the thread's call under way would be overdue; none between calls.
    const auto overdue = [&s] {
        const auto since = s.in_call_since.load();
        return since ? Clock::time_point(Clock::duration(since)) + budget::kNoSound
                     : Clock::time_point::max();
    };
    // A call of the thread's that comes due before the timeout ends the wait
    // then: a device that gives no more sound is told on time, and the
    // thread's calls, each far shorter, move the moment on unseen.
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
    for (Clock::time_point until; (until = std::min(end, overdue())) > Clock::now();) {
        if (s.signal->Wait(std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now())))
            break;
    }
    std::unique_lock<std::mutex> hold(s.lock);
    // Looked at here, not by the thread: a device that hangs keeps the
    // thread in its call.
    const bool silent = !s.closing && !s.failed && !s.ended && Clock::now() >= overdue();
    if (silent)
        s.failed = true;
    const int fresh = !s.closing && s.captured > s.taken ? 1 : 0;
    hold.unlock();
    if (silent)
        LogMessage("wavrecord.cpp", __LINE__, "(Record) The soundcard gave no sound for %lld s.\n",
                   static_cast<long long>(budget::kNoSound.count() / 1000));
    return fresh;
}

int Capture::Take()
{
    State& s = *state_;
    std::lock_guard<std::mutex> hold(s.lock);
    const int64_t fresh = std::min<int64_t>(s.captured - s.taken, 0x7FFFFFFF);
    s.taken += fresh;
    return fresh > 0 ? static_cast<int>(fresh) : -1;
}

int64_t Capture::Captured() const
{
    std::lock_guard<std::mutex> hold(state_->lock);
    return state_->captured;
}

bool Capture::Failed() const
{
    std::lock_guard<std::mutex> hold(state_->lock);
    return state_->failed;
}

void Capture::Closing()
{
    {
        std::lock_guard<std::mutex> hold(state_->lock);
        state_->closing = true;
    }
    state_->signal->Raise();
}

bool Capture::Stop(std::chrono::milliseconds wait, SoundDevice* device)
{
    state_->stop = true;
    thread_.Join(wait);
    std::lock_guard<std::mutex> hold(state_->lock);
    // Looked at under the lock the thread ends with: one that ended just
    // after the join gave up, or never started, leaves the device to take.
    if (!state_->ended) {
        state_->left_behind = true;
        return false;
    }
    *device = std::move(state_->device);
    return true;
}
