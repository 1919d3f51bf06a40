// The handheld's SDL extensions for a generic embedded Linux: the battery
// from the kernel's power-supply class, and a device interface that needs no
// set-up.

#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/handheld/battery.h"
#include "platform/sdlext.h"

namespace {

// The first line of a small attribute file, without its newline; empty when
// it cannot be read.
std::string Attribute(const std::string& folder, const char* name)
{
    char line[64] = "";
    FILE* file = std::fopen((folder + "/" + name).c_str(), "re");
    if (!file)
        return {};
    if (!std::fgets(line, sizeof line, file))
        line[0] = '\0';
    std::fclose(file);
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

// The charge in percent of the battery in this folder, or -1 when the folder
// is no battery of this device, the battery is not there, or its charge is no
// number.
int ChargePercent(const std::string& folder)
{
    // A supply scoped "Device" powers a peripheral (a wireless mouse, say),
    // not the machine.
    if (Attribute(folder, "type") != "Battery" || Attribute(folder, "scope") == "Device" ||
        Attribute(folder, "present") == "0")
        return -1;
    const std::string capacity = Attribute(folder, "capacity");
    char* end = nullptr;
    const long percent = std::strtol(capacity.c_str(), &end, 10);
    if (capacity.empty() || *end != '\0' || percent < 0)
        return -1;
    return percent > 100 ? 100 : static_cast<int>(percent);
}

}  // namespace

int BatteryLevel(const char* power_supply)
{
    DIR* dir = opendir(power_supply);
    if (!dir)
        return 1;
    int percent = -1;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        percent = ChargePercent(std::string(power_supply) + "/" + entry->d_name);
        if (percent >= 0)
            break;
    }
    closedir(dir);
    if (percent < 0)
        return 1;
    // Four steps of a quarter each, counted down from a full battery.
    return percent >= 75 ? 1 : percent >= 50 ? 2 : percent >= 25 ? 3 : 4;
}

int SDL_GetBattryCheck(Uint16* level)
{
    if (!level)
        return -1;
    *level = static_cast<Uint16>(BatteryLevel("/sys/class/power_supply"));
    return 0;
}

int SDL_KelDevIfInit(int)
{
    return 0;
}

void SDL_KelDevIfQuit() {}
