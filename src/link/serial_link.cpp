#include "link/serial_link.h"

#include "link/frame_pace.h"
#include "link/framing.h"
#include "platform/platform.h"

namespace zr::link {

namespace {
constexpr int kWriteAttempts = 3;
}

int SerialReadByte(int handle) { return platform::serialReadByte(handle); }

int SerialWriteByte(int handle, uint8_t byte) {
    platform::serialFlush(handle);
    for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
        if (platform::serialWriteByte(handle, byte)) return 1;
    }
    return 0;
}

namespace {
auto byteWriter(int handle) {
    return [handle](uint8_t byte) { return SerialWriteByte(handle, byte) == 1; };
}
}  // namespace

int SerialWriteStuffed(int handle, uint8_t byte) {
    if (handle == 0) return 0;
    return writeStuffedByte(byteWriter(handle), byte) ? 1 : 0;
}

int SerialReadUnstuffed(int handle, uint8_t& out) {
    if (handle == 0) return 0;
    return readUnstuffed([handle] { return SerialReadByte(handle); }, out);
}

int SerialSendFrame(int handle, const uint8_t* packet, int length) {
    if (handle == 0) return 0;
    return sendLinkFrameBytewise(byteWriter(handle), packet, length);
}

int SerialReceiveFrame(int handle, uint8_t* buffer, int /*ignoredCount*/, uint8_t expectedCode) {
    return receiveLinkFrame([handle](uint8_t& out) { return SerialReadUnstuffed(handle, out); }, framePace, buffer,
                            expectedCode);
}

}  // namespace zr::link
