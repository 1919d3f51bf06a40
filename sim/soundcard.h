#pragma once
// The simulated sound card behind /dev/dsp and /dev/mixer, as the platform
// calls reach it. The descriptors it hands out are real ones, so read, write,
// poll and close on them are the C library's own; only opening, access
// checks, ioctl and the release go through here.

namespace sim {
namespace soundcard {

enum class Node { kDsp, kMixer };

// access() of the device node: 0, or -1 with errno.
int Access(Node node, int mode);
// Opens the device; a descriptor, or -1 with errno.
int Open(Node node, int flags);
// ioctl on a descriptor that Open returned.
int Ioctl(Node node, int fd, unsigned long request, void* arg);
// Releases a descriptor that Open returned (the descriptor is closed).
int Close(Node node, int fd);

}  // namespace soundcard
}  // namespace sim
