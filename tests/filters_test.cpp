// Tag and time filters over the fake link.
#include <gtest/gtest.h>

#include <functional>

#include "support/fake_link.h"
#include "zrreader.h"

using zr::link::LinkKind;
using zr::test::FakeReader;
using zr::test::unhex;
using zr::test::withCrc;

namespace {

const unsigned char kFirst12[12] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x55};
const unsigned char kSecond12[12] = {0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x56};
const unsigned char kTime2[2] = {0x12, 0x34};

struct FilterRow {
    const char* name;
    std::function<int(int port)> call;
    const char* packet;
    uint8_t code;
};

const FilterRow kFilters[] = {
    {"set tag", [](int p) { return ZRSetTagFilter(p, kFirst12, kSecond12); },
     "00 1A 8E 00 01 02 03 04 05 06 07 08 09 0A 0B 55 11 12 13 14 15 16 17 18 19 1A 1B 56", 0x8E},
    {"cancel tag", [](int p) { return ZRCancelTagFilter(p); }, "00 02 8E 01", 0x8E},
    {"set time", [](int p) { return ZRSetTimeFilter(p, kTime2); }, "00 04 8F 00 12 34", 0x8F},
    {"cancel time", [](int p) { return ZRCancelTimeFilter(p); }, "00 02 8F 01", 0x8F},
};

TEST(Filters, PacketBytesAndReadTriesTenMillisecondsApartAgainstASilentReader) {
    for (LinkKind kind : {LinkKind::Serial, LinkKind::Usb, LinkKind::Tcp}) {
        for (const FilterRow& f : kFilters) {
            FakeReader reader(kind, 21);
            EXPECT_EQ(f.call(reader.port()), -4) << f.name;
            EXPECT_EQ(reader.sentHex(), std::vector<std::string>{f.packet}) << f.name;
            EXPECT_EQ(reader.log().pauses, std::vector<int>(21, 10)) << f.name;
            EXPECT_EQ(reader.log().events.front(), "flush") << f.name;
            EXPECT_EQ(f.call(-1), -1) << f.name;
        }
    }
}

TEST(Filters, SharedReplyRule) {
    struct Row {
        const char* name;
        LinkKind kind;
        const char* tail;  // the reply after 00 L code
        bool lengthRight;
        int result;
    } rows[] = {
        {"status 0", LinkKind::Serial, "00 00", true, 1},
        {"operation not echoed, status 0", LinkKind::Tcp, "00 07", true, 1},
        {"reader status", LinkKind::Usb, "21 00", true, 2002},
        {"count is not length + 4", LinkKind::Serial, "00 00", false, -4},
    };
    for (const FilterRow& f : kFilters) {
        for (const Row& r : rows) {
            FakeReader reader(r.kind);
            zr::test::Bytes reply = unhex(r.tail);
            reply.insert(reply.begin(), {0x00, static_cast<uint8_t>(r.lengthRight ? 3 : 4), f.code});
            reader.replyRaw(withCrc(reply));
            EXPECT_EQ(f.call(reader.port()), r.result) << f.name << ": " << r.name;
        }
    }
}

TEST(Filters, NullFilterDataIsRefusedBeforeAnythingHappens) {
    FakeReader reader(LinkKind::Serial);
    EXPECT_EQ(ZRSetTagFilter(reader.port(), kFirst12, nullptr), -5);
    EXPECT_EQ(ZRSetTagFilter(reader.port(), nullptr, kSecond12), -5);
    EXPECT_EQ(ZRSetTimeFilter(reader.port(), nullptr), -5);
    EXPECT_TRUE(reader.log().events.empty());
}

}  // namespace
