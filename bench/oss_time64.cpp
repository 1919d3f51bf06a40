// Preloaded before PulseAudio's OSS emulation into a 32-bit ARM program by
// bench/pulse_capture.sh --arch. The program is built with 64-bit time, so
// its C library sends every ioctl to __ioctl_time64, which the emulation of
// Debian 12 does not wrap: it would never see a format, rate or fragment
// request, and would go on capturing in its opening 8-bit mono at 8000 Hz
// while the file declares 16-bit stereo at 22050 Hz. OSS requests carry no
// time, so the ioctl the emulation wraps takes them unchanged; all others
// keep the 64-bit one.

#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>

namespace {

using Ioctl = int (*)(int, unsigned long, void*);

// Both request families the recorder sends: 'P' the DSP's, 'M' the mixer's.
bool IsOss(unsigned long request)
{
    const unsigned long type = (request >> 8) & 0xff;
    return type == 'P' || type == 'M';
}

}  // namespace

extern "C" int __ioctl_time64(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void* const arg = va_arg(args, void*);
    va_end(args);
    static const Ioctl plain = reinterpret_cast<Ioctl>(dlsym(RTLD_NEXT, "ioctl"));
    static const Ioctl time64 = reinterpret_cast<Ioctl>(dlsym(RTLD_NEXT, "__ioctl_time64"));
    const Ioctl next = IsOss(request) ? plain : time64;
    if (!next) {
        errno = ENOSYS;
        return -1;
    }
    return next(fd, request, arg);
}
