// capture_bench SECONDS FILE: records SECONDS of sound through the audio
// stream into FILE, driven as the record worker drives it but looking every
// 20 ms rather than every second, to time the first sound, and prints how
// much of that time the file holds, and how much the capture thread took
// from the DSP (less than the file: the DSP gave too little; more: the
// writer lost some). Linked with the handheld backend, so
// /dev/dsp is the PC's own: bench/pulse_capture.sh runs it against a sound
// server's OSS emulation.

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "audio/wavrecord.h"

int main(int argc, char** argv)
{
    if (argc != 3 || std::atof(argv[1]) <= 0) {
        std::fprintf(stderr, "usage: capture_bench SECONDS FILE\n");
        return 2;
    }
    const double seconds = std::atof(argv[1]);
    using Clock = std::chrono::steady_clock;
    CWavRecord wav;
    const Clock::time_point start = Clock::now();
    if (wav.record_open(argv[2]) != 0)
        return 1;
    long passes = 0;
    double first = -1;
    while (std::chrono::duration<double>(Clock::now() - start).count() < seconds) {
        ++passes;
        wav.dsp_wait(20);
        const int n = wav.dsp_read();
        if (n > 0 && first < 0)
            first = std::chrono::duration<double>(Clock::now() - start).count();
        if (wav.file_write(n) < 0)
            return 1;
    }
    wav.header_update();
    const double recorded = std::chrono::duration<double>(Clock::now() - start).count();
    wav.record_close();
    // Only the next record_open sets it back.
    const long captured = static_cast<long>(wav.captured_bytes());
    std::FILE* file = std::fopen(argv[2], "rb");
    if (!file)
        return 1;
    std::fseek(file, 0, SEEK_END);
    const long bytes = std::ftell(file) - 44;
    std::fclose(file);
    std::printf(
        "recorded %.2f s: the file holds %.2f s of sound (%.1f %%), the capture thread took "
        "%.2f s, first sound after %.3f s, %ld passes\n",
        recorded, bytes / 88200.0, 100 * bytes / 88200.0 / recorded, captured / 88200.0, first,
        passes);
    return 0;
}
