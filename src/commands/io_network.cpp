// I/O control, MAC address, network address (with its write-back to the
// configuration file) and code sending.
#include <cstring>

#include "commands/parameters.h"
#include "config/settings.h"

using namespace zr;

namespace {

constexpr uint8_t kIOControlSet = 0xD1;
constexpr uint8_t kIOControlQuery = 0xD2;
constexpr uint8_t kSysSet = 0x63;
constexpr uint8_t kCodeSending = 0x5F;

// System parameter addresses of the MAC address and of the network address
// block (address, subnet mask and gateway, four bytes each).
constexpr int kMacAddress = 5;
constexpr int kNetAddress = 6;
constexpr int kNetBlockBytes = 12;

constexpr int kMaxCount = 52;
// Code bytes that fit the Command packet behind its length field and code.
constexpr int kMaxCodeBytes = 253;
constexpr int kCodeAttempts = 3;
constexpr int kCodePauseMs = 50;
constexpr int kCodeTcpMinimum = 6;

// Parses a dotted address of exactly four decimal parts of one to three
// digits, each at most 255, into `out`. False for anything else (no other
// characters, no blanks, no signs).
bool parseDottedAddress(const char* text, uint8_t* out) {
    int parts = 0, digits = 0, value = 0;
    for (const char* p = text;; ++p) {
        if (*p >= '0' && *p <= '9') {
            if (++digits > 3) return false;
            value = value * 10 + (*p - '0');
            continue;
        }
        if (*p != '.' && *p != '\0') return false;
        if (digits == 0 || value > 255 || parts == 4) return false;
        out[parts++] = static_cast<uint8_t>(value);
        if (*p == '\0') return parts == 4;
        digits = value = 0;
    }
}

// A section name that can be written as a header line: not empty, no line
// break (which would split the header and corrupt the file).
bool writableSection(const char* section) {
    return section && *section && !std::strpbrk(section, "\r\n");
}

// One attempt of ZRCodeSending after its send: pause, one receive, verdict
// (0 when nothing acceptable came back).
int codeAttempt(Call& call) {
    call.pause(kCodePauseMs);
    Reply reply;
    call.receiveOnce(reply, kCodeSending, kCodeTcpMinimum);
    if (!reply.echoes(kCodeSending)) return ZR_NOTHING;
    const int result = mapStatus(reply.status());
    if (result != ZR_OK) call.pause(kCodePauseMs);
    return result;
}

}  // namespace

extern "C" {

ZR_API int ZR_CALL ZRIOControlSet(int port, int value, int value2) {
    return withCall(port, [&](Call& call) {
        return call.command(Packet(kIOControlSet).byte(value).byte(value2), {.tries = call.writeTries(), .pauseMs = 5});
    });
}

ZR_API int ZR_CALL ZRIOControlQuery(int port, int value, unsigned char* out) {
    return withCall(port, [&](Call& call) {
        if (!out) return ZR_ERR_ARGUMENT;
        Reply reply;
        call.poll(Packet(kIOControlQuery).byte(value), {.tries = call.readTries(), .pauseMs = 10}, reply);
        const int result = judge(reply, kIOControlQuery);
        if (result == ZR_OK) copyPacketData(reply, 4, 1, out);
        return result;
    });
}

ZR_API int ZR_CALL ZRMACSet(int port, int /*ignored*/, int len, const unsigned char* data) {
    return withCall(port, [&](Call& call) {
        if (len < 0 || len > kMaxCount) return ZR_ERR_LENGTH;
        if (len > 0 && !data) return ZR_ERR_ARGUMENT;
        return call.command(Packet(kSysSet).byte(kMacAddress).byte(len).bytes(data, static_cast<size_t>(len)),
                            {.tries = call.writeTries(), .pauseMs = 5});
    });
}

// 1 when the reader took the new address and it was written into the
// configuration file; 0 for every failure, a closed handle included.
ZR_API int ZR_CALL ZRNetAddrSet(int port, int /*ignored*/, const char* section, const char* host,
                                const char* subnet, const char* gate) {
    return withCall(
        port,
        [&](Call& call) {
            if (!writableSection(section) || !host || !subnet || !gate) return ZR_NOTHING;
            uint8_t block[kNetBlockBytes];
            if (!parseDottedAddress(host, block) || !parseDottedAddress(subnet, block + 4) ||
                !parseDottedAddress(gate, block + 8))
                return ZR_NOTHING;
            if (commands::sysFastSet(call, kNetAddress, kNetBlockBytes, block) != ZR_OK) return ZR_NOTHING;
            // The texts as passed; the settings in memory keep the address the
            // link was opened with until the next ZROpen reads the file.
            const std::string& path = call.settings().configPath;
            config::write_setting(path, section, "ZR_HOST_NAME", host);
            config::write_setting(path, section, "ZR_SUBNET", subnet);
            config::write_setting(path, section, "ZR_GATE", gate);
            return ZR_OK;
        },
        ZR_NOTHING);
}

// Sends the code bytes three times, each followed by one receive; the third
// attempt decides the result (1, 0 or the reader's status mapped).
ZR_API int ZR_CALL ZRCodeSending(int port, int len, int /*ignored*/, const unsigned char* data) {
    return withCall(
        port,
        [&](Call& call) {
            if (len < 1 || len > kMaxCodeBytes || !data) return ZR_NOTHING;
            const Packet request = Packet(kCodeSending).bytes(data, static_cast<size_t>(len));
            int result = ZR_NOTHING;
            for (int attempt = 0; attempt < kCodeAttempts; ++attempt) {
                // Only a TCP send is looked at: a send that fails ends the call.
                if (call.sendOnly(request) == 0 && call.kind() == link::LinkKind::Tcp) return ZR_NOTHING;
                result = codeAttempt(call);
            }
            return result;
        },
        ZR_NOTHING);
}

}  // extern "C"
