// Reader maintenance, EAS alarm, EU tests and filters end to end: ZROpen on a
// real pseudo-terminal, USB stand-in socket and TCP loopback listener, with
// ReaderPeer playing the reader and recording the bytes on the wire.
#include <gtest/gtest.h>

#include "support/reader_peer.h"
#include "zrreader.h"

namespace {

using zr::link::LinkKind;
using zr::test::Bytes;
using zr::test::hex;
using zr::test::ReaderPeer;
using zr::test::unhex;

class MaintenanceOnLink : public ::testing::TestWithParam<LinkKind> {
protected:
    void SetUp() override {
        peer.writeConfig({{"ZR_READ_TRIES", "20"}});
        ASSERT_EQ(peer.open(), ZR_OK);
    }
    void TearDown() override { EXPECT_EQ(peer.close(), ZR_OK); }

    bool tcp() const { return GetParam() == LinkKind::Tcp; }

    ReaderPeer peer{GetParam()};
};

struct ListenCase {
    const char* name;
    const char* message;  // sent by the reader before the call; empty: none
    int result, tcpResult;
    const char* ack, *tcpAck;
    const char* first8;
};

// A message shorter than 26 bytes after the length is below the TCP receive's
// minimum and never reaches the export there.
const ListenCase kListenCases[] = {
    {"no message", "", 0, 0, "00 0B A1 3F 00 00 00 00 00 00 00 00 00", "00 0B A1 3F 00 00 00 00 00 00 00 00 00",
     "00 00 00 00 00 00 00 00"},
    {"length field 1", "00 01 A1", 1, 0, "00 0B A1 00 00 00 00 00 00 00 00 00 00",
     "00 0B A1 3F 00 00 00 00 00 00 00 00 00", "00 00 00 00 00 00 00 00"},
    {"full message", "00 18 A1 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F 20 21 22 23 24 25 26", 1, 1,
     "00 0B A1 00 10 11 12 13 14 15 16 17 19", "00 0B A1 00 10 11 12 13 14 15 16 17 19", "10 11 12 13 14 15 16 17"},
};

TEST_P(MaintenanceOnLink, ListenReaderAnswersWhatTheReaderSent) {
    for (const ListenCase& c : kListenCases) {
        peer.clearReceived();
        if (*c.message) peer.sendNow(unhex(c.message));
        Bytes info6(6, 0xEE), first8(8, 0xEE), second8(8, 0xEE);
        EXPECT_EQ(ZRListenReader(peer.port(), 0, info6.data(), first8.data(), second8.data()),
                  tcp() ? c.tcpResult : c.result)
            << c.name;
        ASSERT_TRUE(peer.waitForRequests(1)) << c.name;
        EXPECT_EQ(peer.requestsHex(), std::vector<std::string>{tcp() ? c.tcpAck : c.ack}) << c.name;
        EXPECT_EQ(hex(first8), c.first8) << c.name;
    }
}

TEST_P(MaintenanceOnLink, StateClockFixedNumberAndUpgrade) {
    peer.replyNext(unhex("00 09 A0 00 11 22 33 44 55 66 77"));
    Bytes state(6, 0xEE);
    EXPECT_EQ(ZRGetReaderState(peer.port(), 1, state.data()), 1);
    EXPECT_EQ(hex(state), "22 33 44 55 66 77");

    const unsigned char time[6] = {0x26, 0x12, 0x08, 0x55, 0x56, 0x00};
    peer.replyNext(unhex("00 07 A2 21 00 00 00 00 00"));
    EXPECT_EQ(ZRSetReaderTime(peer.port(), 9, time), 2002);

    peer.replyNext(unhex("00 07 A4 00 0A 0B 0C 0D 0E"));
    Bytes number(8, 0xEE);
    int length = 0;
    EXPECT_EQ(ZRGetReaderfixNOEx(peer.port(), number.data(), 8, &length), 1);
    EXPECT_EQ(hex(Bytes(number.begin(), number.begin() + length)), "0A 0B 0C 0D 0E");

    EXPECT_EQ(ZRUpGrade(peer.port()), GetParam() == LinkKind::Serial ? 3 : 5);
    ASSERT_TRUE(peer.waitForRequests(4));
    EXPECT_EQ(peer.requestsHex(),
              (std::vector<std::string>{"00 02 A0 01", "00 08 A2 26 12 08 55 56 00 09", "00 01 A4", "00 01 6B"}));
}

TEST_P(MaintenanceOnLink, EasAlarmFromFlagToEnd) {
    const unsigned char flag4[4] = {0x01, 0x55, 0x56, 0x04};
    peer.replyNext(unhex("00 02 8C 00"));
    EXPECT_EQ(ZRConfigEASflag(peer.port(), 2, flag4, 3), 1);
    peer.replyNext(unhex("00 02 8D 00"));
    EXPECT_EQ(ZRStartEASAlarm(peer.port(), 2), 1);
    ASSERT_TRUE(peer.waitForRequests(2));

    peer.sendNow(unhex("00 03 8D 00 07"));
    EXPECT_EQ(ZREASAlarmReport(peer.port()), 1);
    EXPECT_EQ(ZREASAlarmReport(peer.port()), 0) << "no alarm message waiting";

    peer.replyNext(unhex("00 04 8D 00 00 01"));
    EXPECT_EQ(ZREndEASAlarm(peer.port(), 2), 1);
    ASSERT_TRUE(peer.waitForRequests(3));
    EXPECT_EQ(peer.requestsHex(),
              (std::vector<std::string>{"00 07 8C 02 01 55 56 04 03", "00 04 8D 02 01 00", "00 04 8D 02 00 00"}));
}

TEST_P(MaintenanceOnLink, EuTestsAndFilters) {
    const unsigned char data[3] = {0x55, 0x56, 0x57};
    peer.replyNext(unhex("00 02 66 00"));
    EXPECT_EQ(ZREUFreqTest(peer.port(), 1, 3, data), 1);
    peer.replyNext(unhex("00 05 66 00 A1 A2 A3"));
    Bytes out(3, 0xEE);
    EXPECT_EQ(ZREUDoorTest(peer.port(), 1, 3, 2, out.data()), 1);
    EXPECT_EQ(hex(out), "A1 A2 A3");

    unsigned char first12[12], second12[12];
    for (int i = 0; i < 12; ++i) first12[i] = static_cast<unsigned char>(0x50 + i), second12[i] = 0x55;
    peer.replyNext(unhex("00 03 8E 00 00"));
    EXPECT_EQ(ZRSetTagFilter(peer.port(), first12, second12), 1);
    peer.replyNext(unhex("00 03 8F 22 01"));
    EXPECT_EQ(ZRCancelTimeFilter(peer.port()), 2003);
    ASSERT_TRUE(peer.waitForRequests(4));
    EXPECT_EQ(peer.requestsHex(),
              (std::vector<std::string>{
                  "00 05 66 01 55 56 57", "00 03 66 01 02",
                  "00 1A 8E 00 50 51 52 53 54 55 56 57 58 59 5A 5B 55 55 55 55 55 55 55 55 55 55 55 55",
                  "00 02 8F 01"}));
}

INSTANTIATE_TEST_SUITE_P(Links, MaintenanceOnLink, ::testing::Values(LinkKind::Serial, LinkKind::Usb, LinkKind::Tcp),
                         [](const auto& info) { return std::string(zr::link::linkKindName(info.param)); });

}  // namespace
