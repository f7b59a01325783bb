// Faults injected by the simulated reader, end to end on each link: each
// gives the result code the library promises. Slow: every unanswered
// request spends the whole polling window.
#include "e2e_sim_fixture.h"

namespace {

using zr::e2e::Link;
using zr::e2e::Sim;

// ---- Faults ------------------------------------------------------------------------------------

TEST_P(Sim, FaultsGiveTheLibrarysResultCodes) {
    unsigned char power[2];
    auto fault = [&](const std::string& rule) { ASSERT_EQ(sim_->control("fault " + rule), "ok"); };
    fault("62:drop:times=1");
    EXPECT_EQ(ZRPowerQuery(port_, 0, 2, power), -4);
    fault("62:crc:times=1");
    EXPECT_EQ(ZRPowerQuery(port_, 0, 2, power), -4);
    fault("62:code:times=1");
    EXPECT_EQ(ZRPowerQuery(port_, 0, 2, power), -4);
    fault("62:status=3f:times=1");
    EXPECT_EQ(ZRPowerQuery(port_, 0, 2, power), -20);
    ASSERT_EQ(ZRSetDeviceClass(port_, 600), 1);
    fault("62:status=3f:times=1");
    EXPECT_EQ(ZRPowerQuery(port_, 0, 2, power), -5);
    ASSERT_EQ(ZRSetDeviceClass(port_, 800), 1);
    // Only a wrong-code reply met on the last try gives -20 here; met early,
    // the polling goes on and ends without a reply.
    fault("83:code:times=1");
    const unsigned char pwd[4] = {0, 0, 0, 0}, epc[2] = {1, 2};
    EXPECT_EQ(ZRSetEpcCode(port_, 0, pwd, 2, 1, epc), -4);
    // Reports under another code: serial and USB pass over them, TCP hands
    // them to the report export, which refuses them.
    fault("81:code:times=3");
    ASSERT_GT(ZRIdentifyEpcCode(port_, 0, 0, 0), 0);
    unsigned char report[64];
    EXPECT_EQ(collect([&] { return ZREpcCodeReport(port_, report); }), GetParam() == Link::Tcp ? -20 : 0);
    // Late, but within the polling window (20 tries x 20 ms): accepted.
    fault("62:delay=100:times=1");
    EXPECT_EQ(ZRPowerQuery(port_, 0, 2, power), 1);
    // A stale copy after the reply does no harm to the next exchanges.
    fault("62:stale:times=1");
    EXPECT_EQ(ZRPowerQuery(port_, 0, 2, power), 1);
    unsigned char io;
    EXPECT_EQ(ZRIOControlQuery(port_, 0, &io), 1);
    EXPECT_EQ(ZRPowerQuery(port_, 0, 2, power), 1);
    if (GetParam() == Link::Tcp) {
        // Length bytes first, then the rest: the reassembly joins them.
        fault("62:split=2:times=1");
        EXPECT_EQ(ZRPowerQuery(port_, 0, 2, power), 1);
        // Bytes before a reply on the stream leave no valid reply.
        fault("62:garbage=9:times=1");
        EXPECT_EQ(ZRPowerQuery(port_, 0, 2, power), -4);
    } else {
        // Bytes outside a frame are skipped by the frame hunt.
        fault("62:garbage=9:times=1");
        EXPECT_EQ(ZRPowerQuery(port_, 0, 2, power), 1);
    }
    if (GetParam() != Link::Serial) {
        fault("62:disconnect:times=1");
        EXPECT_EQ(ZRPowerQuery(port_, 0, 2, power), -4);
        EXPECT_EQ(ZRPowerQuery(port_, 0, 2, power), -4);  // the link stays dead until reopened
    }
}

INSTANTIATE_TEST_SUITE_P(Links, Sim, testing::Values(Link::Serial, Link::Usb, Link::Tcp), zr::e2e::linkName);

}  // namespace
