// Reader maintenance: a one-byte setting, the reader's state, clock and fixed
// number, the upgrade command, and the messages the reader sends on its own.
#include "protocol/exchange.h"

using namespace zr;

namespace {

constexpr uint8_t kEpcPrintPower = 0x6D;
constexpr uint8_t kUpgrade = 0x6B;
constexpr uint8_t kReaderState = 0xA0;
constexpr uint8_t kReaderMessage = 0xA1;
constexpr uint8_t kReaderTime = 0xA2;
constexpr uint8_t kSetFixedNumber = 0xA3;
constexpr uint8_t kGetFixedNumber = 0xA4;

// The replies of these commands are judged by size, not by the code they
// echo: the wait ends at the first receive of 6 bytes or more. Serial and USB
// only deliver the expected code; TCP delivers packets of at least 11 bytes.
constexpr int kTcpMinimum = 9;

// One try, 50 ms after the request.
Poll singleTry() { return {.tries = 1, .pauseMs = 50, .tcpMinimum = kTcpMinimum, .stopOnEcho = false}; }

// Fewer than 6 bytes, or a count other than the length field + 4: -4.
// Otherwise the status mapping (1 on status 0).
int judgeBySize(const Reply& reply) {
    if (reply.count < 6 || !reply.lengthMatches()) return ZR_ERR_NO_REPLY;
    return mapStatus(reply.status());
}

// Flush, send `request`, wait as `poll` says and judge the last reply.
int statusCommand(Call& call, const Packet& request, const Poll& poll, Reply& reply) {
    call.flush();
    call.poll(request, poll, reply);
    return judgeBySize(reply);
}

int queryFixedNumber(Call& call, Reply& reply) {
    return statusCommand(call, Packet(kGetFixedNumber), singleTry(), reply);
}

// A reader message: 00 L A1, then 16 bytes. first8 = bytes 3..10, second8 =
// bytes 11..18, byte12 = byte 12, info6 = bytes 13..18.
constexpr int kMessageTcpMinimum = 26;
constexpr int kListenPauseMs = 50;
constexpr uint8_t kMessageAccepted = 0x00;
constexpr uint8_t kMessageRejected = 0x3F;

}  // namespace

extern "C" {

ZR_API int ZR_CALL ZREpcPrintPowerOs(int port, int value) {
    return withCall(port, [&](Call& call) {
        Reply reply;
        const Poll poll{.tries = call.readTries(), .pauseMs = 20, .tcpMinimum = kTcpMinimum, .stopOnEcho = false};
        return statusCommand(call, Packet(kEpcPrintPower).byte(value), poll, reply);
    });
}

ZR_API int ZR_CALL ZRGetReaderState(int port, int value, unsigned char* state) {
    return withCall(port, [&](Call& call) {
        if (!state) return ZR_ERR_ARGUMENT;
        Reply reply;
        const int result = statusCommand(call, Packet(kReaderState).byte(value), singleTry(), reply);
        if (result == ZR_OK) copyPacketData(reply, 5, 6, state);
        return result;
    });
}

ZR_API int ZR_CALL ZRSetReaderTime(int port, int extra, const unsigned char* time) {
    return withCall(port, [&](Call& call) {
        if (!time) return ZR_ERR_ARGUMENT;
        Reply reply;
        return statusCommand(call, Packet(kReaderTime).bytes(time, 6).byte(extra), singleTry(), reply);
    });
}

ZR_API int ZR_CALL ZRSetReaderfixNO(int port, int number) {
    return withCall(port, [&](Call& call) {
        Reply reply;
        return statusCommand(call, Packet(kSetFixedNumber).byte(number), singleTry(), reply);
    });
}

// The second argument is kept for callers of the two-argument signature and not
// read; ZRGetReaderfixNOEx delivers the number itself.
ZR_API int ZR_CALL ZRGetReaderfixNO(int port, int /*second*/) {
    return withCall(port, [&](Call& call) {
        Reply reply;
        return queryFixedNumber(call, reply);
    });
}

ZR_API int ZR_CALL ZRGetReaderfixNOEx(int port, unsigned char* out, int capacity, int* length) {
    return withCall(port, [&](Call& call) {
        if (capacity < 0 || (capacity > 0 && !out)) return ZR_ERR_ARGUMENT;
        Reply reply;
        const int result = queryFixedNumber(call, reply);
        if (result != ZR_OK) return result;
        const int size = reply.lengthField() - 2;  // the data after the Status byte
        if (size > capacity) return ZR_ERR_LENGTH;
        copyOut(reply, 4, size, out);
        if (length) *length = size;
        return ZR_OK;
    });
}

ZR_API int ZR_CALL ZRUpGrade(int port) {
    return startCommand(port, Packet(kUpgrade));
}

// Takes one message the reader sent on its own and answers it: status 0x00
// and the message's first eight data bytes and byte 12 when it was taken,
// 0x3F and zeros when nothing acceptable arrived. A length field not smaller
// than the count ends the call with -4 and no answer.
ZR_API int ZR_CALL ZRListenReader(int port, int /*ignored*/, unsigned char* info6, unsigned char* first8,
                                  unsigned char* second8) {
    return withCall(port, [&](Call& call) {
        if (!info6 || !first8 || !second8) return ZR_ERR_ARGUMENT;
        call.flush();
        std::memset(info6, 0, 6);
        std::memset(first8, 0, 8);
        std::memset(second8, 0, 8);
        uint8_t byte12 = 0;

        Reply message;
        call.pause(kListenPauseMs);
        call.receiveOnce(message, kReaderMessage, kMessageTcpMinimum);
        const int length = message.lengthField();
        if (message.count >= 6 && length >= message.count) return ZR_ERR_NO_REPLY;
        // Nothing received (count 0) never matches; a bare 00 01 A1 does and
        // is taken without data.
        const bool accepted = message.lengthMatches();
        if (accepted && length > 1) {
            copyPacketData(message, 3, 8, first8);
            copyPacketData(message, 11, 8, second8);
            copyPacketData(message, 12, 1, &byte12);
            copyPacketData(message, 13, 6, info6);
        }

        call.pause(kListenPauseMs);
        call.sendOnly(Packet(kReaderMessage)
                          .byte(accepted ? kMessageAccepted : kMessageRejected)
                          .bytes(first8, 8)
                          .byte(byte12));
        return accepted ? ZR_OK : ZR_NOTHING;
    });
}

}  // extern "C"
