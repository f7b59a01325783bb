// Device class query, test mode, read configuration and the interference
// setting. Every export here flushes the port on entry.
#include <cstring>

#include "protocol/exchange.h"

using namespace zr;

namespace {

constexpr uint8_t kSysQuery = 0x62;
constexpr uint8_t kTestMode = 0x67;
constexpr uint8_t kReadCfg = 0x64;

// The device class is system parameter address 0x21, four bytes.
constexpr int kDeviceClassAddress = 0x21;
constexpr int kDeviceClassBytes = 4;

// The interference commands have one code for device class 3 and another
// for the other classes.
struct InterfereCodes {
    uint8_t class3;
    uint8_t other;
};
constexpr InterfereCodes kSetInterfere{0x6A, 0x4B};
constexpr InterfereCodes kGetInterfere{0x6B, 0x4C};
constexpr InterfereCodes kCloseInterfere{0x6C, 0x4D};

uint8_t interfereCode(InterfereCodes codes) { return deviceClass() == 3 ? codes.class3 : codes.other; }

// The exchange of the read configuration and interference commands: read
// tries of 20 ms, leaving at the first reply of at least 6 bytes. Serial and
// USB receive only replies to `request`; over TCP any reply of the right
// length is taken. Acceptance: at least 6 bytes and the length check, then
// the status mapping.
int pollByLength(Call& call, const Packet& request, int tcpMinimum, Reply& reply) {
    call.poll(request, {.tries = call.readTries(), .pauseMs = 20, .tcpMinimum = tcpMinimum, .stopOnEcho = false},
              reply);
    if (reply.count < 6 || !reply.lengthMatches()) return ZR_ERR_NO_REPLY;
    return mapStatus(reply.status());
}

}  // namespace

extern "C" {

ZR_API int ZR_CALL ZRGetDeviceClass(int port, int* out) {
    return withCall(port, [&](Call& call) {
        if (!out) return ZR_ERR_ARGUMENT;
        call.flush();
        Reply reply;
        call.poll(Packet(kSysQuery).byte(kDeviceClassAddress).byte(0), {.tries = call.readTries(), .pauseMs = 10},
                  reply);
        const int result = judge(reply, kSysQuery);
        // Reply bytes 4..7 in memory order (byte 4 at the lowest address).
        // The library's own device class is not changed.
        if (result == ZR_OK) copyPacketData(reply, 4, kDeviceClassBytes, reinterpret_cast<uint8_t*>(out));
        return result;
    });
}

ZR_API int ZR_CALL ZRTestModeSet(int port, int value) {
    return withCall(port, [&](Call& call) {
        if ((value & 0xFF) > 4) return ZR_ERR_ARGUMENT;
        call.flush();
        return call.command(Packet(kTestMode).byte(value), {.tries = call.writeTries(), .pauseMs = 5},
                            {.lengthCheck = true});
    });
}

ZR_API int ZR_CALL ZRSetReadCfg(int port, int value, int value2) {
    return withCall(port, [&](Call& call) {
        const int mode = value & 0xFF, mode2 = value2 & 0xFF;
        if (mode < 1 || mode > 4 || mode2 < 1 || mode2 > 2) return ZR_ERR_ARGUMENT;
        call.flush();
        Reply reply;
        const Packet request = Packet(kReadCfg).byte(call.settings().antennaControl).byte(value).byte(value2);
        return pollByLength(call, request, 7, reply);
    });
}

ZR_API int ZR_CALL ZRSetInterfere(int port, const unsigned char* data) {
    return withCall(port, [&](Call& call) {
        if (!data) return ZR_ERR_ARGUMENT;
        call.flush();
        Reply reply;
        const Packet request =
            Packet(interfereCode(kSetInterfere)).byte(data[0]).byte(data[1]).byte(call.settings().antennaControl);
        return pollByLength(call, request, 6, reply);
    });
}

ZR_API int ZR_CALL ZRGetInterfere(int port, unsigned char* out) {
    return withCall(port, [&](Call& call) {
        if (!out) return ZR_ERR_ARGUMENT;
        call.flush();
        Reply reply;
        const Packet request = Packet(interfereCode(kGetInterfere)).byte(call.settings().antennaControl);
        const int result = pollByLength(call, request, 9, reply);
        // The first data byte is skipped; the setting is the next two.
        if (result == ZR_OK) copyPacketData(reply, 5, 2, out);
        return result;
    });
}

ZR_API int ZR_CALL ZRCloseInterfere(int port) {
    return withCall(port, [&](Call& call) {
        call.flush();
        Reply reply;
        return pollByLength(call, Packet(interfereCode(kCloseInterfere)), 6, reply);
    });
}

}  // extern "C"
