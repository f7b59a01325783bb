// The TCP link: protected packets on the stream of a TcpConnection, with
// reassembly of replies and a drain of stale replies before each send. The
// socket-free logic lives in tcp_stream.h; these routines run it over the
// connection's socket primitives.
#pragma once

#include <cstdint>

#include "link/tcp_connection.h"
#include "link/tcp_stream.h"

namespace zr::link {

// One reassembly step over the connection's stream (see tcp_stream.h).
int TcpReassemble(TcpConnection& connection, uint8_t* dest, int capacity);

// Up to 30 reassembly steps, until a packet is delivered.
int TcpReceiveRetry(TcpConnection& connection, uint8_t* dest, int capacity);

// Drain of stale replies, then one send, counted. The send's result.
int TcpSendCounted(TcpConnection& connection, const uint8_t* bytes, int length, int repliesPerPacket);

// Sends a packet followed by its CRC: `length` + 2 on success, 0 when the
// connection is missing, not writable within 50 ms, or the packet was not
// complete within 51 sends.
int TcpSendPacket(TcpConnection* connection, const uint8_t* packet, int length);

// Receives one protected packet into `buffer` (256 bytes): its count (L + 4)
// when it is at least `minimum` + 2 and at most 100 bytes long and passes the
// CRC test, else 0. The command code is not examined.
int TcpReceivePacket(TcpConnection* connection, uint8_t* buffer, int minimum, uint8_t ignoredCode);

}  // namespace zr::link
