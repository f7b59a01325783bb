// Tag memory read, write and lock, the chunked read and write, and the EPC
// memory read, over the fake link.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "support/fake_link.h"
#include "zrreader.h"

using zr::link::LinkKind;
using zr::test::Bytes;
using zr::test::FakeReader;
using zr::test::hex;
using zr::test::unhex;
using zr::test::withCrc;

namespace {

const Bytes kTag = unhex("01 02 03 04 05 06 07 08");
const Bytes kPassword = unhex("11 22 33 44");
constexpr int kLead = 1;

// Bytes 0..n-1 offset by `first`, as tag data.
Bytes pattern(int n, int first = 0) {
    Bytes out(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) out[static_cast<size_t>(i)] = static_cast<uint8_t>(first + i);
    return out;
}

// The reply of a tag read: Status byte, one byte passed over, the data.
Bytes readReply(const Bytes& data, uint8_t status = 0) {
    Bytes reply = {0x00, static_cast<uint8_t>(data.size() + 3), 0x72, status, 0x5A};
    reply.insert(reply.end(), data.begin(), data.end());
    return reply;
}

// The tag read request for `count` bytes at `address` (lead 1, kTag).
std::string readRequest(int address, int count) {
    char tail[8];
    std::snprintf(tail, sizeof tail, " %02X %02X", address, count);
    return "00 0C 72 01 " + hex(kTag) + tail;
}

// The tag write request of `data` at `address` (lead 1, kTag).
std::string writeRequest(int address, const Bytes& data) {
    Bytes packet = {0x00, static_cast<uint8_t>(data.size() + 12), 0x73, kLead};
    packet.insert(packet.end(), kTag.begin(), kTag.end());
    packet.push_back(static_cast<uint8_t>(address));
    packet.push_back(static_cast<uint8_t>(data.size()));
    packet.insert(packet.end(), data.begin(), data.end());
    return hex(packet);
}

// ---- Command packets and the shape of each exchange -------------------------------------

struct PacketCase {
    const char* name;
    std::function<int(int port, uint8_t* out)> call;
    const char* packet;
    const char* reply;  // the accepting reply (without CRC)
    std::vector<std::string> events;
};

TEST(TagMemoryPackets, ArgumentsGiveExactPacketsFlushesAndPauses) {
    const Bytes data = unhex("AA BB");
    const std::vector<std::string> flushed = {"flush", "send", "pause 20", "receive"};
    const PacketCase cases[] = {
        {"read once", [&](int p, uint8_t* out) { return ZRReadUserDataOnce(p, 1, 0x10, 4, kTag.data(), out); },
         "00 0C 72 01 01 02 03 04 05 06 07 08 10 04", "00 07 72 00 5A D0 D1 D2 D3", flushed},
        {"read once, low 8 bits", [&](int p, uint8_t* out) { return ZRReadUserDataOnce(p, 0x1FE, 0x310, 0x101, kTag.data(), out); },
         "00 0C 72 FE 01 02 03 04 05 06 07 08 10 01", "00 04 72 00 5A D0", flushed},
        {"write once: tag ID before data, count last",
         [&](int p, uint8_t*) { return ZRWriteUserDataOnce(p, 1, 0x20, kTag.data(), data.data(), 2); },
         "00 0E 73 01 01 02 03 04 05 06 07 08 20 02 AA BB", "00 02 73 00", flushed},
        {"lock: address before lead, no flush, 10 ms",
         [&](int p, uint8_t*) { return ZRLockUserData(p, 0x30, 2, kTag.data(), 4); },
         "00 0C 74 02 01 02 03 04 05 06 07 08 30 04", "00 02 74 00", {"send", "pause 10", "receive"}},
        {"EPC memory read: lead fifth",
         [&](int p, uint8_t* out) { return ZRReadUserDataEPC(p, kPassword.data(), 2, 1, 3, out); },
         "00 08 84 03 11 22 33 44 02 01", "00 05 84 00 5A E1 E2", flushed},
    };
    for (LinkKind kind : {LinkKind::Serial, LinkKind::Usb, LinkKind::Tcp}) {
        for (const PacketCase& c : cases) {
            FakeReader reader(kind);
            reader.reply(unhex(c.reply));
            uint8_t out[256];
            EXPECT_EQ(c.call(reader.port(), out), 1) << c.name;
            EXPECT_EQ(reader.sentHex(), std::vector<std::string>{c.packet}) << c.name;
            EXPECT_EQ(reader.log().events, c.events) << c.name;
        }
    }
}

TEST(TagMemoryPackets, SilentReaderCostsReadTriesPausesForEveryCommand) {
    struct Row {
        const char* name;
        std::function<int(int port)> call;
        int result;
        int pauseMs;
    };
    uint8_t out[256];
    const Row rows[] = {
        {"read once", [&](int p) { return ZRReadUserDataOnce(p, 1, 0, 4, kTag.data(), out); }, -4, 20},
        {"write once", [&](int p) { return ZRWriteUserDataOnce(p, 1, 8, kTag.data(), out, 4); }, -4, 20},
        {"lock: -2, not -4", [&](int p) { return ZRLockUserData(p, 0, 1, kTag.data(), 4); }, -2, 10},
        {"EPC memory read: 0, not -4", [&](int p) { return ZRReadUserDataEPC(p, kPassword.data(), 0, 2, 1, out); }, 0,
         20},
    };
    for (const Row& r : rows) {
        FakeReader reader(LinkKind::Serial, /*readTries=*/7, /*writeTries=*/3);
        EXPECT_EQ(r.call(reader.port()), r.result) << r.name;
        EXPECT_EQ(reader.log().pauses, std::vector<int>(7, r.pauseMs)) << r.name << ": read tries, never write tries";
        EXPECT_EQ(reader.log().sent.size(), 1u) << r.name << ": the request is never sent again";
    }
}

TEST(TagMemoryPackets, WriteCarriesAtMost242BytesAndRefusesMoreBeforeAnything) {
    const Bytes data = pattern(255);
    FakeReader reader(LinkKind::Serial);
    reader.reply(unhex("00 02 73 00"));
    EXPECT_EQ(ZRWriteUserDataOnce(reader.port(), 1, 8, kTag.data(), data.data(), 242), 1);
    ASSERT_EQ(reader.log().sent.size(), 1u);
    EXPECT_EQ(reader.log().sent[0].size(), 256u);
    EXPECT_EQ(hex(Bytes(reader.log().sent[0].begin(), reader.log().sent[0].begin() + 3)), "00 FE 73");
    EXPECT_EQ(reader.log().sent[0].back(), 241);

    for (int count : {243, 255, 0x1F3}) {
        EXPECT_EQ(ZRWriteUserDataOnce(reader.port(), 1, 8, kTag.data(), data.data(), count), -15) << count;
    }
    EXPECT_EQ(reader.log().sent.size(), 1u);
    EXPECT_EQ(reader.log().flushes, 1);
}

TEST(TagMemoryPackets, NullPointersAreRefusedBeforeAnythingAndZeroCountsNeedNoBuffer) {
    FakeReader reader(LinkKind::Tcp);
    uint8_t out[256];
    EXPECT_EQ(ZRReadUserDataOnce(reader.port(), 1, 0, 4, nullptr, out), -5);
    EXPECT_EQ(ZRReadUserDataOnce(reader.port(), 1, 0, 4, kTag.data(), nullptr), -5);
    EXPECT_EQ(ZRReadUserData(reader.port(), 1, 0, 4, kTag.data(), nullptr), -5);
    EXPECT_EQ(ZRReadUserData(reader.port(), 1, 0, 4, nullptr, out), -5);
    EXPECT_EQ(ZRWriteUserDataOnce(reader.port(), 1, 8, kTag.data(), nullptr, 4), -5);
    EXPECT_EQ(ZRWriteUserDataOnce(reader.port(), 1, 8, nullptr, out, 4), -5);
    EXPECT_EQ(ZRWriteUserData(reader.port(), 1, 8, kTag.data(), nullptr, 4), -5);
    EXPECT_EQ(ZRLockUserData(reader.port(), 0, 1, nullptr, 4), -5);
    EXPECT_EQ(ZRReadUserDataEPC(reader.port(), nullptr, 0, 1, 1, out), -5);
    EXPECT_EQ(ZRReadUserDataEPC(reader.port(), kPassword.data(), 0, 0, 1, nullptr), -5) << "5 bytes even for 0 words";
    EXPECT_TRUE(reader.log().events.empty());

    reader.reply(readReply({})).reply(unhex("00 02 73 00"));
    EXPECT_EQ(ZRReadUserDataOnce(reader.port(), 1, 0, 0, kTag.data(), nullptr), 1);
    EXPECT_EQ(ZRWriteUserDataOnce(reader.port(), 1, 8, kTag.data(), nullptr, 0), 1);
    EXPECT_EQ(reader.sentHex(), (std::vector<std::string>{readRequest(0, 0), writeRequest(8, {})}));
}

TEST(TagMemoryPackets, ClosedHandleComesBeforeTheArgumentChecks) {
    uint8_t buf[256] = {};
    EXPECT_EQ(ZRWriteUserData(-1, 1, 7, buf, buf, 4), -1);
    EXPECT_EQ(ZRWriteUserDataOnce(-1, 1, 8, buf, buf, 250), -1);
    EXPECT_EQ(ZRLockUserData(-1, 200, 1, buf, 100), -1);
}

// ---- Replies to the single commands ------------------------------------------------

struct ReplyCase {
    const char* name;
    Bytes arrives;   // protected bytes of the one reply (empty: silent reader)
    int result;
    const char* out; // expected output on 1
};

void runReplyCases(const std::function<int(int, uint8_t*)>& call, const std::vector<ReplyCase>& cases) {
    ASSERT_EQ(ZRSetDeviceClass(0, 800), 1);
    for (const ReplyCase& c : cases) {
        FakeReader reader(LinkKind::Serial, 3);
        if (!c.arrives.empty()) reader.replyRaw(c.arrives);
        Bytes out(256, 0xEE);
        EXPECT_EQ(call(reader.port(), out.data()), c.result) << c.name;
        Bytes want = unhex(c.result == 1 ? c.out : "");
        want.resize(256, 0xEE);
        EXPECT_EQ(out, want) << c.name << ": exactly the output on 1, untouched otherwise";
    }
}

TEST(TagReadReplies, ChecksInOrderAndCopyOfTheData) {
    runReplyCases([](int p, uint8_t* out) { return ZRReadUserDataOnce(p, 1, 0x10, 4, kTag.data(), out); },
                  {
                      {"four data bytes", withCrc(readReply(unhex("D0 D1 D2 D3"))), 1, "D0 D1 D2 D3"},
                      {"one data byte short", withCrc(readReply(unhex("D0 D1 D2"))), -4, ""},
                      {"one data byte too many", withCrc(readReply(unhex("D0 D1 D2 D3 D4"))), -4, ""},
                      {"count other than L + 4", withCrc(unhex("00 08 72 00 5A D0 D1 D2 D3")), -4, ""},
                      {"status before the data length", withCrc(unhex("00 03 72 21 00")), 2002, ""},
                      {"unknown status", withCrc(unhex("00 03 72 3A 00")), -20, ""},
                      {"reply to another command", withCrc(unhex("00 07 73 00 5A D0 D1 D2 D3")), -4, ""},
                      {"silent reader", {}, -4, ""},
                  });
    // One requested byte against a reply without data: the byte would be a CRC byte.
    runReplyCases([](int p, uint8_t* out) { return ZRReadUserDataOnce(p, 1, 0, 1, kTag.data(), out); },
                  {{"no data for one byte", withCrc(unhex("00 02 72 00")), -4, ""},
                   {"one byte", withCrc(readReply(unhex("D7"))), 1, "D7"}});
    runReplyCases([](int p, uint8_t* out) { return ZRReadUserDataOnce(p, 1, 0, 0, kTag.data(), out); },
                  {{"zero bytes copy nothing", withCrc(readReply({})), 1, ""}});
}

TEST(TagWriteAndLockReplies, WriteIsMinusFourAndLockMinusTwoWithoutAValidReply) {
    struct Row {
        const char* name;
        Bytes arrives;
        int write, lock;
    } rows[] = {
        {"accepted", withCrc(unhex("00 02 C0 00")), 1, 1},
        {"status", withCrc(unhex("00 02 C0 21")), 2002, 2002},
        {"status with data", withCrc(unhex("00 03 C0 60 00")), 3001, 3001},
        {"count other than L + 4", withCrc(unhex("00 03 C0 00")), -4, -2},
        {"short", withCrc(unhex("00 01 C0")), -4, -2},
        {"silent reader", {}, -4, -2},
    };
    ASSERT_EQ(ZRSetDeviceClass(0, 800), 1);
    for (const Row& r : rows) {
        for (uint8_t code : {0x73, 0x74}) {
            Bytes arrives = r.arrives;
            if (!arrives.empty()) {
                arrives[2] = code;
                arrives = withCrc(Bytes(arrives.begin(), arrives.end() - 2));
            }
            FakeReader reader(LinkKind::Tcp, 3);
            if (!arrives.empty()) reader.replyRaw(arrives);
            const int result = code == 0x73 ? ZRWriteUserDataOnce(reader.port(), 1, 8, kTag.data(), kTag.data(), 2)
                                             : ZRLockUserData(reader.port(), 8, 1, kTag.data(), 2);
            EXPECT_EQ(result, code == 0x73 ? r.write : r.lock) << r.name << " code " << int(code);
        }
    }
}

TEST(TagLock, RangeEndsAt224WithoutLowerBoundAndAnUnsentRequestIsNotPolled) {
    struct Row {
        int address, count;
        bool sent;
    } rows[] = {{0, 224, true}, {224, 0, true}, {200, 24, true}, {200, 25, false}, {255, 255, false},
                {0x1C8, 0x118, true} /* bytes 200 and 24 */};
    for (const Row& r : rows) {
        FakeReader reader(LinkKind::Serial);
        reader.reply(unhex("00 02 74 00"));
        EXPECT_EQ(ZRLockUserData(reader.port(), r.address, 1, kTag.data(), r.count), r.sent ? 1 : -2)
            << r.address << "+" << r.count;
        EXPECT_EQ(reader.log().sent.size(), r.sent ? 1u : 0u);
        if (!r.sent) {
            EXPECT_TRUE(reader.log().events.empty());
        }
    }

    FakeReader reader(LinkKind::Usb);
    reader.setSendResult(0);
    reader.reply(unhex("00 02 74 00"));
    EXPECT_EQ(ZRLockUserData(reader.port(), 0, 1, kTag.data(), 4), 0);
    EXPECT_EQ(reader.log().events, std::vector<std::string>{"send"});
}

TEST(EpcMemoryReadReplies, AcceptsExactlyTwoBytesAWordAndCopiesThePacket) {
    runReplyCases([](int p, uint8_t* out) { return ZRReadUserDataEPC(p, kPassword.data(), 0, 2, 1, out); },
                  {
                      {"two words", withCrc(unhex("00 07 84 00 5A E1 E2 E3 E4")), 1, "00 07 84 00 5A E1 E2 E3 E4"},
                      {"three words", withCrc(unhex("00 09 84 00 5A E1 E2 E3 E4 E5 E6")), -4, ""},
                      {"one word", withCrc(unhex("00 05 84 00 5A E1 E2")), -4, ""},
                      {"count other than L + 4", withCrc(unhex("00 08 84 00 5A E1 E2 E3 E4")), -4, ""},
                      {"status", withCrc(unhex("00 03 84 22 00")), 2003, ""},
                      {"reply to another command", withCrc(unhex("00 07 72 00 5A E1 E2 E3 E4")), 0, ""},
                      {"silent reader", {}, 0, ""},
                  });
    runReplyCases([](int p, uint8_t* out) { return ZRReadUserDataEPC(p, kPassword.data(), 0, 0, 1, out); },
                  {{"zero words", withCrc(unhex("00 03 84 00 5A")), 1, "00 03 84 00 5A"},
                   {"no passed-over byte", withCrc(unhex("00 02 84 00")), -4, ""}});
}

// ---- Chunked read ------------------------------------------------------------------------

struct ChunkedReadCase {
    const char* name;
    int address, count;
    std::vector<std::pair<int, int>> pieces;  // address and size of each read sent
};

TEST(ChunkedRead, PiecesOf64WithAddressesWrappingAt255) {
    const ChunkedReadCase cases[] = {
        {"count 0: one read of 0 bytes", 0, 0, {{0, 0}}},
        {"count 1", 9, 1, {{9, 1}}},
        {"count 64: one read", 0, 64, {{0, 64}}},
        {"count 100", 0, 100, {{0, 64}, {64, 36}}},
        {"count 128: no read of 0 bytes", 16, 128, {{16, 64}, {80, 64}}},
        {"count 255", 0, 255, {{0, 64}, {64, 64}, {128, 64}, {192, 63}}},
        {"wraps to address 8", 200, 100, {{200, 64}, {8, 36}}},
        {"ends exactly at 255", 192, 64, {{192, 64}}},
        {"wrapped address below the start", 100, 200, {{100, 64}, {164, 64}, {228, 64}, {36, 8}}},
    };
    for (const ChunkedReadCase& c : cases) {
        FakeReader reader(LinkKind::Serial);
        Bytes expectedOut;
        std::vector<std::string> requests;
        for (const auto& [address, size] : c.pieces) {
            Bytes data = pattern(size, address);
            reader.reply(readReply(data));
            expectedOut.insert(expectedOut.end(), data.begin(), data.end());
            requests.push_back(readRequest(address, size));
        }
        Bytes out(256, 0xEE);
        EXPECT_EQ(ZRReadUserData(reader.port(), kLead, c.address, c.count, kTag.data(), out.data()), 1) << c.name;
        EXPECT_EQ(reader.sentHex(), requests) << c.name;
        expectedOut.resize(256, 0xEE);
        EXPECT_EQ(out, expectedOut) << c.name;
        EXPECT_EQ(reader.log().flushes, static_cast<int>(c.pieces.size()) + 1) << c.name << ": one flush + one a piece";
    }
}

TEST(ChunkedRead, StopsAtTheFirstFailedPieceKeepingEarlierPieces) {
    FakeReader reader(LinkKind::Tcp, 2);
    reader.reply(readReply(pattern(64, 1))).silence(2);
    Bytes out(128, 0xEE);
    EXPECT_EQ(ZRReadUserData(reader.port(), kLead, 0, 100, kTag.data(), out.data()), -4);
    Bytes want = pattern(64, 1);
    want.resize(128, 0xEE);
    EXPECT_EQ(out, want);
    EXPECT_EQ(reader.log().events, (std::vector<std::string>{"flush", "flush", "send", "pause 20", "receive", "flush",
                                                             "send", "pause 20", "receive", "pause 20", "receive"}));
}

// ---- Chunked write -----------------------------------------------------------------------

TEST(ChunkedWrite, AreaMustLieWithin8To224) {
    struct Row {
        int address, count;
        bool allowed;
    } rows[] = {{7, 1, false}, {7, 0, false},    {8, 216, true},  {8, 217, false},
                {224, 0, true}, {225, 0, false}, {223, 2, false}, {0x108, 4, true} /* byte 8 */};
    const Bytes data = pattern(255);
    for (const Row& r : rows) {
        FakeReader reader(LinkKind::Serial);
        for (int i = 0; i < 8; ++i) reader.reply(unhex("00 02 73 00"));
        EXPECT_EQ(ZRWriteUserData(reader.port(), kLead, r.address, kTag.data(), data.data(), r.count),
                  r.allowed ? 1 : -2)
            << r.address << "+" << r.count;
        if (!r.allowed) {
            EXPECT_TRUE(reader.log().events.empty()) << r.address << "+" << r.count;
        }
    }
}

TEST(ChunkedWrite, PiecesOf32WithoutAFlushOfItsOwn) {
    struct Row {
        int address, count;
        std::vector<std::pair<int, int>> pieces;  // address and size of each write
    } rows[] = {
        {8, 0, {{8, 0}}},
        {8, 32, {{8, 32}}},
        {8, 33, {{8, 32}, {40, 1}}},
        {16, 64, {{16, 32}, {48, 32}}},
        {8, 216, {{8, 32}, {40, 32}, {72, 32}, {104, 32}, {136, 32}, {168, 32}, {200, 24}}},
    };
    const Bytes data = pattern(255, 0x40);
    for (const Row& r : rows) {
        FakeReader reader(LinkKind::Serial);
        std::vector<std::string> requests;
        for (const auto& [address, size] : r.pieces) {
            reader.reply(unhex("00 02 73 00"));
            const auto from = data.begin() + (address - r.address);
            requests.push_back(writeRequest(address, Bytes(from, from + size)));
        }
        EXPECT_EQ(ZRWriteUserData(reader.port(), kLead, r.address, kTag.data(), data.data(), r.count), 1);
        EXPECT_EQ(reader.sentHex(), requests) << r.address << "+" << r.count;
        EXPECT_EQ(reader.log().flushes, static_cast<int>(r.pieces.size())) << "each piece flushes, the whole does not";
    }
}

TEST(ChunkedWrite, StopsAtTheFirstFailedPiece) {
    ASSERT_EQ(ZRSetDeviceClass(0, 800), 1);
    const Bytes data = pattern(40);
    FakeReader reader(LinkKind::Usb);
    reader.reply(unhex("00 02 73 21")).reply(unhex("00 02 73 00"));
    EXPECT_EQ(ZRWriteUserData(reader.port(), kLead, 8, kTag.data(), data.data(), 33), 2002);
    EXPECT_EQ(reader.log().sent.size(), 1u) << "the second piece is not sent";
}

}  // namespace
