// Sleeping and the monotonic clock.
#include <time.h>

#include <cerrno>

#include "platform/platform.h"
#include "platform/posix/wait.h"

namespace zr::platform {

int64_t monotonicMicros() {
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

void sleepMs(int ms) {
    if (ms <= 0) return;
    // Sleeping to an absolute deadline makes an interrupted sleep resume for
    // exactly the time that is left.
    timespec deadline {};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += ms / 1000;
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

namespace posix {

int pollFor(int fd, short events, int64_t timeoutMicros, short* revents) {
    const int64_t deadline = monotonicMicros() + (timeoutMicros > 0 ? timeoutMicros : 0);
    for (;;) {
        int64_t left = deadline - monotonicMicros();
        if (left < 0) left = 0;
        timespec timeout {static_cast<time_t>(left / 1000000), static_cast<long>(left % 1000000) * 1000};
        pollfd p {fd, events, 0};
        int r = ppoll(&p, 1, &timeout, nullptr);
        if (r < 0 && errno == EINTR) continue;  // resume for the time that is left
        if (r < 0) return -1;
        if (revents) *revents = p.revents;
        return r;
    }
}

}  // namespace posix
}  // namespace zr::platform
