// The exports end to end against the simulated reader on each link.
//
// For a polled exchange (ZRPowerQuery), a status-only exchange (ZRPowerOn)
// and report collection (ZRReport with many reports waiting) it reports, per
// call: the median and 99th-percentile wall time, the CPU time of the
// calling thread (the simulator runs on its own thread and is not counted),
// the floor that the exchange cannot beat, and the ratio of the median to
// that floor.
//
// Floors: a polled exchange pauses before its first try (20 ms for
// ZRPowerQuery, 10 ms for ZRPowerOn); on TCP the send first drains stale
// replies, one quiet receive of 30 readiness waits of 2 ms. A report costs
// on serial and USB the pace after each byte read inside its frame
// (L + 4 reads of at least 10 us); on TCP nothing fixed.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "link/frame_pace.h"
#include "reliability/sim_reader.h"
#include "zrreader.h"

using namespace zr::reliability;

namespace {

double threadCpuUs() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

struct Reader {
    std::unique_ptr<SimReader> sim;
    int port = ZR_CLOSED_HANDLE;
};

// One simulated reader per link, opened on first use; ZROpen's port type
// selects the link of every call, so the benchmarks of a link run together.
Reader& readerFor(Link link, int tags) {
    static std::map<std::pair<Link, int>, Reader> readers;
    static std::pair<Link, int> current{Link::Tcp, -1};
    const auto key = std::make_pair(link, tags);
    if (current != key && current.second >= 0) {
        Reader& old = readers[current];
        ZRClose(&old.port);
        old.sim.reset();
        readers.erase(current);
    }
    current = key;
    Reader& r = readers[key];
    if (!r.sim) {
        r.sim = std::make_unique<SimReader>(link, SimOptions{25, 100, tags, 28});
        std::string error;
        if (!r.sim->start(error) || r.sim->open(&r.port) != ZR_OK) r.port = ZR_CLOSED_HANDLE;
    }
    return r;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5));
    return v[i];
}

void report(benchmark::State& state, const std::vector<double>& wallUs, double cpuUs, double floorUs) {
    const double median = percentile(wallUs, 0.5);
    state.counters["median_ms"] = median / 1000;
    state.counters["p99_ms"] = percentile(wallUs, 0.99) / 1000;
    state.counters["cpu_us"] = cpuUs / static_cast<double>(std::max<size_t>(1, wallUs.size()));
    state.counters["floor_ms"] = floorUs / 1000;
    state.counters["over_floor_ms"] = (median - floorUs) / 1000;
    if (floorUs > 0) state.counters["ratio"] = median / floorUs;
}

double tcpDrainUs(Link link) { return link == Link::Tcp ? kTcpQuietReceiveMs * 1000 : 0; }

template <class Call>
void polled(benchmark::State& state, Link link, int pauseMs, Call&& call) {
    Reader& r = readerFor(link, 1);
    if (r.port == ZR_CLOSED_HANDLE) {
        state.SkipWithError("simulator did not start");
        return;
    }
    std::vector<double> wall;
    double cpu = 0;
    for (auto _ : state) {
        const double c0 = threadCpuUs();
        const auto t0 = std::chrono::steady_clock::now();
        const int result = call(r.port);
        const double us = msSince(t0) * 1000;
        cpu += threadCpuUs() - c0;
        state.SetIterationTime(us / 1e6);
        wall.push_back(us);
        if (result != ZR_OK) state.SkipWithError("exchange failed");
    }
    report(state, wall, cpu, pauseMs * 1000 + tcpDrainUs(link));
}

void BM_PowerQuery(benchmark::State& state, Link link) {
    polled(state, link, 20, [](int port) {
        unsigned char power[2];
        return ZRPowerQuery(port, 0, 2, power);
    });
}

void BM_StatusOnly(benchmark::State& state, Link link) {
    polled(state, link, 10, [](int port) { return ZRPowerOn(port, 1); });
}

// ZRReport while a few hundred reports wait on the link; each time they run
// out, a new inventory is started outside the timing.
void BM_Report(benchmark::State& state, Link link) {
    constexpr int kTags = 200;
    Reader& r = readerFor(link, kTags);
    if (r.port == ZR_CLOSED_HANDLE) {
        state.SkipWithError("simulator did not start");
        return;
    }
    std::vector<double> wall;
    double cpu = 0;
    int waiting = 0;
    unsigned char out[256];
    int replyLength = 0;
    for (auto _ : state) {
        if (waiting == 0) {
            state.PauseTiming();
            ZRIdentify(r.port, 0, 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(link == Link::Tcp ? 200 : 300));
            waiting = kTags;
            state.ResumeTiming();
        }
        const double c0 = threadCpuUs();
        const auto t0 = std::chrono::steady_clock::now();
        const int result = ZRReport(r.port, out);
        const double us = msSince(t0) * 1000;
        cpu += threadCpuUs() - c0;
        state.SetIterationTime(us / 1e6);
        --waiting;
        if (result != ZR_OK) {
            state.SkipWithError("report missing");
            break;
        }
        replyLength = ZRLastReplyLength();
        wall.push_back(us);
    }
    // Serial and USB: the pace after each of the L + 4 in-frame reads.
    const double floorUs = link == Link::Tcp ? 0 : (replyLength + 4) * zr::link::kFramePaceFloorMicros;
    report(state, wall, cpu, floorUs);
    state.counters["reports_per_s"] = wall.empty() ? 0 : 1e6 / percentile(wall, 0.5);
}

}  // namespace

int main(int argc, char** argv) {
    const std::pair<Link, const char*> links[] = {{Link::Serial, "Serial"}, {Link::Usb, "Usb"}, {Link::Tcp, "Tcp"}};
    for (auto [link, name] : links) {
        const int polledCalls = link == Link::Tcp ? 60 : 150;
        benchmark::RegisterBenchmark((std::string("PowerQuery/") + name).c_str(), BM_PowerQuery, link)
            ->Iterations(polledCalls)->UseManualTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("StatusOnly/") + name).c_str(), BM_StatusOnly, link)
            ->Iterations(polledCalls)->UseManualTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("Report/") + name).c_str(), BM_Report, link)
            ->Iterations(1000)->UseManualTime()->Unit(benchmark::kMicrosecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
