// Tag selection and data return: hand the reader one tag's identity (by tag
// ID or by EPC) or the data-return setting. The library keeps no record of
// the selection; what it means for later commands is the reader's.
#include "protocol/exchange.h"

using namespace zr;

namespace {

constexpr uint8_t kDataReturn = 0x68;
constexpr uint8_t kSelectTag = 0x70;
constexpr uint8_t kSelectEpc = 0x80;

constexpr int kTagIdBytes = 8;
constexpr int kSelectPauseMs = 10;
constexpr int kDataReturnPauseMs = 50;
constexpr int kDataReturnTcpMinimum = 6;
constexpr int kHighestDataReturnValue = 4;
// Most EPC bytes a select packet can carry: 256 bytes minus its 6 fixed bytes.
constexpr int kMostEpcBytes = 250;

// Flush, send once, poll read tries × 10 ms for the reply echoing the code,
// then judge it with the length check.
int selected(Call& call, const Packet& request) {
    call.flush();
    return call.command(request, {.tries = call.readTries(), .pauseMs = kSelectPauseMs}, {.lengthCheck = true});
}

}  // namespace

extern "C" {

ZR_API int ZR_CALL ZRDataReturn(int port, int lead, int value) {
    return withCall(port, [&](Call& call) {
        if ((value & 0xFF) > kHighestDataReturnValue) return ZR_ERR_ARGUMENT;
        call.flush();
        Reply reply;
        // One try after a fixed pause; the reply is judged by its length and
        // Status byte only (over TCP it may carry another command's code).
        call.poll(Packet(kDataReturn).byte(lead).byte(value),
                  {.tries = 1, .pauseMs = kDataReturnPauseMs, .tcpMinimum = kDataReturnTcpMinimum}, reply);
        if (reply.count < 6 || !reply.lengthMatches()) return ZR_ERR_NO_REPLY;
        return mapStatus(reply.status());
    });
}

ZR_API int ZR_CALL ZRSelectTag(int port, int lead, int param1, int param2, const unsigned char* tagId) {
    return withCall(port, [&](Call& call) {
        if (!tagId) return ZR_ERR_ARGUMENT;
        return selected(call, Packet(kSelectTag).byte(lead).byte(param1).byte(param2).bytes(tagId, kTagIdBytes));
    });
}

ZR_API int ZR_CALL ZRSelectTagEPC(int port, int lead, int param1, int param2, const unsigned char* epc,
                                  int epcBytes) {
    return withCall(port, [&](Call& call) {
        const int count = epcBytes & 0xFF;
        if (count > kMostEpcBytes) return ZR_ERR_LENGTH;
        if (count > 0 && !epc) return ZR_ERR_ARGUMENT;
        return selected(call, Packet(kSelectEpc).byte(lead).byte(param1).byte(param2).bytes(epc, count));
    });
}

}  // extern "C"
