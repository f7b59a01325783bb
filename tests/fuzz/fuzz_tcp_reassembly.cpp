// TCP reassembly, the packet receiver and the send-side counting over
// fuzz-chosen receive chunks.
//
// Input: capacity (2 bytes, big-endian, taken modulo 1021 + 4), minimum
// (1 byte), then chunks: a size byte n and n bytes. n = 0 is a quiet
// receive, n = 0xFF a socket error. A receive never reaches past its chunk.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "link/tcp_stream.h"

using namespace zr::link;

namespace {

struct ChunkedRecv {
    const uint8_t* data;
    size_t size;
    size_t next = 0;
    size_t chunkLeft = 0;
    bool done() const { return next >= size && chunkLeft == 0; }
    int operator()(uint8_t* buffer, int length) {
        if (length < 0) abort();
        if (chunkLeft == 0) {
            if (next >= size) return 0;
            const uint8_t n = data[next++];
            if (n == 0) return 0;
            if (n == 0xFF) return -1;
            chunkLeft = std::min<size_t>(n, size - next);
        }
        const size_t take = std::min<size_t>(chunkLeft, static_cast<size_t>(length));
        std::memcpy(buffer, data + next, take);
        next += take;
        chunkLeft -= take;
        return static_cast<int>(take);
    }
};

void checkDelivered(const uint8_t* dest, int n, int capacity) {
    if (n <= 0) return;
    if (n > capacity || n < 4 || n != 256 * dest[0] + dest[1] + 4) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const int capacity = (256 * data[0] + data[1]) % 1021 + 4;
    const int minimum = data[2];

    // Reassembly straight into a destination of exactly `capacity` bytes.
    {
        ChunkedRecv recv{data + 3, size - 3};
        TcpReassembly r;
        std::vector<uint8_t> dest(static_cast<size_t>(capacity));
        for (int guard = 0; !recv.done() && guard < 100000; ++guard) {
            checkDelivered(dest.data(), TcpReassemble(r, recv, dest.data(), capacity), capacity);
            if (r.count < 0 || r.count > static_cast<int>(sizeof r.buffer)) abort();
        }
    }

    // The packet receiver as the exports call it, into a 256-byte buffer.
    {
        ChunkedRecv recv{data + 3, size - 3};
        TcpReassembly r;
        std::vector<uint8_t> buffer(256);
        for (int guard = 0; !recv.done() && guard < 1000; ++guard) {
            const int n = TcpReceiveChecked(r, recv, buffer.data(), minimum);
            if (n != 0 && (n < minimum + 2 || n > kTcpReceiveCapacity ||
                           !protectedPacketValid(buffer.data(), static_cast<size_t>(n))))
                abort();
        }
    }

    // The same bytes sent through the counter in fuzz-sized pieces: every
    // complete packet on the stream counts once.
    {
        ChunkedRecv pieces{data + 3, size - 3};
        std::vector<uint8_t> stream;
        TcpSendCounter counter;
        int total = 0;
        uint8_t piece[256];
        for (int guard = 0; !pieces.done() && guard < 100000; ++guard) {
            const int n = pieces(piece, sizeof piece);
            if (n <= 0) continue;
            stream.insert(stream.end(), piece, piece + n);
            TcpCountSent(counter, piece, n, 1);
            total = counter.outstanding;
        }
        TcpSendCounter whole;
        if (!stream.empty()) TcpCountSent(whole, stream.data(), static_cast<int>(stream.size()), 1);
        if (whole.outstanding != total || whole.state != counter.state || whole.passOver != counter.passOver) abort();
    }
    return 0;
}
