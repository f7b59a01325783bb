// EPC code and use data, tag passwords, locking, destruction, selection and
// data return end to end: ZROpen on a real pseudo-terminal, USB stand-in
// socket and TCP loopback listener, with ReaderPeer playing the reader.
#include <gtest/gtest.h>

#include "support/reader_peer.h"
#include "zrreader.h"

namespace {

using zr::link::LinkKind;
using zr::test::Bytes;
using zr::test::hex;
using zr::test::ReaderPeer;
using zr::test::unhex;

const unsigned char kPassword[4] = {0x11, 0x22, 0x33, 0x44};

class TagAccessOnLink : public ::testing::TestWithParam<LinkKind> {
protected:
    void SetUp() override {
        peer.writeConfig({{"ZR_READ_TRIES", "20"}});
        ASSERT_EQ(peer.open(), ZR_OK);
    }
    void TearDown() override { EXPECT_EQ(peer.close(), ZR_OK); }

    ReaderPeer peer{GetParam()};
};

TEST_P(TagAccessOnLink, EpcCodeAndUseDataWritesAndATwoCallRead) {
    const unsigned char epc[4] = {0xE2, 0x00, 0x12, 0x34};
    const unsigned char data[2] = {0xAA, 0xBB};
    peer.replyNext(unhex("00 02 83 00"));
    EXPECT_EQ(ZRSetEpcCode(peer.port(), 1, kPassword, 4, 2, epc), 1);
    peer.replyNext(unhex("00 02 85 20"));
    EXPECT_EQ(ZRSetUseData(peer.port(), 1, kPassword, 2, 1, data), 2001);

    peer.replyNext(unhex("00 05 84 00 5A D0 D1"));
    EXPECT_EQ(ZRGetUseData(peer.port(), kPassword, 2, 1, 1), GetParam() == LinkKind::Serial ? 10 : 12);
    ASSERT_TRUE(peer.waitForRequests(3));
    Bytes out(12, 0xEE);
    EXPECT_EQ(ZRGetUseDataReport(peer.port(), out.data()), 1);
    EXPECT_EQ(hex(out), "00 05 84 00 5A D0 D1 EE EE EE EE EE");
    out.assign(12, 0xEE);
    EXPECT_EQ(ZRGetUseDataReport(peer.port(), out.data()), -4) << "nothing is waiting any more";
    EXPECT_EQ(out, Bytes(12, 0xEE));

    EXPECT_EQ(ZRSetEpcCode(peer.port(), 1, kPassword, 13, 2, epc), -3);
    EXPECT_EQ(peer.requestsHex(), (std::vector<std::string>{"00 0B 83 01 11 22 33 44 02 E2 00 12 34",
                                                            "00 0A 85 01 11 22 33 44 02 01 AA BB",
                                                            "00 08 84 01 11 22 33 44 02 01"}));
}

TEST_P(TagAccessOnLink, PasswordsLockingAndDestruction) {
    const unsigned char newPassword[4] = {0xA0, 0xB0, 0xC0, 0xD0};
    const unsigned char destroyData[2] = {0x01, 0x02};
    peer.replyNext(unhex("00 02 88 00"));
    EXPECT_EQ(ZRSetVisitPWD(peer.port(), 1, kPassword, newPassword), 1);
    peer.replyNext(unhex("00 02 89 01"));
    EXPECT_EQ(ZRSetDestroyPWD(peer.port(), 1, kPassword, newPassword), 1001);
    EXPECT_EQ(ZRSetDataLocked(peer.port(), 1, kPassword, 2, 0), -5) << "refused before anything is sent";
    peer.replyNext(unhex("00 02 8A 00"));
    EXPECT_EQ(ZRSetDataLocked(peer.port(), 1, kPassword, 1, 5), 1);
    peer.replyNext(unhex("00 02 8B 00"));
    EXPECT_EQ(ZRSetDestroyTag(peer.port(), 1, kPassword, 1, destroyData), 1);
    EXPECT_EQ(peer.requestsHex(), (std::vector<std::string>{"00 0A 88 01 11 22 33 44 A0 B0 C0 D0",
                                                            "00 0A 89 01 11 22 33 44 A0 B0 C0 D0",
                                                            "00 08 8A 01 11 22 33 44 01 05",
                                                            "00 08 8B 01 11 22 33 44 01 02"}));
}

TEST_P(TagAccessOnLink, SelectionAndDataReturn) {
    const unsigned char tagId[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    const unsigned char epc[3] = {0xE2, 0x80, 0x01};
    peer.replyNext(unhex("00 02 70 00"));
    EXPECT_EQ(ZRSelectTag(peer.port(), 1, 2, 3, tagId), 1);
    peer.replyNext(unhex("00 02 80 00"));
    EXPECT_EQ(ZRSelectTagEPC(peer.port(), 1, 2, 3, epc, 3), 1);
    // Over TCP the data return takes only a reply of at least 8 bytes.
    peer.replyNext(unhex("00 04 68 00 00 00"));
    EXPECT_EQ(ZRDataReturn(peer.port(), 1, 4), 1);
    EXPECT_EQ(ZRDataReturn(peer.port(), 1, 0), -4) << "a silent reader after the single try";
    EXPECT_EQ(peer.requestsHex(),
              (std::vector<std::string>{"00 0C 70 01 02 03 11 22 33 44 55 66 77 88", "00 07 80 01 02 03 E2 80 01",
                                        "00 03 68 01 04", "00 03 68 01 00"}));
    if (GetParam() != LinkKind::Tcp) {
        EXPECT_EQ(hex(peer.received()).substr(0, 8), "55 00 0C") << "a Link frame on serial and USB";
    }
}

INSTANTIATE_TEST_SUITE_P(Links, TagAccessOnLink, ::testing::Values(LinkKind::Tcp, LinkKind::Serial, LinkKind::Usb),
                         [](const auto& info) { return std::string(zr::link::linkKindName(info.param)); });

}  // namespace
