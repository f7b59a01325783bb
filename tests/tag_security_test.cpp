// Tag passwords, data locking and destruction, over the fake link.
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

// Ascending bytes go out in ascending order: no conversion to a number.
const unsigned char kPassword[4] = {0x01, 0x02, 0x03, 0x04};
const unsigned char kNewPassword[4] = {0xF1, 0xF2, 0xF3, 0xF4};

using Export = std::function<int(int port)>;

struct PacketCase {
    const char* name;
    Export call;
    std::string packet;
};

TEST(TagSecurity, ArgumentsBecomeExactPackets) {
    Bytes data(248);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0x20 + i);
    const Bytes twelve(data.begin(), data.begin() + 12);
    const PacketCase cases[] = {
        {"access password", [&](int p) { return ZRSetVisitPWD(p, 1, kPassword, kNewPassword); },
         "00 0A 88 01 01 02 03 04 F1 F2 F3 F4"},
        {"destroy password", [&](int p) { return ZRSetDestroyPWD(p, 1, kPassword, kNewPassword); },
         "00 0A 89 01 01 02 03 04 F1 F2 F3 F4"},
        {"lead uses its low 8 bits", [&](int p) { return ZRSetVisitPWD(p, 0x3FE, kPassword, kNewPassword); },
         "00 0A 88 FE 01 02 03 04 F1 F2 F3 F4"},
        {"lock flag 1, selector 5", [&](int p) { return ZRSetDataLocked(p, 7, kPassword, 1, 5); },
         "00 08 8A 07 01 02 03 04 01 05"},
        {"lock flag 0, selector 0", [&](int p) { return ZRSetDataLocked(p, 7, kPassword, 0x100, 0x200); },
         "00 08 8A 07 01 02 03 04 00 00"},
        {"destroy without data", [&](int p) { return ZRSetDestroyTag(p, 2, kPassword, 0, nullptr); },
         "00 06 8B 02 01 02 03 04"},
        {"destroy with 6 words; the count is not sent",
         [&](int p) { return ZRSetDestroyTag(p, 2, kPassword, 6, data.data()); },
         "00 12 8B 02 01 02 03 04 " + hex(twelve)},
        {"destroy with 124 words fills the packet",
         [&](int p) { return ZRSetDestroyTag(p, 2, kPassword, 124, data.data()); },
         "00 FE 8B 02 01 02 03 04 " + hex(data)},
    };
    for (const PacketCase& c : cases) {
        FakeReader reader(LinkKind::Usb);
        reader.reply({0x00, 0x02, unhex(c.packet)[2], 0x00});
        EXPECT_EQ(c.call(reader.port()), 1) << c.name;
        EXPECT_EQ(reader.sentHex(), std::vector<std::string>{c.packet}) << c.name;
        EXPECT_EQ(reader.log().events, (std::vector<std::string>{"flush", "send", "pause 10", "receive"})) << c.name;
    }
}

struct RefusalCase {
    const char* name;
    Export call;
    int result;
};

TEST(TagSecurity, RefusedArgumentsTouchNothing) {
    const Bytes data(250, 0x55);
    const RefusalCase cases[] = {
        {"lock flag 2", [&](int p) { return ZRSetDataLocked(p, 0, kPassword, 2, 0); }, -5},
        {"lock flag 0xFF", [&](int p) { return ZRSetDataLocked(p, 0, kPassword, -1, 0); }, -5},
        {"lock selector 6", [&](int p) { return ZRSetDataLocked(p, 0, kPassword, 1, 6); }, -5},
        {"lock without password", [&](int p) { return ZRSetDataLocked(p, 0, nullptr, 1, 5); }, -5},
        {"access password without password",
         [&](int p) { return ZRSetVisitPWD(p, 0, nullptr, kNewPassword); }, -5},
        {"access password without new password", [&](int p) { return ZRSetVisitPWD(p, 0, kPassword, nullptr); },
         -5},
        {"destroy password without new password",
         [&](int p) { return ZRSetDestroyPWD(p, 0, kPassword, nullptr); }, -5},
        {"destroy without password", [&](int p) { return ZRSetDestroyTag(p, 0, nullptr, 0, nullptr); }, -5},
        {"destroy without data", [&](int p) { return ZRSetDestroyTag(p, 0, kPassword, 1, nullptr); }, -5},
        {"destroy with 125 words", [&](int p) { return ZRSetDestroyTag(p, 0, kPassword, 125, data.data()); }, -15},
        {"destroy with 255 words", [&](int p) { return ZRSetDestroyTag(p, 0, kPassword, 255, data.data()); }, -15},
    };
    for (const RefusalCase& c : cases) {
        FakeReader reader(LinkKind::Serial);
        reader.reply(unhex("00 02 8A 00"));
        EXPECT_EQ(c.call(reader.port()), c.result) << c.name;
        EXPECT_TRUE(reader.log().events.empty()) << c.name << ": nothing flushed, sent or received";
        EXPECT_EQ(c.call(-1), -1) << c.name << ": a closed handle comes first";
    }
}

struct ReplyCase {
    const char* name;
    Bytes reply;  // protected packet of the 0x89 reply
    int result;
};

TEST(TagSecurity, RepliesAreJudgedByCodeLengthAndStatus) {
    using zr::test::withCrc;
    const ReplyCase cases[] = {
        {"acknowledged", withCrc(unhex("00 02 89 00")), 1},
        {"reader status 0x05", withCrc(unhex("00 02 89 05")), 1005},
        {"length field 2, count 7", withCrc(unhex("00 02 89 00 33")), -4},
        {"length field 3, count 6", withCrc(unhex("00 03 89 00")), -4},
    };
    for (LinkKind kind : {LinkKind::Serial, LinkKind::Tcp}) {
        for (const ReplyCase& c : cases) {
            FakeReader reader(kind);
            reader.replyRaw(c.reply);
            EXPECT_EQ(ZRSetDestroyPWD(reader.port(), 0, kPassword, kNewPassword), c.result) << c.name;
            EXPECT_EQ(reader.log().receives, 1) << c.name << ": the first echo ends the polling";
        }
    }
}

TEST(TagSecurity, SilentReaderCostsReadTriesTimesTenMsForEveryExport) {
    const unsigned char data[2] = {0, 0};
    const Export exports[] = {
        [&](int p) { return ZRSetVisitPWD(p, 0, kPassword, kNewPassword); },
        [&](int p) { return ZRSetDestroyPWD(p, 0, kPassword, kNewPassword); },
        [&](int p) { return ZRSetDataLocked(p, 0, kPassword, 0, 0); },
        [&](int p) { return ZRSetDestroyTag(p, 0, kPassword, 1, data); },
    };
    for (const Export& call : exports) {
        FakeReader reader(LinkKind::Serial, 30, 90);
        EXPECT_EQ(call(reader.port()), -4);
        EXPECT_EQ(reader.log().pauses, std::vector<int>(30, 10)) << "read tries, never write tries";
        EXPECT_EQ(reader.log().sent.size(), 1u);
    }
}

}  // namespace
