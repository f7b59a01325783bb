#include "link/framing.h"

#include <algorithm>
#include <array>

namespace zr::link {
namespace {

constexpr std::array<uint16_t, 256> makeCrcTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned reg = i << 8;
        for (int bit = 0; bit < 8; ++bit) reg = (reg & 0x8000) ? ((reg << 1) ^ 0x8005) : (reg << 1);
        table[i] = static_cast<uint16_t>(reg);
    }
    return table;
}

constexpr std::array<uint16_t, 256> kCrcTable = makeCrcTable();
static_assert(kCrcTable[1] == 0x8005 && kCrcTable[2] == 0x800F && kCrcTable[3] == 0x000A &&
              kCrcTable[255] == 0x0202);

}  // namespace

uint16_t FrameCrcUpdate(uint8_t byte, uint16_t crc) {
    return static_cast<uint16_t>((crc << 8) ^ kCrcTable[(crc >> 8) ^ byte]);
}

uint16_t frameCrc(const uint8_t* bytes, size_t length) {
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) crc = FrameCrcUpdate(bytes[i], crc);
    return crc;
}

size_t stuffByte(uint8_t byte, uint8_t* out) {
    if (byte == kStartByte || byte == kEscapeByte) {
        out[0] = kEscapeByte;
        out[1] = byte == kStartByte ? 0x56 : 0x57;
        return 2;
    }
    out[0] = byte;
    return 1;
}

size_t buildLinkFrame(const uint8_t* packet, size_t length, uint8_t* out) {
    size_t n = 0;
    out[n++] = kStartByte;
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc = FrameCrcUpdate(packet[i], crc);
        n += stuffByte(packet[i], out + n);
    }
    n += stuffByte(static_cast<uint8_t>(crc >> 8), out + n);
    n += stuffByte(static_cast<uint8_t>(crc & 0xFF), out + n);
    return n;
}

std::vector<uint8_t> linkFrameOf(const std::vector<uint8_t>& packet) {
    std::vector<uint8_t> frame(maxLinkFrameLength(packet.size()));
    frame.resize(buildLinkFrame(packet.data(), packet.size(), frame.data()));
    return frame;
}

size_t buildProtectedPacket(const uint8_t* packet, size_t length, uint8_t* out) {
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        out[i] = packet[i];
        crc = FrameCrcUpdate(packet[i], crc);
    }
    out[length] = static_cast<uint8_t>(crc >> 8);
    out[length + 1] = static_cast<uint8_t>(crc & 0xFF);
    return length + 2;
}

bool protectedPacketValid(const uint8_t* bytes, size_t length) { return frameCrc(bytes, length) == 0; }

// ---- LinkFrameDecoder ------------------------------------------------------------

void LinkFrameDecoder::feed(const uint8_t* bytes, size_t length, std::vector<std::vector<uint8_t>>& packets) {
    for (size_t i = 0; i < length; ++i) {
        uint8_t b = bytes[i];
        if (escaped_) {
            escaped_ = false;
            if (b == kStartByte) {  // 56 55: a start byte
                if (inFrame_ && !frame_.empty()) ++dropped_;
                inFrame_ = true;
                frame_.clear();
                expected_ = 6;
                continue;
            }
            accept(b == 0x56 ? 0x55 : b == 0x57 ? 0x56 : b, packets);
            continue;
        }
        if (b == kStartByte) {
            if (inFrame_ && !frame_.empty()) ++dropped_;
            inFrame_ = true;
            frame_.clear();
            expected_ = 6;
            continue;
        }
        if (b == kEscapeByte) {
            escaped_ = true;
            continue;
        }
        accept(b, packets);
    }
}

void LinkFrameDecoder::accept(uint8_t byte, std::vector<std::vector<uint8_t>>& packets) {
    if (!inFrame_) return;  // data outside a frame
    frame_.push_back(byte);
    if (frame_.size() == 3) {
        expected_ = 256u * frame_[0] + frame_[1] + 4;
        if (expected_ > 1024) {  // larger than any packet a reader takes
            ++dropped_;
            inFrame_ = false;
            frame_.clear();
            return;
        }
    }
    if (frame_.size() >= expected_ && frame_.size() >= 3) {
        if (protectedPacketValid(frame_.data(), frame_.size())) {
            packets.push_back(frame_);
        } else {
            ++dropped_;
        }
        inFrame_ = false;
        frame_.clear();
    }
}

// ---- TcpPacketDecoder ------------------------------------------------------------

void TcpPacketDecoder::feed(const uint8_t* bytes, size_t length, std::vector<std::vector<uint8_t>>& packets) {
    size_t i = 0;
    while (i < length) {
        if (skip_ > 0) {
            size_t n = std::min(skip_, length - i);
            skip_ -= n;
            i += n;
            continue;
        }
        pending_.push_back(bytes[i++]);
        if (pending_.size() < 2) continue;
        size_t total = 256u * pending_[0] + pending_[1] + 4;
        if (total > maxPacket_) {
            ++dropped_;
            skip_ = total - 2;
            pending_.clear();
            continue;
        }
        if (pending_.size() == total) {
            if (protectedPacketValid(pending_.data(), pending_.size())) {
                packets.push_back(pending_);
            } else {
                ++dropped_;
            }
            pending_.clear();
        }
    }
}

}  // namespace zr::link
