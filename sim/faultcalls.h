#pragma once
// The calls of the handheld's devices that a fault can be placed at, by
// name: the simulator's faults and the tests that sweep a fault over every
// call take them from here, so a new call, or a new device, is swept as soon
// as it can fail.

#include <string>
#include <vector>

namespace sim {
namespace faults {

enum class Device { kDsp, kMixer, kCard, kGpio };
// Every device, in the enum's order.
constexpr Device kDevices[] = {Device::kDsp, Device::kMixer, Device::kCard, Device::kGpio};
constexpr int kDeviceCount = static_cast<int>(sizeof kDevices / sizeof kDevices[0]);

// The calls a device can be faulted at, for the scenario's parser.
const std::vector<std::string>& Calls(Device device);
const char* NameOf(Device device);
// The name of an ioctl's request on the device; empty for one it does not
// know.
const char* RequestName(Device device, unsigned long number);

}  // namespace faults
}  // namespace sim
