// Reset, inventory and direct read end to end: ZROpen on a real
// pseudo-terminal, USB stand-in socket and TCP loopback listener, with
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

class BasicOnLink : public ::testing::TestWithParam<LinkKind> {
protected:
    void SetUp() override {
        peer.writeConfig();
        ASSERT_EQ(peer.open(), ZR_OK);
    }
    void TearDown() override { EXPECT_EQ(peer.close(), ZR_OK); }

    bool serial() const { return GetParam() == LinkKind::Serial; }
    bool tcp() const { return GetParam() == LinkKind::Tcp; }

    // Waits until the reader has the bytes of `count` requests.
    void expectRequests(size_t count) { ASSERT_TRUE(peer.waitForRequests(count)); }

    ReaderPeer peer{GetParam()};
};

TEST_P(BasicOnLink, StartingExportsPutExactBytesOnTheWireAndReturnTheSendCount) {
    EXPECT_EQ(ZRReset(peer.port()), serial() ? 3 : 5);
    EXPECT_EQ(ZRIdentify(peer.port(), 0x1FF, 0x55), serial() ? 5 : 7);
    EXPECT_EQ(ZRDirectRead(peer.port(), 0x56, 2), serial() ? 5 : 7);
    expectRequests(3);
    EXPECT_EQ(peer.requestsHex(), (std::vector<std::string>{"00 01 6C", "00 03 71 FF 55", "00 03 D0 56 02"}));
    // The reset packet on the wire: framed and stuffed on serial and USB, bare on TCP.
    const Bytes wire = peer.received();
    const std::string reset = tcp() ? "00 01 6C 87 6B" : "55 00 01 6C 87 6B";
    EXPECT_EQ(hex(Bytes(wire.begin(), wire.begin() + (tcp() ? 5 : 6))), reset);
    if (!tcp()) {
        // 0x55 and 0x56 parameter bytes go out stuffed.
        EXPECT_NE(hex(wire).find("71 FF 56 56"), std::string::npos) << hex(wire);
        EXPECT_NE(hex(wire).find("D0 56 57 02"), std::string::npos) << hex(wire);
    }
}

TEST_P(BasicOnLink, ReportsOfTheExamplesAreCollectedOnePerCall) {
    peer.sendNow(unhex("00 04 71 00 AA BB"));
    peer.sendNow(unhex("00 02 71 00"));
    peer.sendNow(unhex("00 03 71 21 CC"));
    Bytes out(251, 0xEE);
    // The reports reach a pseudo-terminal or socket asynchronously: poll a little.
    int first = 0;
    for (int i = 0; i < 200 && first == 0; ++i) first = ZRReport(peer.port(), out.data());
    EXPECT_EQ(first, 1);
    EXPECT_EQ(hex(Bytes(out.begin(), out.begin() + 4)), "00 AA BB EE");
    EXPECT_EQ(ZRLastReplyLength(), 4);
    EXPECT_EQ(ZRReport(peer.port(), out.data()), 1);
    EXPECT_EQ(hex(Bytes(out.begin(), out.begin() + 2)), "00 AA") << "one byte written: the status";
    Bytes untouched = out;
    EXPECT_EQ(ZRReport(peer.port(), out.data()), 2002);
    EXPECT_EQ(out, untouched) << "a reader status leaves out untouched";
    EXPECT_EQ(ZRReport(peer.port(), out.data()), 0) << "no report waiting";
    EXPECT_TRUE(peer.requests().empty()) << "reports are collected without sending";
}

TEST_P(BasicOnLink, ReportExportsSkipOrRefuseRepliesToOtherCommands) {
    peer.sendNow(unhex("00 02 71 00"));
    peer.sendNow(unhex("00 03 D0 00 0D"));
    Bytes out(251, 0);
    int result = 0;
    for (int i = 0; i < 200 && result == 0; ++i) result = ZRDirectReport(peer.port(), out.data());
    // Serial and USB skip the 0x71 frame inside the link; TCP takes the next
    // packet whatever its code, so the inventory report is consumed and
    // refused (0) and the direct-read report comes with the next call.
    EXPECT_EQ(result, 1);
    EXPECT_EQ(out[1], 0x0D);
    EXPECT_EQ(ZRReport(peer.port(), out.data()), 0) << "the inventory report is gone";
}

INSTANTIATE_TEST_SUITE_P(Links, BasicOnLink, ::testing::Values(LinkKind::Serial, LinkKind::Usb, LinkKind::Tcp),
                         [](const auto& info) { return std::string(zr::link::linkKindName(info.param)); });

}  // namespace
