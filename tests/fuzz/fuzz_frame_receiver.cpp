// The serial/USB frame receiver over fuzz bytes.
// Input: expected code, gap byte (see GappedReads), then the bytes read.
#include <cstdlib>

#include "fuzz_input.h"
#include "link/framing.h"

using namespace zr::link;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t code = data[0];
    zr::fuzz::GappedReads source{data + 2, size - 2, data[1]};
    while (!source.done()) {
        // Exactly the receiver's buffer, so ASan sees any write beyond it.
        uint8_t* buffer = new uint8_t[kFrameReceiveCapacity];
        const int n = receiveLinkFrame([&](uint8_t& out) { return readUnstuffed(source, out); }, [] {}, buffer, code);
        if (n < 0 || n > kFrameReceiveCapacity) abort();
        if (n > 0) {
            if (!protectedPacketValid(buffer, static_cast<size_t>(n))) abort();
            if (code != 0 && buffer[2] != code) abort();
            const int announced = 256 * buffer[0] + buffer[1] + 4;
            if (n != announced && !(n == 3 && announced > kFrameReceiveCapacity)) abort();
        }
        delete[] buffer;
        if (n == 0 && source.done()) break;
    }
    return 0;
}
