// System and tag parameter queries and sets, over the fake link.
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

constexpr int kReadTries = 23;

unsigned char scratch[256];
const Bytes kData = [] {
    Bytes d(256);
    for (int i = 0; i < 256; ++i) d[i] = static_cast<uint8_t>(0xA0 + i);
    return d;
}();

// The hex text of `head` followed by the first `n` bytes of kData.
std::string withData(const char* head, int n) {
    Bytes p = unhex(head);
    p.insert(p.end(), kData.begin(), kData.begin() + n);
    return hex(p);
}

struct PacketRow {
    const char* name;
    std::function<int(int port)> call;
    std::string packet;
};

TEST(ParameterPackets, ExactBytesAndReadTriesOfTwentyMillisecondsWithoutFlush) {
    const PacketRow rows[] = {
        {"ZRSysQuery", [](int p) { return ZRSysQuery(p, 0x110, 8, scratch); }, "00 03 62 10 08"},
        {"ZRSysQuery 300 (low byte 44)", [](int p) { return ZRSysQuery(p, 1, 300, scratch); }, "00 03 62 01 2C"},
        {"ZRTagQuery", [](int p) { return ZRTagQuery(p, 2, 60, scratch); }, "00 03 64 02 3C"},
        {"ZRTagQuery 252", [](int p) { return ZRTagQuery(p, 2, 252, scratch); }, "00 03 64 02 FC"},
        {"ZRSysFastSet 3", [](int p) { return ZRSysFastSet(p, 0x10, 3, kData.data()); }, withData("00 06 63 10 03", 3)},
        {"ZRSysFastSet 0", [](int p) { return ZRSysFastSet(p, 0x10, 0, nullptr); }, "00 03 63 10 00"},
        {"ZRSysFastSet 52", [](int p) { return ZRSysFastSet(p, 7, 52, kData.data()); }, withData("00 37 63 07 34", 52)},
        {"ZRTagFastSet 60", [](int p) { return ZRTagFastSet(p, 4, 60, kData.data()); }, withData("00 3F 65 04 3C", 60)},
        {"ZRTagFastSet 251", [](int p) { return ZRTagFastSet(p, 4, 251, kData.data()); },
         withData("00 FE 65 04 FB", 251)},
    };
    for (const PacketRow& r : rows) {
        FakeReader reader(LinkKind::Usb, kReadTries, 77);
        EXPECT_EQ(r.call(reader.port()), -4) << r.name;
        EXPECT_EQ(reader.sentHex(), std::vector<std::string>{r.packet}) << r.name;
        EXPECT_EQ(reader.log().flushes, 0) << r.name;
        EXPECT_EQ(reader.log().pauses, std::vector<int>(kReadTries, 20)) << r.name;
    }
}

TEST(ParameterPackets, LengthsOutsideTheirLimitsAreRefusedBeforeAnythingHappens) {
    const PacketRow rows[] = {
        {"ZRSysQuery 53", [](int p) { return ZRSysQuery(p, 0, 53, scratch); }, ""},
        {"ZRSysQuery 0x1FF (low byte 255)", [](int p) { return ZRSysQuery(p, 0, 0x1FF, scratch); }, ""},
        {"ZRTagQuery 253", [](int p) { return ZRTagQuery(p, 0, 253, scratch); }, ""},
        {"ZRSysSet 53", [](int p) { return ZRSysSet(p, 0, 53, kData.data()); }, ""},
        {"ZRSysFastSet 53", [](int p) { return ZRSysFastSet(p, 0, 53, kData.data()); }, ""},
        {"ZRSysFastSet -1", [](int p) { return ZRSysFastSet(p, 0, -1, kData.data()); }, ""},
        {"ZRTagFastSet 252", [](int p) { return ZRTagFastSet(p, 0, 252, kData.data()); }, ""},
        {"ZRTagFastSet -1", [](int p) { return ZRTagFastSet(p, 0, -1, kData.data()); }, ""},
    };
    for (const PacketRow& r : rows) {
        FakeReader reader(LinkKind::Serial);
        EXPECT_EQ(r.call(reader.port()), -15) << r.name;
        EXPECT_TRUE(reader.log().events.empty()) << r.name;
    }
}

TEST(ParameterPackets, ClosedHandleAndNullBuffersAreRefusedWithoutTouchingTheLink) {
    FakeReader reader(LinkKind::Serial);
    const int port = reader.port();
    EXPECT_EQ(ZRSysQuery(-1, 0, 1, scratch), -1);
    EXPECT_EQ(ZRTagQuery(-1, 0, 1, scratch), -1);
    EXPECT_EQ(ZRSysSet(-1, 0, 1, scratch), -1);
    EXPECT_EQ(ZRSysFastSet(-1, 0, 1, scratch), -1);
    EXPECT_EQ(ZRTagFastSet(-1, 0, 1, scratch), -1);
    EXPECT_EQ(ZRSysQuery(port, 0, 1, nullptr), -5);
    EXPECT_EQ(ZRTagQuery(port, 0, 1, nullptr), -5);
    EXPECT_EQ(ZRSysSet(port, 0, 1, nullptr), -5);
    EXPECT_EQ(ZRSysFastSet(port, 0, 1, nullptr), -5);
    EXPECT_EQ(ZRTagFastSet(port, 0, 1, nullptr), -5);
    EXPECT_TRUE(reader.log().events.empty());
}

// ---- Query replies --------------------------------------------------------------

TEST(ParameterReplies, QueriesCopyLenDataBytesAfterTheStatus) {
    struct Row {
        const char* name;
        int (*query)(int, int, int, unsigned char*);
        uint8_t code;
        int len;
        const char* reply;
        int result;
        const char* out;  // the first 4 bytes of out afterwards
    } rows[] = {
        {"sys, 3 bytes", ZRSysQuery, 0x62, 3, "00 05 62 00 01 02 03", 1, "01 02 03 EE"},
        {"sys, count 0", ZRSysQuery, 0x62, 0, "00 05 62 00 01 02 03", 1, "EE EE EE EE"},
        {"sys, 0x102 is the low byte 2", ZRSysQuery, 0x62, 0x102, "00 05 62 00 01 02 03", 1, "01 02 EE EE"},
        {"sys, reader status", ZRSysQuery, 0x62, 3, "00 05 62 05 01 02 03", 1005, "EE EE EE EE"},
        {"tag, 3 bytes", ZRTagQuery, 0x64, 3, "00 05 64 00 07 08 09", 1, "07 08 09 EE"},
        {"tag, count 0", ZRTagQuery, 0x64, 0, "00 02 64 00", 1, "EE EE EE EE"},
        {"tag, reader status", ZRTagQuery, 0x64, 1, "00 03 64 26 01", 2007, "EE EE EE EE"},
        {"tag reply to the sys query", ZRSysQuery, 0x62, 1, "00 03 64 00 01", -4, "EE EE EE EE"},
    };
    for (LinkKind kind : {LinkKind::Serial, LinkKind::Tcp}) {
        for (const Row& r : rows) {
            FakeReader reader(kind, kReadTries);
            reader.reply(unhex(r.reply));
            Bytes out(4, 0xEE);
            EXPECT_EQ(r.query(reader.port(), 9, r.len, out.data()), r.result) << r.name;
            EXPECT_EQ(hex(out), r.out) << r.name;
        }
    }
}

TEST(ParameterReplies, TagQueryOverTcpTakesOnlyARepliesCarryingAllItsBytes) {
    // The TCP receive wants count + 4 bytes besides the CRC: status and all data.
    auto replyWith = [](int dataBytes) {
        Bytes p = {0x00, static_cast<uint8_t>(dataBytes + 2), 0x64, 0x00};
        p.insert(p.end(), kData.begin(), kData.begin() + dataBytes);
        return p;
    };
    FakeReader reader(LinkKind::Tcp, kReadTries);
    reader.reply(replyWith(59)).reply(replyWith(60));
    Bytes out(61, 0xEE);
    EXPECT_EQ(ZRTagQuery(reader.port(), 0, 60, out.data()), 1);
    EXPECT_EQ(reader.log().receives, 2) << "the short reply was refused, the full one taken";
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 60), Bytes(kData.begin(), kData.begin() + 60));
    EXPECT_EQ(out[60], 0xEE);

    FakeReader sys(LinkKind::Tcp, kReadTries);
    sys.reply(unhex("00 03 62 00 01"));
    EXPECT_EQ(ZRSysQuery(sys.port(), 0, 20, out.data()), 1) << "the system query takes any reply of 6 bytes";
}

TEST(ParameterReplies, SetsPassTheStatusAndNeedNoLengthCheck) {
    struct Row {
        const char* name;
        int (*set)(int, int, int, const unsigned char*);
        const char* reply;
        int result;
    } rows[] = {
        {"sys fast set", ZRSysFastSet, "00 02 63 00", 1},
        {"sys fast set, length field one too large", ZRSysFastSet, "00 03 63 00", 1},
        {"sys fast set, status", ZRSysFastSet, "00 02 63 11", 1010},
        {"tag fast set", ZRTagFastSet, "00 02 65 00", 1},
        {"tag fast set, status", ZRTagFastSet, "00 02 65 60", 3001},
        {"tag fast set, reply of the sys set", ZRTagFastSet, "00 02 63 00", -4},
    };
    for (const Row& r : rows) {
        FakeReader reader(LinkKind::Tcp, kReadTries);
        reader.reply(unhex(r.reply));
        EXPECT_EQ(r.set(reader.port(), 1, 2, kData.data()), r.result) << r.name;
    }
}

// ---- ZRSysSet ---------------------------------------------------------------------

TEST(SysSet, OnePacketPerByteWithA16BitAddressAndOneImmediateReceive) {
    FakeReader reader(LinkKind::Serial, kReadTries);
    reader.reply(unhex("00 02 63 00")).reply(unhex("00 02 63 00"));
    const Bytes data = unhex("AB CD");
    EXPECT_EQ(ZRSysSet(reader.port(), 0x01FF, 2, data.data()), 1);
    EXPECT_EQ(reader.sentHex(), (std::vector<std::string>{"00 04 63 01 FF AB", "00 04 63 02 00 CD"}));
    EXPECT_EQ(reader.log().events, (std::vector<std::string>{"send", "receive", "send", "receive"}))
        << "no flush, no pause before the receive, no retry";
}

TEST(SysSet, TheAddressWrapsInItsSixteenBitsWhateverTheStart) {
    FakeReader reader(LinkKind::Serial, kReadTries);
    reader.reply(unhex("00 02 63 00")).reply(unhex("00 02 63 00"));
    EXPECT_EQ(ZRSysSet(reader.port(), 0x7FFFFFFF, 2, kData.data()), 1);
    EXPECT_EQ(reader.sentHex(), (std::vector<std::string>{"00 04 63 FF FF A0", "00 04 63 00 00 A1"}));
}

TEST(SysSet, EveryByteIsSentAndTheFirstFailureDecidesTheResult) {
    struct Row {
        const char* name;
        std::vector<const char*> replies;  // per byte; "" for silence
        int result;
        std::vector<int> pauses;
    } rows[] = {
        {"all accepted", {"00 02 63 00", "00 02 63 00", "00 02 63 00"}, 1, {}},
        {"first refused, later accepted", {"00 02 63 21", "00 02 63 00", "00 02 63 00"}, 2002, {50}},
        {"middle unanswered", {"00 02 63 00", "", "00 02 63 00"}, -4, {}},
        {"last refused", {"00 02 63 00", "00 02 63 00", "00 02 63 3A"}, -20, {50}},
        {"unanswered, then refused", {"", "00 02 63 05", "00 02 63 00"}, -4, {50}},
        {"two refusals", {"00 02 63 01", "00 02 63 02", "00 02 63 00"}, 1001, {50, 50}},
        {"reply to another command only", {"00 02 62 00", "00 02 63 00", "00 02 63 00"}, -4, {}},
    };
    for (const Row& r : rows) {
        FakeReader reader(LinkKind::Serial, kReadTries);
        for (const char* reply : r.replies) {
            if (*reply) reader.reply(unhex(reply));
            else reader.silence();
        }
        EXPECT_EQ(ZRSysSet(reader.port(), 0x20, 3, kData.data()), r.result) << r.name;
        EXPECT_EQ(reader.log().sent.size(), 3u) << r.name;
        EXPECT_EQ(reader.log().pauses, r.pauses) << r.name;
    }
}

TEST(SysSet, TcpAndEmptyCountsReturnZeroWithNothingSent) {
    {
        FakeReader reader(LinkKind::Tcp);
        reader.reply(unhex("00 02 63 00"));
        EXPECT_EQ(ZRSysSet(reader.port(), 0, 2, kData.data()), 0);
        EXPECT_TRUE(reader.log().events.empty());
    }
    {
        // Over TCP the data is never read, so a NULL pointer changes nothing.
        FakeReader reader(LinkKind::Tcp);
        EXPECT_EQ(ZRSysSet(reader.port(), 0, 2, nullptr), 0);
        EXPECT_TRUE(reader.log().events.empty());
    }
    for (LinkKind kind : {LinkKind::Serial, LinkKind::Usb, LinkKind::Tcp}) {
        for (int len : {0, -1}) {
            FakeReader reader(kind);
            EXPECT_EQ(ZRSysSet(reader.port(), 0, len, nullptr), 0);
            EXPECT_TRUE(reader.log().events.empty());
        }
    }
}

TEST(SysSet, OverUsbTheSerialRoutinesCannotWriteAndEveryByteGoesUnanswered) {
    FakeReader reader(LinkKind::Usb);
    reader.reply(unhex("00 02 63 00")).reply(unhex("00 02 63 00"));
    EXPECT_EQ(ZRSysSet(reader.port(), 0, 2, kData.data()), -4);
    EXPECT_TRUE(reader.log().events.empty()) << "the USB link itself is not used";
}

}  // namespace
