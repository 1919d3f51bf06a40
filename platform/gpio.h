#pragma once
// The handheld's GPIO driver, /dev/GPIO, as the recorder reads it: one
// ioctl a line, each filling an int. The program and the simulated driver
// both take their numbers from here.

namespace gpio {

constexpr const char* kDevice = "/dev/GPIO";

// Fills 1 when no SD card is in the slot, 0 when one is.
constexpr unsigned long kCardAbsent = 9;
// Fills 1 while the HOLD switch is on, 0 when it is off.
constexpr unsigned long kHold = 11;

}  // namespace gpio
