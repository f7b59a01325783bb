// ZROpen and ZRClose over real links: a TCP listener, a pseudo-terminal and
// a USB stand-in socket, each played by ReaderPeer.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include <gtest/gtest.h>

#include "connection/process_state.h"
#include "support/reader_peer.h"
#include "zrreader.h"

namespace {

using zr::link::LinkKind;
using zr::test::ReaderPeer;

bool descriptorOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

// Opens a configuration written by `peer` with `keys` on a fresh handle.
int openWith(ReaderPeer& peer, const std::vector<std::pair<std::string, std::string>>& keys, int* port) {
    peer.writeConfig(keys);
    return ZROpen(port, peer.configPath().c_str(), ReaderPeer::kSection);
}

class OpenCloseOnLink : public ::testing::TestWithParam<LinkKind> {};

TEST_P(OpenCloseOnLink, OpensClosesAndRefusesASecondClose) {
    ReaderPeer peer(GetParam());
    ASSERT_EQ(peer.open(), ZR_OK);
    const int handle = peer.port();
    ASSERT_NE(handle, ZR_CLOSED_HANDLE);
    EXPECT_TRUE(descriptorOpen(handle));
    EXPECT_EQ(isatty(handle) == 1, GetParam() == LinkKind::Serial);
    if (GetParam() != LinkKind::Serial) {
        EXPECT_TRUE(peer.waitForConnections(1));
    }
    ASSERT_NE(zr::findHandle(handle), nullptr);
    EXPECT_EQ(zr::findHandle(handle)->link->kind(), GetParam());

    EXPECT_EQ(peer.close(), ZR_OK);
    EXPECT_EQ(peer.port(), ZR_CLOSED_HANDLE);
    EXPECT_EQ(zr::findHandle(handle), nullptr);
    EXPECT_TRUE(peer.waitUntilDisconnected());
    EXPECT_EQ(peer.close(), ZR_CLOSED);
    // Nothing goes on the wire while opening and closing.
    EXPECT_TRUE(peer.received().empty());
}

// The link opened by ZROpen carries a packet to the peer and its reply back,
// with the framing of its kind.
TEST_P(OpenCloseOnLink, APacketCrossesTheOpenedLinkBothWays) {
    ReaderPeer peer(GetParam());
    ASSERT_EQ(peer.open(), ZR_OK);
    auto entry = zr::findHandle(peer.port());
    ASSERT_NE(entry, nullptr);
    const zr::test::Bytes request = {0x00, 0x03, 0x62, 0x03, 0x00};
    const zr::test::Bytes reply = {0x00, 0x04, 0x62, 0x00, 0x55, 0x56};
    peer.replyNext(reply);
    ASSERT_GT(entry->link->send(request.data(), static_cast<int>(request.size())), 0);
    ASSERT_TRUE(peer.waitForRequests(1));
    EXPECT_EQ(zr::test::hex(peer.requests()[0]), zr::test::hex(zr::test::withCrc(request)));
    const zr::test::Bytes expectedWire = GetParam() == LinkKind::Tcp
                                             ? zr::test::withCrc(request)
                                             : zr::test::unhex("55 00 03 62 03 00");
    EXPECT_EQ(zr::test::hex(peer.received()).substr(0, zr::test::hex(expectedWire).size()),
              zr::test::hex(expectedWire));

    uint8_t buffer[256] = {};
    int got = 0;
    for (int i = 0; i < 100 && got == 0; ++i) got = entry->link->receive(buffer, 6, 0x62);
    ASSERT_EQ(got, static_cast<int>(reply.size() + 2));
    EXPECT_EQ(zr::test::hex(buffer, got), zr::test::hex(zr::test::withCrc(reply)));
    EXPECT_EQ(peer.close(), ZR_OK);
}

TEST_P(OpenCloseOnLink, ReopensAfterClose) {
    ReaderPeer peer(GetParam());
    ASSERT_EQ(peer.open(), ZR_OK);
    ASSERT_EQ(peer.close(), ZR_OK);
    ASSERT_TRUE(peer.waitUntilDisconnected());
    ASSERT_EQ(peer.open(), ZR_OK);
    EXPECT_EQ(peer.close(), ZR_OK);
}

TEST_P(OpenCloseOnLink, AStaleHandleValueIsRefusedWithoutTouchingItsNewOwner) {
    ReaderPeer peer(GetParam());
    ASSERT_EQ(peer.open(), ZR_OK);
    int stale = peer.port();
    ASSERT_EQ(peer.close(), ZR_OK);
    // The descriptor number is free again; something else takes it.
    int other = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    if (other == stale) {
        EXPECT_EQ(ZRClose(&stale), ZR_CLOSED);
        EXPECT_TRUE(descriptorOpen(other));
    }
    close(other);
}

TEST_P(OpenCloseOnLink, AnOpenHandleIsRefusedWithMinus10AndNothingIsRead) {
    ReaderPeer peer(GetParam());
    ASSERT_EQ(peer.open(), ZR_OK);
    const std::string pathBefore = zr::currentSettings()->configPath;
    for (int value : {0, peer.port()}) {
        int port = value;
        EXPECT_EQ(ZROpen(&port, "/nonexistent/other.ini", "OTHER"), ZR_ERR_ALREADY_OPEN);
        EXPECT_EQ(port, value);
    }
    EXPECT_EQ(zr::currentSettings()->configPath, pathBefore);
}

TEST_P(OpenCloseOnLink, EmptyTextsFailWithMinus11OnEveryLink) {
    for (const char* key : {"ZR_PORT_TYPE", "ZR_COM_NUMBER", "ZR_HOST_NAME"}) {
        for (const char* value : {"", " \t ", "; comment"}) {
            ReaderPeer peer(GetParam());
            int port = ZR_CLOSED_HANDLE;
            EXPECT_EQ(openWith(peer, {{key, value}, {"ZR_READ_TRIES", "33"}}, &port), ZR_ERR_CONFIG)
                << key << "=" << value;
            EXPECT_EQ(port, ZR_CLOSED_HANDLE);
            EXPECT_EQ(peer.connectionsAccepted(), 0);
        }
    }
}

TEST_P(OpenCloseOnLink, AHandleClosesOnItsOwnLinkAfterAnotherLinkWasOpened) {
    // A handle is closed by the link it was opened on, even after a later
    // open switched the port type to another link.
    ReaderPeer peer(GetParam());
    ASSERT_EQ(peer.open(), ZR_OK);
    ReaderPeer other(GetParam() == LinkKind::Tcp ? LinkKind::Serial : LinkKind::Tcp);
    ASSERT_EQ(other.open(), ZR_OK);
    EXPECT_EQ(peer.close(), ZR_OK);
    EXPECT_TRUE(peer.waitUntilDisconnected());
    EXPECT_EQ(other.close(), ZR_OK);
    EXPECT_EQ(other.port(), ZR_CLOSED_HANDLE);
}

TEST_P(OpenCloseOnLink, AnUnknownPortTypeOpensNothingAndClosesNothing) {
    ReaderPeer peer(GetParam());
    ASSERT_EQ(peer.open(), ZR_OK);
    const int handle = peer.port();

    // A later open with a port type of the wrong case: all keys are read,
    // nothing is opened, and the unknown type governs ZRClose.
    ReaderPeer second(GetParam());
    for (const char* type : {"tcp", "Com", "usb", "0"}) {
        int port = ZR_CLOSED_HANDLE;
        EXPECT_EQ(openWith(second, {{"ZR_PORT_TYPE", type}, {"ZR_READ_TRIES", "33"}}, &port), ZR_NOTHING);
        EXPECT_EQ(port, ZR_CLOSED_HANDLE);
        EXPECT_EQ(zr::currentSettings()->readTries, 33);
        EXPECT_EQ(second.connectionsAccepted(), 0);
    }
    EXPECT_EQ(peer.close(), ZR_NOTHING);
    EXPECT_EQ(peer.port(), handle);
    EXPECT_TRUE(descriptorOpen(handle));

    // Once the port type names a link again, the handle closes on its own link.
    int port = ZR_CLOSED_HANDLE;
    EXPECT_EQ(openWith(second, {{"ZR_PORT_TYPE", "COM"}, {"ZR_COM_NUMBER", "/nonexistent/tty"}}, &port),
              ZR_ERR_OPEN);
    EXPECT_EQ(peer.close(), ZR_OK);
    EXPECT_TRUE(peer.waitUntilDisconnected());
}

class DeviceOpenClose : public ::testing::TestWithParam<LinkKind> {};

// The USB peer accepts the library's connection on its own thread; until it
// has, its accept would take the lowest free number, which is the one the
// test is about to free.
void settleBeforePullingTheHandle(ReaderPeer& peer) {
    if (peer.kind() == LinkKind::Usb) {
        ASSERT_TRUE(peer.waitForConnections(1));
    }
}

TEST_P(DeviceOpenClose, AFailedDescriptorCloseGives242AndKeepsTheHandle) {
    ReaderPeer peer(GetParam());
    ASSERT_EQ(peer.open(), ZR_OK);
    const int handle = peer.port();
    settleBeforePullingTheHandle(peer);
    ASSERT_EQ(close(handle), 0);  // pulled from under the library
    EXPECT_EQ(peer.close(), ZR_ERR_CLOSE);
    EXPECT_EQ(peer.port(), handle);
    // The number may already name another file: a second close forgets the
    // handle without closing anything.
    int devnull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(devnull, 0);
    EXPECT_EQ(peer.close(), ZR_OK);
    EXPECT_EQ(peer.port(), ZR_CLOSED_HANDLE);
    EXPECT_EQ(zr::findHandle(handle), nullptr);
    EXPECT_TRUE(descriptorOpen(devnull));
    close(devnull);
}

TEST_P(DeviceOpenClose, AReusedDescriptorNumberIsNotClosedByTheEntryItReplaces) {
    ReaderPeer peer(GetParam());
    ASSERT_EQ(peer.open(), ZR_OK);
    const int first = peer.port();
    settleBeforePullingTheHandle(peer);
    ASSERT_EQ(close(first), 0);  // pulled from under the library
    int second = ZR_CLOSED_HANDLE;
    ASSERT_EQ(ZROpen(&second, peer.configPath().c_str(), ReaderPeer::kSection), ZR_OK);
    if (second != first) GTEST_SKIP() << "the descriptor number was not reused";
    EXPECT_TRUE(descriptorOpen(second));
    EXPECT_EQ(ZRClose(&second), ZR_OK);
    *peer.portPointer() = ZR_CLOSED_HANDLE;  // that number is closed now
}

// A host that closed its standard input (as daemons do) leaves descriptor 0
// free for the next open. The device routines refuse handle 0, so the
// opened device must not be handed out under that number.
TEST_P(DeviceOpenClose, ADeviceOpenedWhileDescriptorZeroIsFreeStillWorks) {
    ReaderPeer peer(GetParam());
    int handle = ZR_CLOSED_HANDLE, opened = 0, sent = 0, closed = 0;
    {
        // No assertions in here: descriptor 0 must be restored on every path.
        const int savedStdin = fcntl(0, F_DUPFD_CLOEXEC, 3);
        if (savedStdin >= 0) close(0);
        opened = peer.open();
        handle = peer.port();
        sent = opened == ZR_OK ? ZRReset(handle) : 0;
        closed = peer.close();
        if (savedStdin >= 0) {
            dup2(savedStdin, 0);
            close(savedStdin);
        }
    }
    ASSERT_EQ(opened, ZR_OK);
    EXPECT_NE(handle, 0);
    EXPECT_EQ(sent, GetParam() == LinkKind::Serial ? 3 : 5);
    EXPECT_EQ(closed, ZR_OK);
    ASSERT_TRUE(peer.waitForRequests(1));
    EXPECT_EQ(peer.requestsHex().front(), "00 01 6C");
}

INSTANTIATE_TEST_SUITE_P(Devices, DeviceOpenClose, ::testing::Values(LinkKind::Serial, LinkKind::Usb),
                         [](const auto& info) { return std::string(zr::link::linkKindName(info.param)); });
INSTANTIATE_TEST_SUITE_P(Links, OpenCloseOnLink, ::testing::Values(LinkKind::Tcp, LinkKind::Serial, LinkKind::Usb),
                         [](const auto& info) { return std::string(zr::link::linkKindName(info.param)); });

TEST(OpenClose, NullArgumentsAreRefusedWithNothingOpened) {
    ReaderPeer peer(LinkKind::Tcp);
    peer.writeConfig();
    EXPECT_EQ(ZROpen(nullptr, peer.configPath().c_str(), ReaderPeer::kSection), ZR_ERR_ARGUMENT);
    int port = ZR_CLOSED_HANDLE;
    EXPECT_EQ(ZROpen(&port, nullptr, ReaderPeer::kSection), ZR_ERR_CONFIG);
    EXPECT_EQ(ZROpen(&port, peer.configPath().c_str(), nullptr), ZR_ERR_CONFIG);
    EXPECT_EQ(port, ZR_CLOSED_HANDLE);
    EXPECT_EQ(peer.connectionsAccepted(), 0);
    EXPECT_EQ(ZRClose(nullptr), ZR_ERR_ARGUMENT);
}

TEST(OpenClose, AMissingConfigurationFileReadsDefaultsAndOpensNothing) {
    int port = ZR_CLOSED_HANDLE;
    EXPECT_EQ(ZROpen(&port, "/nonexistent/reader.ini", "READER"), ZR_NOTHING);
    EXPECT_EQ(port, ZR_CLOSED_HANDLE);
    auto s = zr::currentSettings();
    EXPECT_EQ(s->configPath, "/nonexistent/reader.ini");
    EXPECT_EQ(s->portType, "0");
    EXPECT_EQ(s->serialDevice, "0");
    EXPECT_EQ(s->hostAddress, "0");
    EXPECT_EQ(s->readTries, 25);
    EXPECT_EQ(s->writeTries, 100);
    EXPECT_EQ(s->antennas, 1);
    EXPECT_EQ(s->baudRate, 9600u);
}

TEST(OpenClose, AnEmptyTextKeepsTheNumbersOfThePreviousOpen) {
    ReaderPeer peer(LinkKind::Tcp);
    int port = ZR_CLOSED_HANDLE;
    ASSERT_EQ(openWith(peer, {{"ZR_PORT_TYPE", "none"}, {"ZR_READ_TRIES", "44"}}, &port), ZR_NOTHING);
    ASSERT_EQ(openWith(peer, {{"ZR_HOST_NAME", ""}, {"ZR_READ_TRIES", "55"}, {"ZR_COM_NUMBER", "X1"}}, &port),
              ZR_ERR_CONFIG);
    auto s = zr::currentSettings();
    EXPECT_EQ(s->readTries, 44);
    EXPECT_EQ(s->portType, "TCP");
    EXPECT_EQ(s->serialDevice, "X1");
    EXPECT_EQ(s->hostAddress, "");
}

TEST(OpenClose, HandlesTheLibraryDidNotOpenAreRefusedUntouched) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    for (int value : {1, 2, fds[0], fds[1], 12345}) {
        int port = value;
        EXPECT_EQ(ZRClose(&port), ZR_CLOSED) << value;
        EXPECT_EQ(port, value);
    }
    EXPECT_TRUE(descriptorOpen(1));
    EXPECT_TRUE(descriptorOpen(fds[0]));
    EXPECT_TRUE(descriptorOpen(fds[1]));
    close(fds[0]);
    close(fds[1]);
    int closed = ZR_CLOSED_HANDLE;
    EXPECT_EQ(ZRClose(&closed), ZR_CLOSED);
}

TEST(OpenClose, SerialDevicesThatCannotBeOpenedGiveMinus13) {
    ReaderPeer peer(LinkKind::Serial);
    char file[] = "/tmp/zr-not-a-tty-XXXXXX";
    int fd = mkstemp(file);
    ASSERT_GE(fd, 0);
    close(fd);
    for (const std::string& device : {std::string("/nonexistent/ttyS9"), std::string(file)}) {
        int port = ZR_CLOSED_HANDLE;
        EXPECT_EQ(openWith(peer, {{"ZR_COM_NUMBER", device}}, &port), ZR_ERR_OPEN) << device;
        EXPECT_EQ(port, ZR_CLOSED_HANDLE);
    }
    unlink(file);
}

TEST(OpenClose, ASerialPortOpenTwiceIsRefused) {
    ReaderPeer peer(LinkKind::Serial);
    ASSERT_EQ(peer.open(), ZR_OK);
    int second = ZR_CLOSED_HANDLE;
    EXPECT_EQ(ZROpen(&second, peer.configPath().c_str(), ReaderPeer::kSection), ZR_ERR_OPEN);
    EXPECT_EQ(second, ZR_CLOSED_HANDLE);
    EXPECT_EQ(peer.close(), ZR_OK);
}

// A Unix socket of `type` bound at `path`; listening or left stale.
int bindUnix(const std::string& path, int type, bool listening) {
    int fd = socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) return -1;
    if (listening) {
        listen(fd, 4);
        return fd;
    }
    close(fd);  // the socket file stays, nobody serves it
    return -1;
}

TEST(OpenClose, UsbDiscoveryResults) {
    ReaderPeer peer(LinkKind::Usb);  // sets ZR_USB_DIR to its folder
    const std::string folder = peer.devicePath().substr(0, peer.devicePath().rfind('/'));
    peer.writeConfig();
    auto openUsb = [&] {
        int port = ZR_CLOSED_HANDLE;
        int result = ZROpen(&port, peer.configPath().c_str(), ReaderPeer::kSection);
        if (result == ZR_OK) {
            EXPECT_EQ(ZRClose(&port), ZR_OK);
        }
        EXPECT_EQ(port, ZR_CLOSED_HANDLE);
        return result;
    };
    // A stale device sorted before the live one is skipped for the live one.
    bindUnix(folder + "/a-stale", SOCK_SEQPACKET, false);
    EXPECT_EQ(openUsb(), ZR_OK);

    // Only devices that cannot be opened: -13.
    char empty[] = "/tmp/zr-usb-class-XXXXXX";
    ASSERT_NE(mkdtemp(empty), nullptr);
    const std::string other = empty;
    setenv("ZR_USB_DIR", other.c_str(), 1);
    EXPECT_EQ(openUsb(), ZR_NOTHING);  // empty class: 0
    int stream = bindUnix(other + "/stream", SOCK_STREAM, true);
    std::ofstream(other + "/file") << "x";
    EXPECT_EQ(openUsb(), ZR_NOTHING);  // other entries are no devices
    bindUnix(other + "/stale", SOCK_SEQPACKET, false);
    EXPECT_EQ(openUsb(), ZR_ERR_OPEN);
    setenv("ZR_USB_DIR", "/nonexistent/class", 1);
    EXPECT_EQ(openUsb(), ZR_NOTHING);
    setenv("ZR_USB_DIR", folder.c_str(), 1);
    close(stream);
    for (const char* name : {"/stream", "/file", "/stale"}) unlink((other + name).c_str());
    rmdir(other.c_str());
    unlink((folder + "/a-stale").c_str());
}

TEST(OpenClose, ATcpConnectionThatIsRefusedGivesMinus12) {
    std::string host;
    {
        ReaderPeer probe(LinkKind::Tcp);  // finds a loopback address of our own
        host = probe.host();
    }
    ReaderPeer peer(LinkKind::Serial);  // only for its configuration file
    int port = ZR_CLOSED_HANDLE;
    EXPECT_EQ(openWith(peer, {{"ZR_PORT_TYPE", "TCP"}, {"ZR_HOST_NAME", host}}, &port), ZR_ERR_CONNECT_TIMEOUT);
    EXPECT_EQ(port, ZR_CLOSED_HANDLE);
}

TEST(OpenClose, ATcpConnectionThatStaysUnwritableGives242AndStaysOpen) {
    ReaderPeer peer(LinkKind::Tcp);
    ASSERT_EQ(peer.open(), ZR_OK);
    const int handle = peer.port();
    peer.holdReading(true);
    // Fill both socket buffers so the library's socket stops being writable.
    std::vector<uint8_t> junk(65536, 0xEE);
    while (send(handle, junk.data(), junk.size(), MSG_DONTWAIT | MSG_NOSIGNAL) > 0) {
    }
    ASSERT_EQ(errno, EAGAIN);
    EXPECT_EQ(peer.close(), ZR_ERR_CLOSE);
    EXPECT_EQ(peer.port(), handle);
    EXPECT_NE(zr::findHandle(handle), nullptr);
    peer.holdReading(false);
    EXPECT_EQ(peer.close(), ZR_OK);
    EXPECT_EQ(peer.port(), ZR_CLOSED_HANDLE);
}

}  // namespace
