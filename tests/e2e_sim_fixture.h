// Fixture of the end-to-end tests: the library against the simulated reader
// on one link (serial pty, USB stand-in socket or TCP), with its own
// simulator, configuration file and open port handle per test.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "zrreader.h"
#include "zrsim/simulator.h"

namespace zr::e2e {

enum class Link { Serial, Usb, Tcp };

inline std::string linkName(const testing::TestParamInfo<Link>& info) {
    return info.param == Link::Serial ? "Serial" : info.param == Link::Usb ? "Usb" : "Tcp";
}

using Bytes = std::vector<uint8_t>;

class Sim : public testing::TestWithParam<Link> {
protected:
    void SetUp() override {
        char dir[] = "/tmp/zr-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        zrsim::SimulatorOptions o;
        o.tags = zrsim::generateTags(3, 11);
        o.alarmIntervalMs = 30;
        o.verbose = getenv("ZRSIM_TRACE") != nullptr;
        switch (GetParam()) {
            case Link::Serial: o.pty = true; break;
            case Link::Usb: o.usbFolder = dir_ + "/usb"; break;
            case Link::Tcp:
                o.tcpAddresses = {"127.0.11." + std::to_string(2 + getpid() % 200)};
                o.tcpAddressSearch = 50;
                break;
        }
        sim_ = std::make_unique<zrsim::Simulator>(o);
        std::string error;
        ASSERT_TRUE(sim_->start(error)) << error;
        if (GetParam() == Link::Usb) setenv("ZR_USB_DIR", o.usbFolder.c_str(), 1);
        config_ = dir_ + "/reader.ini";
        std::ofstream ini(config_);
        ini << "[READER]\n"
            << "ZR_PORT_TYPE=" << (GetParam() == Link::Serial ? "COM" : GetParam() == Link::Usb ? "USB" : "TCP") << "\n"
            << "ZR_COM_NUMBER=" << (GetParam() == Link::Serial ? sim_->ptyPath() : "COM1") << "\n"
            << "ZR_HOST_NAME=" << (GetParam() == Link::Tcp ? sim_->tcpAddress() : "127.0.0.1") << "\n"
            << "ZR_BaudRate=115200\nZR_READ_TRIES=20\nZR_WRITE_TRIES=50\nZR_SCAN_TRIES=3\n"
            << "[ESPECIAL FLAG]\nZR_ADDERIESS=2\nZR_LENGTH=4\n";
        ini.close();
        ASSERT_EQ(ZROpen(&port_, config_.c_str(), "READER"), 1);
        ZRSetDeviceClass(port_, 800);
    }
    void TearDown() override {
        if (port_ != -1) ZRClose(&port_);
        ZRSetDeviceClass(-1, 800);
        if (sim_) sim_->stop();
        if (GetParam() == Link::Usb) unsetenv("ZR_USB_DIR");
        std::string cmd = "rm -rf '" + dir_ + "'";
        (void)!system(cmd.c_str());
    }

    template <class F>
    auto state(F&& f) {
        return sim_->reader().withState(std::forward<F>(f));
    }
    zrsim::Tag tag(size_t i) {
        return state([&](zrsim::ReaderState& s) { return s.tags.at(i); });
    }
    // Calls a report export until it gives something other than 0 (the
    // reports arrive a moment after the start command went out).
    template <class F>
    int collect(F&& report, int nothing = 0) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
        int r;
        while ((r = report()) == nothing && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        return r;
    }
    // Waits until the reader has handled `count` requests with `code`.
    bool handled(uint8_t code, int count) {
        for (int i = 0; i < 200; ++i) {
            if (state([&](zrsim::ReaderState& s) { return s.requestsByCode[code]; }) >= count) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }
    int sentCount(int packetLength) const { return GetParam() == Link::Serial ? packetLength : packetLength + 2; }

    std::string dir_, config_;
    std::unique_ptr<zrsim::Simulator> sim_;
    int port_ = -1;
};

}  // namespace zr::e2e
