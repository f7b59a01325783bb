// System and tag parameters: query and set by address, in one command or
// (ZRSysSet) one command per byte.
#include "commands/parameters.h"

#include "link/serial_link.h"

using namespace zr;

namespace {

constexpr uint8_t kSysQuery = 0x62;
constexpr uint8_t kSysSet = 0x63;
constexpr uint8_t kTagQuery = 0x64;
constexpr uint8_t kTagSet = 0x65;

// Counts of the system parameter exports above this are refused with -15.
constexpr int kMaxSysCount = 52;
// What the 256-byte buffers hold: a reply of status and 252 data bytes, a
// Command packet of address, count and 251 data bytes.
constexpr int kMaxTagQueryCount = 252;
constexpr int kMaxTagSetCount = 251;

constexpr int kPauseMs = 20;
// ZRSysSet pauses this long after a byte the reader refused.
constexpr int kSysSetErrorPauseMs = 50;
constexpr int kTcpMinimum = 4;

// A query: `count` bytes from `address`, copied from the reply's data.
int query(Call& call, uint8_t code, int address, int count, int tcpMinimum, uint8_t* out) {
    Reply reply;
    call.poll(Packet(code).byte(address).byte(count),
              {.tries = call.readTries(), .pauseMs = kPauseMs, .tcpMinimum = tcpMinimum}, reply);
    const int result = judge(reply, code);
    if (result == ZR_OK) copyPacketData(reply, 4, count, out);
    return result;
}

// A set in one command: address, count and the bytes.
int fastSet(Call& call, uint8_t code, int address, int length, const uint8_t* data) {
    return call.command(Packet(code).byte(address).byte(length).bytes(data, static_cast<size_t>(length)),
                        {.tries = call.readTries(), .pauseMs = kPauseMs});
}

// One byte of ZRSysSet: 00 04 63, the 16-bit address, the byte; one send and
// one immediate receive over the serial routines. Over "COM" the link's own
// send and receive are those routines on the port handle; over "USB" they
// run on the USB device handle directly, where the platform refuses them (it
// is no terminal): nothing is written and the byte goes unanswered.
int sysSetByte(Call& call, unsigned address, uint8_t value) {
    const Packet request =
        Packet(kSysSet).byte(static_cast<int>(address >> 8)).byte(static_cast<int>(address & 0xFF)).byte(value);
    Reply reply;
    if (call.kind() == link::LinkKind::Serial) {
        call.sendOnly(request);
        call.receiveOnce(reply, kSysSet, kTcpMinimum);
    } else {
        const int handle = call.link().handle();
        link::SerialSendFrame(handle, request.data(), request.size());
        reply.count = link::SerialReceiveFrame(handle, reply.bytes, kTcpMinimum, kSysSet);
    }
    if (reply.count < 6) return ZR_ERR_NO_REPLY;
    const int result = mapStatus(reply.status());
    if (result != ZR_OK) call.pause(kSysSetErrorPauseMs);
    return result;
}

}  // namespace

namespace zr::commands {

int sysFastSet(Call& call, int address, int length, const uint8_t* data) {
    return fastSet(call, kSysSet, address, length, data);
}

}  // namespace zr::commands

extern "C" {

ZR_API int ZR_CALL ZRSysQuery(int port, int address, int len, unsigned char* out) {
    return withCall(port, [&](Call& call) {
        // The count is a byte: its low byte is checked, sent and copied.
        const int count = len & 0xFF;
        if (count > kMaxSysCount) return ZR_ERR_LENGTH;
        if (count > 0 && !out) return ZR_ERR_ARGUMENT;
        return query(call, kSysQuery, address, count, kTcpMinimum, out);
    });
}

ZR_API int ZR_CALL ZRTagQuery(int port, int address, int len, unsigned char* out) {
    return withCall(port, [&](Call& call) {
        const int count = len & 0xFF;
        if (count > kMaxTagQueryCount) return ZR_ERR_LENGTH;
        if (count > 0 && !out) return ZR_ERR_ARGUMENT;
        // Over TCP only a reply carrying all `count` bytes is taken.
        return query(call, kTagQuery, address, count, count + 4, out);
    });
}

ZR_API int ZR_CALL ZRSysSet(int port, int address, int len, const unsigned char* data) {
    return withCall(port, [&](Call& call) {
        if (len > kMaxSysCount) return ZR_ERR_LENGTH;
        // Over TCP, or with nothing to write, the data is never read.
        if (call.kind() == link::LinkKind::Tcp || len <= 0) return ZR_NOTHING;
        if (!data) return ZR_ERR_ARGUMENT;
        // Every byte is sent whatever became of the ones before; the first
        // byte that did not succeed decides the result.
        int result = ZR_OK;
        for (int i = 0; i < len; ++i) {
            // Only the low 16 bits of the address are sent; unsigned, so any start address is safe.
            const int byteResult = sysSetByte(call, static_cast<unsigned>(address) + static_cast<unsigned>(i), data[i]);
            if (result == ZR_OK) result = byteResult;
        }
        return result;
    });
}

ZR_API int ZR_CALL ZRSysFastSet(int port, int address, int len, const unsigned char* data) {
    return withCall(port, [&](Call& call) {
        if (len < 0 || len > kMaxSysCount) return ZR_ERR_LENGTH;
        if (len > 0 && !data) return ZR_ERR_ARGUMENT;
        return commands::sysFastSet(call, address, len, data);
    });
}

ZR_API int ZR_CALL ZRTagFastSet(int port, int address, int len, const unsigned char* data) {
    return withCall(port, [&](Call& call) {
        if (len < 0 || len > kMaxTagSetCount) return ZR_ERR_LENGTH;
        if (len > 0 && !data) return ZR_ERR_ARGUMENT;
        return fastSet(call, kTagSet, address, len, data);
    });
}

}  // extern "C"
