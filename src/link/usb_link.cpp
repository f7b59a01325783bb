#include "link/usb_link.h"

#include <algorithm>
#include <vector>

#include "link/frame_pace.h"
#include "link/framing.h"
#include "platform/platform.h"

namespace zr::link {

namespace {
constexpr int kRequestAttempts = 3;
constexpr int kWriteFrameCalls = 100;
// The largest Command packet is 256 bytes, length field included.
constexpr size_t kLargestCommandPacket = 256;
}  // namespace

int UsbReadByte(int handle) {
    uint8_t byte = 0;
    size_t count = 0;
    // The returned count is not examined: a success without a byte reads as 0.
    if (!platform::usbControl(handle, platform::kUsbReadByte, nullptr, 0, &byte, 1, &count)) return -1;
    return byte;
}

int UsbWriteFrame(int handle, const uint8_t* frame, int length) {
    platform::usbFlush(handle);
    for (int attempt = 0; attempt < kRequestAttempts; ++attempt) {
        size_t count = 0;
        if (platform::usbControl(handle, platform::kUsbWriteFrame, frame, static_cast<size_t>(length), nullptr, 0,
                                 &count)) {
            return 1;
        }
    }
    return 0;
}

int UsbReadUnstuffed(int handle, uint8_t& out) {
    if (handle == 0) return 0;
    return readUnstuffed([handle] { return UsbReadByte(handle); }, out);
}

int UsbSendFrame(int handle, const uint8_t* packet, int length) {
    if (handle == 0 || length < 0) return 0;
    // Room for the stuffed frame of the largest Command packet (1 + 2 x 258
    // bytes), or of a longer packet should one be passed: never refused for
    // its size.
    std::vector<uint8_t> frame(maxLinkFrameLength(std::max(kLargestCommandPacket, static_cast<size_t>(length))));
    const int frameLength = static_cast<int>(buildLinkFrame(packet, static_cast<size_t>(length), frame.data()));
    for (int call = 0; call < kWriteFrameCalls; ++call) {
        if (UsbWriteFrame(handle, frame.data(), frameLength) == 1) return length + 2;
    }
    return 0;
}

int UsbReceiveFrame(int handle, uint8_t* buffer, int /*ignoredCount*/, uint8_t expectedCode) {
    return receiveLinkFrame([handle](uint8_t& out) { return UsbReadUnstuffed(handle, out); }, framePace, buffer,
                            expectedCode);
}

}  // namespace zr::link
