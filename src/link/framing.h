// Packet framing shared by the library and the simulated reader: the Frame
// CRC, the byte-stuffed Link frame of the serial and USB links, the
// byte-by-byte sender, the de-stuffing read and the frame receiver, and the
// reader-side stream decoders. No operating-system calls: byte sources and
// sinks are handed in by the caller. (TCP reassembly: tcp_stream.h.)
//
// A packet is a 16-bit big-endian length L, then L bytes (command code
// first). A protected packet is the packet followed by its CRC, high byte
// first: L + 4 bytes. On serial and USB a protected packet travels stuffed
// behind the start byte 0x55; on TCP it travels as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zr::link {

constexpr uint8_t kStartByte = 0x55;
constexpr uint8_t kEscapeByte = 0x56;

// Largest protected packet the serial and USB frame receivers store.
constexpr int kFrameReceiveCapacity = 256;

// ---- Frame CRC (CRC-16/UMTS: poly 0x8005, init 0, no reflection, no xorout) ----

// One CRC step: index = (crc >> 8) ^ byte; crc = (crc << 8) ^ table[index].
uint16_t FrameCrcUpdate(uint8_t byte, uint16_t crc);

// CRC of a byte sequence, starting from 0.
uint16_t frameCrc(const uint8_t* bytes, size_t length);

// ---- Building --------------------------------------------------------------------

// Largest Link frame a packet of `packetLength` bytes can need.
constexpr size_t maxLinkFrameLength(size_t packetLength) { return 1 + 2 * (packetLength + 2); }

// Writes the stuffed form of `byte` to `out` (0x55 -> 56 56, 0x56 -> 56 57,
// others themselves); returns 1 or 2.
size_t stuffByte(uint8_t byte, uint8_t* out);

// Writes the Link frame of a packet to `out` (capacity maxLinkFrameLength):
// start byte, stuffed packet, stuffed CRC. Returns the frame length.
size_t buildLinkFrame(const uint8_t* packet, size_t length, uint8_t* out);

// The Link frame of a packet, as a new vector.
std::vector<uint8_t> linkFrameOf(const std::vector<uint8_t>& packet);

// Writes the protected packet (packet, CRC high, CRC low) to `out`
// (capacity length + 2). Returns length + 2.
size_t buildProtectedPacket(const uint8_t* packet, size_t length, uint8_t* out);

// True when the CRC run over all bytes of a protected packet ends at 0.
bool protectedPacketValid(const uint8_t* bytes, size_t length);

// ---- Byte-by-byte sender (serial link) ----------------------------------------------

// Calls of the single-byte write spent on one output byte before giving up.
constexpr int kByteWriteCalls = 100;

// Writes one output byte with `writeByte(uint8_t) -> bool`, calling it until
// it reports the byte written, at most kByteWriteCalls times.
template <class WriteByte>
bool writeByteRetrying(WriteByte&& writeByte, uint8_t byte) {
    for (int call = 0; call < kByteWriteCalls; ++call) {
        if (writeByte(byte)) return true;
    }
    return false;
}

// Writes the stuffed form of one byte, each output byte with its own retry
// budget; the second byte of a pair is started only after the first went out.
// False as soon as an output byte could not be written (the first byte of a
// pair may then already be out).
template <class WriteByte>
bool writeStuffedByte(WriteByte&& writeByte, uint8_t byte) {
    uint8_t out[2];
    size_t n = stuffByte(byte, out);
    for (size_t i = 0; i < n; ++i) {
        if (!writeByteRetrying(writeByte, out[i])) return false;
    }
    return true;
}

// Sends a packet as a Link frame one byte at a time: the start byte unstuffed,
// then each packet byte stuffed while the CRC runs over the raw bytes, then
// the stuffed CRC high and low bytes. Returns `length` when all went out; 0
// when the start byte or a CRC byte could not be written; i when packet byte
// i could not be written (the bytes before it did).
template <class WriteByte>
int sendLinkFrameBytewise(WriteByte&& writeByte, const uint8_t* packet, int length) {
    if (!writeByteRetrying(writeByte, kStartByte)) return 0;
    uint16_t crc = 0;
    for (int i = 0; i < length; ++i) {
        crc = FrameCrcUpdate(packet[i], crc);
        if (!writeStuffedByte(writeByte, packet[i])) return i;
    }
    if (!writeStuffedByte(writeByte, static_cast<uint8_t>(crc >> 8))) return 0;
    if (!writeStuffedByte(writeByte, static_cast<uint8_t>(crc & 0xFF))) return 0;
    return length;
}

// ---- De-stuffing read and frame receiver (library side, polled) ---------------

// Outcomes of the de-stuffing read.
constexpr int kUnstuffedNothing = -1;
constexpr int kUnstuffedData = 1;
constexpr int kUnstuffedStart = 2;

// One de-stuffing read over `readByte` (a callable returning 0..255, or -1
// when nothing could be read). Each "read" is up to two calls of readByte,
// the second only after the first gave nothing.
//   55 -> start; 56 56 -> data 55; 56 57 -> data 56; 56 55 -> start;
//   56 b -> data b; 56 then nothing -> data 55; b -> data b; nothing -> nothing.
template <class ReadByte>
int readUnstuffed(ReadByte&& readByte, uint8_t& out) {
    auto read = [&]() {
        int b = readByte();
        return b >= 0 ? b : readByte();
    };
    int first = read();
    if (first < 0) return kUnstuffedNothing;
    if (first == kStartByte) {
        out = kStartByte;
        return kUnstuffedStart;
    }
    if (first != kEscapeByte) {
        out = static_cast<uint8_t>(first);
        return kUnstuffedData;
    }
    int second = read();
    if (second < 0 || second == kEscapeByte) {  // 56 at the end of the input, or 56 56
        out = kStartByte;
        return kUnstuffedData;
    }
    if (second == 0x57) {
        out = kEscapeByte;
        return kUnstuffedData;
    }
    if (second == kStartByte) {
        out = kStartByte;
        return kUnstuffedStart;
    }
    out = static_cast<uint8_t>(second);
    return kUnstuffedData;
}

// Empty in-frame reads tolerated before a receive gives up.
constexpr int kFrameIdleLimit = 300;

// The serial and USB frame receiver: hunt for a start byte, collect the
// de-stuffed protected packet into `buffer` (256 bytes), test its CRC and,
// when `expectedCode` is not 0, its command code. Corrupted frames and frames
// with another code are skipped and hunting goes on. Returns the number of
// bytes stored (L + 4), or 0 when the source runs dry before a good frame.
//
// `readUnstuffedByte(uint8_t&)` is the de-stuffing read of the link (returns
// kUnstuffedStart, kUnstuffedData, or anything else for nothing); `pace()` is
// called after each read inside a frame.
template <class ReadUnstuffed, class Pace>
int receiveLinkFrame(ReadUnstuffed&& readUnstuffedByte, Pace&& pace, uint8_t* buffer, uint8_t expectedCode) {
    uint8_t byte = 0;
    for (;;) {
        // Hunt for a start byte; data outside a frame is discarded.
        int r;
        while ((r = readUnstuffedByte(byte)) == kUnstuffedData) {
        }
        if (r != kUnstuffedStart) return 0;

        // Collect; a start byte inside the frame begins it anew.
        uint16_t crc = 0;
        int stored = 0;
        int expected = 6;
        int idle = 0;
        while (stored < expected) {
            r = readUnstuffedByte(byte);
            pace();
            if (r == kUnstuffedStart) {
                crc = 0;
                stored = 0;
                expected = 6;
                idle = 0;
                continue;
            }
            if (r != kUnstuffedData) {
                if (++idle > kFrameIdleLimit) return 0;
                continue;
            }
            crc = FrameCrcUpdate(byte, crc);
            buffer[stored] = byte;
            idle = 0;
            if (stored == 2) {
                // An expectation above the buffer ends the frame here, after
                // three bytes; the CRC test then decides about them.
                expected = 256 * buffer[0] + buffer[1] + 4;
                if (expected > kFrameReceiveCapacity) expected = 0;
            }
            ++stored;
        }

        // Verdict: corrupted frames and replies to another command are
        // skipped, and hunting goes on.
        if (crc != 0) continue;
        if (expectedCode != 0 && buffer[2] != expectedCode) continue;
        return stored;
    }
}

// ---- Stream decoders (reader side and test peers) ------------------------------

// Incremental decoder of Link frames from a byte stream, for the reader's
// side of a serial or USB link: feed bytes as they arrive, take whole
// protected packets (CRC checked, CRC bytes included) as they complete.
// Packets failing the CRC are dropped.
class LinkFrameDecoder {
public:
    // Feeds bytes; complete valid protected packets are appended to `packets`.
    void feed(const uint8_t* bytes, size_t length, std::vector<std::vector<uint8_t>>& packets);
    // Number of frames dropped for a bad CRC or an oversized length so far.
    size_t dropped() const { return dropped_; }

private:
    std::vector<uint8_t> frame_;
    bool inFrame_ = false;
    bool escaped_ = false;
    size_t expected_ = 6;
    size_t dropped_ = 0;
    void accept(uint8_t byte, std::vector<std::vector<uint8_t>>& packets);
};

// Incremental decoder of protected packets from a TCP byte stream (length
// field delimited), for the reader's side. Packets failing the CRC are
// dropped; `maxPacket` bounds the announced length (larger ones are skipped).
class TcpPacketDecoder {
public:
    explicit TcpPacketDecoder(size_t maxPacket = 1024) : maxPacket_(maxPacket) {}
    void feed(const uint8_t* bytes, size_t length, std::vector<std::vector<uint8_t>>& packets);
    size_t dropped() const { return dropped_; }

private:
    std::vector<uint8_t> pending_;
    size_t maxPacket_;
    size_t skip_ = 0;
    size_t dropped_ = 0;
};

}  // namespace zr::link
