// The simulated microphone playing a WAV file at another rate than the card's:
// which frame of the file a frame of the card hears, however long the capture
// has been running.

#include "sim/microphone.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "sim/handheld.h"

namespace {

constexpr uint32_t kFileRate = 8000;

void Put16(std::vector<unsigned char>& out, uint32_t value)
{
    out.push_back(static_cast<unsigned char>(value & 0xFF));
    out.push_back(static_cast<unsigned char>(value >> 8 & 0xFF));
}

void Put32(std::vector<unsigned char>& out, uint32_t value)
{
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

// One second of mono 16-bit sound at kFileRate whose every frame holds its
// own number, so what the card hears names the frame it came from.
std::string WriteNumberedSecond()
{
    std::vector<unsigned char> file = {'R', 'I', 'F', 'F'};
    Put32(file, 36 + 2 * kFileRate);
    for (char c : std::string("WAVEfmt "))
        file.push_back(static_cast<unsigned char>(c));
    Put32(file, 16);
    Put16(file, 1);
    Put16(file, 1);
    Put32(file, kFileRate);
    Put32(file, 2 * kFileRate);
    Put16(file, 2);
    Put16(file, 16);
    for (char c : std::string("data"))
        file.push_back(static_cast<unsigned char>(c));
    Put32(file, 2 * kFileRate);
    for (uint32_t frame = 0; frame < kFileRate; ++frame)
        Put16(file, frame);
    const std::string path = sim::Handheld::Instance().Root() + "/sim/numbered.wav";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    return path;
}

TEST(SimMicrophone, AFileIsResampledByNearestFrameAtAnyCaptureAge)
{
    const sim::Microphone microphone(WriteNumberedSecond());
    struct Case {
        int rate;
        uint64_t second;  // of the capture, in the card's frames
        uint32_t offset;  // frames into that second
    };
    const uint64_t max = std::numeric_limits<uint64_t>::max();
    const std::vector<Case> cases = {
        {22050, 0, 0},
        {22050, 0, 22049},
        {22050, 1, 11025},
        {44100, 86400, 1},                // a day in
        {22050, uint64_t{1} << 40, 7},    // frame * rate no longer fits in 64 bits
        {22050, max / 22050 - 1, 22049},  // the last whole second a frame counter holds
        {8000, max / 8000 - 1, 7999},     // same rate: frame for frame
        {11025, uint64_t{1} << 50, 11024},
    };
    for (const Case& c : cases) {
        const uint64_t first = c.second * static_cast<uint64_t>(c.rate) + c.offset;
        SCOPED_TRACE("rate " + std::to_string(c.rate) + ", frame " + std::to_string(first));
        unsigned char out[4];
        microphone.Fill(out, 1, first, 2, 16, c.rate);
        // The file is one second long, so whole seconds of the card fall on
        // its start again, and the offset alone decides the frame.
        const uint32_t expected = c.offset * kFileRate / static_cast<uint32_t>(c.rate);
        EXPECT_EQ(out[0] | out[1] << 8, static_cast<int>(expected));
        EXPECT_EQ(out[2] | out[3] << 8, static_cast<int>(expected)) << "a mono file on both sides";
    }
}

}  // namespace
