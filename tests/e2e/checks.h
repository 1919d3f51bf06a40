#pragma once
// What the end-to-end tests check again and again: how a run ended, the
// recordings on the card, the log.

#include <gtest/gtest.h>
#include <time.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/harness.h"
#include "tests/support/recording.h"

namespace e2e {

using support::Wav;

// Where the recorder keeps its recordings, and its write probe.
constexpr const char* kRecordFolder = "/mnt/sd/music/rec";
constexpr const char* kWriteProbe = "/mnt/sd/%%_tmp_.tmp%%";

// The environment of a run whose microphone is the counter.
inline const std::map<std::string, std::string> kCounterMic = {{"HANDHELD_MIC", "counter"}};

// A recording's path on the handheld, from its name.
inline std::string RecordPath(const std::string& name)
{
    return std::string(kRecordFolder) + "/" + name;
}

// Touch points of the three buttons along the bottom of the screen.
constexpr const char* kPlayButton = "touch 102 218";
constexpr const char* kRecordButton = "touch 218 218";
constexpr const char* kListButton = "touch 298 218";

// A scenario put together in any order; its text has the lines in the order
// of their times (lines of the same time in the order they were added).
class Scenario {
public:
    Scenario& At(long at_ms, const std::string& command);
    // A press at `at_ms` and its release `hold_ms` later: `what` is
    // "key <sym>", "button <n>" or "touch <x> <y>".
    Scenario& Tap(long at_ms, const std::string& what, long hold_ms = 50);
    std::string Text() const;

private:
    std::vector<std::pair<long, std::string>> lines_;
};

// A scenario clock setting ("YYYY-MM-DD HH:MM:SS", UTC) as a time.
time_t UtcTime(const std::string& clock);
// The recording's file name for a start at this time.
std::string RecordingName(time_t start);

// The run ended by itself with status 0, without a crash or a sanitizer
// report, and handed over to the menu once, with this view (any view when
// empty), and with no descriptor of the recorder's.
::testing::AssertionResult EndedWith(const Run& run, const Handheld& handheld,
                                     const std::string& view);

// A canonical WAV file in the recorder's format whose header declares what it
// holds (a part frame at its end aside), its samples an unbroken run of the
// counter microphone.
::testing::AssertionResult IsCounterRecording(const Wav& wav);

// What each capture handed over to the recorder, in bytes, in the order the
// captures closed; -1 where the simulator's line could not be read.
std::vector<long long> CapturesRead(const Run& run);
// What the open capture had handed over when the scenario command `command`
// acted (its text after the time, as "power cut", or its whole trace line,
// as "scenario at 900 ms: power cut"); -1 for none.
long long CaptureReadAt(const Run& run, const std::string& command);
// The file holds exactly what the capture that closed `index`-th (from 0)
// handed over: nothing of it lost, nothing added; and, where `stop` names a
// scenario command (as above), that capture ran until the command acted. How long it
// ran is the machine's pace; that the file holds all of it is the recorder's.
::testing::AssertionResult HoldsItsCapture(const Run& run, const Wav& wav, size_t index,
                                           const std::string& stop = "");

// Which message of the English strip the screenshot /sim/<shot> shows: 0 .. 6,
// or -1 for none.
int MessageOnShot(const Handheld& handheld, const std::string& shot);

// A recording's name made from a clock reading between `from` and `to`.
::testing::AssertionResult NamedFromClock(const std::string& name, time_t from, time_t to);

}  // namespace e2e
