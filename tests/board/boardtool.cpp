// The board's own hands, inside the emulated handheld: one static program,
// several jobs, chosen by the first argument (or by its name, for the menu).
//
//   boardtool pad              a gamepad through uinput; reads "press N",
//                              "down N", "up N" lines from standard input
//   boardtool cable OUT        the far end of the loopback card: feeds the
//                              counter signal into what /dev/dsp captures and
//                              writes what /dev/dsp plays to OUT, until SIGTERM
//   boardtool await FILE TEXT SECONDS [PID]
//                              waits until a line of FILE holds TEXT; fails
//                              at once when process PID ends first
//   boardtool delay NAME DEVICE MS
//                              a slow card: the device-mapper disk NAME over
//                              DEVICE, each of its writes held MS ms; made
//                              when new, else given the new delay at once
//   orvomenu ARG...            the menu program: reports its folder, its
//                              arguments and the descriptors it inherited
//
// It is built for the handheld's processor, linked statically, and needs
// nothing of the board but its kernel.

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/dm-ioctl.h>
#include <linux/fs.h>
#include <linux/input.h>
#include <linux/uinput.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/soundcard.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int Fail(const char* what)
{
    std::fprintf(stderr, "boardtool: %s: %s\n", what, std::strerror(errno));
    return 1;
}

bool WriteAll(int fd, const void* data, size_t size)
{
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, at, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// ---- pad ----

// SDL numbers a gamepad's buttons in the order of their key codes from
// BTN_JOYSTICK up, so BTN_TRIGGER + n is the handheld's button n.
constexpr int kButtons = 12;

bool Emit(int fd, int type, int code, int value)
{
    struct input_event event = {};
    event.type = static_cast<uint16_t>(type);
    event.code = static_cast<uint16_t>(code);
    event.value = value;
    return WriteAll(fd, &event, sizeof event);
}

bool Button(int fd, int n, int value)
{
    return Emit(fd, EV_KEY, BTN_TRIGGER + n, value) && Emit(fd, EV_SYN, SYN_REPORT, 0);
}

int Pad()
{
    const int fd = ::open("/dev/uinput", O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return Fail("/dev/uinput");
    // A joystick to SDL is a device with buttons and both axes of a stick.
    ioctl(fd, UI_SET_EVBIT, EV_KEY);
    ioctl(fd, UI_SET_EVBIT, EV_ABS);
    for (int n = 0; n < kButtons; ++n)
        ioctl(fd, UI_SET_KEYBIT, BTN_TRIGGER + n);
    ioctl(fd, UI_SET_ABSBIT, ABS_X);
    ioctl(fd, UI_SET_ABSBIT, ABS_Y);
    struct uinput_user_dev setup = {};
    std::snprintf(setup.name, sizeof setup.name, "board pad");
    setup.id.bustype = BUS_VIRTUAL;
    setup.id.vendor = 1;
    setup.id.product = 1;
    for (int axis : {ABS_X, ABS_Y}) {
        setup.absmin[axis] = -32767;
        setup.absmax[axis] = 32767;
    }
    if (!WriteAll(fd, &setup, sizeof setup) || ioctl(fd, UI_DEV_CREATE) != 0)
        return Fail("uinput create");
    std::printf("pad ready\n");
    std::fflush(stdout);
    char line[64];
    while (std::fgets(line, sizeof line, stdin)) {
        char verb[16];
        int n = -1;
        if (std::sscanf(line, "%15s %d", verb, &n) != 2 || n < 0 || n >= kButtons) {
            std::fprintf(stderr, "boardtool pad: cannot do \"%s\"\n", line);
            continue;
        }
        const std::string what = verb;
        bool ok = true;
        if (what == "press")
            ok = Button(fd, n, 1) && Button(fd, n, 0);
        else if (what == "down" || what == "up")
            ok = Button(fd, n, what == "down");
        if (!ok)
            return Fail("uinput event");
    }
    ioctl(fd, UI_DEV_DESTROY);
    ::close(fd);
    return 0;
}

// ---- cable ----

volatile sig_atomic_t g_stop = 0;

void OnStop(int)
{
    g_stop = 1;
}

int Ask(int fd, unsigned long request, int value)
{
    int arg = value;
    return ioctl(fd, request, &arg) < 0 ? -1 : arg;
}

// The microphone's counter: both channels carry the frame number, as the
// simulated microphone's counter does, so the recording and the speaker can
// be proved unbroken.
int Cable(const char* out_path)
{
    const int out = ::open(out_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0)
        return Fail(out_path);
    const int fd = ::open("/dev/adsp", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return Fail("/dev/adsp");
    // The microphone must never run dry, or the loopback would play the
    // stale buffer again and the recording would break where the recorder
    // did not: three seconds of fragments, and the first claim on the
    // processor, which the program's busy start-up must not take from it.
    // Not a real-time class: a cable that went wrong would freeze the board.
    Ask(fd, SNDCTL_DSP_SETFRAGMENT, 0x0040000C);
    if (setpriority(PRIO_PROCESS, 0, -20) != 0)
        return Fail("setpriority");
    if (Ask(fd, SNDCTL_DSP_STEREO, 1) != 1 ||
        Ask(fd, SNDCTL_DSP_SETFMT, AFMT_S16_LE) != AFMT_S16_LE ||
        Ask(fd, SNDCTL_DSP_SPEED, 22050) != 22050)
        return Fail("/dev/adsp settings");
    struct sigaction stop = {};
    stop.sa_handler = OnStop;
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);

    constexpr size_t kFrames = 1024;
    std::vector<int16_t> feed(kFrames * 2);
    std::vector<char> caught(16384);
    uint64_t fed = 0, kept = 0;
    // A device that says it is ready and moves nothing would spin here.
    int idle_wakes = 0;
    std::printf("cable ready\n");
    std::fflush(stdout);
    while (!g_stop) {
        struct pollfd p = {fd, POLLIN | POLLOUT, 0};
        if (poll(&p, 1, 1000) < 0) {
            if (errno == EINTR)
                continue;
            return Fail("poll");
        }
        bool moved = false;
        if (p.revents & POLLOUT) {
            for (size_t i = 0; i < kFrames; ++i)
                feed[2 * i] = feed[2 * i + 1] = static_cast<int16_t>((fed + i) & 0xFFFF);
            const ssize_t n = ::write(fd, feed.data(), feed.size() * sizeof feed[0]);
            if (n < 0 && errno != EINTR && errno != EAGAIN)
                return Fail("write /dev/adsp");
            // A part frame would shift every frame after it.
            if (n > 0 && n % 4 != 0) {
                errno = EIO;
                return Fail("part frame written to /dev/adsp");
            }
            if (n > 0)
                fed += static_cast<uint64_t>(n) / 4;
            moved = moved || n > 0;
        }
        if (p.revents & POLLIN) {
            const ssize_t n = ::read(fd, caught.data(), caught.size());
            if (n < 0 && errno != EINTR && errno != EAGAIN)
                return Fail("read /dev/adsp");
            if (n > 0 && !WriteAll(out, caught.data(), static_cast<size_t>(n)))
                return Fail(out_path);
            if (n > 0)
                kept += static_cast<uint64_t>(n);
            moved = moved || n > 0;
        }
        idle_wakes = moved || p.revents == 0 ? 0 : idle_wakes + 1;
        if (idle_wakes > 1000) {
            std::fprintf(stderr, "boardtool cable: /dev/adsp says %#x and moves nothing\n",
                         p.revents);
            return 1;
        }
    }
    std::printf("cable: fed %llu frames, caught %llu bytes\n", static_cast<unsigned long long>(fed),
                static_cast<unsigned long long>(kept));
    ::close(fd);
    return ::close(out) == 0 ? 0 : Fail(out_path);
}

// ---- await ----

double Now()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Reads the file as it grows, woken by inotify on its folder, until a line
// holds the text; the file may not exist yet. The process that writes it,
// when given, ends the wait when it ends (its pidfd turns readable).
int Await(const char* path, const char* text, double seconds, int writer)
{
    const int writer_fd = writer > 0 ? static_cast<int>(syscall(SYS_pidfd_open, writer, 0)) : -1;
    const int watch = inotify_init1(IN_CLOEXEC);
    std::string folder = path;
    folder = folder.find('/') == std::string::npos ? "." : folder.substr(0, folder.rfind('/') + 1);
    if (watch < 0 || inotify_add_watch(watch, folder.c_str(), IN_CREATE | IN_MODIFY) < 0)
        return Fail("inotify");
    const double deadline = Now() + seconds;
    int fd = -1;
    bool writer_gone = false;
    std::string pending;
    for (;;) {
        if (fd < 0)
            fd = ::open(path, O_RDONLY | O_CLOEXEC);
        char buf[4096];
        ssize_t n;
        while (fd >= 0 && (n = ::read(fd, buf, sizeof buf)) > 0) {
            pending.append(buf, static_cast<size_t>(n));
            for (size_t end; (end = pending.find('\n')) != std::string::npos;
                 pending.erase(0, end + 1)) {
                if (pending.substr(0, end).find(text) != std::string::npos)
                    return 0;
            }
        }
        if (writer_gone) {
            std::fprintf(stderr, "boardtool: process %d ended before \"%s\" came in %s\n", writer,
                         text, path);
            return 1;
        }
        const double left = deadline - Now();
        if (left <= 0) {
            std::fprintf(stderr, "boardtool: \"%s\" did not come in %s within %.0f s\n", text, path,
                         seconds);
            return 1;
        }
        struct pollfd p[2] = {{watch, POLLIN, 0}, {writer_fd, POLLIN, 0}};
        if (poll(p, 2, static_cast<int>(left * 1000) + 1) > 0 && (p[0].revents & POLLIN)) {
            char events[4096];
            if (::read(watch, events, sizeof events) < 0 && errno != EINTR)
                return Fail("inotify read");
        }
        // What it wrote before it ended is read once more above.
        writer_gone = p[1].revents & POLLIN;
    }
}

// ---- a slow card ----

// One request to the device mapper, with room for one target's table line.
struct MapperRequest {
    struct dm_ioctl io;
    struct dm_target_spec target;
    char params[256];
};

void Address(MapperRequest* r, const char* name)
{
    std::memset(r, 0, sizeof *r);
    r->io.version[0] = DM_VERSION_MAJOR;
    r->io.data_size = sizeof *r;
    r->io.data_start = sizeof r->io;
    std::snprintf(r->io.name, sizeof r->io.name, "%s", name);
}

bool Mapper(int control, unsigned long request, const char* name, MapperRequest* r)
{
    Address(r, name);
    return ioctl(control, request, r) == 0;
}

// The kernel's "delay" target holds each write for the time given and lets
// reads through. Loading a table into a disk in use and resuming it swaps
// the tables between two requests, and what the old one still held is let
// go: a card that heals at once.
int Delay(const char* name, const char* device, int ms)
{
    const int control = ::open("/dev/mapper/control", O_RDWR | O_CLOEXEC);
    const int disk = ::open(device, O_RDONLY | O_CLOEXEC);
    uint64_t bytes = 0;
    if (control < 0 || disk < 0 || ioctl(disk, BLKGETSIZE64, &bytes) != 0)
        return Fail(device);
    ::close(disk);
    MapperRequest r;
    if (!Mapper(control, DM_DEV_STATUS, name, &r) && !Mapper(control, DM_DEV_CREATE, name, &r))
        return Fail("DM_DEV_CREATE");
    Address(&r, name);
    r.io.target_count = 1;
    r.target.length = bytes / 512;
    std::snprintf(r.target.target_type, sizeof r.target.target_type, "delay");
    std::snprintf(r.params, sizeof r.params, "%s 0 0 %s 0 %d", device, device, ms);
    if (ioctl(control, DM_TABLE_LOAD, &r) != 0)
        return Fail("DM_TABLE_LOAD");
    // Not frozen on the way: freezing the file system would first sync it
    // through the slow table.
    Address(&r, name);
    r.io.flags = DM_SKIP_LOCKFS_FLAG;
    if (ioctl(control, DM_DEV_SUSPEND, &r) != 0)
        return Fail("DM_DEV_SUSPEND");
    ::close(control);
    // The kernel's encoding of a device number with a wide minor.
    const unsigned minor = static_cast<unsigned>((r.io.dev & 0xff) | ((r.io.dev >> 12) & 0xfff00));
    std::printf("delay %d ms on /dev/dm-%u\n", ms, minor);
    return 0;
}

// ---- the menu program ----

int Menu(int argc, char** argv)
{
    char cwd[PATH_MAX] = "?";
    if (!getcwd(cwd, sizeof cwd))
        std::snprintf(cwd, sizeof cwd, "?");
    std::string line =
        "menu: cwd=" + std::string(cwd) + " argc=" + std::to_string(argc - 1) + " args=";
    for (int i = 1; i < argc; ++i)
        line += (i > 1 ? " " : "") + std::string(argv[i]);
    // Every descriptor it was started with; 0, 1 and 2 are its own.
    line += " inherited=";
    std::string inherited;
    for (int fd = 3; fd < 1024; ++fd) {
        if (fcntl(fd, F_GETFD) < 0)
            continue;
        char link[64], target[PATH_MAX] = {};
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        if (readlink(link, target, sizeof target - 1) < 0)
            std::snprintf(target, sizeof target, "?");
        inherited += (inherited.empty() ? "" : ",") + std::to_string(fd) + ":" + target;
    }
    line += inherited.empty() ? "none" : inherited;
    std::printf("%s\n", line.c_str());
    return 0;
}

int Usage()
{
    std::fprintf(stderr,
                 "usage: boardtool pad | cable OUT | await FILE TEXT SECONDS [PID] |\n"
                 "       delay NAME DEVICE MS | orvomenu ARG...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* name = std::strrchr(argv[0], '/');
    name = name ? name + 1 : argv[0];
    if (std::strcmp(name, "orvomenu") == 0)
        return Menu(argc, argv);
    if (argc < 2)
        return Usage();
    const std::string job = argv[1];
    if (job == "pad" && argc == 2)
        return Pad();
    if (job == "cable" && argc == 3)
        return Cable(argv[2]);
    if (job == "await" && (argc == 5 || argc == 6))
        return Await(argv[2], argv[3], std::atof(argv[4]), argc == 6 ? std::atoi(argv[5]) : 0);
    if (job == "delay" && argc == 5)
        return Delay(argv[2], argv[3], std::atoi(argv[4]));
    return Usage();
}
