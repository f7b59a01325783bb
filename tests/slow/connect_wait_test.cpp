// The 10 s connect wait of ZROpen, against connects that never complete:
// a loopback listener whose accept queue is full, and a host text that is
// not a dotted address.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "link/tcp_connection.h"
#include "platform/platform.h"
#include "support/reader_peer.h"
#include "zrreader.h"

namespace {

using zr::link::LinkKind;
using zr::test::ReaderPeer;

// A listener on 127.0.0.N:7086 that never accepts, with its accept queue
// filled, so a further connect is never completed.
class FullListener {
public:
    FullListener() {
        {
            ReaderPeer probe(LinkKind::Tcp);  // finds a free loopback address
            host_ = probe.host();
        }
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(zr::link::kReaderTcpPort);
        inet_aton(host_.c_str(), &address.sin_addr);
        ok_ = bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
              listen(listener_, 0) == 0;
        // Connect until one is left hanging.
        for (int i = 0; ok_ && i < 64; ++i) {
            int s = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address));
            fillers_.push_back(s);
            pollfd p {s, POLLOUT, 0};
            if (poll(&p, 1, 300) == 0) return;  // this one never completes: full
        }
        ok_ = false;
    }
    ~FullListener() {
        for (int s : fillers_) close(s);
        close(listener_);
    }
    bool ok() const { return ok_; }
    const std::string& host() const { return host_; }

private:
    std::string host_;
    int listener_ = -1;
    bool ok_ = false;
    std::vector<int> fillers_;
};

// ZROpen on "TCP" to `host` fails with -12 after the 10 s connect wait.
void expectConnectWaitRunsOut(const std::string& host) {
    ReaderPeer peer(LinkKind::Serial);  // only for its configuration file
    peer.writeConfig({{"ZR_PORT_TYPE", "TCP"}, {"ZR_HOST_NAME", host}});
    int port = ZR_CLOSED_HANDLE;
    int64_t start = zr::platform::monotonicMicros();
    EXPECT_EQ(ZROpen(&port, peer.configPath().c_str(), ReaderPeer::kSection), ZR_ERR_CONNECT_TIMEOUT) << host;
    int64_t waited = zr::platform::monotonicMicros() - start;
    EXPECT_EQ(port, ZR_CLOSED_HANDLE) << host;
    EXPECT_GE(waited, 10000000) << host;
    EXPECT_LT(waited, 12000000) << host;
}

TEST(ConnectWait, AFullBacklogMakesZROpenFailWithMinus12After10Seconds) {
    FullListener listener;
    ASSERT_TRUE(listener.ok());
    expectConnectWaitRunsOut(listener.host());
}

TEST(ConnectWait, AHostTextThatIsNoDottedAddressFailsAfterTheWait) { expectConnectWaitRunsOut("localhost"); }

TEST(ConnectWait, TcpConnectReturnsAtOnceAndTheWaitSplitsItsMilliseconds) {
    FullListener listener;
    ASSERT_TRUE(listener.ok());
    int64_t start = zr::platform::monotonicMicros();
    auto connection = zr::link::TcpConnect(listener.host());
    ASSERT_NE(connection, nullptr);
    EXPECT_LT(zr::platform::monotonicMicros() - start, 100000);
    EXPECT_EQ(connection->active, 1);
    start = zr::platform::monotonicMicros();
    EXPECT_EQ(zr::link::TcpWaitWritable(*connection, 1500), 3);
    int64_t waited = zr::platform::monotonicMicros() - start;
    EXPECT_GE(waited, 1500000);
    EXPECT_LT(waited, 1800000);
    EXPECT_EQ(zr::link::TcpClose(std::move(connection)), 0);
}

}  // namespace
