// Tag memory commands against a reader that never answers, over the real
// links: each command spends all its read tries and ends with its own "no
// reply" result (about read tries x pause each; seconds over TCP).
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

class SilentReaderOnLink : public ::testing::TestWithParam<LinkKind> {};

TEST_P(SilentReaderOnLink, LockIsMinusTwoEpcReadZeroAndReadMinusFour) {
    ReaderPeer peer(GetParam());
    peer.writeConfig({{"ZR_READ_TRIES", "20"}});  // the fewest tries an open allows
    ASSERT_EQ(peer.open(), ZR_OK);
    const Bytes tag = unhex("01 02 03 04 05 06 07 08");
    const unsigned char password[4] = {0x11, 0x22, 0x33, 0x44};
    unsigned char out[16] = {};

    EXPECT_EQ(ZRLockUserData(peer.port(), 0, 1, tag.data(), 4), -2);
    EXPECT_EQ(ZRReadUserDataEPC(peer.port(), password, 0, 2, 1, out), 0);
    EXPECT_EQ(ZRReadUserDataOnce(peer.port(), 1, 0, 4, tag.data(), out), -4);
    EXPECT_EQ(hex(out, sizeof out), hex(Bytes(16, 0))) << "nothing written without a reply";

    ASSERT_TRUE(peer.waitForRequests(3));
    const char* expected[] = {"00 0C 74 01 01 02 03 04 05 06 07 08 00 04", "00 08 84 01 11 22 33 44 00 02",
                              "00 0C 72 01 01 02 03 04 05 06 07 08 00 04"};
    ASSERT_EQ(peer.requests().size(), 3u) << "each request goes out once";
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(hex(peer.requests()[i]), hex(withCrc(unhex(expected[i]))));
    EXPECT_EQ(peer.close(), ZR_OK);
}

INSTANTIATE_TEST_SUITE_P(Links, SilentReaderOnLink, ::testing::Values(LinkKind::Tcp, LinkKind::Serial, LinkKind::Usb),
                         [](const auto& info) { return std::string(zr::link::linkKindName(info.param)); });

}  // namespace
