// Reset, inventory and direct read with their reports, over the fake link.
#include <gtest/gtest.h>

#include "support/fake_link.h"
#include "zrreader.h"

using zr::link::LinkKind;
using zr::test::Bytes;
using zr::test::FakeReader;
using zr::test::unhex;

namespace {

TEST(StartingExports, SendCountDependsOnTheLinkAndPacketsAreExact) {
    struct Row {
        LinkKind kind;
        int reset, identify;
    } rows[] = {{LinkKind::Serial, 3, 5}, {LinkKind::Usb, 5, 7}, {LinkKind::Tcp, 5, 7}};
    for (const Row& r : rows) {
        FakeReader reader(r.kind);
        EXPECT_EQ(ZRReset(reader.port()), r.reset);
        EXPECT_EQ(ZRIdentify(reader.port(), 0x1FF, 2), r.identify);
        EXPECT_EQ(ZRDirectRead(reader.port(), 1, 0x102), r.identify);
        EXPECT_EQ(reader.sentHex(), (std::vector<std::string>{"00 01 6C", "00 03 71 FF 02", "00 03 D0 01 02"}));
        EXPECT_EQ(reader.log().flushes, 3) << "each starting export flushes on entry";
        EXPECT_TRUE(reader.log().pauses.empty());
    }
}

TEST(StartingExports, FailedSendReturnsZeroAndClosedHandleMinusOne) {
    FakeReader reader(LinkKind::Tcp);
    reader.setSendResult(0);
    EXPECT_EQ(ZRReset(reader.port()), 0);
    EXPECT_EQ(ZRIdentify(-1, 1, 2), -1);
    EXPECT_EQ(ZRDirectRead(-1, 1, 2), -1);
    EXPECT_EQ(ZRReset(-1), -1);
    EXPECT_EQ(reader.log().sent.size(), 1u);
}

struct ReportCase {
    const char* name;
    Bytes raw;        // protected bytes as they arrive (empty: nothing)
    bool addCrc;      // append a correct CRC to raw
    int result;
    Bytes out;        // expected output (only checked on result 1)
};

TEST(Reports, ChecksInOrderAndCopyOfStatusAndData) {
    const ReportCase cases[] = {
        {"status and two data bytes", unhex("00 04 71 00 AA BB"), true, 1, unhex("00 AA BB")},
        {"count below 6", unhex("00 01 71"), true, 0, {}},
        {"status only", unhex("00 02 71 00"), true, 1, unhex("00")},
        {"reader status", unhex("00 03 71 21 AA"), true, 2002, {}},
        {"nothing waiting", {}, false, 0, {}},
    };
    for (LinkKind kind : {LinkKind::Serial, LinkKind::Tcp}) {
        for (const ReportCase& c : cases) {
            FakeReader reader(kind);
            if (c.raw.empty()) reader.silence();
            else if (c.addCrc) reader.reply(c.raw);
            else reader.replyRaw(c.raw);
            Bytes out(251, 0xEE);
            EXPECT_EQ(ZRReport(reader.port(), out.data()), c.result) << c.name;
            if (c.result == 1) {
                EXPECT_EQ(Bytes(out.begin(), out.begin() + c.out.size()), c.out) << c.name;
                EXPECT_EQ(out[c.out.size()], 0xEE) << c.name << ": nothing past the report";
            } else {
                EXPECT_EQ(out, Bytes(251, 0xEE)) << c.name << ": out untouched";
            }
            EXPECT_TRUE(reader.log().sent.empty()) << "a report export sends nothing";
        }
    }
}

TEST(Reports, LengthFieldMismatchGivesMinusFour) {
    // Length field 9 while 8 bytes arrived (passes the CRC, as a packet cut short would not).
    FakeReader reader(LinkKind::Tcp);
    reader.replyRaw(zr::test::withCrc(unhex("00 09 71 00 AA BB")));
    unsigned char out[251];
    EXPECT_EQ(ZRReport(reader.port(), out), -4);
}

TEST(Reports, EachReportTakesOnlyItsOwnCommandCode) {
    for (LinkKind kind : {LinkKind::Serial, LinkKind::Usb, LinkKind::Tcp}) {
        FakeReader reader(kind);
        reader.reply(unhex("00 02 D0 00")).reply(unhex("00 02 71 00"));
        unsigned char out[251];
        EXPECT_EQ(ZRReport(reader.port(), out), 0) << "0xD0 is no inventory report";
        EXPECT_EQ(ZRDirectReport(reader.port(), out), 0) << "0x71 is no direct-read report";
    }
}

TEST(Reports, NullOutputIsRefusedBeforeAnythingHappens) {
    FakeReader reader(LinkKind::Serial);
    reader.reply(unhex("00 02 71 00"));
    EXPECT_EQ(ZRReport(reader.port(), nullptr), -5);
    EXPECT_EQ(reader.log().flushes, 0);
    EXPECT_EQ(reader.log().receives, 0);
    EXPECT_EQ(ZRReport(-1, nullptr), -1);
}

TEST(Reports, DeviceClassChoosesTheMappingOfAReportStatus) {
    FakeReader reader(LinkKind::Tcp);
    reader.reply(unhex("00 02 71 3F")).reply(unhex("00 02 71 3F"));
    unsigned char out[251];
    ASSERT_EQ(ZRSetDeviceClass(0, 500), 1);
    EXPECT_EQ(ZRReport(reader.port(), out), -5);
    ASSERT_EQ(ZRSetDeviceClass(0, 800), 1);
    EXPECT_EQ(ZRReport(reader.port(), out), -20);
}

}  // namespace
