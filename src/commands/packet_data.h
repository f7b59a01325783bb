// Copying reply data to a caller without handing out what is not data.
#pragma once

#include <algorithm>
#include <cstring>

#include "protocol/exchange.h"

namespace zr {

// Copies `length` bytes of the Response packet in `reply`, starting at
// `offset`, to `out`. Positions past the end of the packet (its two CRC bytes,
// and whatever an earlier, longer try left in the buffer) are written as 0:
// a reply shorter than the caller's output never passes its CRC or stale
// bytes off as data.
inline void copyPacketData(const Reply& reply, int offset, int length, uint8_t* out) {
    if (length <= 0) return;
    const int packetEnd = reply.count - 2;
    const int inPacket = std::clamp(packetEnd - offset, 0, length);
    copyOut(reply, offset, inPacket, out);
    std::memset(out + inPacket, 0, static_cast<size_t>(length - inPacket));
}

}  // namespace zr
