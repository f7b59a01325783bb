// The pause after each read inside a Link frame on the serial and USB links.
#pragma once

namespace zr::link {

// Busy-waits without sleeping and without a system call: 5000 iterations
// the compiler cannot remove, and never less than kFramePaceFloorMicros.
//
// The iterations alone take about 1.5 us (measured on a 2-core AMD EPYC
// virtual machine; a median pace with the floor is 10 us), which
// would make the in-frame silence tolerance (301 empty reads, each followed
// by one pace) well under a millisecond. The floor keeps it at 301 x 10 us,
// about 3 ms, above the time of two characters at 9600 baud (2.1 ms)
// however fast the machine is.
void framePace();

constexpr int kFramePaceIterations = 5000;
constexpr int kFramePaceFloorMicros = 10;

}  // namespace zr::link
