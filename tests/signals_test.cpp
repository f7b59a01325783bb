// Signals delivered to the calling thread every millisecond, by a handler
// installed without SA_RESTART, so every pause, readiness wait and read of
// the library is interrupted again and again: no exchange may end early,
// lose its reply or report a failure it did not have.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "reliability/open_sim_reader.h"
#include "zrreader.h"

namespace {

using namespace zr::reliability;
using Clock = std::chrono::steady_clock;

std::atomic<int> signalsCaught{0};
void onSignal(int) { signalsCaught.fetch_add(1, std::memory_order_relaxed); }

// Interrupts `target` with SIGUSR1 every `periodUs` while alive.
class Interrupter {
public:
    explicit Interrupter(pthread_t target, int periodUs = 1000) {
        struct sigaction sa = {};
        sa.sa_handler = onSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0;  // no SA_RESTART: blocking calls fail with EINTR
        sigaction(SIGUSR1, &sa, &old_);
        thread_ = std::thread([this, target, periodUs] {
            while (!stop_) {
                pthread_kill(target, SIGUSR1);
                std::this_thread::sleep_for(std::chrono::microseconds(periodUs));
            }
        });
    }
    ~Interrupter() {
        stop_ = true;
        thread_.join();
        sigaction(SIGUSR1, &old_, nullptr);
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
    struct sigaction old_ = {};
};

class Signals : public OpenSimReader {
protected:
    Signals() : OpenSimReader(22) {}
};

TEST_P(Signals, InterruptedPausesAndWaitsAreNotShortened) {
    ASSERT_TRUE(sim_->fault("62:drop:times=1"));
    const double budget = silentPollBudgetMs(GetParam(), kTries, kPowerPauseMs);
    Interrupter interrupter(pthread_self());
    const int before = signalsCaught.load();
    unsigned char power[2];
    const auto start = Clock::now();
    EXPECT_EQ(ZRPowerQuery(port_, 0, 2, power), ZR_ERR_NO_REPLY);
    const double ms = msSince(start);
    EXPECT_GE(ms, silentFloor() * 0.95) << "the tries ended early";
    EXPECT_LE(ms, budget);
    EXPECT_GT(signalsCaught.load() - before, 20) << "the signals did not arrive during the exchange";
}

TEST_P(Signals, InterruptedExchangesStillGetTheirReplies) {
    Interrupter interrupter(pthread_self(), 300);
    unsigned char power[2] = {}, io = 0;
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(ZRPowerSet(port_, 0, 2, 0x10 + i, 0x20 + i), ZR_OK) << i;
        EXPECT_EQ(ZRPowerQuery(port_, 0, 2, power), ZR_OK) << i;
        EXPECT_EQ(power[0], 0x10 + i);
        EXPECT_EQ(power[1], 0x20 + i);
        EXPECT_EQ(ZRIOControlQuery(port_, 0, &io), ZR_OK) << i;
    }
    // A late reply, well within the tries: found by a later try.
    ASSERT_TRUE(sim_->fault("62:delay=50:times=1"));
    EXPECT_EQ(ZRPowerQuery(port_, 0, 2, power), ZR_OK);
    // Reports waiting on the link, read byte by byte under interruption.
    ASSERT_GT(ZRIdentify(port_, 0, 0), 0);
    unsigned char report[256];
    int reports = 0;
    for (int i = 0; i < 200 && reports < 3; ++i) {
        if (ZRReport(port_, report) == ZR_OK) ++reports;
        else std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(reports, 3) << "every tag reported once";
}

TEST_P(Signals, OpenAndCloseSurviveInterruption) {
    ASSERT_EQ(ZRClose(&port_), ZR_OK);
    Interrupter interrupter(pthread_self(), 200);
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(sim_->open(&port_), ZR_OK) << i;
        unsigned char io = 0;
        EXPECT_EQ(ZRIOControlQuery(port_, 0, &io), ZR_OK) << i;
        ASSERT_EQ(ZRClose(&port_), ZR_OK) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Links, Signals, testing::Values(Link::Serial, Link::Usb, Link::Tcp),
                         [](const testing::TestParamInfo<Link>& i) { return linkName(i.param); });

}  // namespace
