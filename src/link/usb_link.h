// The USB link: whole Link frames handed to the reader's driver in one
// control request, received bytes fetched one per control request.
#pragma once

#include <cstdint>

namespace zr::link {

// One read-byte request: the byte delivered (0 when the request succeeded
// without one), or -1 when it failed.
int UsbReadByte(int handle);

// Flush once, then up to three write-frame requests: 1 when the driver took
// the frame, else 0.
int UsbWriteFrame(int handle, const uint8_t* frame, int length);

// De-stuffing read: 2 start byte (out = 0x55), 1 data byte, -1 nothing,
// 0 for handle 0.
int UsbReadUnstuffed(int handle, uint8_t& out);

// Sends a packet of any length as one Link frame, up to 100 UsbWriteFrame
// calls: `length` + 2 on success, 0 on failure or for handle 0.
int UsbSendFrame(int handle, const uint8_t* packet, int length);

// As SerialReceiveFrame, over UsbReadUnstuffed.
int UsbReceiveFrame(int handle, uint8_t* buffer, int ignoredCount, uint8_t expectedCode);

}  // namespace zr::link
