// The TCP connection of an open "TCP" reader and its socket primitives.
//
// The connection owns the stream socket to port 7086 and the per-connection
// state of the TCP link: reassembly of replies and counting of the replies
// still unread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace zr::link {

constexpr uint16_t kReaderTcpPort = 7086;

// Reassembly of replies from the byte stream (receive side).
struct TcpReassembly {
    uint8_t buffer[1024] = {};
    uint8_t state = 0;          // 0 nothing held, 1 one length byte held, 2 length known
    int count = 0;              // bytes of the current packet held in buffer
    uint16_t announced = 0;     // L of the packet being received
    uint32_t discarding = 0;    // bytes of an oversized packet still to drop, or all until quiet
};

// Counting of the packets sent, so stale replies can be drained (send side).
struct TcpSendCounter {
    uint32_t passOver = 0;      // bytes of the current packet still to go by
    int outstanding = 0;        // replies that may still wait unread
    int state = 0;              // 0 length high byte next, 1 length low byte next, 2 passing over
};

struct TcpConnection {
    int socket = -1;
    int active = 0;             // 1 from TcpConnect until TcpClose
    TcpReassembly reassembly;
    TcpSendCounter sendCounter;
};

// Creates a socket and starts a non-blocking connect to `host`:7086. The
// connection, marked active, or null when the socket could not be set up.
std::unique_ptr<TcpConnection> TcpConnect(const std::string& host);

// 0 not active; 1 error; 2 writable (connected); 3 time-out.
int TcpWaitWritable(const TcpConnection& connection, int ms);

// Bytes sent; 0 if not writable within 1 s; -1 on error.
int TcpSendRaw(TcpConnection& connection, const uint8_t* bytes, int length);

// Bytes received; 0 if nothing readable within 2 ms or the peer closed; -1 on error.
int TcpRecvRaw(TcpConnection& connection, uint8_t* buffer, int length);

// Marks the connection inactive, closes the socket and releases the
// connection. 0 when the socket closed cleanly.
int TcpClose(std::unique_ptr<TcpConnection> connection);

}  // namespace zr::link
