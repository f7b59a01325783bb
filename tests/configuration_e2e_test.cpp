// Reader configuration end to end: power, parameters, I/O, network address,
// code sending, device class, test mode, read configuration and interference
// over a real pseudo-terminal, USB stand-in socket and TCP loopback listener,
// with ReaderPeer playing the reader. ZRNetAddrSet writes into the real
// configuration file that ZROpen read.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "link/framing.h"
#include "support/reader_peer.h"
#include "zrreader.h"

namespace {

using zr::link::LinkKind;
using zr::test::Bytes;
using zr::test::hex;
using zr::test::ReaderPeer;
using zr::test::unhex;
using zr::test::withCrc;

// A comment, then a section of its own for the network address, then another.
const char* const kExtraSections =
    "; reader used by the configuration tests\n"
    "[NETWORK]\n"
    "; written by ZRNetAddrSet\n"
    "\n"
    "[OTHER]\n"
    "ZR_HOST_NAME=9.9.9.9\n";

std::string fileContent(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ConfigurationOnLink : public ::testing::TestWithParam<LinkKind> {
protected:
    void SetUp() override {
        peer.writeConfig({{"ZR_READ_TRIES", "20"}, {"ZR_WRITE_TRIES", "50"}, {"ZR_ANTENNA_CONCTL", "3"}},
                         kExtraSections);
        ASSERT_EQ(peer.open(), ZR_OK);
    }
    void TearDown() override { EXPECT_EQ(peer.close(), ZR_OK); }

    LinkKind kind() const { return GetParam(); }

    ReaderPeer peer{GetParam()};
};

TEST_P(ConfigurationOnLink, PowerAndParameters) {
    peer.replyNext(unhex("00 02 60 00"));
    EXPECT_EQ(ZRPowerOn(peer.port(), 1), 1);
    peer.replyNext(unhex("00 04 62 00 12 34"));
    Bytes power(2, 0xEE);
    EXPECT_EQ(ZRPowerQuery(peer.port(), 0, 2, power.data()), 1);
    EXPECT_EQ(hex(power), "12 34");
    peer.replyNext(unhex("00 02 63 21"));
    EXPECT_EQ(ZRPowerSet(peer.port(), 0, 2, 0x55, 0x56), 2002);
    const unsigned char data[3] = {0x55, 0x56, 0x57};
    peer.replyNext(unhex("00 02 63 00"));
    EXPECT_EQ(ZRSysFastSet(peer.port(), 0x10, 3, data), 1);
    peer.replyNext(unhex("00 05 64 00 0A 0B 0C"));
    Bytes tag(3, 0xEE);
    EXPECT_EQ(ZRTagQuery(peer.port(), 4, 3, tag.data()), 1);
    EXPECT_EQ(hex(tag), "0A 0B 0C");
    peer.replyNext(unhex("00 02 61 00"));
    EXPECT_EQ(ZRPowerOff(peer.port()), 1);

    ASSERT_TRUE(peer.waitForRequests(6));
    EXPECT_EQ(peer.requestsHex(), (std::vector<std::string>{"00 02 60 01", "00 03 62 03 00", "00 05 63 03 02 55 56",
                                                       "00 06 63 10 03 55 56 57", "00 03 64 04 03", "00 01 61"}));
}

TEST_P(ConfigurationOnLink, PacketBytesTravelStuffedOnSerialAndUsbAndAsIsOnTcp) {
    peer.replyNext(unhex("00 02 63 00"));
    EXPECT_EQ(ZRPowerSet(peer.port(), 0, 2, 0x55, 0x56), 1);
    ASSERT_TRUE(peer.waitForRequests(1));
    const Bytes packet = unhex("00 05 63 03 02 55 56");
    EXPECT_EQ(hex(peer.received()), hex(kind() == LinkKind::Tcp ? withCrc(packet) : zr::link::linkFrameOf(packet)));
}

TEST_P(ConfigurationOnLink, IoMacAndDeviceSettings) {
    peer.replyNext(unhex("00 03 D2 00 5A"));
    unsigned char io = 0xEE;
    EXPECT_EQ(ZRIOControlQuery(peer.port(), 2, &io), 1);
    EXPECT_EQ(io, 0x5A);
    const unsigned char mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    peer.replyNext(unhex("00 02 63 00"));
    EXPECT_EQ(ZRMACSet(peer.port(), 0, 6, mac), 1);
    peer.replyNext(unhex("00 06 62 00 01 02 03 04"));
    int deviceClass = 0;
    EXPECT_EQ(ZRGetDeviceClass(peer.port(), &deviceClass), 1);
    peer.replyNext(unhex("00 02 67 00"));
    EXPECT_EQ(ZRTestModeSet(peer.port(), 4), 1);
    // Replies long enough for the TCP receive minimums (7, 6, 9 and 6).
    peer.replyNext(unhex("00 05 64 00 00 00 00"));
    EXPECT_EQ(ZRSetReadCfg(peer.port(), 2, 1), 1);
    const unsigned char interfere[2] = {0x10, 0x20};
    peer.replyNext(unhex("00 04 6A 00 00 00"));
    EXPECT_EQ(ZRSetInterfere(peer.port(), interfere), 1);
    peer.replyNext(unhex("00 07 6B 00 01 AA BB CC DD"));
    unsigned char setting[2] = {0xEE, 0xEE};
    EXPECT_EQ(ZRGetInterfere(peer.port(), setting), 1);
    EXPECT_EQ(hex(setting, 2), "AA BB");
    peer.replyNext(unhex("00 04 6C 00 00 00"));
    EXPECT_EQ(ZRCloseInterfere(peer.port()), 1);

    ASSERT_TRUE(peer.waitForRequests(8));
    EXPECT_EQ(peer.requestsHex(),
              (std::vector<std::string>{"00 02 D2 02", "00 09 63 05 06 00 1A 2B 3C 4D 5E", "00 03 62 21 00",
                                        "00 02 67 04", "00 04 64 03 02 01", "00 04 6A 10 20 03", "00 02 6B 03",
                                        "00 01 6C"}));
}

TEST_P(ConfigurationOnLink, CodeSendingSendsThePacketThreeTimes) {
    // Eight bytes: the TCP receive takes no fewer.
    for (int i = 0; i < 3; ++i) peer.replyNext(unhex("00 04 5F 00 00 00"));
    const unsigned char code[2] = {0xC0, 0xDE};
    EXPECT_EQ(ZRCodeSending(peer.port(), 2, 0, code), 1);
    ASSERT_TRUE(peer.waitForRequests(3));
    EXPECT_EQ(peer.requestsHex(), std::vector<std::string>(3, "00 03 5F C0 DE"));
}

TEST_P(ConfigurationOnLink, SysSetWritesByteByByteOnlyOverTheSerialLink) {
    // ZRSysSet receives at once after each send, so the replies are waiting beforehand.
    if (kind() == LinkKind::Serial) {
        peer.sendNow(unhex("00 02 63 00"));
        peer.sendNow(unhex("00 02 63 00"));
    }
    const unsigned char data[2] = {0xAB, 0xCD};
    const int expected = kind() == LinkKind::Serial ? 1 : kind() == LinkKind::Usb ? -4 : 0;
    EXPECT_EQ(ZRSysSet(peer.port(), 0x01FF, 2, data), expected);
    if (kind() == LinkKind::Serial) {
        ASSERT_TRUE(peer.waitForRequests(2));
        EXPECT_EQ(peer.requestsHex(), (std::vector<std::string>{"00 04 63 01 FF AB", "00 04 63 02 00 CD"}));
    } else {
        // USB: the serial routines cannot write to the driver stand-in; TCP: nothing is sent.
        peer.replyNext(unhex("00 02 60 00"));
        EXPECT_EQ(ZRPowerOn(peer.port(), 1), 1) << "the link still works";
        ASSERT_TRUE(peer.waitForRequests(1));
        const Bytes powerOn = unhex("00 02 60 01");
        const Bytes onWire = kind() == LinkKind::Tcp ? withCrc(powerOn) : zr::link::linkFrameOf(powerOn);
        EXPECT_EQ(hex(peer.received()), hex(onWire))
            << "not a byte of ZRSysSet on the wire";
    }
}

TEST_P(ConfigurationOnLink, NetAddrSetWritesTheTextsIntoTheNamedSectionOfTheOpenedFile) {
    const std::string before = fileContent(peer.configPath());
    peer.replyNext(unhex("00 02 63 00"));
    EXPECT_EQ(ZRNetAddrSet(peer.port(), 0, "NETWORK", "192.168.1.10", "255.255.255.0", "192.168.1.1"), 1);
    ASSERT_TRUE(peer.waitForRequests(1));
    EXPECT_EQ(peer.requestsHex(), std::vector<std::string>{"00 0F 63 06 0C C0 A8 01 0A FF FF FF 00 C0 A8 01 01"});

    const std::string head = before.substr(0, before.find("[NETWORK]"));
    EXPECT_EQ(fileContent(peer.configPath()), head +
                                                  "[NETWORK]\n"
                                                  "; written by ZRNetAddrSet\n"
                                                  "ZR_HOST_NAME=192.168.1.10\n"
                                                  "ZR_SUBNET=255.255.255.0\n"
                                                  "ZR_GATE=192.168.1.1\n"
                                                  "\n"
                                                  "[OTHER]\n"
                                                  "ZR_HOST_NAME=9.9.9.9\n");
}

TEST_P(ConfigurationOnLink, NetAddrSetIntoTheOpenSectionKeepsTheLinkUntilTheNextOpen) {
    peer.replyNext(unhex("00 02 63 00"));
    EXPECT_EQ(ZRNetAddrSet(peer.port(), 0, ReaderPeer::kSection, "192.168.1.10", "255.255.255.0", "192.168.1.1"), 1);
    const std::string after = fileContent(peer.configPath());
    EXPECT_NE(after.find("ZR_HOST_NAME=192.168.1.10\n"), std::string::npos);
    // The settings in memory still name the old host and port type: the same
    // link goes on answering.
    peer.replyNext(unhex("00 02 60 00"));
    EXPECT_EQ(ZRPowerOn(peer.port(), 1), 1);
    ASSERT_TRUE(peer.waitForRequests(2));
}

TEST_P(ConfigurationOnLink, NetAddrSetLeavesTheFileAloneOnAStatusOrAMalformedAddress) {
    const std::string before = fileContent(peer.configPath());
    peer.replyNext(unhex("00 02 63 21"));
    EXPECT_EQ(ZRNetAddrSet(peer.port(), 0, "NETWORK", "192.168.1.10", "255.255.255.0", "192.168.1.1"), 0);
    ASSERT_TRUE(peer.waitForRequests(1));
    EXPECT_EQ(ZRNetAddrSet(peer.port(), 0, "NETWORK", "192.168.1.300", "255.255.255.0", "192.168.1.1"), 0);
    EXPECT_FALSE(peer.waitForRequests(2, 300)) << "a malformed address is not sent";
    EXPECT_EQ(fileContent(peer.configPath()), before);
}

INSTANTIATE_TEST_SUITE_P(Links, ConfigurationOnLink, ::testing::Values(LinkKind::Serial, LinkKind::Usb, LinkKind::Tcp),
                         [](const ::testing::TestParamInfo<LinkKind>& info) {
                             return std::string(zr::link::linkKindName(info.param));
                         });

}  // namespace
