#pragma once
// The capture half of a recording: a thread that waits on the DSP and takes
// in whatever the card has, however it delivers it (in steady blocks, in
// lumps, with poll seldom saying so), and hands it to the recording's
// writer at once, so the card's buffer never overruns while the SD card
// stalls. The stream's worker only looks at what came (Wait, Take).
//
// What the thread uses (the DSP, its buffer, the writer, the wake pipe, the
// counts) it holds itself. A stop that sees it end in time takes the DSP
// back, to close it in the stream's order; a device that hangs in a call
// keeps the thread, and with it everything it holds, the DSP included,
// which it closes itself when the call lets go.

#include <chrono>
#include <cstdint>
#include <memory>

#include "app/ownedthread.h"
#include "audio/sounddevice.h"

class RecordWriter;
class RunSignal;
class WakePipe;

class Capture {
public:
    // Reads the open DSP of `device` (non-blocking) in pieces of up to
    // `block` bytes; a wake-up on `wake` calls off its wait, and the thread
    // takes it.
    // Its failure, and a writer that no longer takes the sound (a file that
    // failed, a buffer the card could not keep up with), raise `signal`.
    Capture(SoundDevice device, size_t block, std::shared_ptr<WakePipe> wake,
            std::shared_ptr<RunSignal> signal, std::shared_ptr<RecordWriter> writer);
    // Stops the thread if Stop was not called, waiting as long as a device
    // that answers needs.
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    // Waits at most timeout_ms, or until the signal is raised: 1 when sound
    // not taken yet is there, else 0 (always once Closing was called).
    int Wait(int timeout_ms);
    // The bytes captured since the last Take (at most INT_MAX), -1 when none.
    int Take();
    // Every byte taken in from the card so far.
    int64_t Captured() const;
    // The device failed a read: nothing more comes. Logged when it happens.
    bool Failed() const;
    // From now on Wait returns 0, and the wait under way ends.
    void Closing();
    // Ends the thread, waiting `wait` at most. True once it has ended, and
    // the first such Stop gets the device back in `*device`; false when it
    // did not end in time (a device that hangs in a call), and it is left to
    // end by itself, closing the device then.
    bool Stop(std::chrono::milliseconds wait, SoundDevice* device);
    // The descriptors the thread reads, for a look only.
    int dsp_fd() const { return dsp_fd_; }
    int mixer_fd() const { return mixer_fd_; }

private:
    struct State;
    static void Loop(State& state);
    // Notes that the thread goes into a device call: a call that does not
    // come back within the bound is a device that gives no more sound.
    static void EnterCall(State& state);

    const std::shared_ptr<State> state_;
    const int dsp_fd_;
    const int mixer_fd_;
    OwnedThread thread_;
};
