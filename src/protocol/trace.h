// Byte tracing: every protected packet sent and received, with time,
// direction, link and hex. Off by default and then costs one relaxed atomic
// load per packet. Turned on by the environment (ZR_TRACE=stderr or
// ZR_TRACE=/path/to/file, read once at the first exchange) or by a callback
// registered with ZRSetTraceCallback.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/link.h"

namespace zr::trace {

enum class Direction { Send, Receive };

// True when a trace sink is active.
bool enabled();

// Traces one protected packet (packet and CRC) of `port` on `kind`.
void packet(Direction direction, link::LinkKind kind, int port, const uint8_t* bytes, size_t length);

// Traces a Command packet as it goes out: its protected form (CRC appended).
void commandSent(link::LinkKind kind, int port, const uint8_t* packet, size_t length);

// Formats one trace line (without newline): "<time> <link> port=<n> <send|recv> <hex>".
// Exposed for tests.
void formatLine(char* out, size_t capacity, int64_t unixMicros, Direction direction, link::LinkKind kind, int port,
                const uint8_t* bytes, size_t length);

}  // namespace zr::trace
