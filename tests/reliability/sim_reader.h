// A simulated reader on one link, opened through ZROpen, for the
// reliability tests: the simulator runs in-process (its own thread), on a
// loopback address of its own (TCP), a pseudo-terminal (serial) or a USB
// stand-in socket in a fresh class folder.
#pragma once

#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>

#include "zrreader.h"
#include "zrsim/simulator.h"

namespace zr::reliability {

enum class Link { Serial, Usb, Tcp };

inline const char* linkName(Link l) { return l == Link::Serial ? "Serial" : l == Link::Usb ? "Usb" : "Tcp"; }

// Wall-clock milliseconds since `start`.
inline double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Waits of the TCP link around each exchange: a quiet receive is 30
// readability waits of 2 ms; the send first drains once (one quiet receive).
constexpr double kTcpQuietReceiveMs = 30 * 2;

// The least time a polled exchange that gets no reply takes: `tries` pauses
// of `pauseMs`, plus on TCP a quiet receive per try and the drain before the
// send.
inline double silentPollFloorMs(Link link, int tries, int pauseMs) {
    double ms = tries * pauseMs;
    if (link == Link::Tcp) ms += (tries + 1) * kTcpQuietReceiveMs;
    return ms;
}

// Slack on top of a budget for scheduling and the sanitizer builds.
constexpr double kBudgetSlackMs = 300;

// What a wait of `us` microseconds with nothing to wake it costs on this
// machine right now (on a loaded machine the kernel wakes late), averaged
// over `count` waits.
inline double measuredWaitMs(int us, int count) {
    int p[2];
    if (pipe(p) != 0) return us / 1000.0;
    pollfd fd{p[0], POLLIN, 0};
    const timespec t{us / 1000000, (us % 1000000) * 1000L};
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) ppoll(&fd, 1, &t, nullptr);
    close(p[0]);
    close(p[1]);
    return msSince(start) / count;
}

// The most a polled exchange that gets no reply may take: its budget as
// this machine delivers the pauses and the TCP link's readiness waits now,
// with a fifth more and kBudgetSlackMs on top.
inline double silentPollBudgetMs(Link link, int tries, int pauseMs) {
    double ms = tries * measuredWaitMs(pauseMs * 1000, 3);
    if (link == Link::Tcp) ms += (tries + 1) * 30 * measuredWaitMs(2000, 30);
    return ms * 1.2 + kBudgetSlackMs;
}

struct SimOptions {
    int readTries = 20;         // the least the configuration accepts
    int writeTries = 50;        // likewise
    int tags = 3;
    int tcpAddressBlock = 20;   // third octet of the 127.0.X.Y addresses tried
    int readers = 1;            // TCP: readers on consecutive addresses
};

class SimReader {
public:
    SimReader(Link link, SimOptions options = {}) : link_(link), options_(options) {}
    ~SimReader() { stop(); }

    // Starts the simulator and writes the configuration. False with a
    // message on failure.
    bool start(std::string& error) {
        char dir[] = "/tmp/zr-rel-XXXXXX";
        if (!mkdtemp(dir)) {
            error = "mkdtemp";
            return false;
        }
        dir_ = dir;
        zrsim::SimulatorOptions o;
        o.tags = zrsim::generateTags(options_.tags, 7);
        o.verbose = getenv("ZRSIM_TRACE") != nullptr;
        switch (link_) {
            case Link::Serial: o.pty = true; break;
            case Link::Usb: o.usbFolder = dir_ + "/usb"; break;
            case Link::Tcp:
                for (int i = 0; i < options_.readers; ++i)
                    o.tcpAddresses.push_back("127.0." + std::to_string(options_.tcpAddressBlock) + "." +
                                             std::to_string(2 + (getpid() * 3 + i) % 240));
                o.tcpAddressSearch = 12;
                break;
        }
        sim_ = std::make_unique<zrsim::Simulator>(o);
        if (!sim_->start(error)) return false;
        if (link_ == Link::Usb) setenv("ZR_USB_DIR", o.usbFolder.c_str(), 1);
        for (int i = 0; i < options_.readers; ++i) writeConfig(i);
        return true;
    }

    // Writes the configuration of reader `index` (TCP) or the one reader.
    std::string writeConfig(int index = 0) {
        const std::string path = dir_ + "/reader" + std::to_string(index) + ".ini";
        std::ofstream ini(path);
        ini << "[READER]\n"
            << "ZR_PORT_TYPE=" << (link_ == Link::Serial ? "COM" : link_ == Link::Usb ? "USB" : "TCP") << "\n"
            << "ZR_COM_NUMBER=" << (link_ == Link::Serial ? sim_->ptyPath() : "COM1") << "\n"
            << "ZR_HOST_NAME=" << (link_ == Link::Tcp ? sim_->tcpAddress(index) : "127.0.0.1") << "\n"
            << "ZR_BaudRate=115200\nZR_READ_TRIES=" << options_.readTries << "\nZR_WRITE_TRIES="
            << options_.writeTries << "\nZR_SCAN_TRIES=3\n"
            << "[ESPECIAL FLAG]\nZR_ADDERIESS=2\nZR_LENGTH=4\n";
        return path;
    }
    std::string configPath(int index = 0) const { return dir_ + "/reader" + std::to_string(index) + ".ini"; }

    int open(int* port, int index = 0) {
        *port = ZR_CLOSED_HANDLE;
        return ZROpen(port, configPath(index).c_str(), "READER");
    }

    // A rule in the simulator's fault syntax ("62:drop:times=1").
    bool fault(const std::string& rule) { return sim_->control("fault " + rule) == "ok"; }
    void clearFaults() { sim_->faults().clear(); }

    zrsim::Simulator& sim() { return *sim_; }
    Link link() const { return link_; }
    const std::string& dir() const { return dir_; }

    void stop() {
        if (sim_) sim_->stop();
        if (link_ == Link::Usb) unsetenv("ZR_USB_DIR");
        if (!dir_.empty()) {
            const std::string cmd = "rm -rf '" + dir_ + "'";
            (void)!system(cmd.c_str());
            dir_.clear();
        }
    }

private:
    Link link_;
    SimOptions options_;
    std::string dir_;
    std::unique_ptr<zrsim::Simulator> sim_;
};

}  // namespace zr::reliability
