#include "sim/faults.h"

#include <errno.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "sim/faultcalls.h"
#include "sim/handheld.h"

namespace sim {
namespace faults {
namespace {

const char* ActionName(Action action)
{
    switch (action) {
    case Action::kHang:
        return "hangs";
    case Action::kFail:
        return "fails";
    case Action::kStall:
        break;
    }
    return "stalls";
}

class Table {
public:
    void Place(const Fault& fault)
    {
        std::lock_guard<std::mutex> hold(lock_);
        armed_.erase(std::remove_if(armed_.begin(), armed_.end(),
                                    [&](const Fault& f) {
                                        return f.device == fault.device && f.call == fault.call;
                                    }),
                     armed_.end());
        armed_.push_back(fault);
    }

    void Heal(Device device)
    {
        std::lock_guard<std::mutex> hold(lock_);
        armed_.erase(std::remove_if(armed_.begin(), armed_.end(),
                                    [&](const Fault& f) { return f.device == device; }),
                     armed_.end());
        ++healed_[static_cast<int>(device)];
        healing_.notify_all();
    }

    int Meet(Device device, const char* call, unsigned long request)
    {
        std::unique_lock<std::mutex> hold(lock_);
        if (armed_.empty())
            return 0;
        const std::string name = request ? RequestName(device, request) : "";
        const auto found = std::find_if(armed_.begin(), armed_.end(), [&](const Fault& f) {
            return f.device == device && (f.call == call || (!name.empty() && f.call == name));
        });
        if (found == armed_.end())
            return 0;
        const Fault fault = *found;
        armed_.erase(found);
        TraceLine("fault: %s %s at %s", NameOf(device), ActionName(fault.action),
                  fault.call.c_str());
        const int generation = healed_[static_cast<int>(device)];
        const auto healed = [&] { return healed_[static_cast<int>(device)] != generation; };
        switch (fault.action) {
        case Action::kFail:
            errno = EIO;
            return -1;
        case Action::kHang:
            ++hung_[static_cast<int>(device)];
            healing_.wait(hold, healed);
            --hung_[static_cast<int>(device)];
            return 0;
        case Action::kStall:
            healing_.wait_for(hold, std::chrono::milliseconds(fault.stall_ms), healed);
            return 0;
        }
        return 0;
    }

    int Hung(Device device)
    {
        std::lock_guard<std::mutex> hold(lock_);
        return hung_[static_cast<int>(device)];
    }

private:
    std::mutex lock_;
    std::condition_variable healing_;
    std::vector<Fault> armed_;
    int healed_[kDeviceCount] = {};
    int hung_[kDeviceCount] = {};
};

// Never destroyed: a call hung in it may outlive every static of the
// process, as a thread left in a hung device does.
Table& TheTable()
{
    static Table* const table = new Table;
    return *table;
}

}  // namespace

void Place(const Fault& fault)
{
    TheTable().Place(fault);
}

void Heal(Device device)
{
    TheTable().Heal(device);
}

int Hung(Device device)
{
    return TheTable().Hung(device);
}

int Meet(Device device, const char* call, unsigned long request)
{
    return TheTable().Meet(device, call, request);
}

}  // namespace faults
}  // namespace sim
