// Power on and off, frequency block, power set and query, over the fake link.
#include <gtest/gtest.h>

#include <functional>

#include "support/fake_link.h"
#include "zrreader.h"

using zr::link::LinkKind;
using zr::test::Bytes;
using zr::test::FakeReader;
using zr::test::unhex;

namespace {

constexpr int kReadTries = 21;

unsigned char scratch[64];

struct PacketRow {
    const char* name;
    std::function<int(int port)> call;
    const char* packet;
    int flushes;
    bool writeTries;  // polls with the write tries (else the read tries)
    int pauseMs;
};

const PacketRow kPacketRows[] = {
    {"ZRPowerOn", [](int p) { return ZRPowerOn(p, 0x1AB); }, "00 02 60 AB", 1, true, 10},
    {"ZRPowerOff", [](int p) { return ZRPowerOff(p); }, "00 01 61", 2, true, 5},
    {"ZRFreqQuery", [](int p) { return ZRFreqQuery(p, 0x107, 256, scratch); }, "00 03 62 07 00", 0, false, 10},
    {"ZRPowerSet", [](int p) { return ZRPowerSet(p, 99, 52, 0x111, 0x22); }, "00 05 63 03 02 11 22", 0, true, 5},
    {"ZRPowerQuery", [](int p) { return ZRPowerQuery(p, 7, 2, scratch); }, "00 03 62 03 00", 0, false, 20},
};

TEST(PowerPackets, ExactBytesFlushesAndTriesTimesPauseOfASilentReader) {
    for (int writeTries : {50, 255}) {
        for (const PacketRow& r : kPacketRows) {
            FakeReader reader(LinkKind::Serial, kReadTries, writeTries);
            EXPECT_EQ(r.call(reader.port()), -4) << r.name;
            EXPECT_EQ(reader.sentHex(), std::vector<std::string>{r.packet}) << r.name;
            EXPECT_EQ(reader.log().flushes, r.flushes) << r.name;
            const int tries = r.writeTries ? writeTries : kReadTries;
            EXPECT_EQ(reader.log().pauses, std::vector<int>(tries, r.pauseMs))
                << r.name << " write tries " << writeTries;
        }
    }
}

TEST(PowerPackets, PowerOffFlushesBeforeSendingAndAgainAfterTheLastTry) {
    FakeReader reader(LinkKind::Usb, kReadTries, 50);
    reader.reply(unhex("00 02 61 00"));
    EXPECT_EQ(ZRPowerOff(reader.port()), 1);
    EXPECT_EQ(reader.log().events,
              (std::vector<std::string>{"flush", "send", "pause 5", "receive", "flush"}));
}

TEST(PowerPackets, CountsAboveFiftyTwoAreRefusedBeforeAnythingHappens) {
    struct Row {
        const char* name;
        std::function<int(int)> call;
    } rows[] = {
        {"ZRFreqQuery 53", [](int p) { return ZRFreqQuery(p, 0, 53, scratch); }},
        {"ZRFreqQuery 0x135 (low byte 53)", [](int p) { return ZRFreqQuery(p, 0, 0x135, scratch); }},
        {"ZRPowerSet 53", [](int p) { return ZRPowerSet(p, 0, 53, 1, 2); }},
        {"ZRPowerQuery 53", [](int p) { return ZRPowerQuery(p, 0, 53, scratch); }},
        {"ZRPowerQuery 256 (checked as an int)", [](int p) { return ZRPowerQuery(p, 0, 256, scratch); }},
    };
    for (const Row& r : rows) {
        FakeReader reader(LinkKind::Tcp);
        EXPECT_EQ(r.call(reader.port()), -15) << r.name;
        EXPECT_TRUE(reader.log().events.empty()) << r.name;
    }
}

TEST(PowerPackets, ClosedHandleAndNullOutputsAreRefusedWithoutTouchingTheLink) {
    FakeReader reader(LinkKind::Serial);
    for (const PacketRow& r : kPacketRows) EXPECT_EQ(r.call(-1), -1) << r.name;
    EXPECT_EQ(ZRFreqQuery(reader.port(), 0, 0, nullptr), -5);
    EXPECT_EQ(ZRPowerQuery(reader.port(), 0, 2, nullptr), -5);
    EXPECT_TRUE(reader.log().events.empty());
}

// ---- Replies --------------------------------------------------------------------

TEST(PowerReplies, LengthCheckAppliesToPowerOnAndOffOnly) {
    // Count 6 with a length field of 3: a reply one byte short of its length.
    struct Row {
        const char* name;
        std::function<int(int)> call;
        const char* reply;
        int result;
    } rows[] = {
        {"ZRPowerOn", [](int p) { return ZRPowerOn(p, 1); }, "00 03 60 00", -4},
        {"ZRPowerOff", [](int p) { return ZRPowerOff(p); }, "00 03 61 00", -4},
        {"ZRPowerSet", [](int p) { return ZRPowerSet(p, 0, 2, 1, 2); }, "00 03 63 00", 1},
        {"ZRPowerOn, matching length", [](int p) { return ZRPowerOn(p, 1); }, "00 02 60 00", 1},
        {"ZRPowerOn, reader status", [](int p) { return ZRPowerOn(p, 1); }, "00 02 60 21", 2002},
        {"ZRPowerSet, unknown status", [](int p) { return ZRPowerSet(p, 0, 2, 1, 2); }, "00 02 63 3A", -20},
    };
    for (const Row& r : rows) {
        FakeReader reader(LinkKind::Tcp, kReadTries, 50);
        reader.reply(unhex(r.reply));
        EXPECT_EQ(r.call(reader.port()), r.result) << r.name;
        EXPECT_EQ(reader.log().pauses.size(), 1u) << r.name << ": the first reply ends the polling";
    }
}

TEST(PowerReplies, FreqQueryCopiesTheFirst54BytesOfTheReplyHeaderIncluded) {
    Bytes data;
    for (int i = 0; i < 50; ++i) data.push_back(static_cast<uint8_t>(0x80 + i));
    Bytes full = unhex("00 34 62 00");
    full.insert(full.end(), data.begin(), data.end());
    FakeReader reader(LinkKind::Serial);
    reader.reply(full).reply(unhex("00 04 62 00 AA BB"));

    Bytes out(60, 0xEE);
    ASSERT_EQ(ZRFreqQuery(reader.port(), 1, 0, out.data()), 1);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 54), full);
    EXPECT_EQ(Bytes(out.begin() + 54, out.end()), Bytes(6, 0xEE)) << "54 bytes, no more";

    // A shorter reply: its bytes, then zeros; neither its CRC nor anything of
    // the first reply is passed off as data.
    ASSERT_EQ(ZRFreqQuery(reader.port(), 1, 0, out.data()), 1);
    Bytes expected = unhex("00 04 62 00 AA BB");
    expected.resize(54, 0x00);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 54), expected);
}

TEST(PowerReplies, PowerQueryCopiesLenDataBytesAfterTheStatus) {
    struct Row {
        int len;
        Bytes out;
    } rows[] = {
        {2, unhex("12 34 EE EE")},
        {3, unhex("12 34 00 EE")},  // one past the data: 0, never the reply's CRC byte
        {0, unhex("EE EE EE EE")},
        {-1, unhex("EE EE EE EE")},
    };
    for (Row& r : rows) {
        FakeReader reader(LinkKind::Tcp);
        const Bytes packet = unhex("00 04 62 00 12 34");
        reader.reply(packet);
        Bytes out(4, 0xEE);
        EXPECT_EQ(ZRPowerQuery(reader.port(), 0, r.len, out.data()), 1) << r.len;
        EXPECT_EQ(out, r.out) << r.len;
    }
    FakeReader reader(LinkKind::Tcp);
    reader.reply(unhex("00 04 62 00 12 34"));
    EXPECT_EQ(ZRPowerQuery(reader.port(), 0, 0, nullptr), 1) << "nothing to copy: NULL is fine";
}

TEST(PowerReplies, ReaderStatusLeavesTheOutputUntouchedAndFollowsTheDeviceClass) {
    ASSERT_EQ(ZRSetDeviceClass(0, 600), 1);
    FakeReader reader(LinkKind::Usb);
    reader.reply(unhex("00 04 62 3F 01 02")).reply(unhex("00 04 62 3F 01 02"));
    Bytes out(54, 0xEE);
    EXPECT_EQ(ZRPowerQuery(reader.port(), 0, 2, out.data()), -5);
    EXPECT_EQ(ZRFreqQuery(reader.port(), 0, 0, out.data()), -5);
    EXPECT_EQ(out, Bytes(54, 0xEE));
    ASSERT_EQ(ZRSetDeviceClass(0, 800), 1);
}

}  // namespace
