// The TCP link's stream logic, free of sockets: reassembly of replies from a
// byte stream, counting of the packets sent, the stale-reply drain and the
// packet receiver's checks. The socket reads and writes are handed in as
// callables, so the same code runs over a real connection (tcp_link.cpp),
// over scripted chunks in tests, and over fuzz input.
//
//   recv(uint8_t* buffer, int length) -> bytes received (at most length),
//       0 when nothing arrived, negative on a socket error
//   send(const uint8_t* bytes, int length) -> bytes sent, 0 when the socket
//       was not writable, negative on a socket error
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "link/framing.h"
#include "link/tcp_connection.h"

namespace zr::link {

// Largest protected packet the TCP packet receiver accepts (L up to 96).
constexpr int kTcpReceiveCapacity = 100;
// Capacity of the drain into which stale replies are received.
constexpr int kTcpDrainCapacity = 1024;
// Reassembly steps one receive makes before giving up.
constexpr int kTcpReceiveSteps = 30;
// Stale-reply drain attempts before a send, at most.
constexpr int kTcpDrainAttempts = 20;
// Send attempts within which a packet must be complete.
constexpr int kTcpSendAttempts = 51;
// Reads of a whole reassembly buffer one step makes while it drops a stream
// that lost its packet boundaries (64 KiB), so a peer that never stops
// sending cannot hold a step for ever.
constexpr int kTcpQuietReads = 64;
// `TcpReassembly::discarding` while everything is dropped until the stream
// goes quiet.
constexpr uint32_t kTcpDiscardUntilQuiet = UINT32_MAX;

namespace detail {

// Nothing held: the next byte received begins a length field.
inline void tcpStartOver(TcpReassembly& r) {
    r.state = 0;
    r.count = 0;
    r.discarding = 0;
}

inline int tcpDeliver(TcpReassembly& r, uint8_t* dest) {
    const int total = r.count;
    std::memcpy(dest, r.buffer, static_cast<size_t>(total));
    tcpStartOver(r);
    return total;
}

// A length no packet can have (more than the reassembly buffer holds) means
// the stream lost its packet boundaries: bytes that are no packet (noise on
// the line, a peer's garbage) or a packet cut short. Whatever arrives is
// dropped until the stream stays quiet for one receive wait; the next
// length field after the silence starts a new packet, which is where the
// reply to the next command begins.
template <class Recv>
int tcpDiscardUntilQuiet(TcpReassembly& r, Recv& recv) {
    for (int read = 0; read < kTcpQuietReads; ++read) {
        const int got = recv(r.buffer, static_cast<int>(sizeof r.buffer));
        if (got < 0) return got;
        if (got == 0) {
            tcpStartOver(r);
            return 0;
        }
    }
    return 0;
}

// The length field is complete (count 2): the body comes next.
inline void tcpLengthKnown(TcpReassembly& r) {
    r.announced = static_cast<uint16_t>(256 * r.buffer[0] + r.buffer[1]);
    r.state = 2;
    r.count = 2;
}

// Receives more of the packet whose length is known. Keeps whatever part of
// the body arrives; delivers once the packet is whole. A packet that does not
// fit the reassembly buffer or this step's destination is dropped as it
// arrives, also one that a step with a larger destination began (the drain
// takes 1024 bytes, the packet receiver 100).
template <class Recv>
int tcpCollectBody(TcpReassembly& r, Recv& recv, uint8_t* dest, int capacity) {
    const int limit = std::min<int>(capacity, static_cast<int>(sizeof r.buffer));
    if (r.discarding == 0 && r.announced + 4 > static_cast<int>(sizeof r.buffer)) r.discarding = kTcpDiscardUntilQuiet;
    if (r.discarding == 0 && r.announced + 4 > limit) r.discarding = static_cast<uint32_t>(r.announced + 4 - r.count);
    if (r.discarding == kTcpDiscardUntilQuiet) return tcpDiscardUntilQuiet(r, recv);
    if (r.discarding > 0) {
        // An oversized packet: its bytes go through the reassembly buffer
        // and are dropped; the next length field starts a new packet.
        const int want = static_cast<int>(std::min<uint32_t>(r.discarding, sizeof r.buffer));
        const int got = recv(r.buffer, want);
        if (got <= 0) return got;
        r.discarding -= static_cast<uint32_t>(got);
        if (r.discarding == 0) tcpStartOver(r);
        return 0;
    }
    const int want = r.announced + 4 - r.count;
    const int got = recv(r.buffer + r.count, want);
    if (got <= 0) return got;
    r.count += got;
    if (got == want) return tcpDeliver(r, dest);
    return 0;
}

}  // namespace detail

// One step of reply reassembly. Returns the count of a packet delivered to
// `dest` (L + 4, never more than `capacity`), 0 when none is complete yet,
// or the negative result of a failed receive. A partial packet survives
// between steps, however its bytes are split. A packet announcing more than
// `capacity` is dropped as it arrives and never delivered; a length beyond
// the reassembly buffer drops the stream until it goes quiet.
template <class Recv>
int TcpReassemble(TcpReassembly& r, Recv&& recv, uint8_t* dest, int capacity) {
    switch (r.state) {
        case 0: {
            const int got = recv(r.buffer, 2);
            if (got <= 0) return got;
            if (got == 1) {
                r.state = 1;
                r.count = 1;
                return 0;
            }
            detail::tcpLengthKnown(r);
            return detail::tcpCollectBody(r, recv, dest, capacity);
        }
        case 1: {
            const int got = recv(r.buffer + 1, 1);
            if (got != 1) return got;
            detail::tcpLengthKnown(r);
            return detail::tcpCollectBody(r, recv, dest, capacity);
        }
        default:
            return detail::tcpCollectBody(r, recv, dest, capacity);
    }
}

// Reassembly steps until a packet is delivered, at most kTcpReceiveSteps;
// the last step's result.
template <class Recv>
int TcpReceiveRetry(TcpReassembly& r, Recv&& recv, uint8_t* dest, int capacity) {
    int result = 0;
    for (int step = 0; step < kTcpReceiveSteps; ++step) {
        result = TcpReassemble(r, recv, dest, capacity);
        if (result > 0) break;
    }
    return result;
}

// Passes `sent` bytes that just went onto the stream through the send-side
// parser: each packet whose last CRC byte passes adds `repliesPerPacket` to
// the outstanding replies. The parser's state carries over between calls, so
// a packet split over several sends counts once, at its end. While the low
// length byte is awaited, passOver holds the high byte.
inline void TcpCountSent(TcpSendCounter& c, const uint8_t* bytes, int sent, int repliesPerPacket) {
    int i = 0;
    while (i < sent) {
        if (c.state == 0) {
            c.passOver = bytes[i++];
            c.state = 1;
        } else if (c.state == 1) {
            c.passOver = 256 * c.passOver + bytes[i++] + 2;
            c.state = 2;
        } else {
            const uint32_t left = static_cast<uint32_t>(sent - i);
            if (c.passOver > left) {
                c.passOver -= left;
                return;
            }
            i += static_cast<int>(c.passOver);
            c.passOver = 0;
            c.outstanding += repliesPerPacket;
            c.state = 0;
        }
    }
}

// Drains replies that may still wait unread from earlier packets, then makes
// one send and counts what went out. The drain goes on until an attempt
// finds nothing or kTcpDrainAttempts attempts were made; the drained bytes
// are thrown away. Returns the send's result.
template <class Recv, class Send>
int TcpSendCounted(TcpReassembly& r, TcpSendCounter& c, Recv&& recv, Send&& send, const uint8_t* bytes, int length,
                   int repliesPerPacket) {
    uint8_t drain[kTcpDrainCapacity];
    for (int attempt = 0; c.outstanding > 0 && attempt < kTcpDrainAttempts; ++attempt) {
        if (TcpReceiveRetry(r, recv, drain, kTcpDrainCapacity) <= 0) c.outstanding = 0;
    }
    c.outstanding = 0;
    const int sent = send(bytes, length);
    if (sent <= 0) return sent;
    TcpCountSent(c, bytes, sent, repliesPerPacket);
    return sent;
}

// Sends a protected packet (`length` bytes) in as many sends as the stream
// takes. True when it was complete within kTcpSendAttempts sends; after that
// one more send is made and the packet counts as failed.
template <class Recv, class Send>
bool TcpSendAll(TcpReassembly& r, TcpSendCounter& c, Recv&& recv, Send&& send, const uint8_t* bytes, int length) {
    int remaining = length;
    int position = 0;
    for (int attempt = 1;; ++attempt) {
        const int sent = TcpSendCounted(r, c, recv, send, bytes + position, remaining, 1);
        if (sent >= 0) {
            remaining -= sent;
            position += sent;
        }
        if (remaining <= 0) return attempt <= kTcpSendAttempts;
        if (attempt > kTcpSendAttempts) return false;
    }
}

// The packet receiver's work once the connection is known to be usable:
// reassemble into a 100-byte buffer, refuse packets shorter than
// `minimum` + 2 or longer than 100 bytes, copy the packet to `buffer` and
// return its count if its CRC test passes, else 0.
template <class Recv>
int TcpReceiveChecked(TcpReassembly& r, Recv&& recv, uint8_t* buffer, int minimum) {
    uint8_t work[kTcpReceiveCapacity] = {};
    const int n = TcpReceiveRetry(r, recv, work, kTcpReceiveCapacity);
    if (n < minimum + 2) return 0;
    const int total = 256 * work[0] + work[1] + 4;
    if (total > kTcpReceiveCapacity) return 0;
    uint16_t crc = 0;
    for (int i = 0; i < total; ++i) {
        crc = FrameCrcUpdate(work[i], crc);
        buffer[i] = work[i];
    }
    return crc == 0 ? total : 0;
}

}  // namespace zr::link
