#include "sim/sdcard.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <thread>
#include <utility>
#include <vector>

#include "sim/handheld.h"

namespace sim {
namespace sdcard {
namespace {

using Clock = std::chrono::steady_clock;

// A file changed since the card started: where its kept contents are, and
// which bytes changed since they were kept.
struct File {
    std::string shadow;  // empty: nothing kept (the file is empty when kept)
    std::vector<std::pair<off_t, off_t>> dirty;  // [from, to)
};

struct Card {
    std::mutex lock;
    std::map<std::string, File> files;                  // by host path
    std::map<std::string, std::set<std::string>> dirs;  // kept entries
    std::map<int, std::string> open;                    // descriptor -> host path
    int shadows = 0;
    Clock::time_point stall_from{};
    long stall_ms = 0;
    long every_ms = 0;
    std::condition_variable stall_changed;
    std::function<void()> after_create;
};

Card& TheCard()
{
    static Card* card = new Card;  // used by threads still running at exit
    return *card;
}

// Changes take it shared, a power cut alone.
std::shared_mutex& ChangeLock()
{
    static std::shared_mutex* lock = new std::shared_mutex;
    return *lock;
}

std::string Parent(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::set<std::string> Entries(const std::string& dir)
{
    std::set<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..")
                names.insert(name);
        }
        ::closedir(d);
    }
    return names;
}

// Copies `length` bytes at `offset` from one descriptor to another.
void CopyRange(int from, int to, off_t offset, off_t length)
{
    char buf[65536];
    while (length > 0) {
        const ssize_t got = ::pread(from, buf, std::min<off_t>(length, sizeof buf), offset);
        if (got <= 0)
            return;
        if (::pwrite(to, buf, static_cast<size_t>(got), offset) != got)
            return;
        offset += got;
        length -= got;
    }
}

// Copies the whole of one file into another.
void CopyWhole(int from, int to)
{
    struct stat st;
    if (::fstat(from, &st) == 0)
        CopyRange(from, to, 0, st.st_size);
}

std::string NewShadow(Card& card)
{
    const std::string folder = Handheld::Instance().Root() + "/sim/kept";
    ::mkdir(folder.c_str(), 0755);
    return folder + "/" + std::to_string(++card.shadows);
}

// Keeps the file's present contents as its kept ones. Lock held.
void KeepWhole(Card& card, const std::string& path, File* file)
{
    const int from = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (from < 0) {
        file->shadow.clear();
        return;
    }
    if (file->shadow.empty())
        file->shadow = NewShadow(card);
    const int to = ::open(file->shadow.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (to >= 0) {
        CopyWhole(from, to);
        ::close(to);
    }
    ::close(from);
    file->dirty.clear();
}

// Keeps what changed in the file since it was last kept. Lock held.
void KeepChanges(Card& card, const std::string& path, File* file)
{
    if (file->shadow.empty()) {
        KeepWhole(card, path, file);
        return;
    }
    const int from = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const int to = ::open(file->shadow.c_str(), O_RDWR | O_CLOEXEC);
    struct stat st;
    if (from >= 0 && to >= 0 && ::fstat(from, &st) == 0) {
        for (const auto& range : file->dirty)
            CopyRange(from, to, range.first, range.second - range.first);
        if (::ftruncate(to, st.st_size) != 0)
            Notice("card: cannot keep %s", path.c_str());
        file->dirty.clear();
    }
    if (from >= 0)
        ::close(from);
    if (to >= 0)
        ::close(to);
}

// The folder's entries as they are now count as kept, unless some were
// kept before. Lock held.
void TrackFolder(Card& card, const std::string& dir)
{
    if (!card.dirs.count(dir))
        card.dirs[dir] = Entries(dir);
}

// The file's contents as they are now count as kept, unless some were
// kept before. Lock held.
void TrackFile(Card& card, const std::string& path)
{
    if (card.files.count(path))
        return;
    File& file = card.files[path];
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        KeepWhole(card, path, &file);
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return ::remove(path);
}

void RemoveTree(const std::string& path)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return;
    if (S_ISDIR(st.st_mode))
        ::nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    else
        ::unlink(path.c_str());
}

// Puts a file back as it was kept. Lock held.
void Restore(const std::string& path, const File& file)
{
    const int to = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (to < 0)
        return;
    const int from = file.shadow.empty() ? -1 : ::open(file.shadow.c_str(), O_RDONLY | O_CLOEXEC);
    if (from >= 0) {
        CopyWhole(from, to);
        ::close(from);
    }
    ::close(to);
}

}  // namespace

void SetStall(long stall_ms, long every_ms)
{
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.lock);
    card.stall_from = Clock::now();
    card.stall_ms = std::max(stall_ms, 0L);
    card.every_ms = std::max(every_ms, 0L);
    card.stall_changed.notify_all();
}

void AfterNextCreate(std::function<void()> act)
{
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.lock);
    card.after_create = std::move(act);
}

void Created()
{
    std::function<void()> act;
    {
        Card& card = TheCard();
        std::lock_guard<std::mutex> hold(card.lock);
        act = std::move(card.after_create);
        card.after_create = nullptr;
    }
    if (act)
        act();
}

void WaitOutStall()
{
    Card& card = TheCard();
    std::unique_lock<std::mutex> hold(card.lock);
    // The card is busy until the stall's end; a new setting (the scenario's
    // next stall, or none) takes over the stall in progress.
    for (;;) {
        if (card.stall_ms <= 0)
            return;
        const auto stall = std::chrono::milliseconds(card.stall_ms);
        const auto since = Clock::now() - card.stall_from;
        Clock::time_point until;
        if (card.every_ms > 0) {
            const auto every = std::chrono::milliseconds(card.every_ms);
            const auto round = since / every;
            if (since - round * every >= stall)
                return;
            until = card.stall_from + round * every + stall;
        } else {
            if (since >= stall)
                return;
            until = card.stall_from + stall;
        }
        card.stall_changed.wait_until(hold, until);
    }
}

void BeforeChange(const std::string& host_path)
{
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.lock);
    TrackFolder(card, Parent(host_path));
    TrackFile(card, host_path);
}

void BeforeEntryChange(const std::string& host_path)
{
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.lock);
    TrackFolder(card, Parent(host_path));
    // An entry that goes may come back with its kept contents.
    struct stat st;
    if (::lstat(host_path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        TrackFile(card, host_path);
}

void Opened(int fd, const std::string& host_path)
{
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.lock);
    std::string path = host_path;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    card.open[fd] = path;
}

void Closed(int fd)
{
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.lock);
    card.open.erase(fd);
}

size_t OpenFiles()
{
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.lock);
    return card.open.size();
}

void BeforeWrite(int fd)
{
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.lock);
    auto open = card.open.find(fd);
    if (open != card.open.end())
        TrackFile(card, open->second);
}

void Written(int fd, off_t offset, size_t count)
{
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.lock);
    auto open = card.open.find(fd);
    if (open == card.open.end() || count == 0)
        return;
    File& file = card.files[open->second];
    const off_t end = offset + static_cast<off_t>(count);
    if (!file.dirty.empty() && file.dirty.back().second == offset)
        file.dirty.back().second = end;
    else
        file.dirty.emplace_back(offset, end);
}

void Synced(int fd)
{
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.lock);
    auto open = card.open.find(fd);
    if (open == card.open.end())
        return;
    const std::string& path = open->second;
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return;
    if (S_ISDIR(st.st_mode)) {
        if (card.dirs.count(path))
            card.dirs[path] = Entries(path);
        return;
    }
    auto file = card.files.find(path);
    if (file != card.files.end())
        KeepChanges(card, path, &file->second);
}

void SyncedAll()
{
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.lock);
    for (auto& dir : card.dirs)
        dir.second = Entries(dir.first);
    for (auto& file : card.files) {
        struct stat st;
        if (::lstat(file.first.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            KeepChanges(card, file.first, &file.second);
    }
}

void KeepAsItIs()
{
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.lock);
    for (const auto& file : card.files)
        if (!file.second.shadow.empty())
            ::unlink(file.second.shadow.c_str());
    card.files.clear();
    card.dirs.clear();
}

void PowerCut()
{
    ChangeLock().lock();
    Card& card = TheCard();
    card.lock.lock();
    Notice("power cut: the card goes back to what it last kept");
    // Entries first: what was never kept goes, what was kept comes back.
    for (const auto& dir : card.dirs) {
        for (const std::string& name : Entries(dir.first))
            if (!dir.second.count(name))
                RemoveTree(dir.first + "/" + name);
        for (const std::string& name : dir.second) {
            const std::string path = dir.first + "/" + name;
            struct stat st;
            auto file = card.files.find(path);
            if (::lstat(path.c_str(), &st) != 0 && file != card.files.end())
                Restore(path, file->second);
        }
    }
    // Then the contents of every file that changed.
    for (const auto& file : card.files) {
        struct stat st;
        if (::lstat(file.first.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            Restore(file.first, file.second);
    }
    ::kill(::getpid(), SIGKILL);
    for (;;)
        ::pause();
}

ChangeGuard::ChangeGuard()
{
    ChangeLock().lock_shared();
}

ChangeGuard::~ChangeGuard()
{
    ChangeLock().unlock_shared();
}

}  // namespace sdcard
}  // namespace sim
