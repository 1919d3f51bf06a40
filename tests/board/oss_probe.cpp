// Makes the requests the recorder makes of the sound card, in its order, and
// prints what the card answers to each, "request: answer" a line. Built
// twice from this one source: on the simulated handheld, and statically for
// the board, where the Linux kernel's OSS emulation answers. The board's
// tests hold the two lists to each other, so the simulator cannot go on
// telling something the kernel does not.
//
// Run on the board with nothing else on the loopback card: a capture then
// hears silence, and what is played is heard by nobody.

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/oss.h"
#include "platform/sys.h"

namespace {

void Say(const char* request, const std::string& answer)
{
    std::printf("oss: %s: %s\n", request, answer.c_str());
}

std::string Result(int result)
{
    return result < 0 ? std::string("-1 ") + strerrorname_np(errno) : std::to_string(result);
}

// A request with a value in and a value out, as the recorder makes them.
void Ask(int fd, const char* name, unsigned long request, int value)
{
    int arg = value;
    const int result = sys::ioctl(fd, request, &arg);
    Say(name, result < 0 ? Result(result) : std::to_string(arg));
}

int ODelay(int fd)
{
    int left = -1;
    return sys::ioctl(fd, oss::kDspGetODelay, &left) < 0 ? -1 : left;
}

// Whether poll says the device is ready for this, at once.
std::string Ready(int fd, short events)
{
    struct pollfd p = {fd, events, 0};
    const int n = sys::poll(&p, 1, 0);
    return n < 0 ? Result(n) : (p.revents & events) ? "ready" : "not ready";
}

void Record()
{
    const int fd = sys::open("/dev/dsp", O_RDONLY | O_NONBLOCK);
    Say("record open", fd < 0 ? Result(fd) : "ok");
    if (fd < 0)
        return;
    Ask(fd, "record SETFRAGMENT 128 x 4 KB", oss::kDspSetFragment, oss::kFragmentRequest);
    Ask(fd, "record STEREO 1", oss::kDspStereo, 1);
    Ask(fd, "record SETFMT S16_LE", oss::kDspSetFmt, oss::kAfmtS16Le);
    Ask(fd, "record SPEED 22050", oss::kDspSpeed, 22050);
    Ask(fd, "record GETBLKSIZE", oss::kDspGetBlkSize, 0);
    Say("record RESET", Result(sys::ioctl(fd, oss::kDspReset, nullptr)));
    std::vector<char> block(65536);
    Say("record read with nothing captured",
        Result(static_cast<int>(sys::read(fd, block.data(), 4096))));
    // The first read started the capture: a poll that waits long enough
    // sees sound, and a read then takes what there is, at most a block.
    struct pollfd p = {fd, POLLIN, 0};
    const int ready = sys::poll(&p, 1, 2000);
    Say("record poll within 2 s", ready < 0              ? Result(ready)
                                  : (p.revents & POLLIN) ? "ready"
                                                         : "not ready");
    const ssize_t got = sys::read(fd, block.data(), block.size());
    Say("record read when ready, whole frames", got < 0 ? Result(-1) : got % 4 == 0 ? "yes" : "no");
    Say("record close", Result(sys::close(fd)));
}

void Play()
{
    const int fd = sys::open("/dev/dsp", O_WRONLY | O_NONBLOCK);
    Say("play open", fd < 0 ? Result(fd) : "ok");
    if (fd < 0)
        return;
    Ask(fd, "play GETBLKSIZE before the format", oss::kDspGetBlkSize, 0);
    Ask(fd, "play STEREO 1", oss::kDspStereo, 1);
    Ask(fd, "play SETFMT S16_LE", oss::kDspSetFmt, oss::kAfmtS16Le);
    Ask(fd, "play SPEED 22050", oss::kDspSpeed, 22050);
    int block = 0;
    sys::ioctl(fd, oss::kDspGetBlkSize, &block);
    Say("play GETBLKSIZE after the format", std::to_string(block));
    Say("play poll for room", Ready(fd, POLLOUT));
    std::vector<char> silence(static_cast<size_t>(block) * 2, 0);
    // Part of a fragment: is it counted, and played?
    const int part = block / 2 & ~3;
    const ssize_t taken = sys::write(fd, silence.data(), static_cast<size_t>(part));
    Say("play write half a fragment",
        taken == part ? "all of it" : Result(static_cast<int>(taken)));
    Say("play GETODELAY after half a fragment", ODelay(fd) == 0 ? "0" : "more than 0");
    // One and a half fragments: only the whole one is counted.
    sys::write(fd, silence.data(), static_cast<size_t>(block));
    const int left = ODelay(fd);
    Say("play GETODELAY after one and a half fragments", left < 0       ? Result(-1)
                                                         : left > block ? "more than a fragment"
                                                         : left > 0     ? "a fragment at most"
                                                                        : "0");
    Say("play SYNC", Result(sys::ioctl(fd, oss::kDspSync, nullptr)));
    Say("play GETODELAY after SYNC", std::to_string(ODelay(fd)));
    sys::write(fd, silence.data(), static_cast<size_t>(block));
    Say("play RESET", Result(sys::ioctl(fd, oss::kDspReset, nullptr)));
    Say("play GETODELAY after RESET", std::to_string(ODelay(fd)));
    Say("play close", Result(sys::close(fd)));
}

void Mixer()
{
    const int fd = sys::open("/dev/mixer", O_RDWR | O_NONBLOCK);
    Say("mixer open", fd < 0 ? Result(fd) : "ok");
    if (fd < 0)
        return;
    // The recorder asks for 120, more than the scale's 100.
    Ask(fd, "mixer WRITE pcm2 120/120", oss::kMixerWriteAltPcm, 120 + 120 * 256);
    Ask(fd, "mixer WRITE mic 80/80", oss::kMixerWriteMic, 80 + 80 * 256);
    Ask(fd, "mixer WRITE igain 60/60", oss::kMixerWriteIGain, 60 + 60 * 256);
    Say("mixer close", Result(sys::close(fd)));
}

}  // namespace

int main()
{
    Record();
    Play();
    Mixer();
    return 0;
}
