#pragma once
// What the program costs the handheld's devices: the platform calls it made
// on them (poll, read, write, lseek, ioctl, fdatasync) on the DSP, the
// mixer, the GPIO driver and the SD card's files, counted since the process
// began. A state of the recorder makes them at a pace its work sets (blocks
// of sound, the status tick), whatever the machine's speed; a thread that
// spins makes them as fast as the machine goes. Safe from any thread.

#include <cstdint>

namespace sim {
namespace calls {

enum class On { kDsp, kMixer, kGpio, kCard };

struct Counts {
    uint64_t dsp = 0;
    uint64_t mixer = 0;
    uint64_t gpio = 0;
    uint64_t card = 0;
    uint64_t Total() const { return dsp + mixer + gpio + card; }
};

Counts Made();
// Reported by the platform calls.
void Count(On on);

}  // namespace calls
}  // namespace sim
