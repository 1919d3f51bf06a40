#pragma once
// The handheld's OSS sound devices as the recorder drives them: the request
// words (those of the handheld's ARM kernel, the same as a PC's), the sample
// formats and the fragments the recorder asks for. The program and the
// simulated card both take their numbers from here, so they cannot drift.

namespace oss {

// DSP requests.
constexpr unsigned long kDspReset = 0x00005000;
constexpr unsigned long kDspSync = 0x00005001;
constexpr unsigned long kDspSpeed = 0xC0045002;
constexpr unsigned long kDspStereo = 0xC0045003;
constexpr unsigned long kDspGetBlkSize = 0xC0045004;
constexpr unsigned long kDspSetFmt = 0xC0045005;
constexpr unsigned long kDspSetFragment = 0xC004500A;
// Bytes written for playback and not yet played.
constexpr unsigned long kDspGetODelay = 0x80045017;

// Mixer requests: MIXER_WRITE of a channel, whose number is the low byte.
constexpr unsigned long kMixerWriteMic = 0xC0044D07;
constexpr unsigned long kMixerWriteAltPcm = 0xC0044D0A;
constexpr unsigned long kMixerWriteIGain = 0xC0044D0C;
constexpr int MixerChannel(unsigned long request)
{
    return static_cast<int>(request & 0xFF);
}

// Sample formats (AFMT_ codes).
constexpr int kAfmtU8 = 8;
constexpr int kAfmtS16Le = 16;

// Asked of the DSP before anything else when recording: 128 fragments of
// 4 KB (count in the high half, log2 of the size in the low). A sound
// server's OSS emulation otherwise keeps a buffer of a fragment or two and
// drops nearly everything it captures; a driver takes it as a hint.
constexpr int kFragmentRequest = 0x0080000C;

}  // namespace oss
