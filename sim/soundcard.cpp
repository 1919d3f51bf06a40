#include "sim/soundcard.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <linux/soundcard.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "audio/wavformat.h"
#include "platform/oss.h"
#include "sim/handheld.h"
#include "sim/host_audio.h"
#include "sim/microphone.h"

// The card answers the recorder's requests by the recorder's own numbers;
// they must be the kernel's too, or the program would not drive a real card.
static_assert(oss::kDspReset == SNDCTL_DSP_RESET && oss::kDspSync == SNDCTL_DSP_SYNC &&
                  oss::kDspSpeed == SNDCTL_DSP_SPEED && oss::kDspStereo == SNDCTL_DSP_STEREO &&
                  oss::kDspGetBlkSize == SNDCTL_DSP_GETBLKSIZE &&
                  oss::kDspSetFmt == SNDCTL_DSP_SETFMT &&
                  oss::kDspSetFragment == SNDCTL_DSP_SETFRAGMENT &&
                  oss::kDspGetODelay == SNDCTL_DSP_GETODELAY,
              "the DSP requests are the kernel's");
static_assert(oss::kMixerWriteMic == SOUND_MIXER_WRITE_MIC &&
                  oss::kMixerWriteAltPcm == SOUND_MIXER_WRITE_ALTPCM &&
                  oss::kMixerWriteIGain == SOUND_MIXER_WRITE_IGAIN,
              "the mixer requests are the kernel's");
static_assert(oss::kAfmtU8 == AFMT_U8 && oss::kAfmtS16Le == AFMT_S16_LE,
              "the sample formats are the kernel's");

namespace sim {
namespace soundcard {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kDefaultBlock = 4096;
// The capture buffer: about 0.74 s at 22050 Hz, 16-bit stereo, the size of a
// typical OSS driver's DMA buffer. Kept in whole fragments.
constexpr int kBufferBytes = 65536;
constexpr int kMinFragments = 2;
constexpr int kMaxFragments = 32;
// A playback gap shorter than this is the card's thread waking late, not the
// writer falling behind: the timeline goes on without a gap.
constexpr auto kLateWake = std::chrono::milliseconds(10);
constexpr int kMinRate = 4000;
constexpr int kMaxRate = 48000;
// A sound server's OSS emulation: it hands over what it captured in lumps,
// the first only after a while, and keeps just two small fragments for the
// reader unless asked for more with SETFRAGMENT.
constexpr auto kLumpEvery = std::chrono::milliseconds(250);
constexpr auto kFirstLump = std::chrono::milliseconds(500);
constexpr int kEmulatedFragment = 1024;
constexpr int kEmulatedFragments = 2;

struct Format {
    int rate = 8000;
    int channels = 1;
    int afmt = oss::kAfmtU8;

    int FrameBytes() const { return channels * (afmt == oss::kAfmtS16Le ? 2 : 1); }
    long long BytesPerSecond() const { return static_cast<long long>(rate) * FrameBytes(); }
};

Clock::duration TimeOfFrames(uint64_t frames, int rate)
{
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(static_cast<long long>(frames * 1000000000ULL / rate)));
}

Clock::duration TimeOfBytes(long long bytes, const Format& f)
{
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(bytes * 1000000000LL / f.BytesPerSecond()));
}

// The speaker: a WAV file whose header always matches what it holds, so
// it can be read while a playback goes on, or after the recorder died.
class Speaker {
public:
    ~Speaker() { Stop(); }

    void Start(const std::string& path, const Format& f)
    {
        Stop();
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd_ < 0)
            Notice("speaker: cannot write %s", path.c_str());
        bytes_ = 0;
        WriteHeader(f);
    }

    void Play(const unsigned char* data, size_t size, const Format& f)
    {
        if (fd_ < 0)
            return;
        const ssize_t wrote =
            ::pwrite(fd_, data, size, kWavHeaderBytes + static_cast<off_t>(bytes_));
        if (wrote > 0)
            bytes_ += static_cast<uint32_t>(wrote);
        WriteHeader(f);
        host_audio::Play(data, size, f.rate, f.channels, f.afmt == oss::kAfmtS16Le ? 16 : 8);
    }

    void Stop()
    {
        if (fd_ >= 0) {
            ::close(fd_);
            host_audio::Stop();
        }
        fd_ = -1;
    }

private:
    void WriteHeader(const Format& f)
    {
        if (fd_ < 0)
            return;
        const WavHeader h = WavHeader::ForBytes(f.channels, static_cast<uint32_t>(f.rate),
                                                f.afmt == oss::kAfmtS16Le ? 16 : 8, bytes_);
        if (::pwrite(fd_, h.bytes.data(), h.bytes.size(), 0) != kWavHeaderBytes)
            Notice("speaker: cannot update its file");
    }

    int fd_ = -1;
    uint32_t bytes_ = 0;
};

// One open DSP: the application's end of the socket pair is `near`, the
// card's thread works `far`.
class DspDevice {
public:
    DspDevice(int near, int far, bool capture, int block, bool emulated, const std::string& mic)
        : near_(near),
          far_(far),
          capture_(capture),
          emulated_(emulated),
          mic_(mic),
          block_(emulated ? kEmulatedFragment : block)
    {
        epoch_ = Clock::now();
    }

    ~DspDevice()
    {
        Stop();
        ::close(far_);
    }

    DspDevice(const DspDevice&) = delete;
    DspDevice& operator=(const DspDevice&) = delete;

    // Before Start.
    void SetAbilities(const Abilities& abilities) { abilities_ = abilities; }

    void Start(const std::string& speaker_path)
    {
        if (!capture_)
            speaker_.Start(speaker_path, format_);
        if (capture_ && emulated_)
            DeliverOpeningLump();
        thread_ = std::thread([this] { capture_ ? CaptureLoop() : PlaybackLoop(); });
    }

    void Stop()
    {
        {
            std::lock_guard<std::mutex> hold(lock_);
            stopping_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable())
            thread_.join();
        speaker_.Stop();
    }

    int Ioctl(unsigned long request, void* arg);

    bool Capture() const { return capture_; }
    void CountRead(long bytes) { read_ += bytes; }
    long long Read() const { return read_.load(); }
    long long Dropped()
    {
        std::lock_guard<std::mutex> hold(lock_);
        return dropped_bytes_;
    }

    void SetHung(bool hung)
    {
        std::lock_guard<std::mutex> hold(lock_);
        hung_ = hung;
        changed_.notify_all();
    }

    DspStatus Status()
    {
        std::lock_guard<std::mutex> hold(lock_);
        DspStatus status;
        status.open = !stopping_;
        status.capture = capture_;
        status.rate = format_.rate;
        status.channels = format_.channels;
        status.format = format_.afmt;
        status.block_size = block_;
        status.overruns = overruns_;
        status.moved = moved_;
        status.syncing = syncing_ > 0;
        status.full = !capture_ && !stopping_ && NoRoom(near_);
        return status;
    }

    // A close plays out what the card holds first, as a driver's does and a
    // sound server's emulation does too. A card that hangs is not waited for.
    void PlayOut()
    {
        std::unique_lock<std::mutex> hold(lock_);
        if (capture_)
            return;
        ++syncing_;
        changed_.notify_all();
        changed_.wait(hold,
                      [this] { return stopping_ || hung_ || (!playing_ && Unread(far_) == 0); });
        --syncing_;
    }

    // The application wrote to the DSP: a playback may have a whole
    // fragment now.
    void Wrote()
    {
        std::lock_guard<std::mutex> hold(lock_);
        changed_.notify_all();
    }

private:
    int FragmentFrames(const Format& f) const { return std::max(1, block_ / f.FrameBytes()); }
    int Capacity(const Format& f) const
    {
        const int fragment = FragmentFrames(f) * f.FrameBytes();
        if (emulated_)
            return fragments_ * fragment;
        return std::clamp(kBufferBytes / fragment, kMinFragments, kMaxFragments) * fragment;
    }
    // What the card takes to play now: a whole fragment, as a driver moves
    // data, or while a sync or the close plays out, what is left of one. A
    // part of a fragment otherwise waits, unplayed, until it is whole; a
    // RESET drops it. A sound server's emulation plays what comes. (The
    // socket holds a few fragments of writes of 1 KB or more; writes much
    // smaller could fill it before a fragment is whole.) Lock held.
    int Playable() const
    {
        const int unread = Unread(far_);
        if (syncing_ > 0 || emulated_)
            return std::min(unread, block_);
        return unread >= block_ ? block_ : 0;
    }
    static int Unread(int fd)
    {
        int bytes = 0;
        return ::ioctl(fd, FIONREAD, &bytes) == 0 ? bytes : 0;
    }
    // A writer would wait: a blocking one in its write, a non-blocking one
    // in poll.
    static bool NoRoom(int fd)
    {
        struct pollfd ready = {fd, POLLOUT, 0};
        return ::poll(&ready, 1, 0) == 0;
    }
    // Drops what waits to be read on a descriptor. Lock held.
    static void Drain(int fd)
    {
        unsigned char scrap[4096];
        while (::recv(fd, scrap, sizeof scrap, MSG_DONTWAIT) > 0) {
        }
    }
    // New settings: a capture starts over with them. Lock held.
    void Reconfigure(const Format& next)
    {
        if (next.rate == format_.rate && next.channels == format_.channels &&
            next.afmt == format_.afmt)
            return;
        format_ = next;
        if (capture_) {
            // An emulation keeps what it captured in the old format; only
            // RESET throws it away.
            if (!emulated_)
                Drain(near_);
            epoch_ = Clock::now();
            epoch_frames_ = 0;
            ++generation_;
            changed_.notify_all();
        }
    }
    void Deliver(const std::vector<unsigned char>& fragment);
    void DeliverLump(const std::vector<unsigned char>& lump);
    void DeliverOpeningLump();
    void CaptureLoop();
    void EmulatedCaptureLoop();
    void PlaybackLoop();

    const int near_;
    const int far_;
    const bool capture_;
    const bool emulated_;
    const Microphone mic_;

    std::mutex lock_;
    std::condition_variable changed_;
    int block_;
    int fragments_ = kEmulatedFragments;
    bool fragments_asked_ = false;
    bool stopping_ = false;
    Format format_;
    unsigned generation_ = 0;
    Clock::time_point epoch_;
    uint64_t epoch_frames_ = 0;
    uint64_t frame_number_ = 0;
    long overruns_ = 0;
    long long dropped_bytes_ = 0;
    long long moved_ = 0;
    bool playing_ = false;
    bool hung_ = false;
    Abilities abilities_;
    int syncing_ = 0;
    unsigned resets_ = 0;
    Clock::time_point play_end_{};
    Speaker speaker_;
    // What the application took: not what the card moved, which counts what
    // a close dropped unread too.
    std::atomic<long long> read_{0};
    std::thread thread_;
};

// A fragment is ready. When the buffer has no room, the oldest fragments
// make way, as a DMA ring overwrites what nobody read. Lock held.
void DspDevice::Deliver(const std::vector<unsigned char>& fragment)
{
    const int size = static_cast<int>(fragment.size());
    const int capacity = Capacity(format_);
    int queued = Unread(near_);
    unsigned char scrap[4096];
    while (queued > 0 && queued + size > capacity) {
        const ssize_t dropped = ::recv(near_, scrap,
                                       std::min<size_t>({sizeof scrap, static_cast<size_t>(size),
                                                         static_cast<size_t>(queued)}),
                                       MSG_DONTWAIT);
        if (dropped <= 0)
            break;
        queued -= static_cast<int>(dropped);
        dropped_bytes_ += dropped;
        ++overruns_;
    }
    const ssize_t sent =
        ::send(far_, fragment.data(), fragment.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent > 0)
        moved_ += sent;
    if (sent != size) {
        dropped_bytes_ += size - std::max<ssize_t>(sent, 0);
        ++overruns_;
    }
}

// Splits a lump into fragments, so a buffer too small for it keeps its
// newest part. Lock held.
void DspDevice::DeliverLump(const std::vector<unsigned char>& lump)
{
    std::vector<unsigned char> piece;
    for (size_t at = 0; at < lump.size(); at += static_cast<size_t>(block_)) {
        const size_t size = std::min(lump.size() - at, static_cast<size_t>(block_));
        piece.assign(lump.begin() + static_cast<long>(at),
                     lump.begin() + static_cast<long>(at + size));
        Deliver(piece);
    }
}

// The server hands over what its source held when the stream was made, in
// the format of that moment: the open's, before any setting. Done before the
// open returns, as the server does.
void DspDevice::DeliverOpeningLump()
{
    std::lock_guard<std::mutex> hold(lock_);
    const Format opening = format_;
    const uint64_t held = static_cast<uint64_t>(opening.rate) / 4;
    std::vector<unsigned char> lump(held * opening.FrameBytes());
    mic_.Fill(lump.data(), held, frame_number_, opening.channels, opening.afmt, opening.rate);
    frame_number_ += held;
    DeliverLump(lump);
}

void DspDevice::EmulatedCaptureLoop()
{
    std::vector<unsigned char> lump;
    std::unique_lock<std::mutex> hold(lock_);
    Clock::time_point due = epoch_ + kFirstLump;
    while (!stopping_) {
        const unsigned generation = generation_;
        if (changed_.wait_until(hold, due,
                                [&] { return stopping_ || generation_ != generation; })) {
            due = epoch_ + kFirstLump;
            continue;
        }
        const Format f = format_;
        const uint64_t until = static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(due - epoch_).count() *
            static_cast<long double>(f.rate) / 1e9L);
        const uint64_t frames = until - epoch_frames_;
        lump.resize(frames * f.FrameBytes());
        mic_.Fill(lump.data(), frames, frame_number_, f.channels, f.afmt, f.rate);
        frame_number_ += frames;
        epoch_frames_ += frames;
        DeliverLump(lump);
        due += kLumpEvery;
    }
}

void DspDevice::CaptureLoop()
{
    if (emulated_) {
        EmulatedCaptureLoop();
        return;
    }
    std::vector<unsigned char> fragment;
    std::unique_lock<std::mutex> hold(lock_);
    while (!stopping_) {
        const unsigned generation = generation_;
        const Format f = format_;
        const uint64_t frames = static_cast<uint64_t>(FragmentFrames(f));
        const Clock::time_point due = epoch_ + TimeOfFrames(epoch_frames_ + frames, f.rate);
        if (changed_.wait_until(hold, due, [&] { return stopping_ || generation_ != generation; }))
            continue;
        fragment.resize(frames * f.FrameBytes());
        mic_.Fill(fragment.data(), frames, frame_number_, f.channels, f.afmt, f.rate);
        frame_number_ += frames;
        epoch_frames_ += frames;
        Deliver(fragment);
    }
}

void DspDevice::PlaybackLoop()
{
    std::unique_lock<std::mutex> hold(lock_);
    std::vector<unsigned char> chunk;
    while (!stopping_) {
        changed_.wait(hold, [this] { return stopping_ || (!hung_ && Playable() > 0); });
        if (stopping_)
            break;
        chunk.resize(static_cast<size_t>(Playable()));
        const ssize_t got = ::recv(far_, chunk.data(), chunk.size(), MSG_DONTWAIT);
        if (got <= 0)
            continue;
        playing_ = true;
        const Clock::time_point now = Clock::now();
        if (play_end_ + kLateWake < now)
            play_end_ = now;
        play_end_ += TimeOfBytes(got, format_);
        moved_ += got;
        speaker_.Play(chunk.data(), static_cast<size_t>(got), format_);
        const unsigned resets = resets_;
        changed_.wait_until(hold, play_end_,
                            [this, resets] { return stopping_ || resets_ != resets; });
        playing_ = false;
        changed_.notify_all();
    }
    playing_ = false;
    changed_.notify_all();
}

int DspDevice::Ioctl(unsigned long request, void* arg)
{
    std::unique_lock<std::mutex> hold(lock_);
    if (request == oss::kDspSync) {
        if (!capture_) {
            ++syncing_;
            changed_.notify_all();
            changed_.wait(
                hold, [this] { return stopping_ || (!hung_ && !playing_ && Unread(far_) == 0); });
            --syncing_;
        }
        return 0;
    }
    if (request == oss::kDspGetODelay) {
        if (!abilities_.tells_delay) {
            errno = EINVAL;
            return -1;
        }
        if (!arg || capture_) {
            errno = capture_ ? EINVAL : EFAULT;
            return -1;
        }
        // The whole fragments that wait for the card, and what is left of
        // the fragment in play (none while the card hangs: it plays
        // nothing). A part of a fragment is not counted: it is not played.
        const int unread = Unread(far_);
        long long left = syncing_ > 0 || emulated_ ? unread : unread - unread % block_;
        const Clock::time_point now = Clock::now();
        if (playing_ && play_end_ > now)
            left += std::chrono::duration_cast<std::chrono::microseconds>(play_end_ - now).count() *
                    format_.BytesPerSecond() / 1000000;
        *static_cast<int*>(arg) = static_cast<int>(std::min<long long>(left, 1 << 30));
        return 0;
    }
    if (request == oss::kDspReset) {
        Drain(capture_ ? near_ : far_);
        if (!capture_) {
            // The sound stops at once: the fragment being played is cut short.
            play_end_ = Clock::now();
            ++resets_;
            changed_.notify_all();
        }
        return 0;
    }
    int* value = static_cast<int*>(arg);
    if (!value) {
        errno = EFAULT;
        return -1;
    }
    const bool setting = request == oss::kDspSpeed || request == oss::kDspStereo ||
                         request == SNDCTL_DSP_CHANNELS || request == oss::kDspSetFmt;
    if (setting && !abilities_.takes_settings) {
        errno = ENOTTY;
        return -1;
    }
    const int most_channels = abilities_.stereo ? 2 : 1;
    Format next = format_;
    switch (request) {
    case oss::kDspSpeed:
        next.rate =
            abilities_.fixed_rate ? abilities_.fixed_rate : std::clamp(*value, kMinRate, kMaxRate);
        Reconfigure(next);
        *value = format_.rate;
        return 0;
    case oss::kDspStereo:
        next.channels = *value ? most_channels : 1;
        Reconfigure(next);
        *value = format_.channels - 1;
        return 0;
    case SNDCTL_DSP_CHANNELS:
        next.channels = std::clamp(*value, 1, most_channels);
        Reconfigure(next);
        *value = format_.channels;
        return 0;
    case oss::kDspSetFmt:
        if (*value != AFMT_QUERY) {
            next.afmt =
                *value == oss::kAfmtS16Le && abilities_.s16 ? oss::kAfmtS16Le : oss::kAfmtU8;
            Reconfigure(next);
        }
        *value = format_.afmt;
        return 0;
    case SNDCTL_DSP_GETFMTS:
        *value = oss::kAfmtU8 | (abilities_.s16 ? oss::kAfmtS16Le : 0);
        return 0;
    case oss::kDspGetBlkSize:
        // An emulation answers 0 until the reader has said what it wants.
        *value = emulated_ && !fragments_asked_ ? 0 : block_;
        return 0;
    case oss::kDspSetFragment:
        // A driver with fixed fragments takes the request as a hint and
        // keeps its own; the emulation sizes its buffer by it.
        if (emulated_) {
            block_ = 1 << std::clamp(*value & 0xFFFF, 8, 16);
            fragments_ = std::clamp(*value >> 16 & 0xFFFF, 2, 256);
            fragments_asked_ = true;
        }
        return 0;
    default:
        errno = EINVAL;
        return -1;
    }
}

struct Card {
    std::mutex lock;
    NodeState dsp_state = NodeState::kOk;
    NodeState mixer_state = NodeState::kOk;
    int block = kDefaultBlock;
    bool emulated = false;
    bool hung = false;
    Abilities abilities;
    bool mic_set = false;
    std::string mic;
    int levels[SOUND_MIXER_NRDEVICES];
    std::set<int> mixers;
    std::shared_ptr<DspDevice> dsp;
    int dsp_fd = -1;
    DspStatus last;

    // A DSP descriptor that fails every call, or hangs in every call until
    // it is let go; -1 for none.
    int failed_fd = -1;
    int hung_fd = -1;
    std::condition_variable gate_changed;

    Card() { std::fill(std::begin(levels), std::end(levels), -1); }
    NodeState& State(Node node) { return node == Node::kDsp ? dsp_state : mixer_state; }
};

// Never destroyed: a DSP left open at exit must not be joined from a static
// destructor while other threads still run.
Card& TheCard()
{
    static Card* card = new Card;
    return *card;
}

// The node's state decides an access or an open before the device does.
int Refusal(NodeState state, bool writing, bool opening)
{
    switch (state) {
    case NodeState::kAbsent:
        return ENOENT;
    case NodeState::kReadOnly:
        return writing ? EACCES : 0;
    case NodeState::kBusy:
        return opening ? EBUSY : 0;
    case NodeState::kOk:
        break;
    }
    return 0;
}

int OpenDsp(Card& card, int flags)
{
    const int access = flags & O_ACCMODE;
    if (access == O_RDWR) {
        errno = EINVAL;
        return -1;
    }
    if (card.dsp) {
        errno = EBUSY;
        return -1;
    }
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return -1;
    const int near = pair[0];
    // The program's end is close-on-exec only when it asked; the card's own
    // end always is.
    if (!(flags & O_CLOEXEC))
        ::fcntl(near, F_SETFD, 0);
    const bool capture = access == O_RDONLY;
    if (flags & O_NONBLOCK)
        ::fcntl(near, F_SETFL, ::fcntl(near, F_GETFL) | O_NONBLOCK);
    if (!capture) {
        // A small socket buffer, so a writer that runs ahead of the card
        // waits, as it would for a DMA buffer: poll says there is room
        // while what waits takes up a quarter of it, a fragment or two.
        const int room = 4 * card.block;
        ::setsockopt(near, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    }
    std::string mic = card.mic;
    if (!card.mic_set) {
        const char* env = std::getenv("HANDHELD_MIC");
        mic = env && *env ? env : "tone";
    }
    if (capture && card.emulated) {
        // Room in the socket for the largest buffer the emulation grants.
        const int room = 4 << 20;
        ::setsockopt(pair[1], SOL_SOCKET, SO_SNDBUFFORCE, &room, sizeof room);
    }
    card.dsp = std::make_shared<DspDevice>(near, pair[1], capture, card.block, card.emulated, mic);
    card.dsp_fd = near;
    card.dsp->SetHung(card.hung);
    card.dsp->SetAbilities(card.abilities);
    card.dsp->Start(SpeakerPath());
    return near;
}

int MixerIoctl(Card& card, unsigned long request, int* value)
{
    const unsigned type = (request >> 8) & 0xFF;
    const unsigned channel = request & 0xFF;
    const unsigned direction = request >> 30;
    if (!value) {
        errno = EFAULT;
        return -1;
    }
    if (type != 'M') {
        errno = EINVAL;
        return -1;
    }
    constexpr int kChannels =
        SOUND_MASK_MIC | SOUND_MASK_ALTPCM | SOUND_MASK_IGAIN | SOUND_MASK_VOLUME | SOUND_MASK_PCM;
    if (channel < SOUND_MIXER_NRDEVICES) {
        // Kept as asked (what the program meant); answered as the scale
        // holds it: each side at most 100, as the Linux kernel answers.
        if (direction == 3)  // read and write: MIXER_WRITE
            card.levels[channel] = *value;
        const int level = std::max(card.levels[channel], 0);
        *value = std::min(level & 0xFF, 100) | std::min(level >> 8 & 0xFF, 100) << 8;
        return 0;
    }
    switch (channel) {
    case SOUND_MIXER_DEVMASK:
    case SOUND_MIXER_STEREODEVS:
        *value = kChannels;
        return 0;
    case SOUND_MIXER_RECMASK:
    case SOUND_MIXER_RECSRC:
        *value = SOUND_MASK_MIC;
        return 0;
    case SOUND_MIXER_CAPS:
        *value = 0;
        return 0;
    default:
        errno = EINVAL;
        return -1;
    }
}

}  // namespace

int Access(Node node, int mode)
{
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.lock);
    int refusal = Refusal(card.State(node), (mode & W_OK) != 0, false);
    if (!refusal && (mode & X_OK))
        refusal = EACCES;
    if (refusal) {
        errno = refusal;
        return -1;
    }
    return 0;
}

int Open(Node node, int flags)
{
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.lock);
    const int refusal = Refusal(card.State(node), (flags & O_ACCMODE) != O_RDONLY, true);
    if (refusal) {
        errno = refusal;
        return -1;
    }
    if (node == Node::kDsp)
        return OpenDsp(card, flags);
    const int fd = ::open("/dev/null", O_RDWR | (flags & O_CLOEXEC));
    if (fd >= 0)
        card.mixers.insert(fd);
    return fd;
}

int Ioctl(Node node, int fd, unsigned long request, void* arg)
{
    Card& card = TheCard();
    std::unique_lock<std::mutex> hold(card.lock);
    if (node == Node::kMixer) {
        if (!card.mixers.count(fd)) {
            errno = EBADF;
            return -1;
        }
        return MixerIoctl(card, request, static_cast<int*>(arg));
    }
    if (card.dsp_fd != fd || !card.dsp) {
        errno = EBADF;
        return -1;
    }
    hold.unlock();
    if (Gate(fd) != 0)
        return -1;
    hold.lock();
    if (card.dsp_fd != fd || !card.dsp) {
        errno = EBADF;
        return -1;
    }
    // SYNC waits for the card's thread, so the card itself is not held
    // meanwhile; the device outlives a Close that comes in between.
    const std::shared_ptr<DspDevice> device = card.dsp;
    hold.unlock();
    return device->Ioctl(request, arg);
}

void CountRead(int fd, long bytes)
{
    // Only the trace tells the count: an untraced read takes no lock for it.
    if (!Tracing())
        return;
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.lock);
    if (card.dsp_fd == fd && card.dsp)
        card.dsp->CountRead(bytes);
}

namespace {

std::shared_ptr<DspDevice> Playback(int fd)
{
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.lock);
    return card.dsp_fd == fd && card.dsp && !card.dsp->Capture() ? card.dsp : nullptr;
}

}  // namespace

ssize_t Write(int fd, const void* buf, size_t count)
{
    const std::shared_ptr<DspDevice> device = Playback(fd);
    if (!device)
        return ::write(fd, buf, count);
    // Room is what poll says it is, for a blocking writer too, which waits
    // for it piece by piece: each piece is told to the card as it lands, or
    // a card that waits for a whole fragment would never hear of the bytes
    // a blocked write left behind.
    const bool blocking = !(::fcntl(fd, F_GETFL) & O_NONBLOCK);
    const char* at = static_cast<const char*>(buf);
    size_t done = 0;
    while (done < count) {
        struct pollfd room = {fd, POLLOUT, 0};
        if (::poll(&room, 1, blocking ? -1 : 0) == 0) {
            errno = EAGAIN;
            break;
        }
        const size_t piece =
            blocking ? std::min(count - done, static_cast<size_t>(kDefaultBlock)) : count - done;
        const ssize_t n = ::send(fd, at + done, piece, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            device->Wrote();
        } else if (!(n < 0 && (errno == EAGAIN || errno == EINTR))) {
            break;
        }
    }
    return done > 0 ? static_cast<ssize_t>(done) : -1;
}

void TraceCapture()
{
    if (!Tracing())
        return;
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.lock);
    if (card.dsp && card.dsp->Capture())
        TraceLine("capture: %lld bytes read", card.dsp->Read());
}

int Close(Node node, int fd)
{
    Card& card = TheCard();
    std::shared_ptr<DspDevice> device;
    if (node == Node::kDsp) {
        // Played out without the card's lock, as SYNC is.
        {
            std::lock_guard<std::mutex> hold(card.lock);
            if (card.dsp_fd == fd)
                device = card.dsp;
        }
        if (device)
            device->PlayOut();
        device.reset();
    }
    {
        std::lock_guard<std::mutex> hold(card.lock);
        if (node == Node::kMixer) {
            card.mixers.erase(fd);
        } else if (card.dsp_fd == fd && card.dsp) {
            device = std::move(card.dsp);
            card.dsp_fd = -1;
            // A descriptor opened later works again; a call that hangs lets go.
            card.failed_fd = card.hung_fd = -1;
            card.gate_changed.notify_all();
            // Stopped under the card's lock, so no new open races the thread
            // that is ending; that thread never takes this lock.
            device->Stop();
            card.last = device->Status();
            card.last.open = false;
            if (device->Capture())
                TraceLine("capture closed: %lld bytes read, %lld dropped", device->Read(),
                          device->Dropped());
        }
    }
    device.reset();
    return ::close(fd);
}

void SetNodeState(Node node, NodeState state)
{
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.lock);
    card.State(node) = state;
}

void SetBlockSize(int bytes)
{
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.lock);
    card.block = bytes > 0 ? bytes : kDefaultBlock;
}

void FailOpenDsp()
{
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.lock);
    card.failed_fd = card.dsp_fd;
    card.gate_changed.notify_all();
}

void HangOpenDsp(bool hang)
{
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.lock);
    card.hung_fd = hang ? card.dsp_fd : -1;
    card.gate_changed.notify_all();
}

int Gate(int fd)
{
    Card& card = TheCard();
    std::unique_lock<std::mutex> hold(card.lock);
    card.gate_changed.wait(hold, [&] { return card.hung_fd < 0 || card.hung_fd != fd; });
    // Closed while the call hung: the descriptor's number may be another's.
    if (card.dsp_fd != fd) {
        errno = EBADF;
        return -1;
    }
    if (card.failed_fd == fd) {
        errno = EIO;
        return -1;
    }
    return 0;
}

void SetPlaybackHung(bool hung)
{
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.lock);
    card.hung = hung;
    if (card.dsp)
        card.dsp->SetHung(hung);
}

void SetAbilities(const Abilities& abilities)
{
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.lock);
    card.abilities = abilities;
}

void SetEmulated(bool emulated)
{
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.lock);
    card.emulated = emulated;
}

void SetMic(const std::string& source)
{
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.lock);
    card.mic_set = true;
    card.mic = source;
}

DspStatus Dsp()
{
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.lock);
    if (card.dsp)
        return card.dsp->Status();
    return card.last;
}

int MixerLevel(int channel)
{
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.lock);
    if (channel < 0 || channel >= SOUND_MIXER_NRDEVICES)
        return -1;
    return card.levels[channel];
}

std::string SpeakerPath()
{
    return Handheld::Instance().Root() + "/sim/speaker.wav";
}

}  // namespace soundcard
}  // namespace sim
