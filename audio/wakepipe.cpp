#include "audio/wakepipe.h"

#include <fcntl.h>
#include <unistd.h>

WakePipe::WakePipe()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        read_ = fds[0];
        write_ = fds[1];
    }
}

WakePipe::~WakePipe()
{
    if (read_ >= 0)
        ::close(read_);
    if (write_ >= 0)
        ::close(write_);
}

void WakePipe::Wake()
{
    // A full pipe already holds a wake-up: the byte may go.
    if (write_ >= 0) {
        const char one = 1;
        (void)!::write(write_, &one, 1);
    }
}

void WakePipe::Drain()
{
    char scrap[64];
    while (read_ >= 0 && ::read(read_, scrap, sizeof scrap) > 0) {
    }
}
