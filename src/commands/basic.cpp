// Basic reader commands: reset, inventory and direct read with their reports.
#include "protocol/exchange.h"

using namespace zr;

namespace {

// A collecting export: flush, receive one report carrying `code`, copy its
// Status byte and data to `out`.
int collect(int port, uint8_t code, uint8_t* out) {
    return withCall(port, [&](Call& call) {
        if (!out) return ZR_ERR_ARGUMENT;
        call.flush();
        Reply reply;
        call.receiveOnce(reply, code, 4);
        if (!reply.echoes(code)) return ZR_NOTHING;  // no report available
        const int length = reply.lengthField();
        if (length >= reply.count || !reply.lengthMatches()) return ZR_ERR_NO_REPLY;
        if (length <= 1) return ZR_NOTHING;
        const int result = mapStatus(reply.status());
        if (result == ZR_OK) copyOut(reply, 3, length - 1, out);
        return result;
    });
}

constexpr uint8_t kReset = 0x6C;
constexpr uint8_t kInventory = 0x71;
constexpr uint8_t kDirectRead = 0xD0;

}  // namespace

extern "C" {

ZR_API int ZR_CALL ZRReset(int port) { return startCommand(port, Packet(kReset)); }

ZR_API int ZR_CALL ZRIdentify(int port, int param1, int param2) {
    return startCommand(port, Packet(kInventory).byte(param1).byte(param2));
}

ZR_API int ZR_CALL ZRReport(int port, unsigned char* out) { return collect(port, kInventory, out); }

ZR_API int ZR_CALL ZRDirectRead(int port, int param1, int param2) {
    return startCommand(port, Packet(kDirectRead).byte(param1).byte(param2));
}

ZR_API int ZR_CALL ZRDirectReport(int port, unsigned char* out) { return collect(port, kDirectRead, out); }

}  // extern "C"
