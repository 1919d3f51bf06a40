#include "audio/sounddevice.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "app/logmessage.h"
#include "platform/oss.h"
#include "platform/sys.h"

namespace {

constexpr int kMinBlock = 1024;
constexpr int kMaxLevel = 120;

}  // namespace

SoundDevice::~SoundDevice()
{
    release();
}

SoundDevice::SoundDevice(SoundDevice&& other) noexcept
    : dsp_fd_(std::exchange(other.dsp_fd_, -1)), mixer_fd_(std::exchange(other.mixer_fd_, -1))
{
}

SoundDevice& SoundDevice::operator=(SoundDevice&& other) noexcept
{
    if (this != &other) {
        release();
        dsp_fd_ = std::exchange(other.dsp_fd_, -1);
        mixer_fd_ = std::exchange(other.mixer_fd_, -1);
    }
    return *this;
}

int SoundDevice::soundcard_open(int flags)
{
    // A second open would lose the descriptor held now.
    if (dsp_fd_ >= 0)
        return -5;
    // Checked for recording too, although the DSP is then opened read-only.
    if (sys::access("/dev/dsp", W_OK) != 0)
        return -7;
    dsp_fd_ = sys::open("/dev/dsp", flags | O_CLOEXEC);
    if (dsp_fd_ < 0) {
        dsp_fd_ = -1;
        return -5;
    }
    // Without the mixer the DSP is of no use, and nobody else would close it.
    const int code = sys::access("/dev/mixer", W_OK) != 0 ? -8 : 0;
    if (code == 0)
        mixer_fd_ = sys::open("/dev/mixer", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (code != 0 || mixer_fd_ < 0) {
        mixer_fd_ = -1;
        sys::close(dsp_fd_);
        dsp_fd_ = -1;
        return code != 0 ? code : -6;
    }
    return dsp_fd_;
}

void SoundDevice::soundcard_close()
{
    release();
    LogMessage("wavrecord.cpp", __LINE__, "soundcard_close()\n");
}

void SoundDevice::release()
{
    if (dsp_fd_ >= 0)
        sys::close(dsp_fd_);
    if (mixer_fd_ >= 0)
        sys::close(mixer_fd_);
    dsp_fd_ = mixer_fd_ = -1;
}

const char* SoundDevice::message(int code)
{
    switch (code) {
    case -5:
        return "Can't open the soundcard.\n";
    case -6:
        return "Can't open the mixer.\n";
    case -7:
        return "You don't have permission to access the soundcard.\n";
    case -8:
        return "You don't have permission to access the mixer.\n";
    default:
        return nullptr;
    }
}

int SoundDevice::mixer_write(unsigned long request, int left, int right)
{
    int value = std::min(left, kMaxLevel) + std::min(right, kMaxLevel) * 256;
    return sys::ioctl(mixer_fd_, request, &value);
}

int SoundDevice::SetDsp(unsigned long request, int value)
{
    if (dsp_fd_ < 0)
        return -1;
    int arg = value;
    return sys::ioctl(dsp_fd_, request, &arg) < 0 ? -1 : arg;
}

int SoundDevice::dsp_set_stereo(int on)
{
    return SetDsp(oss::kDspStereo, on);
}

int SoundDevice::dsp_set_format(int afmt)
{
    return SetDsp(oss::kDspSetFmt, afmt);
}

int SoundDevice::dsp_set_speed(int hz)
{
    return SetDsp(oss::kDspSpeed, hz);
}

int SoundDevice::dsp_set_fragment(int request)
{
    return SetDsp(oss::kDspSetFragment, request);
}

int SoundDevice::dsp_get_blksize()
{
    return BlockSizeOf(dsp_fd_);
}

int SoundDevice::BlockSizeOf(int dsp_fd)
{
    int size = kMinBlock;
    if (dsp_fd < 0 || sys::ioctl(dsp_fd, oss::kDspGetBlkSize, &size) < 0)
        return kMinBlock;
    return std::max(size, kMinBlock);
}

int SoundDevice::dsp_reset()
{
    return dsp_fd_ >= 0 && sys::ioctl(dsp_fd_, oss::kDspReset, nullptr) == 0 ? 0 : -1;
}

int SoundDevice::dsp_sync()
{
    return dsp_fd_ >= 0 && sys::ioctl(dsp_fd_, oss::kDspSync, nullptr) == 0 ? 0 : -1;
}

int SoundDevice::set_up_recording(int rate)
{
    // Before the format: OSS fixes the fragments when the format is set.
    dsp_set_fragment(oss::kFragmentRequest);
    mixer_write(oss::kMixerWriteAltPcm, 120, 120);
    mixer_write(oss::kMixerWriteMic, 80, 80);
    mixer_write(oss::kMixerWriteIGain, 60, 60);
    // What the card answers is what it records: a file that declared 16-bit
    // stereo over anything else would be noise, so such a card records
    // nothing, and a rate of its own is declared as it is.
    const bool stereo = dsp_set_stereo(1) == 1;
    const bool s16 = dsp_set_format(oss::kAfmtS16Le) == oss::kAfmtS16Le;
    const int got = dsp_set_speed(rate);
    if (!stereo || !s16 || got <= 0)
        return -1;
    // A sound server's emulation keeps what it captured before the settings
    // took hold, in the open's 8-bit mono: it would start the recording
    // with noise and shift every sample after it.
    dsp_reset();
    return got;
}

void SoundDevice::set_up_playback()
{
    mixer_write(oss::kMixerWriteAltPcm, 100, 100);
    mixer_write(oss::kMixerWriteMic, 80, 80);
    mixer_write(oss::kMixerWriteIGain, 60, 60);
}
