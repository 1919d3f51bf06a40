// Takes the place of PulseAudio's OSS emulation in oss_time64_test: the
// ioctl it wraps, answering every request with a mark of its own.

extern "C" int ioctl(int, unsigned long, ...)
{
    return 7341;
}
