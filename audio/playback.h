#pragma once
// The transfers of one playback into the DSP, on the play worker's thread:
// each block written as soon as the device has room for it, so the device
// paces the worker and holds a few blocks ahead, and at the end the
// play-out of what it holds. Only the worker calls the device, and only
// the worker closes it: a stop calls its wait off through the wake pipe, and
// the worker drops what the device holds itself.
//
// Every member is called with the stream's lock held (`hold`); a transfer
// and a read of the file release it while they wait on the device or the
// card, so a stop, or a look at the stream's fields, never waits behind a
// device or a card that hangs.

#include <chrono>
#include <mutex>

#include "audio/sounddevice.h"
#include "audio/wakepipe.h"
#include "audio/wavformat.h"

class Playback {
public:
    // A wake-up on `wake` calls off the worker's wait for the device; the
    // worker takes it.
    explicit Playback(WakePipe& wake) : wake_(wake) {}
    Playback(const Playback&) = delete;
    Playback& operator=(const Playback&) = delete;

    // Opens a file to play and finds its format: the descriptor, or -10 (not
    // readable), -11 (no regular file that opens) or the format's code, with
    // nothing left open.
    static int OpenWav(const char* path, WavFormat* format);

    // A new playback of the file's `format`: no stop asked, nothing in
    // flight, nothing written.
    void Begin(const WavFormat& format);
    // Writes `len` bytes of `buf` as the device makes room (len > 0), or
    // waits until what it holds has played (len 0). kDone at once, moving
    // nothing, after a stop; kFailed when the device failed a call (logged).
    enum class Result { kDone, kFailed, kNoDelay };
    Result Transfer(std::unique_lock<std::mutex>& hold, SoundDevice& device, const char* buf,
                    int len);
    // Reads the file's next block, as large as the device's fragment and
    // `capacity` allow, with the lock let go as for a transfer. The bytes
    // read; 0 at the end.
    int ReadBlock(std::unique_lock<std::mutex>& hold, int dsp_fd, int file_fd, char* buf,
                  int capacity);
    // A stop: the transfer in flight returns at once, and the worker drops
    // what the device holds; but a sync, the last moment of a device that
    // cannot tell what it has left to play, ends first. The caller has
    // woken the worker's wait.
    void Stop() { stop_asked_ = true; }
    bool stopped() const { return stop_asked_; }
    // The worker is in a call on the device or the file.
    bool in_transfer() const { return active_; }

private:
    Result WriteWhenRoom(int fd, const char* buf, size_t len) const;
    Result FillLastFragment(int fd) const;
    Result PlayOut(int fd) const;
    Result NapThroughWritten(int fd) const;
    void CalledOff(int fd) const;
    bool CalledOffIn(int fd, int ms) const;
    static Result Failed(const char* call, int error);

    WakePipe& wake_;
    bool active_ = false;
    bool stop_asked_ = false;  // no transfer waits any more
    long long written_ = 0;    // bytes of sound this playback wrote
    std::chrono::steady_clock::time_point first_write_;
    int bytes_per_second_ = 1;
    char silence_ = 0;  // a sample of silence, byte by byte
};
