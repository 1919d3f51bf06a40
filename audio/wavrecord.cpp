#include "audio/wavrecord.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "app/logmessage.h"
#include "audio/recordwriter.h"
#include "platform/sys.h"

namespace {

constexpr int kHeaderBytes = 44;
constexpr int kWindowBytes = 1024;
constexpr int kMinBlock = 1024;

// Every recording is 22050 Hz, 16-bit stereo.
constexpr int kRate = 22050;
// Asked of the DSP before anything else: 128 fragments of 4 KB. A sound
// server's OSS emulation otherwise keeps a buffer of a fragment or two and
// drops nearly everything it captures; a driver takes it as a hint.
constexpr int kFragmentRequest = 0x0080000C;
// How long the capture thread sleeps when poll says nothing: some devices
// have sound to read although poll never says so.
constexpr int kCapturePollMs = 100;
// How long header_update waits for the writer to catch up, a close for it to
// end the file, and the stream's end for a file still being ended: a card
// that stalls longer is left to the writer. Together they keep leaving the
// recorder within a second.
constexpr auto kFlushWait = std::chrono::milliseconds(150);
constexpr auto kFinishWait = std::chrono::milliseconds(450);
constexpr auto kLeaveWait = std::chrono::milliseconds(400);
// How long a new recording waits for its start header to reach the card.
constexpr auto kHeaderWait = std::chrono::milliseconds(500);
// How long a close waits for a playback transfer in flight: a block's room
// on the device, or the play-out of its last blocks at the end of the data.
constexpr auto kTransferWait = std::chrono::milliseconds(1000);

// The one header template of the program, with its constant fields.
unsigned char g_header[kHeaderBytes] = {
    'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16,  0,   0, 0, 1, 0,
    0,   0,   0,   0,   0, 0, 0, 0, 0,   0,   0,   0,   0,   0,   'd', 'a', 't', 'a', 0, 0, 0, 0,
};
std::mutex g_header_lock;

void PutLe32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

void PutLe16(unsigned char* p, uint16_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

uint32_t Le32(const unsigned char* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t Le16(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// The text each failure code of the device and WAV layers is logged with.
const char* CodeMessage(int code)
{
    switch (code) {
    case -5:
        return "Can't open the soundcard.\n";
    case -6:
        return "Can't open the mixer.\n";
    case -7:
        return "You don't have permission to access the soundcard.\n";
    case -8:
        return "You don't have permission to access the mixer.\n";
    case -10:
        return "Not found WAV file.\n";
    case -11:
        return "Can't open WAV file.\n";
    case -12:
        return "File is not a WAV format.\n";
    case -13:
        return "No infomation in file\n";
    case -14:
        return "No wav data\n";
    default:
        return nullptr;
    }
}

void LogCode(int code)
{
    if (const char* text = CodeMessage(code))
        LogMessage("wavrecord.cpp", __LINE__, "%s", text);
}

// The first occurrence of a tag among the bytes read, if the `need` bytes
// taken from there were read too; else -1.
long FindTag(const unsigned char* window, long got, const char* tag, long need)
{
    for (long at = 0; at + 4 <= got; ++at) {
        if (std::memcmp(window + at, tag, 4) == 0)
            return at + need <= got ? at : -1;
    }
    return -1;
}

}  // namespace

CWavRecord::CWavRecord() : file_limit_(RecordWriter::kFileLimit)
{
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        wake_read_ = pipe_fds[0];
        wake_write_ = pipe_fds[1];
    }
}

CWavRecord::~CWavRecord()
{
    {
        std::unique_lock<std::mutex> hold(lock_);
        if (mode_ == Mode::kRecording) {
            EndRecording(hold, false);
        } else if (wav_fd != -1) {
            sys::sync();
            sys::close(wav_fd);
            DropPlayback(dsp_fd);
            CloseSoundcard();
            wav_fd = -1;
            byte_count = 0;
        } else if (dsp_fd >= 0 || mixer_fd >= 0) {
            CloseSoundcard();
        }
        block_buf.reset();
        mode_ = Mode::kIdle;
    }
    // A file still being ended behind a stalled card gets a moment more:
    // leaving the recorder may wait that long, and the file is then whole.
    if (const std::shared_ptr<RecordWriter> writer = last_writer_.lock())
        writer->Finish(kLeaveWait, nullptr);
    if (wake_read_ >= 0)
        ::close(wake_read_);
    if (wake_write_ >= 0)
        ::close(wake_write_);
    LogMessage("wavrecord.cpp", __LINE__, "~CWavRecord()\n");
}

// ---- Sound device access ----

int CWavRecord::soundcard_open(int flags)
{
    std::lock_guard<std::mutex> hold(lock_);
    return OpenSoundcard(flags);
}

int CWavRecord::OpenSoundcard(int flags)
{
    // A second open would lose the descriptor held now.
    if (dsp_fd >= 0)
        return -5;
    // Checked for recording too, although the DSP is then opened read-only.
    if (sys::access("/dev/dsp", W_OK) != 0)
        return -7;
    dsp_fd = sys::open("/dev/dsp", flags);
    if (dsp_fd < 0) {
        dsp_fd = -1;
        return -5;
    }
    // Without the mixer the DSP is of no use, and nobody else would close it.
    if (sys::access("/dev/mixer", W_OK) != 0) {
        sys::close(dsp_fd);
        dsp_fd = -1;
        return -8;
    }
    mixer_fd = sys::open("/dev/mixer", O_RDWR | O_NONBLOCK);
    if (mixer_fd < 0) {
        mixer_fd = -1;
        sys::close(dsp_fd);
        dsp_fd = -1;
        return -6;
    }
    return dsp_fd;
}

int CWavRecord::mixer_write(unsigned long request, int left, int right)
{
    std::lock_guard<std::mutex> hold(lock_);
    return WriteMixer(request, left, right);
}

int CWavRecord::WriteMixer(unsigned long request, int left, int right)
{
    int value = std::min(left, 120) + std::min(right, 120) * 256;
    return sys::ioctl(mixer_fd, request, &value);
}

void CWavRecord::dsp_set_stereo(int on)
{
    std::lock_guard<std::mutex> hold(lock_);
    SetDsp(oss::kDspStereo, on);
}

void CWavRecord::dsp_set_format(int afmt)
{
    std::lock_guard<std::mutex> hold(lock_);
    SetDsp(oss::kDspSetFmt, afmt);
}

void CWavRecord::dsp_set_speed(int hz)
{
    std::lock_guard<std::mutex> hold(lock_);
    SetDsp(oss::kDspSpeed, hz);
}

int CWavRecord::SetDsp(unsigned long request, int value)
{
    if (dsp_fd < 0)
        return -1;
    int arg = value;
    return sys::ioctl(dsp_fd, request, &arg) < 0 ? -1 : arg;
}

int CWavRecord::dsp_get_blksize()
{
    std::lock_guard<std::mutex> hold(lock_);
    return BlockSize();
}

int CWavRecord::BlockSize()
{
    int size = kMinBlock;
    if (dsp_fd >= 0) {
        sys::ioctl(dsp_fd, oss::kDspGetBlkSize, &size);
        if (size < kMinBlock)
            size = kMinBlock;
    }
    return size;
}

void CWavRecord::soundcard_close()
{
    std::lock_guard<std::mutex> hold(lock_);
    CloseSoundcard();
}

void CWavRecord::CloseSoundcard()
{
    if (dsp_fd >= 0) {
        sys::close(dsp_fd);
        dsp_fd = -1;
    }
    if (mixer_fd >= 0) {
        sys::close(mixer_fd);
        mixer_fd = -1;
    }
    LogMessage("wavrecord.cpp", __LINE__, "soundcard_close()\n");
}

// ---- WAV files ----

int CWavRecord::wav_header_write(int fd, int channels, int sample_rate, int bits, uint32_t frames)
{
    if (fd < 0) {
        LogMessage("wavrecord.cpp", __LINE__, "bad file descriptor?");
        return -1;
    }
    const uint32_t bytes_per_sample = bits == 16 ? 2 : 1;
    const uint16_t align =
        static_cast<uint16_t>(static_cast<uint32_t>(channels) * bytes_per_sample);
    const uint32_t data = frames * align;
    std::lock_guard<std::mutex> hold(g_header_lock);
    PutLe32(g_header + 4, data + 36);
    PutLe16(g_header + 20, 1);
    PutLe16(g_header + 22, static_cast<uint16_t>(channels));
    PutLe32(g_header + 24, static_cast<uint32_t>(sample_rate));
    PutLe32(g_header + 28, static_cast<uint32_t>(sample_rate) * align);
    PutLe16(g_header + 32, align);
    PutLe16(g_header + 34, bits == 16 ? 16 : 8);
    PutLe32(g_header + 40, data);
    if (sys::write(fd, g_header, kHeaderBytes) != kHeaderBytes) {
        LogMessage("wavrecord.cpp", __LINE__, "write header errror");
        return -1;
    }
    return 0;
}

void CWavRecord::header_update()
{
    std::shared_ptr<RecordWriter> writer;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (mode_ != Mode::kRecording)
            return;
        writer = writer_;
    }
    if (writer)
        writer->Flush(kFlushWait);
}

int CWavRecord::wav_parse(const char* path)
{
    std::lock_guard<std::mutex> hold(lock_);
    return ParseWav(path);
}

int CWavRecord::ParseWav(const char* path)
{
    if (sys::access(path, R_OK) != 0)
        return -10;
    // Not blocking, and only a regular file: a FIFO or a device node on the
    // card would otherwise hold the player until someone wrote to it.
    const int fd = sys::open(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return -11;
    struct stat st;
    if (sys::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        sys::close(fd);
        return -11;
    }
    unsigned char window[kWindowBytes] = {};
    const long got = std::max<long>(sys::read(fd, window, sizeof window), 0);
    int code = 0;
    const long fmt = FindTag(window, got, "fmt ", 24);
    const long data = FindTag(window, got, "data", 8);
    if (FindTag(window, got, "RIFF", 4) < 0 || FindTag(window, got, "WAVE", 4) < 0)
        code = -12;
    else if (fmt < 0)
        code = -13;
    else if (data < 0 || static_cast<int32_t>(Le32(window + data + 4)) <= 0)
        code = -14;
    if (code) {
        sys::close(fd);
        return code;
    }
    const int channels = Le16(window + fmt + 10);
    const uint32_t rate = Le32(window + fmt + 12);
    const int bits = Le16(window + fmt + 22);
    data_offset = static_cast<int>(data + 8);
    sys::lseek(fd, data_offset, SEEK_SET);
    SetDsp(oss::kDspStereo, channels > 1 ? 1 : 0);
    SetDsp(oss::kDspSetFmt, bits);
    SetDsp(oss::kDspSpeed, static_cast<int>(rate));
    byte_count = 0;
    return fd;
}

// ---- Opening ----

bool CWavRecord::AllocateBlock(int bytes)
{
    block_buf.reset(new (std::nothrow) char[static_cast<size_t>(bytes)]);
    block_capacity_ = block_buf ? bytes : 0;
    return block_buf != nullptr;
}

void CWavRecord::ReleaseAfterFailure()
{
    if (wav_fd >= 0)
        sys::close(wav_fd);
    wav_fd = -1;
    CloseSoundcard();
    block_buf.reset();
    block_capacity_ = 0;
    byte_count = 0;
    mode_ = Mode::kIdle;
}

int CWavRecord::record_open(const char* path)
{
    std::unique_lock<std::mutex> hold(lock_);
    if (dsp_fd >= 0) {
        LogMessage("wavrecord.cpp", __LINE__, "Recorder is running(%d)...\n", dsp_fd);
        return -1;
    }
    // Whatever happens now, the last recording is no longer the one made.
    last_path_.clear();
    const int opened = OpenSoundcard(O_RDONLY | O_NONBLOCK);
    if (opened < 0) {
        LogCode(opened);
        return -2;
    }
    // Before the format: OSS fixes the fragments when the format is set.
    SetDsp(oss::kDspSetFragment, kFragmentRequest);
    WriteMixer(oss::kMixerWriteAltPcm, 120, 120);
    WriteMixer(oss::kMixerWriteMic, 80, 80);
    WriteMixer(oss::kMixerWriteIGain, 60, 60);
    // What the card answers is what it records: a file that declared 16-bit
    // stereo over anything else would be noise, so such a card records
    // nothing, and a rate of its own is declared as it is.
    const bool stereo = SetDsp(oss::kDspStereo, 1) == 1;
    const bool s16 = SetDsp(oss::kDspSetFmt, oss::kAfmtS16Le) == oss::kAfmtS16Le;
    const int rate = SetDsp(oss::kDspSpeed, kRate);
    if (!stereo || !s16 || rate <= 0) {
        LogMessage("wavrecord.cpp", __LINE__, "The soundcard can't record 16-bit stereo.\n");
        ReleaseAfterFailure();
        return -2;
    }
    // A sound server's emulation keeps what it captured before the settings
    // took hold, in the open's 8-bit mono: it would start the recording
    // with noise and shift every sample after it.
    sys::ioctl(dsp_fd, oss::kDspReset, nullptr);
    block_size = BlockSize();
    if (!AllocateBlock(block_size)) {
        LogMessage("wavrecord.cpp", __LINE__, "Out of memory for the sound buffer.\n");
        ReleaseAfterFailure();
        return -2;
    }
    // Capture starts before the file is made: a card that stalls the
    // making must not cost the first second of sound.
    writer_ = RecordWriter::Create();
    if (!writer_) {
        LogMessage("wavrecord.cpp", __LINE__, "Out of memory for the sound buffer.\n");
        ReleaseAfterFailure();
        return -2;
    }
    {
        std::lock_guard<std::mutex> progress(progress_lock_);
        captured_ = 0;
        taken_ = 0;
        closing_ = false;
    }
    stop_capture_ = false;
    capture_ = std::thread([this] { CaptureLoop(); });
    wav_fd = sys::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (wav_fd < 0) {
        LogMessage("wavrecord.cpp", __LINE__, "Create WAV file fail.\n");
        StopCapture(hold);
        writer_.reset();
        ReleaseAfterFailure();
        return -2;
    }
    // The writer writes the start header, so a card that stalls it holds
    // this call only so long: a later failure reaches the worker through
    // file_write, and the file is removed either way.
    writer_->Begin(wav_fd, RecordWriter::Files{path, rate, file_limit_, next_path_});
    if (!writer_->HeaderWritten(kHeaderWait)) {
        StopCapture(hold);
        writer_->Finish(std::chrono::milliseconds(0), nullptr);
        writer_.reset();
        wav_fd = -1;  // the writer's to close, and closed
        ReleaseAfterFailure();
        return -2;
    }
    last_path_ = path;
    byte_count = 0;
    mode_ = Mode::kRecording;
    return 0;
}

int CWavRecord::play_open(const char* path)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (dsp_fd >= 0) {
        LogMessage("wavrecord.cpp", __LINE__, "Player is running...\n");
        return -1;
    }
    // Not blocking: the worker writes only what the device has room for,
    // so a stop never finds a block half way into the device.
    const int opened = OpenSoundcard(O_WRONLY | O_NONBLOCK);
    if (opened < 0) {
        LogCode(opened);
        return -2;
    }
    WriteMixer(oss::kMixerWriteAltPcm, 100, 100);
    WriteMixer(oss::kMixerWriteMic, 80, 80);
    WriteMixer(oss::kMixerWriteIGain, 60, 60);
    // Sized before the file sets the format, as the card answers now.
    if (!AllocateBlock(BlockSize())) {
        LogMessage("wavrecord.cpp", __LINE__, "Out of memory for the sound buffer.\n");
        ReleaseAfterFailure();
        return -2;
    }
    const int fd = ParseWav(path);
    if (fd < 0) {
        LogCode(fd);
        ReleaseAfterFailure();
        return -2;
    }
    wav_fd = fd;
    stop_asked_ = false;
    // A wake meant for an earlier run would call off this one's first wait.
    DrainWake();
    mode_ = Mode::kPlaying;
    return 0;
}

// ---- Capture ----

// Takes in whatever the card has whenever it has it, and on every timeout
// too. The DSP is non-blocking, so a read never holds the thread and a stop
// is seen at once through the wake pipe.
void CWavRecord::CaptureLoop()
{
    const int fd = dsp_fd;
    char* const buf = block_buf.get();
    const size_t size = static_cast<size_t>(block_capacity_);
    const std::shared_ptr<RecordWriter> writer = writer_;
    while (!stop_capture_.load()) {
        struct pollfd fds[2] = {{fd, POLLIN, 0}, {wake_read_, POLLIN, 0}};
        const int ready = sys::poll(fds, 2, kCapturePollMs);
        if (stop_capture_.load())
            break;
        if (ready > 0 && (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) &&
            !(fds[0].revents & POLLIN)) {
            // A device that went wrong: look again after a while, not at once.
            struct pollfd wake = {wake_read_, POLLIN, 0};
            sys::poll(&wake, 1, kCapturePollMs);
            continue;
        }
        int64_t got = 0;
        for (;;) {
            const ssize_t n = sys::read(fd, buf, size);
            if (n <= 0)
                break;
            writer->Append(buf, static_cast<size_t>(n));
            got += n;
            if (static_cast<size_t>(n) < size)
                break;
        }
        if (got > 0) {
            std::lock_guard<std::mutex> progress(progress_lock_);
            captured_ += got;
            progress_.notify_all();
        }
    }
}

// ---- Transfers ----

void CWavRecord::set_next_path(std::function<std::string()> next)
{
    std::lock_guard<std::mutex> hold(lock_);
    next_path_ = std::move(next);
}

void CWavRecord::set_file_limit(int64_t sound_bytes)
{
    std::lock_guard<std::mutex> hold(lock_);
    file_limit_ = sound_bytes;
}

std::string CWavRecord::recording_path() const
{
    std::lock_guard<std::mutex> hold(lock_);
    // A writer still at work may yet go on in another file.
    if (writer_)
        return writer_->Path();
    if (last_path_.empty())
        return last_path_;
    if (const std::shared_ptr<RecordWriter> writer = last_writer_.lock())
        return writer->Path();
    return last_path_;
}

int64_t CWavRecord::captured_bytes() const
{
    std::lock_guard<std::mutex> progress(progress_lock_);
    return captured_;
}

int CWavRecord::dsp_wait(int timeout_ms)
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (mode_ != Mode::kRecording || dsp_fd < 0)
            return -1;
    }
    std::unique_lock<std::mutex> progress(progress_lock_);
    progress_.wait_for(progress, std::chrono::milliseconds(std::max(timeout_ms, 0)),
                       [this] { return closing_ || captured_ > taken_; });
    return !closing_ && captured_ > taken_ ? 1 : 0;
}

int CWavRecord::dsp_read()
{
    std::lock_guard<std::mutex> hold(lock_);
    if (dsp_fd < 0)
        return 0;
    if (mode_ != Mode::kRecording)
        return -1;
    std::lock_guard<std::mutex> progress(progress_lock_);
    const int64_t fresh = std::min<int64_t>(captured_ - taken_, 0x7FFFFFFF);
    taken_ += fresh;
    return fresh > 0 ? static_cast<int>(fresh) : -1;
}

int CWavRecord::file_write(int len)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (wav_fd == -1 || mode_ != Mode::kRecording)
        return -2;
    if (len <= 0)
        return 0;
    byte_count = writer_->Written();
    return writer_->Failed() ? -2 : 0;
}

int CWavRecord::file_read()
{
    std::lock_guard<std::mutex> hold(lock_);
    if (wav_fd == -1 || !block_buf || mode_ != Mode::kPlaying)
        return 0;
    const int want = std::min(BlockSize(), block_capacity_);
    return static_cast<int>(sys::read(wav_fd, block_buf.get(), static_cast<size_t>(want)));
}

int CWavRecord::dsp_write(int len)
{
    std::unique_lock<std::mutex> hold(lock_);
    if (wav_fd == -1 || dsp_fd < 0 || mode_ != Mode::kPlaying)
        return -2;
    if (len > block_capacity_)
        return -2;
    if (len <= 0) {
        // The device still holds the last blocks: the end is told once they
        // have played, so the song has been heard to its end, and the close,
        // which drops what the device holds, finds nothing left. A stop
        // that cut them short is the worker's to see.
        if (!Transfer(hold, 0))
            return -2;
        return stop_asked_ ? 0 : -1;
    }
    if (!Transfer(hold, len))
        return -2;
    if (!stop_asked_)
        byte_count += len;
    return 0;
}

void CWavRecord::play_stop()
{
    std::lock_guard<std::mutex> hold(lock_);
    if (mode_ != Mode::kPlaying || stop_asked_)
        return;
    stop_asked_ = true;
    // The worker waits for room on the device, or for the last blocks to
    // play out: the wake ends the first, the drop the second, and either
    // way the sound stops now.
    Wake();
    if (transfer_active_)
        DropPlayback(dsp_fd);
}

void CWavRecord::Wake()
{
    if (wake_write_ >= 0) {
        const char one = 1;
        (void)!::write(wake_write_, &one, 1);
    }
}

void CWavRecord::DrainWake()
{
    char scrap[64];
    while (wake_read_ >= 0 && ::read(wake_read_, scrap, sizeof scrap) > 0) {
    }
}

// Writes the block as the device makes room for it; false when a stop or a
// close called the wait off first.
bool CWavRecord::WriteWhenRoom(int fd, const char* buf, size_t len) const
{
    while (len > 0) {
        struct pollfd fds[2] = {{fd, POLLOUT, 0}, {wake_read_, POLLIN, 0}};
        if (sys::poll(fds, 2, -1) < 0 && errno != EINTR)
            return false;
        if (fds[1].revents & POLLIN)
            return false;
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

bool CWavRecord::Transfer(std::unique_lock<std::mutex>& hold, int len)
{
    // The lock is not held meanwhile, so a close never waits behind a device
    // that hangs. No sync per block: an emulation's sync drains its stream
    // and loses sound at each restart; the wait for room paces the worker.
    // A close that waited for the previous transfer goes first: between
    // blocks the worker would take the lock back before it.
    if (closes_waiting_ > 0)
        return false;
    if (stop_asked_)
        return mode_ == Mode::kPlaying;
    const int fd = dsp_fd;
    const char* buf = block_buf.get();
    transfer_active_ = true;
    hold.unlock();
    if (len > 0) {
        WriteWhenRoom(fd, buf, static_cast<size_t>(len));
    } else {
        sys::ioctl(fd, oss::kDspSync, nullptr);
    }
    hold.lock();
    transfer_active_ = false;
    transfer_done_.notify_all();
    if (abandoned_) {
        // The close gave up waiting for this transfer; what it could not
        // release is released here.
        DropPlayback(abandoned_dsp_);
        if (abandoned_dsp_ >= 0)
            sys::close(abandoned_dsp_);
        if (abandoned_mixer_ >= 0)
            sys::close(abandoned_mixer_);
        abandoned_dsp_ = abandoned_mixer_ = -1;
        abandoned_buf_.reset();
        abandoned_ = false;
        return false;
    }
    return mode_ == Mode::kPlaying;
}

void CWavRecord::DropPlayback(int fd)
{
    // A device plays out what it holds before its close returns (a driver
    // does, and so does PulseAudio's OSS emulation, for seconds): a stop
    // would wait for that, and the sound would go on after it.
    if (fd >= 0)
        sys::ioctl(fd, oss::kDspReset, nullptr);
}

// ---- Closing ----

void CWavRecord::StopCapture(std::unique_lock<std::mutex>& hold)
{
    // A close that comes while another joins the thread waits for that:
    // the thread still uses the DSP and the buffer until it is joined.
    capture_joined_.wait(hold, [this] { return !capture_joining_; });
    if (!capture_.joinable())
        return;
    stop_capture_ = true;
    Wake();
    // The capture thread never takes the stream's lock.
    std::thread capture = std::move(capture_);
    capture_joining_ = true;
    hold.unlock();
    capture.join();
    hold.lock();
    capture_joining_ = false;
    capture_joined_.notify_all();
    DrainWake();
}

// Ends a recording: the capture stops, the writer ends the file with every
// sample captured, and the devices close. Lock held.
void CWavRecord::EndRecording(std::unique_lock<std::mutex>& hold, bool log_count)
{
    {
        std::lock_guard<std::mutex> progress(progress_lock_);
        closing_ = true;
        progress_.notify_all();
    }
    StopCapture(hold);
    if (wav_fd == -1)
        return;  // another close got here first
    std::shared_ptr<RecordWriter> writer = std::move(writer_);
    last_writer_ = writer;
    wav_fd = -1;
    mode_ = Mode::kIdle;
    hold.unlock();
    std::function<void(int64_t)> closed;
    if (log_count) {
        closed = [](int64_t written) {
            // The count of a long recording outgrows a 32-bit long.
            LogMessage("wavrecord.cpp", __LINE__, "(Record) Write sound data=%lld\n",
                       static_cast<long long>(written));
        };
    }
    writer->Finish(kFinishWait, std::move(closed));
    hold.lock();
    last_path_ = writer->Path();
    byte_count = 0;
    CloseSoundcard();
    block_buf.reset();
    block_capacity_ = 0;
}

void CWavRecord::Close(bool recording)
{
    std::unique_lock<std::mutex> hold(lock_);
    if (mode_ == Mode::kRecording) {
        EndRecording(hold, true);
        return;
    }
    if (wav_fd == -1)
        return;
    ++closes_waiting_;
    Wake();
    const bool done =
        transfer_done_.wait_for(hold, kTransferWait, [this] { return !transfer_active_; });
    --closes_waiting_;
    if (wav_fd == -1)
        return;  // another close got here first
    if (!done && !abandoned_) {
        // The device hangs in the block in flight: its worker releases the
        // devices and the buffer when the device lets go.
        abandoned_ = true;
        abandoned_dsp_ = dsp_fd;
        abandoned_mixer_ = mixer_fd;
        abandoned_buf_ = std::move(block_buf);
        dsp_fd = mixer_fd = -1;
    }
    sys::sync();
    sys::close(wav_fd);
    wav_fd = -1;
    // Both texts print the count as it was, whichever run it counted.
    if (recording)
        LogMessage("wavrecord.cpp", __LINE__, "(Record) Write sound data=%ld\n",
                   static_cast<long>(byte_count));
    else
        LogMessage("wavrecord.cpp", __LINE__, "(Play) Read sound data=%ld\n",
                   static_cast<long>(byte_count));
    byte_count = 0;
    DropPlayback(dsp_fd);
    CloseSoundcard();
    block_buf.reset();
    block_capacity_ = 0;
    mode_ = Mode::kIdle;
}

void CWavRecord::record_close()
{
    Close(true);
}

void CWavRecord::play_close()
{
    Close(false);
}

CWavRecord::Fields CWavRecord::fields() const
{
    std::lock_guard<std::mutex> hold(lock_);
    const int64_t count = mode_ == Mode::kRecording && writer_ ? writer_->Written() : byte_count;
    return Fields{
        static_cast<long>(count), dsp_fd,          mixer_fd, data_offset, wav_fd, block_size,
        block_buf != nullptr,     transfer_active_};
}
