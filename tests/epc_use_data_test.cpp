// EPC code write and use data read/write, over the fake link.
#include <gtest/gtest.h>

#include <functional>

#include "support/fake_link.h"
#include "zrreader.h"

using zr::link::LinkKind;
using zr::test::Bytes;
using zr::test::FakeReader;
using zr::test::hex;
using zr::test::unhex;

namespace {

const unsigned char kPassword[4] = {0xA1, 0xA2, 0xA3, 0xA4};
const LinkKind kLinks[] = {LinkKind::Serial, LinkKind::Usb, LinkKind::Tcp};

Bytes counting(size_t n, uint8_t first = 0x10) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(first + i);
    return b;
}

using Export = std::function<int(int port)>;

struct PacketCase {
    const char* name;
    Export call;
    std::string packet;
};

TEST(EpcAndUseDataWrites, ArgumentsBecomeExactPackets) {
    const Bytes epc = counting(12);
    const Bytes big = counting(246);
    const unsigned char ab[2] = {0xAA, 0xBB};
    const PacketCase cases[] = {
        {"EPC of 6 words; epcLength is checked, not sent",
         [&](int p) { return ZRSetEpcCode(p, 0, kPassword, 4, 6, epc.data()); },
         "00 13 83 00 A1 A2 A3 A4 06 " + hex(epc)},
        {"EPC of 0 words", [&](int p) { return ZRSetEpcCode(p, 0x107, kPassword, 12, 0, nullptr); },
         "00 07 83 07 A1 A2 A3 A4 00"},
        {"EPC of 123 words fills 255 bytes",
         [&](int p) { return ZRSetEpcCode(p, 1, kPassword, 0, 123, big.data()); },
         "00 FD 83 01 A1 A2 A3 A4 7B " + hex(big)},
        {"words passed with high bits", [&](int p) { return ZRSetEpcCode(p, 1, kPassword, 0x10C, 0x101, ab); },
         "00 09 83 01 A1 A2 A3 A4 01 AA BB"},
        {"use data of 1 word", [&](int p) { return ZRSetUseData(p, 5, kPassword, 2, 1, ab); },
         "00 0A 85 05 A1 A2 A3 A4 02 01 AA BB"},
        {"use data of 0 words", [&](int p) { return ZRSetUseData(p, 5, kPassword, 0x1FF, 0, nullptr); },
         "00 08 85 05 A1 A2 A3 A4 FF 00"},
        {"use data of 123 words fills the whole packet",
         [&](int p) { return ZRSetUseData(p, 5, kPassword, 9, 123, big.data()); },
         "00 FE 85 05 A1 A2 A3 A4 09 7B " + hex(big)},
    };
    for (const PacketCase& c : cases) {
        FakeReader reader(LinkKind::Serial);
        const Bytes sent = unhex(c.packet);
        reader.reply({0x00, 0x02, sent[2], 0x00});
        EXPECT_EQ(c.call(reader.port()), 1) << c.name;
        EXPECT_EQ(reader.sentHex(), std::vector<std::string>{c.packet}) << c.name;
        EXPECT_EQ(reader.log().events, (std::vector<std::string>{"flush", "send", "pause 20", "receive"})) << c.name;
    }
}

struct RefusalCase {
    const char* name;
    Export call;
    int result;
};

TEST(EpcAndUseDataWrites, RefusedArgumentsTouchNothing) {
    const Bytes data = counting(250);
    const RefusalCase cases[] = {
        {"epcLength 13", [&](int p) { return ZRSetEpcCode(p, 0, kPassword, 13, 1, data.data()); }, -3},
        {"epcLength 7", [&](int p) { return ZRSetEpcCode(p, 0, kPassword, 7, 1, data.data()); }, -3},
        {"before the NULL check", [&](int p) { return ZRSetEpcCode(p, 0, nullptr, 13, 1, nullptr); }, -3},
        {"EPC of 124 words", [&](int p) { return ZRSetEpcCode(p, 0, kPassword, 12, 124, data.data()); }, -15},
        {"use data of 124 words",
         [&](int p) { return ZRSetUseData(p, 0, kPassword, 0, 124, data.data()); }, -15},
        {"EPC write without password", [&](int p) { return ZRSetEpcCode(p, 0, nullptr, 12, 1, data.data()); },
         -5},
        {"EPC write without EPC", [&](int p) { return ZRSetEpcCode(p, 0, kPassword, 12, 1, nullptr); }, -5},
        {"use data without password",
         [&](int p) { return ZRSetUseData(p, 0, nullptr, 0, 1, data.data()); }, -5},
        {"use data without data", [&](int p) { return ZRSetUseData(p, 0, kPassword, 0, 1, nullptr); }, -5},
        {"read without password", [&](int p) { return ZRGetUseData(p, nullptr, 0, 1, 0); }, -5},
        {"report without buffer", [&](int p) { return ZRGetUseDataReport(p, nullptr); }, -5},
    };
    for (const RefusalCase& c : cases) {
        FakeReader reader(LinkKind::Tcp);
        reader.reply(unhex("00 02 83 00"));
        EXPECT_EQ(c.call(reader.port()), c.result) << c.name;
        EXPECT_TRUE(reader.log().events.empty()) << c.name << ": nothing flushed, sent or received";
        EXPECT_EQ(c.call(-1), -1) << c.name << ": a closed handle comes first";
    }
}

struct ReplyCase {
    const char* name;
    std::vector<Bytes> replies;  // protected packets, one per receive
    int setEpcCode, setUseData;  // results over TCP, which delivers any code
};

TEST(EpcAndUseDataWrites, RepliesAreJudgedInOrder) {
    using zr::test::withCrc;
    const ReplyCase cases[] = {
        {"acknowledged", {withCrc(unhex("00 02 83 00")), withCrc(unhex("00 02 85 00"))}, 1, 1},
        {"reader status 0x20", {withCrc(unhex("00 02 83 20")), withCrc(unhex("00 02 85 20"))}, 2001, 2001},
        {"status with data", {withCrc(unhex("00 03 83 00 99")), withCrc(unhex("00 03 85 00 99"))}, 1, 1},
        {"length field 2, count 7", {withCrc(unhex("00 02 83 00 99")), withCrc(unhex("00 02 85 00 99"))}, -4, -4},
        {"length field 3, count 6", {withCrc(unhex("00 03 83 00")), withCrc(unhex("00 03 85 00"))}, -4, -4},
        {"reply to another command", {withCrc(unhex("00 02 71 00")), withCrc(unhex("00 02 71 00"))}, -20, -4},
    };
    for (const ReplyCase& c : cases) {
        FakeReader reader(LinkKind::Tcp, 3);
        for (int i = 0; i < 3; ++i) reader.replyRaw(c.replies[0]);
        EXPECT_EQ(ZRSetEpcCode(reader.port(), 0, kPassword, 0, 0, nullptr), c.setEpcCode) << c.name;
        FakeReader other(LinkKind::Tcp, 3);
        for (int i = 0; i < 3; ++i) other.replyRaw(c.replies[1]);
        EXPECT_EQ(ZRSetUseData(other.port(), 0, kPassword, 0, 0, nullptr), c.setUseData) << c.name;
    }
}

TEST(EpcAndUseDataWrites, SilentReaderCostsReadTriesTimesTwentyMs) {
    for (LinkKind kind : kLinks) {
        FakeReader reader(kind, 20, 100);
        EXPECT_EQ(ZRSetEpcCode(reader.port(), 0, kPassword, 0, 0, nullptr), -4);
        EXPECT_EQ(reader.log().pauses, std::vector<int>(20, 20)) << "read tries, never write tries";
        EXPECT_EQ(ZRSetUseData(reader.port(), 0, kPassword, 0, 0, nullptr), -4);
        EXPECT_EQ(reader.log().pauses.size(), 40u);
        EXPECT_EQ(reader.log().sent.size(), 2u) << "each request goes out once";
    }
}

// ---- Starting a use-data read and collecting its reply ----------------------------

TEST(UseDataRead, StartSendsTheMemoryReadPacketOnceAndReturnsTheSendCount) {
    struct Row {
        LinkKind kind;
        int count;
    } rows[] = {{LinkKind::Serial, 10}, {LinkKind::Usb, 12}, {LinkKind::Tcp, 12}};
    for (const Row& r : rows) {
        FakeReader reader(r.kind);
        EXPECT_EQ(ZRGetUseData(reader.port(), kPassword, 0x102, 6, 0x1FE), r.count);
        EXPECT_EQ(reader.sentHex(), std::vector<std::string>{"00 08 84 FE A1 A2 A3 A4 02 06"});
        EXPECT_EQ(reader.log().events, (std::vector<std::string>{"flush", "send"})) << "no pause, no receive";
    }
    FakeReader reader(LinkKind::Tcp);
    reader.setSendResult(0);
    EXPECT_EQ(ZRGetUseData(reader.port(), kPassword, 0, 1, 0), 0) << "a failed send";
    EXPECT_EQ(reader.log().sent.size(), 1u) << "and no second send";
}

TEST(UseDataRead, StartSendsWhatTheOneCallReadSends) {
    FakeReader reader(LinkKind::Serial, 1);
    unsigned char out[16];
    ZRReadUserDataEPC(reader.port(), kPassword, 0x30, 4, 0x77, out);
    ZRGetUseData(reader.port(), kPassword, 0x30, 4, 0x77);
    ASSERT_EQ(reader.log().sent.size(), 2u);
    EXPECT_EQ(hex(reader.log().sent[1]), hex(reader.log().sent[0]));
}

struct ReportCase {
    const char* name;
    Bytes raw;  // protected bytes (empty: nothing arrives)
    int result;
};

TEST(UseDataRead, ReportChecksAndCopiesTheWholePacketWithoutCrc) {
    using zr::test::withCrc;
    const ReportCase cases[] = {
        {"two data bytes", withCrc(unhex("00 05 84 00 5A D0 D1")), 1},
        {"no data", withCrc(unhex("00 03 84 00 5A")), 1},
        {"reader status 0x20", withCrc(unhex("00 05 84 20 5A D0 D1")), 2001},
        {"unknown status", withCrc(unhex("00 05 84 27 5A D0 D1")), -20},
        {"length field one short", withCrc(unhex("00 04 84 00 5A D0 D1")), -4},
        {"length field one long", withCrc(unhex("00 06 84 00 5A D0 D1")), -4},
        {"nothing waiting", {}, -4},
    };
    for (LinkKind kind : kLinks) {
        for (const ReportCase& c : cases) {
            FakeReader reader(kind);
            if (c.raw.empty()) reader.silence();
            else reader.replyRaw(c.raw);
            Bytes out(260, 0xEE);
            EXPECT_EQ(ZRGetUseDataReport(reader.port(), out.data()), c.result) << c.name;
            Bytes expected(260, 0xEE);
            if (c.result == 1) std::copy(c.raw.begin(), c.raw.end() - 2, expected.begin());
            EXPECT_EQ(hex(out), hex(expected)) << c.name;
            EXPECT_EQ(reader.log().events, (std::vector<std::string>{"flush", "receive"})) << c.name;
        }
    }
}

TEST(UseDataRead, ReportOfAnotherCommandIsNoReplyOnEveryLink) {
    // Serial and USB skip it while receiving; TCP delivers it and the echo
    // check refuses it.
    for (LinkKind kind : kLinks) {
        FakeReader reader(kind);
        reader.reply(unhex("00 03 83 00 5A"));
        unsigned char out[8] = {};
        EXPECT_EQ(ZRGetUseDataReport(reader.port(), out), -4) << zr::link::linkKindName(kind);
        EXPECT_EQ(out[2], 0) << "out untouched";
    }
}

}  // namespace
