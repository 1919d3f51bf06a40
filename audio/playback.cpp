#include "audio/playback.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <vector>

#include "app/budget.h"
#include "app/logmessage.h"
#include "platform/oss.h"
#include "platform/sys.h"

namespace {

// The fastest sound the device plays, 44.1 kHz 16-bit stereo, in bytes a
// millisecond: the play-out's naps never outlast what is left.
constexpr int kMostBytesPerMs = 176;
constexpr int kLongestNapMs = static_cast<int>(budget::kPlayOutNap.count());

}  // namespace

int Playback::OpenWav(const char* path, WavFormat* format)
{
    if (sys::access(path, R_OK) != 0)
        return -10;
    // Not blocking, and only a regular file: a FIFO or a device node on the
    // card would otherwise hold the player until someone wrote to it.
    const int fd = sys::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -11;
    struct stat st;
    if (sys::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        sys::close(fd);
        return -11;
    }
    unsigned char window[kWavWindowBytes] = {};
    const ssize_t got = sys::read(fd, window, sizeof window);
    *format = wav_parse(window, got > 0 ? static_cast<size_t>(got) : 0);
    if (format->code) {
        sys::close(fd);
        return format->code;
    }
    return fd;
}

void Playback::Begin(const WavFormat& format)
{
    stop_asked_ = false;
    written_ = 0;
    bytes_per_second_ =
        std::max(1, static_cast<int>(format.sample_rate * format.channels * (format.bits / 8)));
    // 8-bit samples are unsigned: their silence is the middle value.
    silence_ = static_cast<char>(format.bits == 8 ? 0x80 : 0);
}

// A stop woke the worker: the wake-up is taken here, by the
// thread it woke (left in the pipe, it would end the next wait of whichever
// run comes after at once), and what the device holds is dropped here too,
// so the sound ends now and the thread that asked never waits on a device
// that may hang.
void Playback::CalledOff(int fd) const
{
    wake_.Drain();
    sys::ioctl(fd, oss::kDspReset, nullptr);
}

// A nap of `ms` awake for a stop: true, the wake-up taken and
// what the device holds dropped, when one came.
bool Playback::CalledOffIn(int fd, int ms) const
{
    struct pollfd wake = {wake_.fd(), POLLIN, 0};
    if (sys::poll(&wake, 1, ms) <= 0)
        return false;
    CalledOff(fd);
    return true;
}

// Writes the block as the device makes room for it; done at once when a
// stop calls the wait off.
Playback::Result Playback::WriteWhenRoom(int fd, const char* buf, size_t len) const
{
    while (len > 0) {
        struct pollfd fds[2] = {{fd, POLLOUT, 0}, {wake_.fd(), POLLIN, 0}};
        if (sys::poll(fds, 2, -1) < 0 && errno != EINTR)
            return Failed("poll", errno);
        if (fds[1].revents & POLLIN) {
            CalledOff(fd);
            return Result::kDone;
        }
        // What a device that went wrong answers a write says how.
        const bool trouble = fds[0].revents & (POLLERR | POLLHUP | POLLNVAL);
        if (!trouble && !(fds[0].revents & POLLOUT))
            continue;
        const ssize_t n = sys::write(fd, buf, len);
        if (n < 0 && (errno == EAGAIN || errno == EINTR) && !trouble)
            continue;
        if (n <= 0)
            return Failed("write", n < 0 ? errno : EIO);
        buf += n;
        len -= static_cast<size_t>(n);
    }
    return Result::kDone;
}

// A device plays whole fragments only: the part of one that the song ends
// in waits there, unplayed and not counted in what is left to play, until
// more comes or a sync; the play-out, which trusts that count, and the drop
// after it would lose the song's last moments. Silence makes it whole.
Playback::Result Playback::FillLastFragment(int fd) const
{
    int fragment = 0;
    if (sys::ioctl(fd, oss::kDspGetBlkSize, &fragment) != 0 || fragment <= 0)
        return Result::kDone;
    const long long part = written_ % fragment;
    if (part == 0)
        return Result::kDone;
    const std::vector<char> silence(static_cast<size_t>(fragment - part), silence_);
    return WriteWhenRoom(fd, silence.data(), silence.size());
}

// Waits until the device has played what it holds, asking it how much is
// left and napping about that long, awake for a stop. A device
// that cannot tell, or whose answer stops going down (a sound server's
// emulation counts its own latency, which never ends), is napped through
// by the clock instead (kNoDelay).
Playback::Result Playback::PlayOut(int fd) const
{
    for (int before = INT_MAX;;) {
        int left = 0;
        if (sys::ioctl(fd, oss::kDspGetODelay, &left) != 0)
            return errno == EINVAL || errno == ENOTTY ? Result::kNoDelay : Failed("delay", errno);
        if (left <= 0)
            return Result::kDone;
        if (left >= before)
            return Result::kNoDelay;
        before = left;
        if (CalledOffIn(fd, std::clamp(left / kMostBytesPerMs, 1, kLongestNapMs)))
            return Result::kDone;
    }
}

// A device that cannot tell what it has left cannot be ahead of the clock
// either: all it took has played, or nearly, once the time it takes has
// passed since the first write. That time is napped through awake for a
// stop, so only the worker calls the device; the sync after it
// has at most what the device started late by (kNoDelay).
Playback::Result Playback::NapThroughWritten(int fd) const
{
    using namespace std::chrono;
    const steady_clock::time_point end =
        first_write_ + microseconds(written_ * 1000000 / bytes_per_second_);
    for (steady_clock::time_point now; (now = steady_clock::now()) < end;) {
        if (CalledOffIn(fd, static_cast<int>(std::clamp<long long>(
                                duration_cast<milliseconds>(end - now).count(), 1, kLongestNapMs))))
            return Result::kDone;
    }
    return Result::kNoDelay;
}

Playback::Result Playback::Failed(const char* call, int error)
{
    // Logged as it happens: the song was not heard, whatever comes next.
    LogMessage("wavrecord.cpp", __LINE__, "(Play) The soundcard failed: %s: %s\n", call,
               std::strerror(error));
    return Result::kFailed;
}

Playback::Result Playback::Transfer(std::unique_lock<std::mutex>& hold, SoundDevice& device,
                                    const char* buf, int len)
{
    // No sync per block: an emulation's sync drains its stream and loses
    // sound at each restart; the wait for room paces the worker.
    if (stop_asked_)
        return Result::kDone;
    const int fd = device.dsp_fd();
    active_ = true;
    hold.unlock();
    Result result = Result::kDone;
    if (len > 0) {
        if (written_ == 0)
            first_write_ = std::chrono::steady_clock::now();
        result = WriteWhenRoom(fd, buf, static_cast<size_t>(len));
        // The worker's own count: only it reads it, between transfers.
        written_ += len;
    } else {
        result = FillLastFragment(fd);
        if (result == Result::kDone)
            result = PlayOut(fd);
        if (result == Result::kNoDelay)
            result = NapThroughWritten(fd);
    }
    if (result == Result::kNoDelay) {
        // What the device still holds, it plays out in a sync, which
        // nothing cuts short: a stop is seen once it returns.
        hold.lock();
        const bool called_off = stop_asked_;
        hold.unlock();
        if (called_off)
            CalledOff(fd);
        result = Result::kDone;
        if (!called_off && sys::ioctl(fd, oss::kDspSync, nullptr) != 0)
            result = Failed("sync", errno);
    }
    hold.lock();
    active_ = false;
    // A stop drops what the device holds, which may cut the call short.
    return stop_asked_ && result == Result::kFailed ? Result::kDone : result;
}

int Playback::ReadBlock(std::unique_lock<std::mutex>& hold, int dsp_fd, int file_fd, char* buf,
                        int capacity)
{
    active_ = true;
    hold.unlock();
    const int want = std::min(SoundDevice::BlockSizeOf(dsp_fd), capacity);
    const ssize_t got = sys::read(file_fd, buf, static_cast<size_t>(want));
    hold.lock();
    active_ = false;
    return static_cast<int>(got);
}
