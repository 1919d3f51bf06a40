// What the simulated speaker plays also reaches the PC's sound output when
// SDL has one: here SDL's disk writer, at about the real pace.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/checks.h"
#include "tests/e2e/harness.h"
#include "tests/support/recording.h"

namespace {

// The frames that are not silence, in order: the output fills silence
// wherever it ran ahead of the card (and the counter's frame 0 is silent).
std::vector<std::string> Sounding(const std::string& pcm)
{
    std::vector<std::string> frames;
    for (size_t at = 0; at + 4 <= pcm.size(); at += 4)
        if (pcm.compare(at, 4, std::string(4, '\0')) != 0)
            frames.push_back(pcm.substr(at, 4));
    return frames;
}

TEST(HostAudio, ThePcOutputPlaysWhatTheSpeakerPlayed)
{
    e2e::Handheld handheld;
    // The play comes 1.3 s after the stop: a play pressed while a loaded
    // machine still ends the recording's run is refused.
    const std::string scenario = e2e::Scenario()
                                     .Tap(300, "key down")
                                     .Tap(1500, "key down")
                                     .Tap(2800, "key backspace")
                                     .At(5500, "quit")
                                     .Text();
    const std::string output = handheld.Path("/sim/host.raw");
    const e2e::Run run = handheld.Start(scenario, 20,
                                        {{"HANDHELD_MIC", "counter"},
                                         {"SDL_AUDIODRIVER", "disk"},
                                         {"SDL_DISKAUDIOFILE", output},
                                         {"SDL_DISKAUDIODELAY", "40"}});
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.Count("(Play) Finished the song & soundcard closed..."), 1) << run.out;
    const support::Wav speaker = support::ReadWav(handheld.Path("/sim/speaker.wav"));
    ASSERT_GT(speaker.data.size(), 22050u);
    EXPECT_EQ(Sounding(e2e::ReadFile(output)), Sounding(speaker.data));
}

}  // namespace
