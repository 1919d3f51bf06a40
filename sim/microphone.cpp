#include "sim/microphone.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

#include "audio/wavformat.h"
#include "sim/handheld.h"

namespace sim {
namespace {

constexpr double kToneHz = 440.0;
constexpr double kToneLevel = 8000.0;

uint16_t Le16(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

}  // namespace

Microphone::Microphone(const std::string& source)
{
    if (source.empty() || source == "tone") {
        kind_ = Kind::kTone;
    } else if (source == "counter") {
        kind_ = Kind::kCounter;
    } else if (Load(source)) {
        kind_ = Kind::kFile;
    } else {
        Notice("microphone: %s is no PCM WAV file this card can play; it hears silence",
               source.c_str());
        kind_ = Kind::kSilence;
    }
}

// The recorder's own reading of a file to play: what it would play, the
// microphone hears.
bool Microphone::Load(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>());
    const WavFormat format = wav_parse(bytes.data(), bytes.size());
    const int bits = format.bits;
    if (format.code != 0 || format.format_tag != 1 || format.channels < 1 ||
        format.sample_rate == 0 || format.sample_rate > 0x7FFFFFFF || (bits != 8 && bits != 16))
        return false;
    file_channels_ = format.channels;
    file_rate_ = static_cast<int>(format.sample_rate);
    const unsigned char* data = bytes.data() + format.data_offset;
    const size_t data_size = std::min(static_cast<size_t>(format.data_size),
                                      bytes.size() - static_cast<size_t>(format.data_offset));
    const size_t width = bits / 8;
    const size_t count = data_size / width / file_channels_ * file_channels_;
    if (count == 0)
        return false;
    samples_.resize(count);
    for (size_t i = 0; i < count; ++i) {
        samples_[i] = bits == 16 ? static_cast<int16_t>(Le16(data + 2 * i))
                                 : static_cast<int16_t>((data[i] - 128) * 256);
    }
    return true;
}

int16_t Microphone::Sample(uint64_t frame, int channel, int rate) const
{
    switch (kind_) {
    case Kind::kCounter:
        return static_cast<int16_t>(static_cast<uint16_t>(frame & 0xFFFF));
    case Kind::kTone: {
        const double phase = std::fmod(static_cast<double>(frame) * kToneHz / rate, 1.0);
        return static_cast<int16_t>(std::lround(kToneLevel * std::sin(2.0 * M_PI * phase)));
    }
    case Kind::kFile: {
        // Nearest frame of the file at the card's rate, looped:
        // frame * file_rate / rate, modulo the file's length. That product
        // outgrows 64 bits, and 32-bit targets have no wider integer, so the
        // frame is split into whole seconds of the card and the frames left
        // over. Every term stays within 64 bits for files under 2^32 frames.
        const uint64_t frames = samples_.size() / file_channels_;
        const uint64_t seconds = frame / static_cast<uint64_t>(rate);
        const uint64_t rest = frame % static_cast<uint64_t>(rate);
        const uint64_t source =
            ((seconds % frames) * (static_cast<uint64_t>(file_rate_) % frames) +
             rest * static_cast<uint64_t>(file_rate_) / static_cast<uint64_t>(rate)) %
            frames;
        const int c = channel < file_channels_ ? channel : file_channels_ - 1;
        return samples_[source * file_channels_ + c];
    }
    case Kind::kSilence:
        break;
    }
    return 0;
}

void Microphone::Fill(unsigned char* out, size_t frames, uint64_t first, int channels, int afmt,
                      int rate) const
{
    for (size_t i = 0; i < frames; ++i) {
        const uint64_t frame = first + i;
        for (int c = 0; c < channels; ++c) {
            // A mono card hears the left channel.
            const int16_t s = Sample(frame, c, rate);
            if (afmt == 16) {
                const uint16_t u = static_cast<uint16_t>(s);
                *out++ = static_cast<unsigned char>(u & 0xFF);
                *out++ = static_cast<unsigned char>(u >> 8);
            } else if (kind_ == Kind::kCounter) {
                // The counter keeps its low byte, so 8-bit runs can be checked too.
                *out++ = static_cast<unsigned char>(frame & 0xFF);
            } else {
                *out++ = static_cast<unsigned char>((s >> 8) + 128);
            }
        }
    }
}

}  // namespace sim
