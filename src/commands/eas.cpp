// The EAS alarm (flag, start, report, end) and the two EU conformance tests.
#include "protocol/exchange.h"

using namespace zr;

namespace {

constexpr uint8_t kEasFlag = 0x8C;
constexpr uint8_t kEasAlarm = 0x8D;
constexpr uint8_t kEuTest = 0x66;

constexpr uint8_t kAlarmStart = 1;
constexpr uint8_t kAlarmEnd = 0;
// The alarm commands carry three parameter bytes (length field 4, 6 bytes
// sent): value, start or end, and a last byte that carries nothing and is
// always sent as 0.
constexpr uint8_t kAlarmLastByte = 0;

Packet alarmPacket(int value, uint8_t startOrEnd) {
    return Packet(kEasAlarm).byte(value).byte(startOrEnd).byte(kAlarmLastByte);
}

// Ending the alarm may take a while: ten times the read tries.
constexpr int kEndTriesPerReadTry = 10;
constexpr int kEndPauseMs = 20;
constexpr int kEuTestMaxBytes = 52;

// The reply to a start or an alarm message: no 0x8D reply → 0; a length
// field that disagrees with the count → -4; no Status byte → `noStatus`;
// otherwise the status mapping.
int judgeAlarm(const Reply& reply, int noStatus) {
    if (!reply.echoes(kEasAlarm)) return ZR_NOTHING;
    const int length = reply.lengthField();
    if (length >= reply.count || !reply.lengthMatches()) return ZR_ERR_NO_REPLY;
    if (length <= 1) return noStatus;
    return mapStatus(reply.status());
}

// The alarm-end flag: byte 5 of the packet, set to 1. A reply too short to
// carry it (its byte 5 would be a CRC byte) has no flag.
bool alarmEndFlag(const Reply& reply) { return reply.count - 2 > 5 && reply.bytes[5] == 1; }

// The end wait stops only at a 0x8D reply of exactly 6 bytes, or of exactly
// 8 bytes carrying the alarm-end flag.
bool endsAlarmWait(const Reply& reply) {
    return reply.echoes(kEasAlarm) && (reply.count == 6 || (reply.count == 8 && alarmEndFlag(reply)));
}

// 0..52 bytes of test data.
bool euTestLengthAllowed(int len) { return len >= 0 && len <= kEuTestMaxBytes; }

Poll euTestPoll(const Call& call) { return {.tries = call.readTries(), .pauseMs = 10}; }

}  // namespace

extern "C" {

ZR_API int ZR_CALL ZRConfigEASflag(int port, int value, const unsigned char* flag4, int tail) {
    return withCall(port, [&](Call& call) {
        if (!flag4) return ZR_ERR_ARGUMENT;
        call.flush();
        return call.command(Packet(kEasFlag).byte(value).bytes(flag4, 4).byte(tail),
                            {.tries = call.readTries(), .pauseMs = 20}, {.lengthCheck = true});
    });
}

// A silent reader gives 0, not -4; a reply without a Status byte gives the
// send count.
ZR_API int ZR_CALL ZRStartEASAlarm(int port, int value) {
    return withCall(port, [&](Call& call) {
        call.flush();
        Reply reply;
        const int sent = call.poll(alarmPacket(value, kAlarmStart), {.tries = call.readTries(), .pauseMs = 10}, reply);
        return judgeAlarm(reply, sent);
    });
}

ZR_API int ZR_CALL ZREASAlarmReport(int port) {
    return withCall(port, [](Call& call) {
        call.flush();
        Reply reply;
        call.receiveOnce(reply, kEasAlarm, 4);
        return judgeAlarm(reply, ZR_NOTHING);
    });
}

// Status 0 counts as ended only with the alarm-end flag; without it -5.
ZR_API int ZR_CALL ZREndEASAlarm(int port, int value) {
    return withCall(port, [&](Call& call) {
        call.flush();
        call.sendOnly(alarmPacket(value, kAlarmEnd));
        Reply reply;
        const int tries = kEndTriesPerReadTry * call.readTries();
        for (int attempt = 0; attempt < tries; ++attempt) {
            call.pause(kEndPauseMs);
            call.receiveOnce(reply, kEasAlarm, 4);
            if (endsAlarmWait(reply)) break;
        }
        if (!reply.echoes(kEasAlarm) || !reply.lengthMatches()) return ZR_ERR_NO_REPLY;
        if (reply.status() != 0) return mapStatus(reply.status());
        return alarmEndFlag(reply) ? ZR_OK : ZR_ERR_ARGUMENT;
    });
}

// The port is not flushed. On status 0, `len` bytes of the reply's data go
// to `out`; the reply's length field is not compared with the count.
ZR_API int ZR_CALL ZREUDoorTest(int port, int value, int len, int mode, unsigned char* out) {
    return withCall(port, [&](Call& call) {
        if (!euTestLengthAllowed(len)) return ZR_ERR_LENGTH;
        if (len > 0 && !out) return ZR_ERR_ARGUMENT;
        Reply reply;
        call.poll(Packet(kEuTest).byte(value).byte(mode), euTestPoll(call), reply);
        const int result = judge(reply, kEuTest);
        if (result == ZR_OK) copyPacketData(reply, 4, len, out);
        return result;
    });
}

// The port is not flushed; the reply's length field is not compared with the count.
ZR_API int ZR_CALL ZREUFreqTest(int port, int value, int len, const unsigned char* data) {
    return withCall(port, [&](Call& call) {
        if (!euTestLengthAllowed(len)) return ZR_ERR_LENGTH;
        if (len > 0 && !data) return ZR_ERR_ARGUMENT;
        Reply reply;
        call.poll(Packet(kEuTest).byte(value).bytes(data, static_cast<size_t>(len)), euTestPoll(call), reply);
        return judge(reply, kEuTest);
    });
}

}  // extern "C"
