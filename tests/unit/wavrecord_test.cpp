// The audio stream on the simulated handheld: headers that tell the truth,
// the WAV reader's codes, the device codes, block transfers and their
// failures, real-time recording and playback, and closes from another
// thread or by a killed process.

#include "audio/wavrecord.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "audio/sounddevice.h"
#include "audio/wavformat.h"
#include "platform/oss.h"
#include "platform/sys.h"
#include "sim/faults.h"
#include "sim/handheld.h"
#include "sim/sdcard.h"
#include "sim/soundcard.h"
#include "tests/support/handheld.h"
#include "tests/support/recording.h"
#include "tests/support/wait.h"

namespace {

namespace card = sim::soundcard;
using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

constexpr int kMixerAltPcm = oss::MixerChannel(oss::kMixerWriteAltPcm);
constexpr int kMixerMic = oss::MixerChannel(oss::kMixerWriteMic);
constexpr int kMixerIGain = oss::MixerChannel(oss::kMixerWriteIGain);

double Since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

sim::Handheld& Machine()
{
    return sim::Handheld::Instance();
}

Bytes ReadFile(const char* handheld_path)
{
    std::ifstream in(sys::resolve(handheld_path), std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const char* handheld_path, const Bytes& bytes)
{
    std::ofstream out(sys::resolve(handheld_path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

Bytes HeaderBytes(int channels, int rate, int bits, uint32_t declared)
{
    const WavHeader h = WavHeader::ForBytes(channels, static_cast<uint32_t>(rate), bits, declared);
    return Bytes(h.bytes.begin(), h.bytes.end());
}

// The fmt chunk of a canonical header, and the head of its data chunk.
Bytes FmtChunk(int channels, int rate, int bits)
{
    const Bytes h = HeaderBytes(channels, rate, bits, 0);
    return Bytes(h.begin() + 12, h.begin() + 36);
}

Bytes DataChunkHead(uint32_t declared)
{
    const Bytes h = HeaderBytes(2, 22050, 16, declared);
    return Bytes(h.begin() + 36, h.end());
}

// A WAV file; `extra` goes between the fmt and the data chunk.
Bytes MakeWav(int channels, int rate, int bits, size_t data_bytes, const Bytes& extra = {},
              int64_t declared = -1)
{
    Bytes b = HeaderBytes(
        channels, rate, bits,
        static_cast<uint32_t>(declared >= 0 ? declared : static_cast<int64_t>(data_bytes)));
    b.insert(b.begin() + 36, extra.begin(), extra.end());
    for (size_t i = 0; i < data_bytes; ++i)
        b.push_back(static_cast<unsigned char>(i * 13));
    return b;
}

// The data size a recording's header declares; the test fails unless the
// whole header is the canonical one of 16-bit stereo at `rate` for it.
uint32_t Declared(const Bytes& file, int rate = 22050)
{
    const uint32_t declared = static_cast<uint32_t>(wav_parse(file.data(), file.size()).data_size);
    const Bytes canonical = HeaderBytes(2, rate, 16, declared);
    EXPECT_TRUE(file.size() >= canonical.size() &&
                std::equal(canonical.begin(), canonical.end(), file.begin()))
        << "not the canonical header of " << declared << " bytes at " << rate << " Hz";
    return declared;
}

// The counter microphone's frames must follow one another, both channels
// alike: true when they do from `offset` on.
bool UnbrokenRun(const Bytes& data, size_t offset)
{
    const std::string broken =
        support::CounterBreak(std::string(data.begin() + offset, data.end()));
    if (!broken.empty())
        ADD_FAILURE() << "the run breaks at " << broken;
    return broken.empty();
}

// The record worker's loop (wait for the card, read a block, write it)
// until the recording has taken in `bytes` from the card. False when a
// transfer failed first, or on a hang.
bool RecordUntil(CWavRecord& wav, int64_t bytes)
{
    bool failed = false;
    const bool reached = support::Eventually([&] {
        wav.dsp_wait(50);
        failed = wav.file_write(wav.dsp_read()) < 0;
        return failed || wav.captured_bytes() >= bytes;
    });
    return reached && !failed;
}

// A card stall that lasts until the test lifts it (SetStall(0, 0)).
constexpr long kStallUntilLifted =
    std::chrono::duration_cast<std::chrono::milliseconds>(3 * support::kHung).count();

// Runs `call` on a thread of its own: true when it returned by itself within
// the hung bound, so it never waited for what the handheld holds up (a card
// that stalls, a device that hangs); else `unstick` lets it go, and false.
bool ReturnsByItself(const std::function<void()>& call, const std::function<void()>& unstick)
{
    std::atomic<bool> returned{false};
    std::thread caller([&] {
        call();
        returned = true;
    });
    const bool by_itself = support::Eventually([&] { return returned.load(); });
    if (!by_itself)
        unstick();
    caller.join();
    return by_itself;
}

void LiftStall()
{
    sim::sdcard::SetStall(0, 0);
}

// The play worker's loop, to the end of the data.
void PlayToTheEnd(CWavRecord& wav)
{
    while (wav.dsp_write(wav.file_read()) >= 0) {
    }
}

int LowestFreeDescriptor()
{
    const int fd = ::dup(0);
    ::close(fd);
    return fd;
}

std::string CapturedLog()
{
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// The count a close logged, or -1.
long LoggedCount(const std::string& log, const std::string& text)
{
    const size_t at = log.find(text);
    return at == std::string::npos ? -1 : std::atol(log.c_str() + at + text.size());
}

void ExpectIdle(const CWavRecord& wav)
{
    const CWavRecord::Fields f = wav.fields();
    EXPECT_LT(f.dsp_fd, 0);
    EXPECT_EQ(f.mixer_fd, -1);
    EXPECT_EQ(f.wav_fd, -1);
    EXPECT_FALSE(f.has_block_buf);
    EXPECT_FALSE(card::Dsp().open);
}

class WavRecordTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        support::ResetHandheld("counter");
        sys::mkdir("/mnt/sd/music/rec", 0755);
    }
    void TearDown() override { support::ResetHandheld(); }
};

TEST_F(WavRecordTest, StartHeaderIsByteForByteAndTheDevicesAreSetForRecording)
{
    // No samples exist yet, and none are declared.
    const Bytes start = {0x52, 0x49, 0x46, 0x46, 0x24, 0x00, 0x00, 0x00, 0x57, 0x41, 0x56,
                         0x45, 0x66, 0x6D, 0x74, 0x20, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00,
                         0x02, 0x00, 0x22, 0x56, 0x00, 0x00, 0x88, 0x58, 0x01, 0x00, 0x04,
                         0x00, 0x10, 0x00, 0x64, 0x61, 0x74, 0x61, 0x00, 0x00, 0x00, 0x00};
    CWavRecord wav;
    ASSERT_EQ(wav.record_open("/mnt/sd/music/rec/start.wav"), 0);
    EXPECT_EQ(ReadFile("/mnt/sd/music/rec/start.wav"), start);
    const CWavRecord::Fields f = wav.fields();
    EXPECT_GE(f.dsp_fd, 0);
    EXPECT_GE(f.mixer_fd, 0);
    EXPECT_EQ(f.block_size, 4096);
    EXPECT_TRUE(f.has_block_buf);
    const card::DspStatus dsp = card::Dsp();
    EXPECT_TRUE(dsp.capture);
    EXPECT_EQ(dsp.channels, 2);
    EXPECT_EQ(dsp.format, 16);
    EXPECT_EQ(dsp.rate, 22050);
    EXPECT_EQ(card::MixerLevel(kMixerAltPcm), 30840);
    EXPECT_EQ(card::MixerLevel(kMixerMic), 20560);
    EXPECT_EQ(card::MixerLevel(kMixerIGain), 15420);

    testing::internal::CaptureStdout();
    EXPECT_EQ(wav.record_open("/mnt/sd/music/rec/other.wav"), -1);
    EXPECT_NE(CapturedLog().find("Recorder is running(" + std::to_string(f.dsp_fd) + ")...\n"),
              std::string::npos);
    EXPECT_EQ(wav.fields().dsp_fd, f.dsp_fd);
    testing::internal::CaptureStdout();
    EXPECT_EQ(wav.play_open("/mnt/sd/music/rec/start.wav"), -1);
    EXPECT_NE(CapturedLog().find("Player is running...\n"), std::string::npos);

    testing::internal::CaptureStdout();
    wav.record_close();
    const std::string log = CapturedLog();
    // What came before the close (nothing, unless a loaded machine held
    // the test up for a fragment's time) is all in the file.
    EXPECT_EQ(LoggedCount(log, "(Record) Write sound data="), wav.captured_bytes()) << log;
    EXPECT_NE(log.find("soundcard_close()\n"), std::string::npos);
    ExpectIdle(wav);
}

// Recordings of a moment and of a few seconds, on the real clock: the header
// declares the frames the file holds, every byte the card handed over is in
// it and none came faster than the rate, and the recording plays back into
// the speaker no faster than the rate.
TEST_F(WavRecordTest, HeaderDeclaresWhatTheFileHoldsAndTheRecordingPlaysBack)
{
    for (const double seconds : {0.4, 3.0}) {
        SCOPED_TRACE(std::to_string(seconds) + " s");
        const char* path = "/mnt/sd/music/rec/take.wav";
        CWavRecord wav;
        const Clock::time_point opened = Clock::now();
        ASSERT_EQ(wav.record_open(path), 0);
        ASSERT_TRUE(RecordUntil(wav, static_cast<int64_t>(seconds * 88200)));
        wav.header_update();
        testing::internal::CaptureStdout();
        wav.record_close();
        const double recording = Since(opened);
        const long written = LoggedCount(CapturedLog(), "(Record) Write sound data=");
        EXPECT_EQ(card::Dsp().overruns, 0);

        const Bytes file = ReadFile(path);
        ASSERT_GE(file.size(), 44u);
        EXPECT_EQ(support::RecordingFault(sys::resolve(path)), "");
        const uint32_t data = Declared(file);
        EXPECT_EQ(static_cast<long>(data), written);
        EXPECT_EQ(static_cast<int64_t>(data), wav.captured_bytes());
        EXPECT_GE(data, seconds * 88200);
        EXPECT_LE(data, recording * 88200);

        ASSERT_EQ(wav.play_open(path), 0);
        EXPECT_EQ(wav.fields().data_offset, 44);
        const Clock::time_point start = Clock::now();
        PlayToTheEnd(wav);
        const double took = Since(start);
        const long played = wav.fields().byte_count;
        wav.play_close();
        EXPECT_EQ(played, static_cast<long>(data));
        EXPECT_GE(took, data / 88200.0 - 0.02);
        const Bytes speaker = ReadFile("/sim/speaker.wav");
        ASSERT_EQ(speaker.size(), file.size());
        EXPECT_TRUE(std::equal(file.begin() + 44, file.end(), speaker.begin() + 44));
        EXPECT_EQ(Declared(speaker), speaker.size() - 44);
    }
}

TEST_F(WavRecordTest, WavParseCodesMessagesAndPositions)
{
    Bytes extra = {'L', 'I', 'S', 'T', 18, 0, 0, 0};
    extra.resize(26, 'x');
    Bytes hundred = MakeWav(2, 22050, 16, 56);
    ASSERT_EQ(hundred.size(), 100u);
    Bytes no_wave = MakeWav(2, 22050, 16, 64);
    std::memcpy(no_wave.data() + 8, "WAVX", 4);
    Bytes no_fmt = MakeWav(2, 22050, 16, 64);
    std::memcpy(no_fmt.data() + 12, "FMT ", 4);
    Bytes no_data = MakeWav(2, 22050, 16, 64);
    std::memcpy(no_data.data() + 36, "DATA", 4);
    // "fmt " whose fields would run past the 1024 bytes read, with a data
    // chunk before it; and one that just fits, with no data chunk.
    Bytes fmt_past = MakeWav(2, 22050, 16, 0);
    std::memcpy(fmt_past.data() + 12, "junk", 4);
    fmt_past.resize(1024 - 20, 0x55);
    const Bytes fmt = FmtChunk(2, 22050, 16);
    fmt_past.insert(fmt_past.end(), fmt.begin(), fmt.end());
    Bytes fmt_fits = fmt_past;
    fmt_fits.erase(fmt_fits.begin() + 1000, fmt_fits.begin() + 1004);
    std::memcpy(fmt_fits.data() + 36, "xxxx", 4);
    // "data" in the last bytes of the window: 8 bytes fit at 1016, not at 1020.
    auto data_at = [&](size_t at) {
        Bytes b = MakeWav(2, 22050, 16, 0);
        std::memcpy(b.data() + 36, "pad ", 4);
        b.resize(at, 0x77);
        const Bytes head = DataChunkHead(4000);
        b.insert(b.end(), head.begin(), head.end());
        b.resize(b.size() + 4000, 1);
        return b;
    };
    // A short file whose fmt fields would lie beyond its end.
    Bytes short_fmt = MakeWav(2, 22050, 16, 0);
    std::memcpy(short_fmt.data() + 12, "junk", 4);
    short_fmt.resize(44);
    short_fmt.insert(short_fmt.end(), fmt.begin(), fmt.begin() + 12);

    struct Case {
        const char* name;
        Bytes file;  // empty: no file at all
        int code;
        const char* message;
        int data_offset;
        int channels;
        int format;
        int rate;
    };
    const std::vector<Case> cases = {
        {"missing", {}, -10, "Not found WAV file.\n", 0, 0, 0, 0},
        {"not riff", Bytes(200, 'a'), -12, "File is not a WAV format.\n", 0, 0, 0, 0},
        {"no wave", no_wave, -12, "File is not a WAV format.\n", 0, 0, 0, 0},
        {"no fmt", no_fmt, -13, "No infomation in file\n", 0, 0, 0, 0},
        {"no data", no_data, -14, "No wav data\n", 0, 0, 0, 0},
        {"size 0", MakeWav(2, 22050, 16, 64, {}, 0), -14, "No wav data\n", 0, 0, 0, 0},
        {"size 2^31", MakeWav(2, 22050, 16, 64, {}, 0x80000000LL), -14, "No wav data\n", 0, 0, 0,
         0},
        {"fmt past the window", fmt_past, -13, "No infomation in file\n", 0, 0, 0, 0},
        {"fmt past a short file", short_fmt, -13, "No infomation in file\n", 0, 0, 0, 0},
        {"data past the window", data_at(1020), -14, "No wav data\n", 0, 0, 0, 0},
        {"fmt at the window's end", fmt_fits, -14, "No wav data\n", 0, 0, 0, 0},
        {"data at the window's end", data_at(1016), 0, nullptr, 1024, 2, 16, 22050},
        {"canonical", MakeWav(2, 22050, 16, 4096), 0, nullptr, 44, 2, 16, 22050},
        {"extra chunk", MakeWav(2, 22050, 16, 4096, extra), 0, nullptr, 70, 2, 16, 22050},
        {"100 bytes", hundred, 0, nullptr, 44, 2, 16, 22050},
        {"mono 8-bit", MakeWav(1, 11025, 8, 2000), 0, nullptr, 44, 1, 8, 11025},
        {"6 channels", MakeWav(6, 44100, 16, 2400), 0, nullptr, 44, 2, 16, 44100},
    };
    const char* path = "/mnt/sd/parse.wav";
    CWavRecord wav;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sys::unlink(path);
        if (!c.file.empty())
            WriteFile(path, c.file);
        const int free_before = LowestFreeDescriptor();
        testing::internal::CaptureStdout();
        const int rc = wav.play_open(path);
        const std::string log = CapturedLog();
        if (c.code < 0) {
            EXPECT_EQ(rc, -2);
            EXPECT_NE(log.find(std::string("wavrecord.cpp_")), std::string::npos);
            EXPECT_NE(log.find(std::string("]  ") + c.message), std::string::npos) << log;
            ExpectIdle(wav);
            // The reader gave back the file, the stream the devices.
            EXPECT_EQ(LowestFreeDescriptor(), free_before);
            // Called alone, the reader answers the code itself.
            EXPECT_EQ(wav.wav_parse(path), c.code);
            EXPECT_EQ(LowestFreeDescriptor(), free_before);
            continue;
        }
        ASSERT_EQ(rc, 0) << log;
        EXPECT_EQ(wav.fields().data_offset, c.data_offset);
        const card::DspStatus dsp = card::Dsp();
        EXPECT_FALSE(dsp.capture);
        EXPECT_EQ(dsp.channels, c.channels);
        EXPECT_EQ(dsp.format, c.format);
        EXPECT_EQ(dsp.rate, c.rate);
        EXPECT_EQ(card::MixerLevel(kMixerAltPcm), 25700);
        EXPECT_EQ(card::MixerLevel(kMixerMic), 20560);
        EXPECT_EQ(card::MixerLevel(kMixerIGain), 15420);
        // The first block read is the first sample.
        const int n = wav.file_read();
        ASSERT_GT(n, 0);
        const size_t expect = std::min<size_t>(4096, c.file.size() - c.data_offset);
        EXPECT_EQ(static_cast<size_t>(n), expect);
        wav.play_close();
        EXPECT_EQ(LowestFreeDescriptor(), free_before);
    }
    // What is not a file is refused as a file that cannot be opened, at
    // once: a FIFO nobody writes to would hold the player for ever.
    sys::unlink(path);
    for (const bool fifo : {true, false}) {
        SCOPED_TRACE(fifo ? "a FIFO" : "a folder");
        const std::string host = sys::resolve(path);
        ASSERT_EQ(fifo ? ::mkfifo(host.c_str(), 0644) : ::mkdir(host.c_str(), 0755), 0);
        testing::internal::CaptureStdout();
        EXPECT_EQ(wav.play_open(path), -2);
        EXPECT_NE(CapturedLog().find("]  Can't open WAV file.\n"), std::string::npos);
        ExpectIdle(wav);
        EXPECT_EQ(wav.wav_parse(path), -11);
        ::remove(host.c_str());
    }
}

// A descriptor table that runs full at every step of play_open in turn:
// each failure is logged with its code's text and gives back all it took.
TEST_F(WavRecordTest, EveryFailedOpenGivesBackWhatItTook)
{
    const char* path = "/mnt/sd/full.wav";
    WriteFile(path, MakeWav(2, 22050, 16, 400));
    CWavRecord wav;
    // One open with descriptors to spare first: UBSan's type checks probe
    // memory through a pipe of their own the first time they meet a type.
    ASSERT_EQ(wav.play_open(path), 0);
    wav.play_close();
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    std::vector<std::string> seen;
    bool opened = false;
    for (int allowed = 0; allowed < 12 && !opened; ++allowed) {
        std::vector<int> probe;
        for (int i = 0; i <= allowed; ++i)
            probe.push_back(::dup(0));
        const int free_before = probe.front();
        struct rlimit low = saved;
        low.rlim_cur = static_cast<rlim_t>(probe.back());
        for (int fd : probe)
            ::close(fd);
        testing::internal::CaptureStdout();
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
        const int rc = wav.play_open(path);
        setrlimit(RLIMIT_NOFILE, &saved);
        const std::string log = CapturedLog();
        if (rc == 0) {
            opened = true;
            wav.play_close();
        } else {
            EXPECT_EQ(rc, -2);
            ExpectIdle(wav);
            const size_t text = log.find("]  ");
            if (text != std::string::npos)
                seen.push_back(log.substr(text + 3, log.find('\n', text) - text - 2));
        }
        EXPECT_EQ(LowestFreeDescriptor(), free_before) << allowed;
    }
    EXPECT_TRUE(opened);
    auto saw = [&](const std::string& text) {
        return std::find(seen.begin(), seen.end(), text) != seen.end();
    };
    EXPECT_TRUE(saw("Can't open the soundcard.\n"));
    EXPECT_TRUE(saw("Can't open the mixer.\n"));
    EXPECT_TRUE(saw("Can't open WAV file.\n"));
}

TEST_F(WavRecordTest, SoundcardCodesWithDevicesAbsentUnwritableOrBusy)
{
    struct Case {
        card::Node node;
        card::NodeState state;
        int code;
        const char* message;
    };
    const std::vector<Case> cases = {
        {card::Node::kDsp, card::NodeState::kAbsent, -7,
         "You don't have permission to access the soundcard.\n"},
        {card::Node::kDsp, card::NodeState::kReadOnly, -7,
         "You don't have permission to access the soundcard.\n"},
        {card::Node::kDsp, card::NodeState::kBusy, -5, "Can't open the soundcard.\n"},
        {card::Node::kMixer, card::NodeState::kAbsent, -8,
         "You don't have permission to access the mixer.\n"},
        {card::Node::kMixer, card::NodeState::kReadOnly, -8,
         "You don't have permission to access the mixer.\n"},
        {card::Node::kMixer, card::NodeState::kBusy, -6, "Can't open the mixer.\n"},
    };
    const char* track = "/mnt/sd/music/rec/track.wav";
    WriteFile(track, MakeWav(2, 22050, 16, 400));
    CWavRecord wav;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        card::SetNodeState(c.node, c.state);
        SoundDevice device;
        EXPECT_EQ(device.soundcard_open(O_WRONLY), c.code);
        EXPECT_EQ(device.dsp_fd(), -1);
        EXPECT_EQ(device.mixer_fd(), -1);
        ExpectIdle(wav);
        for (const bool recording : {true, false}) {
            testing::internal::CaptureStdout();
            const int rc =
                recording ? wav.record_open("/mnt/sd/music/rec/new.wav") : wav.play_open(track);
            const std::string log = CapturedLog();
            EXPECT_EQ(rc, -2);
            EXPECT_NE(log.find(c.message), std::string::npos) << log;
            ExpectIdle(wav);
        }
        card::SetNodeState(c.node, card::NodeState::kOk);
        // Nothing was left holding the DSP: the next open works.
        ASSERT_EQ(wav.record_open("/mnt/sd/music/rec/new.wav"), 0);
        wav.record_close();
    }
}

TEST_F(WavRecordTest, MixerCapAndBlockSizeFloor)
{
    SoundDevice device;
    ASSERT_GE(device.soundcard_open(O_WRONLY), 0);
    EXPECT_EQ(device.dsp_get_blksize(), 4096);
    device.mixer_write(oss::kMixerWriteMic, 150, 90);
    EXPECT_EQ(card::MixerLevel(kMixerMic), 23160);
    device.mixer_write(oss::kMixerWriteIGain, 0, 120);
    EXPECT_EQ(card::MixerLevel(kMixerIGain), 30720);
    // A close of closed devices still says so.
    testing::internal::CaptureStdout();
    device.soundcard_close();
    device.soundcard_close();
    const std::string closes = CapturedLog();
    const size_t first = closes.find("]  soundcard_close()\n");
    ASSERT_NE(first, std::string::npos) << closes;
    EXPECT_NE(closes.find("]  soundcard_close()\n", first + 1), std::string::npos) << closes;
    EXPECT_EQ(device.dsp_get_blksize(), 1024);

    CWavRecord wav;
    card::SetBlockSize(512);
    ASSERT_EQ(wav.record_open("/mnt/sd/music/rec/small.wav"), 0);
    EXPECT_EQ(wav.fields().block_size, 1024);
    // Two of the card's fragments make one block; nothing is lost between,
    // and every fragment the card handed over reached the file whole.
    ASSERT_TRUE(RecordUntil(wav, 88200 * 3 / 10));
    testing::internal::CaptureStdout();
    wav.record_close();
    const long written = LoggedCount(CapturedLog(), "(Record) Write sound data=");
    EXPECT_GT(written, 0);
    EXPECT_EQ(written % 512, 0) << written;
    const Bytes file = ReadFile("/mnt/sd/music/rec/small.wav");
    EXPECT_EQ(static_cast<long>(file.size()) - 44, written);
    // A loaded machine may keep the capture from the card for longer than
    // its buffer of 32 such fragments (93 ms): the card drops, and counts,
    // some; what reached the file is whole fragments all the same.
    if (card::Dsp().overruns == 0) {
        EXPECT_TRUE(UnbrokenRun(file, 44));
    }
    for (size_t at = 44; at + 512 <= file.size(); at += 512)
        ASSERT_TRUE(UnbrokenRun(Bytes(file.begin() + at, file.begin() + at + 512), 0)) << at;
}

// The header declares what the card records: a rate of the card's own is
// declared as it is, and a card that cannot record 16-bit stereo, or never
// sees the requests, records nothing rather than noise under a header that
// says otherwise.
TEST_F(WavRecordTest, TheHeaderDeclaresWhatTheCardRecords)
{
    struct Case {
        const char* name;
        card::Abilities abilities;
        int opened;
        uint32_t rate;  // declared
    };
    const std::vector<Case> cases = {
        {"every setting taken", {}, 0, 22050},
        {"a card of one rate", {true, true, 22058, true}, 0, 22058},
        {"8-bit only", {false, true, 0, true}, -2, 0},
        {"mono only", {true, false, 0, true}, -2, 0},
        {"settings never seen", {true, true, 0, false}, -2, 0},
    };
    const char* path = "/mnt/sd/music/rec/format.wav";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sys::unlink(path);
        card::SetAbilities(c.abilities);
        CWavRecord wav;
        testing::internal::CaptureStdout();
        ASSERT_EQ(wav.record_open(path), c.opened);
        const bool recorded = c.opened == 0 && RecordUntil(wav, 88200 * 3 / 10);
        wav.record_close();
        const std::string log = CapturedLog();
        ExpectIdle(wav);
        if (c.opened < 0) {
            EXPECT_NE(log.find("]  The soundcard can't record 16-bit stereo.\n"), std::string::npos)
                << log;
            EXPECT_TRUE(ReadFile(path).empty());
            continue;
        }
        EXPECT_TRUE(recorded);
        const Bytes file = ReadFile(path);
        ASSERT_GT(file.size(), 44u + 88200 / 10);
        EXPECT_EQ(Declared(file, c.rate), file.size() - 44);
        EXPECT_TRUE(UnbrokenRun(file, 44));
    }
}

// The card changes between the making of the file and its header: a file
// that cannot get its header is removed, and where even that fails the
// recording is still reported failed; a lock switch moved meanwhile is only
// read at the next insertion, so the recording goes on.
TEST_F(WavRecordTest, TheCardChangesBetweenTheFileAndItsHeader)
{
    struct Case {
        const char* name;
        std::function<void()> act;
        int opened;
        bool removal_fails;
        long file_size;  // after the card is back; -1: none
    };
    const std::vector<Case> cases = {
        {"card full", [] { Machine().SetCardFree(10); }, -2, false, -1},
        {"card pulled", [] { Machine().SetCard(sim::CardState::kOut); }, -2, true, 0},
        {"card locked", [] { Machine().SetCard(sim::CardState::kLocked); }, 0, false, 44},
    };
    const char* path = "/mnt/sd/music/rec/between.wav";
    const int free_between = LowestFreeDescriptor();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sys::unlink(path);
        // The threads of the case before end by themselves, the last of
        // them on a loaded machine after the case is over.
        ASSERT_TRUE(support::Eventually([&] { return LowestFreeDescriptor() == free_between; }));
        CWavRecord wav;
        const int free_before = LowestFreeDescriptor();
        sim::sdcard::AfterNextCreate(c.act);
        testing::internal::CaptureStdout();
        EXPECT_EQ(wav.record_open(path), c.opened);
        const bool recorded = c.opened == 0 && RecordUntil(wav, 88200 * 3 / 10);
        wav.record_close();
        const std::string log = CapturedLog();
        Machine().SetCard(sim::CardState::kIn);
        Machine().SetCardFree(-1);
        EXPECT_EQ(log.find("Can't remove the unfinished WAV file.") != std::string::npos,
                  c.removal_fails)
            << log;
        ExpectIdle(wav);
        EXPECT_TRUE(support::Eventually([&] { return LowestFreeDescriptor() == free_before; }))
            << LowestFreeDescriptor() << " against " << free_before;
        struct stat st;
        const bool exists = ::stat(sys::resolve(path).c_str(), &st) == 0;
        if (c.opened == 0) {
            EXPECT_TRUE(recorded);
            const Bytes file = ReadFile(path);
            ASSERT_GT(file.size(), 44u + 88200 / 10);
            EXPECT_EQ(Declared(file), file.size() - 44);
        } else if (c.file_size < 0) {
            EXPECT_FALSE(exists);
        } else {
            ASSERT_TRUE(exists);
            EXPECT_EQ(st.st_size, c.file_size);
        }
    }
}

// The card refuses what the writer writes: the worker learns it from its
// next file_write, and the file keeps what reached it under a header that
// declares its whole frames.
TEST_F(WavRecordTest, AFailedWriteReachesTheWorkerAndTheFileKeepsWhatItGot)
{
    struct Case {
        const char* name;
        int64_t card_free;  // -1: unlimited
        bool pull_card;
        int64_t kept;  // sample bytes in the file at the end; -1: some, 0: no file
    };
    // What the card took of a frame is cut off, and a file left with no
    // sound is removed.
    const std::vector<Case> cases = {
        {"card keeps taking", -1, false, -1},
        {"card nearly full", 1001, false, 1000},
        {"card full", 0, false, 0},
        {"card pulled", -1, true, 0},
    };
    const char* path = "/mnt/sd/music/rec/write.wav";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CWavRecord wav;
        ASSERT_EQ(wav.record_open(path), 0);
        EXPECT_EQ(wav.file_write(-1), 0);
        EXPECT_EQ(wav.file_write(0), 0);
        Machine().SetCardFree(c.card_free);
        if (c.pull_card)
            Machine().SetCard(sim::CardState::kOut);
        // The writer writes a quarter second at a time.
        EXPECT_EQ(RecordUntil(wav, 88200 + 4096), c.kept < 0);
        Machine().SetCard(sim::CardState::kIn);
        wav.header_update();
        testing::internal::CaptureStdout();
        wav.record_close();
        const std::string log = CapturedLog();
        Machine().SetCardFree(-1);
        if (c.kept == 0) {
            EXPECT_NE(sys::access(path, F_OK), 0);
            EXPECT_NE(log.find("unlink file(" + std::string(path) + ")"), std::string::npos) << log;
            continue;
        }
        const Bytes file = ReadFile(path);
        ASSERT_GE(file.size(), 44u);
        if (c.kept > 0)
            EXPECT_EQ(file.size(), 44u + c.kept);
        else
            EXPECT_GT(file.size(), 44u + 88200u);
        EXPECT_EQ(Declared(file), file.size() - 44);
        EXPECT_EQ(LoggedCount(log, "(Record) Write sound data="),
                  static_cast<long>(file.size() - 44));
    }
    CWavRecord idle;
    EXPECT_EQ(idle.file_write(4096), -2);
}

// The record worker sleeps through the sound, which goes to the writer
// without it: its wait runs its full time while sound comes. A request
// (dsp_wake, before the wait or during it) or a failure of the capture or
// of the file ends the wait at once, and the failure is told.
TEST_F(WavRecordTest, TheRecordWorkerWakesForARequestOrAFailureNeverForSound)
{
    using sim::faults::Action;
    using sim::faults::Device;
    const struct {
        const char* what;
        // Raises on `wav` now, or on `waker` a moment later.
        std::function<void(CWavRecord& wav, std::thread& waker)> raise;
        bool fails;
    } cases[] = {
        {"a request before the wait", [](CWavRecord& w, std::thread&) { w.dsp_wake(); }, false},
        {"a request during the wait",
         [](CWavRecord& w, std::thread& waker) {
             waker = std::thread([&w] {
                 std::this_thread::sleep_for(std::chrono::milliseconds(100));
                 w.dsp_wake();
             });
         },
         false},
        {"the capture's read fails",
         [](CWavRecord&, std::thread&) {
             sim::faults::Place({Device::kDsp, Action::kFail, "read", 0});
         },
         true},
        {"the file's write fails",
         [](CWavRecord&, std::thread&) {
             sim::faults::Place({Device::kCard, Action::kFail, "write", 0});
         },
         true},
        // Nothing raises: the call that gives no more sound ends the wait
        // once it is overdue.
        {"the capture's device hangs",
         [](CWavRecord&, std::thread&) {
             sim::faults::Place({Device::kDsp, Action::kHang, "poll", 0});
         },
         true},
    };
    constexpr int kLongMs = static_cast<int>(kStallUntilLifted);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CWavRecord wav;
        ASSERT_EQ(wav.record_open("/mnt/sd/music/rec/wake.wav"), 0);
        const int64_t before = wav.captured_bytes();
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(wav.dsp_wait(300), 1);
        EXPECT_GE(Since(start), 0.3);
        EXPECT_GT(wav.captured_bytes(), before);
        std::thread waker;
        c.raise(wav, waker);
        EXPECT_TRUE(ReturnsByItself([&] { wav.dsp_wait(kLongMs); }, [&] { wav.dsp_wake(); }));
        if (waker.joinable())
            waker.join();
        EXPECT_EQ(wav.file_write(wav.dsp_read()) < 0, c.fails);
        // Let go first, so the close ends the capture and no thread is left
        // behind with the device for the next test.
        sim::faults::Heal(Device::kDsp);
        sim::faults::Heal(Device::kCard);
        wav.record_close();
    }
}

TEST_F(WavRecordTest, FailedOpensLeaveTheStreamReadyForTheNext)
{
    struct Case {
        const char* name;
        const char* path;
        int64_t card_free;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"no folder", "/mnt/sd/nowhere/x.wav", -1, "Create WAV file fail.\n"},
        {"no room for the header", "/mnt/sd/music/rec/x.wav", 20, "write header errror"},
    };
    // The file whose header could not be written is not left behind.
    sys::unlink("/mnt/sd/music/rec/x.wav");
    CWavRecord wav;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Machine().SetCardFree(c.card_free);
        testing::internal::CaptureStdout();
        EXPECT_EQ(wav.record_open(c.path), -2);
        const std::string log = CapturedLog();
        EXPECT_NE(log.find(c.message), std::string::npos) << log;
        ExpectIdle(wav);
        struct stat st;
        EXPECT_NE(sys::lstat(c.path, &st), 0);
        Machine().SetCardFree(-1);
        testing::internal::CaptureStdout();
        wav.record_close();
        EXPECT_EQ(CapturedLog(), "");
        ASSERT_EQ(wav.record_open("/mnt/sd/music/rec/next.wav"), 0);
        wav.record_close();
    }
}

TEST_F(WavRecordTest, IdleStreamAndEndOfData)
{
    struct Case {
        const char* name;
        int (*call)(CWavRecord&);
        int result;
    };
    const std::vector<Case> idle_cases = {
        {"dsp_read", [](CWavRecord& w) { return w.dsp_read(); }, 0},
        {"dsp_wait", [](CWavRecord& w) { return w.dsp_wait(10); }, -1},
        {"file_read", [](CWavRecord& w) { return w.file_read(); }, 0},
        {"dsp_write", [](CWavRecord& w) { return w.dsp_write(4096); }, -2},
        {"file_write", [](CWavRecord& w) { return w.file_write(10); }, -2},
    };
    testing::internal::CaptureStdout();
    {
        CWavRecord wav;
        for (const Case& c : idle_cases)
            EXPECT_EQ(c.call(wav), c.result) << c.name;
        wav.header_update();
        wav.record_close();
        wav.play_close();
    }
    const std::string log = CapturedLog();
    EXPECT_EQ(log.substr(log.find("]  ") + 3), "~CWavRecord()\n") << log;

    const char* path = "/mnt/sd/end.wav";
    WriteFile(path, MakeWav(2, 22050, 16, 100));
    CWavRecord wav;
    ASSERT_EQ(wav.play_open(path), 0);
    EXPECT_EQ(wav.dsp_write(0), -1);
    EXPECT_EQ(wav.dsp_write(-1), -1);
    EXPECT_EQ(wav.dsp_read(), -1);
    EXPECT_EQ(wav.file_read(), 100);
    EXPECT_EQ(wav.dsp_write(100), 0);
    EXPECT_EQ(wav.file_read(), 0);
    EXPECT_EQ(wav.fields().byte_count, 100);
    testing::internal::CaptureStdout();
    wav.play_close();
    EXPECT_NE(CapturedLog().find("(Play) Read sound data=100\n"), std::string::npos);
}

// A stop from another thread at any moment of a playback: it returns by
// itself, the worker's loop ends and the worker's close leaves the stream
// idle.
TEST_F(WavRecordTest, AStopAtAnyMomentLetsThePlayWorkerEndAndClose)
{
    const char* song = "/mnt/sd/song.wav";
    WriteFile(song, MakeWav(2, 22050, 16, 88200));
    std::mt19937 random(7);
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        CWavRecord wav;
        ASSERT_EQ(wav.play_open(song), 0);
        std::atomic<bool> stop{false};
        std::atomic<int> last{1};
        std::thread worker([&] {
            int rc;
            while ((rc = wav.dsp_write(wav.file_read())) >= 0 && !stop) {
            }
            last = rc;
            wav.play_close();
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 120));
        stop = true;
        EXPECT_TRUE(ReturnsByItself([&] { wav.play_stop(); }, [] {}));
        worker.join();
        EXPECT_LE(last.load(), 0);
        ExpectIdle(wav);
    }
}

// The card stalls its writes and syncs, twice, as a slow SD card does, each
// time until the test lets it go: capture goes on meanwhile, every call of
// the worker returns in the stall, the close too, the writer catches up
// between the stalls, and after the second it ends the file with every
// sample captured before the close.
TEST_F(WavRecordTest, StallingCardLosesNothingAndHoldsUpNoCall)
{
    const char* path = "/mnt/sd/music/rec/stall.wav";
    CWavRecord wav;
    ASSERT_EQ(wav.record_open(path), 0);
    for (const int64_t until : {88200, 2 * 88200}) {
        SCOPED_TRACE(until);
        const bool last = until > 88200;
        sim::sdcard::SetStall(kStallUntilLifted, 0);
        bool recorded = false;
        EXPECT_TRUE(ReturnsByItself(
            [&] {
                recorded = RecordUntil(wav, until);
                wav.fields();
                wav.header_update();
                if (last)
                    wav.record_close();
            },
            LiftStall));
        EXPECT_TRUE(recorded);
        LiftStall();
        if (!last) {
            EXPECT_TRUE(support::Eventually([&] { return wav.fields().byte_count >= until; }));
        }
    }
    ASSERT_TRUE(support::CardFilesClosed());
    EXPECT_EQ(card::Dsp().overruns, 0);
    const Bytes file = ReadFile(path);
    ASSERT_GT(file.size(), 44u);
    EXPECT_EQ(Declared(file), (file.size() - 44) / 4 * 4);
    EXPECT_TRUE(UnbrokenRun(file, 44));
    EXPECT_EQ(static_cast<int64_t>(file.size()) - 44, wav.captured_bytes());
}

// A recording longer than a file may hold goes on in new files, during a
// stall too: every file full to the limit but the last, each a valid WAV, and
// their samples one unbroken run. Where no next file can be made, the
// recording fails as on a full card and the full file stays whole.
TEST_F(WavRecordTest, ALongRecordingGoesOnInNewFiles)
{
    constexpr int64_t kLimit = 88200 / 2;  // half a second a file
    struct Case {
        const char* name;
        int stall_ms;        // 0: none; else from the start, once
        bool next_is_taken;  // a file of the user's sits at the next name
        size_t files_at_least;
    };
    for (const Case& c : {Case{"steady", 0, false, 4}, Case{"in a stall", 1500, false, 4},
                          Case{"next name taken", 0, true, 1}}) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> names;
        for (int i = 0; i < 12; ++i)
            names.push_back("/mnt/sd/music/rec/long" + std::to_string(i) + ".wav");
        for (const std::string& name : names)
            sys::unlink(name.c_str());
        const Bytes users = MakeWav(2, 22050, 16, 400);
        if (c.next_is_taken)
            WriteFile(names[1].c_str(), users);
        CWavRecord wav;
        size_t handed_out = 1;
        wav.set_next_path([&] { return names.at(handed_out++); });
        wav.set_file_limit(kLimit);
        ASSERT_EQ(wav.record_open(names[0].c_str()), 0);
        if (c.stall_ms)
            sim::sdcard::SetStall(c.stall_ms, 0);
        const bool kept_going = RecordUntil(wav, 88200 * 22 / 10);
        wav.record_close();
        ASSERT_TRUE(support::CardFilesClosed());
        EXPECT_EQ(card::Dsp().overruns, 0);
        if (c.next_is_taken) {
            EXPECT_FALSE(kept_going);
            EXPECT_EQ(ReadFile(names[1].c_str()), users);
            const Bytes full = ReadFile(names[0].c_str());
            EXPECT_EQ(full.size(), 44u + kLimit);
            EXPECT_EQ(Declared(full), kLimit);
            EXPECT_TRUE(UnbrokenRun(full, 44));
            continue;
        }
        EXPECT_TRUE(kept_going);
        ASSERT_GE(handed_out, c.files_at_least);
        EXPECT_EQ(wav.recording_path(), names[handed_out - 1]);
        std::vector<std::string> made;
        int64_t joined = 0;
        for (size_t i = 0; i < handed_out; ++i) {
            SCOPED_TRACE(names[i]);
            made.push_back(sys::resolve(names[i].c_str()));
            const Bytes file = ReadFile(names[i].c_str());
            if (i + 1 < handed_out) {
                EXPECT_EQ(file.size(), 44u + kLimit);
            }
            joined += static_cast<int64_t>(file.size()) - 44;
        }
        EXPECT_EQ(support::JoinedRecordingFault(made), "");
        EXPECT_EQ(joined, wav.captured_bytes());
    }
}

// The sound card hangs while the worker waits for room for a block, or while
// the last blocks play out: a stop from another thread still returns while
// it hangs, as no lock is held across the device's call. The wait for room
// is called off at once; a sync is not, and the worker ends and closes once
// the device lets go.
TEST_F(WavRecordTest, AStopReturnsWhileThePlaybackDeviceHangs)
{
    const struct {
        const char* what;
        size_t bytes;
        bool tells_delay;
        bool (*stuck)(const CWavRecord&);
        bool stop_frees_worker;  // a wait for room is called off; a sync is not
    } cases[] = {
        {"a write", 88200, true,
         [](const CWavRecord& w) {
             // Full first: the card takes nothing more, so the transfer seen
             // after it waits for room.
             return card::Dsp().full && w.fields().in_transfer;
         },
         true},
        // A device that plays nothing tells the same delay again: its sync
        // is waited for then.
        {"the play-out at the end", 4096, true,
         [](const CWavRecord&) { return card::Dsp().syncing; }, false},
        {"the sync of a device that cannot tell what is left", 4096, false,
         [](const CWavRecord&) { return card::Dsp().syncing; }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        card::Abilities abilities;
        abilities.tells_delay = c.tells_delay;
        card::SetAbilities(abilities);
        const char* song = "/mnt/sd/hang.wav";
        WriteFile(song, MakeWav(2, 22050, 16, c.bytes));
        CWavRecord wav;
        card::SetPlaybackHung(true);
        ASSERT_EQ(wav.play_open(song), 0);
        std::atomic<bool> stop{false};
        std::atomic<bool> closed{false};
        std::thread worker([&] {
            while (wav.dsp_write(wav.file_read()) >= 0 && !stop) {
            }
            wav.play_close();
            closed = true;
        });
        EXPECT_TRUE(support::Eventually([&] { return c.stuck(wav); }));
        stop = true;
        EXPECT_TRUE(
            ReturnsByItself([&] { wav.play_stop(); }, [] { card::SetPlaybackHung(false); }));
        if (c.stop_frees_worker)
            EXPECT_TRUE(support::Eventually([&] { return closed.load(); }));
        else
            EXPECT_FALSE(closed.load());
        card::SetPlaybackHung(false);
        worker.join();
        ExpectIdle(wav);
    }
}

// The end of the data returns once the device has played all it took, so
// the playback ends when the song has been heard and its close has nothing
// left. A stop, in the middle of a song or while its end plays out, lets the
// worker go at once, though the device would make room or end its play-out
// only after several blocks, and drops what the device holds.
TEST_F(WavRecordTest, TheEndIsPlayedOutAndAStopDropsWhatTheDeviceHolds)
{
    constexpr size_t kSong = 44100;  // half a second
    enum class Stop { kNone, kMidSong, kPlayOut };
    const struct {
        const char* what;
        bool emulated;
        Stop stop;
        bool tells_delay;
    } cases[] = {
        {"driver, to the end", false, Stop::kNone, true},
        {"emulation, to the end", true, Stop::kNone, true},
        {"driver that cannot tell what is left, to the end", false, Stop::kNone, false},
        {"driver, stopped mid-song", false, Stop::kMidSong, true},
        {"emulation, stopped mid-song", true, Stop::kMidSong, true},
        {"driver, stopped in the play-out", false, Stop::kPlayOut, true},
        {"driver that cannot tell what is left, stopped in its play-out", false, Stop::kPlayOut,
         false},
    };
    const char* song = "/mnt/sd/end.wav";
    const Bytes file = MakeWav(2, 22050, 16, kSong);
    WriteFile(song, file);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        card::SetEmulated(c.emulated);
        card::Abilities abilities;
        abilities.tells_delay = c.tells_delay;
        card::SetAbilities(abilities);
        CWavRecord wav;
        ASSERT_EQ(wav.play_open(song), 0);
        // The play worker's loop: it looks at its stop after each transfer.
        std::atomic<bool> stop{false};
        std::atomic<int> last{1};
        Clock::time_point ended;
        const Clock::time_point start = Clock::now();
        std::thread worker([&] {
            int rc;
            while ((rc = wav.dsp_write(wav.file_read())) >= 0 && !stop) {
            }
            ended = Clock::now();
            last = rc;
        });
        double stopping = 0;
        if (c.stop != Stop::kNone) {
            EXPECT_TRUE(support::Eventually([&] {
                const CWavRecord::Fields f = wav.fields();
                if (c.stop == Stop::kMidSong)
                    return f.byte_count >= static_cast<long>(kSong / 2);
                return f.byte_count == static_cast<long>(kSong) && f.in_transfer;
            }));
            stop = true;
            const Clock::time_point asked = Clock::now();
            wav.play_stop();
            worker.join();
            stopping = std::chrono::duration<double>(ended - asked).count();
        } else {
            worker.join();
        }
        const long written = wav.fields().byte_count;
        const long long moved_before_close = card::Dsp().moved;
        const Clock::time_point close = Clock::now();
        wav.play_close();
        const double closing = Since(close);
        const Bytes speaker = ReadFile("/sim/speaker.wav");
        ASSERT_GE(speaker.size(), 44u);
        const size_t played = speaker.size() - 44;
        // The song as far as it was played; after its end, silence at most,
        // to make the last fragment whole.
        const size_t song_played = std::min(played, kSong);
        EXPECT_TRUE(std::equal(speaker.begin() + 44, speaker.begin() + 44 + song_played,
                               file.begin() + 44));
        EXPECT_TRUE(std::all_of(speaker.begin() + 44 + song_played, speaker.end(),
                                [](unsigned char b) { return b == 0; }));
        // The close drops what the device holds instead of playing it out
        // (an emulation's close would, for seconds): the speaker got no
        // more than before it, and the close took no play-out's time.
        EXPECT_EQ(card::Dsp().moved, moved_before_close);
        EXPECT_LT(closing, 0.5 * support::kHung.count());
        if (c.stop == Stop::kNone) {
            EXPECT_EQ(last.load(), -1);
            // Every frame, the last included, and at most a fragment of
            // silence after them.
            EXPECT_GE(played, kSong);
            EXPECT_LT(played, kSong + 4096);
            EXPECT_GE(std::chrono::duration<double>(ended - start).count(), kSong / 88200.0 - 0.02);
        } else {
            EXPECT_EQ(last.load(), 0);
            // The worker went at once: the device held a few blocks ahead,
            // which it did not wait for and which were not played.
            EXPECT_LT(stopping, 0.5 * support::kHung.count());
            EXPECT_LT(played, static_cast<size_t>(written));
        }
    }
}

// The card stalls the making of the file: capture has started already, so
// the recording begins with the first frames the card captured, and the
// open, the recording and its close go on in the stall.
TEST_F(WavRecordTest, AStallWhileTheFileIsMadeCostsNoSound)
{
    const char* path = "/mnt/sd/music/rec/late.wav";
    CWavRecord wav;
    sim::sdcard::SetStall(kStallUntilLifted, 0);
    int opened = 1;
    bool recorded = false;
    EXPECT_TRUE(ReturnsByItself(
        [&] {
            opened = wav.record_open(path);
            recorded = opened == 0 && RecordUntil(wav, 88200 / 2);
            wav.record_close();
        },
        LiftStall));
    ASSERT_EQ(opened, 0);
    EXPECT_TRUE(recorded);
    // The close came in the stall: the writer ends the file after it.
    LiftStall();
    ASSERT_TRUE(support::CardFilesClosed());
    EXPECT_EQ(card::Dsp().overruns, 0);
    const Bytes file = ReadFile(path);
    // All the card handed over, to the close.
    ASSERT_GE(file.size(), 44u + 88200 / 2);
    EXPECT_EQ(static_cast<int64_t>(file.size()) - 44, wav.captured_bytes());
    EXPECT_EQ(support::RecordingFault(sys::resolve(path)), "");
    // The counter microphone starts at frame 0 when the DSP opens.
    EXPECT_EQ(file[44] | file[45] << 8, 0);
}

// A sound server's OSS emulation: block size 0 until fragments are asked
// for, sound in lumps, nothing at first, reads that come out short. The
// recording still holds every frame.
TEST_F(WavRecordTest, EmulatedOssCaptureLosesNothing)
{
    card::SetEmulated(true);
    const char* path = "/mnt/sd/music/rec/emulated.wav";
    CWavRecord wav;
    ASSERT_EQ(wav.record_open(path), 0);
    EXPECT_EQ(wav.fields().block_size, 4096);
    ASSERT_TRUE(RecordUntil(wav, 3 * 88200));
    testing::internal::CaptureStdout();
    wav.record_close();
    const long logged = LoggedCount(CapturedLog(), "(Record) Write sound data=");
    EXPECT_EQ(card::Dsp().overruns, 0);
    const Bytes file = ReadFile(path);
    EXPECT_EQ(logged, static_cast<long>(file.size()) - 44);
    EXPECT_TRUE(UnbrokenRun(file, 44));
    EXPECT_EQ(static_cast<int64_t>(file.size()) - 44, wav.captured_bytes());
}

// Killed at any moment, from the first milliseconds on: the file is valid,
// declares no more than it holds, and no less than its header declared
// before the kill, which keeps up with the recording to within a second.
TEST_F(WavRecordTest, KilledEarlyOrLateTheFileIsValid)
{
    for (const int after_ms : {0, 30, 90, 400, 1300, 2700}) {
        SCOPED_TRACE(std::to_string(after_ms) + " ms");
        const char* path = "/mnt/sd/music/rec/early.wav";
        sys::unlink(path);
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            CWavRecord wav;
            if (wav.record_open(path) != 0)
                _exit(3);
            (void)!::write(ready[1], "r", 1);
            for (;;) {
                wav.dsp_wait(50);
                if (wav.file_write(wav.dsp_read()) < 0)
                    _exit(4);
            }
        }
        ::close(ready[1]);
        char got = 0;
        ASSERT_EQ(::read(ready[0], &got, 1), 1);
        ::close(ready[0]);
        // The moment of the kill; nothing below depends on how long it was.
        std::this_thread::sleep_for(std::chrono::milliseconds(after_ms));
        // The header declares all but the last second by then, or soon
        // after on a loaded machine.
        const int64_t behind_by_a_second = (after_ms - 1000) * 88200 / 1000;
        int64_t seen = 0;
        EXPECT_TRUE(support::Eventually([&] {
            const Bytes now = ReadFile(path);
            seen = now.size() >= 44 ? wav_parse(now.data(), now.size()).data_size : 0;
            return seen >= behind_by_a_second;
        }));
        ASSERT_EQ(kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        const Bytes file = ReadFile(path);
        ASSERT_GE(file.size(), 44u);
        const uint32_t declared = Declared(file);
        EXPECT_LE(declared, file.size() - 44);
        EXPECT_GE(declared, seen);
        EXPECT_TRUE(UnbrokenRun(file, 44));
    }
}

}  // namespace
