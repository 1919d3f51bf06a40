#pragma once
// One recording from the DSP into its files: the capture thread that takes
// the card's sound in as it comes, and the writer whose buffer rides out the
// SD card's stalls while its own thread writes, syncs and keeps the header
// true. The stream drives it under its lock; the capture's stop alone may
// run without it, from any thread.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/capture.h"
#include "audio/recordwriter.h"

class Recording {
public:
    // Where the capture reads: the open DSP (non-blocking) in blocks of
    // `block` bytes, and the wake pipe that calls off its wait. The DSP
    // stays open until StopCapture has returned true.
    struct Source {
        int dsp_fd;
        size_t block;
        std::shared_ptr<WakePipe> wake;
    };
    // Capture starts at once, before the file is made: a card that stalls
    // the making must not cost the first second of sound. Null, with the
    // failure logged, when the writer's buffer cannot be had.
    static std::unique_ptr<Recording> Start(const Source& source);
    ~Recording();
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    // Has the writer make the file at files.path and write its start
    // header, waiting `wait` at most: false with the failure logged and no
    // file left behind. A file still on its way counts as made: should it
    // fail later, the writer fails then.
    bool MakeFile(RecordWriter::Files files, std::chrono::milliseconds wait);

    int Wait(int timeout_ms) { return capture_->Wait(timeout_ms); }
    int Take() { return capture_->Take(); }
    int64_t Captured() const { return capture_->Captured(); }
    int64_t Written() const { return writer_->Written(); }
    // The file no longer takes the sound, or the device gives none.
    bool Failed() const { return writer_->Failed() || capture_->Failed(); }
    std::string Path() const { return writer_->Path(); }
    // Every sample captured so far in the file under a true header, within
    // `wait`.
    void Flush(std::chrono::milliseconds wait) { writer_->Flush(wait); }

    // Ends the capture: from any thread, any number of times, waiting `wait`
    // at most. The caller writes the wake byte first. False when a device
    // that hangs keeps the capture in a call: hand the device over then.
    bool StopCapture(std::chrono::milliseconds wait);
    void HandOver(SoundDevice device) { capture_->HandOver(std::move(device)); }
    // Once the capture has stopped: the writer ends the file with every
    // sample captured and logs the count if `log_count`, within `wait`; a
    // card that stalls longer is left to the writer, which is returned.
    std::shared_ptr<RecordWriter> Finish(std::chrono::milliseconds wait, bool log_count);

private:
    Recording(std::shared_ptr<RecordWriter> writer, const Source& source);

    const std::shared_ptr<RecordWriter> writer_;
    const std::unique_ptr<Capture> capture_;
    bool began_ = false;
};
