#pragma once
// The audio stream: records from the sound card into a new WAV file, plays a
// WAV file to the sound card, or is idle. One worker drives it, from its open
// to its close; any thread may stop a playback and look at the fields.
//
// Recording: record_open(path); then, until stopped, dsp_wait(timeout) so the
// worker sleeps until it has something to do, dsp_read(), file_write(n) with
// what dsp_read returned; then header_update() and record_close().
// Playback: play_open(path); then file_read() and dsp_write(n) with what
// file_read returned, until dsp_write fails or the user stops; play_close().
//
// While recording, the stream has a thread of its own. The capture thread
// waits on the sound card and takes in whatever it has, so sound is taken as
// it comes however the card delivers it (in steady blocks, in lumps, with
// poll seldom saying so). It hands the sound to a RecordWriter, whose
// buffer of ten seconds rides out the stalls of an SD card while the card's
// thread writes, syncs and keeps the header true. The worker's calls only
// look at them: dsp_read takes over the sound captured since its last call,
// file_write tells whether the file still takes it. Sound wakes only the
// writer: the worker's dsp_wait ends on a request (dsp_wake), a failure of
// the capture or of the file, or its timeout. No call waits for the card: a
// close returns within a second even while the card stalls (the writer then
// ends the file by itself, with every sample captured before the close).
//
// Playback moves one block at a time on the worker's thread, each written as
// soon as the device has room for it, so the device paces the worker and
// holds a few blocks ahead; at the end of the data they play out before
// dsp_write returns. A stop (play_stop) calls off the wait for room and
// drops what the device still holds, so a stop is heard at once and nothing
// goes in after it.
//
// Its parts, each in a file of its own: SoundDevice (the OSS devices), the
// WAV format (wavformat.h), Capture (the card into the writer's buffer) and
// RecordWriter (the buffer into the files).

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "app/budget.h"
#include "app/cardchores.h"
#include "audio/playback.h"
#include "audio/runsignal.h"
#include "audio/sounddevice.h"
#include "audio/wakepipe.h"

class Recording;
class RecordWriter;

class CWavRecord {
public:
    CWavRecord();
    virtual ~CWavRecord();
    CWavRecord(const CWavRecord&) = delete;
    CWavRecord& operator=(const CWavRecord&) = delete;

    // WAV files (the format itself is wavformat's). header_update: brings
    // every sample captured so far into the file under a header that
    // declares it (whole frames), waiting a moment at most; nothing when no
    // recording is open. wav_parse: the file's descriptor positioned at its
    // first sample (the caller owns it), with the DSP set to its format, or
    // -10 .. -14, with nothing left open.
    void header_update();
    int wav_parse(const char* path);

    // Recording. record_open: 0, -1 (the DSP is open already) or -2 (failed;
    // the stream is idle again, and a file it made is removed). A card that
    // stalls the file or its start header holds it a quarter second at most;
    // should either fail after that, file_write says so. dsp_wait:
    // waits at most timeout_ms, or until dsp_wake or a failure ends it; 1
    // when sound not taken yet is there, 0 when none is or a close is on its
    // way, -1 when no recording is open.
    // dsp_read: the bytes captured since its last call, 0 with no DSP, -1
    // when none came. file_write: 0, or -2 with no file or once a write to
    // the file failed or fell short.
    int record_open(const char* path);
    // The sound bytes the last recording took in from the card, every one of
    // which its file gets, even when the card is still catching up after
    // the close; kept until the next record_open.
    int64_t captured_bytes() const;
    // A recording longer than one file can hold goes on in new files: at
    // `next()`, the recording owner's name for a new recording at that
    // moment. Without it a recording ends, failed, when its file is full.
    // The size of a full file is lowered only by tests.
    void set_next_path(std::function<std::string()> next);
    // The card's thread, which makes and writes a recording's files after
    // the card work asked for before (the folder on a new card), so a card
    // that stalls holds up no start; the recording takes in sound
    // meanwhile. The stream's own until this is set; set before the first
    // run, to one that outlives the stream.
    void set_card(CardChores* card);
    // The leave's deadline: once it has started, no wait of the stream's
    // goes past it. Set before the first run.
    void set_leave(std::shared_ptr<const budget::Deadline> leave);
    void set_file_limit(int64_t sound_bytes);
    // The file the last recording wrote last (the one to play); empty when
    // no recording has been made, or when it kept no sound.
    std::string recording_path() const;
    // Where the last recording's files stand: a stop that came while the
    // card stalled leaves the writer to end them on its own, and a file is
    // played only once it has been ended. kRemoved: it held no sound, and
    // its file is gone.
    enum class Files { kNone, kWriting, kKept, kRemoved };
    Files recording_files() const;
    // Waits `wait` at most for the last recording's files to be ended: true
    // once they are (or when there is none).
    bool recording_ended(std::chrono::milliseconds wait) const;
    int dsp_wait(int timeout_ms);
    // Ends the record worker's dsp_wait under way, or its next one, at once:
    // from any thread, once a request has been set for the worker to see.
    void dsp_wake();
    int dsp_read();
    int file_write(int len);
    void record_close();

    // Playback. play_open: 0, -1 (the DSP is open already) or -2 (failed; the
    // stream is idle again). file_read: bytes read, 0 at the end of the file
    // or with no file, -1 on an error. dsp_write: 0 once the device has taken
    // the block, -1 at the end of the data (len <= 0) once all it took has
    // played, -2 with no file or no DSP, -3 when the device failed (logged):
    // the song was not heard.
    // play_stop, from any thread, once the worker has been asked to stop:
    // the transfer in flight returns at once (but for the last sync of a
    // device that cannot tell what it has left to play), the worker drops
    // what the device holds, and until the close dsp_write returns 0 at
    // once without moving sound (-1 still at the end of the data), for the
    // worker to see its request. It calls no device.
    int play_open(const char* path);
    int file_read();
    int dsp_write(int len);
    void play_stop();
    void play_close();

    // The stream's fields at one moment.
    struct Fields {
        int64_t byte_count;
        int dsp_fd;
        int mixer_fd;
        int data_offset;
        int wav_fd;
        int block_size;
        bool has_block_buf;
        bool in_transfer;  // the play worker is in a call on the device or the file
    };
    Fields fields() const;

private:
    // kOpening: a playback's devices and file are being opened, without the
    // lock.
    enum class Mode { kIdle, kOpening, kRecording, kPlaying };
    // Who closes: the count's line tells which kind of run it was, and the
    // destructor's close tells none.
    enum class Closer { kRecord, kPlay, kDestructor };

    // The operations above, with the lock held.
    int ParseWav(const char* path);
    void ReleaseBlock();
    // Closes what a failed record_open set up, idle again: -2.
    int RecordOpenFailed(SoundDevice& device, const char* message);
    // The DSP's descriptor, the capture's while recording.
    int DspFd() const;
    // The recording under way, taken under the lock for a wait without it.
    std::shared_ptr<Recording> InProgress() const;
    void EndRecording(std::unique_lock<std::mutex>& hold, Closer closer);
    // `bound`, or what is left of the leave when that is shorter.
    std::chrono::milliseconds Within(std::chrono::milliseconds bound) const;
    // The one close of every thread and of the destructor.
    void Close(Closer closer);

    mutable std::mutex lock_;
    // The fields, in their order of old; the device holds dsp_fd and mixer_fd.
    int64_t byte_count = 0;
    SoundDevice device_;
    int data_offset = 0;
    int wav_fd = -1;
    int block_size = -1;
    // A recording's file belongs to its writer, which makes it on the card's
    // thread: wav_fd only says that the recording has one.
    static constexpr int kWriterHasFile = 0x7FFFFFFF;
    std::unique_ptr<char[]> block_buf;

    int block_capacity_ = 0;
    Mode mode_ = Mode::kIdle;
    // Calls off the capture thread's wait, or the play worker's wait for
    // room on the device.
    const std::shared_ptr<WakePipe> wake_ = std::make_shared<WakePipe>();
    // Calls off the record worker's wait (dsp_wait).
    const std::shared_ptr<RunSignal> signal_ = std::make_shared<RunSignal>();

    // Recording: the one in progress, what the last one did, and where the
    // files go. The capture holds the DSP and its own block buffer.
    std::shared_ptr<Recording> recording_;
    // Kept until the next recording, so what it left can be told.
    std::shared_ptr<RecordWriter> last_writer_;
    int64_t captured_ = 0;
    std::function<std::string()> next_path_;
    CardChores own_card_;
    CardChores* card_ = &own_card_;
    std::shared_ptr<const budget::Deadline> leave_;
    int64_t file_limit_;
    std::string last_path_;

    // Playback: the transfers of the one in progress, and the bits of its
    // samples, as its file declares them.
    Playback playback_;
    int play_bits_ = 16;
};
