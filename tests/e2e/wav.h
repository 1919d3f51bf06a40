#pragma once
// The recordings and the speaker's file as a listener would check them:
// canonical 44-byte-header PCM WAV files.

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

struct Wav {
    std::string error;  // empty when the file has a canonical PCM header
    uint64_t file_size = 0;
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint16_t bits = 0;
    uint32_t data_size = 0;  // as the header declares it
    std::string data;        // every byte after the header

    // The header declares every whole frame the file holds, and no more.
    bool HeaderMatchesFile() const;
    // Stricter, for a file that was ended: whole frames only, all declared.
    bool EndedWhole() const;
    // Recording format of the recorder: 22050 Hz, stereo, 16-bit.
    bool IsRecorderFormat() const;
    // Seconds of sound the file holds.
    double Seconds() const;
};

Wav ReadWav(const std::string& path);

// The samples as the HANDHELD_MIC=counter microphone makes them: both
// channels carry the frame number, each frame the previous one plus 1
// (mod 65536). Empty when that holds for every frame, else where it breaks.
std::string CounterBreak(const std::string& data);

}  // namespace e2e
