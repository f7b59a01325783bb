// EAS alarm and EU tests over the fake link.
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

const unsigned char kFlag4[4] = {0x0A, 0x0B, 0x0C, 0x0D};
const unsigned char kData3[3] = {0x01, 0x02, 0x03};

struct RequestRow {
    const char* name;
    std::function<int(int port)> call;
    const char* packet;  // empty: nothing sent
    int silentResult;
    std::vector<int> silentPauses;  // with read tries 3
    int flushes;
};

TEST(EasRequests, PacketBytesFlushesAndWaitAgainstASilentReader) {
    unsigned char out[4];
    const RequestRow rows[] = {
        {"config flag", [](int p) { return ZRConfigEASflag(p, 0x101, kFlag4, 0x1EE); }, "00 07 8C 01 0A 0B 0C 0D EE", -4,
         std::vector<int>(3, 20), 1},
        {"start", [](int p) { return ZRStartEASAlarm(p, 0x102); }, "00 04 8D 02 01 00", 0, std::vector<int>(3, 10), 1},
        {"report", [](int p) { return ZREASAlarmReport(p); }, "", 0, {}, 1},
        {"end", [](int p) { return ZREndEASAlarm(p, 3); }, "00 04 8D 03 00 00", -4, std::vector<int>(30, 20), 1},
        {"door", [&](int p) { return ZREUDoorTest(p, 4, 2, 0x105, out); }, "00 03 66 04 05", -4,
         std::vector<int>(3, 10), 0},
        {"freq", [](int p) { return ZREUFreqTest(p, 6, 3, kData3); }, "00 05 66 06 01 02 03", -4,
         std::vector<int>(3, 10), 0},
        {"freq, no data", [](int p) { return ZREUFreqTest(p, 6, 0, nullptr); }, "00 02 66 06", -4,
         std::vector<int>(3, 10), 0},
    };
    for (LinkKind kind : {LinkKind::Serial, LinkKind::Tcp}) {
        for (const RequestRow& r : rows) {
            FakeReader reader(kind, 3);
            EXPECT_EQ(r.call(reader.port()), r.silentResult) << r.name;
            EXPECT_EQ(reader.sentHex(), *r.packet ? std::vector<std::string>{r.packet} : std::vector<std::string>{})
                << r.name;
            EXPECT_EQ(reader.log().pauses, r.silentPauses) << r.name;
            EXPECT_EQ(reader.log().receives, std::max<int>(1, r.silentPauses.size())) << r.name;
            EXPECT_EQ(reader.log().flushes, r.flushes) << r.name;
            EXPECT_EQ(r.call(-1), -1) << r.name;
        }
    }
}

TEST(EasRequests, EndAlarmAgainstASilentReaderMakesTenTimesTheReadTries) {
    FakeReader reader(LinkKind::Usb, 25);
    EXPECT_EQ(ZREndEASAlarm(reader.port(), 0), -4);
    EXPECT_EQ(reader.log().pauses, std::vector<int>(250, 20));
}

TEST(EuTests, LengthAboveFiftyTwoOrNegativeIsRefusedBeforeAnythingIsSent) {
    FakeReader reader(LinkKind::Serial);
    Bytes big(53, 0x5A), out(53);
    EXPECT_EQ(ZREUFreqTest(reader.port(), 1, 53, big.data()), -15);
    EXPECT_EQ(ZREUFreqTest(reader.port(), 1, -1, big.data()), -15);
    EXPECT_EQ(ZREUDoorTest(reader.port(), 1, 53, 0, out.data()), -15);
    EXPECT_EQ(ZREUDoorTest(reader.port(), 1, -1, 0, out.data()), -15);
    EXPECT_EQ(ZREUFreqTest(reader.port(), 1, 2, nullptr), -5);
    EXPECT_EQ(ZREUDoorTest(reader.port(), 1, 2, 0, nullptr), -5);
    EXPECT_EQ(ZRConfigEASflag(reader.port(), 1, nullptr, 0), -5);
    EXPECT_TRUE(reader.log().events.empty());

    reader.reply(unhex("00 02 66 00"));
    EXPECT_EQ(ZREUFreqTest(reader.port(), 1, 52, big.data()), 1);
    ASSERT_EQ(reader.log().sent.size(), 1u);
    EXPECT_EQ(reader.log().sent[0].size(), 56u);
    EXPECT_EQ(hex(Bytes(reader.log().sent[0].begin(), reader.log().sent[0].begin() + 5)), "00 36 66 01 5A");
}

struct ReplyRow {
    const char* name;
    LinkKind kind;
    std::vector<Bytes> arrived;  // one protected packet per try
    int result;
};

Bytes packet(const char* text) { return withCrc(unhex(text)); }

void runReplies(const char* exportName, const std::vector<ReplyRow>& rows, const std::function<int(int)>& call) {
    for (const ReplyRow& r : rows) {
        FakeReader reader(r.kind, 2);
        for (const Bytes& b : r.arrived) reader.replyRaw(b);
        EXPECT_EQ(call(reader.port()), r.result) << exportName << ": " << r.name;
    }
}

TEST(EasReplies, ResultRulesOfEachExport) {
    runReplies("config flag",
               {
                   {"status 0", LinkKind::Serial, {packet("00 02 8C 00")}, 1},
                   {"reader status", LinkKind::Serial, {packet("00 02 8C 21")}, 2002},
                   {"count is not length + 4", LinkKind::Serial, {packet("00 03 8C 00")}, -4},
                   {"TCP: another code, then the reply", LinkKind::Tcp, {packet("00 02 8D 00"), packet("00 02 8C 00")}, 1},
               },
               [](int p) { return ZRConfigEASflag(p, 0, kFlag4, 0); });
    runReplies("start",
               {
                   {"status 0", LinkKind::Serial, {packet("00 02 8D 00")}, 1},
                   {"reader status", LinkKind::Usb, {packet("00 02 8D 21")}, 2002},
                   {"count is not length + 4", LinkKind::Serial, {packet("00 03 8D 00")}, -4},
                   {"TCP: only another code", LinkKind::Tcp, {packet("00 02 8C 00"), packet("00 02 8C 00")}, 0},
               },
               [](int p) { return ZRStartEASAlarm(p, 0); });
    runReplies("report",
               {
                   {"status 0", LinkKind::Serial, {packet("00 02 8D 00")}, 1},
                   {"reader status", LinkKind::Tcp, {packet("00 03 8D 25 00")}, 2006},
                   {"count is not length + 4", LinkKind::Serial, {packet("00 03 8D 00")}, -4},
                   {"TCP: another code", LinkKind::Tcp, {packet("00 02 8C 00")}, 0},
               },
               [](int p) { return ZREASAlarmReport(p); });
    runReplies("end",
               {
                   {"6 bytes, status 0: no end flag", LinkKind::Serial, {packet("00 02 8D 00")}, -5},
                   {"6 bytes, reader status", LinkKind::Serial, {packet("00 02 8D 21")}, 2002},
                   {"8 bytes with the end flag", LinkKind::Tcp, {packet("00 04 8D 00 00 01")}, 1},
                   {"7 bytes and flagless 8 bytes are passed over", LinkKind::Serial,
                    {packet("00 03 8D 00 01"), packet("00 04 8D 00 00 00"), packet("00 04 8D 00 00 01")}, 1},
                   {"flagless 8 bytes to the end", LinkKind::Serial, std::vector<Bytes>(20, packet("00 04 8D 00 00 00")),
                    -5},
                   {"7 bytes, status 0, to the end: no flag", LinkKind::Serial,
                    std::vector<Bytes>(20, packet("00 03 8D 00 00")), -5},
                   {"count is not length + 4", LinkKind::Serial, std::vector<Bytes>(20, packet("00 05 8D 00 00 01")),
                    -4},
               },
               [](int p) { return ZREndEASAlarm(p, 0); });
    runReplies("freq",
               {
                   {"status 0", LinkKind::Serial, {packet("00 02 66 00")}, 1},
                   {"reader status", LinkKind::Tcp, {packet("00 02 66 21")}, 2002},
                   {"length field is not compared", LinkKind::Serial, {packet("00 05 66 00")}, 1},
                   {"TCP: only another code", LinkKind::Tcp, {packet("00 02 8C 00"), packet("00 02 8C 00")}, -4},
               },
               [](int p) { return ZREUFreqTest(p, 0, 1, kData3); });
}

TEST(EuTests, DoorTestCopiesLenDataBytesAndNothingOfTheCrc) {
    struct Row {
        int len;
        const char* reply;
        int result;
        const char* out;
    } rows[] = {
        {4, "00 06 66 00 A1 A2 A3 A4", 1, "A1 A2 A3 A4 EE EE"},
        {6, "00 06 66 00 A1 A2 A3 A4", 1, "A1 A2 A3 A4 00 00"},
        {0, "00 06 66 00 A1 A2 A3 A4", 1, "EE EE EE EE EE EE"},
        {4, "00 06 66 21 A1 A2 A3 A4", 2002, "EE EE EE EE EE EE"},
    };
    for (const Row& r : rows) {
        FakeReader reader(LinkKind::Tcp);
        reader.reply(unhex(r.reply));
        Bytes out(6, 0xEE);
        EXPECT_EQ(ZREUDoorTest(reader.port(), 0, r.len, 0, out.data()), r.result) << r.len << " " << r.reply;
        EXPECT_EQ(hex(out), r.out) << r.len << " " << r.reply;
    }
}

}  // namespace
