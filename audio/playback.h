#pragma once
// The transfers of one playback into the DSP, on the play worker's thread:
// each block written as soon as the device has room for it, so the device
// paces the worker and holds a few blocks ahead, and at the end the
// play-out of what it holds. Only the worker calls the device: a stop or a
// close calls its wait off through the wake pipe, and the worker drops
// what the device holds itself. A close that cannot wait for a device that
// hangs hands the devices over, and the transfer releases them when the
// device lets go.
//
// Every member is called with the stream's lock held (`hold`); a transfer
// releases it while it waits on the device, so a close never waits behind
// a device that hangs.

#include <chrono>
#include <condition_variable>
#include <memory>
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
    // waits until what it holds has played (len 0). kClosed when a close came
    // before or meanwhile; kDone at once, moving nothing, after a stop;
    // kFailed when the device failed a call (logged).
    enum class Result { kDone, kClosed, kFailed, kNoDelay };
    Result Transfer(std::unique_lock<std::mutex>& hold, SoundDevice& device, const char* buf,
                    int len);
    // Reads the file's next block, as large as the device's fragment and
    // `capacity` allow, with the lock let go as for a transfer: a close
    // waits for it as for one, and a card that hangs in it is left the
    // buffer. The bytes read; 0 at the end or when a close came meanwhile.
    int ReadBlock(std::unique_lock<std::mutex>& hold, int dsp_fd, int file_fd, char* buf,
                  int capacity);
    // A stop: the transfer in flight returns at once, and the worker drops
    // what the device holds; but a sync, the last moment of a device that
    // cannot tell what it has left to play, ends first. The caller has
    // woken the worker's wait.
    void Stop() { stop_asked_ = true; }
    bool stopped() const { return stop_asked_; }
    bool in_transfer() const { return active_; }

    // A close waits for the transfer in flight (a block's room on the
    // device, or the play-out of the last blocks), `wait` at most, while the
    // worker's next transfer is refused; the caller has woken the worker's
    // wait. True when no transfer is in flight any more; else the caller
    // hands over what the transfer still uses (Abandon).
    bool WaitForTransfer(std::unique_lock<std::mutex>& hold, std::chrono::milliseconds wait);
    void Abandon(SoundDevice device, std::unique_ptr<char[]> buf);

private:
    // The transfer in flight has ended, lock held: false when a close gave
    // up on it meanwhile, and what it handed over is released here.
    bool Landed();
    Result WriteWhenRoom(int fd, const char* buf, size_t len) const;
    Result FillLastFragment(int fd) const;
    Result PlayOut(int fd) const;
    Result NapThroughWritten(int fd) const;
    void CalledOff(int fd) const;
    bool CalledOffIn(int fd, int ms) const;
    static Result Failed(const char* call, int error);

    WakePipe& wake_;
    bool active_ = false;
    int closes_waiting_ = 0;   // closes waiting for the transfer in flight
    bool stop_asked_ = false;  // no transfer waits any more
    long long written_ = 0;    // bytes of sound this playback wrote
    std::chrono::steady_clock::time_point first_write_;
    int bytes_per_second_ = 1;
    char silence_ = 0;  // a sample of silence, byte by byte
    std::condition_variable done_;
    bool abandoned_ = false;
    SoundDevice abandoned_device_;
    std::unique_ptr<char[]> abandoned_buf_;
};
