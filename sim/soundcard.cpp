#include "sim/soundcard.h"

#include <errno.h>
#include <unistd.h>

// Until the card is simulated, the handheld has no sound device at all.
namespace sim {
namespace soundcard {

int Access(Node, int)
{
    errno = ENOENT;
    return -1;
}

int Open(Node, int)
{
    errno = ENOENT;
    return -1;
}

int Ioctl(Node, int, unsigned long, void*)
{
    errno = EBADF;
    return -1;
}

int Close(Node, int fd)
{
    return ::close(fd);
}

}  // namespace soundcard
}  // namespace sim
