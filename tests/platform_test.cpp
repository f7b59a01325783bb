// The POSIX platform services: profile files, serial ports, the USB
// stand-in, sockets and interrupted waits.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "link/tcp_connection.h"
#include "platform/platform.h"
#include "support/reader_peer.h"

namespace {

namespace platform = zr::platform;
using zr::link::LinkKind;

// A temporary folder removed with everything in it.
class TempDir {
public:
    TempDir() {
        char name[] = "/tmp/zr-platform-XXXXXX";
        path_ = mkdtemp(name);
    }
    ~TempDir() {
        if (DIR* d = opendir(path_.c_str())) {
            while (dirent* e = readdir(d))
                if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, ".."))
                    unlink((path_ + "/" + e->d_name).c_str());
            closedir(d);
        }
        chmod(path_.c_str(), 0700);
        rmdir(path_.c_str());
    }
    std::string file(const std::string& name, const std::string& content) const {
        std::string p = path_ + "/" + name;
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        if (DIR* d = opendir(path_.c_str())) {
            while (dirent* e = readdir(d))
                if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
            closedir(d);
        }
        return names;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ---- Profile reading ----------------------------------------------------------

struct ReadCase {
    const char* name;
    std::string content;
    const char* section;
    const char* key;
    std::string expected;
};

TEST(ProfileRead, FollowsTheProfileReadersRules) {
    const std::string longValue(300, 'v');
    const std::vector<ReadCase> cases = {
        {"plain", "[R]\nK=v\n", "R", "K", "v"},
        {"section case", "[Reader]\nK=v\n", "rEADER", "K", "v"},
        {"key case", "[R]\nzr_port_type=TCP\n", "R", "ZR_PORT_TYPE", "TCP"},
        {"blanks around names", "[ \tR \t]\n \t K \t= v\n", "R", "K", "v"},
        {"asked names trimmed", "[R]\nK=v\n", " R\t", "\tK ", "v"},
        {"value trimmed", "[R]\nK= \t a b \t \n", "R", "K", "a b"},
        {"double quotes", "[R]\nK=\" a \"\n", "R", "K", " a "},
        {"single quotes", "[R]\nK='x'\n", "R", "K", "x"},
        {"unmatched quotes", "[R]\nK=\"x'\n", "R", "K", "\"x'"},
        {"one quote pair only", "[R]\nK=\"\"x\"\"\n", "R", "K", "\"x\""},
        {"first duplicate wins", "[R]\nK=1\nK=2\n", "R", "K", "1"},
        {"line without =", "[R]\nK\nK=2\n", "R", "K", "2"},
        {"inline ; kept", "[R]\nK=COM3 ; comment\n", "R", "K", "COM3 ; comment"},
        {"empty value", "[R]\nK=\n", "R", "K", ""},
        {"CRLF", "[R]\r\nK=v\r\nL=w\r\n", "R", "K", "v"},
        {"no final line end", "[R]\nK=v", "R", "K", "v"},
        {"other section", "[A]\nK=a\n[R]\nK=r\n[B]\nK=b\n", "R", "K", "r"},
        {"key outside section", "K=top\n[R]\nX=1\n", "R", "K", "0"},
        {"missing key", "[R]\nX=1\n", "R", "K", "0"},
        {"missing section", "[S]\nK=1\n", "R", "K", "0"},
        {"cut at 259", "[R]\nK=" + longValue + "\n", "R", "K", longValue.substr(0, 259)},
        {"second = is value", "[R]\nK=a=b\n", "R", "K", "a=b"},
        {"binary junk", std::string("\x01\xFF\x00[R]\n", 6) + "\x80\x7F=\n[R]\nK=\x01\x02\n", "R", "K", "\x01\x02"},
        {"NUL in value", std::string("[R]\nK=a\0b\n", 10), "R", "K", std::string("a\0b", 3)},
    };
    TempDir dir;
    for (const ReadCase& c : cases) {
        std::string path = dir.file("read.ini", c.content);
        EXPECT_EQ(platform::profileRead(path, c.section, c.key, "0"), c.expected) << c.name;
    }
}

TEST(ProfileRead, MissingFileGivesTheFallback) {
    EXPECT_EQ(platform::profileRead("/nonexistent/reader.ini", "R", "K", "0"), "0");
}

TEST(ProfileRead, AOneMegabyteLineIsCutAndTheRestStillReads) {
    TempDir dir;
    std::string big(1 << 20, 'x');
    std::string path = dir.file("big.ini", "[R]\nK=" + big + "\n" + big + "\nL=after\n");
    EXPECT_EQ(platform::profileRead(path, "R", "K", "0").size(), 259u);
    EXPECT_EQ(platform::profileRead(path, "R", "L", "0"), "after");
}

// ---- Profile writing ----------------------------------------------------------

struct WriteCase {
    const char* name;
    std::string before;
    const char* section;
    const char* key;
    const char* value;
    std::string after;
};

TEST(ProfileWrite, ChangesOnlyTheLineItMust) {
    const std::vector<WriteCase> cases = {
        {"replace value", "; head\n[R]\n  K =  old ; c\nL=1\n", "R", "K", "new", "; head\n[R]\nK=new\nL=1\n"},
        {"replace, CRLF kept", "[R]\r\nK=old\r\nL = 1 \r\n", "r", "k", "new", "[R]\r\nk=new\r\nL = 1 \r\n"},
        {"add at end of section", "[R]\nA=1\n\n[S]\nB=2\n", "R", "K", "v", "[R]\nA=1\nK=v\n\n[S]\nB=2\n"},
        {"add to last section without line end", "[R]\nA=1", "R", "K", "v", "[R]\nA=1\nK=v\n"},
        {"add section", "[S]\nB=2", "R", "K", "v", "[S]\nB=2\n[R]\nK=v\n"},
        {"add section, CRLF file", "[S]\r\nB=2\r\n", "R", "K", "v", "[S]\r\nB=2\r\n[R]\r\nK=v\r\n"},
        {"empty file", "", "R", "K", "v", "[R]\nK=v\n"},
        {"first duplicate replaced", "[R]\nK=1\nK=2\n", "R", "K", "3", "[R]\nK=3\nK=2\n"},
        {"junk lines kept", std::string("[R]\n\x01\xFF junk\nK=1\n", 15), "R", "K", "2",
         std::string("[R]\n\x01\xFF junk\nK=2\n", 15)},
    };
    TempDir dir;
    for (const WriteCase& c : cases) {
        std::string path = dir.file("write.ini", c.before);
        ASSERT_TRUE(platform::profileWrite(path, c.section, c.key, c.value)) << c.name;
        EXPECT_EQ(slurp(path), c.after) << c.name;
        EXPECT_EQ(platform::profileRead(path, c.section, c.key, "0"), c.value) << c.name;
    }
}

TEST(ProfileWrite, CreatesAMissingFileAndLeavesNoTemporaryFiles) {
    TempDir dir;
    std::string path = dir.path() + "/new.ini";
    ASSERT_TRUE(platform::profileWrite(path, "R", "ZR_HOST_NAME", "10.0.0.9"));
    ASSERT_TRUE(platform::profileWrite(path, "R", "ZR_SUBNET", "255.255.255.0"));
    EXPECT_EQ(slurp(path), "[R]\nZR_HOST_NAME=10.0.0.9\nZR_SUBNET=255.255.255.0\n");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"new.ini"});
}

TEST(ProfileWrite, ReplacesTheFileAsAWholeAndKeepsItsMode) {
    TempDir dir;
    std::string path = dir.file("mode.ini", "[R]\nK=1\n");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    // A reader holding the old file keeps seeing the old content: the new
    // one is a different file renamed into place, never a truncation.
    std::ifstream old(path, std::ios::binary);
    ASSERT_TRUE(platform::profileWrite(path, "R", "K", "2"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), std::istreambuf_iterator<char>()), "[R]\nK=1\n");
    EXPECT_EQ(slurp(path), "[R]\nK=2\n");
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(ProfileWrite, AFolderThatCannotBeWrittenLeavesTheOldFile) {
    if (geteuid() == 0) GTEST_SKIP() << "root may write anywhere";
    TempDir dir;
    std::string path = dir.file("ro.ini", "[R]\nK=1\n");
    ASSERT_EQ(chmod(dir.path().c_str(), 0500), 0);
    EXPECT_FALSE(platform::profileWrite(path, "R", "K", "2"));
    EXPECT_EQ(slurp(path), "[R]\nK=1\n");
}

// ---- Serial ports ---------------------------------------------------------------

TEST(Serial, OpensRawAndPassesEveryByteUntranslated) {
    zr::test::ReaderPeer peer(LinkKind::Serial);
    int fd = platform::serialOpen(peer.devicePath(), 115200);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(platform::serialReadByte(fd), -1);  // nothing there: returns at once
    // Bytes a terminal would translate, echo or act on.
    const std::vector<uint8_t> bytes = {0x0A, 0x0D, 0x03, 0x11, 0x13, 0x04, 0x7F, 0xFF, 0x00, 0x55};
    for (uint8_t b : bytes) ASSERT_TRUE(platform::serialWriteByte(fd, b));
    platform::serialFlush(fd);
    for (int i = 0; i < 200 && peer.received().size() < bytes.size(); ++i) platform::sleepMs(5);
    EXPECT_EQ(peer.received(), bytes);

    peer.sendRaw(bytes);
    std::vector<uint8_t> got;
    for (int i = 0; i < 400 && got.size() < bytes.size(); ++i) {
        int b = platform::serialReadByte(fd);
        if (b >= 0)
            got.push_back(static_cast<uint8_t>(b));
        else
            platform::sleepMs(1);
    }
    EXPECT_EQ(got, bytes);
    EXPECT_TRUE(platform::handleClose(fd));
}

TEST(Serial, IsExclusiveUntilClosed) {
    zr::test::ReaderPeer peer(LinkKind::Serial);
    int first = platform::serialOpen(peer.devicePath(), 9600);
    ASSERT_GE(first, 0);
    EXPECT_EQ(platform::serialOpen(peer.devicePath(), 9600), -1);
    ASSERT_TRUE(platform::handleClose(first));
    int again = platform::serialOpen(peer.devicePath(), 9600);
    EXPECT_GE(again, 0);
    platform::handleClose(again);
}

TEST(Serial, RefusesWhatIsNotATerminal) {
    TempDir dir;
    EXPECT_EQ(platform::serialOpen(dir.file("plain", "x"), 9600), -1);
    EXPECT_EQ(platform::serialOpen("/nonexistent/ttyS0", 9600), -1);

    // A USB stand-in socket (or any non-terminal) never gets single bytes.
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair), 0);
    EXPECT_FALSE(platform::serialWriteByte(pair[0], 0x55));
    uint8_t buffer[4];
    EXPECT_EQ(recv(pair[1], buffer, sizeof(buffer), MSG_DONTWAIT), -1);
    ASSERT_EQ(send(pair[1], "\x07", 1, 0), 1);
    EXPECT_EQ(platform::serialReadByte(pair[0]), -1);
    EXPECT_EQ(recv(pair[0], buffer, sizeof(buffer), MSG_DONTWAIT), 1);  // still there
    platform::serialFlush(pair[0]);
    close(pair[0]);
    close(pair[1]);
}

// ---- USB stand-in -----------------------------------------------------------------

TEST(Usb, ClassFolderComesFromTheEnvironment) {
    const char* old = getenv("ZR_USB_DIR");
    std::string saved = old ? old : "";
    setenv("ZR_USB_DIR", "/tmp/some-class", 1);
    EXPECT_EQ(platform::usbClassFolder(), "/tmp/some-class");
    setenv("ZR_USB_DIR", "", 1);
    EXPECT_EQ(platform::usbClassFolder(), "/run/zrreader/{48C602D4-C77E-45B9-8133-20C9683BD1A6}");
    if (old)
        setenv("ZR_USB_DIR", saved.c_str(), 1);
    else
        unsetenv("ZR_USB_DIR");
}

int listenUnix(const std::string& path, int type) {
    int fd = socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(fd, 8) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

TEST(Usb, EnumeratesSeqpacketSocketsInByteOrder) {
    TempDir dir;
    setenv("ZR_USB_DIR", dir.path().c_str(), 1);
    std::vector<int> fds;
    for (const char* name : {"b", "B", "a", "a0"}) fds.push_back(listenUnix(dir.path() + "/" + name, SOCK_SEQPACKET));
    fds.push_back(listenUnix(dir.path() + "/stream", SOCK_STREAM));
    fds.push_back(socket(AF_UNIX, SOCK_DGRAM, 0));
    dir.file("plain", "x");
    mkdir((dir.path() + "/sub").c_str(), 0700);
    const std::string p = dir.path() + "/";
    EXPECT_EQ(platform::usbDevices(), (std::vector<std::string>{p + "B", p + "a", p + "a0", p + "b"}));
    for (int fd : fds) close(fd);
    rmdir((dir.path() + "/sub").c_str());
    unsetenv("ZR_USB_DIR");
}

TEST(Usb, AControlRequestIsOneMessageEachWay) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair), 0);
    struct Exchange {
        std::vector<uint8_t> answer;
        bool ok;
        std::vector<uint8_t> output;
    };
    const std::vector<Exchange> exchanges = {
        {{1, 0xAB}, true, {0xAB}},
        {{1}, true, {}},
        {{0, 0xAB}, false, {}},
        {{1, 1, 2, 3, 4, 5}, true, {1, 2, 3, 4}},  // cut to the capacity
    };
    const uint8_t input[] = {0x55, 0x00, 0x01};
    for (const Exchange& e : exchanges) {
        std::vector<uint8_t> request(64);
        std::thread driver([&] {
            ssize_t n = recv(pair[1], request.data(), request.size(), 0);
            request.resize(n > 0 ? static_cast<size_t>(n) : 0);
            send(pair[1], e.answer.data(), e.answer.size(), 0);
        });
        uint8_t out[4] = {};
        size_t count = 99;
        bool ok = platform::usbControl(pair[0], platform::kUsbWriteFrame + 4, input, sizeof(input), out,
                                       sizeof(out), &count);
        driver.join();
        EXPECT_EQ(request, (std::vector<uint8_t>{0x04, 0x00, 0x22, 0x00, 0x55, 0x00, 0x01}));
        EXPECT_EQ(ok, e.ok);
        EXPECT_EQ(std::vector<uint8_t>(out, out + count), e.output);
    }
    close(pair[1]);
    size_t count = 0;
    uint8_t out[1];
    EXPECT_FALSE(platform::usbControl(pair[0], platform::kUsbReadByte, nullptr, 0, out, 1, &count));
    close(pair[0]);
}

// ---- Sockets and the TCP primitives ----------------------------------------------

TEST(Sockets, WritableMeansConnected) {
    zr::test::ReaderPeer peer(LinkKind::Tcp);
    int s = platform::socketCreate();
    ASSERT_GE(s, 0);
    platform::socketConnectStart(s, peer.host(), 7086);
    EXPECT_EQ(platform::socketWaitWritable(s, 2000), platform::kWaitReady);
    platform::socketClose(s);

    // Nobody listens on port 7087 of the peer's address: the failed connect
    // is an error on every later wait, never "writable".
    s = platform::socketCreate();
    platform::socketConnectStart(s, peer.host(), 7087);
    EXPECT_EQ(platform::socketWaitWritable(s, 2000), platform::kWaitError);
    EXPECT_EQ(platform::socketWaitWritable(s, 2000), platform::kWaitError);
    platform::socketClose(s);
}

TEST(Sockets, ATextThatIsNoDottedAddressNeverConnects) {
    for (const char* host : {"localhost", "127.0.0.1x", ""}) {
        int s = platform::socketCreate();
        platform::socketConnectStart(s, host, 7086);
        int64_t start = platform::monotonicMicros();
        EXPECT_EQ(platform::socketWaitWritable(s, 100), platform::kWaitTimeout) << host;
        EXPECT_GE(platform::monotonicMicros() - start, 100000) << host;
        platform::socketClose(s);
    }
}

// "0" (what a missing ZR_HOST_NAME reads as) and 0.0.0.0 name no reader.
// Linux would take that destination as this machine and reach whatever
// listens there.
TEST(Sockets, TheUnspecifiedAddressNeverConnects) {
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(address);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
    const uint16_t port = ntohs(address.sin_port);
    for (const char* host : {"0", "0.0.0.0"}) {
        int s = platform::socketCreate();
        platform::socketConnectStart(s, host, port);
        EXPECT_EQ(platform::socketWaitWritable(s, 100), platform::kWaitTimeout) << host;
        platform::socketClose(s);
    }
    close(listener);
}

TEST(Sockets, SendingToAClosedPeerRaisesNoSignal) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    close(pair[1]);
    const uint8_t byte = 1;
    // With SIGPIPE at its default this process would end here.
    EXPECT_EQ(platform::socketSend(pair[0], &byte, 1), -1);
    EXPECT_EQ(errno, EPIPE);
    close(pair[0]);
}

TEST(TcpConnection, PrimitivesOverALoopbackPeer) {
    zr::test::ReaderPeer peer(LinkKind::Tcp);
    auto connection = zr::link::TcpConnect(peer.host());
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(connection->active, 1);
    EXPECT_EQ(zr::link::TcpWaitWritable(*connection, 2000), 2);

    uint8_t buffer[16];
    int64_t start = platform::monotonicMicros();
    EXPECT_EQ(zr::link::TcpRecvRaw(*connection, buffer, sizeof(buffer)), 0);
    int64_t waited = platform::monotonicMicros() - start;
    EXPECT_GE(waited, 2000);
    EXPECT_LT(waited, 200000);

    const uint8_t hello[] = {0x00, 0x01, 0x6C};
    EXPECT_EQ(zr::link::TcpSendRaw(*connection, hello, 3), 3);
    peer.sendRaw({0x11, 0x22});
    int got = 0;
    for (int i = 0; i < 500 && got == 0; ++i) got = zr::link::TcpRecvRaw(*connection, buffer, sizeof(buffer));
    ASSERT_EQ(got, 2);
    EXPECT_EQ(buffer[0], 0x11);
    EXPECT_EQ(buffer[1], 0x22);


    connection->active = 0;
    start = platform::monotonicMicros();
    EXPECT_EQ(zr::link::TcpWaitWritable(*connection, 5000), 0);
    EXPECT_LT(platform::monotonicMicros() - start, 100000);
    EXPECT_EQ(zr::link::TcpClose(std::move(connection)), 0);
    EXPECT_TRUE(peer.waitUntilDisconnected());
    EXPECT_EQ(peer.received(), (zr::test::Bytes{0x00, 0x01, 0x6C}));
}

// ---- Interrupted waits -----------------------------------------------------------

// Delivers SIGALRM every 3 ms, without SA_RESTART, for the life of the object.
class SignalStorm {
public:
    SignalStorm() {
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        sigaction(SIGALRM, &action, &old_);
        itimerval timer {{0, 3000}, {0, 3000}};
        setitimer(ITIMER_REAL, &timer, nullptr);
    }
    ~SignalStorm() {
        itimerval off {};
        setitimer(ITIMER_REAL, &off, nullptr);
        sigaction(SIGALRM, &old_, nullptr);
    }

private:
    struct sigaction old_ {};
};

TEST(Interrupted, WaitsResumeForTheTimeThatIsLeft) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    // Make pair[0] unwritable: fill its buffers (the other end never reads).
    std::vector<uint8_t> junk(65536);
    while (send(pair[0], junk.data(), junk.size(), MSG_DONTWAIT) > 0) {
    }
    int never = platform::socketCreate();
    platform::socketConnectStart(never, "not-an-address", 7086);

    struct Wait {
        const char* name;
        std::function<int()> run;
        int expected;
    };
    const std::vector<Wait> waits = {
        {"sleep", [] { platform::sleepMs(120); return 0; }, 0},
        {"readable", [&] { return platform::socketWaitReadable(pair[0], 120000); }, platform::kWaitTimeout},
        {"writable", [&] { return platform::socketWaitWritable(pair[0], 120); }, platform::kWaitTimeout},
        {"never connects", [&] { return platform::socketWaitWritable(never, 120); }, platform::kWaitTimeout},
    };
    SignalStorm storm;
    for (const Wait& w : waits) {
        int64_t start = platform::monotonicMicros();
        EXPECT_EQ(w.run(), w.expected) << w.name;
        int64_t waited = platform::monotonicMicros() - start;
        EXPECT_GE(waited, 120000) << w.name;
        EXPECT_LT(waited, 220000) << w.name;
    }
    platform::socketClose(never);
    close(pair[0]);
    close(pair[1]);
}

}  // namespace
