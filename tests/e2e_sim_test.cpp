// The library end to end against the simulated reader, on each of the three
// links: every export makes a round trip that changes or reads the reader's
// state. The injected faults are in slow/e2e_sim_faults_test.cpp.
//
// Each test opens its own simulator (TCP on a loopback address of its own,
// a pseudo-terminal, or a USB stand-in socket in a fresh class folder) and
// its own configuration file (e2e_sim_fixture.h). To cover a new export,
// add a TEST_P below.
#include <fstream>
#include <sstream>

#include "e2e_sim_fixture.h"

namespace {

using zr::e2e::Bytes;
using zr::e2e::Link;
using zr::e2e::Sim;

// ---- Basic commands and inventories ------------------------------------------------

TEST_P(Sim, ResetReachesTheReader) {
    EXPECT_EQ(ZRReset(port_), sentCount(3));
    EXPECT_TRUE(handled(0x6C, 1));
    EXPECT_EQ(state([](zrsim::ReaderState& s) { return s.resets; }), 1);
}

TEST_P(Sim, InventoryReportsEveryTagOnce) {
    ASSERT_EQ(ZRIdentify(port_, 0, 0), sentCount(5));
    for (size_t i = 0; i < 3; ++i) {
        unsigned char out[64] = {};
        ASSERT_EQ(collect([&] { return ZRReport(port_, out); }), 1) << i;
        EXPECT_EQ(out[0], 0);
        auto id = tag(i).id;
        EXPECT_EQ(Bytes(out + 1, out + 9), Bytes(id.begin(), id.end()));
    }
    unsigned char out[64];
    EXPECT_EQ(ZRReport(port_, out), 0);
}

TEST_P(Sim, DirectReadReportsCarryUserMemory) {
    ASSERT_EQ(ZRDirectRead(port_, 4, 2), sentCount(5));
    unsigned char out[64] = {};
    ASSERT_EQ(collect([&] { return ZRDirectReport(port_, out); }), 1);
    auto user = tag(0).user;
    EXPECT_EQ(Bytes(out + 9, out + 11), Bytes(user.begin() + 4, user.begin() + 6));
}

TEST_P(Sim, ExtendedInventoriesReportUnderTheirCodes) {
    unsigned char out[128] = {};
    const zrsim::Tag first = tag(0);
    ASSERT_GT(ZRLongIdentify(port_, 1, 2, 3), 0);
    ASSERT_EQ(collect([&] { return ZRLongReport(port_, out); }), 1);
    EXPECT_EQ(Bytes(out + 1, out + 9), Bytes(first.id.begin(), first.id.end()));
    EXPECT_EQ(out[9], 12);
    for (int i = 0; i < 2; ++i) ASSERT_EQ(collect([&] { return ZRLongReport(port_, out); }), 1);

    ASSERT_GT(ZRUserIdentify(port_, 1, 2, 3, 4, 5, 6), 0);
    ASSERT_EQ(collect([&] { return ZRUserReport(port_, out); }), 1);
    // The especial address 2 and length 4 of the configuration pick the user bytes.
    EXPECT_EQ(Bytes(out + 9, out + 13), Bytes(first.user.begin() + 2, first.user.begin() + 6));
    for (int i = 0; i < 2; ++i) ASSERT_EQ(collect([&] { return ZRUserReport(port_, out); }), 1);

    ASSERT_GT(ZRIdentifyEpcCode(port_, 1, 2, 3), 0);
    ASSERT_EQ(collect([&] { return ZREpcCodeReport(port_, out); }), 1);
    EXPECT_EQ(out[2], 0x81);
    EXPECT_EQ(Bytes(out + 5, out + 17), first.epc);
    for (int i = 0; i < 2; ++i) ASSERT_EQ(collect([&] { return ZREpcCodeReport(port_, out); }), 1);

    const unsigned char extra[4] = {1, 2, 3, 4};
    ASSERT_GT(ZRIdentifyTIDCode(port_, 1, 2, 3, extra), 0);
    ASSERT_EQ(collect([&] { return ZRTIDCodeReport(port_, out); }), 1);
    EXPECT_EQ(out[2], 0x82);
    EXPECT_EQ(Bytes(out + 5, out + 5 + out[4]), first.tid);
}

TEST_P(Sim, TagFilterLeavesFewerReportsAndCancelBringsThemBack) {
    Bytes value(12, 0), mask(12, 0);
    value[0] = tag(1).epc[0];
    value[1] = tag(1).epc[1];
    mask[0] = mask[1] = 0xFF;
    ASSERT_EQ(ZRSetTagFilter(port_, value.data(), mask.data()), 1);
    auto countReports = [&] {
        EXPECT_GT(ZRIdentifyEpcCode(port_, 0, 0, 0), 0);
        unsigned char out[128];
        int n = 0;
        while (collect([&] { return ZREpcCodeReport(port_, out); }) == 1) ++n;
        return n;
    };
    EXPECT_EQ(countReports(), 1);
    ASSERT_EQ(ZRCancelTagFilter(port_), 1);
    EXPECT_EQ(countReports(), 3);
    const unsigned char longest[2] = {0xFF, 0xFF};  // 6553.5 s
    ASSERT_EQ(ZRSetTimeFilter(port_, longest), 1);
    EXPECT_EQ(countReports(), 0);  // all three reported moments ago
    ASSERT_EQ(ZRCancelTimeFilter(port_), 1);
    EXPECT_EQ(countReports(), 3);
}

// ---- Tag memory, EPC, use data, security, selection -----------------------------------

TEST_P(Sim, UserMemoryWrittenInPiecesReadsBack) {
    auto id = tag(2).id;
    Bytes data(40);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0xC0 + i);
    ASSERT_EQ(ZRWriteUserData(port_, 0, 16, id.data(), data.data(), 40), 1);
    Bytes back(40);
    ASSERT_EQ(ZRReadUserData(port_, 0, 16, 40, id.data(), back.data()), 1);
    EXPECT_EQ(back, data);
    const unsigned char two[2] = {0x12, 0x34};
    ASSERT_EQ(ZRWriteUserDataOnce(port_, 0, 100, id.data(), two, 2), 1);
    unsigned char once[2] = {};
    ASSERT_EQ(ZRReadUserDataOnce(port_, 0, 100, 2, id.data(), once), 1);
    EXPECT_EQ(Bytes(once, once + 2), Bytes(two, two + 2));
    EXPECT_EQ(tag(2).user[101], 0x34);
}

TEST_P(Sim, LockedUserBytesRefuseWritesAndUnknownTagsAreReported) {
    auto id = tag(0).id;
    ASSERT_EQ(ZRLockUserData(port_, 32, 0, id.data(), 4), 1);
    const unsigned char one[1] = {0x77};
    EXPECT_EQ(ZRWriteUserDataOnce(port_, 0, 33, id.data(), one, 1), 1012);  // status 0x13
    unsigned char unknown[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    unsigned char out[4];
    EXPECT_EQ(ZRReadUserDataOnce(port_, 0, 0, 4, unknown, out), 1010);     // status 0x11
    EXPECT_EQ(ZRReadUserDataOnce(port_, 0, 250, 8, id.data(), out), 1013);  // status 0x14
}

TEST_P(Sim, UseDataAndEpcWriteUnderTheAccessPassword) {
    const unsigned char pwd[4] = {0, 0, 0, 0};
    const unsigned char words[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    ASSERT_EQ(ZRSetUseData(port_, 0, pwd, 3, 2, words), 1);  // first tag: none selected
    unsigned char out[16] = {};
    ASSERT_EQ(ZRReadUserDataEPC(port_, pwd, 3, 2, 0, out), 1);
    EXPECT_EQ(Bytes(out + 5, out + 9), Bytes(words, words + 4));
    ASSERT_GT(ZRGetUseData(port_, pwd, 3, 2, 0), 0);
    unsigned char report[16] = {};
    // This report export answers -4 while nothing is waiting.
    ASSERT_EQ(collect([&] { return ZRGetUseDataReport(port_, report); }, -4), 1);
    EXPECT_EQ(Bytes(report + 5, report + 9), Bytes(words, words + 4));
    const unsigned char epc[4] = {0x30, 0x01, 0x02, 0x03};
    ASSERT_EQ(ZRSetEpcCode(port_, 0, pwd, 4, 2, epc), 1);
    EXPECT_EQ(tag(0).epc, Bytes(epc, epc + 4));
}

TEST_P(Sim, PasswordsLockingSelectionAndDestruction) {
    const unsigned char zero[4] = {0, 0, 0, 0}, secret[4] = {9, 8, 7, 6}, kill[4] = {1, 1, 1, 1};
    auto id = tag(1).id;
    ASSERT_EQ(ZRSelectTag(port_, 0, 0, 0, id.data()), 1);
    ASSERT_EQ(ZRSetVisitPWD(port_, 0, zero, secret), 1);
    unsigned char out[16];
    EXPECT_EQ(ZRReadUserDataEPC(port_, zero, 0, 1, 0, out), 1011);  // old password: status 0x12
    EXPECT_EQ(ZRReadUserDataEPC(port_, secret, 0, 1, 0, out), 1);
    ASSERT_EQ(ZRSetDestroyPWD(port_, 0, secret, kill), 1);
    ASSERT_EQ(ZRSetDataLocked(port_, 0, secret, 1, 2), 1);  // lock the EPC
    const unsigned char epc[2] = {0xAB, 0xCD};
    EXPECT_EQ(ZRSetEpcCode(port_, 0, secret, 2, 1, epc), 1012);
    EXPECT_EQ(ZRSetDestroyTag(port_, 0, secret, 0, nullptr), 1011);
    ASSERT_EQ(ZRSetDestroyTag(port_, 0, kill, 0, nullptr), 1);
    EXPECT_TRUE(tag(1).destroyed);
    EXPECT_EQ(ZRSelectTag(port_, 0, 0, 0, id.data()), 1010);
    auto epc0 = tag(0).epc;
    ASSERT_EQ(ZRSelectTagEPC(port_, 0, 0, 0, epc0.data(), 4), 1);
    EXPECT_EQ(state([](zrsim::ReaderState& s) { return s.selected; }), 0);
    EXPECT_EQ(ZRDataReturn(port_, 1, 3), 1);
    EXPECT_EQ(state([](zrsim::ReaderState& s) { return s.dataReturn[1]; }), 3);
    EXPECT_EQ(ZRDataReturn(port_, 1, 5), -5);
}

// ---- Reader configuration ------------------------------------------------------------------

TEST_P(Sim, PowerSetThenQueriedAndRfSwitched) {
    ASSERT_EQ(ZRPowerSet(port_, 0, 2, 0x15, 0x16), 1);
    unsigned char power[2] = {};
    ASSERT_EQ(ZRPowerQuery(port_, 0, 2, power), 1);
    EXPECT_EQ(power[0], 0x15);
    EXPECT_EQ(power[1], 0x16);
    unsigned char block[54] = {};
    ASSERT_EQ(ZRFreqQuery(port_, 3, 0, block), 1);
    EXPECT_EQ(Bytes(block + 2, block + 6), (Bytes{0x62, 0x00, 0x15, 0x16}));
    ASSERT_EQ(ZRPowerOff(port_), 1);
    EXPECT_FALSE(state([](zrsim::ReaderState& s) { return s.rfOn; }));
    ASSERT_EQ(ZRPowerOn(port_, 1), 1);
    EXPECT_TRUE(state([](zrsim::ReaderState& s) { return s.rfOn; }));
}

TEST_P(Sim, SystemAndTagParameters) {
    const unsigned char three[3] = {7, 8, 9};
    ASSERT_EQ(ZRSysFastSet(port_, 0x40, 3, three), 1);
    unsigned char out[8] = {};
    ASSERT_EQ(ZRSysQuery(port_, 0x40, 3, out), 1);
    EXPECT_EQ(Bytes(out, out + 3), Bytes(three, three + 3));
    const unsigned char two[2] = {0x61, 0x62};
    // Byte-wise setting goes through the serial link's send on serial and
    // USB (on a USB handle nothing goes out) and receives at once, before
    // any reader can have answered; over TCP it does nothing.
    int bytewise = ZRSysSet(port_, 0x50, 2, two);
    ASSERT_EQ(ZRSysQuery(port_, 0x50, 2, out), 1);
    switch (GetParam()) {
        case Link::Tcp: EXPECT_EQ(bytewise, 0); break;
        case Link::Usb: EXPECT_EQ(bytewise, -4); break;
        case Link::Serial:
            EXPECT_TRUE(bytewise == 1 || bytewise == -4) << bytewise;
            EXPECT_EQ(Bytes(out, out + 2), Bytes(two, two + 2));
            break;
    }
    ASSERT_EQ(ZRTagFastSet(port_, 0x10, 3, three), 1);
    ASSERT_EQ(ZRTagQuery(port_, 0x10, 3, out), 1);
    EXPECT_EQ(Bytes(out, out + 3), Bytes(three, three + 3));
}

TEST_P(Sim, IoMacNetworkAndCodes) {
    ASSERT_EQ(ZRIOControlSet(port_, 3, 1), 1);
    unsigned char io = 0;
    ASSERT_EQ(ZRIOControlQuery(port_, 0, &io), 1);
    EXPECT_EQ(io, 0x08);
    const unsigned char mac[6] = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60};
    ASSERT_EQ(ZRMACSet(port_, 0, 6, mac), 1);
    ASSERT_EQ(ZRNetAddrSet(port_, 0, "READER", "10.1.2.3", "255.255.0.0", "10.1.0.1"), 1);
    unsigned char out[18] = {};
    ASSERT_EQ(ZRSysQuery(port_, 5, 6, out), 1);
    EXPECT_EQ(Bytes(out, out + 6), Bytes(mac, mac + 6));
    ASSERT_EQ(ZRSysQuery(port_, 6, 12, out), 1);
    EXPECT_EQ(Bytes(out, out + 12), (Bytes{10, 1, 2, 3, 255, 255, 0, 0, 10, 1, 0, 1}));
    std::ifstream ini(config_);
    std::stringstream text;
    text << ini.rdbuf();
    EXPECT_NE(text.str().find("ZR_SUBNET=255.255.0.0"), std::string::npos);
    const unsigned char codes[2] = {0xC1, 0xC2};
    ASSERT_EQ(ZRCodeSending(port_, 2, 0, codes), 1);
    EXPECT_EQ(state([](zrsim::ReaderState& s) { return s.codeSendings; }), 3);
}

TEST_P(Sim, DeviceClassTestModeReadConfigurationAndInterference) {
    int deviceClass = 0;
    ASSERT_EQ(ZRGetDeviceClass(port_, &deviceClass), 1);
    EXPECT_EQ(deviceClass & 0xFF, 3);
    ASSERT_EQ(ZRTestModeSet(port_, 2), 1);
    ASSERT_EQ(ZRSetReadCfg(port_, 3, 2), 1);
    const unsigned char setting[2] = {0x44, 0x55};
    ASSERT_EQ(ZRSetInterfere(port_, setting), 1);
    unsigned char out[2] = {};
    ASSERT_EQ(ZRGetInterfere(port_, out), 1);
    EXPECT_EQ(Bytes(out, out + 2), Bytes(setting, setting + 2));
    ASSERT_EQ(ZRCloseInterfere(port_), 1);
    state([](zrsim::ReaderState& s) {
        EXPECT_EQ(s.testMode, 2);
        EXPECT_EQ(s.readConfig[1], 3);
        EXPECT_FALSE(s.interferenceOn);
    });
    // Classes 1 and 2 use the other interference codes, which the reader takes too.
    ASSERT_EQ(ZRSetDeviceClass(port_, 500), 1);
    ASSERT_EQ(ZRSetInterfere(port_, setting), 1);
    EXPECT_EQ(state([](zrsim::ReaderState& s) { return s.requestsByCode[0x4B]; }), 1);
}

// ---- Maintenance, EAS and EU tests ------------------------------------------------------------

TEST_P(Sim, ClockFixedNumberStateAndUpgrade) {
    const unsigned char time[6] = {26, 12, 31, 23, 59, 58};
    ASSERT_EQ(ZRSetReaderTime(port_, 0, time), 1);
    unsigned char now[6] = {};
    ASSERT_EQ(ZRGetReaderState(port_, 0, now), 1);
    EXPECT_EQ(Bytes(now, now + 3), (Bytes{26, 12, 31}));
    ASSERT_EQ(ZRSetReaderfixNO(port_, 0x2A), 1);
    EXPECT_EQ(ZRGetReaderfixNO(port_, 0), 1);
    EXPECT_EQ(state([](zrsim::ReaderState& s) { return s.fixedNumber; }), 0x2A);
    ASSERT_EQ(ZREpcPrintPowerOs(port_, 7), 1);
    EXPECT_EQ(state([](zrsim::ReaderState& s) { return s.epcPrintPower; }), 7);
    EXPECT_EQ(ZRUpGrade(port_), sentCount(3));
    EXPECT_TRUE(handled(0x6B, 1));
    EXPECT_EQ(state([](zrsim::ReaderState& s) { return s.upgrades; }), 1);
}

TEST_P(Sim, ListenReceivesTheReaderMessageAndAcknowledgesIt) {
    ASSERT_EQ(ZRSetReaderfixNO(port_, 0x2A), 1);  // a host talks first, so messages know where to go
    ASSERT_EQ(sim_->control("listen"), "ok");
    unsigned char info6[6], first8[8], second8[8];
    ASSERT_EQ(ZRListenReader(port_, 0, info6, first8, second8), 1);
    EXPECT_EQ(first8[0], 0x2A);
    EXPECT_TRUE(handled(0xA1, 1));
    state([](zrsim::ReaderState& s) {
        EXPECT_EQ(s.acksAccepted, 1);
        EXPECT_TRUE(s.unacknowledged.empty());
    });
}

TEST_P(Sim, EasAlarmRunsReportsAndEnds) {
    const unsigned char flag[4] = {1, 2, 3, 4};
    ASSERT_EQ(ZRConfigEASflag(port_, 1, flag, 5), 1);
    ASSERT_EQ(ZRStartEASAlarm(port_, 1), 1);
    EXPECT_EQ(collect([&] { return ZREASAlarmReport(port_); }), 1);
    ASSERT_EQ(ZREndEASAlarm(port_, 1), 1);
    EXPECT_FALSE(state([](zrsim::ReaderState& s) { return s.alarmRunning; }));
    EXPECT_EQ(state([](zrsim::ReaderState& s) { return s.easFlag[3]; }), 4);
}

TEST_P(Sim, EuTestsCarryDataBothWays) {
    const unsigned char data[5] = {1, 2, 3, 4, 5};
    ASSERT_EQ(ZREUFreqTest(port_, 1, 5, data), 1);
    unsigned char out[52] = {};
    ASSERT_EQ(ZREUDoorTest(port_, 1, 52, 0, out), 1);
    EXPECT_EQ(Bytes(out, out + 5), Bytes(data, data + 5));
}

INSTANTIATE_TEST_SUITE_P(Links, Sim, testing::Values(Link::Serial, Link::Usb, Link::Tcp), zr::e2e::linkName);

}  // namespace
