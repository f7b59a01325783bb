// Tag selection by tag ID or EPC, and the data-return setting, over the fake link.
#include <gtest/gtest.h>

#include <functional>

#include "support/fake_link.h"
#include "zrreader.h"

using zr::link::LinkKind;
using zr::test::Bytes;
using zr::test::FakeReader;
using zr::test::hex;
using zr::test::unhex;
using zr::test::withCrc;

namespace {

const unsigned char kTagId[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};

using Export = std::function<int(int port)>;

struct PacketCase {
    const char* name;
    Export call;
    std::string packet;
    int pauseMs;
};

TEST(TagSelection, ArgumentsBecomeExactPackets) {
    Bytes epc(250);
    for (size_t i = 0; i < epc.size(); ++i) epc[i] = static_cast<uint8_t>(0x30 + i);
    const Bytes twelve(epc.begin(), epc.begin() + 12);
    const PacketCase cases[] = {
        {"data return", [](int p) { return ZRDataReturn(p, 1, 4); }, "00 03 68 01 04", 50},
        {"data return, value 0x100 is 0", [](int p) { return ZRDataReturn(p, 0x1FF, 0x100); }, "00 03 68 FF 00",
         50},
        {"select by tag ID", [](int p) { return ZRSelectTag(p, 1, 2, 3, kTagId); },
         "00 0C 70 01 02 03 11 22 33 44 55 66 77 88", 10},
        {"select by 12 EPC bytes", [&](int p) { return ZRSelectTagEPC(p, 4, 5, 0x106, epc.data(), 12); },
         "00 10 80 04 05 06 " + hex(twelve), 10},
        {"select by empty EPC", [](int p) { return ZRSelectTagEPC(p, 4, 5, 6, nullptr, 0); }, "00 04 80 04 05 06",
         10},
        {"select by 250 EPC bytes fills the packet",
         [&](int p) { return ZRSelectTagEPC(p, 4, 5, 6, epc.data(), 250); }, "00 FE 80 04 05 06 " + hex(epc), 10},
    };
    for (const PacketCase& c : cases) {
        FakeReader reader(LinkKind::Serial);
        reader.reply({0x00, 0x02, unhex(c.packet)[2], 0x00});
        EXPECT_EQ(c.call(reader.port()), 1) << c.name;
        EXPECT_EQ(reader.sentHex(), std::vector<std::string>{c.packet}) << c.name;
        EXPECT_EQ(reader.log().events,
                  (std::vector<std::string>{"flush", "send", "pause " + std::to_string(c.pauseMs), "receive"}))
            << c.name;
    }
}

struct RefusalCase {
    const char* name;
    Export call;
    int result;
};

TEST(TagSelection, RefusedArgumentsTouchNothing) {
    const Bytes epc(256, 0x42);
    const RefusalCase cases[] = {
        {"data return value 5", [](int p) { return ZRDataReturn(p, 1, 5); }, -5},
        {"data return value 0xFF", [](int p) { return ZRDataReturn(p, 1, -1); }, -5},
        {"select without tag ID", [](int p) { return ZRSelectTag(p, 1, 2, 3, nullptr); }, -5},
        {"select by EPC without EPC", [](int p) { return ZRSelectTagEPC(p, 1, 2, 3, nullptr, 1); }, -5},
        {"select by 251 EPC bytes", [&](int p) { return ZRSelectTagEPC(p, 1, 2, 3, epc.data(), 251); }, -15},
    };
    for (const RefusalCase& c : cases) {
        FakeReader reader(LinkKind::Tcp);
        reader.reply(unhex("00 02 68 00"));
        EXPECT_EQ(c.call(reader.port()), c.result) << c.name;
        EXPECT_TRUE(reader.log().events.empty()) << c.name << ": nothing flushed, sent or received";
        EXPECT_EQ(c.call(-1), -1) << c.name << ": a closed handle comes first";
    }
}

struct ReplyCase {
    const char* name;
    LinkKind kind;
    Bytes reply;  // protected bytes of the one reply (empty: silent)
    int dataReturn;
};

TEST(TagSelection, DataReturnMakesOneTryAndJudgesLengthAndStatusOnly) {
    const ReplyCase cases[] = {
        {"serial acknowledgement", LinkKind::Serial, withCrc(unhex("00 02 68 00")), 1},
        {"serial status 0x22", LinkKind::Serial, withCrc(unhex("00 02 68 22")), 2003},
        {"serial length field 3, count 6", LinkKind::Serial, withCrc(unhex("00 03 68 00")), -4},
        {"serial skips another command's reply", LinkKind::Serial, withCrc(unhex("00 02 70 00")), -4},
        {"serial silence", LinkKind::Serial, {}, -4},
        {"TCP minimum 6: an acknowledgement of 6 bytes is refused", LinkKind::Tcp, withCrc(unhex("00 02 68 00")),
         -4},
        {"TCP reply with data", LinkKind::Tcp, withCrc(unhex("00 04 68 00 01 02")), 1},
        {"TCP takes another command's reply by length and status", LinkKind::Tcp,
         withCrc(unhex("00 04 71 00 01 02")), 1},
        {"TCP status of another command's reply", LinkKind::Tcp, withCrc(unhex("00 04 71 21 01 02")), 2002},
        {"TCP silence", LinkKind::Tcp, {}, -4},
    };
    for (const ReplyCase& c : cases) {
        FakeReader reader(c.kind);
        if (c.reply.empty()) reader.silence();
        else reader.replyRaw(c.reply);
        reader.reply(unhex("00 04 68 00 01 02"));  // arrives too late: never read
        EXPECT_EQ(ZRDataReturn(reader.port(), 0, 0), c.dataReturn) << c.name;
        EXPECT_EQ(reader.log().pauses, std::vector<int>{50}) << c.name;
        EXPECT_EQ(reader.log().receives, 1) << c.name << ": never a second receive";
    }
}

TEST(TagSelection, SelectRepliesAreJudgedByCodeLengthAndStatus) {
    struct Case {
        const char* name;
        std::vector<Bytes> replies;
        int result;
        int receives;
    } cases[] = {
        {"count 6, length field 2", {withCrc(unhex("00 02 70 00"))}, 1, 1},
        {"count 6, length field 3", {withCrc(unhex("00 03 70 00"))}, -4, 1},
        {"status 0x3A", {withCrc(unhex("00 02 70 3A"))}, -20, 1},
    };
    for (const Case& c : cases) {
        FakeReader reader(LinkKind::Tcp);
        for (const Bytes& r : c.replies) reader.replyRaw(r);
        EXPECT_EQ(ZRSelectTag(reader.port(), 0, 0, 0, kTagId), c.result) << c.name;
        EXPECT_EQ(reader.log().receives, c.receives) << c.name;
    }
}

TEST(TagSelection, SilentReaderCostsReadTriesTimesTenMs) {
    const Export exports[] = {
        [](int p) { return ZRSelectTag(p, 0, 0, 0, kTagId); },
        [](int p) { return ZRSelectTagEPC(p, 0, 0, 0, kTagId, 8); },
    };
    for (const Export& call : exports) {
        for (LinkKind kind : {LinkKind::Usb, LinkKind::Tcp}) {
            FakeReader reader(kind, 20, 100);
            EXPECT_EQ(call(reader.port()), -4);
            EXPECT_EQ(reader.log().pauses, std::vector<int>(20, 10)) << "read tries, never write tries";
            EXPECT_EQ(reader.log().sent.size(), 1u);
        }
    }
}

}  // namespace
