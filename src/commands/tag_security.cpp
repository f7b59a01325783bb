// Tag passwords, locking and destruction. Each export sends one command
// carrying the tag's current password and polls for its acknowledgement;
// the library holds and checks no password itself.
#include "protocol/exchange.h"

using namespace zr;

namespace {

constexpr uint8_t kSetAccessPassword = 0x88;
constexpr uint8_t kSetDestroyPassword = 0x89;
constexpr uint8_t kLockData = 0x8A;
constexpr uint8_t kDestroy = 0x8B;

constexpr int kPasswordBytes = 4;
constexpr int kPauseMs = 10;
constexpr int kHighestLockSelector = 5;
// Most words a destroy packet can carry: 256 bytes minus its 8 fixed bytes, halved.
constexpr int kMostDestroyWords = 124;

// Flush, send once, poll read tries × 10 ms for the reply echoing the code,
// then judge it with the length check. Nothing is copied back.
int acknowledged(Call& call, const Packet& request) {
    call.flush();
    return call.command(request, {.tries = call.readTries(), .pauseMs = kPauseMs}, {.lengthCheck = true});
}

// Both password commands: lead, current password, new password.
int setPassword(int port, uint8_t code, int lead, const unsigned char* password, const unsigned char* newPassword) {
    return withCall(port, [&](Call& call) {
        if (!password || !newPassword) return ZR_ERR_ARGUMENT;
        return acknowledged(
            call, Packet(code).byte(lead).bytes(password, kPasswordBytes).bytes(newPassword, kPasswordBytes));
    });
}

}  // namespace

extern "C" {

ZR_API int ZR_CALL ZRSetVisitPWD(int port, int lead, const unsigned char* password,
                                 const unsigned char* newPassword) {
    return setPassword(port, kSetAccessPassword, lead, password, newPassword);
}

ZR_API int ZR_CALL ZRSetDestroyPWD(int port, int lead, const unsigned char* password,
                                   const unsigned char* newPassword) {
    return setPassword(port, kSetDestroyPassword, lead, password, newPassword);
}

ZR_API int ZR_CALL ZRSetDataLocked(int port, int lead, const unsigned char* password, int lockFlag,
                                   int lockSelector) {
    return withCall(port, [&](Call& call) {
        const int flag = lockFlag & 0xFF;
        const int selector = lockSelector & 0xFF;
        if (flag > 1 || selector > kHighestLockSelector) return ZR_ERR_ARGUMENT;
        if (!password) return ZR_ERR_ARGUMENT;
        return acknowledged(call,
                            Packet(kLockData).byte(lead).bytes(password, kPasswordBytes).byte(flag).byte(selector));
    });
}

ZR_API int ZR_CALL ZRSetDestroyTag(int port, int lead, const unsigned char* password, int words,
                                   const unsigned char* data) {
    return withCall(port, [&](Call& call) {
        // The word count is not sent: the reader learns it from the length field.
        const int count = words & 0xFF;
        if (count > kMostDestroyWords) return ZR_ERR_LENGTH;
        if (!password || (count > 0 && !data)) return ZR_ERR_ARGUMENT;
        return acknowledged(call, Packet(kDestroy).byte(lead).bytes(password, kPasswordBytes).bytes(data, 2 * count));
    });
}

}  // extern "C"
