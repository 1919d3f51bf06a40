// The platform calls on the handheld itself: the C library on the real paths.

#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <vector>

#include "platform/exec_arguments.h"
#include "platform/sys.h"

namespace sys {

int open(const char* path, int flags, mode_t mode)
{
    return ::open(path, flags, mode);
}
int close(int fd)
{
    return ::close(fd);
}
ssize_t read(int fd, void* buf, size_t count)
{
    return ::read(fd, buf, count);
}
ssize_t write(int fd, const void* buf, size_t count)
{
    return ::write(fd, buf, count);
}
off_t lseek(int fd, off_t offset, int whence)
{
    return ::lseek(fd, offset, whence);
}
int ioctl(int fd, unsigned long request, void* arg)
{
    return ::ioctl(fd, request, arg);
}
int poll(struct pollfd* fds, nfds_t nfds, int timeout_ms)
{
    return ::poll(fds, nfds, timeout_ms);
}
int access(const char* path, int mode)
{
    return ::access(path, mode);
}
int lstat(const char* path, struct stat* st)
{
    return ::lstat(path, st);
}
int fstat(int fd, struct stat* st)
{
    return ::fstat(fd, st);
}
int mkdir(const char* path, mode_t mode)
{
    return ::mkdir(path, mode);
}
int unlink(const char* path)
{
    return ::unlink(path);
}
void sync()
{
    ::sync();
}
int fdatasync(int fd)
{
    return ::fdatasync(fd);
}

int ftruncate(int fd, off_t length)
{
    return ::ftruncate(fd, length);
}

int chdir(const char* path)
{
    return ::chdir(path);
}
int execl(const char* path, const char* arg, ...)
{
    va_list more;
    va_start(more, arg);
    std::vector<char*> argv = ExecArguments(arg, more);
    va_end(more);
    return ::execv(path, argv.data());
}
time_t time(time_t* out)
{
    return ::time(out);
}
std::string resolve(const char* path)
{
    return path ? path : "";
}

}  // namespace sys
