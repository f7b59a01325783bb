// The reader's report filters: the tag filter (0x8E) and the time filter
// (0x8F), each set (operation 0) or cancelled (operation 1).
#include "protocol/exchange.h"

using namespace zr;

namespace {

constexpr uint8_t kTagFilter = 0x8E;
constexpr uint8_t kTimeFilter = 0x8F;
constexpr uint8_t kSet = 0;
constexpr uint8_t kCancel = 1;
constexpr int kFieldBytes = 12;

// Every filter command: flush, send, up to read tries × 10 ms for a reply
// echoing the code, then the length check and the status mapping. The
// operation the reply echoes is not looked at.
int filterCommand(Call& call, const Packet& request) {
    call.flush();
    return call.command(request, {.tries = call.readTries(), .pauseMs = 10}, {.lengthCheck = true});
}

}  // namespace

extern "C" {

ZR_API int ZR_CALL ZRSetTagFilter(int port, const unsigned char* first12, const unsigned char* second12) {
    return withCall(port, [&](Call& call) {
        if (!first12 || !second12) return ZR_ERR_ARGUMENT;
        return filterCommand(call,
                             Packet(kTagFilter).byte(kSet).bytes(first12, kFieldBytes).bytes(second12, kFieldBytes));
    });
}

ZR_API int ZR_CALL ZRCancelTagFilter(int port) {
    return withCall(port, [](Call& call) { return filterCommand(call, Packet(kTagFilter).byte(kCancel)); });
}

ZR_API int ZR_CALL ZRSetTimeFilter(int port, const unsigned char* time2) {
    return withCall(port, [&](Call& call) {
        if (!time2) return ZR_ERR_ARGUMENT;
        return filterCommand(call, Packet(kTimeFilter).byte(kSet).bytes(time2, 2));
    });
}

ZR_API int ZR_CALL ZRCancelTimeFilter(int port) {
    return withCall(port, [](Call& call) { return filterCommand(call, Packet(kTimeFilter).byte(kCancel)); });
}

}  // extern "C"
