// The status mapping: the reader's Status byte to a result code, by device
// class.
#pragma once

#include <cstdint>

namespace zr {

// Status byte → result code for `deviceClass` (3, or any other class).
//   0x00 → 1; 0x01..0x09 → 1001..1009; 0x11..0x16 → 1010..1015;
//   0x20..0x26 → 2001..2007 (all classes);
//   class 3:      0x60..0x69 → 3001..3010; 0x3A, 0x3F, 0x90..0x9C → -20;
//   other classes: 0x90..0x9C → 4001..4013; 0x3A → -7; 0x3F → -5; 0x60..0x69 → -20;
//   anything else → -20.
int mapStatus(uint8_t status, uint8_t deviceClass);

// Status mapping with the process-wide device class.
int mapStatus(uint8_t status);

}  // namespace zr
