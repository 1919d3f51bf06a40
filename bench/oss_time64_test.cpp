// Run under the emulator with liboss_time64.so and then libfake_oss_ioctl.so
// preloaded, as pulse_capture.sh --arch preloads the shim and the emulation:
// OSS requests must reach the preloaded ioctl, and the others the C
// library's 64-bit one. Built with 64-bit time, so ioctl here is
// __ioctl_time64.

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

int main()
{
    constexpr int kMark = 7341;  // what fake_oss_ioctl answers
    struct Case {
        const char* name;
        unsigned long request;
        bool to_emulation;
    };
    const Case cases[] = {
        {"SNDCTL_DSP_SPEED", 0xC0045002, true},
        {"SNDCTL_DSP_RESET", 0x00005000, true},
        {"SNDCTL_DSP_SETFRAGMENT", 0xC004500A, true},
        {"SOUND_MIXER_WRITE_MIC", 0xC0044D07, true},
        {"TCGETS", TCGETS, false},
        {"FIONREAD", FIONREAD, false},
    };
    int fds[2];
    if (pipe(fds) != 0)
        return 2;
    int passed = 0, failed = 0;
    for (const Case& c : cases) {
        int arg = 0;
        const bool to_emulation = ioctl(fds[0], c.request, &arg) == kMark;
        if (to_emulation == c.to_emulation) {
            ++passed;
        } else {
            ++failed;
            std::printf("%s went to %s\n", c.name,
                        to_emulation ? "the emulation" : "the C library");
        }
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
