#pragma once
// The POSIX calls the recorder makes on handheld paths and devices. Same names,
// arguments, results and errno as the C library's; the application writes
// sys::access("/dev/dsp", W_OK) and the backend chosen at link time decides
// what that path is: the real one on the handheld, a folder of the PC in the
// simulator, where the devices are simulated too.
//
// Callers: the audio stream (devices, WAV files), the view (GPIO, SD card,
// clock), the exit hand-off (chdir, execl).

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include <string>

// Recordings grow towards 2 GiB and the handheld's clock runs past 2038: with
// 32-bit file offsets or times both go wrong, and the tests of them, which
// only mean something where these types could be narrow, would pass on a
// build that never had the narrow ones. So no such build is made.
static_assert(sizeof(off_t) == 8, "off_t must have 64 bits: build with _FILE_OFFSET_BITS=64");
static_assert(sizeof(time_t) == 8, "time_t must have 64 bits: build with _TIME_BITS=64");

namespace sys {

int open(const char* path, int flags, mode_t mode = 0);
int close(int fd);
ssize_t read(int fd, void* buf, size_t count);
ssize_t write(int fd, const void* buf, size_t count);
off_t lseek(int fd, off_t offset, int whence);
// The request words are those of the handheld (OSS and the GPIO driver).
int ioctl(int fd, unsigned long request, void* arg);
int poll(struct pollfd* fds, nfds_t nfds, int timeout_ms);
int access(const char* path, int mode);
int lstat(const char* path, struct stat* st);
int fstat(int fd, struct stat* st);
int mkdir(const char* path, mode_t mode);
int unlink(const char* path);
void sync();
// Flushes one file's data to its storage, without waiting for the rest.
int fdatasync(int fd);
int ftruncate(int fd, off_t length);
int chdir(const char* path);
// Only returns on failure, like the C library's. The argument list ends with
// a null pointer.
int execl(const char* path, const char* arg, ...);
// The handheld's clock.
time_t time(time_t* out);

// The host path of a handheld path, for the few libraries that open a file
// themselves (the font, the images' loader, the settings parser). Relative
// paths are returned unchanged. An empty string means the path cannot exist.
std::string resolve(const char* path);

}  // namespace sys
