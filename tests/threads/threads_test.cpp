// Calls from several threads: on one handle they are serialised (each call
// gets its own reply, whole); on two handles they run side by side; a close
// racing with calls leaves every call with a clean result. Run under
// ThreadSanitizer by scripts/sanitize.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "reliability/sim_reader.h"
#include "support/fake_link.h"
#include "zrreader.h"

namespace {

using namespace zr::reliability;
using Clock = std::chrono::steady_clock;

constexpr int kThreads = 8;

// The fake link keeps its script and log without any lock of its own, so
// ThreadSanitizer reports a race unless the library serialises the calls;
// every call must take exactly the one reply queued for it.
TEST(OneHandle, EightThreadsOnAFakeLinkEachTakeOneWholeReply) {
    constexpr int kCallsPerThread = 200;
    zr::test::FakeReader reader(zr::link::LinkKind::Serial, 3, 3);
    for (int i = 0; i < kThreads * kCallsPerThread; ++i) reader.reply({0x00, 0x04, 0x62, 0x00, 0x12, 0x34});
    std::atomic<int> ok{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < kCallsPerThread; ++i) {
                unsigned char power[2] = {};
                if (ZRPowerQuery(reader.port(), 0, 2, power) == ZR_OK && power[0] == 0x12 && power[1] == 0x34) ++ok;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(ok.load(), kThreads * kCallsPerThread);
    EXPECT_EQ(reader.log().receives, kThreads * kCallsPerThread) << "one receive per call: the first try answers";
    EXPECT_EQ(reader.log().sent.size(), static_cast<size_t>(kThreads * kCallsPerThread));
}

class Threads : public testing::TestWithParam<Link> {};

// Each thread writes its own system parameter and reads it back, over and
// over, on one shared handle: a reply handed to the wrong call shows as a
// wrong value or a failed exchange.
TEST_P(Threads, EightThreadsOnOneHandleReadBackTheirOwnWrites) {
    SimReader sim(GetParam(), SimOptions{20, 50, 1, 23});
    std::string error;
    ASSERT_TRUE(sim.start(error)) << error;
    int port = ZR_CLOSED_HANDLE;
    ASSERT_EQ(sim.open(&port), ZR_OK);
    const int rounds = GetParam() == Link::Tcp ? 3 : 6;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int r = 0; r < rounds; ++r) {
                const unsigned char value[1] = {static_cast<unsigned char>(t * 16 + r)};
                unsigned char back[4] = {};
                if (ZRSysFastSet(port, 0x40 + t, 1, value) != ZR_OK) ++failures;
                if (ZRSysQuery(port, 0x40 + t, 1, back) != ZR_OK || back[0] != value[0]) ++failures;
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(ZRClose(&port), ZR_OK);
}

// Two readers (two TCP connections) on two threads: their exchanges overlap
// in time rather than queueing behind each other.
TEST(TwoHandles, TwoReadersOnTwoThreadsRunSideBySide) {
    SimOptions options{5, 5, 1, 24};
    options.readers = 2;
    SimReader sim(Link::Tcp, options);
    std::string error;
    ASSERT_TRUE(sim.start(error)) << error;
    int ports[2] = {ZR_CLOSED_HANDLE, ZR_CLOSED_HANDLE};
    ASSERT_EQ(sim.open(&ports[0], 0), ZR_OK);
    ASSERT_EQ(sim.open(&ports[1], 1), ZR_OK);

    struct Span { double from, to; };
    std::vector<Span> spans[2];
    std::atomic<int> failures{0};
    const auto origin = Clock::now();
    auto run = [&](int which) {
        for (int i = 0; i < 6; ++i) {
            unsigned char power[2];
            const double from = msSince(origin);
            if (ZRPowerQuery(ports[which], 0, 2, power) != ZR_OK) ++failures;
            spans[which].push_back({from, msSince(origin)});
        }
    };
    std::thread a(run, 0), b(run, 1);
    a.join();
    b.join();
    EXPECT_EQ(failures.load(), 0);

    double overlap = 0, busy = 0;
    for (const Span& x : spans[0]) {
        busy += x.to - x.from;
        for (const Span& y : spans[1]) overlap += std::max(0.0, std::min(x.to, y.to) - std::max(x.from, y.from));
    }
    // Serialised calls would overlap by nothing; side by side, by most of
    // their time.
    EXPECT_GT(overlap, busy * 0.5) << "overlap " << overlap << " ms of " << busy << " ms";
    EXPECT_EQ(ZRClose(&ports[0]), ZR_OK);
    EXPECT_EQ(ZRClose(&ports[1]), ZR_OK);
}

// A close on one thread while others call on the same handle: each call
// either completes or is refused as closed; nothing crashes or hangs.
TEST_P(Threads, ACloseRacingWithCallsLeavesOnlyCleanResults) {
    SimReader sim(GetParam(), SimOptions{20, 50, 1, 25});
    std::string error;
    ASSERT_TRUE(sim.start(error)) << error;
    int port = ZR_CLOSED_HANDLE;
    ASSERT_EQ(sim.open(&port), ZR_OK);
    const int shared = port;
    std::atomic<int> unexpected{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    // Each thread calls until the close refuses it (bounded: the close may
    // have to wait for the handle's lock while the others keep calling).
    for (int t = 0; t < kThreads - 1; ++t)
        threads.emplace_back([&] {
            while (!go) std::this_thread::yield();
            for (int i = 0; i < 400; ++i) {
                unsigned char io = 0;
                const int r = ZRIOControlQuery(shared, 0, &io);
                if (r == ZR_CLOSED) break;
                if (r != ZR_OK) ++unexpected;
            }
        });
    go = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(ZRClose(&port), ZR_OK);
    for (auto& th : threads) th.join();
    EXPECT_EQ(unexpected.load(), 0);
    unsigned char io = 0;
    EXPECT_EQ(ZRIOControlQuery(shared, 0, &io), ZR_CLOSED) << "calls after the close are refused";
}

INSTANTIATE_TEST_SUITE_P(Links, Threads, testing::Values(Link::Serial, Link::Usb, Link::Tcp),
                         [](const testing::TestParamInfo<Link>& i) { return linkName(i.param); });

}  // namespace
