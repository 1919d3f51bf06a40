// The platform calls on the simulated handheld: handheld paths live below
// HANDHELD_ROOT, the devices are simulated, the SD card can be pulled,
// locked or filled.

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/exec_arguments.h"
#include "platform/gpio.h"
#include "platform/sys.h"
#include "sim/calls.h"
#include "sim/faults.h"
#include "sim/handheld.h"
#include "sim/sdcard.h"
#include "sim/soundcard.h"

namespace {

enum class Kind { kCardFile, kGpio, kDsp, kMixer };

// Which descriptors the simulator must answer for itself. Everything not in
// here is an ordinary file of the PC.
class Descriptors {
public:
    void Add(int fd, Kind kind)
    {
        std::lock_guard<std::mutex> hold(lock_);
        kinds_[fd] = kind;
    }
    bool Find(int fd, Kind* kind)
    {
        std::lock_guard<std::mutex> hold(lock_);
        auto it = kinds_.find(fd);
        if (it == kinds_.end())
            return false;
        *kind = it->second;
        return true;
    }
    void Remove(int fd)
    {
        std::lock_guard<std::mutex> hold(lock_);
        kinds_.erase(fd);
    }

private:
    std::mutex lock_;
    std::unordered_map<int, Kind> kinds_;
};

// Never destroyed: a thread left behind in a stalled card may still call
// in while the process's statics are torn down at exit.
Descriptors& Table()
{
    static Descriptors& table = *new Descriptors;
    return table;
}

sim::calls::On CountedAs(Kind kind)
{
    switch (kind) {
    case Kind::kDsp:
        return sim::calls::On::kDsp;
    case Kind::kMixer:
        return sim::calls::On::kMixer;
    case Kind::kGpio:
        return sim::calls::On::kGpio;
    case Kind::kCardFile:
        break;
    }
    return sim::calls::On::kCard;
}

// The descriptor's kind, if it is one the simulator answers for, with the
// call on it counted.
bool FindCounted(int fd, Kind* kind)
{
    if (!Table().Find(fd, kind))
        return false;
    sim::calls::Count(CountedAs(*kind));
    return true;
}

// The fault a scenario placed at this call on the descriptor's device, met
// before the call acts: 0 to go on, -1 (errno set) to fail.
int MeetFault(Kind kind, const char* call, unsigned long request = 0)
{
    using sim::faults::Device;
    switch (kind) {
    case Kind::kDsp:
        return sim::faults::Meet(Device::kDsp, call, request);
    case Kind::kMixer:
        return sim::faults::Meet(Device::kMixer, call, request);
    case Kind::kCardFile:
        return sim::faults::Meet(Device::kCard, call);
    case Kind::kGpio:
        return sim::faults::Meet(Device::kGpio, call, request);
    }
    return 0;
}

sim::Handheld& Machine()
{
    return sim::Handheld::Instance();
}

bool IsNode(const char* path, const char* node)
{
    return std::string(path) == node;
}

bool WantsWrite(int flags)
{
    return (flags & O_ACCMODE) != O_RDONLY || (flags & (O_CREAT | O_TRUNC)) != 0;
}

// What a card in its present state answers to a path on it: 0 when the
// call may go on, else the errno it fails with.
int CardRefusal(bool writing)
{
    switch (Machine().Card()) {
    case sim::CardState::kOut:
        return ENOENT;
    case sim::CardState::kLocked:
        return writing ? EROFS : 0;
    case sim::CardState::kIn:
        return 0;
    }
    return 0;
}

// Maps a handheld path; on the card, also applies the card's state.
bool MapForCall(const char* path, bool writing, std::string* host, bool follow_last = true)
{
    *host = Machine().MapPath(path, follow_last);
    if (host->empty())
        return false;
    if (Machine().OnCard(*host)) {
        const int refusal = CardRefusal(writing);
        if (refusal) {
            errno = refusal;
            return false;
        }
    }
    return true;
}

// The bytes of a write that would grow the file, which the card's free
// space must cover.
off_t GrowthOf(int fd, size_t count)
{
    struct stat st;
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    if (at < 0 || ::fstat(fd, &st) != 0)
        return 0;
    const off_t end = at + static_cast<off_t>(count);
    return end > st.st_size ? end - (at > st.st_size ? at : st.st_size) : 0;
}

// A change of a card file's contents waits out a stall, and fails with EIO
// on a card that is out.
bool CardAnswers()
{
    sim::sdcard::WaitOutStall();
    if (Machine().Card() != sim::CardState::kOut)
        return true;
    errno = EIO;
    return false;
}

ssize_t WriteToCard(int fd, const void* buf, size_t count)
{
    if (!CardAnswers())
        return -1;
    const sim::sdcard::ChangeGuard change;
    sim::sdcard::BeforeWrite(fd);
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    const off_t growth = GrowthOf(fd, count);
    const int64_t granted = Machine().TakeCardSpace(growth);
    size_t allowed = count;
    if (granted < growth) {
        allowed = count - static_cast<size_t>(growth - granted);
        if (allowed == 0) {
            errno = ENOSPC;
            return -1;
        }
    }
    const ssize_t wrote = ::write(fd, buf, allowed);
    if (wrote > 0 && at >= 0)
        sim::sdcard::Written(fd, at, static_cast<size_t>(wrote));
    return wrote;
}

}  // namespace

namespace sys {

int open(const char* path, int flags, mode_t mode)
{
    if (IsNode(path, gpio::kDevice)) {
        Machine().RequireRoot();
        if (!Machine().GpioPresent()) {
            errno = ENOENT;
            return -1;
        }
        if (MeetFault(Kind::kGpio, "open") != 0)
            return -1;
        // Close-on-exec only when asked, as the kernel's: a descriptor the
        // recorder forgets must reach the menu program here too.
        const int fd = ::open("/dev/null", O_RDONLY | (flags & O_CLOEXEC));
        if (fd >= 0)
            Table().Add(fd, Kind::kGpio);
        return fd;
    }
    if (IsNode(path, "/dev/dsp") || IsNode(path, "/dev/mixer")) {
        Machine().RequireRoot();
        const bool dsp = IsNode(path, "/dev/dsp");
        if (MeetFault(dsp ? Kind::kDsp : Kind::kMixer, "open") != 0)
            return -1;
        const auto node = dsp ? sim::soundcard::Node::kDsp : sim::soundcard::Node::kMixer;
        const int fd = sim::soundcard::Open(node, flags);
        if (fd >= 0)
            Table().Add(fd, dsp ? Kind::kDsp : Kind::kMixer);
        return fd;
    }
    std::string host;
    if (!MapForCall(path, WantsWrite(flags), &host, !(flags & O_NOFOLLOW)))
        return -1;
    if (!Machine().OnCard(host))
        return ::open(host.c_str(), flags, mode);
    if (MeetFault(Kind::kCardFile, "open") != 0)
        return -1;
    int fd;
    {
        const sim::sdcard::ChangeGuard change;
        if (flags & (O_CREAT | O_TRUNC))
            sim::sdcard::BeforeChange(host);
        fd = ::open(host.c_str(), flags, mode);
        if (fd >= 0) {
            Table().Add(fd, Kind::kCardFile);
            sim::sdcard::Opened(fd, host);
        }
    }
    if (fd >= 0 && (flags & O_CREAT))
        sim::sdcard::Created();
    return fd;
}

int close(int fd)
{
    Kind kind;
    if (Table().Find(fd, &kind)) {
        // A failed close has let go of the descriptor all the same.
        if (MeetFault(kind, "close") != 0) {
            const int error = errno;
            close(fd);
            errno = error;
            return -1;
        }
        Table().Remove(fd);
        if (kind == Kind::kDsp)
            return sim::soundcard::Close(sim::soundcard::Node::kDsp, fd);
        if (kind == Kind::kMixer)
            return sim::soundcard::Close(sim::soundcard::Node::kMixer, fd);
        if (kind == Kind::kCardFile)
            sim::sdcard::Closed(fd);
    }
    return ::close(fd);
}

ssize_t read(int fd, void* buf, size_t count)
{
    Kind kind;
    const bool ours = FindCounted(fd, &kind);
    if (ours && MeetFault(kind, "read") != 0)
        return -1;
    if (ours && kind == Kind::kDsp && sim::soundcard::Gate(fd) != 0)
        return -1;
    if (ours && kind == Kind::kCardFile && Machine().Card() == sim::CardState::kOut) {
        errno = EIO;
        return -1;
    }
    const ssize_t got = ::read(fd, buf, count);
    if (ours && kind == Kind::kDsp && got > 0)
        sim::soundcard::CountRead(fd, static_cast<long>(got));
    return got;
}

ssize_t write(int fd, const void* buf, size_t count)
{
    Kind kind;
    const bool ours = FindCounted(fd, &kind);
    if (ours && MeetFault(kind, "write") != 0)
        return -1;
    if (ours && kind == Kind::kDsp && sim::soundcard::Gate(fd) != 0)
        return -1;
    if (ours && kind == Kind::kCardFile)
        return WriteToCard(fd, buf, count);
    if (ours && kind == Kind::kDsp)
        return sim::soundcard::Write(fd, buf, count);
    return ::write(fd, buf, count);
}

off_t lseek(int fd, off_t offset, int whence)
{
    Kind kind;
    const bool ours = FindCounted(fd, &kind);
    if (ours && MeetFault(kind, "lseek") != 0)
        return -1;
    if (ours && kind == Kind::kCardFile && Machine().Card() == sim::CardState::kOut) {
        errno = EIO;
        return -1;
    }
    return ::lseek(fd, offset, whence);
}

int ioctl(int fd, unsigned long request, void* arg)
{
    Kind kind;
    if (!FindCounted(fd, &kind))
        return ::ioctl(fd, request, arg);
    if (MeetFault(kind, "ioctl", request) != 0)
        return -1;
    switch (kind) {
    case Kind::kGpio:
        if (!arg) {
            errno = EFAULT;
            return -1;
        }
        if (request == gpio::kCardAbsent) {
            *static_cast<int*>(arg) = Machine().Card() == sim::CardState::kOut ? 1 : 0;
            return 0;
        }
        if (request == gpio::kHold) {
            *static_cast<int*>(arg) = Machine().Hold() ? 1 : 0;
            return 0;
        }
        errno = ENOTTY;
        return -1;
    case Kind::kDsp:
        return sim::soundcard::Ioctl(sim::soundcard::Node::kDsp, fd, request, arg);
    case Kind::kMixer:
        return sim::soundcard::Ioctl(sim::soundcard::Node::kMixer, fd, request, arg);
    case Kind::kCardFile:
        break;
    }
    errno = ENOTTY;
    return -1;
}

int poll(struct pollfd* fds, nfds_t nfds, int timeout_ms)
{
    // One call, counted once, on the first of the handheld's descriptors.
    // The card has one DSP: the descriptor of it that has failed, if any.
    bool counted = false;
    nfds_t failed = nfds;
    for (nfds_t i = 0; i < nfds; ++i) {
        Kind kind;
        const bool ours = counted ? Table().Find(fds[i].fd, &kind) : FindCounted(fds[i].fd, &kind);
        counted = counted || ours;
        if (ours && MeetFault(kind, "poll") != 0)
            return -1;
        if (ours && kind == Kind::kDsp && sim::soundcard::Gate(fds[i].fd) != 0)
            failed = i;
    }
    const int ready = ::poll(fds, nfds, failed < nfds ? 0 : timeout_ms);
    if (failed == nfds)
        return ready;
    // A failed device says so at once, beside whatever else is ready.
    const bool ready_already = ready > 0 && fds[failed].revents != 0;
    fds[failed].revents = POLLERR;
    return (ready > 0 ? ready : 0) + (ready_already ? 0 : 1);
}

int access(const char* path, int mode)
{
    if (IsNode(path, gpio::kDevice)) {
        Machine().RequireRoot();
        return 0;
    }
    if (IsNode(path, "/dev/dsp"))
        return sim::soundcard::Access(sim::soundcard::Node::kDsp, mode);
    if (IsNode(path, "/dev/mixer"))
        return sim::soundcard::Access(sim::soundcard::Node::kMixer, mode);
    std::string host;
    if (!MapForCall(path, (mode & W_OK) != 0, &host))
        return -1;
    return ::access(host.c_str(), mode);
}

int lstat(const char* path, struct stat* st)
{
    std::string host;
    if (!MapForCall(path, false, &host, false))
        return -1;
    return ::lstat(host.c_str(), st);
}

int fstat(int fd, struct stat* st)
{
    return ::fstat(fd, st);
}

// Makes or removes an entry of a folder; on the card, the card keeps track.
int ChangeEntry(const char* path, const char* call, const std::function<int(const char*)>& change)
{
    std::string host;
    if (!MapForCall(path, true, &host, false))
        return -1;
    if (!Machine().OnCard(host))
        return change(host.c_str());
    if (MeetFault(Kind::kCardFile, call) != 0)
        return -1;
    sim::sdcard::WaitOutStall();
    const sim::sdcard::ChangeGuard guard;
    sim::sdcard::BeforeEntryChange(host);
    return change(host.c_str());
}

int mkdir(const char* path, mode_t mode)
{
    return ChangeEntry(path, "mkdir", [mode](const char* host) { return ::mkdir(host, mode); });
}

int unlink(const char* path)
{
    return ChangeEntry(path, "unlink", [](const char* host) { return ::unlink(host); });
}

void sync()
{
    // A sync cannot fail; a failure placed at it is met as nothing.
    MeetFault(Kind::kCardFile, "sync");
    sim::sdcard::WaitOutStall();
    {
        const sim::sdcard::ChangeGuard change;
        sim::sdcard::SyncedAll();
    }
    // What the card keeps is the simulated card's to say (above), and its
    // slowness the stalls': syncing the PC's own file system would add only
    // the wait for whatever else the PC writes, which no handheld knows.
}

// A truncation changes the file's contents as a write does, and is kept
// only by the next sync.
int ftruncate(int fd, off_t length)
{
    Kind kind;
    if (!FindCounted(fd, &kind) || kind != Kind::kCardFile)
        return ::ftruncate(fd, length);
    if (MeetFault(kind, "ftruncate") != 0 || !CardAnswers())
        return -1;
    const sim::sdcard::ChangeGuard change;
    sim::sdcard::BeforeWrite(fd);
    return ::ftruncate(fd, length);
}

int fdatasync(int fd)
{
    Kind kind;
    if (!FindCounted(fd, &kind) || kind != Kind::kCardFile)
        return ::fdatasync(fd);
    if (MeetFault(kind, "fdatasync") != 0 || !CardAnswers())
        return -1;
    const sim::sdcard::ChangeGuard change;
    const int rc = ::fdatasync(fd);
    if (rc == 0)
        sim::sdcard::Synced(fd);
    return rc;
}

int chdir(const char* path)
{
    std::string host;
    if (!MapForCall(path, false, &host))
        return -1;
    return ::chdir(host.c_str());
}

int execl(const char* path, const char* arg, ...)
{
    va_list more;
    va_start(more, arg);
    std::vector<char*> argv = ExecArguments(arg, more);
    va_end(more);
    std::string host;
    if (!MapForCall(path, false, &host))
        return -1;
    return ::execv(host.c_str(), argv.data());
}

time_t time(time_t* out)
{
    const time_t now = Machine().Now();
    if (out)
        *out = now;
    return now;
}

std::string resolve(const char* path)
{
    std::string host;
    if (!MapForCall(path, false, &host))
        return {};
    return host;
}

}  // namespace sys
