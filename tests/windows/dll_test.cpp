// The DLL as a Windows host uses it: linked through its import library, the
// configuration read and written through the platform's profile functions,
// each link opened and closed. With ZR_TEST_TCP_HOST and ZR_TEST_COM set (by
// scripts/windows, to the simulated reader on loopback and to the COM port
// that Wine maps onto its pseudo-terminal) the exports also make round trips
// with the reader.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "zrreader.h"

namespace {

std::string tempFile(const std::string& name) {
    char base[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, base);
    return std::string(base) + "zrdll-" + std::to_string(GetCurrentProcessId()) + "-" + name;
}

// A configuration file with section READER, removed at the end.
class Config {
public:
    Config(const std::string& name, const std::string& body) : path_(tempFile(name)) {
        std::ofstream out(path_, std::ios::binary);
        out << "[READER]\r\n" << body << "[ESPECIAL FLAG]\r\nZR_LENGTH=0\r\n";
    }
    ~Config() { DeleteFileA(path_.c_str()); }
    const char* path() const { return path_.c_str(); }

private:
    std::string path_;
};

std::string readerSection(const std::string& type, const std::string& com, const std::string& host) {
    return "ZR_PORT_TYPE=" + type + "\r\nZR_COM_NUMBER=" + com + "\r\nZR_HOST_NAME=" + host +
           "\r\nZR_BaudRate=115200\r\nZR_READ_TRIES=60\r\nZR_WRITE_TRIES=100\r\n";
}

// A loopback address where nobody listens on the reader's port (the
// simulated reader serves another one).
const char* const kNobodyHost = "127.0.0.254";

TEST(WindowsDll, ExportsCarryPlainNames) {
    HMODULE dll = GetModuleHandleA("zrreader.dll");
    ASSERT_NE(dll, nullptr);
    for (const char* name : {"ZROpen", "ZRClose", "ZRPowerQuery", "ZRNetAddrSet", "ZRSetReaderTime"})
        EXPECT_NE(reinterpret_cast<void*>(GetProcAddress(dll, name)), nullptr) << name;
    for (const char* name : {"_ZROpen@12", "ZROpen@12", "_ZRClose@4"})
        EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(dll, name)), nullptr) << name;
}

TEST(WindowsDll, OpenFailuresLeaveTheHandleClosed) {
    struct Case {
        const char* what;
        std::string body;
        int expected;
    } cases[] = {
        {"no such serial port", readerSection("COM", "COM199", "127.0.0.1"), ZR_ERR_OPEN},
        {"no USB device of the class", readerSection("USB", "COM1", "127.0.0.1"), ZR_NOTHING},
        {"unknown port type", readerSection("tcp", "COM1", "127.0.0.1"), ZR_NOTHING},
        {"empty host address", readerSection("TCP", "COM1", ""), ZR_ERR_CONFIG},
        {"nobody listening", readerSection("TCP", "COM1", kNobodyHost), ZR_ERR_CONNECT_TIMEOUT},
    };
    for (const Case& c : cases) {
        Config config("fail.ini", c.body);
        int port = -1;
        EXPECT_EQ(ZROpen(&port, config.path(), "READER"), c.expected) << c.what;
        EXPECT_EQ(port, -1) << c.what;
    }
    int port = -1;
    EXPECT_EQ(ZROpen(&port, tempFile("missing.ini").c_str(), "READER"), ZR_NOTHING);  // reads port type "0"
    EXPECT_EQ(ZRClose(&port), ZR_CLOSED);
}

TEST(WindowsDll, ARefusedConnectEndsTheOpenEarly) {
    Config config("refused.ini", readerSection("TCP", "COM1", kNobodyHost));
    int port = -1;
    const DWORD start = GetTickCount();
    EXPECT_EQ(ZROpen(&port, config.path(), "READER"), ZR_ERR_CONNECT_TIMEOUT);
    EXPECT_LT(GetTickCount() - start, 5000u);
}

// Round trips with the simulated reader on one link.
class WithReader : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        const char* tcpHost = std::getenv("ZR_TEST_TCP_HOST");
        const char* com = std::getenv("ZR_TEST_COM");
        const std::string type = GetParam();
        if (type == "TCP" && !(tcpHost && *tcpHost)) GTEST_SKIP() << "ZR_TEST_TCP_HOST not set";
        if (type == "COM" && !(com && *com)) GTEST_SKIP() << "ZR_TEST_COM not set";
        config_ = std::make_unique<Config>(type + ".ini",
                                           readerSection(type, com ? com : "COM1", tcpHost ? tcpHost : "127.0.0.1"));
        ASSERT_EQ(ZROpen(&port_, config_->path(), "READER"), ZR_OK);
        ASSERT_NE(port_, -1);
    }
    void TearDown() override {
        if (port_ != -1) {
            EXPECT_EQ(ZRClose(&port_), ZR_OK);
        }
    }
    std::unique_ptr<Config> config_;
    int port_ = -1;
};

TEST_P(WithReader, PowerIsSetThenQueried) {
    ASSERT_EQ(ZRPowerSet(port_, 0, 2, 0x15, 0x16), ZR_OK);
    unsigned char power[2] = {};
    ASSERT_EQ(ZRPowerQuery(port_, 0, 2, power), ZR_OK);
    EXPECT_EQ(power[0], 0x15);
    EXPECT_EQ(power[1], 0x16);
    ASSERT_EQ(ZRPowerSet(port_, 0, 2, 0x1E, 0x1F), ZR_OK);
    ASSERT_EQ(ZRPowerQuery(port_, 0, 2, power), ZR_OK);
    EXPECT_EQ(power[0], 0x1E);
    EXPECT_EQ(power[1], 0x1F);
}

TEST_P(WithReader, ClockIsSetThenRead) {
    const unsigned char time[6] = {26, 12, 31, 23, 59, 58};
    ASSERT_EQ(ZRSetReaderTime(port_, 0, time), ZR_OK);
    unsigned char now[6] = {};
    ASSERT_EQ(ZRGetReaderState(port_, 0, now), ZR_OK);
    EXPECT_EQ(now[0], 26);
    EXPECT_EQ(now[1], 12);
    EXPECT_EQ(now[2], 31);
}

TEST_P(WithReader, NetAddrSetWritesTheConfigurationFile) {
    ASSERT_EQ(ZRNetAddrSet(port_, 0, "NETWORK", "192.168.1.10", "255.255.255.0", "192.168.1.1"), ZR_OK);
    char value[64] = {};
    GetPrivateProfileStringA("NETWORK", "ZR_HOST_NAME", "", value, sizeof(value), config_->path());
    EXPECT_STREQ(value, "192.168.1.10");
    GetPrivateProfileStringA("NETWORK", "ZR_GATE", "", value, sizeof(value), config_->path());
    EXPECT_STREQ(value, "192.168.1.1");
}

TEST_P(WithReader, AClosedHandleIsRefused) {
    int port = port_;
    ASSERT_EQ(ZRClose(&port_), ZR_OK);
    EXPECT_EQ(port_, -1);
    unsigned char power[2] = {};
    EXPECT_EQ(ZRPowerQuery(port, 0, 2, power), ZR_CLOSED);
    EXPECT_EQ(ZRClose(&port_), ZR_CLOSED);
}

INSTANTIATE_TEST_SUITE_P(Links, WithReader, ::testing::Values("TCP", "COM"));

}  // namespace
