#include "tests/e2e/wav.h"

#include "audio/wavformat.h"
#include "tests/e2e/harness.h"

namespace e2e {
namespace {

constexpr int kFrameBytes = 4;

// One 16-bit sample of the counter microphone's data.
uint16_t Sample(const std::string& bytes, size_t at)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

}  // namespace

// The recorder's own reader finds the fields; the file passes only if its
// first 44 bytes are, byte for byte, the canonical header of those fields.
Wav ReadWav(const std::string& path)
{
    Wav wav;
    if (!Exists(path)) {
        wav.error = path + " does not exist";
        return wav;
    }
    const std::string bytes = ReadFile(path);
    wav.file_size = bytes.size();
    if (bytes.size() < kWavHeaderBytes) {
        wav.error = "shorter than a header: " + std::to_string(bytes.size()) + " bytes";
        return wav;
    }
    const auto* raw = reinterpret_cast<const unsigned char*>(bytes.data());
    const WavFormat f = wav_parse(raw, bytes.size());
    if (f.data_offset != kWavHeaderBytes) {
        wav.error = "no canonical RIFF/WAVE header (reader's code " + std::to_string(f.code) + ")";
        return wav;
    }
    wav.channels = f.channels;
    wav.rate = f.sample_rate;
    wav.bits = f.bits;
    wav.data_size = static_cast<uint32_t>(f.data_size);
    wav.data = bytes.substr(kWavHeaderBytes);
    const WavHeader canonical =
        WavHeader::ForBytes(f.channels, f.sample_rate, f.bits, wav.data_size);
    for (int at = 0; at < kWavHeaderBytes; ++at) {
        if (canonical.bytes[at] != raw[at]) {
            wav.error = "header byte " + std::to_string(at) + " is " + std::to_string(raw[at]) +
                        ", not the canonical header's " + std::to_string(canonical.bytes[at]) +
                        " for " + std::to_string(wav.data_size) + " bytes of data";
            break;
        }
    }
    return wav;
}

bool Wav::HeaderMatchesFile() const
{
    return error.empty() && data_size == data.size() / kFrameBytes * kFrameBytes;
}

bool Wav::EndedWhole() const
{
    return error.empty() && data_size == data.size() && data.size() % kFrameBytes == 0;
}

bool Wav::IsRecorderFormat() const
{
    return error.empty() && channels == 2 && bits == 16 && rate == 22050;
}

double Wav::Seconds() const
{
    const double byte_rate = static_cast<double>(rate) * WavHeader::BlockAlign(channels, bits);
    return byte_rate > 0 ? static_cast<double>(data.size()) / byte_rate : 0;
}

std::string CounterBreak(const std::string& data)
{
    const size_t frames = data.size() / kFrameBytes;
    uint16_t previous = 0;
    for (size_t i = 0; i < frames; ++i) {
        const uint16_t left = Sample(data, i * kFrameBytes);
        const uint16_t right = Sample(data, i * kFrameBytes + 2);
        if (left != right)
            return "frame " + std::to_string(i) + ": left " + std::to_string(left) + ", right " +
                   std::to_string(right);
        if (i > 0 && left != static_cast<uint16_t>(previous + 1))
            return "frame " + std::to_string(i) + ": " + std::to_string(left) + " after " +
                   std::to_string(previous);
        previous = left;
    }
    return {};
}

}  // namespace e2e
