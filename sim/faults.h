#pragma once
// Faults placed at a call, not at a time: the next call of one kind on one
// of the handheld's devices hangs, fails or stalls, whichever thread of the
// program makes it and whenever. A scenario places them ("dsp hang at
// SYNC", "card fail at fdatasync", "mixer stall 800 at open"); the platform
// calls meet them. A hung call stays hung until its device is made well
// again ("dsp ok", "mixer ok", "card in") or the process ends: the table
// is never destroyed, so a thread left in it outlives every static.
//
// Calls: open, close, read, write, lseek, poll, ioctl (any request) or a
// request by its name without the prefix (SYNC, RESET, SPEED, STEREO,
// GETBLKSIZE, SETFMT, SETFRAGMENT, GETODELAY, WRITE_MIC, WRITE_ALTPCM,
// WRITE_IGAIN), and on the card fdatasync, ftruncate, unlink, mkdir, sync.
// Each one that acts leaves a trace line, "fault: <device> <action> at <call>".

#include <string>

#include "sim/faultcalls.h"

namespace sim {
namespace faults {

enum class Action { kHang, kFail, kStall };

struct Fault {
    Device device = Device::kDsp;
    Action action = Action::kFail;
    std::string call;
    long stall_ms = 0;
};

// Armed for the next such call; a fault already armed at the same call is
// replaced.
void Place(const Fault& fault);
// Disarms the device's faults and lets its hung calls go on.
void Heal(Device device);

// How many calls are hung in the device now.
int Hung(Device device);

// Met by each platform call before it acts, with the request's number for
// an ioctl: 0 to go on (after a stall), or -1 with errno EIO for a failure.
// A hang returns only once the device is healed, then goes on.
int Meet(Device device, const char* call, unsigned long request = 0);

}  // namespace faults
}  // namespace sim
