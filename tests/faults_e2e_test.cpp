// Faults on every link, injected by the simulated reader: each exchange
// ends with the result the library documents for it, within the budget of
// its tries and pauses plus the link's own waits, and the link still works
// for the next exchange (unless the fault took the link down).
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <thread>

#include "reliability/open_sim_reader.h"
#include "zrreader.h"

namespace {

using namespace zr::reliability;
using Clock = std::chrono::steady_clock;

class Faults : public OpenSimReader {
protected:
    Faults() : OpenSimReader(21) {}

    // ZRPowerQuery's result and wall time.
    std::pair<int, double> timedPowerQuery() {
        unsigned char power[2];
        const auto start = Clock::now();
        const int r = ZRPowerQuery(port_, 0, 2, power);
        return {r, msSince(start)};
    }
    double silentBudget() const { return silentPollBudgetMs(GetParam(), kTries, kPowerPauseMs); }
    // A different export than the faulted one, to see that the link works.
    void expectLinkWorks(const std::string& after) {
        unsigned char io = 0, power[2] = {};
        EXPECT_EQ(ZRIOControlQuery(port_, 0, &io), ZR_OK) << "after " << after;
        EXPECT_EQ(ZRPowerQuery(port_, 0, 2, power), ZR_OK) << "after " << after;
    }
    void fault(const std::string& rule) { ASSERT_TRUE(sim_->fault(rule)) << rule; }
};

TEST_P(Faults, SilenceCostsTheWholeBudgetThenTheLinkWorks) {
    const double budget = silentBudget();
    fault("62:drop:times=1");
    auto [result, ms] = timedPowerQuery();
    EXPECT_EQ(result, ZR_ERR_NO_REPLY);
    EXPECT_GE(ms, silentFloor() * 0.95);
    EXPECT_LE(ms, budget);
    expectLinkWorks("silence");
}

TEST_P(Faults, ARefusedReplyEndsWithoutAResultAndTheNextExchangeWorks) {
    // Corrupted CRC, another command code, a reply after the polling window:
    // none is a reply to the request.
    const double budget = silentBudget();
    const double late = budget + 200;
    for (const std::string& rule : std::vector<std::string>{"62:crc:times=1", "62:code:times=1",
             "62:delay=" + std::to_string(static_cast<int>(late)) + ":times=1"}) {
        fault(rule);
        auto [result, ms] = timedPowerQuery();
        EXPECT_EQ(result, ZR_ERR_NO_REPLY) << rule;
        EXPECT_LE(ms, budget) << rule;
        // Let a late reply land on the link before the next exchanges.
        std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(late - ms) + 100));
        expectLinkWorks(rule);
    }
}

TEST_P(Faults, AStaleCopyOfAReplyIsNeverTakenForTheNextOne) {
    fault("62:stale:times=3");
    for (int i = 0; i < 3; ++i) {
        auto [result, ms] = timedPowerQuery();
        EXPECT_EQ(result, ZR_OK);
        // The stale copy must not answer a request of another command.
        unsigned char io = 0;
        EXPECT_EQ(ZRIOControlQuery(port_, 0, &io), ZR_OK) << "round " << i;
    }
}

// Random bytes before a reply: 64 kB by default, ZR_FLOOD_BYTES to change
// (the 1 MB takes about 20 s on serial, where every byte read inside
// a would-be frame is followed by the frame pace).
int floodBytes() {
    const char* v = getenv("ZR_FLOOD_BYTES");
    return v && atoi(v) > 0 ? atoi(v) : 64 * 1024;
}

TEST_P(Faults, AGarbageFloodBetweenFramesCostsItsReadingTimeAndNoMore) {
    zrsim::FaultRule flood;
    flood.code = 0x62;
    flood.fault.kind = zrsim::FaultKind::Garbage;
    flood.fault.value = floodBytes();
    flood.remaining = 1;
    sim_->sim().faults().add(flood);
    const double budget = silentBudget();
    // Reading the flood: on serial a few system calls and, inside would-be
    // frames, the 10 us pace per byte; on USB a driver request per byte.
    // Generous per byte for the sanitizer builds.
    const double perByteMs = GetParam() == Link::Usb ? 0.2 : 0.05;
    const double readingMs = floodBytes() * perByteMs;
    auto [result, ms] = timedPowerQuery();
    EXPECT_LE(ms, budget + readingMs);
    // Serial and USB: the frame hunt skips bytes outside frames, so the
    // reply is found unless the tries ran out while the flood was still
    // being read. TCP carries no frame marks: a length no packet can have
    // drops the stream until it goes quiet, the reply with it, and the next
    // command's reply starts a packet again.
    EXPECT_TRUE(result == ZR_OK || result == ZR_ERR_NO_REPLY) << result;
    unsigned char io = 0;
    int recovered = -1;
    for (int i = 0; i < 10 && recovered < 0; ++i)
        if (ZRIOControlQuery(port_, 0, &io) == ZR_OK) recovered = i;
    ASSERT_GE(recovered, 0) << "the link never recovered from the flood";
    expectLinkWorks("garbage flood");
}

TEST_P(Faults, AReaderStatusIsMappedAndTheNextExchangeWorks) {
    const std::pair<const char*, int> statuses[] = {{"21", 2002}, {"3a", ZR_ERR_UNKNOWN_STATUS}, {"60", 3001},
                                                    {"90", ZR_ERR_UNKNOWN_STATUS}, {"ff", ZR_ERR_UNKNOWN_STATUS}};
    for (auto [status, expected] : statuses) {
        fault(std::string("62:status=") + status + ":times=1");
        EXPECT_EQ(timedPowerQuery().first, expected) << "status " << status;
        expectLinkWorks(std::string("status ") + status);
    }
}

TEST_P(Faults, ADroppedConnectionEndsTheExchangeInTime) {
    const double budget = silentBudget();
    if (GetParam() == Link::Serial) {
        // The pseudo-terminal's other end closes during the exchange.
        fault("62:delay=" + std::to_string(static_cast<int>(budget) + 500) + ":times=1");
        std::thread closer([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            sim_->sim().stop();
        });
        auto [result, ms] = timedPowerQuery();
        closer.join();
        EXPECT_EQ(result, ZR_ERR_NO_REPLY);
        EXPECT_LE(ms, budget);
    } else {
        fault("62:disconnect:times=1");
        auto [result, ms] = timedPowerQuery();
        EXPECT_EQ(result, ZR_ERR_NO_REPLY);
        EXPECT_LE(ms, budget);
    }
    // The link is gone: further exchanges fail in time, never hang.
    auto [again, ms] = timedPowerQuery();
    EXPECT_EQ(again, ZR_ERR_NO_REPLY);
    EXPECT_LE(ms, budget);
    // A connection the reader dropped is released by the close like any
    // other link, so neither the handle nor its socket leaks.
    EXPECT_EQ(ZRClose(&port_), ZR_OK);
    EXPECT_EQ(port_, ZR_CLOSED_HANDLE);
}

// TCP only: the reply cut in two at every offset, the pieces 30 ms apart;
// then cut at every offset at once (one byte per piece).
class TcpSplit : public Faults {};

TEST_P(TcpSplit, AReplySplitAtAnyOffsetIsReassembled) {
    const int replyBytes = 8;  // 00 04 62 00 p1 p2 + CRC
    for (int cut = 1; cut < replyBytes; ++cut) {
        zrsim::FaultRule rule;
        rule.code = 0x62;
        rule.fault.kind = zrsim::FaultKind::Split;
        rule.fault.value = 30;
        rule.fault.offsets = {static_cast<size_t>(cut)};
        rule.remaining = 1;
        sim_->sim().faults().add(rule);
        auto [result, ms] = timedPowerQuery();
        EXPECT_EQ(result, ZR_OK) << "cut at " << cut;
        expectLinkWorks("cut at " + std::to_string(cut));
    }
    zrsim::FaultRule bytewise;
    bytewise.code = 0x62;
    bytewise.fault.kind = zrsim::FaultKind::Split;
    bytewise.fault.value = 3;
    for (int cut = 1; cut < replyBytes; ++cut) bytewise.fault.offsets.push_back(static_cast<size_t>(cut));
    bytewise.remaining = 1;
    sim_->sim().faults().add(bytewise);
    EXPECT_EQ(timedPowerQuery().first, ZR_OK) << "one byte per piece";
    expectLinkWorks("one byte per piece");
}

INSTANTIATE_TEST_SUITE_P(Links, Faults, testing::Values(Link::Serial, Link::Usb, Link::Tcp),
                         [](const testing::TestParamInfo<Link>& i) { return linkName(i.param); });
INSTANTIATE_TEST_SUITE_P(Tcp, TcpSplit, testing::Values(Link::Tcp),
                         [](const testing::TestParamInfo<Link>& i) { return linkName(i.param); });

}  // namespace
