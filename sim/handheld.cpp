#include "sim/handheld.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <deque>
#include <vector>

#include "sim/scenario.h"

namespace sim {

namespace {
// As many links as Linux follows in one path.
constexpr int kMaxLinks = 40;
}  // namespace

Handheld& Handheld::Instance()
{
    // Built on first use: the recorder asks for the clock and the battery
    // while its globals are constructed, before main, and a real handheld is
    // in its state before the recorder starts. Never destroyed: a thread
    // left behind in a stalled card may still call in at exit.
    static Handheld& machine = *new Handheld;
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

std::string Handheld::MapPath(const char* path, bool follow_last)
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
    // What is left to walk, front first; a link's target goes in front of
    // the rest. Parts that come from a link's target climb no higher than
    // the root, as in a chroot; the path given may not climb out at all.
    struct Part {
        std::string name;
        bool from_link;
    };
    std::deque<Part> pending;
    auto push_front = [&pending](const std::string& text, bool from_link) {
        std::vector<Part> parts;
        size_t at = 0;
        while (at <= text.size()) {
            const size_t slash = std::min(text.find('/', at), text.size());
            parts.push_back({text.substr(at, slash - at), from_link});
            at = slash + 1;
        }
        pending.insert(pending.begin(), parts.begin(), parts.end());
    };
    push_front(path, false);
    std::vector<std::string> parts;
    int links = 0;
    auto host_of = [&root](const std::vector<std::string>& names) {
        std::string host = root;
        for (const std::string& name : names)
            host += '/' + name;
        return host;
    };
    while (!pending.empty()) {
        const Part part = pending.front();
        pending.pop_front();
        if (part.name.empty() || part.name == ".")
            continue;
        if (part.name == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            } else if (!part.from_link) {
                errno = EACCES;
                return {};
            }
            continue;
        }
        parts.push_back(part.name);
        bool last = true;
        for (const Part& rest : pending)
            last = last && (rest.name.empty() || rest.name == ".");
        if (last && !follow_last)
            continue;
        const std::string host = host_of(parts);
        struct stat st;
        if (::lstat(host.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            continue;
        if (++links > kMaxLinks) {
            errno = ELOOP;
            return {};
        }
        char target[PATH_MAX];
        const ssize_t length = ::readlink(host.c_str(), target, sizeof target - 1);
        if (length < 0)
            return {};
        target[length] = '\0';
        parts.pop_back();
        if (target[0] == '/')
            parts.clear();
        push_front(target, true);
    }
    std::string host = host_of(parts);
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

bool Tracing()
{
    static const bool traced = [] {
        const char* trace = std::getenv("HANDHELD_TRACE");
        return trace && *trace && std::string(trace) != "0";
    }();
    return traced;
}

void TraceLine(const char* format, ...)
{
    if (!Tracing())
        return;
    va_list args;
    va_start(args, format);
    flockfile(stdout);
    std::vfprintf(stdout, format, args);
    std::fputc('\n', stdout);
    // A power cut kills the process: what it said before must be out.
    std::fflush(stdout);
    funlockfile(stdout);
    va_end(args);
}

}  // namespace sim
