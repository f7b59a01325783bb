// EPC code and use data: writing a tag's EPC code, and reading and writing
// its use data (16-bit words under a 4-byte password).
#include "protocol/exchange.h"

using namespace zr;

namespace {

constexpr uint8_t kEpcWrite = 0x83;
constexpr uint8_t kMemoryRead = 0x84;   // also sent by ZRReadUserDataEPC in one call
constexpr uint8_t kMemoryWrite = 0x85;

constexpr int kPasswordBytes = 4;
constexpr int kPauseMs = 20;
constexpr int kLongestEpc = 12;  // EPC length argument: even, at most 12
// Most words a write packet can carry: 256 bytes minus the fixed part
// (9 bytes for the EPC write, 10 for the memory write), halved.
constexpr int kMostEpcWords = 123;
constexpr int kMostUseDataWords = 123;

// Low 8 bits of a byte argument.
int low8(int value) { return value & 0xFF; }

// Flush, send once, then pause 20 ms and receive up to the read tries until
// the reply echoing the request's code arrives. `reply` holds the last try.
void pollWrite(Call& call, const Packet& request, Reply& reply) {
    call.flush();
    call.poll(request, {.tries = call.readTries(), .pauseMs = kPauseMs}, reply);
}

}  // namespace

extern "C" {

ZR_API int ZR_CALL ZRSetEpcCode(int port, int lead, const unsigned char* password, int epcLength, int words,
                                const unsigned char* epc) {
    return withCall(port, [&](Call& call) {
        const int length = low8(epcLength);
        if (length > kLongestEpc || length % 2 != 0) return ZR_ERR_EPC_LENGTH;
        const int count = low8(words);
        if (count > kMostEpcWords) return ZR_ERR_LENGTH;
        if (!password || (count > 0 && !epc)) return ZR_ERR_ARGUMENT;
        Reply reply;
        pollWrite(call, Packet(kEpcWrite).byte(lead).bytes(password, kPasswordBytes).byte(count).bytes(epc, 2 * count),
                  reply);
        // A reply to another command (only TCP delivers one) is reported as
        // such rather than as a missing reply.
        if (reply.count < 6) return ZR_ERR_NO_REPLY;
        if (reply.code() != kEpcWrite) return ZR_ERR_UNKNOWN_STATUS;
        if (!reply.lengthMatches()) return ZR_ERR_NO_REPLY;
        return mapStatus(reply.status());
    });
}

ZR_API int ZR_CALL ZRGetUseData(int port, const unsigned char* password, int address, int words, int lead) {
    return withCall(port, [&](Call& call) {
        if (!password) return ZR_ERR_ARGUMENT;
        call.flush();
        return call.sendOnly(
            Packet(kMemoryRead).byte(lead).bytes(password, kPasswordBytes).byte(address).byte(words));
    });
}

ZR_API int ZR_CALL ZRGetUseDataReport(int port, unsigned char* out) {
    return withCall(port, [&](Call& call) {
        if (!out) return ZR_ERR_ARGUMENT;
        call.flush();
        Reply reply;
        call.receiveOnce(reply, kMemoryRead, 4);
        const int result = judge(reply, kMemoryRead, {.lengthCheck = true});
        // The whole Response packet without its CRC: length field, code,
        // Status byte, the byte before the data and the data.
        if (result == ZR_OK) copyOut(reply, 0, reply.lengthField() + 2, out);
        return result;
    });
}

ZR_API int ZR_CALL ZRSetUseData(int port, int lead, const unsigned char* password, int address, int words,
                                const unsigned char* data) {
    return withCall(port, [&](Call& call) {
        const int count = low8(words);
        if (count > kMostUseDataWords) return ZR_ERR_LENGTH;
        if (!password || (count > 0 && !data)) return ZR_ERR_ARGUMENT;
        Reply reply;
        pollWrite(call,
                  Packet(kMemoryWrite)
                      .byte(lead)
                      .bytes(password, kPasswordBytes)
                      .byte(address)
                      .byte(count)
                      .bytes(data, 2 * count),
                  reply);
        return judge(reply, kMemoryWrite, {.lengthCheck = true});
    });
}

}  // extern "C"
