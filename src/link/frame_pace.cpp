#include "link/frame_pace.h"

#include "platform/platform.h"

namespace zr::link {

void framePace() {
    const int64_t start = platform::monotonicMicros();
    for (int i = 0; i < kFramePaceIterations; ++i) {
        // An empty statement the optimiser must keep: the loop is the delay.
        asm volatile("" ::: "memory");
    }
    while (platform::monotonicMicros() - start < kFramePaceFloorMicros) {
        asm volatile("" ::: "memory");
    }
}

}  // namespace zr::link
