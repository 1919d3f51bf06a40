#pragma once
// What the simulated handheld's microphone hears. The sound card asks it for
// frames by their running number since the capture began, so a source can be
// a pure function of time: the same frame number always sounds the same.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

class Microphone {
public:
    // "tone" (a steady sine), "counter" (the frame number itself) or the path
    // of a WAV file of the PC, played in a loop. A file that cannot be read
    // is reported once and the microphone hears silence.
    explicit Microphone(const std::string& source);

    // Fills `frames` frames starting at frame number `first`, in the card's
    // present format: `channels` 1 or 2, `afmt` 8 (unsigned 8-bit) or 16
    // (signed 16-bit little-endian), at `rate` Hz.
    void Fill(unsigned char* out, size_t frames, uint64_t first, int channels, int afmt,
              int rate) const;

private:
    enum class Kind { kTone, kCounter, kFile, kSilence };
    // Left and right of one frame; mono sources are read twice.
    int16_t Sample(uint64_t frame, int channel, int rate) const;
    bool Load(const std::string& path);

    Kind kind_ = Kind::kTone;
    // A loaded file as interleaved 16-bit samples.
    std::vector<int16_t> samples_;
    int file_channels_ = 0;
    int file_rate_ = 0;
};

}  // namespace sim
