#pragma once
// The capture half of a recording: a thread that waits on the DSP and takes
// in whatever the card has, however it delivers it (in steady blocks, in
// lumps, with poll seldom saying so), and hands it to the recording's
// writer at once, so the card's buffer never overruns while the SD card
// stalls. The stream's worker only looks at what came (Wait, Take).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

class RecordWriter;
class WakePipe;

class Capture {
public:
    // Reads `dsp_fd` (non-blocking) in pieces of up to `block` bytes of
    // `buf`; a wake-up on `wake` calls off its wait, and the thread takes it.
    // All stay the caller's, untouched, until Stop has returned.
    Capture(int dsp_fd, char* buf, size_t block, WakePipe& wake,
            std::shared_ptr<RecordWriter> writer);
    // Stops the thread if Stop was not called.
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    // Waits at most timeout_ms for sound not taken yet: 1 when some is
    // there, 0 on a timeout or once Closing was called.
    int Wait(int timeout_ms);
    // The bytes captured since the last Take (at most INT_MAX), -1 when none.
    int Take();
    // Every byte taken in from the card so far.
    int64_t Captured() const;
    // From now on Wait returns at once.
    void Closing();
    // Ends the thread and waits for it; from any thread, any number of
    // times: a second caller waits for the first one's join. The caller
    // writes the wake byte that calls off the thread's wait.
    void Stop();

private:
    void Loop();

    const int dsp_fd_;
    char* const buf_;
    const size_t block_;
    WakePipe& wake_;
    const std::shared_ptr<RecordWriter> writer_;

    mutable std::mutex progress_lock_;
    std::condition_variable progress_;
    int64_t captured_ = 0;  // bytes the thread took in
    int64_t taken_ = 0;     // of them, handed over by Take
    bool closing_ = false;

    std::atomic<bool> stop_{false};
    std::mutex join_lock_;
    std::condition_variable joined_;
    enum class Join { kRunning, kJoining, kJoined } join_ = Join::kRunning;
    std::thread thread_;
};
