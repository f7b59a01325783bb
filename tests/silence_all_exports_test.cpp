// Every export against a reader that never answers, on each link's fake:
// the result is the one the header documents for "nothing came back", the
// pauses spent stay within the export's tries, and the handle serves the
// next exchange normally.
#include <gtest/gtest.h>

#include <map>
#include <numeric>
#include <set>
#include <string>

#include "reliability/all_exports.h"
#include "support/fake_link.h"
#include "zrreader.h"

namespace {

using zr::link::LinkKind;
using zr::reliability::allExports;

constexpr int kReadTries = 20, kWriteTries = 50;
constexpr int kSendCount = -100;  // stands for "a positive send count"

// Send-only exports: the send count (serial: the packet length, USB and TCP
// two more). Everything else: the documented result of a silent reader.
int silentResult(const std::string& name, LinkKind kind) {
    static const std::set<std::string> sendOnly = {"ZRReset", "ZRIdentify", "ZRDirectRead", "ZRLongIdentify",
                                                   "ZRUserIdentify", "ZRIdentifyEpcCode", "ZRIdentifyTIDCode",
                                                   "ZRGetUseData", "ZRUpGrade"};
    static const std::map<std::string, int> special = {
        {"ZRReport", 0}, {"ZRDirectReport", 0}, {"ZRLongReport", 0}, {"ZRUserReport", 0},
        {"ZREpcCodeReport", 0}, {"ZRTIDCodeReport", 0}, {"ZREASAlarmReport", 0},
        {"ZRLockUserData", ZR_ERR_RANGE}, {"ZRNetAddrSet", 0}, {"ZRCodeSending", 0},
        {"ZRReadUserDataEPC", 0}, {"ZRStartEASAlarm", 0}, {"ZRListenReader", 0}};
    if (auto it = special.find(name); it != special.end()) return it->second;
    if (name == "ZRSysSet" && kind == LinkKind::Tcp) return 0;  // not carried over TCP
    if (sendOnly.count(name)) return kSendCount;
    return ZR_ERR_NO_REPLY;
}

class SilentReader : public testing::TestWithParam<LinkKind> {};

TEST_P(SilentReader, EveryExportEndsWithItsNoReplyResultWithinItsTries) {
    for (const auto& e : allExports()) {
        zr::test::FakeReader reader(GetParam(), kReadTries, kWriteTries);
        const int result = e.call(reader.port());
        const int expected = silentResult(e.name, GetParam());
        if (expected == kSendCount) {
            EXPECT_GT(result, 0) << e.name << ": the send count";
        } else {
            EXPECT_EQ(result, expected) << e.name;
        }

        // Pauses: at most 10 x read tries (the EAS end) or three rounds of
        // the write tries (code sending), each at most 50 ms.
        const auto& pauses = reader.log().pauses;
        const int spent = std::accumulate(pauses.begin(), pauses.end(), 0);
        EXPECT_LE(static_cast<int>(pauses.size()), std::max(10 * kReadTries, 3 * kWriteTries)) << e.name;
        EXPECT_LE(spent, 10 * kReadTries * 50) << e.name;
        for (int p : pauses) EXPECT_TRUE(p >= 5 && p <= 50) << e.name << ": pause " << p;
        // ZRSysSet writes through the serial routines whatever the link, so
        // only a serial fake sees it.
        if (std::string(e.name) != "ZRSysSet" || GetParam() == LinkKind::Serial) {
            EXPECT_GE(reader.log().sent.size() + reader.log().receives, 1u) << e.name << " never used the link";
        }

        reader.reply({0x00, 0x04, 0x62, 0x00, 0x0A, 0x0B});
        unsigned char power[2] = {};
        EXPECT_EQ(ZRPowerQuery(reader.port(), 0, 2, power), ZR_OK) << "after " << e.name;
        EXPECT_EQ(power[1], 0x0B) << "after " << e.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Links, SilentReader, testing::Values(LinkKind::Serial, LinkKind::Usb, LinkKind::Tcp),
                         [](const testing::TestParamInfo<LinkKind>& i) { return zr::link::linkKindName(i.param); });

}  // namespace
