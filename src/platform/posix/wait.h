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

// A serial or USB device opened while the host had closed a standard stream
// would get its number, and the serial and USB routines refuse handle 0.
// Moves such an `fd` to the lowest free number from 3 on (close-on-exec) and
// closes the original. Other numbers are returned as they are; -1 when the
// move failed.
int aboveStandardStreams(int fd);

}  // namespace zr::platform::posix
