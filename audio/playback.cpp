#include "audio/playback.h"

#include <errno.h>
#include <poll.h>

#include <chrono>

#include "platform/oss.h"
#include "platform/sys.h"

namespace {

// How long a close waits for a transfer in flight: a block's room on the
// device, or the play-out of its last blocks at the end of the data.
constexpr auto kTransferWait = std::chrono::milliseconds(1000);

}  // namespace

void Playback::Begin()
{
    stop_asked_ = false;
}

// Writes the block as the device makes room for it; false when a stop or a
// close called the wait off first, or the device failed.
bool Playback::WriteWhenRoom(int fd, const char* buf, size_t len) const
{
    while (len > 0) {
        struct pollfd fds[2] = {{fd, POLLOUT, 0}, {wake_.fd(), POLLIN, 0}};
        if (sys::poll(fds, 2, -1) < 0 && errno != EINTR)
            return false;
        // Taken here, by the thread it woke: left in the pipe, it would end
        // the next wait of whichever run comes after at once.
        if (fds[1].revents & POLLIN) {
            wake_.Drain();
            return false;
        }
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL))
            return false;
        if (!(fds[0].revents & POLLOUT))
            continue;
        const ssize_t n = sys::write(fd, buf, len);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return false;
        buf += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

bool Playback::Transfer(std::unique_lock<std::mutex>& hold, SoundDevice& device, const char* buf,
                        int len)
{
    // No sync per block: an emulation's sync drains its stream and loses
    // sound at each restart; the wait for room paces the worker. A close
    // that waited for the previous transfer goes first: between blocks the
    // worker would take the lock back before it.
    if (closes_waiting_ > 0)
        return false;
    if (stop_asked_)
        return true;
    const int fd = device.dsp_fd();
    active_ = true;
    hold.unlock();
    // The device is the close's to hand over meanwhile: only its
    // descriptor, taken under the lock, is used.
    if (len > 0)
        WriteWhenRoom(fd, buf, static_cast<size_t>(len));
    else
        sys::ioctl(fd, oss::kDspSync, nullptr);
    hold.lock();
    active_ = false;
    done_.notify_all();
    if (abandoned_) {
        // The close gave up waiting for this transfer; what it could not
        // release is released here.
        abandoned_device_.dsp_reset();
        abandoned_device_.release();
        abandoned_buf_.reset();
        abandoned_ = false;
        return false;
    }
    return true;
}

void Playback::Stop(SoundDevice& device)
{
    stop_asked_ = true;
    // The worker waits for room on the device, or for the last blocks to
    // play out: the caller's wake ends the first, the drop the second, and
    // either way the sound stops now.
    if (active_)
        device.dsp_reset();
}

bool Playback::WaitForTransfer(std::unique_lock<std::mutex>& hold)
{
    ++closes_waiting_;
    const bool done = done_.wait_for(hold, kTransferWait, [this] { return !active_; });
    --closes_waiting_;
    return done || abandoned_;
}

void Playback::Abandon(SoundDevice device, std::unique_ptr<char[]> buf)
{
    abandoned_ = true;
    abandoned_device_ = std::move(device);
    abandoned_buf_ = std::move(buf);
}
