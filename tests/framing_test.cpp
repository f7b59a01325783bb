// Frame CRC, Link frame building, the byte-by-byte sender, the de-stuffing
// read, the frame receiver and the reader-side stream decoders, byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "link/framing.h"
#include "support/worked_examples.h"
#include "support/fake_link.h"

namespace zr::link {
namespace {

using test::Bytes;
using test::unhex;

// A byte source that plays a script of reads: 0..255 a byte, -1 an empty read.
// Past the end of the script every read is empty.
struct ScriptedSource {
    std::vector<int> reads;
    size_t next = 0;
    int operator()() { return next < reads.size() ? reads[next++] : -1; }
};

std::vector<int> reads(const Bytes& bytes) { return std::vector<int>(bytes.begin(), bytes.end()); }

struct Receiver {
    ScriptedSource source;
    int paces = 0;
    uint8_t buffer[kFrameReceiveCapacity] = {};
    int receive(uint8_t code) {
        return receiveLinkFrame([this](uint8_t& out) { return readUnstuffed(source, out); }, [this] { ++paces; },
                                buffer, code);
    }
    Bytes stored(int n) const { return Bytes(buffer, buffer + n); }
};

// ---- Frame CRC -------------------------------------------------------------------------

TEST(FrameCrc, CatalogueCheckValueAndZeroRuns) {
    const char* check = "123456789";
    EXPECT_EQ(frameCrc(reinterpret_cast<const uint8_t*>(check), 9), 0xFEE8);
    EXPECT_EQ(frameCrc(nullptr, 0), 0x0000);
    Bytes zeros(37, 0);
    EXPECT_EQ(frameCrc(zeros.data(), zeros.size()), 0x0000);
}

TEST(FrameBuilding, WorkedExamples) {
    for (const auto& ex : zr::test::kWorkedExamples) {
        SCOPED_TRACE(ex.packet);
        Bytes packet = unhex(ex.packet);
        EXPECT_EQ(frameCrc(packet.data(), packet.size()), ex.crc);

        Bytes frame(maxLinkFrameLength(packet.size()));
        frame.resize(buildLinkFrame(packet.data(), packet.size(), frame.data()));
        EXPECT_EQ(frame, unhex(ex.linkFrame));

        Bytes wire(packet.size() + 2);
        EXPECT_EQ(buildProtectedPacket(packet.data(), packet.size(), wire.data()), packet.size() + 2);
        EXPECT_EQ(wire, unhex(ex.tcpForm));
        EXPECT_TRUE(protectedPacketValid(wire.data(), wire.size()));
    }
}

TEST(FrameBuilding, EveryFlippedBitFailsTheCrcTest) {
    for (const auto& ex : zr::test::kWorkedExamples) {
        Bytes wire = unhex(ex.tcpForm);
        for (size_t bit = 0; bit < wire.size() * 8; ++bit) {
            Bytes flipped = wire;
            flipped[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
            EXPECT_FALSE(protectedPacketValid(flipped.data(), flipped.size())) << ex.tcpForm << " bit " << bit;
        }
    }
}

// ---- Byte-by-byte sender ----------------------------------------------------------------

// A sink whose write calls fail according to `fails(callIndex, byte)`.
struct FlakySink {
    std::function<bool(int, uint8_t)> fails = [](int, uint8_t) { return false; };
    Bytes written;
    int calls = 0;
    bool operator()(uint8_t byte) {
        if (fails(calls++, byte)) return false;
        written.push_back(byte);
        return true;
    }
};

TEST(BytewiseSender, WritesTheLinkFrameAndCountsPacketBytes) {
    for (const auto& ex : zr::test::kWorkedExamples) {
        Bytes packet = unhex(ex.packet);
        FlakySink sink;
        EXPECT_EQ(sendLinkFrameBytewise(std::ref(sink), packet.data(), static_cast<int>(packet.size())),
                  static_cast<int>(packet.size()));
        EXPECT_EQ(sink.written, unhex(ex.linkFrame));
    }
}

TEST(BytewiseSender, RetriesEachOutputByteUpToOneHundredCalls) {
    Bytes packet = unhex("00 01 6C");
    FlakySink sink;
    sink.fails = [](int call, uint8_t) { return call < 99; };  // the 100th call succeeds
    EXPECT_EQ(sendLinkFrameBytewise(std::ref(sink), packet.data(), 3), 3);
    EXPECT_EQ(sink.written, unhex("55 00 01 6C 87 6B"));

    FlakySink dead;
    dead.fails = [](int, uint8_t) { return true; };
    EXPECT_EQ(sendLinkFrameBytewise(std::ref(dead), packet.data(), 3), 0);
    EXPECT_EQ(dead.calls, 100);
}

TEST(BytewiseSender, ResultWhenAByteCannotBeWritten) {
    struct Case {
        const char* packet;
        uint8_t failingByte;  // every write of this byte fails
        int result;
        const char* wire;
    };
    const Case cases[] = {
        {"00 01 6C", 0x6C, 2, "55 00 01"},                   // packet byte 2
        {"00 01 6C", 0x55, 0, ""},                           // the start byte
        {"00 01 6C", 0x6B, 0, "55 00 01 6C 87"},             // CRC low byte
        {"00 01 6C", 0x87, 0, "55 00 01 6C"},                // CRC high byte
        {"00 03 71 55 56", 0x57, 4, "55 00 03 71 56 56 56"},  // second byte of a pair: first already out
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.packet);
        Bytes packet = unhex(c.packet);
        bool startSent = false;
        FlakySink sink;
        sink.fails = [&](int, uint8_t byte) {
            if (byte == 0x55 && !startSent && c.failingByte != 0x55) {
                startSent = true;
                return false;
            }
            return byte == c.failingByte;
        };
        EXPECT_EQ(sendLinkFrameBytewise(std::ref(sink), packet.data(), static_cast<int>(packet.size())), c.result);
        EXPECT_EQ(sink.written, unhex(c.wire));
    }
}

// ---- De-stuffing read -------------------------------------------------------------------

TEST(DestuffingRead, FullTable) {
    struct Case {
        std::vector<int> script;
        int outcome;
        int byte;  // -1: not examined
        size_t readsUsed;
    };
    const Case cases[] = {
        {{0x55}, kUnstuffedStart, 0x55, 1},
        {{0x56, 0x56}, kUnstuffedData, 0x55, 2},
        {{0x56, 0x57}, kUnstuffedData, 0x56, 2},
        {{0x56, 0x55}, kUnstuffedStart, 0x55, 2},
        {{0x56, 0x12}, kUnstuffedData, 0x12, 2},
        {{0x56, 0x00}, kUnstuffedData, 0x00, 2},
        {{0x56}, kUnstuffedData, 0x55, 3},             // 56 then two empty reads
        {{0x56, -1, 0x57}, kUnstuffedData, 0x56, 3},   // second read retried once
        {{0x56, -1, -1, 0x57}, kUnstuffedData, 0x55, 3},
        {{0x33}, kUnstuffedData, 0x33, 1},
        {{0x57}, kUnstuffedData, 0x57, 1},
        {{-1, 0x33}, kUnstuffedData, 0x33, 2},         // first read retried once
        {{-1, -1, 0x33}, kUnstuffedNothing, -1, 2},
        {{}, kUnstuffedNothing, -1, 2},
    };
    for (const auto& c : cases) {
        ScriptedSource source{c.script};
        uint8_t out = 0xEE;
        EXPECT_EQ(readUnstuffed(source, out), c.outcome) << ::testing::PrintToString(c.script);
        if (c.byte >= 0) {
            EXPECT_EQ(out, c.byte) << ::testing::PrintToString(c.script);
        }
        EXPECT_EQ(source.next, std::min(c.readsUsed, c.script.size())) << ::testing::PrintToString(c.script);
    }
}

// ---- Frame receiver ---------------------------------------------------------------------

TEST(FrameReceiver, WorkedExamplesComeBackAsProtectedPackets) {
    for (const auto& ex : zr::test::kWorkedExamples) {
        Receiver rx;
        rx.source.reads = reads(unhex(ex.linkFrame));
        Bytes expected = unhex(ex.tcpForm);
        ASSERT_EQ(rx.receive(0), static_cast<int>(expected.size())) << ex.linkFrame;
        EXPECT_EQ(rx.stored(static_cast<int>(expected.size())), expected);
    }
}

TEST(FrameReceiver, SelectsTheFrameToReturn) {
    struct Case {
        const char* name;
        const char* input;
        uint8_t code;
        const char* result;  // "" for 0
    };
    const Case cases[] = {
        {"empty input", "", 0, ""},
        {"no start byte", "00 02 71 14 26 56", 0, ""},
        {"junk before the start byte", "01 02 03 57 55 00 01 6C 87 6B", 0, "00 01 6C 87 6B"},
        {"escaped start byte starts a frame", "56 55 00 01 6C 87 6B", 0, "00 01 6C 87 6B"},
        {"restart on a start byte", "55 00 02 71 55 00 01 6C 87 6B", 0, "00 01 6C 87 6B"},
        {"corrupt frame then good", "55 00 01 6D 87 6B 55 00 02 71 14 26 56 57", 0, "00 02 71 14 26 56"},
        {"other code skipped", "55 00 01 6C 87 6B 55 00 02 71 14 26 56 57", 0x71, "00 02 71 14 26 56"},
        {"any code with 0", "55 00 01 6C 87 6B 55 00 02 71 14 26 56 57", 0, "00 01 6C 87 6B"},
        {"only other codes", "55 00 01 6C 87 6B", 0x71, ""},
        {"data between frames", "55 00 01 6D 87 6B 10 20 55 00 01 6C 87 6B", 0, "00 01 6C 87 6B"},
        {"cut frame", "55 00 02 71", 0, ""},
        // L = 0: the all-zero protected packet passes the CRC test.
        {"all-zero packet", "55 00 00 00 00", 0, "00 00 00 00"},
        // L = 384: the frame ends after three bytes, which here pass the CRC test.
        {"oversized length, three bytes pass", "55 01 80 05 AA BB", 0, "01 80 05"},
        {"oversized length, three bytes fail", "55 00 FD 71 00 00", 0, ""},
    };
    for (const auto& c : cases) {
        Receiver rx;
        rx.source.reads = reads(unhex(c.input));
        Bytes expected = unhex(c.result);
        const int n = rx.receive(c.code);
        EXPECT_EQ(n, static_cast<int>(expected.size())) << c.name;
        if (n > 0) {
            EXPECT_EQ(rx.stored(n), expected) << c.name;
        }
    }
}

Bytes packetOfLength(int L, uint8_t code) {
    Bytes packet(static_cast<size_t>(L) + 2);
    packet[0] = static_cast<uint8_t>(L >> 8);
    packet[1] = static_cast<uint8_t>(L & 0xFF);
    packet[2] = code;
    for (size_t i = 3; i < packet.size(); ++i) packet[i] = static_cast<uint8_t>(i * 7);  // includes 55 and 56
    return packet;
}

TEST(FrameReceiver, LengthBounds) {
    Bytes largest = packetOfLength(252, 0x40);
    Receiver ok;
    ok.source.reads = reads(linkFrameOf(largest));
    ASSERT_EQ(ok.receive(0x40), 256);
    Bytes wire(largest.size() + 2);
    buildProtectedPacket(largest.data(), largest.size(), wire.data());
    EXPECT_EQ(ok.stored(256), wire);

    // L = 253 ends after three bytes and fails the CRC test; the good frame
    // behind it is still found, and nothing beyond 256 bytes is stored.
    Receiver over;
    Bytes input = linkFrameOf(packetOfLength(253, 0x40));
    Bytes good = unhex("55 00 01 6C 87 6B");
    input.insert(input.end(), good.begin(), good.end());
    over.source.reads = reads(input);
    EXPECT_EQ(over.receive(0), 5);
}

TEST(FrameReceiver, InFrameSilenceLimit) {
    // 300 empty de-stuffing reads (600 empty byte reads) inside a frame are
    // tolerated; 301 end the receive.
    for (int empty : {300, 301}) {
        Receiver rx;
        rx.source.reads = reads(unhex("55 00 01"));
        rx.source.reads.insert(rx.source.reads.end(), 2 * empty, -1);
        for (int b : {0x6C, 0x87, 0x6B}) rx.source.reads.push_back(b);
        EXPECT_EQ(rx.receive(0), empty == 300 ? 5 : 0) << empty;
        // One pace after every read inside the frame: 2 bytes, the empty reads, then the rest.
        EXPECT_EQ(rx.paces, empty == 300 ? 2 + 300 + 3 : 2 + 301) << empty;
    }
}

TEST(FrameReceiver, ReturnsAtOnceWhenNothingWaits) {
    Receiver rx;
    EXPECT_EQ(rx.receive(0), 0);
    EXPECT_EQ(rx.paces, 0);
    EXPECT_EQ(rx.source.next, 0u);
}

// ---- Reader-side stream decoders ----------------------------------------------------------

TEST(LinkFrameDecoder, WholeAndByteByByteFeeding) {
    Bytes stream = unhex("00 55 00 01 6D 87 6B");  // junk, then a corrupted frame
    for (const auto& ex : zr::test::kWorkedExamples) {
        Bytes frame = unhex(ex.linkFrame);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    for (bool bytewise : {false, true}) {
        LinkFrameDecoder decoder;
        std::vector<Bytes> packets;
        if (bytewise) {
            for (uint8_t b : stream) {
                decoder.feed(&b, 1, packets);
            }
        } else {
            decoder.feed(stream.data(), stream.size(), packets);
        }
        ASSERT_EQ(packets.size(), 3u) << bytewise;
        for (size_t i = 0; i < 3; ++i) EXPECT_EQ(packets[i], unhex(zr::test::kWorkedExamples[i].tcpForm));
        EXPECT_EQ(decoder.dropped(), 1u);
    }
}

TEST(TcpPacketDecoder, SplitsAndOversizedPackets) {
    Bytes stream = unhex("00 02 71 14 26 56");
    Bytes bad = unhex("00 01 6C 87 6C");  // CRC low byte wrong
    Bytes big = packetOfLength(40, 0x10);
    big.resize(big.size() + 2);  // body of an oversized packet, CRC bytes included
    Bytes tail = unhex("00 01 6C 87 6B");
    stream.insert(stream.end(), bad.begin(), bad.end());
    stream.insert(stream.end(), big.begin(), big.end());
    stream.insert(stream.end(), tail.begin(), tail.end());

    for (size_t chunk : {size_t{1}, size_t{3}, stream.size()}) {
        TcpPacketDecoder decoder(32);
        std::vector<Bytes> packets;
        for (size_t i = 0; i < stream.size(); i += chunk) {
            decoder.feed(stream.data() + i, std::min(chunk, stream.size() - i), packets);
        }
        ASSERT_EQ(packets.size(), 2u) << chunk;
        EXPECT_EQ(packets[0], unhex("00 02 71 14 26 56"));
        EXPECT_EQ(packets[1], tail);
        EXPECT_EQ(decoder.dropped(), 2u);
    }
}

}  // namespace
}  // namespace zr::link
