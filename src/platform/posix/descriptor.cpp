// Descriptor numbers of the devices the library opens.
#include <fcntl.h>
#include <unistd.h>

#include "platform/posix/wait.h"

namespace zr::platform::posix {

int aboveStandardStreams(int fd) {
    if (fd < 0 || fd > 2) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

}  // namespace zr::platform::posix
