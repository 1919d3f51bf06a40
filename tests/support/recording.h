#pragma once
// The recordings and the speaker's file as a listener would check them:
// canonical 44-byte-header PCM WAV files. Shared by the in-process tests and
// by those that run the program, so it needs nothing of the recorder's but
// its WAV format.

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace support {

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
// The same of a file's bytes already read.
Wav ParseWav(const std::string& bytes);

// The samples as the HANDHELD_MIC=counter microphone makes them: both
// channels carry the frame number, each frame the previous one plus 1
// (mod 65536). Empty when that holds for every frame, else where it breaks.
std::string CounterBreak(const std::string& data);

// How far behind what a file holds its header may be: a file the recorder
// ended declares all of it; one cut between two writes of a frame may hold
// a part frame more; one cut before the header caught up, more still.
constexpr uint64_t kEndedWhole = 0;
constexpr uint64_t kPartFrame = 3;
constexpr uint64_t kAnyLag = std::numeric_limits<uint64_t>::max();

// A recording of the counter microphone: in the recorder's format, not
// empty, its header declaring whole frames and at most `lag` bytes fewer
// than the file holds, and what it declares an unbroken counter run. Empty
// when all of that holds, else what does not.
std::string RecordingFault(const Wav& wav, uint64_t lag = kEndedWhole);
// The same of the file at `path`, the fault led by the path.
std::string RecordingFault(const std::string& path, uint64_t lag = kEndedWhole);

// The files of one recording in their order: each one ended whole, and
// their sound joined one unbroken counter run of at least `bytes`. Empty
// when all of that holds, else what does not, with the path it concerns.
std::string JoinedRecordingFault(const std::vector<std::string>& paths, uint64_t bytes = 1);

}  // namespace support
