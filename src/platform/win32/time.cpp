// Sleeping and the monotonic clock.
#include "platform/platform.h"
#include "platform/win32/win32.h"

namespace zr::platform {

int64_t monotonicMicros() {
    static const int64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<int64_t>(f.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    // Split to keep the multiplication from overflowing on long uptimes.
    const int64_t ticks = now.QuadPart;
    return ticks / frequency * 1000000 + ticks % frequency * 1000000 / frequency;
}

void sleepMs(int ms) {
    // Sleep is never cut short on Windows.
    if (ms > 0) Sleep(static_cast<DWORD>(ms));
}

}  // namespace zr::platform
