// Runs that cannot start for want of a device, and a handheld without some
// of its parts: what is kept, what is shown, where the recorder goes.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "tests/e2e/checks.h"
#include "tests/e2e/harness.h"
#include "tests/e2e/screen.h"
#include "tests/support/recording.h"

namespace {

using e2e::Handheld;
using e2e::Scenario;

using e2e::kCounterMic;

// The second recording cannot open its sound device: message 0, its own new
// file is deleted (it never held anything), the first recording stays.
TEST(StartFailure, ARecordingWithoutItsSoundDeviceDeletesOnlyItsOwnFile)
{
    for (const char* device : {"dsp busy", "dsp absent", "dsp readonly", "mixer busy"}) {
        SCOPED_TRACE(device);
        Handheld handheld;
        const std::string scenario = Scenario()
                                         .Tap(200, "key down")
                                         .Tap(1300, "key down")
                                         .At(1600, device)
                                         .Tap(1700, "key down")
                                         .At(2400, "shot message.bmp")
                                         .Text();
        const e2e::Run run = handheld.Start(scenario, 20, kCounterMic);
        ASSERT_TRUE(e2e::EndedWith(run, handheld, "--view-main"));
        EXPECT_EQ(e2e::MessageOnShot(handheld, "message.bmp"), 0);
        const std::vector<std::string> names = handheld.List(e2e::kRecordFolder);
        ASSERT_EQ(names.size(), 1u) << run.out;
        const std::string first = e2e::RecordPath(names[0]);
        EXPECT_TRUE(e2e::IsCounterRecording(support::ReadWav(handheld.Path(first))));
        int unlinked = 0;
        for (const std::string& message : run.Messages()) {
            if (message.rfind("unlink file(", 0) != 0)
                continue;
            ++unlinked;
            EXPECT_EQ(message.find(first), std::string::npos) << "the first recording: " << message;
        }
        EXPECT_EQ(unlinked, 1) << run.out;
        EXPECT_EQ(run.Count("(Record) RecordStart(" + first + ")..."), 1) << run.out;
    }
}

// A playback that cannot open its sound device shows message 1, whether or
// not a notice is on, and its end leaves for the main view.
TEST(StartFailure, APlaybackWithoutItsSoundDeviceShowsMessage1AndLeaves)
{
    for (const bool notice : {false, true}) {
        SCOPED_TRACE(notice ? "under the low-battery notice" : "alone");
        Handheld handheld;
        Scenario scenario;
        if (notice)
            // Set at power-on a second before the minute, the clock shows
            // 10:15 at the first status tick: the notice comes with it.
            scenario.At(0, "battery 4").At(0, "clock 2026-01-01 10:14:59");
        scenario.Tap(200, "key down")
            .Tap(1300, "key down")
            .At(2300, "shot before.bmp")
            .At(2400, "dsp busy")
            .Tap(2500, "key backspace")
            .At(3600, "shot message.bmp")
            .At(4400, "shot still.bmp");
        const e2e::Run run = handheld.Start(scenario.Text(), 20, kCounterMic);
        ASSERT_TRUE(e2e::EndedWith(run, handheld, "--view-main"));
        EXPECT_EQ(e2e::MessageOnShot(handheld, "before.bmp"), notice ? 4 : -1);
        EXPECT_EQ(e2e::MessageOnShot(handheld, "message.bmp"), 1);
        EXPECT_EQ(run.Count("(Play) PlayStart..."), 0) << run.out;
        // The message runs its time before the recorder leaves: 3 to 4 s, as
        // its ticks of a second or more fall, from about 2.6 s of the
        // scenario's clock (later on a loaded machine, never earlier).
        EXPECT_EQ(e2e::MessageOnShot(handheld, "still.bmp"), 1);
    }
}

// Without the GPIO driver (as on a PC) nobody watches the card: the recorder
// never leaves for a missing card.
TEST(StartFailure, WithoutTheGpioDriverTheCardIsNotWatched)
{
    Handheld handheld;
    const std::string scenario = Scenario()
                                     .At(0, "gpio absent")
                                     .At(300, "card out")
                                     .At(2600, "shot out.bmp")
                                     .At(2700, "card in")
                                     .Tap(2800, "key down")
                                     .Tap(4000, "key down")
                                     // Well after the stop has ended the run,
                                     // on a loaded machine too.
                                     .Tap(6000, "key tab")
                                     .Text();
    const e2e::Run run = handheld.Start(scenario, 20, kCounterMic);
    ASSERT_TRUE(e2e::EndedWith(run, handheld, "--view-apps"));
    EXPECT_EQ(run.Count("GPIO_DEV open failed."), 1) << run.out;
    EXPECT_EQ(run.Count("No SD card & exit to mainApp !!..."), 0) << run.out;
    EXPECT_EQ(e2e::MessageOnShot(handheld, "out.bmp"), -1);
    EXPECT_EQ(run.Count("(Record) RecordStop..."), 1) << run.out;
    EXPECT_EQ(handheld.List(e2e::kRecordFolder).size(), 1u);
}

// Without the font only the texts are missing: message 5 at the start, and
// the recorder works.
TEST(StartFailure, WithoutTheFontMessage5ThenTheRecorderWorks)
{
    Handheld handheld;
    ASSERT_EQ(::unlink(handheld.Path("/usr/orvo/HYUni_ZEM_B.ttf").c_str()), 0);
    const std::string scenario = Scenario()
                                     .At(500, "shot message.bmp")
                                     .Tap(4600, "key down")
                                     .Tap(5700, "key down")
                                     .Tap(6200, "key tab")
                                     .Text();
    const e2e::Run run = handheld.Start(scenario, 20, kCounterMic);
    ASSERT_TRUE(e2e::EndedWith(run, handheld, "--view-apps"));
    EXPECT_EQ(e2e::MessageOnShot(handheld, "message.bmp"), 5);
    EXPECT_EQ(run.Count("(Record) RecordStop..."), 1) << run.out;
    const std::vector<std::string> names = handheld.List(e2e::kRecordFolder);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(
        e2e::IsCounterRecording(support::ReadWav(handheld.Path(e2e::RecordPath(names[0])))));
}

// A FIFO in place of the settings file has nobody writing to it: reading it
// would wait for ever. The recorder takes it for a missing file.
TEST(StartFailure, AFifoForTheSettingsFileIsTakenForAMissingOne)
{
    Handheld handheld;
    const std::string settings = handheld.Path("/mnt/ubifs/usr/orvo/common.ini");
    ASSERT_EQ(::unlink(settings.c_str()), 0);
    ASSERT_EQ(::mkfifo(settings.c_str(), 0644), 0);
    const e2e::Run run = handheld.Start(Scenario().Tap(500, "key tab").Text(), 15);
    ASSERT_TRUE(e2e::EndedWith(run, handheld, "--view-apps"));
    EXPECT_EQ(run.Count("Langage = en_US.utf8"), 1) << run.out;
}

}  // namespace
