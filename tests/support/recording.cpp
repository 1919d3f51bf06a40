#include "tests/support/recording.h"

#include <fstream>
#include <sstream>

#include "audio/wavformat.h"

namespace support {
namespace {

constexpr int kFrameBytes = 4;

// One 16-bit sample of the counter microphone's data.
uint16_t Sample(const std::string& bytes, size_t at)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

}  // namespace

Wav ReadWav(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        Wav wav;
        wav.error = path + " does not exist";
        return wav;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return ParseWav(bytes.str());
}

// The recorder's own reader finds the fields; the file passes only if its
// first 44 bytes are, byte for byte, the canonical header of those fields.
Wav ParseWav(const std::string& bytes)
{
    Wav wav;
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

std::string RecordingFault(const Wav& wav, uint64_t lag)
{
    if (!wav.error.empty())
        return wav.error;
    if (!wav.IsRecorderFormat())
        return "not the recorder's format: " + std::to_string(wav.rate) + " Hz, " +
               std::to_string(wav.channels) + " channels, " + std::to_string(wav.bits) + " bits";
    const uint64_t held = wav.data.size();
    // A file cut at any moment may not have reached its first samples.
    if (held == 0 && lag != kAnyLag)
        return "no samples";
    const std::string declared_held =
        "declares " + std::to_string(wav.data_size) + " bytes, holds " + std::to_string(held);
    if (wav.data_size > held)
        return declared_held;
    if (wav.data_size % kFrameBytes)
        return declared_held + ": part of a frame declared";
    if (lag == kEndedWhole && held % kFrameBytes)
        return declared_held + ": ends in part of a frame";
    if (held - wav.data_size > lag)
        return declared_held + ": " + std::to_string(held - wav.data_size) +
               " bytes undeclared, more than the " + std::to_string(lag) + " allowed";
    const std::string broken = CounterBreak(wav.data.substr(0, wav.data_size));
    if (!broken.empty())
        return "the counter breaks at " + broken;
    return {};
}

std::string RecordingFault(const std::string& path, uint64_t lag)
{
    const std::string fault = RecordingFault(ReadWav(path), lag);
    return fault.empty() ? fault : path + ": " + fault;
}

std::string JoinedRecordingFault(const std::vector<std::string>& paths, uint64_t bytes)
{
    std::string joined;
    std::vector<size_t> starts;
    for (const std::string& path : paths) {
        const Wav wav = ReadWav(path);
        const std::string fault = RecordingFault(wav);
        if (!fault.empty())
            return path + ": " + fault;
        starts.push_back(joined.size());
        joined += wav.data;
    }
    if (joined.size() < bytes)
        return "the recording holds " + std::to_string(joined.size()) + " bytes in " +
               std::to_string(paths.size()) + " files, less than " + std::to_string(bytes);
    const std::string broken = CounterBreak(joined);
    if (broken.empty())
        return {};
    // Which file the break falls in: the frame's byte among the starts.
    const size_t frame = std::stoul(broken.substr(broken.find(' ') + 1));
    size_t file = 0;
    while (file + 1 < starts.size() && starts[file + 1] <= frame * kFrameBytes)
        ++file;
    return "the files do not join up: the counter breaks at " + broken + ", " +
           std::to_string(frame * kFrameBytes - starts[file]) + " bytes into " + paths[file];
}

}  // namespace support
