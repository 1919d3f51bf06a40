#pragma once
// The PC's own sound output, for what the simulated speaker plays: through
// SDL's audio, when the recorder has started SDL's audio with a driver that
// reaches a sound output (not "dummy"). Called by the simulated sound card's
// playback thread; safe from any thread.

#include <cstddef>

namespace sim {
namespace host_audio {

// Plays these samples after those already queued; opens (or reopens, when
// the format changes) the PC's output on the way. Does nothing where there
// is no output.
void Play(const unsigned char* data, size_t size, int rate, int channels, int bits);
// Closes the output; what is still queued is dropped.
void Stop();

}  // namespace host_audio
}  // namespace sim
