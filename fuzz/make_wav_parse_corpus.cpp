// Writes the seed files of the WAV reader's fuzz target into the folder
// given (fuzz/corpus/wav_parse in the repository): canonical files, files
// with the tags moved, cut or lied about.
//
//   make-wav-parse-corpus FOLDER

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "audio/wavformat.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Header(int channels, uint32_t rate, int bits, uint32_t declared)
{
    const WavHeader h = WavHeader::ForBytes(channels, rate, bits, declared);
    return Bytes(h.bytes.begin(), h.bytes.end());
}

// A canonical file of `data`, declaring `declared` bytes of it; `extra`
// goes between the fmt and the data chunk.
Bytes Wav(int channels, uint32_t rate, int bits, const Bytes& data, const Bytes& extra = {},
          long long declared = -1)
{
    Bytes b =
        Header(channels, rate, bits, static_cast<uint32_t>(declared >= 0 ? declared : data.size()));
    b.insert(b.begin() + 36, extra.begin(), extra.end());
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

Bytes Repeat(const Bytes& piece, size_t times)
{
    Bytes b;
    for (size_t i = 0; i < times; ++i)
        b.insert(b.end(), piece.begin(), piece.end());
    return b;
}

Bytes Text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const Bytes silence(64, 0);
    Bytes ramp;
    for (int i = 0; i < 256; ++i)
        ramp.push_back(static_cast<unsigned char>(i));
    const Bytes canonical = Wav(2, 22050, 16, silence);
    const Bytes list = Text(std::string("LIST\x12\0\0\0INFOISFT\x06\0\0\0rec\0\0\0", 26));
    // The tags the reader needs, with "fmt " so near the end of its window
    // that the fields after it were never read.
    Bytes tags_at_end(canonical.begin(), canonical.begin() + 12);
    tags_at_end.insert(tags_at_end.end(), 984, 0xAA);
    tags_at_end.insert(tags_at_end.end(), canonical.begin() + 12, canonical.begin() + 24);
    const struct {
        const char* name;
        Bytes content;
    } seeds[] = {
        {"canonical.wav", canonical},
        {"mono8.wav", Wav(1, 8000, 8, ramp)},
        {"six_channels.wav", Wav(6, 48000, 16, Repeat({1, 2}, 60))},
        {"extra_chunk.wav", Wav(2, 22050, 16, silence, list)},
        {"huge_size.wav", Wav(2, 22050, 16, silence, {}, 0x80000000LL)},
        {"zero_size.wav", Wav(2, 22050, 16, silence, {}, 0)},
        {"no_data.wav", Bytes(canonical.begin(), canonical.begin() + 36)},
        {"tags_at_end.wav", tags_at_end},
        {"short.wav", Bytes(canonical.begin(), canonical.begin() + 40)},
    };
    for (const auto& seed : seeds) {
        const std::string path = std::string(argv[1]) + "/" + seed.name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(seed.content.data()),
                  static_cast<std::streamsize>(seed.content.size()));
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
