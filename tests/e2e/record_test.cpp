// Recording and playback on the real program: the ways to start, stop and
// play, the refusals, the aborts, the files on the card and what the
// speaker played.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
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

std::string Started(const std::string& name)
{
    return "(Record) RecordStart(" + RecordPath(name) + ")...";
}

TEST(Recording, ByTouchStoppedByCode9AndPlayedByCode8WithTheRefusalsOnTheWay)
{
    Handheld handheld;
    const char* const clock = "2031-05-17 08:09:30";
    const std::string scenario = Scenario()
                                     .At(0, std::string("clock ") + clock)
                                     .At(300, "shot idle.bmp")
                                     .Tap(400, e2e::kPlayButton)  // nothing recorded yet: refused
                                     .At(900, "shot refused.bmp")
                                     .Tap(1000, e2e::kRecordButton)  // records from 1050
                                     .At(1500, "shot recording.bmp")
                                     .Tap(1600, "key up")  // code 17: the version appears
                                     .At(2000, "shot version.bmp")
                                     .Tap(2100, "key backspace")  // code 8 while recording: nothing
                                     .Tap(2300, "key up")         // the version goes
                                     .At(2700, "shot no-version.bmp")
                                     .Tap(3000, "key tab")        // code 9 stops at 3050: 2.0 s
                                     .Tap(3500, "key backspace")  // code 8 plays, about 2 s
                                     .Tap(4200, "key 266")        // code 10 while playing: nothing
                                     .At(6400, "shot played.bmp")
                                     .Tap(6500, "key kp_plus")  // code 14 when idle
                                     .At(12000, "quit")
                                     .Text();
    const time_t from = e2e::UtcTime(clock);
    const e2e::Run run = handheld.Start(scenario, 30, kCounterMic);
    ASSERT_TRUE(e2e::EndedWith(run, handheld, "--view-main"));

    // The folder was made for the first recording; the probe is gone.
    EXPECT_TRUE(e2e::IsFolder(handheld.Path(e2e::kRecordFolder)));
    EXPECT_FALSE(e2e::Exists(handheld.Path(e2e::kWriteProbe)));
    const std::vector<std::string> names = handheld.List(e2e::kRecordFolder);
    ASSERT_EQ(names.size(), 1u) << run.out;
    const std::string& name = names[0];
    EXPECT_TRUE(e2e::NamedFromClock(name, from, from + static_cast<time_t>(run.seconds) + 1));

    const support::Wav wav = support::ReadWav(handheld.Path(RecordPath(name)));
    EXPECT_TRUE(e2e::IsCounterRecording(wav));
    EXPECT_TRUE(e2e::HoldsItsCapture(run, wav, 0, "key down tab"));
    const std::string bytes = std::to_string(wav.data.size());

    const support::Wav speaker = support::ReadWav(handheld.Path("/sim/speaker.wav"));
    ASSERT_TRUE(speaker.IsRecorderFormat()) << speaker.error;
    EXPECT_TRUE(speaker.data == wav.data) << "the speaker played " << speaker.data.size()
                                          << " bytes, the recording holds " << wav.data.size();

    const std::vector<std::string> messages = run.Messages();
    EXPECT_EQ(e2e::MissingInOrder(messages,
                                  {
                                      "(Play) Play skip(1)...",
                                      "Create 'record' path(/mnt/sd/music/rec)...",
                                      Started(name),
                                      "(Record) Pressed stop button & soundcard closed...",
                                      "(Record) Write sound data=" + bytes,
                                      "(Record) RecordStop...",
                                      "(Play) PlayStart...",
                                      "(Play) Read sound data=" + bytes,
                                      "(Play) Finished the song & soundcard closed...",
                                      "(Play) PlayStop...",
                                      "exit code(--view-main) !!",
                                  }),
              "")
        << run.out;
    // Codes 8 and 10 did nothing in the wrong state: no refusal, no second run.
    for (const char* absent : {"(Play) Play skip(2)...", "OnRecordStart Skip(2)...",
                               "OnPlayStop Skip...", "OnRecordStop Skip...!!"})
        EXPECT_EQ(run.Count(absent), 0) << absent << "\n" << run.out;
    EXPECT_EQ(run.Count("(Play) PlayStart..."), 1) << run.out;
    EXPECT_EQ(run.Count("Create 'record' path(/mnt/sd/music/rec)..."), 1);

    const e2e::Image idle = e2e::ReadBmp(handheld.Path("/sim/idle.bmp"));
    const e2e::Image refused = e2e::ReadBmp(handheld.Path("/sim/refused.bmp"));
    const e2e::Image recording = e2e::ReadBmp(handheld.Path("/sim/recording.bmp"));
    const e2e::Image version = e2e::ReadBmp(handheld.Path("/sim/version.bmp"));
    const e2e::Image no_version = e2e::ReadBmp(handheld.Path("/sim/no-version.bmp"));
    const e2e::Image played = e2e::ReadBmp(handheld.Path("/sim/played.bmp"));
    for (const e2e::Image* shot : {&idle, &refused, &recording, &version, &no_version, &played})
        ASSERT_FALSE(shot->Empty());
    EXPECT_TRUE(e2e::SameArea(refused, idle, e2e::area::kButtons))
        << "the play button did not return to its idle face";
    EXPECT_FALSE(e2e::SameArea(recording, idle, e2e::area::kRecordButton));
    EXPECT_FALSE(e2e::SameArea(version, recording, e2e::area::kVersion));
    EXPECT_TRUE(e2e::SameArea(no_version, recording, e2e::area::kVersion));
    // After the playback: the idle buttons and the counter back at zero.
    EXPECT_TRUE(e2e::SameArea(played, idle, e2e::area::kButtons));
    EXPECT_TRUE(e2e::SameArea(played, idle, e2e::area::kCounter));
}

TEST(Recording, ByCode18AndButton10StoppedByCode10AndTheButtonPlayedByButton0AndTheButton)
{
    Handheld handheld;
    // Neither the recordings folder nor its parent: both are made.
    ASSERT_EQ(::rmdir(handheld.Path("/mnt/sd/music").c_str()), 0);
    const char* const clock = "2031-12-31 23:59:59";
    // Each press comes 1.5 s after what it waits for (a stop's close, a
    // playback's sound), which a loaded machine may draw out: a button is
    // disabled until then, and a press on it is lost.
    const std::string scenario = Scenario()
                                     .At(0, std::string("clock ") + clock)
                                     .Tap(300, "key down")           // code 18 records from 350
                                     .Tap(2300, "key 266")           // code 10 stops at 2350: 2.0 s
                                     .Tap(3800, "button 0")          // code 8 plays
                                     .Tap(7400, "button 10")         // code 18 records from 7450
                                     .Tap(9000, e2e::kRecordButton)  // stops at 9050: 1.6 s
                                     .Tap(10500, e2e::kPlayButton)   // plays
                                     .Tap(13700, "button 1")         // code 9 when idle
                                     .Tap(17000, "key kp_plus")
                                     .Text();
    const time_t from = e2e::UtcTime(clock);
    const e2e::Run run = handheld.Start(scenario, 40, kCounterMic);
    ASSERT_TRUE(e2e::EndedWith(run, handheld, "--view-apps"));

    EXPECT_FALSE(e2e::Exists(handheld.Path(e2e::kWriteProbe)));
    const std::vector<std::string> names = handheld.List(e2e::kRecordFolder);
    ASSERT_EQ(names.size(), 2u) << run.out;
    const char* const stops[] = {"key down 266", "touch down 218 218"};
    std::vector<support::Wav> recordings;
    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_TRUE(
            e2e::NamedFromClock(names[i], from, from + static_cast<time_t>(run.seconds) + 1));
        recordings.push_back(support::ReadWav(handheld.Path(RecordPath(names[i]))));
        EXPECT_TRUE(e2e::IsCounterRecording(recordings.back()));
        EXPECT_TRUE(e2e::HoldsItsCapture(run, recordings.back(), i, stops[i]));
    }
    // The speaker holds the last playback: the second recording, whole.
    const support::Wav speaker = support::ReadWav(handheld.Path("/sim/speaker.wav"));
    ASSERT_TRUE(speaker.IsRecorderFormat()) << speaker.error;
    EXPECT_TRUE(speaker.data == recordings[1].data)
        << "the speaker played " << speaker.data.size() << " bytes, the recording holds "
        << recordings[1].data.size();

    const std::string bytes[] = {std::to_string(recordings[0].data.size()),
                                 std::to_string(recordings[1].data.size())};
    EXPECT_EQ(e2e::MissingInOrder(run.Messages(),
                                  {
                                      "Create 'record' path(/mnt/sd/music/rec)...",
                                      Started(names[0]),
                                      "(Record) Write sound data=" + bytes[0],
                                      "(Record) RecordStop...",
                                      "(Play) PlayStart...",
                                      "(Play) Read sound data=" + bytes[0],
                                      "(Play) Finished the song & soundcard closed...",
                                      "(Play) PlayStop...",
                                      Started(names[1]),
                                      "(Record) Write sound data=" + bytes[1],
                                      "(Record) RecordStop...",
                                      "(Play) PlayStart...",
                                      "(Play) Read sound data=" + bytes[1],
                                      "(Play) Finished the song & soundcard closed...",
                                      "(Play) PlayStop...",
                                      "exit code(--view-apps) !!",
                                  }),
              "")
        << run.out;
    EXPECT_EQ(run.Count("Create 'record' path(/mnt/sd/music/rec)..."), 1);
    EXPECT_TRUE(e2e::IsFolder(handheld.Path("/mnt/sd/music")));
}

TEST(Recording, Code14DuringARecordingClosesTheFileAndLeavesForTheMainView)
{
    Handheld handheld;
    const std::string scenario = Scenario()
                                     .Tap(300, e2e::kRecordButton)  // records from 350
                                     .Tap(1800, "key kp_plus")      // at 1850: 1.5 s
                                     .At(8000, "quit")
                                     .Text();
    const e2e::Run run = handheld.Start(scenario, 20, kCounterMic);
    ASSERT_TRUE(e2e::EndedWith(run, handheld, "--view-main"));
    const std::vector<std::string> names = handheld.List(e2e::kRecordFolder);
    ASSERT_EQ(names.size(), 1u) << run.out;
    const support::Wav wav = support::ReadWav(handheld.Path(RecordPath(names[0])));
    EXPECT_TRUE(e2e::IsCounterRecording(wav));
    EXPECT_TRUE(e2e::HoldsItsCapture(run, wav, 0, "key down kp_plus"));
    EXPECT_EQ(
        e2e::MissingInOrder(run.Messages(),
                            {
                                Started(names[0]),
                                "(Record) Write sound data=" + std::to_string(wav.data.size()),
                                "(Record) Exit to mainApp...",
                                "exit code(--view-main) !!",
                            }),
        "")
        << run.out;
    EXPECT_EQ(run.Count("(Record) RecordStop..."), 0) << run.out;
}

TEST(Recording, Code14DuringAPlaybackLeavesForTheMainViewAndKeepsTheRecording)
{
    Handheld handheld;
    const std::string scenario = Scenario()
                                     .Tap(300, "key down")         // records from 350
                                     .Tap(1800, "key down")        // stops at 1850: 1.5 s
                                     .Tap(2300, e2e::kPlayButton)  // plays from 2350
                                     .Tap(3000, "key kp_plus")     // at 3050: 0.7 s played
                                     .At(8000, "quit")
                                     .Text();
    const e2e::Run run = handheld.Start(scenario, 20, kCounterMic);
    ASSERT_TRUE(e2e::EndedWith(run, handheld, "--view-main"));
    const std::vector<std::string> names = handheld.List(e2e::kRecordFolder);
    ASSERT_EQ(names.size(), 1u) << run.out;
    const support::Wav wav = support::ReadWav(handheld.Path(RecordPath(names[0])));
    EXPECT_TRUE(e2e::IsCounterRecording(wav));
    EXPECT_TRUE(e2e::HoldsItsCapture(run, wav, 0, "scenario at 1800 ms: key down down"));

    const support::Wav speaker = support::ReadWav(handheld.Path("/sim/speaker.wav"));
    ASSERT_TRUE(speaker.IsRecorderFormat()) << speaker.error;
    // Cut by the leave, whenever the machine took it up.
    EXPECT_GT(speaker.data.size(), 0u);
    EXPECT_LT(speaker.data.size(), wav.data.size());
    EXPECT_EQ(wav.data.compare(0, speaker.data.size(), speaker.data), 0)
        << "the speaker did not play the start of the recording";

    EXPECT_EQ(e2e::MissingInOrder(run.Messages(),
                                  {
                                      "(Record) RecordStop...",
                                      "(Play) PlayStart...",
                                      "(Play) Exit to mainApp...",
                                      "exit code(--view-main) !!",
                                  }),
              "")
        << run.out;
    EXPECT_EQ(run.Count("(Play) Finished the song & soundcard closed..."), 0) << run.out;
}

TEST(Recording, RecordingsStartedInTheSameSecondAreAllKept)
{
    // The clock is set to the same moment just before each of three starts,
    // so all three fall in one second of it however late a loaded machine
    // takes them up (within that second), with time enough between them for
    // each recording to close its file. A start that comes before the
    // previous recording has closed its file is refused, and the run is
    // made again.
    Scenario scenario;
    for (long start : {300, 1800, 3300}) {
        scenario.At(start - 50, "clock 2031-05-17 08:09:30");
        scenario.Tap(start, "key down").Tap(start + 600, "key down");
    }
    scenario.Tap(4800, "key tab").Tap(11000, "key kp_plus");
    const std::string head = "(Record) RecordStart(" + std::string(e2e::kRecordFolder) + "/";
    for (int attempt = 1; attempt <= 3; ++attempt) {
        Handheld handheld;
        const e2e::Run run = handheld.Start(scenario.Text(), 20, kCounterMic);
        std::vector<std::string> started;
        // A recording stopped before its first block leaves no file, and the
        // next start may take its name: such a run proves nothing either.
        bool emptied = false;
        for (const std::string& message : run.Messages()) {
            if (message.rfind(head, 0) == 0)
                started.push_back(message.substr(head.size(), message.size() - head.size() - 4));
            emptied = emptied || message.rfind("unlink file(", 0) == 0;
        }
        const bool refused =
            emptied ||
            run.Count("OnRecordStart skip(3)...") + run.Count("OnRecordStart Skip(4)...") > 0;
        if (refused && attempt < 3)
            continue;
        ASSERT_TRUE(e2e::EndedWith(run, handheld, "--view-apps"));
        ASSERT_EQ(started.size(), 3u) << run.out;
        // However late each start was taken up, its clock read the moment
        // set or later, and a second already taken moved it on: three
        // names, none before that moment, all of them on the card.
        std::vector<std::string> names = started;
        std::sort(names.begin(), names.end());
        EXPECT_EQ(std::unique(names.begin(), names.end()), names.end()) << run.out;
        EXPECT_EQ(handheld.List(e2e::kRecordFolder), names);
        const time_t set = e2e::UtcTime("2031-05-17 08:09:30");
        for (const std::string& name : started)
            EXPECT_TRUE(e2e::NamedFromClock(name, set, set + static_cast<time_t>(run.seconds) + 3));
        // Each is kept whole; a loaded machine may stop one of these short
        // recordings before its first block has come, which leaves a valid
        // file without samples.
        for (const std::string& name : started) {
            SCOPED_TRACE(name);
            const support::Wav wav = support::ReadWav(handheld.Path(RecordPath(name)));
            if (wav.data.empty())
                EXPECT_TRUE(wav.error.empty() && wav.HeaderMatchesFile()) << wav.error;
            else
                EXPECT_TRUE(e2e::IsCounterRecording(wav));
        }
        return;
    }
}

TEST(Recording, APlayCommandRightAfterTheStopLeavesTheStopStanding)
{
    // The play command arrives while the recording worker has not yet taken
    // up the stop: it must not undo the stop.
    Handheld handheld;
    const std::string scenario = Scenario()
                                     .Tap(300, "key down")  // records from 350
                                     .At(1300, "key down 266")
                                     .At(1350, "key up 266")  // stops at 1350: 1.0 s
                                     .Tap(1350, "key backspace", 1)
                                     .Tap(3000, "key kp_plus")
                                     .At(8000, "quit")
                                     .Text();
    const e2e::Run run = handheld.Start(scenario, 20, kCounterMic);
    ASSERT_TRUE(e2e::EndedWith(run, handheld, "--view-main"));
    const std::vector<std::string> names = handheld.List(e2e::kRecordFolder);
    ASSERT_EQ(names.size(), 1u) << run.out;
    const support::Wav wav = support::ReadWav(handheld.Path(RecordPath(names[0])));
    EXPECT_TRUE(e2e::IsCounterRecording(wav));
    EXPECT_TRUE(e2e::HoldsItsCapture(run, wav, 0, "key down 266"));
    EXPECT_EQ(e2e::MissingInOrder(
                  run.Messages(),
                  {Started(names[0]), "(Record) Pressed stop button & soundcard closed...",
                   "(Record) RecordStop...", "exit code(--view-main) !!"}),
              "")
        << run.out;
}

}  // namespace
