// zrreader.hpp - header-only C++17 interface over the C exports of zrreader.h.
//
//     #include <zrreader.hpp>
//
//     zr::Reader reader("reader.ini", "READER");     // ZROpen; throws zr::Error
//     reader.identify(0, 0);                          // start an inventory
//     while (std::optional<zr::Bytes> report = reader.report())
//         use(*report);                               // status byte and data
//     reader.powerSet(0x1E, 0x00);
//     zr::Bytes power = reader.powerQuery();          // two bytes
//                                                     // ~Reader: ZRClose
//
// Error model
// -----------
// Every method runs one C export and turns its int result into either a
// return value or a zr::Error (derived from std::runtime_error) that carries
// the result code, its name and the library's text for it:
//
//   - result 1 (ZR_OK) is success, for every export;
//   - send-only exports (reset, identify, directRead, longIdentify,
//     userIdentify, identifyEpcCode, identifyTidCode, getUseData, upGrade)
//     return the positive send count; 0 (nothing went out) is an error;
//   - report exports whose C function returns 0 for "no report waiting"
//     (report, directReport, longReport, userReport, epcCodeReport,
//     tidCodeReport) return std::nullopt for it; easAlarmReport returns false;
//   - listenReader returns std::nullopt when no acceptable message came
//     (the reader was answered with status 0x3F);
//   - startEasAlarm returns 1, or the send count when the reader's reply
//     carried no status;
//   - every other result is thrown: negative codes, reader statuses
//     (1001..4013, named "status 0x21" after the reader's status byte), and
//     0 where an export uses it for a failure (readUserDataEpc without a
//     reply, lockUserData not sent, sysSet on TCP or with no data,
//     netAddrSet and codeSending on any failure).
//   - getUseDataReport throws ZR_ERR_NO_REPLY (-4) when the reply has not
//     arrived yet, as its C export does; catch it and call again.
//
// A few inputs that the C interface cannot express are refused by this
// header before anything is sent, also as zr::Error: a byte count that does
// not fit one byte (ZR_ERR_LENGTH), and word data of odd length
// (ZR_ERR_LENGTH). The operation of such an Error names the export.
//
// Argument order follows the C exports; only pointer-and-count pairs become
// one ByteView (a vector, an array or pointer and size) and outputs become
// return values. A "byte" argument is an int of which the low 8 bits are
// sent, as in C.
//
// Threads: as the C interface (calls on one port handle are serialised by
// the library; the reader settings and the device class are process-wide).
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "zrreader.h"

namespace zr {

using Bytes = std::vector<uint8_t>;
using TagId = std::array<uint8_t, 8>;
using Password = std::array<uint8_t, 4>;

// ---- Result codes ------------------------------------------------------------

// The reader's status byte behind a reader-status result (1001..1015,
// 2001..2007, 3001..3010, 4001..4013); nullopt for every other result.
// (-5, -7 and -20 may also come from a status byte; they are named as
// library codes because the number alone does not tell.)
inline std::optional<uint8_t> readerStatusOf(int result) {
    struct Range {
        int first, last;
        uint8_t status;
    };
    static constexpr Range kRanges[] = {
        {1001, 1009, 0x01}, {1010, 1015, 0x11}, {2001, 2007, 0x20}, {3001, 3010, 0x60}, {4001, 4013, 0x90}};
    for (const Range& r : kRanges)
        if (result >= r.first && result <= r.last) return static_cast<uint8_t>(r.status + (result - r.first));
    return std::nullopt;
}

// The name of a result code: the macro name of zrreader.h ("ZR_ERR_NO_REPLY"),
// "status 0x21" for reader statuses, "result N" for any other number.
inline std::string resultName(int result) {
    switch (result) {
        case ZR_OK: return "ZR_OK";
        case ZR_NOTHING: return "ZR_NOTHING";
        case ZR_CLOSED: return "ZR_CLOSED";
        case ZR_ERR_RANGE: return "ZR_ERR_RANGE";
        case ZR_ERR_EPC_LENGTH: return "ZR_ERR_EPC_LENGTH";
        case ZR_ERR_NO_REPLY: return "ZR_ERR_NO_REPLY";
        case ZR_ERR_ARGUMENT: return "ZR_ERR_ARGUMENT";
        case ZR_ERR_STATUS_3A: return "ZR_ERR_STATUS_3A";
        case ZR_ERR_REPORT_STATUS: return "ZR_ERR_REPORT_STATUS";
        case ZR_ERR_FAMILY: return "ZR_ERR_FAMILY";
        case ZR_ERR_ALREADY_OPEN: return "ZR_ERR_ALREADY_OPEN";
        case ZR_ERR_CONFIG: return "ZR_ERR_CONFIG";
        case ZR_ERR_CONNECT_TIMEOUT: return "ZR_ERR_CONNECT_TIMEOUT";
        case ZR_ERR_OPEN: return "ZR_ERR_OPEN";
        case ZR_ERR_LENGTH: return "ZR_ERR_LENGTH";
        case ZR_ERR_UNKNOWN_STATUS: return "ZR_ERR_UNKNOWN_STATUS";
        case ZR_ERR_CLOSE: return "ZR_ERR_CLOSE";
        default: break;
    }
    if (std::optional<uint8_t> status = readerStatusOf(result)) {
        static const char kDigits[] = "0123456789ABCDEF";
        return std::string("status 0x") + kDigits[*status >> 4] + kDigits[*status & 15];
    }
    return "result " + std::to_string(result);
}

// The library's descriptive text for a result code (ZRResultText).
inline std::string resultText(int result) { return ZRResultText(result); }

// A failed call: the result code of the export, its name and text, and the
// export that returned it. what() reads
// "ZRPowerQuery: ZR_ERR_NO_REPLY (-4): no valid reply from the reader within the tries".
class Error : public std::runtime_error {
public:
    Error(int code, std::string operation)
        : std::runtime_error(operation + ": " + resultName(code) + " (" + std::to_string(code) +
                             "): " + ZRResultText(code)),
          code_(code),
          operation_(std::move(operation)) {}

    int code() const noexcept { return code_; }
    std::string name() const { return resultName(code_); }
    std::string text() const { return ZRResultText(code_); }
    const std::string& operation() const noexcept { return operation_; }
    std::optional<uint8_t> readerStatus() const { return readerStatusOf(code_); }

private:
    int code_;
    std::string operation_;
};

// ---- Byte views ----------------------------------------------------------------

// Read-only bytes: pointer and size, or any contiguous byte container.
class ByteView {
public:
    constexpr ByteView() noexcept = default;
    constexpr ByteView(const uint8_t* data, size_t size) noexcept : data_(data), size_(size) {}
    ByteView(const Bytes& bytes) noexcept : data_(bytes.data()), size_(bytes.size()) {}
    template <size_t N>
    constexpr ByteView(const std::array<uint8_t, N>& bytes) noexcept : data_(bytes.data()), size_(N) {}

    constexpr const uint8_t* data() const noexcept { return data_; }
    constexpr size_t size() const noexcept { return size_; }
    constexpr bool empty() const noexcept { return size_ == 0; }

private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

namespace detail {

// A buffer the C exports may write through even when no byte is expected.
inline uint8_t* writable(Bytes& bytes) {
    static uint8_t spare[1];
    return bytes.empty() ? spare : bytes.data();
}
inline const uint8_t* readable(ByteView bytes) {
    static const uint8_t spare[1] = {0};
    return bytes.empty() ? spare : bytes.data();
}

inline void require(int result, const char* operation) {
    if (result != ZR_OK) throw Error(result, operation);
}

// Send-only exports: the positive send count, else an Error.
inline int requireSent(int result, const char* operation) {
    if (result <= 0) throw Error(result, operation);
    return result;
}

// Report exports: 1 → true, 0 → false (no report waiting), else an Error.
inline bool requireReport(int result, const char* operation) {
    if (result == ZR_NOTHING) return false;
    require(result, operation);
    return true;
}

// A byte count as the C exports take it; ZR_ERR_LENGTH when it does not fit.
inline int byteCount(size_t size, size_t limit, const char* operation) {
    if (size > limit) throw Error(ZR_ERR_LENGTH, operation);
    return static_cast<int>(size);
}

// The 16-bit word count of word data; ZR_ERR_LENGTH for an odd byte count.
inline int wordCount(ByteView data, const char* operation) {
    if (data.size() % 2 != 0) throw Error(ZR_ERR_LENGTH, operation);
    return byteCount(data.size() / 2, 255, operation);
}

// Output of a report that holds a whole packet from its length field on:
// length field + 2 bytes.
inline Bytes wholePacket(const uint8_t* out) {
    const size_t length = static_cast<size_t>(out[0]) * 256 + out[1] + 2;
    return Bytes(out, out + std::min<size_t>(length, 256));
}

}  // namespace detail

// A reader-initiated message taken by listenReader.
struct ListenMessage {
    std::array<uint8_t, 6> info{};
    std::array<uint8_t, 8> first{};
    std::array<uint8_t, 8> second{};
};

// ---- Process-wide settings -------------------------------------------------------

// Selects the status mapping by family code (500, 600 or 800); throws
// ZR_ERR_FAMILY for any other code. Process-wide: governs every handle.
inline void setDeviceClass(int familyCode) {
    detail::require(ZRSetDeviceClass(ZR_CLOSED_HANDLE, familyCode), "ZRSetDeviceClass");
}

// One trace event: a protected packet (packet and CRC) sent or received.
struct TraceEvent {
    bool sent;          // false: received
    const char* link;   // "Serial", "USB" or "TCP"
    ByteView bytes;
};

// Receives every packet on every link while it lives (ZRSetTraceCallback).
// One at a time: a newer one replaces the older, and destroying the newer
// turns the callback off. `Handler` is any callable taking const TraceEvent&;
// it runs on the thread of the call, under the library's trace lock.
template <class Handler>
class TraceSubscription {
public:
    explicit TraceSubscription(Handler handler) : handler_(std::move(handler)) {
        ZRSetTraceCallback(&TraceSubscription::deliver, this);
    }
    ~TraceSubscription() { ZRSetTraceCallback(nullptr, nullptr); }
    TraceSubscription(const TraceSubscription&) = delete;
    TraceSubscription& operator=(const TraceSubscription&) = delete;

private:
    Handler handler_;

    static void ZR_CALL deliver(void* user, int direction, const char* link, const unsigned char* bytes,
                                int length) {
        auto* self = static_cast<TraceSubscription*>(user);
        self->handler_(TraceEvent{direction == 0, link, ByteView(bytes, length > 0 ? size_t(length) : 0)});
    }
};

// ---- A port handle -----------------------------------------------------------------

// The exports over an open port handle that this object does not own (for
// instance one opened by C code). zr::Reader below owns and closes its own.
class Port {
public:
    explicit Port(int handle = ZR_CLOSED_HANDLE) noexcept : port_(handle) {}

    int handle() const noexcept { return port_; }
    bool isOpen() const noexcept { return port_ != ZR_CLOSED_HANDLE; }

    // ---- Basic commands

    // ZRReset: the send count.
    int reset() { return detail::requireSent(ZRReset(port_), "ZRReset"); }
    // ZRIdentify: starts an inventory; the send count.
    int identify(int param1, int param2) {
        return detail::requireSent(ZRIdentify(port_, param1, param2), "ZRIdentify");
    }
    // ZRReport: one inventory report (status byte and data); nullopt when none is waiting.
    std::optional<Bytes> report() { return statusAndData(ZRReport, "ZRReport"); }
    // ZRDirectRead: starts a direct read; the send count.
    int directRead(int param1, int param2) {
        return detail::requireSent(ZRDirectRead(port_, param1, param2), "ZRDirectRead");
    }
    // ZRDirectReport: one direct-read report; nullopt when none is waiting.
    std::optional<Bytes> directReport() { return statusAndData(ZRDirectReport, "ZRDirectReport"); }

    // ---- Extended inventories

    int longIdentify(int param1, int param2, int param3) {
        return detail::requireSent(ZRLongIdentify(port_, param1, param2, param3), "ZRLongIdentify");
    }
    // ZRLongReport: status byte (0) and data; nullopt when none is waiting.
    std::optional<Bytes> longReport() { return statusAndData(ZRLongReport, "ZRLongReport"); }
    int userIdentify(int param1, int param2, int param3, int param4, int param5, int param6) {
        return detail::requireSent(ZRUserIdentify(port_, param1, param2, param3, param4, param5, param6),
                                   "ZRUserIdentify");
    }
    std::optional<Bytes> userReport() { return statusAndData(ZRUserReport, "ZRUserReport"); }
    int identifyEpcCode(int param1, int param2, int param3) {
        return detail::requireSent(ZRIdentifyEpcCode(port_, param1, param2, param3), "ZRIdentifyEpcCode");
    }
    // ZREpcCodeReport: the whole report packet without its CRC (length field, code, status, data).
    std::optional<Bytes> epcCodeReport() { return packetReport(ZREpcCodeReport, "ZREpcCodeReport"); }
    int identifyTidCode(int param1, int param2, int param3, const std::array<uint8_t, 4>& extra) {
        return detail::requireSent(ZRIdentifyTIDCode(port_, param1, param2, param3, extra.data()),
                                   "ZRIdentifyTIDCode");
    }
    std::optional<Bytes> tidCodeReport() { return packetReport(ZRTIDCodeReport, "ZRTIDCodeReport"); }

    // ---- Tag memory

    // ZRReadUserData: `count` (0..255) bytes of user memory, read in 64-byte pieces.
    Bytes readUserData(int lead, int address, int count, const TagId& tagId) {
        return readCount(ZRReadUserData, lead, address, count, tagId, "ZRReadUserData");
    }
    // ZRReadUserDataOnce: `count` bytes in one command.
    Bytes readUserDataOnce(int lead, int address, int count, const TagId& tagId) {
        return readCount(ZRReadUserDataOnce, lead, address, count, tagId, "ZRReadUserDataOnce");
    }
    // ZRWriteUserData: writes the data (8..224 bytes area) in 32-byte pieces.
    void writeUserData(int lead, int address, const TagId& tagId, ByteView data) {
        const int count = detail::byteCount(data.size(), 255, "ZRWriteUserData");
        detail::require(ZRWriteUserData(port_, lead, address, tagId.data(), detail::readable(data), count),
                        "ZRWriteUserData");
    }
    // ZRWriteUserDataOnce: writes at most 242 bytes in one command.
    void writeUserDataOnce(int lead, int address, const TagId& tagId, ByteView data) {
        const int count = detail::byteCount(data.size(), 255, "ZRWriteUserDataOnce");
        detail::require(ZRWriteUserDataOnce(port_, lead, address, tagId.data(), detail::readable(data), count),
                        "ZRWriteUserDataOnce");
    }
    // ZRLockUserData: locks `count` bytes from `address` (a result of 0, not sent, is an error).
    void lockUserData(int address, int lead, const TagId& tagId, int count) {
        detail::require(ZRLockUserData(port_, address, lead, tagId.data(), count), "ZRLockUserData");
    }
    // ZRReadUserDataEPC: 2 * words + 5 bytes (length field, 0x84, status, one byte, the data).
    Bytes readUserDataEpc(const Password& password, int address, int words, int lead) {
        if (words < 0 || words > 255) throw Error(ZR_ERR_LENGTH, "ZRReadUserDataEPC");
        Bytes out(2 * static_cast<size_t>(words) + 5);
        detail::require(ZRReadUserDataEPC(port_, password.data(), address, words, lead, out.data()),
                        "ZRReadUserDataEPC");
        return out;
    }

    // ---- EPC code and use data

    // ZRSetEpcCode: writes the EPC (even byte count; its word count is sent).
    void setEpcCode(int lead, const Password& password, int epcLength, ByteView epc) {
        const int words = detail::wordCount(epc, "ZRSetEpcCode");
        detail::require(ZRSetEpcCode(port_, lead, password.data(), epcLength, words, detail::readable(epc)),
                        "ZRSetEpcCode");
    }
    // ZRGetUseData: starts a use-data read; the send count.
    int getUseData(const Password& password, int address, int words, int lead) {
        return detail::requireSent(ZRGetUseData(port_, password.data(), address, words, lead), "ZRGetUseData");
    }
    // ZRGetUseDataReport: the whole reply without CRC; ZR_ERR_NO_REPLY when it has not arrived.
    Bytes getUseDataReport() {
        uint8_t out[256] = {};
        detail::require(ZRGetUseDataReport(port_, out), "ZRGetUseDataReport");
        return detail::wholePacket(out);
    }
    // ZRSetUseData: writes word data (even byte count) from `address`.
    void setUseData(int lead, const Password& password, int address, ByteView data) {
        const int words = detail::wordCount(data, "ZRSetUseData");
        detail::require(ZRSetUseData(port_, lead, password.data(), address, words, detail::readable(data)),
                        "ZRSetUseData");
    }

    // ---- Passwords, locking and destruction

    void setVisitPassword(int lead, const Password& password, const Password& newPassword) {
        detail::require(ZRSetVisitPWD(port_, lead, password.data(), newPassword.data()), "ZRSetVisitPWD");
    }
    void setDestroyPassword(int lead, const Password& password, const Password& newPassword) {
        detail::require(ZRSetDestroyPWD(port_, lead, password.data(), newPassword.data()), "ZRSetDestroyPWD");
    }
    // ZRSetDataLocked: lockFlag 0 or 1, lockSelector 0..5.
    void setDataLocked(int lead, const Password& password, int lockFlag, int lockSelector) {
        detail::require(ZRSetDataLocked(port_, lead, password.data(), lockFlag, lockSelector), "ZRSetDataLocked");
    }
    // ZRSetDestroyTag: destroys the tag; `data` is word data (even byte count).
    void setDestroyTag(int lead, const Password& password, ByteView data = {}) {
        const int words = detail::wordCount(data, "ZRSetDestroyTag");
        detail::require(ZRSetDestroyTag(port_, lead, password.data(), words, detail::readable(data)),
                        "ZRSetDestroyTag");
    }

    // ---- Selection and data return

    void dataReturn(int lead, int value) { detail::require(ZRDataReturn(port_, lead, value), "ZRDataReturn"); }
    void selectTag(int lead, int param1, int param2, const TagId& tagId) {
        detail::require(ZRSelectTag(port_, lead, param1, param2, tagId.data()), "ZRSelectTag");
    }
    void selectTagEpc(int lead, int param1, int param2, ByteView epc) {
        const int count = detail::byteCount(epc.size(), 255, "ZRSelectTagEPC");
        detail::require(ZRSelectTagEPC(port_, lead, param1, param2, detail::readable(epc), count),
                        "ZRSelectTagEPC");
    }

    // ---- Power, RF and frequency

    void powerOn(int value) { detail::require(ZRPowerOn(port_, value), "ZRPowerOn"); }
    void powerOff() { detail::require(ZRPowerOff(port_), "ZRPowerOff"); }
    // ZRFreqQuery: the first 54 bytes of the reply (length field, code, status, 50 bytes).
    std::array<uint8_t, 54> freqQuery(int address, int len = 0) {
        std::array<uint8_t, 54> out{};
        detail::require(ZRFreqQuery(port_, address, len, out.data()), "ZRFreqQuery");
        return out;
    }
    // ZRPowerSet: the two power bytes.
    void powerSet(int byte1, int byte2) { detail::require(ZRPowerSet(port_, 0, 2, byte1, byte2), "ZRPowerSet"); }
    // ZRPowerQuery: `len` (0..52) bytes of the power setting.
    Bytes powerQuery(int len = 2) {
        Bytes out(static_cast<size_t>(len > 0 && len <= 52 ? len : 0));
        detail::require(ZRPowerQuery(port_, 0, len, detail::writable(out)), "ZRPowerQuery");
        return out;
    }

    // ---- System and tag parameters

    // ZRSysQuery: `len` (0..52) bytes of system parameters from `address`.
    Bytes sysQuery(int address, int len) { return query(ZRSysQuery, address, len, 52, "ZRSysQuery"); }
    // ZRTagQuery: `len` (0..252) bytes of tag parameters from `address`.
    Bytes tagQuery(int address, int len) { return query(ZRTagQuery, address, len, 252, "ZRTagQuery"); }
    // ZRSysSet: one command per byte from the 16-bit `address` (serial and USB only).
    void sysSet(int address, ByteView data) { set(ZRSysSet, address, data, 52, "ZRSysSet"); }
    void sysFastSet(int address, ByteView data) { set(ZRSysFastSet, address, data, 52, "ZRSysFastSet"); }
    void tagFastSet(int address, ByteView data) { set(ZRTagFastSet, address, data, 251, "ZRTagFastSet"); }

    // ---- I/O, MAC and network address

    void ioControlSet(int value, int value2) {
        detail::require(ZRIOControlSet(port_, value, value2), "ZRIOControlSet");
    }
    uint8_t ioControlQuery(int value) {
        uint8_t out = 0;
        detail::require(ZRIOControlQuery(port_, value, &out), "ZRIOControlQuery");
        return out;
    }
    void macSet(ByteView mac) {
        const int len = detail::byteCount(mac.size(), 52, "ZRMACSet");
        detail::require(ZRMACSet(port_, 0, len, detail::readable(mac)), "ZRMACSet");
    }
    // ZRNetAddrSet: sets the reader's addresses and records them under `section` of the
    // configuration file; every failure is ZR_NOTHING (0).
    void netAddrSet(const std::string& section, const std::string& host, const std::string& subnet,
                    const std::string& gate) {
        detail::require(ZRNetAddrSet(port_, 0, section.c_str(), host.c_str(), subnet.c_str(), gate.c_str()),
                        "ZRNetAddrSet");
    }
    // ZRCodeSending: sends the code bytes three times; the last answer counts.
    void codeSending(ByteView code) {
        const int len = detail::byteCount(code.size(), 253, "ZRCodeSending");
        detail::require(ZRCodeSending(port_, len, 0, detail::readable(code)), "ZRCodeSending");
    }

    // ---- Device class, test mode, read configuration, interference

    // ZRGetDeviceClass: the four bytes of the reader's answer, in reply order.
    std::array<uint8_t, 4> getDeviceClass() {
        int value = 0;
        detail::require(ZRGetDeviceClass(port_, &value), "ZRGetDeviceClass");
        std::array<uint8_t, 4> out{};
        std::memcpy(out.data(), &value, 4);
        return out;
    }
    // ZRSetDeviceClass (process-wide; the handle is not used).
    void setDeviceClass(int familyCode) {
        detail::require(ZRSetDeviceClass(port_, familyCode), "ZRSetDeviceClass");
    }
    void testModeSet(int value) { detail::require(ZRTestModeSet(port_, value), "ZRTestModeSet"); }
    void setReadCfg(int value, int value2) { detail::require(ZRSetReadCfg(port_, value, value2), "ZRSetReadCfg"); }
    void setInterfere(const std::array<uint8_t, 2>& setting) {
        detail::require(ZRSetInterfere(port_, setting.data()), "ZRSetInterfere");
    }
    std::array<uint8_t, 2> getInterfere() {
        std::array<uint8_t, 2> out{};
        detail::require(ZRGetInterfere(port_, out.data()), "ZRGetInterfere");
        return out;
    }
    void closeInterfere() { detail::require(ZRCloseInterfere(port_), "ZRCloseInterfere"); }

    // ---- Reader state, clock, fixed number, upgrade, listening

    void epcPrintPowerOs(int value) { detail::require(ZREpcPrintPowerOs(port_, value), "ZREpcPrintPowerOs"); }
    std::array<uint8_t, 6> getReaderState(int value) {
        std::array<uint8_t, 6> out{};
        detail::require(ZRGetReaderState(port_, value, out.data()), "ZRGetReaderState");
        return out;
    }
    // ZRSetReaderTime: six time bytes, sent in the given order, and the extra byte.
    void setReaderTime(int extra, const std::array<uint8_t, 6>& time) {
        detail::require(ZRSetReaderTime(port_, extra, time.data()), "ZRSetReaderTime");
    }
    void setReaderFixNo(int number) { detail::require(ZRSetReaderfixNO(port_, number), "ZRSetReaderfixNO"); }
    // ZRGetReaderfixNO: queries the fixed number and returns only whether the reader answered.
    void getReaderFixNo() { detail::require(ZRGetReaderfixNO(port_, 0), "ZRGetReaderfixNO"); }
    // ZRGetReaderfixNOEx: the fixed number's bytes.
    Bytes readerFixNo() {
        Bytes out(250);
        int length = 0;
        detail::require(ZRGetReaderfixNOEx(port_, out.data(), static_cast<int>(out.size()), &length),
                        "ZRGetReaderfixNOEx");
        out.resize(static_cast<size_t>(length));
        return out;
    }
    // ZRUpGrade: the send count; no reply is read.
    int upGrade() { return detail::requireSent(ZRUpGrade(port_), "ZRUpGrade"); }
    // ZRListenReader: one message the reader sent on its own; nullopt when none
    // acceptable arrived. The message is acknowledged either way.
    std::optional<ListenMessage> listenReader() {
        ListenMessage m;
        if (!detail::requireReport(ZRListenReader(port_, 0, m.info.data(), m.first.data(), m.second.data()),
                                   "ZRListenReader"))
            return std::nullopt;
        return m;
    }

    // ---- EAS alarm and EU tests

    void configEasFlag(int value, const std::array<uint8_t, 4>& flag, int tail) {
        detail::require(ZRConfigEASflag(port_, value, flag.data(), tail), "ZRConfigEASflag");
    }
    // ZRStartEASAlarm: 1, or the send count when the reader's reply carried no status.
    int startEasAlarm(int value) {
        const int result = ZRStartEASAlarm(port_, value);
        if (result <= 0 || result > 258) throw Error(result, "ZRStartEASAlarm");  // send counts stay below 259
        return result;
    }
    // ZREASAlarmReport: true when an alarm message with status 0 was waiting.
    bool easAlarmReport() { return detail::requireReport(ZREASAlarmReport(port_), "ZREASAlarmReport"); }
    void endEasAlarm(int value) { detail::require(ZREndEASAlarm(port_, value), "ZREndEASAlarm"); }
    // ZREUDoorTest: `len` (0..52) reply data bytes.
    Bytes euDoorTest(int value, int len, int mode) {
        Bytes out(static_cast<size_t>(len > 0 && len <= 52 ? len : 0));
        detail::require(ZREUDoorTest(port_, value, len, mode, detail::writable(out)), "ZREUDoorTest");
        return out;
    }
    void euFreqTest(int value, ByteView data) {
        const int len = detail::byteCount(data.size(), 52, "ZREUFreqTest");
        detail::require(ZREUFreqTest(port_, value, len, detail::readable(data)), "ZREUFreqTest");
    }

    // ---- Tag and time filters

    void setTagFilter(const std::array<uint8_t, 12>& first, const std::array<uint8_t, 12>& second) {
        detail::require(ZRSetTagFilter(port_, first.data(), second.data()), "ZRSetTagFilter");
    }
    void cancelTagFilter() { detail::require(ZRCancelTagFilter(port_), "ZRCancelTagFilter"); }
    void setTimeFilter(const std::array<uint8_t, 2>& time) {
        detail::require(ZRSetTimeFilter(port_, time.data()), "ZRSetTimeFilter");
    }
    void cancelTimeFilter() { detail::require(ZRCancelTimeFilter(port_), "ZRCancelTimeFilter"); }

protected:
    int port_;

private:
    using ReportFn = int(ZR_CALL*)(int, unsigned char*);

    // A report whose output is the status byte and data: length field - 1 bytes.
    std::optional<Bytes> statusAndData(ReportFn fn, const char* operation) {
        uint8_t out[256] = {};
        if (!detail::requireReport(fn(port_, out), operation)) return std::nullopt;
        const int length = ZRLastReplyLength();
        return Bytes(out, out + (length >= 1 && length <= 256 ? length - 1 : 0));
    }
    // A report whose output is the whole packet without CRC.
    std::optional<Bytes> packetReport(ReportFn fn, const char* operation) {
        uint8_t out[256] = {};
        if (!detail::requireReport(fn(port_, out), operation)) return std::nullopt;
        return detail::wholePacket(out);
    }

    using ReadFn = int(ZR_CALL*)(int, int, int, int, const unsigned char*, unsigned char*);
    Bytes readCount(ReadFn fn, int lead, int address, int count, const TagId& tagId, const char* operation) {
        if (count < 0 || count > 255) throw Error(ZR_ERR_LENGTH, operation);
        Bytes out(static_cast<size_t>(count));
        detail::require(fn(port_, lead, address, count, tagId.data(), detail::writable(out)), operation);
        return out;
    }

    using QueryFn = int(ZR_CALL*)(int, int, int, unsigned char*);
    Bytes query(QueryFn fn, int address, int len, int limit, const char* operation) {
        if (len < 0 || len > limit) throw Error(ZR_ERR_LENGTH, operation);
        Bytes out(static_cast<size_t>(len));
        detail::require(fn(port_, address, len, detail::writable(out)), operation);
        return out;
    }

    using SetFn = int(ZR_CALL*)(int, int, int, const unsigned char*);
    void set(SetFn fn, int address, ByteView data, size_t limit, const char* operation) {
        const int len = detail::byteCount(data.size(), limit, operation);
        detail::require(fn(port_, address, len, detail::readable(data)), operation);
    }
};

// ---- The owning reader ------------------------------------------------------------

// A reader opened with ZROpen from a configuration file section, closed by
// the destructor. Move-only. A moved-from or closed Reader holds no handle;
// calls on it throw ZR_CLOSED.
class Reader : public Port {
public:
    Reader() noexcept = default;
    // ZROpen: throws Error with ZR_ERR_CONFIG, ZR_ERR_OPEN, ZR_ERR_CONNECT_TIMEOUT, ZR_NOTHING, ...
    Reader(const std::string& configPath, const std::string& section) {
        int handle = ZR_CLOSED_HANDLE;
        const int result = ZROpen(&handle, configPath.c_str(), section.c_str());
        if (result != ZR_OK) throw Error(result, "ZROpen");
        port_ = handle;
    }
    ~Reader() {
        if (isOpen()) ZRClose(&port_);  // a destructor cannot report; close() does
    }
    Reader(Reader&& other) noexcept : Port(std::exchange(other.port_, ZR_CLOSED_HANDLE)) {}
    Reader& operator=(Reader&& other) noexcept {
        if (this != &other) {
            if (isOpen()) ZRClose(&port_);
            port_ = std::exchange(other.port_, ZR_CLOSED_HANDLE);
        }
        return *this;
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // ZRClose: closes now; throws ZR_ERR_CLOSE (or ZR_NOTHING for an unknown
    // port type) when the link could not be closed. The Reader then keeps its
    // handle, still open, so close() can be called again (the destructor makes
    // one last attempt). Nothing happens when closed.
    void close() {
        if (!isOpen()) return;
        const int result = ZRClose(&port_);
        if (result == ZR_CLOSED) port_ = ZR_CLOSED_HANDLE;  // the library no longer knows it
        if (result != ZR_OK && result != ZR_CLOSED) throw Error(result, "ZRClose");
    }

    // Gives up ownership: returns the handle, which the caller then closes.
    int release() noexcept { return std::exchange(port_, ZR_CLOSED_HANDLE); }
};

}  // namespace zr
