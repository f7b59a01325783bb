// I/O control, MAC address, network address with its configuration write-back,
// and code sending, over the fake link (and a real configuration file).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "connection/process_state.h"
#include "support/fake_link.h"
#include "zrreader.h"

using zr::link::LinkKind;
using zr::test::Bytes;
using zr::test::FakeReader;
using zr::test::hex;
using zr::test::unhex;

namespace fs = std::filesystem;

namespace {

constexpr int kReadTries = 22;
constexpr int kWriteTries = 61;

unsigned char scratch[8];

// ---- I/O control and MAC ----------------------------------------------------------

struct PacketRow {
    const char* name;
    std::function<int(int port)> call;
    const char* packet;
    int tries;
    int pauseMs;
};

TEST(IoMacPackets, ExactBytesAndTriesTimesPauseWithoutFlush) {
    static const unsigned char mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    const PacketRow rows[] = {
        {"ZRIOControlSet", [](int p) { return ZRIOControlSet(p, 0x101, 0x2FE); }, "00 03 D1 01 FE", kWriteTries, 5},
        {"ZRIOControlQuery", [](int p) { return ZRIOControlQuery(p, 0x107, scratch); }, "00 02 D2 07", kReadTries, 10},
        {"ZRMACSet", [](int p) { return ZRMACSet(p, 12345, 6, mac); }, "00 09 63 05 06 00 1A 2B 3C 4D 5E",
         kWriteTries, 5},
        {"ZRMACSet 0", [](int p) { return ZRMACSet(p, 0, 0, nullptr); }, "00 03 63 05 00", kWriteTries, 5},
    };
    for (const PacketRow& r : rows) {
        FakeReader reader(LinkKind::Serial, kReadTries, kWriteTries);
        EXPECT_EQ(r.call(reader.port()), -4) << r.name;
        EXPECT_EQ(reader.sentHex(), std::vector<std::string>{r.packet}) << r.name;
        EXPECT_EQ(reader.log().flushes, 0) << r.name;
        EXPECT_EQ(reader.log().pauses, std::vector<int>(r.tries, r.pauseMs)) << r.name;
    }
}

TEST(IoMacPackets, RefusalsBeforeAnythingHappens) {
    struct Row {
        const char* name;
        std::function<int(int)> call;
        int result;
    } rows[] = {
        {"ZRMACSet 53", [](int p) { return ZRMACSet(p, 0, 53, scratch); }, -15},
        {"ZRMACSet -1", [](int p) { return ZRMACSet(p, 0, -1, scratch); }, -15},
        {"ZRMACSet NULL", [](int p) { return ZRMACSet(p, 0, 6, nullptr); }, -5},
        {"ZRIOControlQuery NULL", [](int p) { return ZRIOControlQuery(p, 0, nullptr); }, -5},
    };
    for (const Row& r : rows) {
        FakeReader reader(LinkKind::Tcp);
        EXPECT_EQ(r.call(reader.port()), r.result) << r.name;
        EXPECT_TRUE(reader.log().events.empty()) << r.name;
    }
    EXPECT_EQ(ZRIOControlSet(-1, 1, 2), -1);
    EXPECT_EQ(ZRIOControlQuery(-1, 1, scratch), -1);
    EXPECT_EQ(ZRMACSet(-1, 0, 6, scratch), -1);
}

TEST(IoMacReplies, StatusAndTheOneByteOfTheIoQuery) {
    struct Row {
        const char* name;
        std::function<int(int, unsigned char*)> call;
        const char* reply;
        int result;
        const char* out;
    } rows[] = {
        {"query", [](int p, unsigned char* o) { return ZRIOControlQuery(p, 1, o); }, "00 04 D2 00 5A 5B", 1, "5A EE"},
        {"query, status", [](int p, unsigned char* o) { return ZRIOControlQuery(p, 1, o); }, "00 03 D2 22 5A", 2003,
         "EE EE"},
        {"query, reply to the set", [](int p, unsigned char* o) { return ZRIOControlQuery(p, 1, o); }, "00 03 D1 00 5A",
         -4, "EE EE"},
        {"set", [](int p, unsigned char*) { return ZRIOControlSet(p, 1, 2); }, "00 02 D1 00", 1, "EE EE"},
        {"set, no length check", [](int p, unsigned char*) { return ZRIOControlSet(p, 1, 2); }, "00 05 D1 00", 1,
         "EE EE"},
        {"mac, status", [](int p, unsigned char*) { return ZRMACSet(p, 0, 1, scratch); }, "00 02 63 69", 3010, "EE EE"},
    };
    for (const Row& r : rows) {
        FakeReader reader(LinkKind::Tcp, kReadTries, kWriteTries);
        reader.reply(unhex(r.reply));
        Bytes out(2, 0xEE);
        EXPECT_EQ(r.call(reader.port(), out.data()), r.result) << r.name;
        EXPECT_EQ(hex(out), r.out) << r.name;
    }
}

// ---- ZRNetAddrSet -------------------------------------------------------------------

// A configuration file in a fresh folder, removed at the end.
class ConfigFile {
public:
    explicit ConfigFile(const std::string& content) {
        std::string tmpl = (fs::temp_directory_path() / "zr-netaddr-XXXXXX").string();
        dir_ = mkdtemp(tmpl.data());
        path_ = dir_ + "/reader.ini";
        std::ofstream(path_, std::ios::binary) << content;
    }
    ~ConfigFile() { fs::remove_all(dir_); }
    const std::string& path() const { return path_; }
    std::string content() const {
        std::ifstream in(path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // Entries of the folder: only the file itself after an atomic replace.
    size_t entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), {})); }

private:
    std::string dir_, path_;
};

const char* const kConfig =
    "; reader configuration\n"
    "[READER]\n"
    "ZR_PORT_TYPE=TCP\n"
    "ZR_HOST_NAME = 10.0.0.5   ; the old address\n"
    "; end of the reader section\n"
    "\n"
    "[NETWORK]\n"
    "; network of the reader\n"
    "ZR_GATE=1.1.1.1\n"
    "\n"
    "[OTHER]\n"
    "ZR_HOST_NAME=9.9.9.9\n";

void useConfig(FakeReader& reader, const ConfigFile& file) {
    reader.editSettings([&](zr::config::ReaderSettings& s) {
        s.configPath = file.path();
        s.hostAddress = "10.0.0.5";
    });
}

TEST(NetAddrSet, SendsTheTwelveAddressBytesAndWritesTheTextsIntoTheNamedSection) {
    struct Row {
        const char* section;
        const char* expected;
    } rows[] = {
        {"READER",
         "; reader configuration\n"
         "[READER]\n"
         "ZR_PORT_TYPE=TCP\n"
         "ZR_HOST_NAME=192.168.1.10\n"
         "; end of the reader section\n"
         "ZR_SUBNET=255.255.255.0\n"
         "ZR_GATE=192.168.1.1\n"
         "\n"
         "[NETWORK]\n"
         "; network of the reader\n"
         "ZR_GATE=1.1.1.1\n"
         "\n"
         "[OTHER]\n"
         "ZR_HOST_NAME=9.9.9.9\n"},
        {"NETWORK",
         "; reader configuration\n"
         "[READER]\n"
         "ZR_PORT_TYPE=TCP\n"
         "ZR_HOST_NAME = 10.0.0.5   ; the old address\n"
         "; end of the reader section\n"
         "\n"
         "[NETWORK]\n"
         "; network of the reader\n"
         "ZR_GATE=192.168.1.1\n"
         "ZR_HOST_NAME=192.168.1.10\n"
         "ZR_SUBNET=255.255.255.0\n"
         "\n"
         "[OTHER]\n"
         "ZR_HOST_NAME=9.9.9.9\n"},
    };
    for (const Row& r : rows) {
        ConfigFile file(kConfig);
        FakeReader reader(LinkKind::Tcp, kReadTries, kWriteTries);
        useConfig(reader, file);
        reader.reply(unhex("00 02 63 00"));
        EXPECT_EQ(ZRNetAddrSet(reader.port(), 0, r.section, "192.168.1.10", "255.255.255.0", "192.168.1.1"), 1);
        EXPECT_EQ(reader.sentHex(),
                  std::vector<std::string>{"00 0F 63 06 0C C0 A8 01 0A FF FF FF 00 C0 A8 01 01"});
        EXPECT_EQ(reader.log().pauses, std::vector<int>{20}) << "the system fast set's exchange";
        EXPECT_EQ(file.content(), r.expected) << r.section;
        EXPECT_EQ(file.entries(), 1u) << "no temporary file left behind";
        EXPECT_EQ(zr::currentSettings()->hostAddress, "10.0.0.5") << "the settings in memory stay";
    }
}

TEST(NetAddrSet, EveryFailureOfTheReaderGivesZeroAndLeavesTheFileAlone) {
    struct Row {
        const char* name;
        const char* reply;  // "" for a silent reader
        int tries;
    } rows[] = {
        {"reader status", "00 02 63 21", 1},
        {"unknown status", "00 02 63 3A", 1},
        {"silent reader", "", kReadTries},
        {"reply to another command (skipped by the serial receive)", "00 02 62 00", kReadTries},
    };
    for (const Row& r : rows) {
        ConfigFile file(kConfig);
        FakeReader reader(LinkKind::Serial, kReadTries, kWriteTries);
        useConfig(reader, file);
        if (*r.reply) reader.reply(unhex(r.reply));
        EXPECT_EQ(ZRNetAddrSet(reader.port(), 0, "READER", "192.168.1.10", "255.255.255.0", "192.168.1.1"), 0)
            << r.name;
        EXPECT_EQ(reader.log().pauses.size(), static_cast<size_t>(r.tries)) << r.name;
        EXPECT_EQ(file.content(), kConfig) << r.name;
    }
}

TEST(NetAddrSet, MalformedTextsAreRefusedWithNothingSentOrWritten) {
    const char* const ok = "192.168.1.1";
    struct Row {
        const char *section, *host, *subnet, *gate;
    } rows[] = {
        {"READER", "192.168.1", ok, ok},     {"READER", "192.168.1.1.1", ok, ok}, {"READER", "256.0.0.1", ok, ok},
        {"READER", "1..2.3", ok, ok},        {"READER", "1.2.3.", ok, ok},        {"READER", ".1.2.3", ok, ok},
        {"READER", "1000.1.1.1", ok, ok},    {"READER", "a.b.c.d", ok, ok},       {"READER", " 1.2.3.4", ok, ok},
        {"READER", "1.2.3.4 ", ok, ok},      {"READER", "-1.2.3.4", ok, ok},      {"READER", "+1.2.3.4", ok, ok},
        {"READER", "", ok, ok},              {"READER", ok, "255.255.255.256", ok}, {"READER", ok, ok, "1.2.3.x"},
        {"READER", nullptr, ok, ok},         {"READER", ok, nullptr, ok},         {"READER", ok, ok, nullptr},
        {nullptr, ok, ok, ok},               {"", ok, ok, ok},
        {"READER]\nZR_PORT_TYPE=COM", ok, ok, ok},
    };
    for (const Row& r : rows) {
        ConfigFile file(kConfig);
        FakeReader reader(LinkKind::Tcp);
        useConfig(reader, file);
        reader.reply(unhex("00 02 63 00"));
        EXPECT_EQ(ZRNetAddrSet(reader.port(), 0, r.section, r.host, r.subnet, r.gate), 0)
            << (r.host ? r.host : "NULL") << " / " << (r.subnet ? r.subnet : "NULL") << " / "
            << (r.gate ? r.gate : "NULL");
        EXPECT_TRUE(reader.log().events.empty());
        EXPECT_EQ(file.content(), kConfig);
    }
}

TEST(NetAddrSet, BoundaryAddressesAndLeadingZerosAreWellFormed) {
    ConfigFile file(kConfig);
    FakeReader reader(LinkKind::Usb, kReadTries, kWriteTries);
    useConfig(reader, file);
    reader.reply(unhex("00 02 63 00"));
    EXPECT_EQ(ZRNetAddrSet(reader.port(), 0, "OTHER", "0.0.0.0", "255.255.255.255", "010.001.000.009"), 1);
    EXPECT_EQ(reader.sentHex(),
              std::vector<std::string>{"00 0F 63 06 0C 00 00 00 00 FF FF FF FF 0A 01 00 09"});
    const std::string written = "[OTHER]\nZR_HOST_NAME=0.0.0.0\nZR_SUBNET=255.255.255.255\nZR_GATE=010.001.000.009\n";
    EXPECT_NE(file.content().find(written), std::string::npos)
        << "the texts as passed, not the converted bytes";
}

TEST(NetAddrSet, ClosedHandleGivesZero) {
    EXPECT_EQ(ZRNetAddrSet(-1, 0, "READER", "1.2.3.4", "1.2.3.4", "1.2.3.4"), 0);
    EXPECT_EQ(ZRNetAddrSet(123456789, 0, "READER", "1.2.3.4", "1.2.3.4", "1.2.3.4"), 0) << "a handle never opened";
}

// ---- ZRCodeSending --------------------------------------------------------------------

TEST(CodeSending, SendsThreeTimesAndTheThirdAttemptDecides) {
    struct Row {
        const char* name;
        std::vector<const char*> replies;  // per attempt; "" for silence
        int result;
        int pauses;  // 50 ms each
    } rows[] = {
        {"all accepted", {"00 02 5F 00", "00 02 5F 00", "00 02 5F 00"}, 1, 3},
        {"last unanswered", {"00 02 5F 00", "00 02 5F 00", ""}, 0, 3},
        {"last refused", {"00 02 5F 00", "00 02 5F 00", "00 02 5F 24"}, 2005, 4},
        {"first refused, last accepted", {"00 02 5F 24", "", "00 02 5F 00"}, 1, 4},
        {"last is a reply to another command", {"", "", "00 02 5E 00"}, 0, 3},
    };
    for (const Row& r : rows) {
        FakeReader reader(LinkKind::Serial, kReadTries, kWriteTries);
        for (const char* reply : r.replies) {
            if (*reply) reader.reply(unhex(reply));
            else reader.silence();
        }
        const Bytes data = unhex("01 02");
        EXPECT_EQ(ZRCodeSending(reader.port(), 2, 999, data.data()), r.result) << r.name;
        EXPECT_EQ(reader.sentHex(), std::vector<std::string>(3, "00 03 5F 01 02")) << r.name;
        EXPECT_EQ(reader.log().pauses, std::vector<int>(r.pauses, 50)) << r.name;
        EXPECT_EQ(reader.log().receives, 3) << r.name;
    }
}

TEST(CodeSending, EachAttemptSendsPausesThenReceivesOnce) {
    FakeReader reader(LinkKind::Usb);
    const Bytes data = unhex("AA");
    EXPECT_EQ(ZRCodeSending(reader.port(), 1, 0, data.data()), 0);
    std::vector<std::string> attempt = {"send", "pause 50", "receive"};
    std::vector<std::string> expected;
    for (int i = 0; i < 3; ++i) expected.insert(expected.end(), attempt.begin(), attempt.end());
    EXPECT_EQ(reader.log().events, expected) << "no flush, no further tries";
}

TEST(CodeSending, AFailedSendEndsTheCallOnlyOverTcp) {
    const Bytes data = unhex("01");
    for (LinkKind kind : {LinkKind::Serial, LinkKind::Usb, LinkKind::Tcp}) {
        FakeReader reader(kind);
        reader.setSendResult(0);
        reader.reply(unhex("00 02 5F 00")).reply(unhex("00 02 5F 00")).reply(unhex("00 04 5F 00 00 00"));
        const bool tcp = kind == LinkKind::Tcp;
        EXPECT_EQ(ZRCodeSending(reader.port(), 1, 0, data.data()), tcp ? 0 : 1);
        EXPECT_EQ(reader.log().sent.size(), tcp ? 1u : 3u);
        EXPECT_EQ(reader.log().receives, tcp ? 0 : 3);
    }
}

TEST(CodeSending, TcpTakesOnlyRepliesOfAtLeastEightBytes) {
    // A minimum of 6 besides the CRC: a bare status reply (4 + 2 bytes) is not taken.
    FakeReader reader(LinkKind::Tcp);
    reader.silence(2).reply(unhex("00 02 5F 00"));
    const Bytes data = unhex("01");
    EXPECT_EQ(ZRCodeSending(reader.port(), 1, 0, data.data()), 0);
    FakeReader longer(LinkKind::Tcp);
    longer.silence(2).reply(unhex("00 04 5F 00 00 00"));
    EXPECT_EQ(ZRCodeSending(longer.port(), 1, 0, data.data()), 1);
}

TEST(CodeSending, LengthsAndPointersOutsideTheirLimitsGiveZeroWithNothingSent) {
    static unsigned char code[260];
    struct Row {
        int port;  // 0: the fake's port
        int len;
        const unsigned char* data;
    } rows[] = {{-1, 1, code}, {0, 0, code}, {0, -1, code}, {0, 254, code}, {0, 1, nullptr}};
    for (const Row& r : rows) {
        FakeReader reader(LinkKind::Serial);
        EXPECT_EQ(ZRCodeSending(r.port == -1 ? -1 : reader.port(), r.len, 0, r.data), 0) << r.len;
        EXPECT_TRUE(reader.log().events.empty()) << r.len;
    }
    FakeReader reader(LinkKind::Serial);
    for (int i = 0; i < 253; ++i) code[i] = static_cast<unsigned char>(i);
    ZRCodeSending(reader.port(), 253, 0, code);
    ASSERT_EQ(reader.log().sent.size(), 3u);
    EXPECT_EQ(reader.log().sent[0].size(), 256u);
    EXPECT_EQ(hex(Bytes(reader.log().sent[0].begin(), reader.log().sent[0].begin() + 4)), "00 FE 5F 00");
    EXPECT_EQ(reader.log().sent[0].back(), 252);
}

}  // namespace
