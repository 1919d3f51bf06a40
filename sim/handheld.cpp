#include "sim/handheld.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "sim/scenario.h"

namespace sim {

Handheld& Handheld::Instance()
{
    // Built on first use: the recorder asks for the clock and the battery
    // while its globals are constructed, before main, and a real handheld is
    // in its state before the recorder starts.
    static Handheld machine;
    static const bool powered_on = [] {
        scenario::PowerOn(machine);
        return true;
    }();
    (void)powered_on;
    return machine;
}

std::string Handheld::Root()
{
    std::lock_guard<std::mutex> hold(root_lock_);
    if (!root_read_) {
        root_read_ = true;
        const char* env = getenv("HANDHELD_ROOT");
        char canonical[PATH_MAX];
        if (env && *env && realpath(env, canonical))
            root_ = canonical;
    }
    return root_;
}

void Handheld::SetRoot(const std::string& folder)
{
    char canonical[PATH_MAX];
    std::lock_guard<std::mutex> hold(root_lock_);
    root_read_ = true;
    root_ = realpath(folder.c_str(), canonical) ? canonical : "";
}

void Handheld::RequireRoot()
{
    const std::string root = Root();
    struct stat st;
    if (!root.empty() && ::stat(root.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return;
    std::fprintf(stderr,
                 "handheld: HANDHELD_ROOT must name the folder that stands for the handheld's "
                 "root file system.\n"
                 "handheld: lay one out with 'handheld-root DIR', then run with "
                 "HANDHELD_ROOT=DIR.\n");
    _exit(2);
}

std::string Handheld::MapPath(const char* path)
{
    if (!path) {
        errno = EFAULT;
        return {};
    }
    if (path[0] != '/')
        return path;
    const std::string root = Root();
    if (root.empty()) {
        RequireRoot();
        return {};
    }
    std::vector<std::string> parts;
    const char* p = path;
    while (*p) {
        while (*p == '/')
            ++p;
        const char* start = p;
        while (*p && *p != '/')
            ++p;
        const std::string part(start, p);
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (parts.empty()) {
                errno = EACCES;
                return {};
            }
            parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string host = root;
    for (const std::string& part : parts)
        host += '/' + part;
    // Keep a trailing slash: it asks for a directory, and the C library
    // answers ENOTDIR when there is none.
    if (path[std::char_traits<char>::length(path) - 1] == '/' && !parts.empty())
        host += '/';
    return host;
}

bool Handheld::OnCard(const std::string& host_path)
{
    const std::string card = Root() + "/mnt/sd";
    return host_path.compare(0, card.size(), card) == 0 &&
           (host_path.size() > card.size() && host_path[card.size()] == '/');
}

void Handheld::SetCard(CardState state)
{
    card_.store(state);
}

int64_t Handheld::TakeCardSpace(int64_t want)
{
    int64_t free = card_free_.load();
    for (;;) {
        if (free < 0)
            return want;
        const int64_t got = want < free ? want : free;
        if (card_free_.compare_exchange_weak(free, free - got))
            return got;
    }
}

void Notice(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    flockfile(stderr);
    std::fputs("handheld: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    funlockfile(stderr);
    va_end(args);
}

}  // namespace sim
