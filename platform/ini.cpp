#include "platform/ini.h"

#include <fcntl.h>
#include <ini.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
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

// A FIFO or a device node in place of the settings file would block the
// reader, or feed it for ever: only a regular file is read. Opened without
// waiting for a writer, then looked at.
FILE* OpenRegularFile(const std::string& host)
{
    const int fd = ::open(host.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::fcntl(fd, F_SETFL, 0) != 0) {
        ::close(fd);
        return nullptr;
    }
    FILE* file = ::fdopen(fd, "r");
    if (!file)
        ::close(fd);
    return file;
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
    FILE* file = OpenRegularFile(host);
    if (!file)
        return 0;
    const int parsed = ini_parse_file(file, OnEntry, &s.values);
    std::fclose(file);
    return parsed == 0 ? 1 : 0;
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
