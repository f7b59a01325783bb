// Device class query, test mode, read configuration and interference, over
// the fake link.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "connection/process_state.h"
#include "support/fake_link.h"
#include "zrreader.h"

using zr::link::LinkKind;
using zr::test::Bytes;
using zr::test::FakeReader;
using zr::test::hex;
using zr::test::unhex;

namespace {

constexpr int kReadTries = 24;
constexpr int kWriteTries = 58;

int deviceClassOut;
unsigned char interfereOut[2];
const unsigned char kInterfereBytes[2] = {0x10, 0x20};

// Sets the device class for one test and puts back the load value after it.
class DeviceClassScope {
public:
    explicit DeviceClassScope(int familyCode) { EXPECT_EQ(ZRSetDeviceClass(0, familyCode), 1); }
    ~DeviceClassScope() { ZRSetDeviceClass(0, 800); }
};

struct PacketRow {
    const char* name;
    std::function<int(int port)> call;
    const char* class3Packet;
    const char* otherClassPacket;
    int tries;
    int pauseMs;
};

const PacketRow kPacketRows[] = {
    {"ZRGetDeviceClass", [](int p) { return ZRGetDeviceClass(p, &deviceClassOut); }, "00 03 62 21 00",
     "00 03 62 21 00", kReadTries, 10},
    {"ZRTestModeSet 260 (low byte 4)", [](int p) { return ZRTestModeSet(p, 260); }, "00 02 67 04", "00 02 67 04",
     kWriteTries, 5},
    {"ZRSetReadCfg", [](int p) { return ZRSetReadCfg(p, 0x102, 0x201); }, "00 04 64 0C 02 01", "00 04 64 0C 02 01",
     kReadTries, 20},
    {"ZRSetInterfere", [](int p) { return ZRSetInterfere(p, kInterfereBytes); }, "00 04 6A 10 20 0C",
     "00 04 4B 10 20 0C", kReadTries, 20},
    {"ZRGetInterfere", [](int p) { return ZRGetInterfere(p, interfereOut); }, "00 02 6B 0C", "00 02 4C 0C",
     kReadTries, 20},
    {"ZRCloseInterfere", [](int p) { return ZRCloseInterfere(p); }, "00 01 6C", "00 01 4D", kReadTries, 20},
};

TEST(DeviceSettingsPackets, ExactBytesByDeviceClassFlushOnEntryAndTriesTimesPause) {
    for (int familyCode : {800, 500, 600}) {
        DeviceClassScope scope(familyCode);
        for (const PacketRow& r : kPacketRows) {
            FakeReader reader(LinkKind::Serial, kReadTries, kWriteTries);
            reader.editSettings([](zr::config::ReaderSettings& s) { s.antennaControl = 0x0C; });
            EXPECT_EQ(r.call(reader.port()), -4) << r.name;
            const char* packet = familyCode == 800 ? r.class3Packet : r.otherClassPacket;
            EXPECT_EQ(reader.sentHex(), std::vector<std::string>{packet}) << r.name << " family " << familyCode;
            EXPECT_EQ(reader.log().events.front(), "flush") << r.name;
            EXPECT_EQ(reader.log().flushes, 1) << r.name;
            EXPECT_EQ(reader.log().pauses, std::vector<int>(r.tries, r.pauseMs)) << r.name;
        }
    }
}

TEST(DeviceSettingsPackets, RangeChecksAndNullPointersAreRefusedWithoutFlushing) {
    struct Row {
        const char* name;
        std::function<int(int)> call;
    } rows[] = {
        {"ZRTestModeSet 5", [](int p) { return ZRTestModeSet(p, 5); }},
        {"ZRTestModeSet 0x1FF", [](int p) { return ZRTestModeSet(p, 0x1FF); }},
        {"ZRSetReadCfg value 0", [](int p) { return ZRSetReadCfg(p, 0, 1); }},
        {"ZRSetReadCfg value 5", [](int p) { return ZRSetReadCfg(p, 5, 1); }},
        {"ZRSetReadCfg value2 0", [](int p) { return ZRSetReadCfg(p, 1, 0); }},
        {"ZRSetReadCfg value2 3", [](int p) { return ZRSetReadCfg(p, 4, 3); }},
        {"ZRSetReadCfg 0x100 (low byte 0)", [](int p) { return ZRSetReadCfg(p, 0x100, 1); }},
        {"ZRGetDeviceClass NULL", [](int p) { return ZRGetDeviceClass(p, nullptr); }},
        {"ZRSetInterfere NULL", [](int p) { return ZRSetInterfere(p, nullptr); }},
        {"ZRGetInterfere NULL", [](int p) { return ZRGetInterfere(p, nullptr); }},
    };
    for (const Row& r : rows) {
        FakeReader reader(LinkKind::Usb);
        EXPECT_EQ(r.call(reader.port()), -5) << r.name;
        EXPECT_TRUE(reader.log().events.empty()) << r.name;
    }
    for (const PacketRow& r : kPacketRows) EXPECT_EQ(r.call(-1), -1) << r.name;
}

// ---- Replies ------------------------------------------------------------------------

TEST(DeviceSettingsReplies, AcceptanceByEchoOrByLengthPerExport) {
    struct Row {
        const char* name;
        LinkKind kind;
        std::function<int(int)> call;
        const char* reply;
        int result;
    } rows[] = {
        // The length check refuses a count that is not the length field + 4 ...
        {"test mode, length one short", LinkKind::Serial, [](int p) { return ZRTestModeSet(p, 1); }, "00 03 67 00", -4},
        {"read cfg, length one short", LinkKind::Serial, [](int p) { return ZRSetReadCfg(p, 1, 1); }, "00 05 64 00 00",
         -4},
        {"set interfere, length one short", LinkKind::Serial, [](int p) { return ZRSetInterfere(p, kInterfereBytes); },
         "00 03 6A 00", -4},
        {"close interfere, length one short", LinkKind::Serial, [](int p) { return ZRCloseInterfere(p); },
         "00 03 6C 00", -4},
        // ... except in ZRGetDeviceClass.
        {"device class, length one short", LinkKind::Serial,
         [](int p) { return ZRGetDeviceClass(p, &deviceClassOut); }, "00 07 62 00 01 02 03 04", 1},
        {"test mode", LinkKind::Serial, [](int p) { return ZRTestModeSet(p, 1); }, "00 02 67 00", 1},
        {"test mode, status", LinkKind::Usb, [](int p) { return ZRTestModeSet(p, 1); }, "00 02 67 13", 1012},
        {"read cfg, status", LinkKind::Usb, [](int p) { return ZRSetReadCfg(p, 1, 1); }, "00 03 64 21 00", 2002},
        {"close interfere", LinkKind::Serial, [](int p) { return ZRCloseInterfere(p); }, "00 02 6C 00", 1},
        // Over TCP the four length-checked exports take a reply to another command ...
        {"close interfere, other code", LinkKind::Tcp, [](int p) { return ZRCloseInterfere(p); }, "00 04 6B 00 00 00",
         1},
        // ... the echo-checked two do not.
        {"test mode, other code", LinkKind::Tcp, [](int p) { return ZRTestModeSet(p, 1); }, "00 02 66 00", -4},
        // Over TCP a bare status reply is below the minimum of 6 of the interference exports.
        {"close interfere, bare status over TCP", LinkKind::Tcp, [](int p) { return ZRCloseInterfere(p); },
         "00 02 6C 00", -4},
    };
    for (const Row& r : rows) {
        FakeReader reader(r.kind, kReadTries, kWriteTries);
        reader.reply(unhex(r.reply));
        EXPECT_EQ(r.call(reader.port()), r.result) << r.name;
    }
}

TEST(DeviceSettingsReplies, TcpMinimumsOfReadCfgAndInterference) {
    // Each export is given one reply just below its minimum (refused) and one at it.
    struct Row {
        const char* name;
        std::function<int(int)> call;
        const char* belowMinimum;
        const char* atMinimum;
    } rows[] = {
        {"read cfg, minimum 7", [](int p) { return ZRSetReadCfg(p, 1, 1); }, "00 04 64 00 00 00",
         "00 05 64 00 00 00 00"},
        {"set interfere, minimum 6", [](int p) { return ZRSetInterfere(p, kInterfereBytes); }, "00 03 6A 00 00",
         "00 04 6A 00 00 00"},
        {"get interfere, minimum 9", [](int p) { return ZRGetInterfere(p, interfereOut); }, "00 06 6B 00 01 AA BB CC",
         "00 07 6B 00 01 AA BB CC DD"},
        {"close interfere, minimum 6", [](int p) { return ZRCloseInterfere(p); }, "00 03 6C 00 00",
         "00 04 6C 00 00 00"},
    };
    for (const Row& r : rows) {
        FakeReader reader(LinkKind::Tcp, kReadTries, kWriteTries);
        reader.reply(unhex(r.belowMinimum)).reply(unhex(r.atMinimum));
        EXPECT_EQ(r.call(reader.port()), 1) << r.name;
        EXPECT_EQ(reader.log().receives, 2) << r.name;
    }
}

TEST(DeviceSettingsReplies, GetDeviceClassStoresFourBytesInMemoryOrderAndKeepsTheLibrarysClass) {
    FakeReader reader(LinkKind::Serial, kReadTries, kWriteTries);
    reader.reply(unhex("00 06 62 00 01 02 03 04")).reply(unhex("00 03 62 00 07"));
    int out = -1;
    ASSERT_EQ(ZRGetDeviceClass(reader.port(), &out), 1);
    unsigned char bytes[4];
    std::memcpy(bytes, &out, 4);
    EXPECT_EQ(hex(bytes, 4), "01 02 03 04");
    EXPECT_EQ(zr::deviceClass(), 3);

    // A reply with one data byte: zeros follow it, neither its CRC nor anything older.
    ASSERT_EQ(ZRGetDeviceClass(reader.port(), &out), 1);
    std::memcpy(bytes, &out, 4);
    EXPECT_EQ(hex(bytes, 4), "07 00 00 00");
}

TEST(DeviceSettingsReplies, GetInterfereSkipsTheFirstDataByte) {
    FakeReader reader(LinkKind::Serial, kReadTries, kWriteTries);
    reader.reply(unhex("00 05 6B 00 01 AA BB")).reply(unhex("00 05 6B 3F 01 CC DD"));
    unsigned char out[3] = {0xEE, 0xEE, 0xEE};
    EXPECT_EQ(ZRGetInterfere(reader.port(), out), 1);
    EXPECT_EQ(hex(out, 3), "AA BB EE");
    EXPECT_EQ(ZRGetInterfere(reader.port(), out), -20);
    EXPECT_EQ(hex(out, 3), "AA BB EE") << "a status leaves out untouched";
}

TEST(DeviceSettingsReplies, DeviceClassChoosesTheStatusMappingOfTheReply) {
    DeviceClassScope scope(500);
    FakeReader reader(LinkKind::Usb, kReadTries, kWriteTries);
    reader.reply(unhex("00 02 4D 3A")).reply(unhex("00 06 62 3F 01 02 03 04"));
    EXPECT_EQ(ZRCloseInterfere(reader.port()), -7);
    int out = 0x55AA55AA;
    EXPECT_EQ(ZRGetDeviceClass(reader.port(), &out), -5);
    EXPECT_EQ(out, 0x55AA55AA);
}

}  // namespace
