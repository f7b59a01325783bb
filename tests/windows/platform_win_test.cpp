// The Windows platform layer through the platform's own calls: profile files
// read and written by the private-profile functions, non-blocking sockets
// against a loopback listener, the refusals of the serial and USB calls, and
// the clock. Runs under Wine or on Windows.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform = zr::platform;

namespace {

// A fresh folder under the temporary folder, removed with its files.
class TempFolder {
public:
    TempFolder() {
        char base[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, base);
        path_ = std::string(base) + "zrwin-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(counter()++);
        CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~TempFolder() {
        WIN32_FIND_DATAA entry;
        HANDLE find = FindFirstFileA((path_ + "\\*").c_str(), &entry);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                DeleteFileA((path_ + "\\" + entry.cFileName).c_str());
            } while (FindNextFileA(find, &entry));
            FindClose(find);
        }
        RemoveDirectoryA(path_.c_str());
    }
    std::string file(const std::string& name) const { return path_ + "\\" + name; }
    const std::string& path() const { return path_; }

private:
    static int& counter() {
        static int n = 0;
        return n;
    }
    std::string path_;
};

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ---- Profile files ------------------------------------------------------------------

const char* const kProfile =
    "[READER]\r\n"
    "ZR_PORT_TYPE=TCP\r\n"
    "  zr_host_name  =  127.0.0.1  \r\n"
    "ZR_COM_NUMBER=\"COM3\"\r\n"
    "ZR_EMPTY=\r\n"
    "ZR_TWICE=first\r\n"
    "ZR_TWICE=second\r\n"
    "[ESPECIAL FLAG]\r\n"
    "ZR_LENGTH=4\r\n";

struct ReadCase {
    const char* section;
    const char* key;
    const char* expected;
};

TEST(WindowsProfile, ReadsValuesAsThePrivateProfileReaderReturnsThem) {
    TempFolder dir;
    const std::string path = dir.file("reader.ini");
    writeFile(path, kProfile);
    const ReadCase cases[] = {
        {"READER", "ZR_PORT_TYPE", "TCP"},
        {"reader", "ZR_HOST_NAME", "127.0.0.1"},  // names match in any case, blanks trimmed
        {"READER", "ZR_COM_NUMBER", "COM3"},       // one pair of quotes removed
        {"READER", "ZR_EMPTY", ""},                // present but empty: not the fallback
        {"READER", "ZR_TWICE", "first"},           // the first of duplicated keys
        {"ESPECIAL FLAG", "ZR_LENGTH", "4"},
        {"READER", "ZR_LENGTH", "0"},  // in another section: the fallback
        {"NOWHERE", "ZR_PORT_TYPE", "0"},
    };
    for (const ReadCase& c : cases)
        EXPECT_EQ(platform::profileRead(path, c.section, c.key, "0"), c.expected) << c.section << "/" << c.key;
    EXPECT_EQ(platform::profileRead(dir.file("missing.ini"), "READER", "ZR_PORT_TYPE", "0"), "0");
}

TEST(WindowsProfile, LongValuesAreCutTo259Characters) {
    TempFolder dir;
    const std::string path = dir.file("long.ini");
    writeFile(path, "[S]\r\nK=" + std::string(300, 'x') + "\r\n");
    EXPECT_EQ(platform::profileRead(path, "S", "K", "0"), std::string(259, 'x'));
}

TEST(WindowsProfile, WritesReplaceAddAndCreateKeepingOtherLines) {
    TempFolder dir;
    const std::string path = dir.file("reader.ini");
    writeFile(path, "[READER]\r\nZR_HOST_NAME=10.0.0.1\r\n; note\r\n[OTHER]\r\nZR_HOST_NAME=9.9.9.9\r\n");
    ASSERT_TRUE(platform::profileWrite(path, "READER", "ZR_HOST_NAME", "127.0.0.2"));
    ASSERT_TRUE(platform::profileWrite(path, "READER", "ZR_SUBNET", "255.0.0.0"));
    ASSERT_TRUE(platform::profileWrite(path, "NETWORK", "ZR_GATE", "127.0.0.254"));
    EXPECT_EQ(platform::profileRead(path, "READER", "ZR_HOST_NAME", "0"), "127.0.0.2");
    EXPECT_EQ(platform::profileRead(path, "READER", "ZR_SUBNET", "0"), "255.0.0.0");
    EXPECT_EQ(platform::profileRead(path, "NETWORK", "ZR_GATE", "0"), "127.0.0.254");
    EXPECT_EQ(platform::profileRead(path, "OTHER", "ZR_HOST_NAME", "0"), "9.9.9.9");
    const std::string text = readFile(path);
    EXPECT_NE(text.find("; note"), std::string::npos) << text;
    EXPECT_EQ(text.find("10.0.0.1"), std::string::npos) << text;
}

TEST(WindowsProfile, RelativePathsNameFilesInTheCurrentFolder) {
    TempFolder dir;
    char previous[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.path().c_str()));
    const bool written = platform::profileWrite("relative.ini", "S", "K", "here");
    const std::string readBack = platform::profileRead("relative.ini", "S", "K", "0");
    SetCurrentDirectoryA(previous);
    ASSERT_TRUE(written);
    EXPECT_EQ(readBack, "here");
    EXPECT_NE(readFile(dir.file("relative.ini")).find("K=here"), std::string::npos);
}

TEST(WindowsProfile, AWriteIntoAMissingFolderFails) {
    TempFolder dir;
    EXPECT_FALSE(platform::profileWrite(dir.file("no\\such\\folder.ini"), "S", "K", "V"));
}

// ---- Sockets ---------------------------------------------------------------------------

// A blocking listener on 127.0.0.1 at a port the system picks.
class Listener {
public:
    Listener() {
        socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        int size = sizeof(address);
        getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        listen(socket_, 4);
    }
    ~Listener() {
        if (peer_ != INVALID_SOCKET) closesocket(peer_);
        closesocket(socket_);
    }
    uint16_t port() const { return port_; }
    SOCKET accept() { return peer_ = ::accept(socket_, nullptr, nullptr); }
    void closePeer() {
        closesocket(peer_);
        peer_ = INVALID_SOCKET;
    }

private:
    SOCKET socket_ = INVALID_SOCKET;
    SOCKET peer_ = INVALID_SOCKET;
    uint16_t port_ = 0;
};

// A loopback port that nobody listens on.
uint16_t closedPort() {
    Listener listener;
    return listener.port();
}

TEST(WindowsSockets, ConnectsSendsReceivesAndSeesThePeerClose) {
    Listener listener;
    const int s = platform::socketCreate();
    ASSERT_GE(s, 0);
    platform::socketConnectStart(s, "127.0.0.1", listener.port());
    EXPECT_EQ(platform::socketWaitWritable(s, 5000), platform::kWaitReady);
    SOCKET peer = listener.accept();
    ASSERT_NE(peer, INVALID_SOCKET);

    const uint8_t request[] = {0x00, 0x01, 0x6C, 0x55};
    EXPECT_EQ(platform::socketSend(s, request, sizeof(request)), 4);
    char got[8] = {};
    ASSERT_EQ(recv(peer, got, sizeof(got), 0), 4);
    EXPECT_EQ(std::vector<uint8_t>(got, got + 4), std::vector<uint8_t>(request, request + 4));

    uint8_t buffer[16] = {};
    EXPECT_EQ(platform::socketWaitReadable(s, 2000), platform::kWaitTimeout);
    EXPECT_EQ(platform::socketRecv(s, buffer, sizeof(buffer)), -1);  // nothing there yet
    send(peer, "\x00\x02\x6C\x00", 4, 0);
    ASSERT_EQ(platform::socketWaitReadable(s, 2000000), platform::kWaitReady);
    EXPECT_EQ(platform::socketRecv(s, buffer, sizeof(buffer)), 4);
    EXPECT_EQ(buffer[2], 0x6C);

    listener.closePeer();
    ASSERT_EQ(platform::socketWaitReadable(s, 2000000), platform::kWaitReady);
    EXPECT_EQ(platform::socketRecv(s, buffer, sizeof(buffer)), 0);
    EXPECT_EQ(platform::socketClose(s), 0);
}

TEST(WindowsSockets, ARefusedConnectIsAnErrorNotATimeout) {
    const uint16_t port = closedPort();
    const int s = platform::socketCreate();
    ASSERT_GE(s, 0);
    platform::socketConnectStart(s, "127.0.0.1", port);
    const int64_t start = platform::monotonicMicros();
    EXPECT_EQ(platform::socketWaitWritable(s, 8000), platform::kWaitError);
    EXPECT_LT(platform::monotonicMicros() - start, 6000000);
    EXPECT_EQ(platform::socketClose(s), 0);
}

TEST(WindowsSockets, AHostThatIsNotDottedNeverConnects) {
    for (const char* host : {"reader.local", "", "127.0.0.1.5"}) {
        const int s = platform::socketCreate();
        ASSERT_GE(s, 0);
        platform::socketConnectStart(s, host, 7086);
        const int64_t start = platform::monotonicMicros();
        EXPECT_EQ(platform::socketWaitWritable(s, 100), platform::kWaitTimeout) << host;
        EXPECT_GE(platform::monotonicMicros() - start, 90000) << host;
        EXPECT_EQ(platform::socketClose(s), 0);
    }
}

TEST(WindowsSockets, ClosedSocketsAreRefused) {
    const int s = platform::socketCreate();
    ASSERT_GE(s, 0);
    ASSERT_EQ(platform::socketClose(s), 0);
    EXPECT_EQ(platform::socketClose(s), -1);
    EXPECT_EQ(platform::socketWaitReadable(s, 1000), platform::kWaitError);
    const uint8_t byte = 0;
    EXPECT_EQ(platform::socketSend(s, &byte, 1), -1);
    EXPECT_EQ(platform::socketClose(-1), -1);
}

// ---- Serial ports, USB, handles ----------------------------------------------------------

TEST(WindowsSerial, OnlySerialPortsOpen) {
    TempFolder dir;
    const std::string file = dir.file("not-a-port.bin");
    writeFile(file, "");
    EXPECT_EQ(platform::serialOpen(file, 9600), -1);
    EXPECT_EQ(platform::serialOpen("COM199", 9600), -1);
    EXPECT_EQ(platform::serialOpen(dir.file("missing"), 9600), -1);
}

TEST(WindowsSerial, ByteCallsRefuseHandlesThatAreNoSerialPort) {
    TempFolder dir;
    const std::string file = dir.file("data.bin");
    writeFile(file, "abc");
    HANDLE h = CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const int handle = static_cast<int>(HandleToLong(h));
    EXPECT_EQ(platform::serialReadByte(handle), -1);
    EXPECT_FALSE(platform::serialWriteByte(handle, 0x55));
    platform::serialFlush(handle);
    EXPECT_TRUE(platform::handleClose(handle));
    EXPECT_FALSE(platform::handleClose(handle));  // already closed
    EXPECT_EQ(readFile(file), "abc");             // nothing read or written
    EXPECT_FALSE(platform::handleClose(-1));
    EXPECT_FALSE(platform::handleClose(0));
}

TEST(WindowsUsb, NoDeviceOfTheReaderClassIsPresentHere) {
    EXPECT_EQ(platform::usbClassFolder(), "{48C602D4-C77E-45B9-8133-20C9683BD1A6}");
    EXPECT_TRUE(platform::usbDevices().empty());
    EXPECT_EQ(platform::usbOpen(""), -1);
    size_t count = 7;
    uint8_t out[1] = {};
    EXPECT_FALSE(platform::usbControl(-1, platform::kUsbReadByte, nullptr, 0, out, 1, &count));
    EXPECT_EQ(count, 0u);
}

TEST(WindowsTime, SleepsAtLeastTheTimeAskedAndTheClockMovesForward) {
    for (int ms : {1, 20, 60}) {
        const int64_t start = platform::monotonicMicros();
        platform::sleepMs(ms);
        const int64_t elapsed = platform::monotonicMicros() - start;
        EXPECT_GE(elapsed, ms * 1000 - 1000) << ms;  // the clock's tick may round down by up to 1 ms
        EXPECT_LT(elapsed, ms * 1000 + 500000) << ms;
    }
    const int64_t start = platform::monotonicMicros();
    platform::sleepMs(0);
    platform::sleepMs(-5);
    EXPECT_LT(platform::monotonicMicros() - start, 100000);
}

}  // namespace
