#include "audio/wavformat.h"

#include <algorithm>
#include <cstring>

namespace {

void PutLe32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

void PutLe16(unsigned char* p, uint16_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

uint32_t Le32(const unsigned char* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t Le16(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// The first occurrence of a tag among the bytes read, if the `need` bytes
// taken from there were read too; else -1.
long FindTag(const unsigned char* window, size_t got, const char* tag, size_t need)
{
    for (size_t at = 0; at + 4 <= got; ++at) {
        if (std::memcmp(window + at, tag, 4) == 0)
            return at + need <= got ? static_cast<long>(at) : -1;
    }
    return -1;
}

}  // namespace

uint16_t WavHeader::BlockAlign(int channels, int bits)
{
    const uint32_t bytes_per_sample = bits == 16 ? 2 : 1;
    return static_cast<uint16_t>(static_cast<uint32_t>(channels) * bytes_per_sample);
}

WavHeader WavHeader::ForBytes(int channels, uint32_t sample_rate, int bits, uint32_t data_bytes)
{
    const uint16_t align = BlockAlign(channels, bits);
    WavHeader h{};
    unsigned char* p = h.bytes.data();
    std::memcpy(p, "RIFF", 4);
    PutLe32(p + 4, data_bytes + 36);
    std::memcpy(p + 8, "WAVEfmt ", 8);
    PutLe32(p + 16, 16);
    PutLe16(p + 20, 1);
    PutLe16(p + 22, static_cast<uint16_t>(channels));
    PutLe32(p + 24, sample_rate);
    PutLe32(p + 28, sample_rate * align);
    PutLe16(p + 32, align);
    PutLe16(p + 34, bits == 16 ? 16 : 8);
    std::memcpy(p + 36, "data", 4);
    PutLe32(p + 40, data_bytes);
    return h;
}

WavHeader WavHeader::ForFrames(int channels, uint32_t sample_rate, int bits, uint32_t frames)
{
    return ForBytes(channels, sample_rate, bits, frames * BlockAlign(channels, bits));
}

WavFormat wav_parse(const unsigned char* bytes, size_t size)
{
    const size_t got = std::min<size_t>(size, kWavWindowBytes);
    WavFormat f;
    if (FindTag(bytes, got, "RIFF", 4) < 0 || FindTag(bytes, got, "WAVE", 4) < 0) {
        f.code = -12;
        return f;
    }
    const long fmt = FindTag(bytes, got, "fmt ", 24);
    if (fmt < 0) {
        f.code = -13;
        return f;
    }
    f.format_tag = Le16(bytes + fmt + 8);
    f.channels = Le16(bytes + fmt + 10);
    f.sample_rate = Le32(bytes + fmt + 12);
    f.bits = Le16(bytes + fmt + 22);
    const long data = FindTag(bytes, got, "data", 8);
    if (data < 0) {
        f.code = -14;
        return f;
    }
    f.data_size = static_cast<int32_t>(Le32(bytes + data + 4));
    f.data_offset = static_cast<int>(data + 8);
    f.code = f.data_size > 0 ? 0 : -14;
    return f;
}

const char* wav_message(int code)
{
    switch (code) {
    case -10:
        return "Not found WAV file.\n";
    case -11:
        return "Can't open WAV file.\n";
    case -12:
        return "File is not a WAV format.\n";
    case -13:
        return "No infomation in file\n";
    case -14:
        return "No wav data\n";
    default:
        return nullptr;
    }
}
