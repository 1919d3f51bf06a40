#pragma once
// What survives of a sine tone on its way through a real sound server: its
// frequency, its level, whether it goes on unbroken, and whether what was
// played is what was recorded. Samples are 16-bit stereo PCM, as the
// recorder writes them.

#include <cstddef>
#include <string>

namespace e2e {

struct Tone {
    size_t frames = 0;
    bool channels_equal = false;
    double hz = 0;        // from the rising zero crossings
    double level_db = 0;  // peak level in dB of full scale, from the RMS
    int breaks = 0;  // places where the sine does not go on as a sine of the expected frequency
};

// Reads 16-bit stereo samples as a tone of about `expected_hz`.
Tone ReadTone(const std::string& pcm, int rate, double expected_hz);

struct Playback {
    size_t recorded = 0;  // frames of the recording, silence left out
    size_t played = 0;    // frames that were played, silence left out
    size_t matching = 0;  // frames of the recording played as recorded, in order
};

// Compares what a speaker played (a capture that may begin and end with
// silence and have silence between blocks) with the recording it played.
// Frames of silence are left out of both; the first `skip` frames of the
// recording need not be there (a stream's start is where a server is least
// exact).
Playback ComparePlayback(const std::string& recording, const std::string& played, size_t skip);

}  // namespace e2e
