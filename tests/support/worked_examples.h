// The three worked frames of the link layer: a packet, its Frame CRC, its
// stuffed Link frame (serial and USB) and its TCP wire form. Shared by the
// framing, serial and USB tests.
#pragma once

#include <cstdint>

namespace zr::test {

struct WorkedExample {
    const char* packet;
    uint16_t crc;
    const char* linkFrame;
    const char* tcpForm;
};

inline constexpr WorkedExample kWorkedExamples[] = {
    {"00 01 6C", 0x876B, "55 00 01 6C 87 6B", "00 01 6C 87 6B"},
    {"00 03 71 55 56", 0x4525, "55 00 03 71 56 56 56 57 45 25", "00 03 71 55 56 45 25"},
    {"00 02 71 14", 0x2656, "55 00 02 71 14 26 56 57", "00 02 71 14 26 56"},
};

}  // namespace zr::test
