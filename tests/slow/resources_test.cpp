// Open/close cycles and long runs of exchanges leave the process's open
// descriptors and resident memory where they started: 10 000 open/close
// cycles per link, 100 000 exchanges per link where an exchange costs no
// pause (report collection on serial and USB, every shape in memory).
// ZR_RESOURCE_SCALE multiplies the counts (scripts/bench runs 10).
#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "reliability/sim_reader.h"
#include "support/fake_link.h"
#include "zrreader.h"

#if defined(__SANITIZE_ADDRESS__)
#define ZR_RSS_MEANINGFUL 0  // the sanitizer's quarantine holds freed memory
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZR_RSS_MEANINGFUL 0
#endif
#endif
#ifndef ZR_RSS_MEANINGFUL
#define ZR_RSS_MEANINGFUL 1
#endif

namespace {

using namespace zr::reliability;

int openDescriptors() {
    int n = 0;
    DIR* d = opendir("/proc/self/fd");
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++n;
    closedir(d);
    return n - 1;  // the directory stream's own descriptor
}

long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int scale() {
    const char* s = getenv("ZR_RESOURCE_SCALE");
    const int v = s ? atoi(s) : 1;
    return v > 0 ? v : 1;
}

// Waits until the simulator has closed its ends of the connections that
// the library closed (they count among the process's descriptors too).
void settle(SimReader* sim) {
    for (int i = 0; sim && i < 200 && sim->sim().clientCount() > 0; ++i) usleep(5000);
}

// The process's descriptors once they are down to `expected`, or after two
// seconds. The simulator may still accept the last connection the library
// closed (it sat in the listen backlog) and close it a moment later; a real
// leak stays.
int descriptorsAfterSettling(SimReader* sim, int expected) {
    int n = openDescriptors();
    for (int i = 0; i < 400 && n > expected; ++i) {
        usleep(5000);
        settle(sim);
        n = openDescriptors();
    }
    return n;
}

// Descriptors and memory before and after `body`, after a warm-up run that
// lets allocators and the simulator settle.
template <class Body>
void expectNoGrowth(const char* what, SimReader* sim, Body&& body) {
    body(true);
    settle(sim);
    const int fds = openDescriptors();
    const long rss = residentKiB();
    body(false);
    settle(sim);
    // A leak in the body grows with its thousands of cycles; at most the
    // baseline may have caught one connection in passing.
    EXPECT_LE(descriptorsAfterSettling(sim, fds), fds) << what << ": descriptors left open";
    if (ZR_RSS_MEANINGFUL) {
        EXPECT_LT(residentKiB() - rss, 2048) << what << ": resident memory grew (KiB)";
    }
}

class Resources : public testing::TestWithParam<Link> {};

TEST_P(Resources, OpenCloseCyclesWithFailingOpensMixedIn) {
    SimReader sim(GetParam(), SimOptions{20, 50, 1, 26});
    std::string error;
    ASSERT_TRUE(sim.start(error)) << error;
    // A configuration whose open fails on this link: a missing device, an
    // empty USB class folder, a loopback address where nothing listens.
    const std::string bad = sim.dir() + "/bad.ini";
    {
        std::ofstream ini(bad);
        ini << "[READER]\nZR_PORT_TYPE=" << (GetParam() == Link::Serial ? "COM" : GetParam() == Link::Usb ? "USB" : "TCP")
            << "\nZR_COM_NUMBER=" << sim.dir() << "/no-such-tty\nZR_HOST_NAME=127.0.27.1\n"
            << "[EMPTY]\nZR_PORT_TYPE=\n";
    }
    const std::string emptyUsb = sim.dir() + "/empty-usb";
    mkdir(emptyUsb.c_str(), 0700);
    const std::string usbFolder = getenv("ZR_USB_DIR") ? getenv("ZR_USB_DIR") : "";
    const int cycles = 10000 * scale();
    int failures = 0;
    expectNoGrowth("open/close", &sim, [&](bool warmUp) {
        const int n = warmUp ? 50 : cycles;
        for (int i = 0; i < n; ++i) {
            int port = ZR_CLOSED_HANDLE;
            switch (i % 5) {
                case 1: {  // the link cannot be opened
                    if (GetParam() == Link::Usb) setenv("ZR_USB_DIR", emptyUsb.c_str(), 1);
                    const int r = ZROpen(&port, bad.c_str(), "READER");
                    if (GetParam() == Link::Usb) setenv("ZR_USB_DIR", usbFolder.c_str(), 1);
                    if (r == ZR_OK || port != ZR_CLOSED_HANDLE) ++failures;
                    break;
                }
                case 3:  // nothing to open
                    if (ZROpen(&port, bad.c_str(), "EMPTY") != ZR_ERR_CONFIG) ++failures;
                    break;
                default: {
                    if (sim.open(&port) != ZR_OK) { ++failures; break; }
                    int again = port;
                    if (ZROpen(&again, sim.configPath().c_str(), "READER") != ZR_ERR_ALREADY_OPEN) ++failures;
                    if (ZRClose(&port) != ZR_OK) ++failures;
                }
            }
        }
    });
    EXPECT_EQ(failures, 0);
}

TEST_P(Resources, LongRunsOfExchanges) {
    SimReader sim(GetParam(), SimOptions{20, 50, 4, 27});
    std::string error;
    ASSERT_TRUE(sim.start(error)) << error;
    int port = ZR_CLOSED_HANDLE;
    ASSERT_EQ(sim.open(&port), ZR_OK);
    // Polled exchanges cost their pauses (and on TCP the link's waits); the
    // report collection with nothing waiting costs only the link.
    const int polled = (GetParam() == Link::Tcp ? 50 : 200) * scale();
    const int reports = (GetParam() == Link::Tcp ? 50 : 100000) * scale();
    int failures = 0;
    expectNoGrowth("exchanges", &sim, [&](bool warmUp) {
        for (int i = 0; i < (warmUp ? 10 : polled); ++i) {
            unsigned char power[2];
            if (ZRPowerQuery(port, 0, 2, power) != ZR_OK) ++failures;
        }
        unsigned char report[256];
        for (int i = 0; i < (warmUp ? 10 : reports); ++i)
            if (ZRReport(port, report) != ZR_NOTHING) ++failures;
    });
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(ZRClose(&port), ZR_OK);
}

INSTANTIATE_TEST_SUITE_P(Links, Resources, testing::Values(Link::Serial, Link::Usb, Link::Tcp),
                         [](const testing::TestParamInfo<Link>& i) { return linkName(i.param); });

// 100 000 exchanges of every shape through the in-memory link: what the
// library allocates per call must all come back. A fresh fake reader per
// thousand exchanges (the fake keeps a log of everything it saw), so the
// handle registry also sees 100 registrations and removals.
TEST(ResourcesInMemory, HundredThousandExchanges) {
    const int exchanges = 100000 * scale();
    int failures = 0;
    expectNoGrowth("in-memory exchanges", nullptr, [&](bool warmUp) {
        const int n = warmUp ? 1000 : exchanges;
        for (int batch = 0; batch < n; batch += 1000) {
            zr::test::FakeReader reader(zr::link::LinkKind::Tcp, 2, 2);
            for (int i = 0; i < 1000; i += 4) {
                unsigned char power[2], report[256];
                reader.reply({0x00, 0x04, 0x62, 0x00, 0x01, 0x02});
                if (ZRPowerQuery(reader.port(), 0, 2, power) != ZR_OK) ++failures;
                reader.reply({0x00, 0x05, 0x71, 0x00, 0x01, 0x02, 0x03});
                if (ZRReport(reader.port(), report) != ZR_OK) ++failures;
                reader.silence(2);
                if (ZRPowerQuery(reader.port(), 0, 2, power) != ZR_ERR_NO_REPLY) ++failures;
                if (ZRReset(reader.port()) <= 0) ++failures;
            }
        }
    });
    EXPECT_EQ(failures, 0);
}

}  // namespace
