#include "audio/wavrecord.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "app/logmessage.h"
#include "platform/sys.h"

namespace {

constexpr int kHeaderBytes = 44;
constexpr int kWindowBytes = 1024;
constexpr int kMinBlock = 1024;

// Every recording is 22050 Hz, 16-bit stereo.
constexpr int kChannels = 2;
constexpr int kRate = 22050;
constexpr int kBits = 16;
constexpr int kFrameBytes = 4;
constexpr int64_t kBytesPerSecond = int64_t{kRate} * kFrameBytes;
// What the start header claims, before a single sample was recorded.
constexpr uint32_t kStartFrames = 110250;
// How far the header may fall behind the samples, and how much may wait in
// the PC's or the handheld's cache before it goes to the card.
constexpr int64_t kHeaderEvery = kBytesPerSecond / 2;
constexpr int64_t kFlushEvery = 2 * kBytesPerSecond;
// The largest size a header can declare and still be read back as positive
// by this player: whole frames below 2^31.
constexpr int64_t kMaxDeclared = 0x7FFFFFFF / kFrameBytes * kFrameBytes;

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

CWavRecord::CWavRecord()
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
        std::lock_guard<std::mutex> hold(lock_);
        if (wav_fd != -1) {
            sys::sync();
            sys::close(wav_fd);
            CloseSoundcard();
            wav_fd = -1;
            byte_count = 0;
        } else if (dsp_fd >= 0 || mixer_fd >= 0) {
            CloseSoundcard();
        }
        block_buf.reset();
        mode_ = Mode::kIdle;
    }
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

void CWavRecord::SetDsp(unsigned long request, int value)
{
    if (dsp_fd < 0)
        return;
    int arg = value;
    sys::ioctl(dsp_fd, request, &arg);
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
    const std::unique_lock<std::mutex> hold = LockForTransfer();
    if (wav_fd == -1 || mode_ != Mode::kRecording)
        return;
    RewriteHeader();
}

// Declares the whole frames the file holds and goes back to their end.
bool CWavRecord::RewriteHeader()
{
    const int64_t declared = std::min(byte_count / kFrameBytes * kFrameBytes, kMaxDeclared);
    bool written = false;
    if (sys::lseek(wav_fd, 0, SEEK_SET) == 0) {
        written = wav_header_write(wav_fd, kChannels, kRate, kBits,
                                   static_cast<uint32_t>(declared / kFrameBytes)) == 0;
        if (written)
            declared_ = declared;
    }
    lost_position_ = sys::lseek(wav_fd, kHeaderBytes + byte_count, SEEK_SET) < 0;
    return written;
}

void CWavRecord::KeepFileCurrent()
{
    if (declared_ < 0 || byte_count - declared_ >= kHeaderEvery)
        RewriteHeader();
    if (byte_count - flushed_ >= kFlushEvery) {
        // Only this file: a sync of the whole card would stall the capture
        // behind everything else the card has to write.
        sys::fdatasync(wav_fd);
        flushed_ = byte_count;
    }
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
    const int fd = sys::open(path, O_RDONLY);
    if (fd < 0)
        return -11;
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
    std::lock_guard<std::mutex> hold(lock_);
    if (dsp_fd >= 0) {
        LogMessage("wavrecord.cpp", __LINE__, "Recorder is running(%d)...\n", dsp_fd);
        return -1;
    }
    const int opened = OpenSoundcard(O_RDONLY | O_NONBLOCK);
    if (opened < 0) {
        LogCode(opened);
        return -2;
    }
    WriteMixer(oss::kMixerWriteAltPcm, 120, 120);
    WriteMixer(oss::kMixerWriteMic, 80, 80);
    WriteMixer(oss::kMixerWriteIGain, 60, 60);
    SetDsp(oss::kDspStereo, 1);
    SetDsp(oss::kDspSetFmt, oss::kAfmtS16Le);
    SetDsp(oss::kDspSpeed, kRate);
    block_size = BlockSize();
    if (!AllocateBlock(block_size)) {
        LogMessage("wavrecord.cpp", __LINE__, "Out of memory for the sound buffer.\n");
        ReleaseAfterFailure();
        return -2;
    }
    wav_fd = sys::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (wav_fd < 0) {
        LogMessage("wavrecord.cpp", __LINE__, "Create WAV file fail.\n");
        ReleaseAfterFailure();
        return -2;
    }
    if (wav_header_write(wav_fd, kChannels, kRate, kBits, kStartFrames) != 0) {
        ReleaseAfterFailure();
        return -2;
    }
    byte_count = 0;
    declared_ = -1;
    flushed_ = 0;
    lost_position_ = false;
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
    const int opened = OpenSoundcard(O_WRONLY);
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
    mode_ = Mode::kPlaying;
    return 0;
}

// ---- Transfers ----

// A transfer that comes while a close is announced waits for the close to
// be done: the worker would otherwise take the lock again right after each
// block and could keep the close out for many blocks.
std::unique_lock<std::mutex> CWavRecord::LockForTransfer()
{
    std::unique_lock<std::mutex> hold(lock_);
    closed_.wait(hold, [this] { return closing_.load() == 0; });
    return hold;
}

int CWavRecord::dsp_wait(int timeout_ms)
{
    const std::unique_lock<std::mutex> hold = LockForTransfer();
    if (mode_ != Mode::kRecording || dsp_fd < 0)
        return -1;
    struct pollfd fds[2] = {{dsp_fd, POLLIN, 0}, {wake_read_, POLLIN, 0}};
    const int ready = sys::poll(fds, 2, timeout_ms);
    if (ready < 0)
        return errno == EINTR ? 0 : -1;
    if (fds[1].revents & POLLIN) {
        char scrap[64];
        while (::read(wake_read_, scrap, sizeof scrap) > 0) {
        }
    }
    return (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) ? 1 : 0;
}

int CWavRecord::dsp_read()
{
    const std::unique_lock<std::mutex> hold = LockForTransfer();
    if (dsp_fd < 0)
        return 0;
    // A playback DSP has nothing to read, and reading it would block.
    if (mode_ != Mode::kRecording || !block_buf)
        return -1;
    return static_cast<int>(sys::read(dsp_fd, block_buf.get(),
                                      static_cast<size_t>(std::min(block_size, block_capacity_))));
}

int CWavRecord::file_write(int len)
{
    const std::unique_lock<std::mutex> hold = LockForTransfer();
    if (wav_fd == -1)
        return -2;
    if (len <= 0)
        return 0;
    if (len > block_capacity_)
        return -2;
    if (lost_position_) {
        if (sys::lseek(wav_fd, kHeaderBytes + byte_count, SEEK_SET) < 0)
            return -2;
        lost_position_ = false;
    }
    const ssize_t wrote = sys::write(wav_fd, block_buf.get(), static_cast<size_t>(len));
    if (wrote > 0) {
        byte_count += wrote;
        if (mode_ == Mode::kRecording)
            KeepFileCurrent();
    }
    return wrote == len ? 0 : -2;
}

int CWavRecord::file_read()
{
    const std::unique_lock<std::mutex> hold = LockForTransfer();
    if (wav_fd == -1 || !block_buf)
        return 0;
    const int want = std::min(BlockSize(), block_capacity_);
    return static_cast<int>(sys::read(wav_fd, block_buf.get(), static_cast<size_t>(want)));
}

int CWavRecord::dsp_write(int len)
{
    const std::unique_lock<std::mutex> hold = LockForTransfer();
    if (wav_fd == -1 || dsp_fd < 0 || mode_ != Mode::kPlaying)
        return -2;
    if (len <= 0)
        return -1;
    if (len > block_capacity_)
        return -2;
    // Played out before the next block is read, so a close waits one block
    // at most.
    (void)sys::write(dsp_fd, block_buf.get(), static_cast<size_t>(len));
    sys::ioctl(dsp_fd, oss::kDspSync, nullptr);
    byte_count += len;
    return 0;
}

// ---- Closing ----

void CWavRecord::WakeWaiter()
{
    closing_.fetch_add(1);
    if (wake_write_ >= 0) {
        const char one = 1;
        (void)!::write(wake_write_, &one, 1);
    }
}

void CWavRecord::EndWake()
{
    if (closing_.fetch_sub(1) == 1 && wake_read_ >= 0) {
        char scrap[64];
        while (::read(wake_read_, scrap, sizeof scrap) > 0) {
        }
    }
    closed_.notify_all();
}

void CWavRecord::Close(bool recording)
{
    WakeWaiter();
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (wav_fd != -1) {
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
            CloseSoundcard();
            block_buf.reset();
            block_capacity_ = 0;
            mode_ = Mode::kIdle;
        }
        EndWake();
    }
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
    return Fields{static_cast<long>(byte_count), dsp_fd, mixer_fd, data_offset, wav_fd, block_size,
                  block_buf != nullptr};
}
