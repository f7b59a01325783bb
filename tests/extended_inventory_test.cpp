// Long, user, EPC and TID inventories with their reports, over the fake link.
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

const LinkKind kAllLinks[] = {LinkKind::Serial, LinkKind::Usb, LinkKind::Tcp};

// ---- Start exports ----------------------------------------------------------------

struct StartCase {
    const char* name;
    std::function<int(int port)> call;
    const char* packet;
};

TEST(ExtendedInventoryStart, PacketsAreExactAndTheResultIsTheSendCount) {
    const unsigned char extra[4] = {0x0A, 0x0B, 0x0C, 0x0D};
    const StartCase cases[] = {
        {"long: param2 before param1", [](int p) { return ZRLongIdentify(p, 1, 2, 3); }, "00 04 49 02 01 03"},
        {"long: low 8 bits", [](int p) { return ZRLongIdentify(p, 0x1FF, -1, 0x280); }, "00 04 49 FF FF 80"},
        {"EPC: in order", [](int p) { return ZRIdentifyEpcCode(p, 1, 2, 3); }, "00 04 81 01 02 03"},
        {"TID: extra bytes in memory order", [&](int p) { return ZRIdentifyTIDCode(p, 1, 2, 3, extra); },
         "00 08 82 01 02 03 0A 0B 0C 0D"},
    };
    for (LinkKind kind : kAllLinks) {
        for (const StartCase& c : cases) {
            FakeReader reader(kind);
            const int bytes = static_cast<int>(unhex(c.packet).size());
            EXPECT_EQ(c.call(reader.port()), kind == LinkKind::Serial ? bytes : bytes + 2) << c.name;
            EXPECT_EQ(reader.sentHex(), std::vector<std::string>{c.packet}) << c.name;
            EXPECT_EQ(reader.log().events, (std::vector<std::string>{"flush", "send"})) << c.name << ": no reply awaited";
        }
    }
}

TEST(ExtendedInventoryStart, UserInventorySendsTheReaderSettingsOfTheLatestOpen) {
    FakeReader reader(LinkKind::Usb);
    reader.editSettings([](zr::config::ReaderSettings& s) {
        s.scanTries = 3;
        s.repeatDatas = 0;
        s.readTimeout = 10;
        s.especialAddress = 5;
        s.especialLength = 1;
        const uint8_t data[8] = {'1', 0, 0, 0, 0, 0, 0, 0};
        std::copy(data, data + 8, s.especialData);
    });
    EXPECT_EQ(ZRUserIdentify(reader.port(), 0x101, 2, 3, 4, 5, 0x1F6), 24);
    EXPECT_EQ(reader.sentHex(),
              std::vector<std::string>{"00 14 4A 02 01 03 00 0A 05 01 31 00 00 00 00 00 00 00 03 04 05 F6"});
}

TEST(ExtendedInventoryStart, FailedSendClosedHandleAndMissingExtraBytes) {
    FakeReader reader(LinkKind::Tcp);
    reader.setSendResult(0);
    const unsigned char extra[4] = {};
    EXPECT_EQ(ZRLongIdentify(reader.port(), 1, 2, 3), 0);
    EXPECT_EQ(ZRUserIdentify(reader.port(), 1, 2, 3, 4, 5, 6), 0);
    EXPECT_EQ(ZRIdentifyTIDCode(reader.port(), 1, 2, 3, extra), 0);
    EXPECT_EQ(reader.log().sent.size(), 3u) << "a failed send is not retried";

    EXPECT_EQ(ZRIdentifyTIDCode(reader.port(), 1, 2, 3, nullptr), -5);
    EXPECT_EQ(ZRIdentifyTIDCode(-1, 1, 2, 3, nullptr), -1);
    EXPECT_EQ(reader.log().sent.size(), 3u);
    EXPECT_EQ(reader.log().flushes, 3) << "refused calls flush nothing";
}

// ---- Report exports ---------------------------------------------------------------

struct ReportCase {
    const char* name;
    Bytes arrives;       // protected bytes as they arrive (empty: nothing)
    int serialResult;    // serial and USB (frames with another code are skipped)
    int tcpResult;       // TCP (no filter by code, minimum 6 or 4)
    const char* out;     // expected output on 1
};

using Report = int (*)(int, unsigned char*);

void runReportCases(Report report, const ReportCase* begin, const ReportCase* end) {
    ASSERT_EQ(ZRSetDeviceClass(0, 800), 1);
    for (LinkKind kind : kAllLinks) {
        for (const ReportCase* c = begin; c != end; ++c) {
            FakeReader reader(kind);
            if (c->arrives.empty()) reader.silence();
            else reader.replyRaw(c->arrives);
            Bytes out(256, 0xEE);
            const int expected = kind == LinkKind::Tcp ? c->tcpResult : c->serialResult;
            EXPECT_EQ(report(reader.port(), out.data()), expected) << c->name << " on " << zr::link::linkKindName(kind);
            Bytes want = unhex(expected == 1 ? c->out : "");
            want.resize(256, 0xEE);
            EXPECT_EQ(out, want) << c->name << ": exactly the output on 1, untouched otherwise";
            EXPECT_TRUE(reader.log().sent.empty()) << "a report export sends nothing";
            EXPECT_EQ(reader.log().events, (std::vector<std::string>{"flush", "receive"})) << c->name;
        }
    }
}

TEST(LongAndUserReports, ChecksInOrderAndCopyFromTheStatusByte) {
    const ReportCase longCases[] = {
        {"one data byte (TCP needs 8 bytes)", withCrc(unhex("00 03 49 00 AA")), 1, 0, "00 AA"},
        {"two data bytes", withCrc(unhex("00 04 49 00 AA BB")), 1, 1, "00 AA BB"},
        {"status only", withCrc(unhex("00 02 49 00")), 1, 0, "00"},
        {"non-zero status is -8, not mapped", withCrc(unhex("00 04 49 01 AA BB")), -8, -8, ""},
        {"status 0x21 is -8 too", withCrc(unhex("00 04 49 21 AA BB")), -8, -8, ""},
        {"length field below the count", withCrc(unhex("00 02 49 00 AA BB")), 0, 0, ""},
        {"length field above the count", withCrc(unhex("00 09 49 00 AA BB")), -4, -4, ""},
        {"length field equal to the count", withCrc(unhex("00 08 49 00 AA BB")), -4, -4, ""},
        {"another inventory's reply", withCrc(unhex("00 04 4A 00 AA BB")), 0, 1, "00 AA BB"},
        {"count below 6", withCrc(unhex("00 01 49")), 0, 0, ""},
        {"bad CRC", unhex("00 04 49 00 AA BB 00 00"), 0, 0, ""},
        {"nothing waiting", {}, 0, 0, ""},
    };
    runReportCases(ZRLongReport, std::begin(longCases), std::end(longCases));

    const ReportCase userCases[] = {
        {"user reply", withCrc(unhex("00 05 4A 00 01 02 03")), 1, 1, "00 01 02 03"},
        {"user status", withCrc(unhex("00 05 4A 3A 01 02 03")), -8, -8, ""},
        {"long reply to the user report", withCrc(unhex("00 04 49 00 AA BB")), 0, 1, "00 AA BB"},
    };
    runReportCases(ZRUserReport, std::begin(userCases), std::end(userCases));
}

TEST(EpcAndTidReports, ChecksInOrderAndCopyOfTheWholePacket) {
    const ReportCase epcCases[] = {
        {"one data byte", withCrc(unhex("00 03 81 00 AA")), 1, 1, "00 03 81 00 AA"},
        {"status only", withCrc(unhex("00 02 81 00")), 1, 1, "00 02 81 00"},
        {"TID reply over TCP is -20", withCrc(unhex("00 03 82 00 AA")), 0, -20, ""},
        {"length field below the count", withCrc(unhex("00 02 81 00 AA")), -4, -4, ""},
        {"length field above the count", withCrc(unhex("00 09 81 00 AA")), -4, -4, ""},
        {"status mapped", withCrc(unhex("00 03 81 21 AA")), 2002, 2002, ""},
        {"status unknown to class 3", withCrc(unhex("00 03 81 90 AA")), -20, -20, ""},
        {"count below 6", withCrc(unhex("00 01 81")), 0, 0, ""},
        {"nothing waiting", {}, 0, 0, ""},
    };
    runReportCases(ZREpcCodeReport, std::begin(epcCases), std::end(epcCases));

    const ReportCase tidCases[] = {
        {"TID reply", withCrc(unhex("00 06 82 00 E2 00 11 22")), 1, 1, "00 06 82 00 E2 00 11 22"},
        {"EPC reply to the TID report", withCrc(unhex("00 03 81 00 AA")), 0, -20, ""},
        {"status", withCrc(unhex("00 03 82 60 AA")), 3001, 3001, ""},
    };
    runReportCases(ZRTIDCodeReport, std::begin(tidCases), std::end(tidCases));
}

TEST(ExtendedInventoryReports, NullOutputAndClosedHandleTouchNothing) {
    for (Report report : {ZRLongReport, ZRUserReport, ZREpcCodeReport, ZRTIDCodeReport}) {
        FakeReader reader(LinkKind::Serial);
        reader.reply(unhex("00 03 49 00 AA"));
        EXPECT_EQ(report(reader.port(), nullptr), -5);
        EXPECT_EQ(report(-1, nullptr), -1);
        EXPECT_TRUE(reader.log().events.empty());
    }
}

}  // namespace
