#pragma once
// The simulated sound card behind /dev/dsp and /dev/mixer, as the platform
// calls reach it. The descriptors it hands out are real ones, so read, write,
// poll and close on them are the C library's own; only opening, access
// checks, ioctl and the release go through here.
//
// The DSP descriptor is one end of a socket pair; a thread of the card works
// the other end at the real pace for as long as the descriptor is open:
// - capture (opened O_RDONLY): every fragment's worth of time one fragment
//   of the microphone arrives; a reader that falls behind by more than the
//   card's buffer (about 0.7 s at 22050 Hz stereo 16-bit) loses the oldest
//   fragments, which the card counts as overruns. Changing rate, channels or
//   format drops what was captured with the old ones and restarts.
// - playback (opened O_WRONLY): the card plays what is written at the rate,
//   channels and format set; a blocking write returns once the data fits
//   the buffer, SNDCTL_DSP_SYNC once everything written has been played;
//   SNDCTL_DSP_RESET drops what waits and cuts the fragment being played
//   short. The card plays whole fragments: a part of one waits, unplayed
//   and not counted by GETODELAY, until it is whole or a SYNC or the close
//   plays it out, as the Linux kernel's OSS does. The close plays out what
//   the card holds first, as a driver's and a sound server's emulation's do.
//   What is played goes to $HANDHELD_ROOT/sim/speaker.wav, a complete WAV
//   file at every moment (started afresh by each playback open), without
//   the gaps between blocks.
// The card is half duplex and has one DSP: O_RDWR is refused (EINVAL), and
// a second open while one is held fails with EBUSY, like a busy device.
// Supported: SPEED (4000..48000 Hz), STEREO (answers channels - 1),
// CHANNELS (1 or 2), SETFMT (AFMT_U8, AFMT_S16_LE; anything else falls back
// to AFMT_U8; AFMT_QUERY answers the present one), GETFMTS, GETBLKSIZE (the
// fragment size), SETFRAGMENT (see SetEmulated), GETODELAY, SYNC and RESET. The mixer remembers the
// value last written to each channel (MIXER_WRITE) and answers it, each side at most 100, to
// MIXER_WRITE and MIXER_READ. Every function here is safe from any thread.

#include <sys/types.h>

#include <string>

namespace sim {
namespace soundcard {

enum class Node { kDsp, kMixer };

// access() of the device node: 0, or -1 with errno.
int Access(Node node, int mode);
// Opens the device; a descriptor, or -1 with errno.
int Open(Node node, int flags);
// ioctl on a descriptor that Open returned.
int Ioctl(Node node, int fd, unsigned long request, void* arg);
// Releases a descriptor that Open returned (the descriptor is closed). The
// card's thread for it has stopped when this returns.
int Close(Node node, int fd);

// What a device node is like: there and usable, missing (ENOENT), without
// write permission (access(W_OK) and opens for writing fail with EACCES),
// or held by another program (opens fail with EBUSY). Descriptors already
// open keep working.
enum class NodeState { kOk, kAbsent, kReadOnly, kBusy };
void SetNodeState(Node node, NodeState state);

// Faults of the DSP descriptor open now (none when it is closed): from now
// on every read, write and ioctl on it fails with EIO and poll reports
// POLLERR on it; or every such call and poll on it blocks until the hang is
// lifted. A close still lets go, and a descriptor opened later works.
void FailOpenDsp();
void HangOpenDsp(bool hang);
// For the platform calls, before a read, write, ioctl or poll on a DSP
// descriptor: waits out a hang, then 0, or -1 with errno EIO when the
// descriptor has failed (EBADF when it was closed meanwhile).
int Gate(int fd);

// write() on a DSP descriptor, as the C library's: a blocking one waits for
// room as poll tells it, and each piece is told to the card's thread as it
// lands.
ssize_t Write(int fd, const void* buf, size_t count);

// The application read this many bytes from a DSP descriptor (counted only
// while tracing is on).
void CountRead(int fd, long bytes);
// While a capture is open and tracing is on (see TraceLine), the line
// "capture: <n> bytes read". Its close says "capture closed: <n> bytes read,
// <m> dropped": m bytes the card had to drop, as nobody read them in time.
void TraceCapture();

// The fragment size in bytes that GETBLKSIZE answers and the card moves
// data in; 0 restores the default of 4096. Applies from the next open.
void SetBlockSize(int bytes);

// A playback device that hangs: it takes nothing more from its buffer, so a
// blocking write waits once the buffer is full, and SNDCTL_DSP_SYNC does not
// return, until this is cleared or the DSP is closed (a close does not wait
// for it to play out).
void SetPlaybackHung(bool hung);

// What kind of OSS implementation answers, from the next open on: a native
// driver (the default), or a sound server's OSS emulation as it behaves on
// a PC: GETBLKSIZE answers 0 until SETFRAGMENT asked for fragments; at the
// open it hands over a quarter second of sound in the opening format
// (8-bit mono, 8000 Hz), which later settings do not throw away, only RESET
// does; capture arrives in lumps every quarter second, the first after half
// a second, so poll seldom says there is something and reads come out
// short; the emulation keeps two fragments of 1 KB for the reader, dropping
// the rest of each lump, unless SETFRAGMENT asked for more. A native driver
// keeps its own fragments whatever SETFRAGMENT asks.
void SetEmulated(bool emulated);

// What the DSP can do, from the next open on: 16-bit samples or only
// 8-bit ones, stereo or only mono, any rate or one fixed rate (0: any), and
// whether it takes the format requests at all (a layer between program and
// device that does not see them fails them with ENOTTY). The default is a
// card that takes every setting the recorder asks for.
struct Abilities {
    bool s16 = true;
    bool stereo = true;
    int fixed_rate = 0;
    bool takes_settings = true;
    // Answers GETODELAY (how much of the playback is left to play).
    bool tells_delay = true;
};
void SetAbilities(const Abilities& abilities);

// What the microphone hears from the next open on: "tone", "counter" or the
// path of a WAV file on the PC (looped). Until this is called, HANDHELD_MIC
// decides, and "tone" without it.
void SetMic(const std::string& source);

// The DSP as it is, or as it was when last closed.
struct DspStatus {
    bool open = false;
    bool capture = false;
    int rate = 8000;
    int channels = 1;
    int format = 8;  // AFMT_ code
    int block_size = 4096;
    long overruns = 0;     // capture fragments lost since the DSP was opened
    long long moved = 0;   // bytes captured into the buffer, or played
    bool syncing = false;  // a SNDCTL_DSP_SYNC is waiting for the playback
    bool full = false;     // the playback buffer has no room: a write waits
};
DspStatus Dsp();

// The value last written to a mixer channel (a SOUND_MIXER_ number), -1
// when none was.
int MixerLevel(int channel);

// The host path of the speaker's WAV file.
std::string SpeakerPath();

}  // namespace soundcard
}  // namespace sim
