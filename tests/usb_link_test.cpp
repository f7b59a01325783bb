// The USB link end to end over the driver stand-in socket whose other side
// plays the reader: one write request per frame, one read request per byte.
#include <gtest/gtest.h>

#include "link/device_link.h"
#include "link/framing.h"
#include "link/link.h"
#include "link/usb_link.h"
#include "platform/platform.h"
#include "support/worked_examples.h"
#include "support/fake_link.h"
#include "support/reader_peer.h"

namespace zr::link {
namespace {

using test::Bytes;
using test::hex;
using test::unhex;
using test::withCrc;

struct UsbPair : ::testing::Test {
    test::ReaderPeer peer{LinkKind::Usb};
    int fd = -1;
    void SetUp() override {
        fd = platform::usbOpen(peer.devicePath());
        ASSERT_GE(fd, 0);
    }
    void TearDown() override {
        if (fd >= 0) platform::handleClose(fd);
    }
};

TEST_F(UsbPair, SendsOneFrameAndCountsTheCrc) {
    for (const auto& c : zr::test::kWorkedExamples) {
        peer.clearReceived();
        const Bytes packet = unhex(c.packet);
        EXPECT_EQ(UsbSendFrame(fd, packet.data(), static_cast<int>(packet.size())),
                  static_cast<int>(packet.size()) + 2);
        ASSERT_TRUE(peer.waitForRequests(1)) << c.packet;
        EXPECT_EQ(hex(peer.received()), c.linkFrame);
    }
}

TEST_F(UsbPair, PacketLargerThanTheOldFrameBufferIsSentWhole) {
    // 256 packet bytes, nearly all of them stuffed: a frame of 1 + 2 x 258 bytes at most.
    Bytes packet(256, 0x56);
    packet[0] = 0x00;
    packet[1] = 254;
    packet[2] = 0x31;
    EXPECT_EQ(UsbSendFrame(fd, packet.data(), 256), 258);
    ASSERT_TRUE(peer.waitForRequests(1));
    EXPECT_EQ(peer.requests()[0], withCrc(packet));
    EXPECT_GT(peer.received().size(), 256u);
}

TEST_F(UsbPair, ReceivesByteByByteAndSkipsOtherCodes) {
    uint8_t buffer[256] = {};
    EXPECT_EQ(UsbReceiveFrame(fd, buffer, 4, 0), 0);  // nothing queued: at once

    peer.sendRaw(linkFrameOf(unhex("00 02 72 00")));
    peer.sendRaw(linkFrameOf(unhex("00 03 71 55 56")));
    EXPECT_EQ(UsbReceiveFrame(fd, buffer, 4, 0x71), 7);
    EXPECT_EQ(hex(buffer, 7), "00 03 71 55 56 45 25");
    EXPECT_EQ(peer.pendingUsbBytes(), 0u);

    peer.sendRaw(unhex("55 00 01 6D 87 6B"));  // corrupted
    peer.sendRaw(linkFrameOf(unhex("00 01 6C")));
    EXPECT_EQ(UsbReceiveFrame(fd, buffer, 4, 0), 5);
    EXPECT_EQ(hex(buffer, 5), "00 01 6C 87 6B");
}

TEST_F(UsbPair, LinkDispatchesToTheUsbRoutines) {
    std::unique_ptr<Link> link = makeUsbLink(fd);
    fd = -1;  // the link owns it now
    EXPECT_EQ(link->kind(), LinkKind::Usb);
    peer.replyNext(unhex("00 02 6C 00"));
    const Bytes reset = unhex("00 01 6C");
    EXPECT_EQ(link->send(reset.data(), 3), 5);
    ASSERT_TRUE(peer.waitForRequests(1));
    link->flush();
    uint8_t buffer[256] = {};
    EXPECT_EQ(link->receive(buffer, 99, 0x6C), 6);
    EXPECT_EQ(link->close(), kLinkClosed);
    EXPECT_TRUE(peer.waitUntilDisconnected());
}

TEST(UsbLink, HandleZeroAndDeadHandles) {
    const Bytes reset = unhex("00 01 6C");
    uint8_t buffer[256];
    uint8_t byte = 0;
    EXPECT_EQ(UsbSendFrame(0, reset.data(), 3), 0);
    EXPECT_EQ(UsbReceiveFrame(0, buffer, 4, 0), 0);
    EXPECT_EQ(UsbReadUnstuffed(0, byte), 0);
    // A handle that is no device: every request fails.
    EXPECT_EQ(UsbReadByte(-1), -1);
    EXPECT_EQ(UsbWriteFrame(-1, reset.data(), 3), 0);
    EXPECT_EQ(UsbSendFrame(-1, reset.data(), 3), 0);
}

}  // namespace
}  // namespace zr::link
