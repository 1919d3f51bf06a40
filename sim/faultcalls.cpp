#include "sim/faultcalls.h"

#include "platform/gpio.h"
#include "platform/oss.h"

namespace sim {
namespace faults {
namespace {

struct Request {
    const char* name;
    unsigned long number;
};

constexpr Request kDspRequests[] = {
    {"RESET", oss::kDspReset},
    {"SYNC", oss::kDspSync},
    {"SPEED", oss::kDspSpeed},
    {"STEREO", oss::kDspStereo},
    {"GETBLKSIZE", oss::kDspGetBlkSize},
    {"SETFMT", oss::kDspSetFmt},
    {"SETFRAGMENT", oss::kDspSetFragment},
    {"GETODELAY", oss::kDspGetODelay},
};
constexpr Request kMixerRequests[] = {
    {"WRITE_MIC", oss::kMixerWriteMic},
    {"WRITE_ALTPCM", oss::kMixerWriteAltPcm},
    {"WRITE_IGAIN", oss::kMixerWriteIGain},
};
constexpr Request kGpioRequests[] = {
    {"CARD", gpio::kCardAbsent},
    {"HOLD", gpio::kHold},
};

}  // namespace

const char* RequestName(Device device, unsigned long number)
{
    for (const Request& r : kDspRequests)
        if (device == Device::kDsp && r.number == number)
            return r.name;
    for (const Request& r : kMixerRequests)
        if (device == Device::kMixer && r.number == number)
            return r.name;
    for (const Request& r : kGpioRequests)
        if (device == Device::kGpio && r.number == number)
            return r.name;
    return "";
}

const char* NameOf(Device device)
{
    switch (device) {
    case Device::kDsp:
        return "dsp";
    case Device::kMixer:
        return "mixer";
    case Device::kGpio:
        return "gpio";
    case Device::kCard:
        break;
    }
    return "card";
}

const std::vector<std::string>& Calls(Device device)
{
    const auto with = [](std::vector<std::string> calls, const auto& requests) {
        for (const Request& r : requests)
            calls.push_back(r.name);
        return calls;
    };
    static const std::vector<std::string> calls[kDeviceCount] = {
        with({"open", "close", "read", "write", "poll", "ioctl"}, kDspRequests),
        with({"open", "close", "ioctl"}, kMixerRequests),
        {"open", "close", "read", "write", "lseek", "fdatasync", "ftruncate", "unlink", "mkdir",
         "sync"},
        with({"open", "close", "ioctl"}, kGpioRequests),
    };
    return calls[static_cast<int>(device)];
}

}  // namespace faults
}  // namespace sim
