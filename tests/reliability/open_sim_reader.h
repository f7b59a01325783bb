// A test fixture: the simulated reader on the test's link, started and
// opened through ZROpen before each test, closed and stopped after it. The
// suites that use it pick distinct TCP address blocks so they can run at
// the same time.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "reliability/sim_reader.h"
#include "zrreader.h"

namespace zr::reliability {

class OpenSimReader : public testing::TestWithParam<Link> {
protected:
    static constexpr int kTries = SimOptions{}.readTries;  // ZR_READ_TRIES of the configuration
    static constexpr int kPowerPauseMs = 20;               // ZRPowerQuery's pause before each try

    explicit OpenSimReader(int tcpAddressBlock) : tcpAddressBlock_(tcpAddressBlock) {}

    void SetUp() override {
        SimOptions options;
        options.tcpAddressBlock = tcpAddressBlock_;
        sim_ = std::make_unique<SimReader>(GetParam(), options);
        std::string error;
        ASSERT_TRUE(sim_->start(error)) << error;
        ASSERT_EQ(sim_->open(&port_), ZR_OK);
    }
    void TearDown() override {
        if (port_ != ZR_CLOSED_HANDLE) {
            EXPECT_EQ(ZRClose(&port_), ZR_OK);
        }
        sim_.reset();
    }

    // The least time a ZRPowerQuery that gets no reply takes.
    double silentFloor() const { return silentPollFloorMs(GetParam(), kTries, kPowerPauseMs); }

    std::unique_ptr<SimReader> sim_;
    int port_ = ZR_CLOSED_HANDLE;

private:
    int tcpAddressBlock_;
};

}  // namespace zr::reliability
