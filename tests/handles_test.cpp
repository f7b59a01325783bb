// Handles the library did not open, or has closed, are refused by every
// export with the export's refusal result, and the descriptor behind the
// number is left exactly as it was: nothing written or read, flags, mode and
// open state unchanged.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <string>

#include "reliability/all_exports.h"
#include "support/reader_peer.h"
#include "zrreader.h"

namespace {

using zr::reliability::allExports;
using zr::test::ReaderPeer;
using LinkKind = zr::link::LinkKind;

// What can be observed of a descriptor without changing it.
struct FdState {
    bool open = false;
    int fdFlags = -1;
    int statusFlags = -1;
    dev_t dev = 0;
    ino_t ino = 0;
    mode_t mode = 0;
    off_t offset = -1;
    bool operator==(const FdState& o) const {
        return open == o.open && fdFlags == o.fdFlags && statusFlags == o.statusFlags && dev == o.dev &&
               ino == o.ino && mode == o.mode && offset == o.offset;
    }
};

FdState observe(int fd) {
    FdState s;
    struct stat st;
    if (fstat(fd, &st) != 0) return s;
    s.open = true;
    s.fdFlags = fcntl(fd, F_GETFD);
    s.statusFlags = fcntl(fd, F_GETFL);
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.mode = st.st_mode;
    s.offset = lseek(fd, 0, SEEK_CUR);
    return s;
}

// Bytes waiting on a descriptor we read from (non-blocking peek).
size_t pending(int fd) {
    char buf[256];
    const ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT | MSG_PEEK);
    if (n >= 0) return static_cast<size_t>(n);
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    const ssize_t r = read(fd, buf, sizeof buf);
    fcntl(fd, F_SETFL, flags);
    return r > 0 ? static_cast<size_t>(r) : 0;
}

void expectEveryExportRefuses(int port, const std::string& what) {
    const FdState before = observe(port);
    for (const auto& e : allExports())
        EXPECT_EQ(e.call(port), e.refusedResult) << e.name << " with " << what << " (" << port << ")";
    int copy = port;
    EXPECT_EQ(ZRClose(&copy), ZR_CLOSED) << "ZRClose with " << what;
    EXPECT_EQ(copy, port) << "ZRClose must not change a handle it refuses";
    EXPECT_TRUE(observe(port) == before) << what << ": the descriptor changed";
}

TEST(ForeignHandles, StandardDescriptorsAreRefusedAndLeftAsTheyWere) {
    for (int fd : {0, 1, 2}) expectEveryExportRefuses(fd, "standard descriptor");
}

TEST(ForeignHandles, PipesAndSocketsOfTheCallerSeeNoTraffic) {
    int p[2], s[2];
    ASSERT_EQ(pipe(p), 0);
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, s), 0);
    expectEveryExportRefuses(p[1], "pipe write end");
    expectEveryExportRefuses(p[0], "pipe read end");
    expectEveryExportRefuses(s[0], "socket");
    EXPECT_EQ(pending(p[0]), 0u) << "something was written into the caller's pipe";
    EXPECT_EQ(pending(s[1]), 0u) << "something was written into the caller's socket";
    for (int fd : {p[0], p[1], s[0], s[1]}) close(fd);
}

TEST(ForeignHandles, RandomNumbersAreRefused) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> any(-100000, 100000000);
    for (int i = 0; i < 20; ++i) {
        const int port = any(rng);
        if (port == ZR_CLOSED_HANDLE) continue;
        for (const auto& e : allExports()) EXPECT_EQ(e.call(port), e.refusedResult) << e.name << " with " << port;
    }
}

class ClosedHandles : public testing::TestWithParam<LinkKind> {};

TEST_P(ClosedHandles, AClosedHandleIsRefusedAndItsReusedNumberUntouched) {
    ReaderPeer peer(GetParam());
    ASSERT_EQ(peer.open(), ZR_OK);
    const int stale = peer.port();
    int port = stale;
    ASSERT_EQ(ZRClose(&port), ZR_OK);
    ASSERT_TRUE(peer.waitUntilDisconnected());
    peer.clearReceived();
    for (const auto& e : allExports()) EXPECT_EQ(e.call(stale), e.refusedResult) << e.name << " after close";
    EXPECT_TRUE(peer.received().empty()) << "a closed handle reached the reader";

    // The system hands the number to the next descriptor opened: it is the
    // caller's now, and the library must leave it alone.
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    const int reused = p[0] == stale ? p[0] : p[1] == stale ? p[1] : -1;
    if (reused < 0) {
        close(p[0]);
        close(p[1]);
        GTEST_SKIP() << "the closed number was not reused";
    }
    expectEveryExportRefuses(reused, "reused number");
    EXPECT_EQ(pending(p[0]), 0u);
    close(p[0]);
    close(p[1]);
}

INSTANTIATE_TEST_SUITE_P(Links, ClosedHandles, testing::Values(LinkKind::Serial, LinkKind::Usb, LinkKind::Tcp),
                         [](const testing::TestParamInfo<LinkKind>& i) { return zr::link::linkKindName(i.param); });

}  // namespace
