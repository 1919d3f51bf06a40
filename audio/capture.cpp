#include "audio/capture.h"

#include <poll.h>

#include <algorithm>
#include <chrono>

#include "audio/recordwriter.h"
#include "audio/wakepipe.h"
#include "platform/sys.h"

namespace {

// How long the thread sleeps when poll says nothing: some devices have
// sound to read although poll never says so.
constexpr int kPollMs = 100;

}  // namespace

Capture::Capture(int dsp_fd, char* buf, size_t block, WakePipe& wake,
                 std::shared_ptr<RecordWriter> writer)
    : dsp_fd_(dsp_fd), buf_(buf), block_(block), wake_(wake), writer_(std::move(writer))
{
    thread_ = std::thread([this] { Loop(); });
}

Capture::~Capture()
{
    Stop();
}

// Takes in whatever the card has whenever it has it, and on every timeout
// too. The DSP is non-blocking, so a read never holds the thread and a stop
// is seen at once through the wake pipe. A wake-up is taken by the thread it
// woke, every time: one left in the pipe would end every later wait at once.
void Capture::Loop()
{
    while (!stop_.load()) {
        struct pollfd fds[2] = {{dsp_fd_, POLLIN, 0}, {wake_.fd(), POLLIN, 0}};
        const int ready = sys::poll(fds, 2, kPollMs);
        if (fds[1].revents & POLLIN)
            wake_.Drain();
        if (stop_.load())
            break;
        if (ready > 0 && (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) &&
            !(fds[0].revents & POLLIN)) {
            // A device that went wrong: look again after a while, not at once.
            struct pollfd wake = {wake_.fd(), POLLIN, 0};
            if (sys::poll(&wake, 1, kPollMs) > 0)
                wake_.Drain();
            continue;
        }
        int64_t got = 0;
        for (;;) {
            const ssize_t n = sys::read(dsp_fd_, buf_, block_);
            if (n <= 0)
                break;
            writer_->Append(buf_, static_cast<size_t>(n));
            got += n;
            if (static_cast<size_t>(n) < block_)
                break;
        }
        if (got > 0) {
            std::lock_guard<std::mutex> progress(progress_lock_);
            captured_ += got;
            progress_.notify_all();
        }
    }
}

int Capture::Wait(int timeout_ms)
{
    std::unique_lock<std::mutex> progress(progress_lock_);
    progress_.wait_for(progress, std::chrono::milliseconds(std::max(timeout_ms, 0)),
                       [this] { return closing_ || captured_ > taken_; });
    return !closing_ && captured_ > taken_ ? 1 : 0;
}

int Capture::Take()
{
    std::lock_guard<std::mutex> progress(progress_lock_);
    const int64_t fresh = std::min<int64_t>(captured_ - taken_, 0x7FFFFFFF);
    taken_ += fresh;
    return fresh > 0 ? static_cast<int>(fresh) : -1;
}

int64_t Capture::Captured() const
{
    std::lock_guard<std::mutex> progress(progress_lock_);
    return captured_;
}

void Capture::Closing()
{
    std::lock_guard<std::mutex> progress(progress_lock_);
    closing_ = true;
    progress_.notify_all();
}

void Capture::Stop()
{
    std::unique_lock<std::mutex> hold(join_lock_);
    if (join_ == Join::kJoining)
        joined_.wait(hold, [this] { return join_ == Join::kJoined; });
    if (join_ == Join::kJoined)
        return;
    join_ = Join::kJoining;
    stop_ = true;
    hold.unlock();
    thread_.join();
    hold.lock();
    join_ = Join::kJoined;
    joined_.notify_all();
}
