// The serial link: Link frames written and read one byte at a time over a
// serial device whose reads return at once. Every routine takes the port
// handle first; handle 0 is refused where noted.
#pragma once

#include <cstdint>

namespace zr::link {

// ClearCommError, then one immediate read: the byte (0..255), or -1 if none.
int SerialReadByte(int handle);

// Flush once, then up to three writes of the byte: 1 when written, else 0.
int SerialWriteByte(int handle, uint8_t byte);

// The byte stuffed, each output byte through up to 100 SerialWriteByte
// calls: 1 when it went out, 0 otherwise or for handle 0.
int SerialWriteStuffed(int handle, uint8_t byte);

// De-stuffing read: 2 start byte (out = 0x55), 1 data byte, -1 nothing,
// 0 for handle 0.
int SerialReadUnstuffed(int handle, uint8_t& out);

// Sends a packet as a Link frame: `length` when all went out, the number of
// packet bytes sent before a failing one, 0 when the start or a CRC byte
// failed, or for handle 0.
int SerialSendFrame(int handle, const uint8_t* packet, int length);

// Receives one protected packet into `buffer` (256 bytes), skipping
// corrupted frames and, when `expectedCode` is not 0, frames with another
// command code. `ignoredCount` has no effect. The count stored (L + 4), or 0
// when no good frame is waiting.
int SerialReceiveFrame(int handle, uint8_t* buffer, int ignoredCount, uint8_t expectedCode);

}  // namespace zr::link
