#pragma once
// The sound card as the audio stream uses it: /dev/dsp and /dev/mixer opened
// for one recording or one playback, the mixer levels, the DSP's settings and
// block size, and the close. Every request's result goes back to the caller.
// No lock: the stream that owns it serialises its calls.

#include <sys/types.h>

#include <cstddef>

class SoundDevice {
public:
    SoundDevice() = default;
    // Closes what is still open, without the close's log line.
    ~SoundDevice();
    SoundDevice(SoundDevice&& other) noexcept;
    SoundDevice& operator=(SoundDevice&& other) noexcept;
    SoundDevice(const SoundDevice&) = delete;
    SoundDevice& operator=(const SoundDevice&) = delete;

    // Opens the DSP with `flags` and the mixer: the DSP's descriptor, or -7
    // (no write permission on /dev/dsp, checked for recording too), -5 (it
    // cannot be opened, or this device holds it already), -8, -6 (the same
    // for /dev/mixer; the DSP is closed again).
    int soundcard_open(int flags);
    // Closes both and logs "soundcard_close()", also when nothing was open.
    void soundcard_close();
    // Closes both without a word: for devices a close handed to another
    // thread to let go of.
    void release();
    // The text the stream logs for a code of soundcard_open; null for others.
    static const char* message(int code);

    // One mixer level, each side capped at 120: the ioctl's result.
    int mixer_write(unsigned long request, int left, int right);
    // One DSP setting: the value the device answered, or -1 when it refused
    // the request or the DSP is closed.
    int dsp_set_stereo(int on);
    int dsp_set_format(int afmt);
    int dsp_set_speed(int hz);
    int dsp_set_fragment(int request);
    // The DSP's block size, never below 1024 (1024 when the DSP is closed
    // or does not answer).
    int dsp_get_blksize();
    // The same of a DSP's descriptor, for a thread that holds only that.
    static int BlockSizeOf(int dsp_fd);
    // Drops what the DSP holds: 0, or -1 when it refused or is closed.
    int dsp_reset();
    // Waits until what was written has been played: 0, or -1.
    int dsp_sync();

    // The recording set-up: mixer levels, 16-bit stereo at `rate`. The rate
    // the card records at; -1 when it does not record 16-bit stereo, or
    // does not take the settings at all.
    int set_up_recording(int rate);
    // The playback mixer levels.
    void set_up_playback();

    int dsp_fd() const { return dsp_fd_; }
    int mixer_fd() const { return mixer_fd_; }

private:
    int SetDsp(unsigned long request, int value);
    int dsp_fd_ = -1;
    int mixer_fd_ = -1;
};
