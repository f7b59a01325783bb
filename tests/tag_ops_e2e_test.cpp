// Extended inventories and tag memory commands end to end: ZROpen on a real
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
using zr::test::withCrc;

const Bytes kTag = unhex("01 02 03 04 05 06 07 08");

class TagOpsOnLink : public ::testing::TestWithParam<LinkKind> {
protected:
    void openReader() { ASSERT_EQ(peer.open(), ZR_OK); }

    // The send count of a start export for a packet of `bytes` bytes.
    int sendCount(int bytes) const { return GetParam() == LinkKind::Serial ? bytes : bytes + 2; }

    ReaderPeer peer{GetParam()};
};

TEST_P(TagOpsOnLink, UserInventoryCarriesTheEspecialFlagSectionOfTheOpen) {
    peer.writeConfig({{"ZR_SCAN_TRIES", "3"}, {"ZR_REPEAT_DATAS", "0"}, {"ZR_READ_TIMEOUT", "10"}},
                     "[ESPECIAL FLAG]\nZR_LENGTH=1\nZR_ADDERIESS=5\n");
    ASSERT_EQ(peer.open(), ZR_OK);

    EXPECT_EQ(ZRUserIdentify(peer.port(), 1, 2, 3, 4, 5, 6), sendCount(22));
    ASSERT_TRUE(peer.waitForRequests(1));
    const Bytes packet = unhex("00 14 4A 02 01 03 00 0A 05 01 31 00 00 00 00 00 00 00 03 04 05 06");
    EXPECT_EQ(hex(peer.requests()[0]), hex(withCrc(packet)));
    if (GetParam() == LinkKind::Tcp) {
        EXPECT_EQ(hex(peer.received()), hex(withCrc(packet))) << "unframed on TCP";
    } else {
        EXPECT_EQ(hex(peer.received()).substr(0, 8), "55 00 14") << "a Link frame on serial and USB";
    }
    EXPECT_EQ(peer.close(), ZR_OK);
}

TEST_P(TagOpsOnLink, InventoryStartsAndTheirReports) {
    openReader();
    peer.replyNext(unhex("00 04 49 00 AA BB"));
    EXPECT_EQ(ZRLongIdentify(peer.port(), 1, 2, 3), sendCount(6));
    ASSERT_TRUE(peer.waitForRequests(1));
    Bytes out(16, 0xEE);
    EXPECT_EQ(ZRLongReport(peer.port(), out.data()), 1);
    EXPECT_EQ(hex(Bytes(out.begin(), out.begin() + 4)), "00 AA BB EE");

    const unsigned char extra[4] = {0x0A, 0x0B, 0x0C, 0x0D};
    peer.replyNext(unhex("00 05 82 00 E2 00 11"));
    EXPECT_EQ(ZRIdentifyTIDCode(peer.port(), 1, 2, 3, extra), sendCount(10));
    ASSERT_TRUE(peer.waitForRequests(2));
    out.assign(16, 0xEE);
    EXPECT_EQ(ZRTIDCodeReport(peer.port(), out.data()), 1);
    EXPECT_EQ(hex(Bytes(out.begin(), out.begin() + 8)), "00 05 82 00 E2 00 11 EE");

    EXPECT_EQ(peer.requestsHex(), (std::vector<std::string>{"00 04 49 02 01 03", "00 08 82 01 02 03 0A 0B 0C 0D"}));
    out.assign(16, 0xEE);
    EXPECT_EQ(ZREpcCodeReport(peer.port(), out.data()), 0) << "no report waiting";
    EXPECT_EQ(out, Bytes(16, 0xEE));
    EXPECT_EQ(peer.close(), ZR_OK);
}

TEST_P(TagOpsOnLink, ChunkedReadAndWriteAcrossTheLink) {
    openReader();
    Bytes first(64), second(36);
    for (int i = 0; i < 64; ++i) first[i] = static_cast<uint8_t>(0x80 + i);
    for (int i = 0; i < 36; ++i) second[i] = static_cast<uint8_t>(i);
    Bytes reply1 = unhex("00 43 72 00 5A"), reply2 = unhex("00 27 72 00 5A");
    reply1.insert(reply1.end(), first.begin(), first.end());
    reply2.insert(reply2.end(), second.begin(), second.end());
    peer.replyNext(reply1);
    peer.replyNext(reply2);
    Bytes out(128, 0xEE);
    EXPECT_EQ(ZRReadUserData(peer.port(), 1, 200, 100, kTag.data(), out.data()), 1);
    Bytes want = first;
    want.insert(want.end(), second.begin(), second.end());
    want.resize(128, 0xEE);
    EXPECT_EQ(out, want);

    const Bytes data(33, 0x5C);
    peer.replyNext(unhex("00 02 73 00"));
    peer.replyNext(unhex("00 02 73 00"));
    EXPECT_EQ(ZRWriteUserData(peer.port(), 1, 8, kTag.data(), data.data(), 33), 1);

    const std::vector<std::string> requests = peer.requestsHex();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0], "00 0C 72 01 01 02 03 04 05 06 07 08 C8 40");
    EXPECT_EQ(requests[1], "00 0C 72 01 01 02 03 04 05 06 07 08 08 24") << "the address wraps to 8";
    EXPECT_EQ(requests[2], "00 2C 73 01 01 02 03 04 05 06 07 08 08 20 " + hex(Bytes(32, 0x5C)));
    EXPECT_EQ(requests[3], "00 0D 73 01 01 02 03 04 05 06 07 08 28 01 5C");
    EXPECT_EQ(peer.close(), ZR_OK);
}

INSTANTIATE_TEST_SUITE_P(Links, TagOpsOnLink, ::testing::Values(LinkKind::Tcp, LinkKind::Serial, LinkKind::Usb),
                         [](const auto& info) { return std::string(zr::link::linkKindName(info.param)); });

}  // namespace
