// audio_bench [SECONDS]: what a recording and a playback of SECONDS (10 by
// default) cost through the audio stream on the simulated handheld, driven
// as the record and play workers drive it: the record loop sleeps in
// dsp_wait until its next whole second, the play loop is paced by dsp_write.
//
// For each it prints the wall time, the CPU time of the driving thread (what
// the recorder itself spends), the CPU time of the whole process (adding the
// simulated card's thread), the loop's passes and the card's overruns.
// Uses HANDHELD_ROOT when set, else a temporary handheld root of its own.
//
// audio_bench --split [SECONDS] [FILE_SECONDS]: a recording of SECONDS (30)
// of the counter microphone in files of FILE_SECONDS (12) of sound, named
// as the recorder names them, while the card stalls 2 s every 10 s. Prints
// the slowest pass of the worker's loop and how long the close took (in a
// stall when SECONDS modulo 10 is under 2, as for 30), beyond its wait, each
// file with whether
// its header is true, whether the files' samples join
// into one unbroken counter run, the frames captured against those on the
// card, and the card's overruns; exits 1 when any of that is wrong.

#include <ftw.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "audio/wavrecord.h"
#include "platform/sys.h"
#include "sim/handheld.h"
#include "sim/sdcard.h"
#include "sim/soundcard.h"
#include "view/recordfiles.h"

namespace {

double ThreadCpu()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

double ProcessCpu()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The record worker's wait: until the next whole second from `start`.
int ToNextSecond(double start)
{
    const double into = Now() - start;
    return static_cast<int>(1000 - static_cast<long>(into * 1000) % 1000);
}

struct Sample {
    double wall;
    double thread_cpu;
    double process_cpu;
    long passes;
    long bytes;
    long overruns;
};

class Meter {
public:
    Meter() : wall_(Now()), thread_(ThreadCpu()), process_(ProcessCpu()) {}
    Sample Done(long passes, long bytes) const
    {
        return Sample{Now() - wall_, ThreadCpu() - thread_,         ProcessCpu() - process_, passes,
                      bytes,         sim::soundcard::Dsp().overruns};
    }

private:
    double wall_;
    double thread_;
    double process_;
};

void Report(const char* what, const Sample& s)
{
    std::fprintf(stderr,
                 "%-9s wall %6.3f s  driving thread CPU %7.4f s (%5.2f %%)  process CPU %7.4f s "
                 "(%5.2f %%)  passes %6ld  bytes %8ld  overruns %ld\n",
                 what, s.wall, s.thread_cpu, 100 * s.thread_cpu / s.wall, s.process_cpu,
                 100 * s.process_cpu / s.wall, s.passes, s.bytes, s.overruns);
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return ::remove(path);
}

uint32_t Le32(const std::string& b, size_t at)
{
    const auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(b[i])); };
    return byte(at) | byte(at + 1) << 8 | byte(at + 2) << 16 | byte(at + 3) << 24;
}

uint16_t SampleAt(const std::string& data, size_t i)
{
    return static_cast<uint16_t>(static_cast<uint8_t>(data[2 * i]) |
                                 static_cast<uint8_t>(data[2 * i + 1]) << 8);
}

// A recording through files of `file_seconds`; 0 when every check held.
int Split(double seconds, double file_seconds)
{
    sim::soundcard::SetMic("counter");
    if (!MakeRecordFolder())
        return 1;
    std::vector<std::string> files(1);
    char name[512];
    NameNewRecording(name, sizeof name);
    files[0] = name;
    CWavRecord wav;
    wav.set_file_limit(static_cast<int64_t>(file_seconds * 88200));
    wav.set_next_path([&files] {
        char next[512];
        NameNewRecording(next, sizeof next);
        files.push_back(next);
        return files.back();
    });
    if (wav.record_open(files[0].c_str()) != 0)
        return 1;
    sim::sdcard::SetStall(2000, 10000);
    int status = 0;
    const double start = Now();
    const double end = start + seconds;
    double slowest_pass = 0;
    while (Now() < end && status == 0) {
        wav.dsp_wait(ToNextSecond(start));
        const double pass = Now();
        status = wav.file_write(wav.dsp_read()) < 0;
        slowest_pass = std::max(slowest_pass, Now() - pass);
    }
    const double close = Now();
    wav.record_close();
    // No pass of the worker waits for the card, and a close in a stall
    // leaves the file to the writer.
    std::fprintf(stderr, "slowest pass %.0f ms; close %.0f ms\n", slowest_pass * 1000,
                 (Now() - close) * 1000);
    // A close in a stall leaves the end of the file to the writer.
    for (int i = 0; i < 1000 && sim::sdcard::OpenFiles() > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    sim::sdcard::SetStall(0, 0);
    const int64_t captured = wav.captured_bytes();
    std::string joined;
    for (const std::string& file : files) {
        std::ifstream in(sys::resolve(file.c_str()), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        const bool true_header = bytes.size() > 44 && Le32(bytes, 4) == bytes.size() - 8 &&
                                 Le32(bytes, 40) == bytes.size() - 44;
        std::fprintf(stderr, "%s  %zu sample bytes  header %s\n", file.c_str(),
                     bytes.size() > 44 ? bytes.size() - 44 : 0, true_header ? "true" : "WRONG");
        status |= !true_header;
        if (bytes.size() > 44)
            joined.append(bytes, 44, std::string::npos);
    }
    size_t frame = 0;
    const size_t frames = joined.size() / 4;
    while (frame < frames && SampleAt(joined, 2 * frame) == SampleAt(joined, 2 * frame + 1) &&
           SampleAt(joined, 2 * frame) == static_cast<uint16_t>(SampleAt(joined, 0) + frame))
        ++frame;
    std::fprintf(stderr,
                 "%zu files; counter run %s (%zu of %zu frames); frames captured %lld, on the "
                 "card %zu; overruns %ld\n",
                 files.size(), frame == frames ? "unbroken" : "BROKEN", frame, frames,
                 static_cast<long long>(captured / 4), frames, sim::soundcard::Dsp().overruns);
    status |= frame != frames || static_cast<int64_t>(joined.size()) != captured ||
              sim::soundcard::Dsp().overruns != 0 || files.size() < 2;
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    const bool split = argc > 1 && std::strcmp(argv[1], "--split") == 0;
    const int first = split ? 2 : 1;
    const double seconds = argc > first ? std::atof(argv[first]) : split ? 30.0 : 10.0;
    const double file_seconds = split && argc > first + 1 ? std::atof(argv[first + 1]) : 12.0;
    if (seconds <= 0 || file_seconds <= 0) {
        std::fprintf(stderr, "usage: audio_bench [SECONDS] | --split [SECONDS] [FILE_SECONDS]\n");
        return 2;
    }
    std::string own_root;
    const char* root = std::getenv("HANDHELD_ROOT");
    if (!root || !*root) {
        char folder[] = "/tmp/audio-bench-XXXXXX";
        if (!mkdtemp(folder)) {
            std::perror("mkdtemp");
            return 1;
        }
        own_root = folder;
        for (const char* sub : {"/mnt", "/mnt/sd", "/sim"})
            ::mkdir((own_root + sub).c_str(), 0755);
        sim::Handheld::Instance().SetRoot(own_root);
    }
    const char* path = "/mnt/sd/bench.wav";
    int status = 0;
    if (split) {
        status = Split(seconds, file_seconds);
    } else {
        CWavRecord wav;
        Meter record;
        if (wav.record_open(path) != 0)
            return 1;
        const double start = Now();
        const double end = start + seconds;
        long passes = 0;
        while (Now() < end) {
            ++passes;
            wav.dsp_wait(ToNextSecond(start));
            if (wav.file_write(wav.dsp_read()) < 0) {
                status = 1;
                break;
            }
        }
        const long recorded = wav.fields().byte_count;
        wav.header_update();
        wav.record_close();
        const Sample recording = record.Done(passes, recorded);

        Meter play;
        if (wav.play_open(path) != 0)
            return 1;
        passes = 0;
        while (wav.dsp_write(wav.file_read()) >= 0)
            ++passes;
        const long played = wav.fields().byte_count;
        wav.play_close();
        const Sample playback = play.Done(passes, played);

        Report("recording", recording);
        Report("playback", playback);
    }
    if (!own_root.empty())
        nftw(own_root.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    return status;
}
