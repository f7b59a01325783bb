// Throughput of the framing code over in-memory bytes: the Frame CRC, Link
// frame building (stuffing), the de-stuffing frame receiver and TCP
// reassembly. Bytes processed are the wire bytes; Google Benchmark reports
// them as bytes_per_second.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "link/framing.h"
#include "link/tcp_stream.h"

using namespace zr::link;

namespace {

std::vector<uint8_t> randomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

// A Response packet of `dataBytes` data bytes (length field, code, status, data).
std::vector<uint8_t> responsePacket(size_t dataBytes, uint32_t seed) {
    std::vector<uint8_t> p = randomBytes(dataBytes + 4, seed);
    const size_t length = dataBytes + 2;
    p[0] = static_cast<uint8_t>(length >> 8);
    p[1] = static_cast<uint8_t>(length);
    p[2] = 0x71;
    p[3] = 0;
    return p;
}

void BM_FrameCrc(benchmark::State& state) {
    const auto bytes = randomBytes(static_cast<size_t>(state.range(0)), 1);
    for (auto _ : state) benchmark::DoNotOptimize(frameCrc(bytes.data(), bytes.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_FrameCrc)->Arg(6)->Arg(64)->Arg(252);

// Random packet bytes hold about 2/256 bytes that need stuffing; the
// "all stuffed" case is made only of 0x55 and 0x56.
void BM_BuildLinkFrame(benchmark::State& state) {
    auto packet = responsePacket(static_cast<size_t>(state.range(0)), 2);
    if (state.range(1)) for (size_t i = 4; i < packet.size(); ++i) packet[i] = i % 2 ? 0x55 : 0x56;
    std::vector<uint8_t> frame(maxLinkFrameLength(packet.size()));
    size_t wire = 0;
    for (auto _ : state) {
        wire = buildLinkFrame(packet.data(), packet.size(), frame.data());
        benchmark::DoNotOptimize(frame.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * wire));
}
BENCHMARK(BM_BuildLinkFrame)->Args({2, 0})->Args({60, 0})->Args({120, 0})->Args({120, 1});

// The receiver over a buffer holding many frames back to back (with some
// bytes between frames), as the serial and USB links read it byte by byte.
// The pace is left out: it is a fixed delay, not the code's cost.
void BM_ReceiveLinkFrames(benchmark::State& state) {
    std::vector<uint8_t> wire;
    const auto packet = responsePacket(static_cast<size_t>(state.range(0)), 3);
    std::vector<uint8_t> protectedPacket(packet.size() + 2);
    buildProtectedPacket(packet.data(), packet.size(), protectedPacket.data());
    for (int f = 0; f < 64; ++f) {
        const auto frame = linkFrameOf(packet);
        wire.insert(wire.end(), {0x00, 0x13});
        wire.insert(wire.end(), frame.begin(), frame.end());
    }
    uint8_t buffer[kFrameReceiveCapacity];
    for (auto _ : state) {
        size_t next = 0;
        auto readByte = [&]() -> int { return next < wire.size() ? wire[next++] : -1; };
        int frames = 0;
        while (receiveLinkFrame([&](uint8_t& out) { return readUnstuffed(readByte, out); }, [] {}, buffer, 0x71) > 0)
            ++frames;
        if (frames != 64) state.SkipWithError("frames lost");
        benchmark::DoNotOptimize(buffer);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * wire.size()));
}
BENCHMARK(BM_ReceiveLinkFrames)->Arg(2)->Arg(60)->Arg(94);

// TCP reassembly of protected packets from a stream delivered in chunks of
// `range(1)` bytes (0: whatever is asked for), through the packet receiver's
// capacity of 100.
void BM_TcpReassemble(benchmark::State& state) {
    const auto packet = responsePacket(static_cast<size_t>(state.range(0)), 4);
    std::vector<uint8_t> one(packet.size() + 2);
    buildProtectedPacket(packet.data(), packet.size(), one.data());
    std::vector<uint8_t> stream;
    for (int i = 0; i < 64; ++i) stream.insert(stream.end(), one.begin(), one.end());
    const int chunk = static_cast<int>(state.range(1));
    uint8_t dest[kTcpReceiveCapacity];
    for (auto _ : state) {
        TcpReassembly r;
        size_t next = 0;
        auto recv = [&](uint8_t* buffer, int length) -> int {
            int n = static_cast<int>(std::min<size_t>(static_cast<size_t>(length), stream.size() - next));
            if (chunk > 0) n = std::min(n, chunk);
            std::memcpy(buffer, stream.data() + next, static_cast<size_t>(n));
            next += static_cast<size_t>(n);
            return n;
        };
        int packets = 0;
        while (next < stream.size() || r.count > 0) {
            const int got = TcpReceiveRetry(r, recv, dest, kTcpReceiveCapacity);
            if (got > 0) ++packets;
            else if (got <= 0 && next >= stream.size()) break;
        }
        if (packets != 64) state.SkipWithError("packets lost");
        benchmark::DoNotOptimize(dest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_TcpReassemble)->Args({2, 0})->Args({60, 0})->Args({94, 0})->Args({94, 7})->Args({94, 1});

}  // namespace

BENCHMARK_MAIN();
