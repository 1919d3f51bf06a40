#pragma once
// One recording from the DSP into its files: the capture thread that takes
// the card's sound in as it comes, and the writer whose buffer rides out the
// SD card's stalls while the card's thread writes, syncs and keeps the header
// true. The stream's worker drives it.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/capture.h"
#include "audio/recordwriter.h"

class Recording {
public:
    // Where the capture reads: the open DSP (non-blocking) in blocks of
    // `block` bytes, and the wake pipe that calls off its wait.
    // What calls off the worker's wait (Wait): `signal`, which the capture
    // raises too when it fails, or when the file no longer takes its sound.
    struct Source {
        SoundDevice device;
        size_t block;
        std::shared_ptr<WakePipe> wake;
        std::shared_ptr<RunSignal> signal;
    };
    // Capture starts at once, before the file is made: a card that stalls
    // the making must not cost the first second of sound. The capture holds
    // the device from then on. Null, with the failure logged and the device
    // left in `source`, when the writer's buffer cannot be had.
    static std::unique_ptr<Recording> Start(Source& source);
    ~Recording();
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    // Has the writer make the file at files.path, on the card's thread, and
    // write its start header, waiting `wait` at most: false with the
    // failure logged and no file left behind. A file still on its way counts
    // as made: should it fail later, the writer fails then.
    bool MakeFile(RecordWriter::Files files, CardChores& card, std::chrono::milliseconds wait);

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

    // Ends the capture, waiting `wait` at most; the caller writes the wake
    // byte first. True once it has ended, and the first such call gets the
    // device back in `*device`, to close; false when a device that hangs
    // keeps the capture in a call, and the capture closes it when it lets
    // go.
    bool StopCapture(std::chrono::milliseconds wait, SoundDevice* device);
    int dsp_fd() const { return capture_->dsp_fd(); }
    int mixer_fd() const { return capture_->mixer_fd(); }
    // Once the capture has stopped: the writer ends the file with every
    // sample captured and logs the count if `log_count`, within `wait`; a
    // card that stalls longer is left to the writer, which is returned.
    std::shared_ptr<RecordWriter> Finish(std::chrono::milliseconds wait, bool log_count);

private:
    Recording(std::shared_ptr<RecordWriter> writer, Source& source);

    const std::shared_ptr<RecordWriter> writer_;
    const std::unique_ptr<Capture> capture_;
    bool began_ = false;
};
