// Helpers shared by the POSIX implementation files (not part of the
// platform interface).
#pragma once

#include <poll.h>

#include <cstdint>

namespace zr::platform::posix {

// Waits up to `timeoutMicros` for `events` on `fd`, resuming interrupted
// waits for the time that is left. 1 ready (revents stored), 0 time-out,
// -1 error.
int pollFor(int fd, short events, int64_t timeoutMicros, short* revents);

}  // namespace zr::platform::posix
