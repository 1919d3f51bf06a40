// The SD card as the recorder finds it and as it changes under a run: the
// checks before a recording, the messages, the card pulled or full.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <map>

#include "tests/e2e/checks.h"
#include "tests/e2e/harness.h"
#include "tests/e2e/screen.h"
#include "tests/support/recording.h"

namespace {

using e2e::Handheld;
using e2e::Scenario;

using e2e::kCounterMic;
using e2e::RecordPath;
const std::string kCreating = "Create 'record' path(/mnt/sd/music/rec)...";
const std::string kCannotCreate = "Can't create the path(/mnt/sd/music/rec)";
constexpr const char* kMessageShot = "/sim/message.bmp";

int MessageOnShot(const Handheld& handheld, const char* shot)
{
    static const e2e::Image strip = e2e::MessageStrip();
    EXPECT_FALSE(strip.Empty()) << "cannot read the message strip";
    return e2e::ShownMessage(e2e::ReadBmp(handheld.Path(shot)), strip);
}

// A recording refused before it starts: message 0, and the recorder leaves
// for the menu's main view when the message ends.
struct Refusal {
    const char* name;
    const char* card;                              // the card's state at the start
    std::function<void(const Handheld&)> prepare;  // the card's contents
    std::vector<std::string> logged;               // in this order
    std::function<void(const Handheld&)> check;    // what is left on the card
    bool probe_in_the_way = false;                 // something of the user's at the probe's path
};

void PrintTo(const Refusal& refusal, std::ostream* out)
{
    *out << refusal.name;
}

class RefusalTest : public ::testing::TestWithParam<Refusal> {};

TEST_P(RefusalTest, ShowsMessage0AndLeavesForTheMainViewWithNothingOnTheCard)
{
    const Refusal& refusal = GetParam();
    Handheld handheld;
    if (refusal.prepare)
        refusal.prepare(handheld);
    Scenario scenario;
    if (*refusal.card)
        scenario.At(0, refusal.card);
    scenario.Tap(400, e2e::kRecordButton)
        .At(1500, "shot message.bmp")
        .At(3000, "shot still.bmp")
        .At(9000, "quit");
    const e2e::Run run = handheld.Start(scenario.Text(), 20, kCounterMic);
    ASSERT_TRUE(e2e::EndedWith(run, handheld, "--view-main"));

    EXPECT_EQ(e2e::MissingInOrder(run.Messages(), refusal.logged), "") << run.out;
    EXPECT_EQ(MessageOnShot(handheld, kMessageShot), 0);
    for (const char* absent : {"(Record) RecordStart", "No SD card !!..."})
        for (const std::string& message : run.Messages())
            EXPECT_EQ(message.find(absent), std::string::npos) << message;
    if (!refusal.probe_in_the_way) {
        EXPECT_FALSE(e2e::Exists(handheld.Path(e2e::kWriteProbe)));
    }
    EXPECT_TRUE(handheld.List(e2e::kRecordFolder).empty());
    // The message ran its time before the recorder left: its four ticks
    // of a second or more end it after 4 s of the scenario's clock.
    EXPECT_EQ(MessageOnShot(handheld, "/sim/still.bmp"), 0);
    if (refusal.check)
        refusal.check(handheld);
}

void NotMade(const Handheld& handheld)
{
    EXPECT_FALSE(e2e::Exists(handheld.Path(e2e::kRecordFolder)));
}

INSTANTIATE_TEST_SUITE_P(
    Card, RefusalTest,
    ::testing::Values(
        Refusal{"WriteProtected", "card locked", nullptr, {"SD Card Lock !!..."}, NotMade},
        // 10 bytes of room, and the probe writes 21.
        Refusal{"NoRoomForTheProbe", "card free 10", nullptr, {"No Space..."}, NotMade},
        Refusal{"FileInPlaceOfTheFolder",
                "",
                [](const Handheld& handheld) {
                    std::ofstream(handheld.Path(e2e::kRecordFolder)) << "not a folder";
                },
                {kCreating, kCannotCreate},
                [](const Handheld& handheld) {
                    EXPECT_EQ(e2e::ReadFile(handheld.Path(e2e::kRecordFolder)), "not a folder");
                }},
        Refusal{"LinkInPlaceOfTheFolder",
                "",
                [](const Handheld& handheld) {
                    ASSERT_EQ(::mkdir(handheld.Path("/mnt/sd/elsewhere").c_str(), 0755), 0);
                    ASSERT_EQ(::symlink("../elsewhere", handheld.Path(e2e::kRecordFolder).c_str()),
                              0);
                },
                {kCreating, kCannotCreate},
                [](const Handheld& handheld) {
                    struct stat st;
                    ASSERT_EQ(::lstat(handheld.Path(e2e::kRecordFolder).c_str(), &st), 0);
                    EXPECT_TRUE(S_ISLNK(st.st_mode));
                    EXPECT_TRUE(handheld.List("/mnt/sd/elsewhere").empty());
                }},
        // The probe is never written through a link, nor over what is there.
        Refusal{"LinkAtTheProbe",
                "",
                [](const Handheld& handheld) {
                    std::ofstream(handheld.Path("/mnt/sd/mine.txt")) << "mine";
                    ASSERT_EQ(::symlink("mine.txt", handheld.Path(e2e::kWriteProbe).c_str()), 0);
                },
                {"SD Card Lock !!..."},
                [](const Handheld& handheld) {
                    EXPECT_EQ(e2e::ReadFile(handheld.Path("/mnt/sd/mine.txt")), "mine");
                    struct stat st;
                    ASSERT_EQ(::lstat(handheld.Path(e2e::kWriteProbe).c_str(), &st), 0);
                    EXPECT_TRUE(S_ISLNK(st.st_mode));
                },
                true},
        Refusal{"FolderAtTheProbe",
                "",
                [](const Handheld& handheld) {
                    ASSERT_EQ(::mkdir(handheld.Path(e2e::kWriteProbe).c_str(), 0755), 0);
                    std::ofstream(handheld.Path(e2e::kWriteProbe) + "/mine.txt") << "mine";
                },
                {"SD Card Lock !!..."},
                [](const Handheld& handheld) {
                    EXPECT_EQ(e2e::ReadFile(handheld.Path(e2e::kWriteProbe) + "/mine.txt"), "mine");
                },
                true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Card, MissingAtTheStartOfARecordingShowsMessage3ThenTheButtonsComeBack)
{
    // A first recording, then the card is out for 80 ms around the record
    // button's release. The status monitor, once a second, may see it too and
    // end the run; a loaded machine may take up the release only once the
    // card is back. Then the run proves nothing and is made again.
    const std::string scenario = Scenario()
                                     .Tap(200, "key down")
                                     .Tap(1000, "key down")
                                     .At(1300, "shot idle.bmp")
                                     .At(2390, "touch down 218 218")
                                     .At(2450, "card out")
                                     .At(2450, "touch up 218 218")
                                     .At(2530, "card in")
                                     .At(3500, "shot message.bmp")
                                     .At(7300, "shot after.bmp")
                                     .Tap(7400, "key down")  // a recording now works
                                     .Tap(8400, "key down")
                                     .Tap(8900, "key tab")
                                     .Tap(13000, "key kp_plus")
                                     .Text();
    for (int attempt = 1; attempt <= 4; ++attempt) {
        Handheld handheld;
        const e2e::Run run = handheld.Start(scenario, 25, kCounterMic);
        const bool missed = run.Count("No SD card & exit to mainApp !!...") > 0 ||
                            run.Count("No SD card !!...") == 0;
        if (missed && attempt < 4)
            continue;
        ASSERT_TRUE(e2e::EndedWith(run, handheld, "--view-apps"));
        EXPECT_EQ(run.Count("No SD card !!..."), 1) << run.out;
        EXPECT_EQ(MessageOnShot(handheld, "/sim/message.bmp"), 3);
        const e2e::Image idle = e2e::ReadBmp(handheld.Path("/sim/idle.bmp"));
        const e2e::Image after = e2e::ReadBmp(handheld.Path("/sim/after.bmp"));
        EXPECT_EQ(MessageOnShot(handheld, "/sim/after.bmp"), -1);
        EXPECT_TRUE(e2e::SameArea(after, idle, e2e::area::kButtons))
            << "the buttons did not come back";
        // No probe and nothing deleted for the refused start: the recording
        // before it and the one after it are both on the card.
        EXPECT_EQ(e2e::MissingInOrder(run.Messages(), {"(Record) RecordStop...", "No SD card !!...",
                                                       "(Record) RecordStop..."}),
                  "")
            << run.out;
        EXPECT_EQ(run.out.find("unlink file("), std::string::npos) << run.out;
        EXPECT_FALSE(e2e::Exists(handheld.Path(e2e::kWriteProbe)));
        const std::vector<std::string> names = handheld.List(e2e::kRecordFolder);
        ASSERT_EQ(names.size(), 2u) << run.out;
        for (const std::string& name : names)
            EXPECT_TRUE(e2e::IsCounterRecording(support::ReadWav(handheld.Path(RecordPath(name)))))
                << name;
        return;
    }
}

TEST(Card, PulledDuringARecordingEndsTheRunAndLeavesForTheMainView)
{
    Handheld handheld;
    const std::string scenario = Scenario()
                                     .Tap(300, e2e::kRecordButton)
                                     .At(1800, "card out")
                                     .At(4500, "shot late.bmp")
                                     .At(15000, "quit")
                                     .Text();
    const e2e::Run run = handheld.Start(scenario, 30, kCounterMic);
    ASSERT_TRUE(e2e::EndedWith(run, handheld, "--view-main"));
    // The monitor looks once a second and leaves at once: by 4.5 s of the
    // scenario's clock, while a failure's message would still be on.
    EXPECT_FALSE(e2e::Exists(handheld.Path("/sim/late.bmp")));
    // The worker's next write fails on the pulled card, so whether it or the
    // monitor speaks first is a race; both come before the hand-off.
    for (const char* message : {"No SD card & exit to mainApp !!...", "(Record) Write abort..."})
        EXPECT_EQ(e2e::MissingInOrder(run.Messages(), {message, "exit code(--view-main) !!"}), "")
            << run.out;
    EXPECT_EQ(run.Count("(Record) RecordStop..."), 0);

    // The file stays, cut where the card went: its header was last written
    // while the card was in, so it may declare a little less than it holds.
    const std::vector<std::string> names = handheld.List(e2e::kRecordFolder);
    ASSERT_EQ(names.size(), 1u) << run.out;
    const support::Wav wav = support::ReadWav(handheld.Path(RecordPath(names[0])));
    ASSERT_TRUE(wav.IsRecorderFormat()) << wav.error;
    EXPECT_LE(wav.data_size, wav.data.size());
    EXPECT_GT(wav.data_size, 0u);
    EXPECT_EQ(support::CounterBreak(wav.data), "");
    // Nothing reaches a card that is out.
    const long long read_when_out = e2e::CaptureReadAt(run, "card out");
    EXPECT_GT(read_when_out, 0) << run.out;
    EXPECT_LE(static_cast<long long>(wav.data.size()), read_when_out);
}

TEST(Card, PulledDuringAPlaybackEndsTheRunAndLeavesForTheMainView)
{
    Handheld handheld;
    const std::string scenario = Scenario()
                                     .Tap(300, "key down")
                                     .Tap(1800, "key down")  // 1.5 s recorded
                                     // Once the stop has ended the run, on a
                                     // loaded machine too.
                                     .Tap(2800, e2e::kPlayButton)
                                     .At(3300, "card out")
                                     .At(6000, "shot late.bmp")
                                     .At(15000, "quit")
                                     .Text();
    const e2e::Run run = handheld.Start(scenario, 30, kCounterMic);
    ASSERT_TRUE(e2e::EndedWith(run, handheld, "--view-main"));
    EXPECT_FALSE(e2e::Exists(handheld.Path("/sim/late.bmp")));
    // Reading the pulled card fails, which ends the playback as its end of
    // data would; the monitor may come before or after.
    for (const char* message :
         {"No SD card & exit to mainApp !!...", "(Play) Finished the song & soundcard closed..."})
        EXPECT_EQ(
            e2e::MissingInOrder(run.Messages(), {"(Record) RecordStop...", "(Play) PlayStart...",
                                                 message, "exit code(--view-main) !!"}),
            "")
            << run.out;
    // The recording made before is whole.
    const std::vector<std::string> names = handheld.List(e2e::kRecordFolder);
    ASSERT_EQ(names.size(), 1u) << run.out;
    const support::Wav wav = support::ReadWav(handheld.Path(RecordPath(names[0])));
    EXPECT_TRUE(e2e::IsCounterRecording(wav));
    EXPECT_TRUE(e2e::HoldsItsCapture(run, wav, 0, "scenario at 1800 ms: key down down"));
}

TEST(Card, FullDuringARecordingAbortsItWithMessage0AndLeavesForTheMainView)
{
    Handheld handheld;
    // Room for the probe, the header and about 1.7 s of sound.
    constexpr long kRoom = 150000;
    const std::string scenario = Scenario()
                                     .At(0, "card free " + std::to_string(kRoom))
                                     .Tap(300, e2e::kRecordButton)
                                     .At(3300, "shot message.bmp")
                                     .At(12000, "quit")
                                     .Text();
    const e2e::Run run = handheld.Start(scenario, 25, kCounterMic);
    ASSERT_TRUE(e2e::EndedWith(run, handheld, "--view-main"));
    EXPECT_EQ(MessageOnShot(handheld, kMessageShot), 0);

    const std::vector<std::string> names = handheld.List(e2e::kRecordFolder);
    ASSERT_EQ(names.size(), 1u) << run.out;
    const support::Wav wav = support::ReadWav(handheld.Path(RecordPath(names[0])));
    // The header was rewritten for what reached the card.
    EXPECT_TRUE(e2e::IsCounterRecording(wav));
    EXPECT_LE(wav.file_size, static_cast<uint64_t>(kRoom));
    EXPECT_GT(wav.file_size, static_cast<uint64_t>(kRoom) - 4096);
    EXPECT_EQ(e2e::MissingInOrder(run.Messages(),
                                  {"(Record) Write sound data=" + std::to_string(wav.data.size()),
                                   "(Record) Write abort...", "exit code(--view-main) !!"}),
              "")
        << run.out;
    EXPECT_EQ(run.Count("(Record) RecordStop..."), 0);
}

}  // namespace
