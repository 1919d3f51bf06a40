// audio_bench [SECONDS]: what a recording and a playback of SECONDS (10 by
// default) cost through the audio stream on the simulated handheld, driven
// as the record and play workers drive it: the record loop sleeps in
// dsp_wait until the card has a block, the play loop is paced by dsp_write.
//
// For each it prints the wall time, the CPU time of the driving thread (what
// the recorder itself spends), the CPU time of the whole process (adding the
// simulated card's thread), the loop's passes and the card's overruns.
// Uses HANDHELD_ROOT when set, else a temporary handheld root of its own.

#include <ftw.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "audio/wavrecord.h"
#include "sim/handheld.h"
#include "sim/soundcard.h"

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

}  // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: audio_bench [SECONDS]\n");
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
    {
        CWavRecord wav;
        Meter record;
        if (wav.record_open(path) != 0)
            return 1;
        const double end = Now() + seconds;
        long passes = 0;
        while (Now() < end) {
            ++passes;
            wav.dsp_wait(50);
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
