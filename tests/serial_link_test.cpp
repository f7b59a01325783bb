// The serial link end to end over a pseudo-terminal whose other side plays
// the reader: exact frame bytes, send counts, receiving and its time-out.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "link/device_link.h"
#include "link/frame_pace.h"
#include "link/framing.h"
#include "link/link.h"
#include "link/serial_link.h"
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

struct SerialPair : ::testing::Test {
    test::ReaderPeer peer{LinkKind::Serial};
    int fd = -1;
    void SetUp() override {
        fd = platform::serialOpen(peer.devicePath(), 9600);
        ASSERT_GE(fd, 0);
    }
    void TearDown() override {
        if (fd >= 0) platform::handleClose(fd);
    }
    // Polls the receiver as an export does, with short pauses.
    int receivePolled(uint8_t* buffer, uint8_t code) {
        for (int i = 0; i < 200; ++i) {
            if (int n = SerialReceiveFrame(fd, buffer, 4, code); n > 0) return n;
            platform::sleepMs(5);
        }
        return 0;
    }
    bool waitForBytes(size_t count) {
        for (int i = 0; i < 300 && peer.received().size() < count; ++i) platform::sleepMs(5);
        return peer.received().size() >= count;
    }
};

TEST_F(SerialPair, SendsStuffedFramesAndCountsPacketBytes) {
    for (const auto& c : zr::test::kWorkedExamples) {
        peer.clearReceived();
        const Bytes packet = unhex(c.packet);
        EXPECT_EQ(SerialSendFrame(fd, packet.data(), static_cast<int>(packet.size())), static_cast<int>(packet.size()));
        const Bytes wire = unhex(c.linkFrame);
        ASSERT_TRUE(waitForBytes(wire.size())) << c.packet;
        EXPECT_EQ(hex(peer.received()), c.linkFrame);
    }
}

TEST_F(SerialPair, ReceivesRepliesAndSkipsOthers) {
    uint8_t buffer[256] = {};
    EXPECT_EQ(SerialReceiveFrame(fd, buffer, 4, 0), 0);  // empty input queue

    Bytes input = unhex("01 02");                                // noise before the frames
    for (const char* p : {"00 02 72 00", "00 02 71 14"}) {
        const Bytes frame = linkFrameOf(unhex(p));
        input.insert(input.end(), frame.begin(), frame.end());
    }
    peer.sendRaw(input);
    ASSERT_EQ(receivePolled(buffer, 0x71), 6);
    EXPECT_EQ(hex(buffer, 6), "00 02 71 14 26 56");
    EXPECT_EQ(SerialReceiveFrame(fd, buffer, 4, 0x71), 0);  // the skipped frame is gone

    // A reply of the largest length, with stuffed bytes all through it.
    Bytes largest(254, 0x55);
    largest[0] = 0x00;
    largest[1] = 252;
    largest[2] = 0x40;
    peer.sendNow(largest);
    ASSERT_EQ(receivePolled(buffer, 0x40), 256);
    EXPECT_EQ(Bytes(buffer, buffer + 256), withCrc(largest));
}

TEST_F(SerialPair, GivesUpOnASilentLineInsideAFrame) {
    peer.sendRaw(unhex("55 00 02"));
    platform::sleepMs(30);  // the three bytes wait in the input queue
    uint8_t buffer[256] = {};
    const int64_t start = platform::monotonicMicros();
    EXPECT_EQ(SerialReceiveFrame(fd, buffer, 4, 0), 0);
    const int64_t elapsed = platform::monotonicMicros() - start;
    // 301 empty reads, each followed by a pace of at least 10 us: longer than
    // two characters at 9600 baud (2.1 ms).
    RecordProperty("silenceToleranceMicros", std::to_string(elapsed));
    EXPECT_GE(elapsed, 301 * kFramePaceFloorMicros);
    EXPECT_LT(elapsed, 1000000);

    // The rest of the cut frame is data outside any frame.
    peer.sendRaw(unhex("71 14 26 56 57"));
    platform::sleepMs(30);
    EXPECT_EQ(SerialReceiveFrame(fd, buffer, 4, 0), 0);
}

TEST_F(SerialPair, LinkDispatchesToTheSerialRoutines) {
    std::unique_ptr<Link> link = makeSerialLink(fd);
    fd = -1;  // the link owns it now
    EXPECT_EQ(link->kind(), LinkKind::Serial);
    peer.replyNext(unhex("00 02 6C 00"));
    const Bytes reset = unhex("00 01 6C");
    EXPECT_EQ(link->send(reset.data(), 3), 3);
    ASSERT_TRUE(peer.waitForRequests(1));
    EXPECT_EQ(hex(peer.received()), "55 00 01 6C 87 6B");
    link->flush();
    uint8_t buffer[256] = {};
    int n = 0;
    for (int i = 0; i < 200 && n == 0; ++i) {
        n = link->receive(buffer, 99, 0x6C);  // the count argument has no effect here
        if (n == 0) platform::sleepMs(5);
    }
    EXPECT_EQ(n, 6);
    EXPECT_EQ(link->close(), kLinkClosed);
    EXPECT_EQ(link->close(), kLinkClosed);
    EXPECT_TRUE(peer.waitUntilDisconnected());
}

TEST(SerialLink, HandleZeroIsRefused) {
    const Bytes reset = unhex("00 01 6C");
    uint8_t buffer[256];
    uint8_t byte = 0;
    EXPECT_EQ(SerialSendFrame(0, reset.data(), 3), 0);
    EXPECT_EQ(SerialReceiveFrame(0, buffer, 4, 0), 0);
    EXPECT_EQ(SerialWriteStuffed(0, 0x55), 0);
    EXPECT_EQ(SerialReadUnstuffed(0, byte), 0);
}

TEST(SerialLink, WritesFailOnAHandleThatIsNoSerialDevice) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const Bytes reset = unhex("00 01 6C");
    EXPECT_EQ(SerialWriteByte(pipeFds[1], 0x11), 0);
    EXPECT_EQ(SerialSendFrame(pipeFds[1], reset.data(), 3), 0);
    EXPECT_EQ(SerialReadByte(pipeFds[0]), -1);
    uint8_t byte = 0;
    EXPECT_EQ(SerialReadUnstuffed(pipeFds[0], byte), -1);
    close(pipeFds[0]);
    close(pipeFds[1]);
}

TEST(FramePace, NeverShorterThanItsFloor) {
    const int paces = 1000;
    const int64_t start = platform::monotonicMicros();
    for (int i = 0; i < paces; ++i) framePace();
    EXPECT_GE(platform::monotonicMicros() - start, int64_t{paces} * kFramePaceFloorMicros);
}

}  // namespace
}  // namespace zr::link
