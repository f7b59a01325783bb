// The de-stuffing read over fuzz bytes, and Link frames of fuzz packets read
// back through it. Input: gap byte (see GappedReads), then the bytes.
#include <cstdlib>
#include <vector>

#include "fuzz_input.h"
#include "link/framing.h"

using namespace zr::link;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;

    // Arbitrary input: every outcome is one of the three, and a data byte
    // 0x55 or a start byte only comes from the stuffed forms or a raw 0x55.
    zr::fuzz::GappedReads source{data + 1, size - 1, data[0]};
    while (!source.done()) {
        uint8_t out = 0;
        const int r = readUnstuffed(source, out);
        if (r != kUnstuffedData && r != kUnstuffedStart && r != kUnstuffedNothing) abort();
        if (r == kUnstuffedStart && out != kStartByte) abort();
    }

    // The bytes as a packet: its Link frame reads back as a start byte, the
    // packet and its CRC, in order, with nothing left over.
    const std::vector<uint8_t> packet(data + 1, data + size);
    const std::vector<uint8_t> frame = linkFrameOf(packet);
    if (frame.size() > maxLinkFrameLength(packet.size())) abort();
    std::vector<uint8_t> wire(packet.size() + 2);
    buildProtectedPacket(packet.data(), packet.size(), wire.data());
    zr::fuzz::GappedReads frameSource{frame.data(), frame.size(), 0};
    uint8_t out = 0;
    if (readUnstuffed(frameSource, out) != kUnstuffedStart) abort();
    for (uint8_t expected : wire) {
        if (readUnstuffed(frameSource, out) != kUnstuffedData || out != expected) abort();
    }
    if (!frameSource.done()) abort();
    if (!protectedPacketValid(wire.data(), wire.size())) abort();
    return 0;
}
