// The simulated reader's behaviour, free of links and I/O: one request
// packet in, the packets the reader sends back out. A model is safe to use
// from the server thread and from a test thread at once (one lock).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tags.h"

namespace zrsim {

// An unprotected packet: length field, command code, then status and data
// (replies) or parameters (requests). The link adds the CRC and framing.
using Packet = std::vector<uint8_t>;

// Status bytes the simulated reader answers with (documented in docs/zrsim.md).
namespace status {
constexpr uint8_t kOk = 0x00;
constexpr uint8_t kBadLength = 0x01;        // request length does not fit the command
constexpr uint8_t kUnknownCommand = 0x02;   // no such command code
constexpr uint8_t kNoTag = 0x11;            // tag ID or EPC not in the field, or tag destroyed
constexpr uint8_t kWrongPassword = 0x12;
constexpr uint8_t kLocked = 0x13;           // area locked
constexpr uint8_t kOutOfRange = 0x14;       // address or count beyond the memory or table
constexpr uint8_t kBadValue = 0x15;         // parameter value the reader does not take
constexpr uint8_t kNotDestroyable = 0x16;   // destroy refused: tag not destroyable or zero destroy password
constexpr uint8_t kRfOff = 0x22;            // tag command while the RF is off
}  // namespace status

// System parameter addresses with more than one byte. Every other address
// 0..255 holds one byte; a query or set runs over the bytes of consecutive
// addresses (see docs/zrsim.md).
constexpr uint8_t kParamPower = 0x03;        // 2 bytes
constexpr uint8_t kParamMac = 0x05;          // 6 bytes
constexpr uint8_t kParamNetwork = 0x06;      // 12 bytes: IP, mask, gateway
constexpr uint8_t kParamDeviceClass = 0x21;  // 4 bytes: class, 3 reserved
size_t systemParamOffset(unsigned address);
size_t systemParamSize(unsigned address);
constexpr size_t kSystemParamBytes = 256 + 1 + 5 + 11 + 3;
constexpr size_t kQueryAllCount = 50;        // bytes answered to a system query with count 0

// Command name for traces ("tag read", ...); "unknown" when none.
const char* commandName(uint8_t code, size_t requestLength = 0);

struct TagFilter {
    bool active = false;
    std::array<uint8_t, 12> value{};
    std::array<uint8_t, 12> mask{};
};

struct ListenMessage {
    std::array<uint8_t, 8> first8{};
    uint8_t byte12 = 0;
};

struct ReaderState {
    std::vector<Tag> tags;
    int selected = -1;                       // index into tags, -1: none

    std::vector<uint8_t> systemParams;       // kSystemParamBytes
    std::array<uint8_t, 256> tagParams{};

    bool rfOn = true;
    uint8_t powerOnValue = 0;
    uint8_t ioOutputs = 0;
    uint8_t ioInputs = 0;
    std::array<uint8_t, 6> clock{};          // YY MM DD hh mm ss, as last set
    int64_t clockSetAtMs = 0;
    uint8_t clockExtra = 0;
    uint8_t fixedNumber = 0;
    uint8_t testMode = 0;
    std::array<uint8_t, 3> readConfig{};     // antenna control, value, value2
    bool interferenceOn = false;
    std::array<uint8_t, 2> interference{};
    uint8_t epcPrintPower = 0;
    uint8_t dataReturn[2] = {};
    std::vector<uint8_t> codeBytes;          // last code sending command
    int codeSendings = 0;
    int upgrades = 0;
    int resets = 0;
    std::vector<uint8_t> euTestData;         // last EU frequency test data

    uint8_t easValue = 0;                    // EAS flag configuration
    std::array<uint8_t, 4> easFlag{};
    uint8_t easTail = 0;
    bool alarmRunning = false;
    uint8_t alarmValue = 0;
    int alarmIntervalMs = 500;
    int64_t nextAlarmMs = 0;
    uint8_t alarmSequence = 0;

    TagFilter tagFilter;
    bool timeFilterActive = false;
    uint16_t timeFilter = 0;                 // units of 100 ms
    std::map<size_t, int64_t> lastReportedMs;

    int listenIntervalMs = 0;                // 0: only on demand
    int64_t nextListenMs = 0;
    uint8_t listenSequence = 0;
    std::vector<ListenMessage> unacknowledged;
    int acksAccepted = 0;
    int acksRejected = 0;                    // acknowledgements with status 0x3F
    int acksUnmatched = 0;                   // status 0 but bytes of no message sent

    std::map<uint8_t, int> requestsByCode;

    ReaderState();
    uint8_t deviceClass() const { return systemParams[systemParamOffset(kParamDeviceClass)]; }
    std::vector<uint8_t> power() const;
};

// What the reader sends, with why (for the trace and for routing).
enum class Origin { Reply, Report, Alarm, Listen };
struct Outgoing {
    Packet packet;
    Origin origin = Origin::Reply;
};

class ReaderModel {
public:
    explicit ReaderModel(std::vector<Tag> tags = {});

    // One request packet (CRC already checked and removed). Returns what the
    // reader sends in answer, in order: the reply, and for start commands
    // the reports. Requests shorter than 3 bytes get nothing.
    std::vector<Outgoing> handle(const Packet& request, int64_t nowMs);

    // Messages due at `nowMs` on the reader's own initiative: EAS alarm
    // messages while the alarm runs, 0xA1 messages on the listen timer.
    std::vector<Outgoing> tick(int64_t nowMs);

    // A 0xA1 message now, on demand; it waits for its acknowledgement.
    Packet listenMessage(int64_t nowMs);

    // The reply a request would get with status `st` and no effect, shaped
    // so that the export receiving it accepts its length.
    static Packet statusReply(const Packet& request, uint8_t st);

    // Inspect or change the state under the model's lock.
    template <class F>
    auto withState(F&& f) {
        std::lock_guard<std::mutex> lock(mutex_);
        return f(state_);
    }

    // The clock as the reader reads it at `nowMs`.
    static std::array<uint8_t, 6> clockAt(const ReaderState& s, int64_t nowMs);

private:
    std::mutex mutex_;
    ReaderState state_;
};

// Builds a reply: length field, code, status, data.
Packet makeReply(uint8_t code, uint8_t st, const std::vector<uint8_t>& data = {});

}  // namespace zrsim
