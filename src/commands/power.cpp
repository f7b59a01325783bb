// Power, RF and frequency: power on and off, the frequency block, the two
// power bytes.
#include "protocol/exchange.h"

using namespace zr;

namespace {

constexpr uint8_t kPowerOn = 0x60;
constexpr uint8_t kPowerOff = 0x61;
constexpr uint8_t kSysQuery = 0x62;
constexpr uint8_t kSysSet = 0x63;

// The power setting: two bytes at system parameter address 3.
constexpr int kPowerAddress = 3;
constexpr int kPowerBytes = 2;

// Counts above this are refused with -15.
constexpr int kMaxCount = 52;
// ZRFreqQuery hands over the first 54 bytes of the reply, header included.
constexpr int kFreqBlockBytes = 54;

}  // namespace

extern "C" {

ZR_API int ZR_CALL ZRPowerOn(int port, int value) {
    return withCall(port, [&](Call& call) {
        call.flush();
        return call.command(Packet(kPowerOn).byte(value), {.tries = call.writeTries(), .pauseMs = 10},
                            {.lengthCheck = true});
    });
}

ZR_API int ZR_CALL ZRPowerOff(int port) {
    return withCall(port, [&](Call& call) {
        call.flush();
        const int result = call.command(Packet(kPowerOff), {.tries = call.writeTries(), .pauseMs = 5},
                                        {.lengthCheck = true});
        call.flush();
        return result;
    });
}

ZR_API int ZR_CALL ZRFreqQuery(int port, int address, int len, unsigned char* out) {
    return withCall(port, [&](Call& call) {
        // Only the low byte of the count is checked; the packet carries 0.
        if ((len & 0xFF) > kMaxCount) return ZR_ERR_LENGTH;
        if (!out) return ZR_ERR_ARGUMENT;
        Reply reply;
        call.poll(Packet(kSysQuery).byte(address).byte(0), {.tries = call.readTries(), .pauseMs = 10}, reply);
        const int result = judge(reply, kSysQuery);
        if (result == ZR_OK) copyPacketData(reply, 0, kFreqBlockBytes, out);
        return result;
    });
}

ZR_API int ZR_CALL ZRPowerSet(int port, int /*ignored*/, int len, int byte1, int byte2) {
    return withCall(port, [&](Call& call) {
        // The count is checked as a signed int and not sent.
        if (len > kMaxCount) return ZR_ERR_LENGTH;
        return call.command(Packet(kSysSet).byte(kPowerAddress).byte(kPowerBytes).byte(byte1).byte(byte2),
                            {.tries = call.writeTries(), .pauseMs = 5});
    });
}

ZR_API int ZR_CALL ZRPowerQuery(int port, int /*ignored*/, int len, unsigned char* out) {
    return withCall(port, [&](Call& call) {
        if (len > kMaxCount) return ZR_ERR_LENGTH;
        if (len > 0 && !out) return ZR_ERR_ARGUMENT;
        Reply reply;
        call.poll(Packet(kSysQuery).byte(kPowerAddress).byte(0), {.tries = call.readTries(), .pauseMs = 20}, reply);
        const int result = judge(reply, kSysQuery);
        if (result == ZR_OK) copyPacketData(reply, 4, len, out);
        return result;
    });
}

}  // extern "C"
