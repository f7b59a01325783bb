// Reader state, clock, fixed number, upgrade and listening, over the fake link.
#include <gtest/gtest.h>

#include <functional>

#include "support/fake_link.h"
#include "zrreader.h"

using zr::link::LinkKind;
using zr::test::Bytes;
using zr::test::FakeReader;
using zr::test::unhex;
using zr::test::withCrc;

namespace {

const unsigned char kTime[6] = {0x26, 0x12, 0x08, 0x14, 0x30, 0x55};

struct RequestRow {
    const char* name;
    std::function<int(int port)> call;
    const char* packet;
    std::vector<int> silentPauses;  // with read tries 20
};

TEST(MaintenanceRequests, PacketBytesAndWaitAgainstASilentReader) {
    unsigned char state[6];
    const RequestRow rows[] = {
        {"print power", [](int p) { return ZREpcPrintPowerOs(p, 0x1AB); }, "00 02 6D AB", std::vector<int>(20, 20)},
        {"state", [&](int p) { return ZRGetReaderState(p, 0x105, state); }, "00 02 A0 05", {50}},
        {"time", [](int p) { return ZRSetReaderTime(p, 0x107, kTime); }, "00 08 A2 26 12 08 14 30 55 07", {50}},
        {"set fixed number", [](int p) { return ZRSetReaderfixNO(p, 0x1FE); }, "00 02 A3 FE", {50}},
        {"get fixed number", [](int p) { return ZRGetReaderfixNO(p, 99); }, "00 01 A4", {50}},
    };
    for (LinkKind kind : {LinkKind::Serial, LinkKind::Usb, LinkKind::Tcp}) {
        for (const RequestRow& r : rows) {
            FakeReader reader(kind, 20);
            EXPECT_EQ(r.call(reader.port()), -4) << r.name;
            EXPECT_EQ(reader.sentHex(), std::vector<std::string>{r.packet}) << r.name;
            EXPECT_EQ(reader.log().pauses, r.silentPauses) << r.name;
            EXPECT_EQ(reader.log().events.front(), "flush") << r.name;
            EXPECT_EQ(r.call(-1), -1) << r.name;
        }
    }
}

TEST(MaintenanceRequests, UpgradeReturnsTheSendCountAndReadsNothing) {
    for (auto [kind, count] : {std::pair{LinkKind::Serial, 3}, {LinkKind::Usb, 5}, {LinkKind::Tcp, 5}}) {
        FakeReader reader(kind);
        EXPECT_EQ(ZRUpGrade(reader.port()), count);
        reader.setSendResult(0);
        EXPECT_EQ(ZRUpGrade(reader.port()), 0);
        EXPECT_EQ(reader.sentHex(), (std::vector<std::string>{"00 01 6B", "00 01 6B"}));
        EXPECT_EQ(reader.log().receives, 0);
        EXPECT_EQ(reader.log().flushes, 2);
    }
    EXPECT_EQ(ZRUpGrade(-1), -1);
}

struct StatusRow {
    const char* name;
    LinkKind kind;
    Bytes arrived;  // protected packet
    int result;
};

TEST(MaintenanceReplies, JudgedByCountAndLengthFieldNotByCode) {
    const StatusRow rows[] = {
        {"status 0", LinkKind::Serial, withCrc(unhex("00 02 A3 00")), 1},
        {"reader status", LinkKind::Usb, withCrc(unhex("00 02 A3 21")), 2002},
        {"count is not length + 4", LinkKind::Serial, withCrc(unhex("00 03 A3 00")), -4},
        {"TCP refuses fewer than 11 bytes", LinkKind::Tcp, withCrc(unhex("00 06 A3 00 01 02 03 04")), -4},
        {"TCP: 11 bytes", LinkKind::Tcp, withCrc(unhex("00 07 A3 00 01 02 03 04 05")), 1},
        {"TCP: the code is not compared", LinkKind::Tcp, withCrc(unhex("00 07 6C 22 01 02 03 04 05")), 2003},
    };
    for (const StatusRow& r : rows) {
        FakeReader reader(r.kind);
        reader.replyRaw(r.arrived);
        EXPECT_EQ(ZRSetReaderfixNO(reader.port(), 1), r.result) << r.name;
    }
}

TEST(MaintenanceReplies, PrintPowerStopsAtTheFirstReplyOfSixBytes) {
    FakeReader reader(LinkKind::Serial, 20);
    reader.silence(3).reply(unhex("00 02 6D 00"));
    EXPECT_EQ(ZREpcPrintPowerOs(reader.port(), 1), 1);
    EXPECT_EQ(reader.log().pauses, std::vector<int>(4, 20));
}

TEST(MaintenanceReplies, ReaderStateCopiesSixBytesFromOffsetFiveAndNeverTheCrc) {
    struct Row {
        const char* reply;
        int result;
        const char* state;
    } rows[] = {
        {"00 09 A0 00 11 22 33 44 55 66 77", 1, "22 33 44 55 66 77"},
        {"00 04 A0 00 11 22", 1, "22 00 00 00 00 00"},
        {"00 09 A0 21 11 22 33 44 55 66 77", 2002, "EE EE EE EE EE EE"},
    };
    for (const Row& r : rows) {
        FakeReader reader(LinkKind::Serial);
        reader.reply(unhex(r.reply));
        Bytes state(6, 0xEE);
        EXPECT_EQ(ZRGetReaderState(reader.port(), 0, state.data()), r.result) << r.reply;
        EXPECT_EQ(zr::test::hex(state), r.state) << r.reply;
    }
}

TEST(FixedNumberEx, DeliversTheDataAfterTheStatusWithinTheCapacity) {
    struct Row {
        int capacity;
        const char* reply;
        int result;
        const char* out;
        int length;
    } rows[] = {
        {8, "00 07 A4 00 01 02 03 04 05", 1, "01 02 03 04 05 EE EE EE", 5},
        {5, "00 07 A4 00 01 02 03 04 05", 1, "01 02 03 04 05 EE EE EE", 5},
        {4, "00 07 A4 00 01 02 03 04 05", -15, "EE EE EE EE EE EE EE EE", -1},
        {8, "00 07 A4 21 01 02 03 04 05", 2002, "EE EE EE EE EE EE EE EE", -1},
    };
    for (const Row& r : rows) {
        FakeReader reader(LinkKind::Tcp);
        reader.reply(unhex(r.reply));
        Bytes out(8, 0xEE);
        int length = -1;
        EXPECT_EQ(ZRGetReaderfixNOEx(reader.port(), out.data(), r.capacity, &length), r.result) << r.capacity;
        EXPECT_EQ(zr::test::hex(out), r.out) << r.capacity;
        EXPECT_EQ(length, r.length) << r.capacity;
        EXPECT_EQ(reader.sentHex(), std::vector<std::string>{"00 01 A4"});
    }
    FakeReader reader(LinkKind::Serial);
    reader.reply(unhex("00 02 A4 00"));
    EXPECT_EQ(ZRGetReaderfixNOEx(reader.port(), nullptr, 0, nullptr), 1) << "nothing to copy, no buffer needed";
}

TEST(MaintenanceArguments, NullPointersAndBadCapacityAreRefusedBeforeAnythingHappens) {
    FakeReader reader(LinkKind::Serial);
    unsigned char b[8];
    EXPECT_EQ(ZRGetReaderState(reader.port(), 0, nullptr), -5);
    EXPECT_EQ(ZRSetReaderTime(reader.port(), 0, nullptr), -5);
    EXPECT_EQ(ZRGetReaderfixNOEx(reader.port(), nullptr, 4, nullptr), -5);
    EXPECT_EQ(ZRGetReaderfixNOEx(reader.port(), b, -1, nullptr), -5);
    EXPECT_EQ(ZRListenReader(reader.port(), 0, b, b, nullptr), -5);
    EXPECT_EQ(ZRListenReader(reader.port(), 0, nullptr, b, b), -5);
    EXPECT_TRUE(reader.log().events.empty());
    EXPECT_EQ(ZRListenReader(-1, 0, nullptr, nullptr, nullptr), -1);
}

// ---- Listening ----------------------------------------------------------------

struct ListenRow {
    const char* name;
    LinkKind kind;
    Bytes arrived;  // empty: nothing
    int result;
    const char* ack;  // empty: no acknowledgement
    const char* first8;
    const char* second8;
    const char* info6;
};

const Bytes kFullMessage = withCrc(unhex("00 18 A1 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F 20 21 22 23 24 25 26"));

TEST(ListenReader, AcknowledgesEveryMessageButOneWhoseLengthIsNotBelowTheCount) {
    const char* zero8 = "00 00 00 00 00 00 00 00";
    const char* zero6 = "00 00 00 00 00 00";
    const ListenRow rows[] = {
        {"nothing", LinkKind::Serial, {}, 0, "00 0B A1 3F 00 00 00 00 00 00 00 00 00", zero8, zero8, zero6},
        {"length field 1", LinkKind::Serial, withCrc(unhex("00 01 A1")), 1, "00 0B A1 00 00 00 00 00 00 00 00 00 00",
         zero8, zero8, zero6},
        {"length field 1, below the TCP minimum", LinkKind::Tcp, withCrc(unhex("00 01 A1")), 0,
         "00 0B A1 3F 00 00 00 00 00 00 00 00 00", zero8, zero8, zero6},
        {"full message", LinkKind::Tcp, kFullMessage, 1, "00 0B A1 00 10 11 12 13 14 15 16 17 19",
         "10 11 12 13 14 15 16 17", "18 19 1A 1B 1C 1D 1E 1F", "1A 1B 1C 1D 1E 1F"},
        {"full message", LinkKind::Usb, kFullMessage, 1, "00 0B A1 00 10 11 12 13 14 15 16 17 19",
         "10 11 12 13 14 15 16 17", "18 19 1A 1B 1C 1D 1E 1F", "1A 1B 1C 1D 1E 1F"},
        {"short message: no CRC byte is taken as data", LinkKind::Serial, withCrc(unhex("00 05 A1 01 02 03 04")), 1,
         "00 0B A1 00 01 02 03 04 00 00 00 00 00", "01 02 03 04 00 00 00 00", zero8, zero6},
        {"count is not length + 4", LinkKind::Serial, withCrc(unhex("00 03 A1 01 02 03")), 0,
         "00 0B A1 3F 00 00 00 00 00 00 00 00 00", zero8, zero8, zero6},
        {"length not below the count", LinkKind::Serial, withCrc(unhex("00 08 A1 01 02 03")), -4, "", zero8, zero8,
         zero6},
    };
    for (const ListenRow& r : rows) {
        FakeReader reader(r.kind);
        if (r.arrived.empty()) reader.silence();
        else reader.replyRaw(r.arrived);
        Bytes info6(6, 0xEE), first8(8, 0xEE), second8(8, 0xEE);
        EXPECT_EQ(ZRListenReader(reader.port(), 7, info6.data(), first8.data(), second8.data()), r.result) << r.name;
        EXPECT_EQ(reader.sentHex(), *r.ack ? std::vector<std::string>{r.ack} : std::vector<std::string>{}) << r.name;
        EXPECT_EQ(zr::test::hex(first8), r.first8) << r.name;
        EXPECT_EQ(zr::test::hex(second8), r.second8) << r.name;
        EXPECT_EQ(zr::test::hex(info6), r.info6) << r.name;
        const std::vector<std::string> answered{"flush", "pause 50", "receive", "pause 50", "send"};
        const std::vector<std::string> silent{"flush", "pause 50", "receive"};
        EXPECT_EQ(reader.log().events, *r.ack ? answered : silent) << r.name;
    }
}

}  // namespace
