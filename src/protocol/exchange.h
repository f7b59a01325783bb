// The command exchange that every export shares.
//
// An export reads like a row of its command table:
//
//     extern "C" ZR_API int ZR_CALL ZRPowerOn(int port, int value) {
//         return withCall(port, [&](Call& call) {
//             call.flush();
//             return call.command(Packet(0x60).byte(value), {.tries = call.writeTries(), .pauseMs = 10},
//                                 {.lengthCheck = true});
//         });
//     }
//
// withCall() is the frame: it refuses a closed or unknown port handle, holds
// the handle's call lock for the whole call and hands the export a Call
// bound to the link that the configured port type selects. Packet builds the
// Command packet; Call::sendOnly, Call::receiveOnce and Call::poll are the
// three exchange shapes; Call::command and judge() apply the usual acceptance
// checks and the status mapping; startCommand is a whole starting export.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "connection/process_state.h"
#include "link/link.h"
#include "protocol/status.h"
#include "zrreader.h"

namespace zr {

// A Command packet: length field (big-endian, the bytes after it), command
// code, parameters. The length field follows the bytes added.
class Packet {
public:
    static constexpr int kCapacity = 256;

    explicit Packet(uint8_t code) {
        bytes_[2] = code;
        setSize(3);
    }

    // Appends one parameter byte (the low 8 bits of `value`).
    Packet& byte(int value) {
        if (size_ < kCapacity) {
            bytes_[size_] = static_cast<uint8_t>(value);
            setSize(size_ + 1);
        }
        return *this;
    }

    // Appends `length` bytes from `data` (callers check the length first).
    Packet& bytes(const uint8_t* data, size_t length) {
        if (length > static_cast<size_t>(kCapacity - size_)) length = kCapacity - size_;
        if (length > 0) std::memcpy(bytes_ + size_, data, length);
        setSize(size_ + static_cast<int>(length));
        return *this;
    }

    uint8_t code() const { return bytes_[2]; }
    const uint8_t* data() const { return bytes_; }
    // Bytes handed to the link: the length field + 2.
    int size() const { return size_; }

private:
    uint8_t bytes_[kCapacity] = {};
    int size_ = 0;

    void setSize(int size) {
        size_ = size;
        bytes_[0] = static_cast<uint8_t>((size - 2) >> 8);
        bytes_[1] = static_cast<uint8_t>(size - 2);
    }
};

// A received protected packet: the Response packet and its two CRC bytes.
// Zeroed for every call, so nothing of an earlier reply can reach a caller.
struct Reply {
    uint8_t bytes[256] = {};
    int count = 0;  // what the link's receive returned

    int lengthField() const { return 256 * bytes[0] + bytes[1]; }
    uint8_t code() const { return bytes[2]; }
    uint8_t status() const { return bytes[3]; }
    // Count of at least 6 that echoes `code`: the stop rule of a polled exchange.
    bool echoes(uint8_t expected) const { return count >= 6 && bytes[2] == expected; }
    // The count is the length field + 4.
    bool lengthMatches() const { return count == lengthField() + 4; }
};

// Parameters of a polled exchange.
struct Poll {
    int tries;                // read tries or write tries of the reader settings, or 1
    int pauseMs;              // pause before every try
    int tcpMinimum = 4;       // TCP receive minimum (the link refuses fewer than minimum + 2 bytes)
    bool stopOnEcho = true;   // leave at a count >= 6 echoing the code; false: at any count >= 6
};

// Checks after a polled exchange, in the usual order: no echo → noReply;
// where lengthCheck applies, count ≠ length field + 4 → noReply; then the
// status mapping (1 on status 0).
struct Judge {
    bool lengthCheck = false;
    int noReply = ZR_ERR_NO_REPLY;
};
int judge(const Reply& reply, uint8_t code, const Judge& rules = {});

// One call of an export on an open port handle.
class Call {
public:
    Call(std::shared_ptr<OpenHandle> handle, std::shared_ptr<const config::ReaderSettings> settings)
        : handle_(std::move(handle)), settings_(std::move(settings)) {}

    link::Link& link() { return *handle_->link; }
    const config::ReaderSettings& settings() const { return *settings_; }
    int readTries() const { return settings_->readTries; }
    int writeTries() const { return settings_->writeTries; }
    link::LinkKind kind() const { return handle_->link->kind(); }

    // The flush on entry or exit (nothing on TCP).
    void flush() { link().flush(); }
    void pause(int ms) { link().pause(ms); }

    // Send-only exchange: sends once, returns the send count.
    int sendOnly(const Packet& request);

    // Single exchange: receives once, without sending. Serial and USB skip
    // replies whose code is not `code`; TCP takes the next packet of at least
    // `tcpMinimum` + 2 bytes. Returns the count (also left in reply.count).
    int receiveOnce(Reply& reply, uint8_t code, int tcpMinimum);

    // Polled exchange: sends once, then awaitReply. Returns the send count
    // (most exports ignore it). `reply` holds the last try.
    int poll(const Packet& request, const Poll& poll, Reply& reply);

    // The receiving half of a polled exchange: up to `poll.tries` times, pause
    // and receive into `reply` until the stop rule holds for `code`.
    void awaitReply(uint8_t code, const Poll& poll, Reply& reply);

    // The usual polled command: poll, then judge() the last reply with `rules`.
    // No output is copied; exports with outputs copy them on a result of 1.
    int command(const Packet& request, const Poll& poll, const Judge& rules = {});

private:
    std::shared_ptr<OpenHandle> handle_;
    std::shared_ptr<const config::ReaderSettings> settings_;
};

// A starting export: flush, send `request` once, return the send count
// (0 when nothing went out).
int startCommand(int port, const Packet& request);

// Resolves `port` to its open handle on the link the configured port type
// selects and runs `body` with a Call while holding the handle's call lock.
// Returns `closedResult` (ZR_CLOSED unless the export says otherwise) for
// port -1, a handle the library did not open or has closed, and a handle
// opened on another link.
template <class Body>
int withCall(int port, Body&& body, int closedResult = ZR_CLOSED);

// Copies `length` bytes from `reply` at `offset` to `out` (nothing when
// length <= 0).
void copyOut(const Reply& reply, int offset, int length, uint8_t* out);

// Copies `length` bytes of the Response packet in `reply` from `offset` to
// `out`, writing 0 for positions past the end of the packet (its CRC bytes,
// and whatever an earlier, longer try left in the buffer): a reply shorter
// than the caller's fixed-size output never passes CRC or stale bytes off as
// data.
void copyPacketData(const Reply& reply, int offset, int length, uint8_t* out);

// ---- implementation of withCall ------------------------------------------------

// Forgets what the previous call on this thread received (ZRLastReplyLength).
void beginCall();
std::shared_ptr<OpenHandle> resolveHandle(int port, std::shared_ptr<const config::ReaderSettings>& settings);

template <class Body>
int withCall(int port, Body&& body, int closedResult) {
    beginCall();
    if (port == ZR_CLOSED_HANDLE) return closedResult;
    std::shared_ptr<const config::ReaderSettings> settings;
    std::shared_ptr<OpenHandle> handle = resolveHandle(port, settings);
    if (!handle || handle->closing.load() > 0) return closedResult;
    std::lock_guard<std::mutex> lock(handle->callLock);
    if (handle->closed) return closedResult;
    Call call(std::move(handle), std::move(settings));
    return body(call);
}

}  // namespace zr
