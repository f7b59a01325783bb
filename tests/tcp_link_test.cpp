// The TCP link: reassembly of replies over scripted receive chunks, the
// packet receiver's checks, send-side counting and the stale-reply drain,
// then the whole link over a loopback connection to the test peer.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "link/device_link.h"
#include "link/link.h"
#include "link/tcp_link.h"
#include "platform/platform.h"
#include "support/fake_link.h"
#include "support/reader_peer.h"

namespace zr::link {
namespace {

using test::Bytes;
using test::hex;
using test::unhex;
using test::withCrc;

// A byte stream as the socket would hand it out: each chunk is what has
// arrived by the time of a receive; one receive never reaches past its
// chunk. An empty chunk is one quiet receive (0); a chunk {-1} marker is
// modelled by `errorAt`. Past the script every receive is quiet.
struct ScriptedStream {
    std::deque<Bytes> chunks;
    std::vector<std::string>* log = nullptr;
    int calls = 0;
    int errorAt = -1;  // the receive call (0-based) that fails with -1
    int operator()(uint8_t* buffer, int length) {
        const int call = calls++;
        if (call == errorAt) return -1;
        if (chunks.empty()) return 0;
        Bytes& front = chunks.front();
        const int n = std::min<int>(length, static_cast<int>(front.size()));
        std::copy(front.begin(), front.begin() + n, buffer);
        front.erase(front.begin(), front.begin() + n);
        if (front.empty()) chunks.pop_front();
        if (log && n > 0) log->push_back("recv " + hex(buffer, static_cast<size_t>(n)));
        return n;
    }
};

ScriptedStream stream(std::initializer_list<const char*> pieces) {
    ScriptedStream s;
    for (const char* piece : pieces) s.chunks.push_back(unhex(piece));
    return s;
}

// A reply of length field L with code 0x71, Status 0 and filler data.
Bytes replyOfLength(int L) {
    Bytes packet(static_cast<size_t>(L) + 2, 0x5A);
    packet[0] = static_cast<uint8_t>(L >> 8);
    packet[1] = static_cast<uint8_t>(L & 0xFF);
    packet[2] = 0x71;
    if (L > 1) packet[3] = 0x00;
    return withCrc(packet);
}

// Runs reassembly steps until one delivers; the steps' results.
std::vector<int> stepsUntilDelivered(TcpReassembly& r, ScriptedStream& s, uint8_t* dest, int capacity, int most) {
    std::vector<int> results;
    for (int i = 0; i < most; ++i) {
        results.push_back(TcpReassemble(r, s, dest, capacity));
        if (results.back() > 0) break;
    }
    return results;
}

TEST(TcpReassembly, ArrivalPatterns) {
    struct Case {
        const char* name;
        std::vector<const char*> pieces;
        std::vector<int> results;
    };
    const Case cases[] = {
        {"one piece", {"00 02 71 14 26 56"}, {6}},
        {"first byte alone", {"00", "02 71 14 26 56"}, {0, 6}},
        {"length, pause, rest", {"00 02", "", "71 14 26 56"}, {0, 6}},
        {"length with part of the body, rest", {"00 02 71", "14 26 56"}, {0, 6}},
        {"body in pieces", {"00 02", "71 14", "26 56"}, {0, 6}},
        {"byte by byte", {"00", "02", "71", "14", "26", "56"}, {0, 0, 0, 0, 6}},
        {"first byte, second with part of the body, rest", {"00", "02 71", "14 26", "56"}, {0, 0, 0, 6}},
    };
    for (const auto& c : cases) {
        ScriptedStream s;
        for (const char* piece : c.pieces) s.chunks.push_back(unhex(piece));
        TcpReassembly r;
        uint8_t dest[kTcpReceiveCapacity] = {};
        EXPECT_EQ(stepsUntilDelivered(r, s, dest, kTcpReceiveCapacity, 10), c.results) << c.name;
        EXPECT_EQ(hex(dest, 6), "00 02 71 14 26 56") << c.name;
        EXPECT_EQ(r.state, 0) << c.name;
        EXPECT_EQ(r.count, 0) << c.name;
    }
}

TEST(TcpReassembly, SocketErrorsAndSilenceKeepThePartialPacket) {
    ScriptedStream s = stream({"00 02 71", "", "14 26 56"});
    s.errorAt = 1;  // the body receive of the first step fails
    TcpReassembly r;
    uint8_t dest[kTcpReceiveCapacity] = {};
    EXPECT_EQ(TcpReassemble(r, s, dest, kTcpReceiveCapacity), -1);
    EXPECT_EQ(r.state, 2);
    EXPECT_EQ(r.count, 2);
    // The bytes that waited behind the failed receive are still the body.
    EXPECT_EQ(TcpReassemble(r, s, dest, kTcpReceiveCapacity), 0);
    EXPECT_EQ(TcpReassemble(r, s, dest, kTcpReceiveCapacity), 0);  // quiet
    EXPECT_EQ(TcpReassemble(r, s, dest, kTcpReceiveCapacity), 6);
    EXPECT_EQ(hex(dest, 6), "00 02 71 14 26 56");
}

TEST(TcpReassembly, OversizedLengthsAreDroppedAndTheStreamResynchronised) {
    struct Case {
        int announced;
        int capacity;
    };
    // Lengths a packet can have (up to 1020): exactly the packet is dropped.
    const Case cases[] = {{97, kTcpReceiveCapacity}, {1020, kTcpReceiveCapacity}, {500, 200}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.announced);
        Bytes big = replyOfLength(c.announced);
        ScriptedStream s;
        // The oversized packet in uneven pieces, then a good reply.
        for (size_t i = 0; i < big.size(); i += 333) {
            s.chunks.emplace_back(big.begin() + static_cast<long>(i),
                                  big.begin() + static_cast<long>(std::min(big.size(), i + 333)));
        }
        s.chunks.push_back(unhex("00 02 71 14 26 56"));
        TcpReassembly r;
        // Guard bytes behind the destination catch any write past capacity.
        Bytes dest(static_cast<size_t>(c.capacity) + 64, 0xEE);
        int delivered = 0;
        std::vector<int> results;
        for (int i = 0; i < 400 && delivered == 0; ++i) {
            delivered = TcpReassemble(r, s, dest.data(), c.capacity);
            results.push_back(delivered);
        }
        EXPECT_EQ(delivered, 6);
        EXPECT_EQ(hex(dest.data(), 6), "00 02 71 14 26 56");
        for (size_t i = static_cast<size_t>(c.capacity); i < dest.size(); ++i) ASSERT_EQ(dest[i], 0xEE) << i;
        EXPECT_TRUE(s.chunks.empty());
    }
}

TEST(TcpReassembly, ALengthNoPacketCanHaveDropsTheStreamUntilItGoesQuiet) {
    for (int announced : {1021, 0x1234, 0xFFFF}) {
        SCOPED_TRACE(announced);
        // Garbage behind the length (as much as it announces, or far less),
        // a reply right behind it, then a moment of silence and the reply to
        // the next command.
        for (size_t garbage : {size_t{3}, static_cast<size_t>(announced) + 2}) {
            ScriptedStream s;
            Bytes noise(garbage + 2, 0xA5);
            noise[0] = static_cast<uint8_t>(announced >> 8);
            noise[1] = static_cast<uint8_t>(announced);
            for (size_t i = 0; i < noise.size(); i += 333) {
                s.chunks.emplace_back(noise.begin() + static_cast<long>(i),
                                      noise.begin() + static_cast<long>(std::min(noise.size(), i + 333)));
            }
            s.chunks.push_back(unhex("00 02 71 14 26 56"));
            s.chunks.push_back({});  // the stream goes quiet
            s.chunks.push_back(unhex("00 02 6C 00 AA BB"));
            TcpReassembly r;
            Bytes dest(kTcpDrainCapacity, 0xEE);
            int delivered = 0;
            for (int i = 0; i < 400 && delivered == 0; ++i) delivered = TcpReassemble(r, s, dest.data(), kTcpDrainCapacity);
            EXPECT_EQ(delivered, 6);
            EXPECT_EQ(hex(dest.data(), 6), "00 02 6C 00 AA BB");
            EXPECT_TRUE(s.chunks.empty());
        }
    }
    // A peer that never goes quiet holds no step for long.
    struct Endless {
        int calls = 0;
        int operator()(uint8_t* buffer, int length) {
            ++calls;
            std::fill(buffer, buffer + length, 0xFF);
            return length;
        }
    } endless;
    TcpReassembly r;
    uint8_t dest[kTcpReceiveCapacity];
    EXPECT_EQ(TcpReceiveRetry(r, endless, dest, kTcpReceiveCapacity), 0);
    EXPECT_LE(endless.calls, kTcpReceiveSteps * (kTcpQuietReads + 2));
}

TEST(TcpReassembly, APacketBegunByTheDrainIsNotDeliveredPastASmallerCapacity) {
    // A late reply that fits the drain (1024) but not the packet receiver
    // (100): the drain takes its first bytes and gives up on the silence
    // behind them; the packet receiver then meets the rest of it.
    const Bytes big = replyOfLength(150);
    for (size_t firstPiece : {size_t{2}, size_t{3}, size_t{40}, big.size() - 1}) {
        SCOPED_TRACE(firstPiece);
        ScriptedStream s;
        s.chunks.emplace_back(big.begin(), big.begin() + static_cast<long>(firstPiece));
        TcpReassembly r;
        uint8_t drain[kTcpDrainCapacity];
        ASSERT_EQ(TcpReceiveRetry(r, s, drain, kTcpDrainCapacity), 0);
        ASSERT_EQ(r.state, 2);

        s.chunks.emplace_back(big.begin() + static_cast<long>(firstPiece), big.end());
        s.chunks.push_back(unhex("00 02 71 14 26 56"));
        Bytes dest(kTcpReceiveCapacity + 64, 0xEE);
        int delivered = 0;
        for (int i = 0; i < 30 && delivered == 0; ++i) delivered = TcpReassemble(r, s, dest.data(), kTcpReceiveCapacity);
        for (size_t i = kTcpReceiveCapacity; i < dest.size(); ++i) ASSERT_EQ(dest[i], 0xEE) << i;
        EXPECT_EQ(delivered, 6);
        EXPECT_EQ(hex(dest.data(), 6), "00 02 71 14 26 56");
        EXPECT_TRUE(s.chunks.empty());
    }
}

TEST(TcpReceiveRetry, GivesUpAfterThirtyQuietSteps) {
    ScriptedStream s;
    TcpReassembly r;
    uint8_t dest[kTcpReceiveCapacity];
    EXPECT_EQ(TcpReceiveRetry(r, s, dest, kTcpReceiveCapacity), 0);
    EXPECT_EQ(s.calls, 30);
}

TEST(TcpReceiveChecked, LengthMinimumAndCrc) {
    struct Case {
        const char* name;
        Bytes wire;
        int minimum;
        int result;
    };
    const Case cases[] = {
        {"reply of six bytes", unhex("00 02 71 14 26 56"), 4, 6},
        {"reply to another command is returned", withCrc(unhex("00 02 72 00")), 4, 6},
        {"L = 96 accepted", replyOfLength(96), 4, 100},
        {"L = 97 refused", replyOfLength(97), 4, 0},
        {"10 bytes with minimum 9 refused", replyOfLength(6), 9, 0},
        {"10 bytes with minimum 8 accepted", replyOfLength(6), 8, 10},
        {"CRC failure", unhex("00 02 71 14 26 57"), 4, 0},
    };
    for (const auto& c : cases) {
        ScriptedStream s;
        s.chunks.push_back(c.wire);
        TcpReassembly r;
        uint8_t buffer[256] = {};
        EXPECT_EQ(TcpReceiveChecked(r, s, buffer, c.minimum), c.result) << c.name;
        if (c.result > 0) {
            EXPECT_EQ(Bytes(buffer, buffer + c.result), c.wire) << c.name;
        }
    }
}

// ---- Sending -----------------------------------------------------------------------------

TEST(TcpCountSent, OutstandingRepliesAcrossSends) {
    const Bytes a = withCrc(unhex("00 01 6C"));
    const Bytes b = withCrc(unhex("00 03 71 55 56"));
    Bytes both = a;
    both.insert(both.end(), b.begin(), b.end());

    TcpSendCounter two;
    TcpCountSent(two, both.data(), static_cast<int>(both.size()), 1);
    EXPECT_EQ(two.outstanding, 2);
    EXPECT_EQ(two.state, 0);

    // Split at every position: the packet counts once, at the call that
    // passes its last CRC byte.
    for (int split = 1; split < static_cast<int>(b.size()); ++split) {
        TcpSendCounter c;
        TcpCountSent(c, b.data(), split, 1);
        EXPECT_EQ(c.outstanding, 0) << split;
        TcpCountSent(c, b.data() + split, static_cast<int>(b.size()) - split, 1);
        EXPECT_EQ(c.outstanding, 1) << split;
        EXPECT_EQ(c.state, 0) << split;
    }

    TcpSendCounter perPacket;
    TcpCountSent(perPacket, both.data(), static_cast<int>(both.size()), 3);
    EXPECT_EQ(perPacket.outstanding, 6);
}

struct ScriptedSender {
    std::vector<int> results;  // bytes sent per call; past the script: all
    std::vector<std::string>* log = nullptr;
    Bytes wire;
    int calls = 0;
    int operator()(const uint8_t* bytes, int length) {
        const int call = calls++;
        int n = call < static_cast<int>(results.size()) ? std::min(results[static_cast<size_t>(call)], length) : length;
        if (n > 0) wire.insert(wire.end(), bytes, bytes + n);
        if (log) log->push_back("send " + std::to_string(n));
        return n;
    }
};

TEST(TcpSendCounted, DrainsStaleRepliesBeforeSending) {
    std::vector<std::string> log;
    ScriptedStream s = stream({"00 02 71 14 26 56", "00 01 6C 87 6B"});
    s.log = &log;
    ScriptedSender send;
    send.log = &log;
    TcpReassembly r;
    TcpSendCounter c;
    c.outstanding = 1;  // a packet was sent before and its reply never read
    const Bytes packet = withCrc(unhex("00 01 6C"));
    EXPECT_EQ(TcpSendCounted(r, c, s, send, packet.data(), 5, 1), 5);
    // A successful drain does not lower the count: both waiting replies go,
    // then a quiet attempt (30 quiet steps) ends the drain.
    const std::vector<std::string> expected = {"recv 00 02", "recv 71 14 26 56", "recv 00 01", "recv 6C 87 6B",
                                               "send 5"};
    EXPECT_EQ(log, expected);
    EXPECT_EQ(s.calls, 4 + 30);
    EXPECT_EQ(c.outstanding, 1);  // the packet just sent
}

TEST(TcpSendCounted, NoDrainWhenNothingIsOutstanding) {
    ScriptedStream s = stream({"00 02 71 14 26 56"});
    ScriptedSender send;
    TcpReassembly r;
    TcpSendCounter c;
    const Bytes packet = withCrc(unhex("00 01 6C"));
    EXPECT_EQ(TcpSendCounted(r, c, s, send, packet.data(), 5, 1), 5);
    EXPECT_EQ(s.calls, 0);
    EXPECT_EQ(send.wire, packet);
}

TEST(TcpSendAll, AttemptBudget) {
    const Bytes packet = withCrc(unhex("00 01 6C"));
    struct Case {
        const char* name;
        std::vector<int> results;
        bool ok;
        int calls;
    };
    std::vector<int> fiftyIdle(50, 0);
    std::vector<int> fiftyOneIdle(51, 0);
    std::vector<int> errorsThenOne = {-1, -1, 1, 1, 1, 1, 1};
    const Case cases[] = {
        {"at once", {}, true, 1},
        {"one byte per send", {1, 1, 1, 1, 1}, true, 5},
        {"errors do not count as bytes", errorsThenOne, true, 7},
        {"complete at the 51st", fiftyIdle, true, 51},
        {"complete only at the 52nd", fiftyOneIdle, false, 52},
        {"never writable", std::vector<int>(100, 0), false, 52},
    };
    for (const auto& c : cases) {
        ScriptedStream s;
        ScriptedSender send;
        send.results = c.results;
        TcpReassembly r;
        TcpSendCounter counter;
        EXPECT_EQ(TcpSendAll(r, counter, s, send, packet.data(), 5), c.ok) << c.name;
        EXPECT_EQ(send.calls, c.calls) << c.name;
        if (c.ok) {
            EXPECT_EQ(send.wire, packet) << c.name;
            EXPECT_EQ(counter.outstanding, 1) << c.name;
        }
    }
}

// ---- Over a loopback connection ---------------------------------------------------------

struct LoopbackTcp : ::testing::Test {
    test::ReaderPeer peer{LinkKind::Tcp};
    std::unique_ptr<TcpConnection> connection;
    void SetUp() override {
        connection = TcpConnect(peer.host());
        ASSERT_TRUE(connection);
        ASSERT_EQ(TcpWaitWritable(*connection, 3000), 2);
    }
    void TearDown() override {
        if (connection) TcpClose(std::move(connection));
    }
    // Receives as a polling export does: short pauses between receives.
    int receivePolled(uint8_t* buffer, int minimum) {
        for (int i = 0; i < 50; ++i) {
            if (int n = TcpReceivePacket(connection.get(), buffer, minimum, 0); n > 0) return n;
        }
        return 0;
    }
};

TEST_F(LoopbackTcp, ResetPacketOnTheStreamAndReplyBack) {
    peer.replyNext(unhex("00 02 6C 00"));
    const Bytes reset = unhex("00 01 6C");
    EXPECT_EQ(TcpSendPacket(connection.get(), reset.data(), 3), 5);
    ASSERT_TRUE(peer.waitForRequests(1));
    EXPECT_EQ(hex(peer.received()), "00 01 6C 87 6B");

    uint8_t buffer[256] = {};
    const int n = receivePolled(buffer, 4);
    EXPECT_EQ(n, 6);
    EXPECT_EQ(Bytes(buffer, buffer + n), withCrc(unhex("00 02 6C 00")));
}

TEST_F(LoopbackTcp, StaleReplyIsDrainedByTheNextSend) {
    peer.replyNext(unhex("00 02 6C 11"));  // never read
    peer.replyNext(unhex("00 02 6C 22"));
    const Bytes reset = unhex("00 01 6C");
    ASSERT_EQ(TcpSendPacket(connection.get(), reset.data(), 3), 5);
    ASSERT_TRUE(peer.waitForRequests(1));
    platform::sleepMs(50);  // the first reply arrives before the second send drains it
    ASSERT_EQ(TcpSendPacket(connection.get(), reset.data(), 3), 5);
    ASSERT_TRUE(peer.waitForRequests(2));
    uint8_t buffer[256] = {};
    ASSERT_EQ(receivePolled(buffer, 4), 6);
    EXPECT_EQ(hex(buffer, 4), "00 02 6C 22");
}

TEST_F(LoopbackTcp, ReplyInPiecesAndOversizedReply) {
    Bytes reply = withCrc(unhex("00 02 71 14"));
    peer.sendRaw(Bytes(reply.begin(), reply.begin() + 2));
    uint8_t buffer[256] = {};
    EXPECT_EQ(TcpReceivePacket(connection.get(), buffer, 4, 0), 0);  // only the length so far
    peer.sendRaw(Bytes(reply.begin() + 2, reply.begin() + 4));
    EXPECT_EQ(TcpReceivePacket(connection.get(), buffer, 4, 0), 0);
    peer.sendRaw(Bytes(reply.begin() + 4, reply.end()));
    EXPECT_EQ(receivePolled(buffer, 4), 6);
    EXPECT_EQ(Bytes(buffer, buffer + 6), reply);

    peer.sendRaw(replyOfLength(97));
    peer.sendRaw(reply);
    EXPECT_EQ(receivePolled(buffer, 4), 6);
    EXPECT_EQ(Bytes(buffer, buffer + 6), reply);
}

TEST_F(LoopbackTcp, LinkDispatchAndClose) {
    std::unique_ptr<Link> link = makeTcpLink(std::move(connection));
    EXPECT_EQ(link->kind(), LinkKind::Tcp);
    peer.replyNext(unhex("00 02 6C 00"));
    const Bytes reset = unhex("00 01 6C");
    EXPECT_EQ(link->send(reset.data(), 3), 5);
    uint8_t buffer[256] = {};
    int n = 0;
    for (int i = 0; i < 50 && n == 0; ++i) n = link->receive(buffer, 4, 0x99);  // code ignored on TCP
    EXPECT_EQ(n, 6);
    EXPECT_EQ(link->close(), kLinkClosed);
    EXPECT_TRUE(peer.waitUntilDisconnected());
    EXPECT_EQ(link->close(), kLinkClosed);  // nothing left to close
    EXPECT_EQ(link->send(reset.data(), 3), 0);
}

TEST(TcpLink, CloseResultFollowsTheWritabilityWait) {
    // Nothing listens on this loopback address: the connect is refused and
    // the wait reports an error. Such a socket can never become writable, so
    // the close releases it rather than keeping it (and the handle) forever.
    std::unique_ptr<Link> refused = makeTcpLink(TcpConnect("127.77.77.77"));
    ASSERT_GE(refused->handle(), 0);
    EXPECT_EQ(refused->close(), kLinkClosed);
    EXPECT_EQ(refused->handle(), -1);
    EXPECT_EQ(refused->close(), kLinkClosed);

    // A connection no longer active: nothing to close.
    std::unique_ptr<TcpConnection> inactive = TcpConnect("127.77.77.77");
    ASSERT_TRUE(inactive);
    inactive->active = 0;
    std::unique_ptr<Link> idle = makeTcpLink(std::move(inactive));
    EXPECT_EQ(idle->close(), kLinkClosed);
}

TEST(TcpLink, MissingConnectionSendsAndReceivesNothing) {
    const Bytes reset = unhex("00 01 6C");
    uint8_t buffer[256];
    EXPECT_EQ(TcpSendPacket(nullptr, reset.data(), 3), 0);
    EXPECT_EQ(TcpReceivePacket(nullptr, buffer, 4, 0), 0);
}

}  // namespace
}  // namespace zr::link
