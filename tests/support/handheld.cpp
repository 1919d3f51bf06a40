#include "tests/support/handheld.h"

#include <dirent.h>

#include <algorithm>

#include "sim/faults.h"
#include "sim/handheld.h"
#include "sim/sdcard.h"
#include "sim/soundcard.h"
#include "tests/support/wait.h"

namespace support {

void ResetHandheld(const std::string& mic)
{
    namespace card = sim::soundcard;
    sim::Handheld& machine = sim::Handheld::Instance();
    machine.SetCard(sim::CardState::kIn);
    machine.SetCardFree(-1);
    machine.SetGpioPresent(true);
    machine.SetHold(false);
    machine.SetBattery(1);
    machine.SetClock(::time(nullptr));
    sim::sdcard::SetStall(0, 0);
    card::SetNodeState(card::Node::kDsp, card::NodeState::kOk);
    card::SetNodeState(card::Node::kMixer, card::NodeState::kOk);
    card::SetBlockSize(0);
    card::SetEmulated(false);
    card::SetPlaybackHung(false);
    card::HangOpenDsp(false);
    card::SetAbilities(card::Abilities{});
    card::SetMic(mic);
    for (const sim::faults::Device device : sim::faults::kDevices)
        sim::faults::Heal(device);
}

std::vector<std::string> Recordings()
{
    std::vector<std::string> paths;
    const std::string folder = sim::Handheld::Instance().Root() + kRecordFolder;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.')
                paths.push_back(folder + "/" + entry->d_name);
        closedir(dir);
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

bool CardFilesClosed(std::chrono::milliseconds bound)
{
    return Eventually([] { return sim::sdcard::OpenFiles() == 0; }, bound);
}

}  // namespace support
