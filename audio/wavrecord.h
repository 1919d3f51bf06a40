#pragma once
// The audio stream: records from the sound card into a new WAV file, plays a
// WAV file to the sound card, or is idle. It has no thread of its own; one
// worker drives it block by block, and any thread may close it.
//
// Recording: record_open(path); then, until stopped, dsp_wait(timeout) so the
// worker sleeps until the card has a block, dsp_read(), file_write(n) with
// what dsp_read returned; then header_update() and record_close().
// Playback: play_open(path); then file_read() and dsp_write(n) with what
// file_read returned, until dsp_write fails or the user stops; play_close().
//
// Every operation takes the stream's lock, so a close from another thread
// (the status monitor, when the card is pulled) never overlaps a transfer:
// it waits for the transfer in progress (at most one block) and the worker's
// next file_write or dsp_write fails with -2. A close also wakes a worker
// that waits in dsp_wait.
//
// While a recording runs, the file always declares what it holds: its
// header is rewritten every half second of audio and the data is flushed to
// the card every two seconds, so a recording cut off by a crash or a flat
// battery keeps all but its last moments.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

// OSS request words of the handheld.
namespace oss {
constexpr unsigned long kDspSync = 0x00005001;
constexpr unsigned long kDspSpeed = 0xC0045002;
constexpr unsigned long kDspStereo = 0xC0045003;
constexpr unsigned long kDspGetBlkSize = 0xC0045004;
constexpr unsigned long kDspSetFmt = 0xC0045005;
constexpr unsigned long kMixerWriteMic = 0xC0044D07;
constexpr unsigned long kMixerWriteAltPcm = 0xC0044D0A;
constexpr unsigned long kMixerWriteIGain = 0xC0044D0C;
constexpr int kAfmtU8 = 8;
constexpr int kAfmtS16Le = 16;
}  // namespace oss

class CWavRecord {
public:
    CWavRecord();
    virtual ~CWavRecord();
    CWavRecord(const CWavRecord&) = delete;
    CWavRecord& operator=(const CWavRecord&) = delete;

    // Sound device access. soundcard_open: the DSP descriptor, or -7 (no
    // write permission on /dev/dsp), -5 (it cannot be opened, or this stream
    // holds it already), -8, -6 (the same for /dev/mixer; the DSP is closed
    // again). The others do nothing with the DSP closed.
    int soundcard_open(int flags);
    int mixer_write(unsigned long request, int left, int right);
    void dsp_set_stereo(int on);
    void dsp_set_format(int afmt);
    void dsp_set_speed(int hz);
    int dsp_get_blksize();
    void soundcard_close();

    // WAV files. wav_header_write: 0, or -1 when fd < 0 or the 44 bytes did
    // not all reach the file. header_update: rewrites the recording's
    // header from the sample bytes in the file (whole frames); nothing when
    // no file is open. wav_parse: the file's descriptor positioned at its
    // first sample (the caller owns it), or -10 .. -14, with nothing left open.
    static int wav_header_write(int fd, int channels, int sample_rate, int bits, uint32_t frames);
    void header_update();
    int wav_parse(const char* path);

    // Recording. record_open: 0, -1 (the DSP is open already) or -2 (failed;
    // the stream is idle again). dsp_wait: waits at most timeout_ms for a
    // block to read; 1 when data is ready, 0 on a timeout or when a close is
    // on its way, -1 when no recording is open. dsp_read: bytes read, 0 with
    // no DSP, -1 when nothing is ready. file_write: 0, or -2 with no file, on
    // a short or failed write, or for more than one block.
    int record_open(const char* path);
    int dsp_wait(int timeout_ms);
    int dsp_read();
    int file_write(int len);
    void record_close();

    // Playback. play_open: 0, -1 (the DSP is open already) or -2 (failed; the
    // stream is idle again). file_read: bytes read, 0 at the end of the file
    // or with no file, -1 on an error. dsp_write: 0 once the block has been
    // played, -1 at the end of the data (len <= 0), -2 with no file or no
    // DSP.
    int play_open(const char* path);
    int file_read();
    int dsp_write(int len);
    void play_close();

    // The stream's fields at one moment.
    struct Fields {
        long byte_count;
        int dsp_fd;
        int mixer_fd;
        int data_offset;
        int wav_fd;
        int block_size;
        bool has_block_buf;
    };
    Fields fields() const;

private:
    enum class Mode { kIdle, kRecording, kPlaying };

    // The operations above, with the lock held.
    int OpenSoundcard(int flags);
    int WriteMixer(unsigned long request, int left, int right);
    void SetDsp(unsigned long request, int value);
    int BlockSize();
    void CloseSoundcard();
    int ParseWav(const char* path);
    bool AllocateBlock(int bytes);
    // Keeps the recording's header and its flush to the card current.
    void KeepFileCurrent();
    bool RewriteHeader();
    // Gives back whatever a failed open had taken.
    void ReleaseAfterFailure();
    void Close(bool recording);
    std::unique_lock<std::mutex> LockForTransfer();
    void WakeWaiter();
    void EndWake();

    mutable std::mutex lock_;
    // The fields, in their order of old.
    int64_t byte_count = 0;
    int dsp_fd = -1;
    int mixer_fd = -1;
    int data_offset = 0;
    int wav_fd = -1;
    int block_size = -1;
    std::unique_ptr<char[]> block_buf;

    int block_capacity_ = 0;
    Mode mode_ = Mode::kIdle;
    // Sample bytes the header on the card declares; -1 for the start header.
    int64_t declared_ = -1;
    int64_t flushed_ = 0;
    // The file position is not known to be at the end of the samples.
    bool lost_position_ = false;
    // Closes announced and not yet done: dsp_wait must not block, and
    // transfers wait for them.
    std::atomic<int> closing_{0};
    std::condition_variable closed_;
    int wake_read_ = -1;
    int wake_write_ = -1;
};
