// The handheld's SDL extensions for a generic embedded Linux: the battery
// from the kernel's power-supply class, and a device interface that needs no
// set-up.

#include <dirent.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/sdlext.h"

namespace {

// The charge in percent of the first battery the kernel lists, or -1.
int BatteryPercent()
{
    const char* base = "/sys/class/power_supply";
    DIR* dir = opendir(base);
    if (!dir)
        return -1;
    int percent = -1;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string folder = std::string(base) + "/" + entry->d_name;
        char type[32] = "";
        if (FILE* f = std::fopen((folder + "/type").c_str(), "r")) {
            if (!std::fgets(type, sizeof type, f))
                type[0] = '\0';
            std::fclose(f);
        }
        if (std::strncmp(type, "Battery", 7) != 0)
            continue;
        if (FILE* f = std::fopen((folder + "/capacity").c_str(), "r")) {
            if (std::fscanf(f, "%d", &percent) != 1)
                percent = -1;
            std::fclose(f);
        }
        if (percent >= 0)
            break;
    }
    closedir(dir);
    return percent;
}

}  // namespace

int SDL_GetBattryCheck(Uint16* level)
{
    const int percent = BatteryPercent();
    if (!level || percent < 0)
        return -1;
    // Four steps of a quarter each, counted down from a full battery: level 4
    // is the last quarter, at which the recorder warns.
    *level = static_cast<Uint16>(percent >= 75 ? 1 : percent >= 50 ? 2 : percent >= 25 ? 3 : 4);
    return 0;
}

int SDL_KelDevIfInit(int)
{
    return 0;
}

void SDL_KelDevIfQuit() {}
