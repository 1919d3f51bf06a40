#include "platform/ini.h"

#include <ini.h>

#include <map>
#include <mutex>
#include <string>

#include "platform/sys.h"

namespace {

// The library keeps one open file, as the handheld's does; a mutex keeps two
// threads reading settings from tearing it.
struct Settings {
    std::mutex lock;
    std::map<std::string, std::string> values;  // "section\nkey" -> text
};

Settings& TheSettings()
{
    static Settings settings;
    return settings;
}

std::string KeyOf(const char* section, const char* key)
{
    return std::string(section) + '\n' + key;
}

int OnEntry(void* user, const char* section, const char* key, const char* value)
{
    auto* values = static_cast<std::map<std::string, std::string>*>(user);
    (*values)[KeyOf(section, key)] = value;
    return 1;
}

}  // namespace

int INI_Open(const char* path)
{
    Settings& s = TheSettings();
    std::lock_guard<std::mutex> hold(s.lock);
    s.values.clear();
    const std::string host = sys::resolve(path);
    if (host.empty())
        return 0;
    return ini_parse(host.c_str(), OnEntry, &s.values) == 0 ? 1 : 0;
}

const char* INI_ReadText(const char* section, const char* key, const char* default_text)
{
    Settings& s = TheSettings();
    std::lock_guard<std::mutex> hold(s.lock);
    auto found = s.values.find(KeyOf(section, key));
    return found == s.values.end() ? default_text : found->second.c_str();
}

void INI_Close()
{
    Settings& s = TheSettings();
    std::lock_guard<std::mutex> hold(s.lock);
    s.values.clear();
}
