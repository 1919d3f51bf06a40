#include "tests/e2e/wav.h"

#include "tests/e2e/harness.h"

namespace e2e {
namespace {

constexpr size_t kHeaderBytes = 44;
constexpr int kFrameBytes = 4;

uint32_t Le32(const std::string& bytes, size_t at)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t Le16(const std::string& bytes, size_t at)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

}  // namespace

Wav ReadWav(const std::string& path)
{
    Wav wav;
    if (!Exists(path)) {
        wav.error = path + " does not exist";
        return wav;
    }
    const std::string bytes = ReadFile(path);
    wav.file_size = bytes.size();
    if (bytes.size() < kHeaderBytes) {
        wav.error = "shorter than a header: " + std::to_string(bytes.size()) + " bytes";
        return wav;
    }
    if (bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 8, "WAVEfmt ") != 0 ||
        bytes.compare(36, 4, "data") != 0 || Le32(bytes, 16) != 16) {
        wav.error = "no canonical RIFF/WAVE header";
        return wav;
    }
    wav.riff_size = Le32(bytes, 4);
    wav.format = Le16(bytes, 20);
    wav.channels = Le16(bytes, 22);
    wav.rate = Le32(bytes, 24);
    wav.byte_rate = Le32(bytes, 28);
    wav.block_align = Le16(bytes, 32);
    wav.bits = Le16(bytes, 34);
    wav.data_size = Le32(bytes, 40);
    wav.data = bytes.substr(kHeaderBytes);
    if (wav.format != 1)
        wav.error = "not PCM: format " + std::to_string(wav.format);
    else if (wav.riff_size != wav.data_size + 36)
        wav.error = "RIFF size " + std::to_string(wav.riff_size) + " for data size " +
                    std::to_string(wav.data_size);
    else if (wav.block_align != wav.channels * (wav.bits / 8) ||
             wav.byte_rate != wav.rate * wav.block_align)
        wav.error = "inconsistent format fields";
    return wav;
}

bool Wav::HeaderMatchesFile() const
{
    return error.empty() && data_size == data.size() / kFrameBytes * kFrameBytes;
}

bool Wav::IsRecorderFormat() const
{
    return error.empty() && channels == 2 && bits == 16 && rate == 22050;
}

double Wav::Seconds() const
{
    return byte_rate ? static_cast<double>(data.size()) / byte_rate : 0;
}

std::string CounterBreak(const std::string& data)
{
    const size_t frames = data.size() / kFrameBytes;
    uint16_t previous = 0;
    for (size_t i = 0; i < frames; ++i) {
        const uint16_t left = Le16(data, i * kFrameBytes);
        const uint16_t right = Le16(data, i * kFrameBytes + 2);
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
