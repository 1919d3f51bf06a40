// Feeds arbitrary files to the WAV reader of the audio stream, on the
// simulated handheld. Beyond the sanitizers' findings it checks what the
// reader promises: a code it knows, or a descriptor positioned at a sample
// offset inside what it read, and no descriptor left behind on failure.

#include <fcntl.h>
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "audio/wavrecord.h"
#include "platform/sys.h"
#include "sim/handheld.h"

namespace {

const char kPath[] = "/mnt/sd/fuzz.wav";
char g_root[] = "/tmp/wav-parse-fuzz-XXXXXX";

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return ::remove(path);
}

void RemoveRoot()
{
    nftw(g_root, RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

// One stream for the whole run, as the recorder has one.
CWavRecord& Stream()
{
    static CWavRecord* wav = new CWavRecord;
    return *wav;
}

int LowestFreeDescriptor()
{
    const int fd = ::dup(0);
    ::close(fd);
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (!mkdtemp(g_root))
        abort();
    atexit(RemoveRoot);
    const std::string root = g_root;
    for (const char* sub : {"/mnt", "/mnt/sd", "/sim"})
        ::mkdir((root + sub).c_str(), 0755);
    setenv("HANDHELD_ROOT", g_root, 1);
    sim::Handheld::Instance().SetRoot(g_root);
    // The reader's failure lines would drown the fuzzer's own output.
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int out = sys::open(kPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0)
        abort();
    if (size && sys::write(out, data, size) != static_cast<ssize_t>(size))
        abort();
    sys::close(out);
    CWavRecord& wav = Stream();
    const int lowest_free = LowestFreeDescriptor();

    const int fd = wav.wav_parse(kPath);
    if (fd >= 0) {
        const int offset = wav.fields().data_offset;
        const long read_bytes = size < 1024 ? static_cast<long>(size) : 1024;
        // The data tag and its size field lie within what was read.
        if (offset < 8 || offset > read_bytes)
            abort();
        if (sys::lseek(fd, 0, SEEK_CUR) != offset)
            abort();
        sys::close(fd);
    } else if (fd < -14 || fd > -12) {
        // The file exists and opens: only the content codes may come back.
        abort();
    }
    if (LowestFreeDescriptor() != lowest_free)
        abort();
    return 0;
}
