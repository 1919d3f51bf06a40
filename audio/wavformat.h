#pragma once
// The WAV file format as the recorder writes and reads it: the canonical
// 44-byte header it writes at the start of every recording, and the tag
// search by which it finds the format and the samples of a file to play.
// Values only: no shared buffer, no lock, no I/O, safe from any thread; the
// simulated speaker and microphone and the tests use it as the recorder does.

#include <array>
#include <cstddef>
#include <cstdint>

constexpr int kWavHeaderBytes = 44;
// A file to play is searched for its tags in this many bytes from its start.
constexpr int kWavWindowBytes = 1024;

// The 44 bytes of a canonical RIFF/WAVE PCM header, little-endian: "RIFF",
// data size + 36, "WAVE", "fmt ", 16, format 1, channels, rate, byte rate,
// block align, bits, "data", data size. Bits are 16 or else 8; the block
// align is channels x bytes per sample in 16 bits, and every size is 32-bit
// unsigned arithmetic.
struct WavHeader {
    std::array<unsigned char, kWavHeaderBytes> bytes;

    // A header declaring `data_bytes` of sound.
    static WavHeader ForBytes(int channels, uint32_t sample_rate, int bits, uint32_t data_bytes);
    // A header declaring `frames` whole frames.
    static WavHeader ForFrames(int channels, uint32_t sample_rate, int bits, uint32_t frames);
    // Bytes of one frame of that format, as the header declares it.
    static uint16_t BlockAlign(int channels, int bits);
};

// What the tag search finds in the start of a file: the fields as far as
// their tags were found, whatever the code.
struct WavFormat {
    // 0, or the reader's code: -12 no "RIFF" or "WAVE", -13 no "fmt ", -14
    // no "data" or a size of 0 or less (a signed 32-bit field).
    int code = -12;
    uint16_t format_tag = 0;
    uint16_t channels = 0;
    uint32_t sample_rate = 0;
    uint16_t bits = 0;
    int32_t data_size = 0;
    int data_offset = 0;  // where the samples begin; 0 without "data"
};

// Searches the first kWavWindowBytes of `bytes` (or all `size` of them, if
// fewer) for the first occurrence of each tag, in any order, inside any
// chunk. A tag counts only if the fields read after it (24 bytes from
// "fmt ", 8 from "data") were read too.
WavFormat wav_parse(const unsigned char* bytes, size_t size);

// The text a player logs for a reader's code, -10 (no such file) to -14;
// null for others.
const char* wav_message(int code);
