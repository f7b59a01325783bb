// Extended inventories: long, user-defined, EPC and TID. Each is a pair: a
// start export that sends one Command packet and returns its send count, and
// a report export that collects one reply without sending anything.
#include "protocol/exchange.h"

using namespace zr;

namespace {

constexpr uint8_t kLongInventory = 0x49;
constexpr uint8_t kUserInventory = 0x4A;
constexpr uint8_t kEpcInventory = 0x81;
constexpr uint8_t kTidInventory = 0x82;

// Long and user reports: the reader's code is not looked at here (the TCP
// link does not filter it), a non-zero Status byte is refused with -8 and the
// Status byte and data go to `out`.
int collectFromStatus(int port, uint8_t code, uint8_t* out) {
    return withCall(port, [&](Call& call) {
        if (!out) return ZR_ERR_ARGUMENT;
        call.flush();
        Reply reply;
        call.receiveOnce(reply, code, 6);
        const int length = reply.lengthField();
        if (reply.count < 6) return ZR_NOTHING;
        if (length >= reply.count) return ZR_ERR_NO_REPLY;
        if (!reply.lengthMatches()) return ZR_NOTHING;
        if (length <= 1) return ZR_NOTHING;
        if (reply.status() != 0) return ZR_ERR_REPORT_STATUS;
        copyOut(reply, 3, length - 1, out);
        return ZR_OK;
    });
}

// EPC and TID reports: a reply to another command gives -20, a non-zero
// Status byte its mapped result, and the whole packet from its length field
// on (without the Frame CRC) goes to `out`.
int collectWholePacket(int port, uint8_t code, uint8_t* out) {
    return withCall(port, [&](Call& call) {
        if (!out) return ZR_ERR_ARGUMENT;
        call.flush();
        Reply reply;
        call.receiveOnce(reply, code, 4);
        const int length = reply.lengthField();
        if (reply.count < 6) return ZR_NOTHING;
        if (reply.code() != code) return ZR_ERR_UNKNOWN_STATUS;
        if (!reply.lengthMatches()) return ZR_ERR_NO_REPLY;
        if (length <= 1) return ZR_NOTHING;
        const int result = mapStatus(reply.status());
        if (result == ZR_OK) copyOut(reply, 0, length + 2, out);
        return result;
    });
}

}  // namespace

extern "C" {

// The first two caller bytes go out swapped: param2, then param1.
ZR_API int ZR_CALL ZRLongIdentify(int port, int param1, int param2, int param3) {
    return startCommand(port, Packet(kLongInventory).byte(param2).byte(param1).byte(param3));
}

ZR_API int ZR_CALL ZRLongReport(int port, unsigned char* out) { return collectFromStatus(port, kLongInventory, out); }

// param2 and param1 swapped as in the long inventory, then the reader-specific
// bytes of the latest ZROpen, then param3..param6.
ZR_API int ZR_CALL ZRUserIdentify(int port, int param1, int param2, int param3, int param4, int param5,
                                  int param6) {
    return withCall(port, [&](Call& call) {
        const config::ReaderSettings& s = call.settings();
        Packet request(kUserInventory);
        request.byte(param2).byte(param1);
        request.byte(s.scanTries).byte(s.repeatDatas).byte(s.readTimeout);
        request.byte(s.especialAddress).byte(s.especialLength).bytes(s.especialData, sizeof s.especialData);
        request.byte(param3).byte(param4).byte(param5).byte(param6);
        call.flush();
        return call.sendOnly(request);
    });
}

ZR_API int ZR_CALL ZRUserReport(int port, unsigned char* out) { return collectFromStatus(port, kUserInventory, out); }

ZR_API int ZR_CALL ZRIdentifyEpcCode(int port, int param1, int param2, int param3) {
    return startCommand(port, Packet(kEpcInventory).byte(param1).byte(param2).byte(param3));
}

ZR_API int ZR_CALL ZREpcCodeReport(int port, unsigned char* out) { return collectWholePacket(port, kEpcInventory, out); }

// The four extra bytes follow the parameters in memory order.
ZR_API int ZR_CALL ZRIdentifyTIDCode(int port, int param1, int param2, int param3, const unsigned char* extra4) {
    return withCall(port, [&](Call& call) {
        if (!extra4) return ZR_ERR_ARGUMENT;
        call.flush();
        return call.sendOnly(Packet(kTidInventory).byte(param1).byte(param2).byte(param3).bytes(extra4, 4));
    });
}

ZR_API int ZR_CALL ZRTIDCodeReport(int port, unsigned char* out) { return collectWholePacket(port, kTidInventory, out); }

}  // extern "C"
