// The simulated sound card: what its nodes answer, the pace and format of
// what it captures and plays, what it loses when a reader falls behind, the
// mixer's memory, and the scenario commands that drive it.

#include "sim/soundcard.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <linux/soundcard.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/sys.h"
#include "sim/handheld.h"
#include "sim/scenario.h"
#include "tests/support/handheld.h"
#include "tests/support/wait.h"

namespace {

namespace card = sim::soundcard;
using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The value the driver answers to a setting.
int Set(int fd, unsigned long request, int value)
{
    int arg = value;
    EXPECT_EQ(sys::ioctl(fd, request, &arg), 0) << std::hex << request;
    return arg;
}

int OpenCapture(int stereo, int afmt, int rate)
{
    const int fd = sys::open("/dev/dsp", O_RDONLY | O_NONBLOCK);
    EXPECT_GE(fd, 0) << errno;
    if (fd >= 0) {
        Set(fd, SNDCTL_DSP_STEREO, stereo);
        Set(fd, SNDCTL_DSP_SETFMT, afmt);
        Set(fd, SNDCTL_DSP_SPEED, rate);
    }
    return fd;
}

// Reads what a capture delivers, waiting on poll between reads, until at
// least `bytes` have come; fewer only on a hang.
std::vector<unsigned char> CaptureAtLeast(int fd, size_t bytes)
{
    std::vector<unsigned char> got;
    std::vector<unsigned char> block(65536);
    EXPECT_TRUE(support::Eventually([&] {
        struct pollfd p = {fd, POLLIN, 0};
        sys::poll(&p, 1, 50);
        const ssize_t n = sys::read(fd, block.data(), block.size());
        if (n > 0)
            got.insert(got.end(), block.begin(), block.begin() + n);
        return got.size() >= bytes;
    })) << got.size()
        << " of " << bytes << " bytes";
    return got;
}

// How far `value` lies past `from`, in the counter microphone's 16-bit
// frame numbers, which wrap.
long FramesPast(long value, long long from)
{
    return static_cast<uint16_t>(static_cast<uint16_t>(value) - static_cast<uint16_t>(from));
}

int16_t Sample(const std::vector<unsigned char>& data, size_t index)
{
    return static_cast<int16_t>(data[2 * index] | data[2 * index + 1] << 8);
}

// Frames of the counter microphone must follow one another, both channels
// alike. Returns the first frame's number, or -1 at the first break.
long CounterRun(const std::vector<unsigned char>& data)
{
    const size_t frames = data.size() / 4;
    if (frames == 0)
        return -1;
    const uint16_t first = static_cast<uint16_t>(Sample(data, 0));
    for (size_t i = 0; i < frames; ++i) {
        const uint16_t left = static_cast<uint16_t>(Sample(data, 2 * i));
        const uint16_t right = static_cast<uint16_t>(Sample(data, 2 * i + 1));
        if (left != right || left != static_cast<uint16_t>(first + i)) {
            ADD_FAILURE() << "the run breaks at frame " << i << ": " << left << "/" << right;
            return -1;
        }
    }
    return first;
}

std::vector<unsigned char> ReadHostFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
}

uint32_t Le32(const std::vector<unsigned char>& b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

class SimSoundcard : public ::testing::Test {
protected:
    void SetUp() override { support::ResetHandheld(); }
    void TearDown() override { support::ResetHandheld(); }
};

// A playback DSP at 22050 Hz, 16-bit stereo.
int OpenPlayback()
{
    const int fd = sys::open("/dev/dsp", O_WRONLY);
    EXPECT_GE(fd, 0) << errno;
    if (fd >= 0) {
        Set(fd, SNDCTL_DSP_STEREO, 1);
        Set(fd, SNDCTL_DSP_SETFMT, AFMT_S16_LE);
        Set(fd, SNDCTL_DSP_SPEED, 22050);
    }
    return fd;
}

TEST_F(SimSoundcard, NodeStatesDecideAccessAndOpen)
{
    struct Case {
        card::Node node;
        card::NodeState state;
        int access_write;  // errno, 0 for success
        int access_read;
        int open_write;
        int open_read;
    };
    const std::vector<Case> cases = {
        {card::Node::kDsp, card::NodeState::kOk, 0, 0, 0, 0},
        {card::Node::kDsp, card::NodeState::kAbsent, ENOENT, ENOENT, ENOENT, ENOENT},
        {card::Node::kDsp, card::NodeState::kReadOnly, EACCES, 0, EACCES, 0},
        {card::Node::kDsp, card::NodeState::kBusy, 0, 0, EBUSY, EBUSY},
        {card::Node::kMixer, card::NodeState::kOk, 0, 0, 0, 0},
        {card::Node::kMixer, card::NodeState::kAbsent, ENOENT, ENOENT, ENOENT, ENOENT},
        {card::Node::kMixer, card::NodeState::kReadOnly, EACCES, 0, EACCES, 0},
        {card::Node::kMixer, card::NodeState::kBusy, 0, 0, EBUSY, EBUSY},
    };
    auto result = [](int rc) { return rc < 0 ? errno : 0; };
    for (const Case& c : cases) {
        const char* path = c.node == card::Node::kDsp ? "/dev/dsp" : "/dev/mixer";
        SCOPED_TRACE(std::string(path) + " state " + std::to_string(static_cast<int>(c.state)));
        card::SetNodeState(c.node, c.state);
        errno = 0;
        EXPECT_EQ(result(sys::access(path, W_OK)), c.access_write);
        errno = 0;
        EXPECT_EQ(result(sys::access(path, R_OK)), c.access_read);
        for (const int flags : {O_WRONLY, O_RDONLY | O_NONBLOCK}) {
            errno = 0;
            const int fd = sys::open(path, flags);
            EXPECT_EQ(result(fd), flags == O_WRONLY ? c.open_write : c.open_read) << flags;
            if (fd >= 0) {
                EXPECT_EQ(sys::close(fd), 0);
            }
        }
        card::SetNodeState(c.node, card::NodeState::kOk);
    }
}

TEST_F(SimSoundcard, OneDspAtATimeAndNoFullDuplex)
{
    const int first = sys::open("/dev/dsp", O_WRONLY);
    ASSERT_GE(first, 0);
    errno = 0;
    EXPECT_EQ(sys::open("/dev/dsp", O_RDONLY), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_TRUE(card::Dsp().open);
    ASSERT_EQ(sys::close(first), 0);
    EXPECT_FALSE(card::Dsp().open);
    errno = 0;
    EXPECT_EQ(sys::open("/dev/dsp", O_RDWR), -1);
    EXPECT_EQ(errno, EINVAL);
    const int again = sys::open("/dev/dsp", O_RDONLY);
    EXPECT_GE(again, 0);
    sys::close(again);
}

TEST_F(SimSoundcard, SettingsAnswerLikeAnOssDriver)
{
    struct Case {
        unsigned long request;
        int value;
        int answer;
    };
    const std::vector<Case> cases = {
        {SNDCTL_DSP_STEREO, 1, 1},
        {SNDCTL_DSP_STEREO, 0, 0},
        {SNDCTL_DSP_CHANNELS, 2, 2},
        {SNDCTL_DSP_CHANNELS, 6, 2},
        {SNDCTL_DSP_SETFMT, AFMT_S16_LE, AFMT_S16_LE},
        {SNDCTL_DSP_SETFMT, AFMT_MU_LAW, AFMT_U8},  // unsupported: 8-bit unsigned
        {SNDCTL_DSP_SETFMT, AFMT_S16_BE, AFMT_U8},
        {SNDCTL_DSP_SPEED, 22050, 22050},
        {SNDCTL_DSP_SPEED, 1000, 4000},
        {SNDCTL_DSP_SPEED, 96000, 48000},
        {SNDCTL_DSP_GETBLKSIZE, 0, 4096},
    };
    const int fd = sys::open("/dev/dsp", O_WRONLY);
    ASSERT_GE(fd, 0);
    for (const Case& c : cases)
        EXPECT_EQ(Set(fd, c.request, c.value), c.answer) << std::hex << c.request << " " << c.value;
    int query = AFMT_QUERY;
    Set(fd, SNDCTL_DSP_SETFMT, AFMT_S16_LE);
    EXPECT_EQ(sys::ioctl(fd, SNDCTL_DSP_SETFMT, &query), 0);
    EXPECT_EQ(query, AFMT_S16_LE);
    int left = -1;
    EXPECT_EQ(sys::ioctl(fd, SNDCTL_DSP_GETODELAY, &left), 0);
    EXPECT_EQ(left, 0);
    audio_buf_info unknown{};
    EXPECT_EQ(sys::ioctl(fd, SNDCTL_DSP_GETOSPACE, &unknown), -1);
    sys::close(fd);

    card::SetBlockSize(512);
    const int small = sys::open("/dev/dsp", O_WRONLY);
    ASSERT_GE(small, 0);
    EXPECT_EQ(Set(small, SNDCTL_DSP_GETBLKSIZE, 0), 512);
    sys::close(small);
}

// The capture is paced by the card's clock from the moment its format is
// set: the bytes of 0.8 s come, and never sooner than that rate allows; a
// loaded machine only makes them later.
TEST_F(SimSoundcard, CaptureArrivesAtTheRateAndFormatSet)
{
    struct Case {
        int stereo;
        int afmt;
        int rate;
        int bytes_per_second;
    };
    const std::vector<Case> cases = {
        {1, AFMT_S16_LE, 22050, 88200},
        {0, AFMT_U8, 8000, 8000},
        {1, AFMT_MU_LAW, 11025, 22050},  // falls back to 8-bit
        {0, AFMT_S16_LE, 44100, 88200},
    };
    card::SetBlockSize(1024);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, format " + std::to_string(c.afmt));
        const Clock::time_point before = Clock::now();
        const int fd = OpenCapture(c.stereo, c.afmt, c.rate);
        ASSERT_GE(fd, 0);
        // Nothing is there yet, and a non-blocking read says so.
        unsigned char byte;
        errno = 0;
        EXPECT_EQ(sys::read(fd, &byte, 1), -1);
        EXPECT_EQ(errno, EAGAIN);
        const std::vector<unsigned char> got =
            CaptureAtLeast(fd, static_cast<size_t>(c.bytes_per_second * 0.8));
        EXPECT_GE(Since(before), 0.999 * static_cast<double>(got.size()) / c.bytes_per_second);
        EXPECT_EQ(got.size() % 1024, 0u);
        EXPECT_EQ(card::Dsp().overruns, 0);
        sys::close(fd);
    }
}

TEST_F(SimSoundcard, CounterMicrophoneLosesNothingForAReaderThatKeepsUp)
{
    card::SetMic("counter");
    const int fd = OpenCapture(1, AFMT_S16_LE, 22050);
    ASSERT_GE(fd, 0);
    const std::vector<unsigned char> got = CaptureAtLeast(fd, 88200 + 1);
    EXPECT_EQ(got.size() % 4096, 0u);
    EXPECT_GE(CounterRun(got), 0);
    EXPECT_EQ(card::Dsp().overruns, 0);
    sys::close(fd);
}

TEST_F(SimSoundcard, ASlowReaderLosesTheOldestFragmentsAndCaptureGoesOn)
{
    card::SetMic("counter");
    const int fd = OpenCapture(1, AFMT_S16_LE, 22050);
    ASSERT_GE(fd, 0);
    // Nothing is read until the card has had to drop eight fragments.
    ASSERT_TRUE(support::Eventually([] { return card::Dsp().overruns >= 8; }));
    const card::DspStatus before = card::Dsp();
    std::vector<unsigned char> kept(131072);
    const ssize_t n = sys::read(fd, kept.data(), kept.size());
    const card::DspStatus after = card::Dsp();
    ASSERT_GT(n, 0);
    kept.resize(static_cast<size_t>(n));
    // The buffer holds 16 fragments; what was captured before them is gone.
    EXPECT_LE(n, 65536);
    EXPECT_GE(n, 65536 - 2 * 4096);
    const long first = CounterRun(kept);
    const long newest = first + n / 4;
    EXPECT_GT(first, 0);
    // Each lost fragment (1024 frames) is one overrun, and the read ends at
    // the newest frame the card had captured: the card's own counts, taken
    // around the read, bracket both.
    EXPECT_LE(FramesPast(first, before.overruns * 1024), (after.overruns - before.overruns) * 1024);
    EXPECT_LE(FramesPast(newest, before.moved / 4), (after.moved - before.moved) / 4);
    // Reading on, the run goes on from where the buffer stopped.
    const std::vector<unsigned char> more = CaptureAtLeast(fd, 4);
    ASSERT_GE(more.size(), 4u);
    EXPECT_EQ(static_cast<uint16_t>(Sample(more, 0)), static_cast<uint16_t>(newest));
    sys::close(fd);
}

TEST_F(SimSoundcard, PlaybackIsPacedAndTheSpeakerFileHoldsWhatWasPlayed)
{
    const int fd = sys::open("/dev/dsp", O_WRONLY);
    ASSERT_GE(fd, 0);
    Set(fd, SNDCTL_DSP_STEREO, 1);
    Set(fd, SNDCTL_DSP_SETFMT, AFMT_S16_LE);
    Set(fd, SNDCTL_DSP_SPEED, 22050);
    std::vector<unsigned char> sound(88200);
    for (size_t i = 0; i < sound.size(); ++i)
        sound[i] = static_cast<unsigned char>(i * 7 + i / 256);

    // Half a second block by block, each played out before the next: SYNC
    // waits for what the card holds, so it leaves nothing to play, and the
    // card never plays faster than the rate (a loaded machine only makes
    // it slower).
    auto left = [fd] {
        int bytes = -1;
        EXPECT_EQ(sys::ioctl(fd, SNDCTL_DSP_GETODELAY, &bytes), 0);
        return bytes;
    };
    const Clock::time_point start = Clock::now();
    for (size_t at = 0; at < 44100; at += 4096) {
        const size_t size = std::min<size_t>(4096, 44100 - at);
        ASSERT_EQ(sys::write(fd, sound.data() + at, size), static_cast<ssize_t>(size));
        ASSERT_EQ(sys::ioctl(fd, SNDCTL_DSP_SYNC, nullptr), 0);
        EXPECT_EQ(left(), 0);
        EXPECT_EQ(card::Dsp().moved, static_cast<long long>(at + size));
    }
    EXPECT_GE(Since(start), 0.999 * 44100 / 88200);

    // The other half in one go: the writer is held back to the card's pace,
    // all played before the write returns but what the socket's buffer and
    // the fragment in play hold. The card's timeline may go on from up to
    // 10 ms before the write (a late wake is no gap).
    const Clock::time_point bulk = Clock::now();
    ASSERT_EQ(sys::write(fd, sound.data() + 44100, 44100), 44100);
    EXPECT_GE(Since(bulk), (44100 - 5 * 4096) / 88200.0 - 0.011);
    ASSERT_EQ(sys::ioctl(fd, SNDCTL_DSP_SYNC, nullptr), 0);
    EXPECT_GE(Since(bulk), 44100 / 88200.0 - 0.011);
    EXPECT_EQ(left(), 0);
    EXPECT_EQ(card::Dsp().moved, 88200);

    // Readable while the card is still open.
    const std::vector<unsigned char> speaker = ReadHostFile(card::SpeakerPath());
    ASSERT_EQ(speaker.size(), 44u + 88200u);
    EXPECT_EQ(std::string(speaker.begin(), speaker.begin() + 4), "RIFF");
    EXPECT_EQ(Le32(speaker, 4), 88200u + 36);
    EXPECT_EQ(speaker[22], 2);
    EXPECT_EQ(Le32(speaker, 24), 22050u);
    EXPECT_EQ(speaker[34], 16);
    EXPECT_EQ(Le32(speaker, 40), 88200u);
    EXPECT_TRUE(std::equal(sound.begin(), sound.end(), speaker.begin() + 44));
    sys::close(fd);

    // The next playback starts a fresh file.
    const int next = sys::open("/dev/dsp", O_WRONLY);
    ASSERT_GE(next, 0);
    sys::close(next);
    EXPECT_EQ(ReadHostFile(card::SpeakerPath()).size(), 44u);
}

// What the card still holds at the close plays out before the close returns,
// on a driver as on an emulation, unless RESET dropped it.
TEST_F(SimSoundcard, TheCloseOfAPlaybackPlaysOutOrDropsWhatTheCardHolds)
{
    constexpr size_t kHeld = 3 * 4096;  // 139 ms
    const struct {
        const char* what;
        bool emulated;
        bool reset;
    } cases[] = {
        {"driver", false, false},
        {"driver after RESET", false, true},
        {"emulation", true, false},
        {"emulation after RESET", true, true},
    };
    std::vector<unsigned char> sound(kHeld);
    for (size_t i = 0; i < sound.size(); ++i)
        sound[i] = static_cast<unsigned char>(i * 5 + 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        card::SetEmulated(c.emulated);
        const int fd = OpenPlayback();
        ASSERT_GE(fd, 0);
        const Clock::time_point start = Clock::now();
        ASSERT_EQ(sys::write(fd, sound.data(), sound.size()), static_cast<ssize_t>(kHeld));
        if (c.reset) {
            // Once a fragment plays: it is cut short, the rest dropped, and
            // nothing is left for the close to play out.
            EXPECT_TRUE(support::Eventually([] { return card::Dsp().moved > 0; }));
            ASSERT_EQ(sys::ioctl(fd, SNDCTL_DSP_RESET, nullptr), 0);
            int left = -1;
            EXPECT_EQ(sys::ioctl(fd, SNDCTL_DSP_GETODELAY, &left), 0);
            EXPECT_EQ(left, 0);
        }
        const long long moved = card::Dsp().moved;
        ASSERT_EQ(sys::close(fd), 0);
        const double closed = Since(start);
        const std::vector<unsigned char> speaker = ReadHostFile(card::SpeakerPath());
        ASSERT_GE(speaker.size(), 44u);
        const size_t played = speaker.size() - 44;
        EXPECT_TRUE(std::equal(speaker.begin() + 44, speaker.end(), sound.begin()));
        if (!c.reset) {
            EXPECT_EQ(played, kHeld);
            // Never sooner than the sound takes at the rate.
            EXPECT_GE(closed, 0.999 * kHeld / 88200);
        } else {
            EXPECT_LT(played, kHeld);
            EXPECT_EQ(card::Dsp().moved, moved);
        }
    }
}

// The card plays whole fragments, as the Linux kernel's OSS does: the part
// of one at the end waits, unplayed and not counted by GETODELAY, until a
// SYNC or the close plays it; a RESET drops it.
TEST_F(SimSoundcard, APartOfAFragmentWaitsUncountedUntilASyncOrTheClose)
{
    constexpr size_t kWritten = 4096 + 2048;
    const struct {
        const char* then;
        size_t played;
    } cases[] = {{"sync", kWritten}, {"close", kWritten}, {"reset", 4096}};
    std::vector<unsigned char> sound(kWritten);
    for (size_t i = 0; i < sound.size(); ++i)
        sound[i] = static_cast<unsigned char>(i * 3 + 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.then);
        const int fd = OpenPlayback();
        ASSERT_GE(fd, 0);
        ASSERT_EQ(sys::write(fd, sound.data(), sound.size()), static_cast<ssize_t>(kWritten));
        // The whole fragment plays; then nothing is left to tell.
        const auto left = [fd] {
            int bytes = -1;
            return sys::ioctl(fd, SNDCTL_DSP_GETODELAY, &bytes) == 0 ? bytes : -1;
        };
        EXPECT_TRUE(support::Eventually([&] { return left() == 0; }));
        EXPECT_EQ(card::Dsp().moved, 4096);
        const std::string then = c.then;
        if (then != "close") {
            const unsigned long request = then == "sync" ? SNDCTL_DSP_SYNC : SNDCTL_DSP_RESET;
            EXPECT_EQ(sys::ioctl(fd, request, nullptr), 0);
        }
        ASSERT_EQ(sys::close(fd), 0);
        const std::vector<unsigned char> speaker = ReadHostFile(card::SpeakerPath());
        ASSERT_EQ(speaker.size(), 44 + c.played);
        EXPECT_TRUE(std::equal(speaker.begin() + 44, speaker.end(), sound.begin()));
    }
}

// A card that hangs takes nothing: a write that fits the buffer returns all
// the same, the writer waits once the buffer is full, and everything plays
// once the card goes on.
TEST_F(SimSoundcard, AHungCardHoldsTheWriterUntilItGoesOn)
{
    card::SetPlaybackHung(true);
    const int fd = OpenPlayback();
    ASSERT_GE(fd, 0);
    const std::vector<unsigned char> sound(65536, 3);
    std::atomic<ssize_t> fitted{-2};
    std::atomic<ssize_t> wrote{-2};
    std::thread writer([&] {
        fitted = sys::write(fd, sound.data(), 4096);
        wrote = sys::write(fd, sound.data(), sound.size());
    });
    EXPECT_TRUE(support::Eventually([&] { return fitted.load() == 4096; }));
    EXPECT_TRUE(support::Eventually([] { return card::Dsp().full; }));
    EXPECT_EQ(card::Dsp().moved, 0);
    EXPECT_EQ(wrote.load(), -2);
    card::SetPlaybackHung(false);
    writer.join();
    EXPECT_EQ(wrote.load(), 65536);
    ASSERT_EQ(sys::ioctl(fd, SNDCTL_DSP_SYNC, nullptr), 0);
    EXPECT_EQ(card::Dsp().moved, 4096 + 65536);
    EXPECT_FALSE(card::Dsp().full);
    sys::close(fd);
}

TEST_F(SimSoundcard, MicrophoneCanPlayAWavFileInALoop)
{
    // 300 frames of mono 8-bit at 8000 Hz, read back at the same settings.
    std::vector<unsigned char> file = {'R', 'I', 'F',  'F',  0,   0,   0,    0,    'W',  'A', 'V',
                                       'E', 'f', 'm',  't',  ' ', 16,  0,    0,    0,    1,   0,
                                       1,   0,   0x40, 0x1F, 0,   0,   0x40, 0x1F, 0,    0,   1,
                                       0,   8,   0,    'd',  'a', 't', 'a',  0x2C, 0x01, 0,   0};
    for (int i = 0; i < 300; ++i)
        file.push_back(static_cast<unsigned char>(20 + i % 211));
    const std::string path = sim::Handheld::Instance().Root() + "/sim/mic.wav";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    card::SetMic(path);
    card::SetBlockSize(1024);
    const int fd = OpenCapture(0, AFMT_U8, 8000);
    ASSERT_GE(fd, 0);
    const std::vector<unsigned char> got = CaptureAtLeast(fd, 2048);
    sys::close(fd);
    for (size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i], file[44 + i % 300]) << i;
}

TEST_F(SimSoundcard, MixerRemembersEveryLevelWritten)
{
    const int fd = sys::open("/dev/mixer", O_RDWR | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(card::MixerLevel(SOUND_MIXER_SYNTH), -1);
    // Kept as written; answered, to the write and to a read, on the scale
    // of 0 to 100 a side, as the Linux kernel answers.
    struct Level {
        int channel, written, answered;
    };
    const std::vector<Level> levels = {{SOUND_MIXER_ALTPCM, 120 + 120 * 256, 100 + 100 * 256},
                                       {SOUND_MIXER_MIC, 80 + 80 * 256, 80 + 80 * 256},
                                       {SOUND_MIXER_IGAIN, 60 + 101 * 256, 60 + 100 * 256}};
    for (const Level& level : levels) {
        int v = level.written;
        ASSERT_EQ(sys::ioctl(fd, MIXER_WRITE(level.channel), &v), 0);
        EXPECT_EQ(v, level.answered);
    }
    for (const Level& level : levels) {
        EXPECT_EQ(card::MixerLevel(level.channel), level.written);
        int read_back = 0;
        ASSERT_EQ(sys::ioctl(fd, MIXER_READ(level.channel), &read_back), 0);
        EXPECT_EQ(read_back, level.answered);
    }
    int mask = 0;
    ASSERT_EQ(sys::ioctl(fd, SOUND_MIXER_READ_DEVMASK, &mask), 0);
    EXPECT_TRUE(mask & SOUND_MASK_MIC);
    sys::close(fd);
}

TEST_F(SimSoundcard, OpenAndCloseUnderWayNeverHang)
{
    // Closing while the card's thread is mid-fragment, in both directions
    // (a playback's close plays out its 46 ms).
    card::SetMic("counter");
    std::vector<unsigned char> block(4096, 1);
    for (int round = 0; round < 40; ++round) {
        const bool capture = round % 2 == 0;
        const int fd = capture ? OpenCapture(1, AFMT_S16_LE, 22050) : OpenPlayback();
        ASSERT_GE(fd, 0);
        if (capture) {
            struct pollfd p = {fd, POLLIN, 0};
            sys::poll(&p, 1, round % 7 * 10);
        } else {
            ASSERT_EQ(sys::write(fd, block.data(), block.size()), 4096);
        }
        ASSERT_EQ(sys::close(fd), 0);
        EXPECT_FALSE(card::Dsp().open);
    }
}

TEST(SimSoundcardScenario, AudioCommandsDriveTheCard)
{
    struct Case {
        const char* line;
        bool valid;
    };
    const std::vector<Case> cases = {
        {"0 dsp absent", true},   {"0 mixer busy", true},  {"5 dsp readonly", true},
        {"5 blksize 2048", true}, {"5 mic counter", true}, {"0 dsp gone", false},
        {"0 mixer", false},       {"0 blksize -1", false}, {"0 blksize 100000", false},
        {"0 mic", false},         {"0 mic a b", false},
    };
    for (const Case& c : cases) {
        std::vector<sim::ScenarioCommand> commands;
        std::string error;
        EXPECT_EQ(sim::ParseScenario(c.line, &commands, &error), c.valid) << c.line << error;
    }

    std::vector<sim::ScenarioCommand> commands;
    std::string error;
    ASSERT_TRUE(sim::ParseScenario("0 dsp absent\n0 mixer busy\n0 blksize 2048\n0 mic counter\n",
                                   &commands, &error))
        << error;
    for (const sim::ScenarioCommand& command : commands)
        command.act(sim::Handheld::Instance());
    errno = 0;
    EXPECT_EQ(sys::access("/dev/dsp", W_OK), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(sys::open("/dev/mixer", O_RDWR), -1);
    EXPECT_EQ(errno, EBUSY);
    card::SetNodeState(card::Node::kDsp, card::NodeState::kOk);
    const int fd = OpenCapture(1, AFMT_S16_LE, 22050);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Set(fd, SNDCTL_DSP_GETBLKSIZE, 0), 2048);
    EXPECT_GE(CounterRun(CaptureAtLeast(fd, 4096)), 0);
    sys::close(fd);
    card::SetNodeState(card::Node::kMixer, card::NodeState::kOk);
    card::SetBlockSize(0);
    card::SetMic("tone");
}

}  // namespace
