// The handheld's program, as its package installs it, on a real Linux kernel:
// scripts/board.sh boots Debian's armel kernel on the emulated raspi0 board
// with the kernel's OSS emulation over the loopback card, a FAT card on the
// board's SD host, and buttons through uinput (tests/board/init.sh says what
// each case does there). These tests read what a run left: the serial
// console, the card image and what fsck.vfat said of it.
//
// One round trip takes about 30 s on an idle PC. To run one case many
// times: build-board/tests/board_tests --gtest_filter='*RoundTrip*' --gtest_repeat=20

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/harness.h"
#include "tests/support/recording.h"

namespace {

namespace fs = std::filesystem;

constexpr int kBytesPerSecond = 22050 * 4;

std::string Quote(const std::string& word)
{
    std::string quoted = "'";
    for (char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// A command's exit status, its output on the test's own.
int Shell(const std::string& command)
{
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What one boot of the board left.
struct BoardRun {
    int status = -1;                 // the script's: 0, or 124 when the bound was reached
    std::string out;                 // the run's folder
    std::vector<std::string> board;  // the rig's own lines, "board: " taken off
    std::vector<std::string> log;    // the program's lines, as e2e::Run has them
    std::string fsck;

    // The number after "board: WORDS " (uptime seconds, a status), or -1.
    double Fact(const std::string& words, const std::string& space = " ") const
    {
        for (const std::string& line : board)
            if (line.rfind(words + space, 0) == 0)
                return std::atof(line.c_str() + words.size() + space.size());
        return -1;
    }
    bool Said(const std::string& line) const
    {
        for (const std::string& said : board)
            if (said == line)
                return true;
        return false;
    }
    std::vector<std::string> Recordings() const
    {
        std::vector<std::string> paths;
        const fs::path folder = out + "/card/music/rec";
        if (fs::is_directory(folder))
            for (const auto& entry : fs::directory_iterator(folder))
                paths.push_back(entry.path().string());
        std::sort(paths.begin(), paths.end());
        return paths;
    }
    // Everything the run printed, for a failure's message.
    std::string Console() const { return e2e::ReadFile(out + "/console.log"); }
};

class Board : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char folder[] = "/tmp/board-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        work_ = folder;
        initramfs_ = work_ + "/initramfs.cpio.gz";
        ASSERT_EQ(Shell(Quote(SOURCE_DIR "/scripts/board.sh") + " initramfs " +
                        Quote(BOARD_PACKAGE) + " " + Quote(BOARD_TOOLS) + " " + Quote(initramfs_)),
                  0);
    }
    static void TearDownTestSuite()
    {
        if (!work_.empty() && !::getenv("KEEP_BOARD_RUNS"))
            fs::remove_all(work_);
    }

    static BoardRun Boot(const std::string& case_name, const std::string& options = "")
    {
        BoardRun run;
        run.out = work_ + "/" + case_name + "-" + std::to_string(++runs_);
        run.status = Shell(Quote(SOURCE_DIR "/scripts/board.sh") + " run " + Quote(initramfs_) +
                           " " + case_name + " " + Quote(run.out) + " " + options);
        std::istringstream console(e2e::ReadFile(run.out + "/console.log"));
        e2e::Run program;
        for (std::string line; std::getline(console, line);) {
            if (line.rfind("board: log: ", 0) == 0)
                program.out += line.substr(12) + "\n";
            else if (line.rfind("board: ", 0) == 0)
                run.board.push_back(line.substr(7));
        }
        run.log = program.Messages();
        run.fsck = e2e::ReadFile(run.out + "/fsck.txt");
        return run;
    }

    static std::string work_;
    static std::string initramfs_;
    static int runs_;
};
std::string Board::work_;
std::string Board::initramfs_;
int Board::runs_ = 0;

// Where a run went wrong before the checks of its case: it must have ended
// by itself, and the card must be sound.
void ExpectRanWhole(const BoardRun& run, const std::string& case_name)
{
    EXPECT_EQ(run.status, 0) << run.Console();
    EXPECT_EQ(run.Fact("case " + case_name + " ended with"), 0) << run.Console();
    EXPECT_NE(run.fsck.find("fsck status 0"), std::string::npos) << run.fsck;
}

// The file's sound, as the far end of the loopback caught it: whole and in
// order, the last frame included. Empty when so.
std::string MissingFromSpeaker(const std::string& sound, const std::string& speaker)
{
    if (sound.size() < 64)
        return "the recording holds too little to be found";
    const size_t at = speaker.find(sound.substr(0, 64));
    if (at == std::string::npos)
        return "the recording's first frames never reached the speaker";
    size_t same = 0;
    while (same < sound.size() && at + same < speaker.size() && speaker[at + same] == sound[same])
        ++same;
    if (same == sound.size())
        return {};
    return "the speaker played " + std::to_string(same / 4) + " of the recording's " +
           std::to_string(sound.size() / 4) + " frames, then something else";
}

// The one recording a run made, which must be a true file: the recorder's
// format, whole frames all declared, one unbroken counter run.
support::Wav OnlyRecording(const BoardRun& run)
{
    const std::vector<std::string> files = run.Recordings();
    EXPECT_EQ(files.size(), 1u) << run.Console();
    if (files.empty())
        return {};
    support::Wav wav = support::ReadWav(files.back());
    EXPECT_TRUE(wav.IsRecorderFormat()) << wav.error;
    EXPECT_TRUE(wav.EndedWhole()) << wav.data_size << " declared, " << wav.data.size() << " held";
    EXPECT_EQ(support::CounterBreak(wav.data), "");
    return wav;
}

TEST_F(Board, RoundTripRecordsPlaysEveryFrameAndHandsOver)
{
    const BoardRun run = Boot("roundtrip");
    ExpectRanWhole(run, "roundtrip");
    EXPECT_EQ(e2e::MissingInOrder(run.log, {"GPIO_DEV open failed.", "(Record) RecordStart(*",
                                            "(Record) RecordStop...", "(Play) PlayStart...",
                                            "(Play) Finished the song & soundcard closed...",
                                            "(Play) PlayStop...", "exit code(--view-apps) !!",
                                            "menu: cwd=/usr/orvo argc=1 args=--view-apps "
                                            "inherited=none"}),
              "")
        << run.Console();
    const support::Wav wav = OnlyRecording(run);
    // The take lasted five seconds of the board's time; a busy PC only
    // makes it longer.
    EXPECT_GE(wav.Seconds(), 4.5);
    EXPECT_EQ(MissingFromSpeaker(wav.data, e2e::ReadFile(run.out + "/card/board/speaker.raw")), "");
}

// "request: answer" lines, as oss-probe prints them, by request.
std::map<std::string, std::string> Answers(const std::vector<std::string>& lines)
{
    std::map<std::string, std::string> answers;
    for (const std::string& line : lines) {
        const size_t colon = line.rfind(": ");
        if (line.rfind("oss: ", 0) == 0 && colon > 5)
            answers[line.substr(5, colon - 5)] = line.substr(colon + 2);
    }
    return answers;
}

// The simulated card answers the recorder's requests as the Linux kernel's
// OSS emulation does, but for the fragment a playback gets when it asked for
// none, which is each card's own (the recorder asks for it, and the
// simulated card's fixed fragments stand for a driver's).
TEST_F(Board, TheSimulatedCardAnswersTheRecordersRequestsAsTheKernelDoes)
{
    const BoardRun run = Boot("probe");
    ExpectRanWhole(run, "probe");
    const std::map<std::string, std::string> kernel = Answers(run.board);
    ASSERT_FALSE(kernel.empty()) << run.Console();

    const std::string root = run.out + "/simulated";
    ASSERT_EQ(Shell(Quote(HANDHELD_ROOT_PROGRAM) + " " + Quote(root) + " >/dev/null"), 0);
    const std::string said = run.out + "/simulated.txt";
    ASSERT_EQ(Shell("HANDHELD_ROOT=" + Quote(root) + " " + Quote(OSS_PROBE) + " >" + Quote(said)),
              0);
    std::vector<std::string> lines;
    std::istringstream in(e2e::ReadFile(said));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    const std::map<std::string, std::string> simulated = Answers(lines);

    const std::string cards_own = "play GETBLKSIZE after the format";
    EXPECT_EQ(simulated.size(), kernel.size());
    for (const auto& [request, answer] : kernel) {
        const auto found = simulated.find(request);
        if (found == simulated.end()) {
            ADD_FAILURE() << "the simulator was not asked \"" << request << "\"";
        } else if (request != cards_own) {
            EXPECT_EQ(found->second, answer) << request;
        }
    }
}

// The power goes at a moment of a recording: the emulator is killed when
// the board says so, and the card keeps only what had reached it. Every
// file then declares no more than it holds, in whole frames of an unbroken
// counter run, and at most a second of the sound before the cut is lost. A
// recording that was stopped before the cut is whole.
class PowerCut : public Board, public ::testing::WithParamInterface<const char*> {};

TEST_P(PowerCut, EveryFileDeclaresWhatItHoldsAndLosesASecondAtMost)
{
    const std::string moment = GetParam();
    const BoardRun run = Boot("powercut", "--cut " + moment);
    ASSERT_EQ(run.status, 0) << run.Console();
    ASSERT_TRUE(run.Said("power cut")) << run.Console();
    // What the file system's own check finds after the cut, for the record:
    // a power cut leaves the card as it was mounted, whatever the program.
    std::cout << "fsck.vfat -n after a cut " << moment << ":\n" << run.fsck;
    // The sound there was: from the recording's start until the cut, or
    // until the stop before it.
    const double ended = run.Fact("stopped at") > 0 ? run.Fact("stopped at") : run.Fact("cut at");
    const double sound = ended - run.Fact("recording at");
    std::cout << "the recording started " << run.Fact("recording at") - run.Fact("pressed at")
              << " s after the press\n";
    long long declared = 0;
    for (const std::string& path : run.Recordings()) {
        SCOPED_TRACE(path);
        const support::Wav wav = support::ReadWav(path);
        if (wav.file_size == 0)
            continue;  // made, nothing yet written: nothing declared
        ASSERT_TRUE(wav.IsRecorderFormat()) << wav.error;
        EXPECT_LE(wav.data_size, wav.data.size()) << "declared against held";
        EXPECT_EQ(wav.data_size % 4, 0u);
        const std::string sound_declared = wav.data.substr(0, wav.data_size);
        EXPECT_EQ(support::CounterBreak(sound_declared), "");
        declared += wav.data_size;
    }
    const double seconds = static_cast<double>(declared) / kBytesPerSecond;
    std::cout << moment << ": " << sound << " s of sound before the cut, " << seconds
              << " s declared\n";
    EXPECT_GE(seconds, sound - 1.0) << run.Console();
    if (moment == "stop") {
        // The recording the stop ended is all there.
        EXPECT_EQ(declared, static_cast<long long>(run.Fact("Write sound data=", "")))
            << run.Console();
    }
}

INSTANTIATE_TEST_SUITE_P(Moments, PowerCut, ::testing::Values("press", "early", "middle", "stop"));

// A card slower than the recording, behind a disk that holds each write
// back: from the press on, until the recording fails or for a few seconds.
struct Slowness {
    const char* name;
    const char* slow;  // board.sh's --slow
    bool fails;
};

class SlowCard : public Board, public ::testing::WithParamInterface<Slowness> {};

void PrintTo(const Slowness& slowness, std::ostream* out)
{
    *out << slowness.name;
}

// The last number of the log line that starts so, or -1.
double Number(const std::vector<std::string>& log, const std::string& start, const char* before)
{
    for (const std::string& line : log)
        if (line.rfind(start, 0) == 0 && line.find(before) != std::string::npos)
            return std::atof(line.c_str() + line.rfind(' ', line.find(before) - 1) + 1);
    return -1;
}

// Six seconds a write fill the ten seconds' buffer before the first write
// of the recording is through: it ends as a failed write, its file true to
// the sound it kept. Three seconds for three seconds lose nothing.
TEST_P(SlowCard, EndsAsAFailedWriteWithATrueFileOrLosesNothing)
{
    const Slowness& slowness = GetParam();
    const BoardRun run = Boot("slowcard", std::string("--slow ") + slowness.slow);
    ExpectRanWhole(run, "slowcard");
    const support::Wav wav = OnlyRecording(run);
    const std::string too_slow =
        "(Record) The card is too slow: the buffer is full, and the "
        "recording ends at ";
    if (slowness.fails) {
        EXPECT_EQ(e2e::MissingInOrder(run.log, {too_slow + "*", "(Record) Write abort...",
                                                "(Record) The card was too slow: *"}),
                  "")
            << run.Console();
        // All the sound the buffer held reached the file, and no more.
        EXPECT_NEAR(wav.Seconds(), Number(run.log, too_slow, " s."), 0.05) << run.Console();
    } else {
        for (const std::string& line : run.log)
            EXPECT_EQ(line.find("too slow"), std::string::npos) << line;
        EXPECT_EQ(static_cast<double>(wav.data_size), run.Fact("Write sound data=", ""));
        EXPECT_GE(wav.Seconds(), run.Fact("stopped at") - run.Fact("recording at") - 0.1)
            << run.Console();
    }
}

INSTANTIATE_TEST_SUITE_P(Writes, SlowCard,
                         ::testing::Values(Slowness{"SlowerThanTheBuffer", "6000,failed", true},
                                           Slowness{"BrieflySlow", "3000,3", false}));

}  // namespace
